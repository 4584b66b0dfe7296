// A whole package_manager::resolve of the workload's request, with the
// catalog imported and the store filled beforehand (not timed): the
// rescan of the installed software, the dependency stage with every look-up
// and log line, and the conflict stage.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "bench_host.hpp"

namespace {

using tarvik::ox_bench::bench_host;
using tarvik::ox_bench::cached_workload;
using tarvik::ox_bench::lookup_mode;
using tarvik::ox_bench::size_by_index;
using tarvik::ox_bench::size_name;
using tarvik::ox_bench::to_software;
using tarvik::ox_bench::workload;

void check_passed(benchmark::State& state, const bench_host& host,
                  const std::vector<tarvik::ox::installing_software>& resolved, const workload& w) {
  if (resolved.size() != w.installed.size() + w.request.size() ||
      host.package->is_incompatible(resolved)) {
    state.SkipWithError("the workload's request did not pass");
  }
}

void label(benchmark::State& state) {
  state.SetLabel(std::string(size_name(state.range(0))) + (state.range(1) != 0 ? "+patterns" : "") +
                 (state.range(2) == 0 ? " plain" : " indexed"));
}

// Arguments: size (0 small, 1 large, 2 huge, 3 the large request against the
// huge catalog), patterns (0 or 1), mode (0 plain, 1 indexed). The same managers serve every
// iteration, as in an agent that keeps its catalog between requests.
void BM_resolve(benchmark::State& state) {
  static std::map<std::tuple<long, long, long>, std::unique_ptr<bench_host>> hosts;
  const workload& w = cached_workload(size_by_index(state.range(0)), state.range(1) != 0);
  std::unique_ptr<bench_host>& host = hosts[{state.range(0), state.range(1), state.range(2)}];
  if (host == nullptr) {
    host = std::make_unique<bench_host>(state.range(2) == 0 ? lookup_mode::plain
                                                            : lookup_mode::indexed);
    host->load(w);
  }
  const std::vector<tarvik::ox::software> request = to_software(w.request);
  std::vector<tarvik::ox::installing_software> resolved;
  for (auto _ : state) {
    resolved = host->resolve(request);
  }
  check_passed(state, *host, resolved, w);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(request.size()));
  label(state);
}
BENCHMARK(BM_resolve)
    ->ArgNames({"size", "patterns", "mode"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}, {1}})
    ->Args({0, 0, 0})
    ->Args({0, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The first resolution after a fresh import: whatever the managers build on
// first use is paid here. The import itself is not timed.
void BM_resolve_first(benchmark::State& state) {
  const workload& w = cached_workload(size_by_index(state.range(0)), state.range(1) != 0);
  const std::vector<tarvik::ox::software> request = to_software(w.request);
  for (auto _ : state) {
    state.PauseTiming();
    {
      bench_host host(lookup_mode::indexed);
      host.load(w);
      state.ResumeTiming();
      const std::vector<tarvik::ox::installing_software> resolved = host.resolve(request);
      state.PauseTiming();
      check_passed(state, host, resolved, w);
    }
    state.ResumeTiming();
  }
  label(state);
}
BENCHMARK(BM_resolve_first)
    ->ArgNames({"size", "patterns", "mode"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

double median_of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The large request (M=2,000, K=500) against the large catalog (N=20,000) and
// against the huge one (N=100,000), in alternating blocks within one loop, so
// that both are timed across the same moments of a machine whose speed
// drifts: how resolve time (import excluded) grows with the catalog at fixed M
// and K. Within a block the same managers resolve again and again, as for
// BM_resolve; the first resolution of each block, which finds the caches
// holding the other catalog, is not counted. The counters are the medians of
// the counted resolutions and their ratio.
void BM_resolve_growth(benchmark::State& state) {
  using clock = std::chrono::steady_clock;
  constexpr int kBlock = 8;
  const bool patterns = state.range(0) != 0;
  const workload& large = cached_workload(size_by_index(1), patterns);
  const workload& huge_catalog = cached_workload(size_by_index(3), patterns);
  static std::map<long, std::pair<std::unique_ptr<bench_host>, std::unique_ptr<bench_host>>> hosts;
  auto& pair = hosts[state.range(0)];
  if (pair.first == nullptr) {
    pair.first = std::make_unique<bench_host>();
    pair.first->load(large);
    pair.second = std::make_unique<bench_host>();
    pair.second->load(huge_catalog);
  }
  const std::vector<tarvik::ox::software> large_request = to_software(large.request);
  const std::vector<tarvik::ox::software> huge_request = to_software(huge_catalog.request);
  std::vector<double> times[2];
  std::vector<tarvik::ox::installing_software> resolved[2];
  bench_host* const host[2] = {pair.first.get(), pair.second.get()};
  const std::vector<tarvik::ox::software>* const request[2] = {&large_request, &huge_request};
  long count = 0;
  for (auto _ : state) {
    const int which = static_cast<int>((count / kBlock) % 2);
    const clock::time_point start = clock::now();
    resolved[which] = host[which]->resolve(*request[which]);
    const double ms = std::chrono::duration<double, std::milli>(clock::now() - start).count();
    if (count % kBlock != 0) {
      times[which].push_back(ms);
    }
    ++count;
  }
  if (times[0].empty() || times[1].empty()) {
    state.SkipWithError("too few iterations to time both catalogs");
    return;
  }
  check_passed(state, *pair.first, resolved[0], large);
  check_passed(state, *pair.second, resolved[1], huge_catalog);
  const double large_median = median_of(times[0]);
  const double huge_median = median_of(times[1]);
  state.counters["large_ms"] = large_median;
  state.counters["huge_catalog_ms"] = huge_median;
  state.counters["growth_pct"] = (huge_median / large_median - 1) * 100;
  state.SetLabel(patterns ? "patterns" : "");
}
BENCHMARK(BM_resolve_growth)
    ->ArgNames({"patterns"})
    ->Arg(0)
    ->Arg(1)
    ->Iterations(480)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// A whole package_manager::resolve of the workload's request, with the
// catalog imported and the store filled beforehand (not timed): the
// rescan of the installed software, the dependency stage with every look-up
// and log line, and the conflict stage.
#include <benchmark/benchmark.h>

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

}  // namespace

BENCHMARK_MAIN();

// The catalog look-ups, as the dependency stage asks them: by software
// (find), by id (find_id), a pattern against an id (find_software_id), and a
// management id against a software's pattern (find_orqid_in_spec). "plain" is
// the reference walk (every pattern compiled afresh, entries in list order),
// "indexed" the default.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
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

struct loaded {
  const workload* w = nullptr;
  std::unique_ptr<bench_host> host;
  std::vector<tarvik::ox::software> request;
};

// Arguments: size (0 small, 1 large), patterns (0 or 1), mode (0 plain, 1
// indexed). One imported host per combination, kept for the whole run.
loaded& setup(const benchmark::State& state) {
  static std::map<std::tuple<long, long, long>, loaded> hosts;
  const auto key = std::make_tuple(state.range(0), state.range(1), state.range(2));
  loaded& l = hosts[key];
  if (l.host == nullptr) {
    l.w = &cached_workload(size_by_index(state.range(0)), state.range(1) != 0);
    l.host = std::make_unique<bench_host>(state.range(2) == 0 ? lookup_mode::plain
                                                              : lookup_mode::indexed);
    l.host->load(*l.w);
    l.request = to_software(l.w->request);
    // The first look-up after an import may build what later ones use.
    benchmark::DoNotOptimize(l.host->spec->find(l.request.front()));
  }
  return l;
}

void label(benchmark::State& state) {
  state.SetLabel(std::string(size_name(state.range(0))) + (state.range(1) != 0 ? "+patterns" : "") +
                 (state.range(2) == 0 ? " plain" : " indexed"));
}

void BM_find(benchmark::State& state) {
  loaded& l = setup(state);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(l.host->spec->find(l.request[i++ % l.request.size()]));
  }
  state.SetItemsProcessed(state.iterations());
  label(state);
}

void BM_find_id(benchmark::State& state) {
  loaded& l = setup(state);
  const std::vector<std::string>& names = l.w->names;
  std::size_t i = 0;
  for (auto _ : state) {
    // Stride through the names so that consecutive look-ups land far apart.
    i = (i + 7919) % names.size();
    benchmark::DoNotOptimize(l.host->spec->find_id(names[i]));
  }
  state.SetItemsProcessed(state.iterations());
  label(state);
}

void BM_find_orqid_in_spec(benchmark::State& state) {
  loaded& l = setup(state);
  const std::vector<std::string>& names = l.w->names;
  std::size_t i = 0;
  for (auto _ : state) {
    i = (i + 7919) % names.size();
    benchmark::DoNotOptimize(l.host->spec->find_orqid_in_spec(names[i] + "_LEGACY", names[i]));
  }
  state.SetItemsProcessed(state.iterations());
  label(state);
}

void BM_find_software_id(benchmark::State& state) {
  loaded& l = setup(state);
  static const char* const kPatterns[] = {"p000123", "p000123|p000123_LEGACY", "p000123.*",
                                          "p000123|p000123-[0-9]+"};
  static const char* const kIds[] = {"p000123", "p000124", "p000123_LEGACY", "p000123-7"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(l.host->spec->find_software_id(kPatterns[i & 3], kIds[(i >> 2) & 3]));
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
  label(state);
}

#define OX_LOOKUP_BENCH(name)                  \
  BENCHMARK(name)                              \
      ->ArgNames({"size", "patterns", "mode"}) \
      ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})  \
      ->Unit(benchmark::kMicrosecond)

OX_LOOKUP_BENCH(BM_find);
OX_LOOKUP_BENCH(BM_find_id);
OX_LOOKUP_BENCH(BM_find_orqid_in_spec);
BENCHMARK(BM_find_software_id)
    ->ArgNames({"size", "patterns", "mode"})
    ->Args({0, 0, 0})
    ->Args({0, 0, 1})
    ->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();

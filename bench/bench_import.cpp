// Import of a catalog document: bytes of XML per second, from the
// buffer to the last entry appended (the host's XML parse included).
#include <benchmark/benchmark.h>

#include "bench_host.hpp"

namespace {

using tarvik::ox_bench::bench_host;
using tarvik::ox_bench::cached_workload;
using tarvik::ox_bench::size_by_index;
using tarvik::ox_bench::workload;

// Arguments: size (0 small, 1 large, 2 huge), patterns (0 or 1).
void BM_import(benchmark::State& state) {
  const workload& w = cached_workload(size_by_index(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    state.PauseTiming();
    {
      bench_host host;
      host.spec->set_platform(w.options.platform);
      state.ResumeTiming();
      host.spec->import(w.spec_xml.data(), w.spec_xml.size());
      benchmark::DoNotOptimize(host.spec->get_specs().data());
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(w.spec_xml.size()));
  state.SetLabel(std::to_string(w.spec_xml.size()) + " bytes");
}
BENCHMARK(BM_import)
    ->ArgNames({"size", "patterns"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

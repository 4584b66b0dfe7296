// Version texts: every "version" attribute of a catalog is read through
// these, and the dependency stage writes them back into its log lines.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "tarvik/ox/version.hpp"

namespace {

using tarvik::ox::version;
using tarvik::ox::version_ranges;

const std::vector<std::string>& version_texts() {
  static const std::vector<std::string> texts = {
      "1.0.0.0", "2.4.0.0", "10.11.12.13", "3.9", "4294967295.0.0.1", "0.0.0.0", "7.1.2", "2.0b.1"};
  return texts;
}

const std::vector<std::string>& range_texts() {
  static const std::vector<std::string> texts = {
      "1.0.0.0:2.9", "2.5.0.0:", ":4.3.0.0", "1.0:1.5|2.0", "3.0.0.0:3.9.4294967295.4294967295",
      "2.0:1.0",     "",         "1.2.0.0"};
  return texts;
}

void BM_version_parse(benchmark::State& state) {
  const std::vector<std::string>& texts = version_texts();
  std::size_t i = 0;
  for (auto _ : state) {
    version v(texts[i++ % texts.size()]);
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_version_parse);

void BM_version_getversion(benchmark::State& state) {
  const version v("10.11.12.13");
  for (auto _ : state) {
    std::string text = v.getversion();
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_version_getversion);

void BM_version_compare(benchmark::State& state) {
  const version a("1.10.0.0");
  const version b("1.9.4294967295.0");
  for (auto _ : state) {
    benchmark::DoNotOptimize(a <= b);
    benchmark::DoNotOptimize(a >= b);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_version_compare);

void BM_ranges_set(benchmark::State& state) {
  const std::vector<std::string>& texts = range_texts();
  std::size_t i = 0;
  for (auto _ : state) {
    version_ranges r;
    r.set(texts[i++ % texts.size()]);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ranges_set);

void BM_ranges_get(benchmark::State& state) {
  version_ranges r;
  r.set("1.0:1.5|2.0");
  for (auto _ : state) {
    std::string text = r.get();
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ranges_get);

void BM_ranges_is_within(benchmark::State& state) {
  version_ranges r;
  r.set("1.0:1.5|2.0|3.0.0.0:3.9");
  const version probes[] = {version("0.5.0.0"), version("1.2.0.0"), version("3.4.0.0"),
                            version("4.0.0.0")};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(r.is_within(probes[i++ & 3]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ranges_is_within);

}  // namespace

BENCHMARK_MAIN();

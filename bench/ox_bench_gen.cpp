// Writes one benchmark workload to a directory: spec.xml, installed.json,
// request.json (the inputs of `oxpm resolve`) and testsolv.t (the same
// problem for testsolv).
//
//   ox_bench_gen --size small|large|huge [--patterns] [--seed N] --out DIR
//   ox_bench_gen --elements N --installed M --requested K [...] --out DIR
#include <sys/stat.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "workload.hpp"

namespace {

using tarvik::ox_bench::read_count;
using tarvik::ox_bench::workload_options;

int usage() {
  std::fprintf(stderr,
               "usage: ox_bench_gen (--size small|large|huge | --elements N --installed M "
               "--requested K) [--patterns] [--seed N] [--platform TEXT] --out DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  workload_options options;
  std::string out_dir;
  bool sized = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--patterns") {
      options.patterns = true;
    } else if (arg == "--size" && has_value) {
      if (!tarvik::ox_bench::size_by_name(argv[++i], &options.size)) {
        return usage();
      }
      sized = true;
    } else if (arg == "--elements" && has_value) {
      if (!read_count(argv[++i], &options.size.elements)) {
        return usage();
      }
      sized = true;
    } else if (arg == "--installed" && has_value) {
      if (!read_count(argv[++i], &options.size.installed)) {
        return usage();
      }
    } else if (arg == "--requested" && has_value) {
      if (!read_count(argv[++i], &options.size.requested)) {
        return usage();
      }
    } else if (arg == "--seed" && has_value) {
      std::size_t seed = 0;
      if (!read_count(argv[++i], &seed)) {
        return usage();
      }
      options.seed = seed;
    } else if (arg == "--platform" && has_value) {
      options.platform = argv[++i];
    } else if (arg == "--out" && has_value) {
      out_dir = argv[++i];
    } else {
      return usage();
    }
  }
  if (!sized || out_dir.empty()) {
    return usage();
  }
  try {
    const tarvik::ox_bench::workload w = tarvik::ox_bench::generate(options);
    ::mkdir(out_dir.c_str(), 0777);
    const bool ok =
        tarvik::ox_bench::write_file("ox_bench_gen", out_dir + "/spec.xml", w.spec_xml) &&
        tarvik::ox_bench::write_file("ox_bench_gen", out_dir + "/installed.json",
                                     tarvik::ox_bench::inventory_json(w.installed)) &&
        tarvik::ox_bench::write_file("ox_bench_gen", out_dir + "/request.json",
                                     tarvik::ox_bench::request_json(w.request)) &&
        tarvik::ox_bench::write_file("ox_bench_gen", out_dir + "/testsolv.t", w.testsolv);
    if (!ok) {
      return 1;
    }
    std::printf("%s: %zu elements (%zu bytes of XML), %zu installed, %zu requested%s\n",
                out_dir.c_str(), options.size.elements / 4 * 4, w.spec_xml.size(),
                w.installed.size(), w.request.size(), options.patterns ? ", patterns" : "");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ox_bench_gen: %s\n", error.what());
    return 1;
  }
  return 0;
}

// The benchmark workload: a seeded, deterministic package catalog with
// the software installed on a machine and an install request against it,
// shaped like the catalogs a management server hands out. The same problem
// can be written as a testsolv testcase, so that a general-purpose resolver
// can be timed side by side on it.
//
// Shape: L names with four versions each (majors 1 to 4), one software
// element per name and version (exact four-part version, softwareids the
// name); each element depends on 0 to 5 other names through version ranges
// (a third open at the top) and is compatible with 0 to 3 through open ranges
// ("LO:" or ":HI"). `installed` names are installed at one version each; the
// request installs `requested` other names whose dependencies are met by
// installed names or by names earlier in the request, and whose compatibles
// hold, so the whole request passes. With `patterns`, a third of the elements
// carry a real pattern instead of the bare name: "NAME|NAME_LEGACY" (an
// alternation of literals), "NAME.*" or "NAME|NAME-[0-9]+". Names all have the
// same length, so a pattern never recognises another name.
#ifndef TARVIK_OX_BENCH_WORKLOAD_HPP_
#define TARVIK_OX_BENCH_WORKLOAD_HPP_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tarvik {
namespace ox_bench {

// splitmix64: the same sequence on every platform and standard library,
// unlike the distributions of <random>.
class rng {
 public:
  explicit rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform enough in [0, n) for n far below 2^64.
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }

  template <typename T>
  void shuffle(std::vector<T>& items) {
    for (std::size_t i = items.size(); i > 1; --i) {
      std::swap(items[i - 1], items[below(i)]);
    }
  }

 private:
  std::uint64_t state_;
};

struct workload_size {
  std::size_t elements = 0;   // N, software elements (4 per name)
  std::size_t installed = 0;  // M, names installed
  std::size_t requested = 0;  // K, names in the install request
};

inline constexpr workload_size kSmall{2000, 300, 20};
inline constexpr workload_size kLarge{20000, 2000, 500};
inline constexpr workload_size kHuge{100000, 5000, 2000};

struct workload_options {
  workload_size size = kSmall;
  bool patterns = false;
  std::uint64_t seed = 1;
  // The text every element carries in "platforms".
  std::string platform = "linux-x64";
};

struct package_version {
  std::string id;
  std::string version;
};

struct workload {
  workload_options options;
  // The catalog document.
  std::string spec_xml;
  // Installed software, in walk order, and the install request, in order.
  std::vector<package_version> installed;
  std::vector<package_version> request;
  // Every name, for look-up benchmarks.
  std::vector<std::string> names;
  // Each name's four versions in the catalog, lowest first (parallel to names).
  std::vector<std::vector<std::string>> versions;
  // The names that the installed or requested version of each name depends
  // on (empty for the other names), parallel to names.
  std::vector<std::vector<std::string>> needs;
  // The same problem as a testsolv testcase: the installed elements in the
  // "system" repo, every element in "available", one install job per request
  // entry, and no result line.
  std::string testsolv;
};

// N is rounded down to a multiple of four. Throws std::invalid_argument when
// the sizes do not fit (fewer than four elements, or more installed and
// requested names than there are names).
workload generate(const workload_options& options);

// [{"id": ..., "version": ...}, ...]
std::string inventory_json(const std::vector<package_version>& list);
// {"install": [...]}
std::string request_json(const std::vector<package_version>& install);

// Reads a decimal count: the whole text, digits only, no overflow.
bool read_count(const char* text, std::size_t* out);

// A file the generators write, whole or piece by piece; a failure to open or
// close it is told on standard error, prefixed with the program's name.
class file_writer {
 public:
  file_writer(const char* program, const std::string& path);
  file_writer(const file_writer&) = delete;
  file_writer& operator=(const file_writer&) = delete;
  ~file_writer() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
  }
  bool open() const { return file_ != nullptr; }
  bool write(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), file_) == text.size();
  }
  bool close();

 private:
  const char* program_;
  std::string path_;
  std::FILE* file_;
};

// Writes `content` to `path` in one piece; false (and told) on failure.
bool write_file(const char* program, const std::string& path, const std::string& content);

// "small", "large" or "huge"; false for any other text.
bool size_by_name(const std::string& name, workload_size* size);

}  // namespace ox_bench
}  // namespace tarvik

#endif  // TARVIK_OX_BENCH_WORKLOAD_HPP_

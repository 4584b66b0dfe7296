// What the fuzz targets share: a failed property aborts with a message, so
// that libFuzzer records the input as a crash.
#ifndef TARVIK_OX_FUZZ_FUZZ_SUPPORT_HPP_
#define TARVIK_OX_FUZZ_FUZZ_SUPPORT_HPP_

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarvik {
namespace ox_fuzz {

inline void require(bool condition, const char* property) {
  if (!condition) {
    std::fprintf(stderr, "property violated: %s\n", property);
    std::abort();
  }
}

// The bytes of the input as a string; libFuzzer's buffer has no NUL after it.
inline std::string as_text(const unsigned char* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace ox_fuzz
}  // namespace tarvik

#endif  // TARVIK_OX_FUZZ_FUZZ_SUPPORT_HPP_

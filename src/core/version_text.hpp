// Version texts read and written in place, for the library's own hot paths:
// the import reads every "version" attribute of a catalog, and every
// resolution step writes versions into its log lines. Same results as
// version_ranges::set and version::getversion, without their temporaries.
#ifndef TARVIK_OX_SRC_CORE_VERSION_TEXT_HPP_
#define TARVIK_OX_SRC_CORE_VERSION_TEXT_HPP_

#include <cstddef>
#include <vector>

#include "tarvik/ox/version.hpp"

namespace tarvik {
namespace ox {
namespace internal {

// "4294967295.4294967295.4294967295.4294967295" is the longest text.
inline constexpr std::size_t kMaxVersionText = 4 * 10 + 3;

// Writes "%u.%u.%u.%u" of `v` to `out` (room for kMaxVersionText bytes, no
// NUL written); returns its length.
std::size_t write_version(const version& v, char* out);

// As version_ranges::set on the `size` bytes at `data`: appends every valid
// range of the "|"-separated text. Throws std::bad_alloc only.
void append_ranges(std::vector<version_range>& ranges, const char* data, std::size_t size);

}  // namespace internal
}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SRC_CORE_VERSION_TEXT_HPP_

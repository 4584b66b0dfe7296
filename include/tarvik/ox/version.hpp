// Version numbers, version ranges and lists of ranges, with their text syntax.
//
// Every version is four unsigned 32-bit components. Texts are read leniently:
// any text yields a value and nothing throws or logs. The syntax:
//   version  pieces separated by ".", each read like atoi (white space, one
//            sign, digits; modulo 2^32). A text without "." supplies no piece.
//   range    "A:B" (floor of A up to ceil of B), or one version V (floor of V
//            up to ceil of V; the text "0" alone holds only 0.0.0.0).
//   ranges   range texts separated by "|"; an empty range text holds every
//            version; invalid ranges (min > max) are dropped.
// Plain values: a value may be read from any number of threads while none
// changes it.
#ifndef TARVIK_OX_VERSION_HPP_
#define TARVIK_OX_VERSION_HPP_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvik {
namespace ox {

class version {
 public:
  static constexpr std::uint32_t kMaxComponent = 0xFFFFFFFFu;

  // The greatest version, 4294967295.4294967295.4294967295.4294967295.
  version();
  // As floor(text): components the text does not supply are 0.
  explicit version(const std::string& text);

  // Overwrites only the components that the text supplies.
  void assign(const std::string& text);
  // zeroize, then assign.
  void floor(const std::string& text);
  // maxmize, then assign.
  void ceil(const std::string& text);
  void zeroize();
  // Every component 4294967295. The spelling is part of the interface.
  void maxmize();

  // "%u.%u.%u.%u".
  std::string getversion() const;

  // Lexicographic over the components as unsigned numbers.
  bool operator<=(const version& other) const;
  bool operator>=(const version& other) const;

  std::array<std::uint32_t, 4> components;
};

class version_range {
 public:
  // Both bounds at the greatest version.
  version_range();

  // Reads one range ("A:B" or a single version); no validity check.
  void set(std::string text);
  void set_min(const std::string& text);        // min = floor(text)
  void set_max(const std::string& text);        // max = ceil(text)
  void set_max_exact(const std::string& text);  // max = floor(text)

  bool is_valid() const;  // min <= max
  bool is_within(const version& v) const;

  version min;
  version max;
};

class version_ranges {
 public:
  version_ranges() = default;

  // Appends every valid range of the "|"-separated text after the ranges
  // already held.
  void set(std::string text);
  // "min:max" per range, joined by "|"; empty for no range. set() of it reads
  // back the same ranges.
  std::string get() const;
  // True when some range holds the version; false for an empty list.
  bool is_within(const version& v) const;

  std::vector<version_range> ranges;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_VERSION_HPP_

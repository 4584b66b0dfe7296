// Text helpers shared by the tool's readable outputs: colour (only when
// asked for), printable ids and human-readable version ranges.
#ifndef TARVIK_OXPM_TOOLS_STYLE_HPP_
#define TARVIK_OXPM_TOOLS_STYLE_HPP_

#include <string>

#include "tarvik/ox/version.hpp"

namespace tarvik {
namespace oxpm {

// Colour on a terminal only, and never when NO_COLOR is set (whatever its
// value). `no_color` is the variable's value, null when unset.
bool use_colour(bool is_terminal, const char* no_color);

class style {
 public:
  explicit style(bool colour = false) : colour_(colour) {}

  bool colour() const { return colour_; }
  std::string bold(const std::string& text) const { return paint("1", text); }
  std::string red(const std::string& text) const { return paint("31", text); }
  std::string green(const std::string& text) const { return paint("32", text); }
  std::string yellow(const std::string& text) const { return paint("33", text); }
  std::string dim(const std::string& text) const { return paint("2", text); }

 private:
  std::string paint(const char* code, const std::string& text) const;
  bool colour_;
};

// The text with control characters written as \xNN, so that data read from
// the inputs can neither break a line nor drive the terminal.
std::string printable(const std::string& text);

// The text in double quotes, printable, its quotes and backslashes escaped.
std::string quoted(const std::string& text);

// An id as messages show it: as it is when it reads as one word, quoted (see
// quoted) when it is empty or holds a space, a quote, a backslash or a
// control character, so that where it begins and ends is never in doubt.
std::string shown_id(const std::string& id);

// A version with its trailing greatest components written as "*":
// 3.9.4294967295.4294967295 becomes 3.9.*.*.
std::string human_version(const ox::version& v, bool upper_bound);
// "exactly 1.2.3.4", "any version", "up to 2.0.*.*", "3.0.0.0 or later",
// "1.0.0.0 to 1.5.*.*".
std::string human_range(const ox::version_range& range);
// The ranges joined by " or "; "no version at all" for none.
std::string human_ranges(const ox::version_ranges& ranges);

// `count` followed by the singular or the plural form.
std::string plural(std::size_t count, const std::string& one, const std::string& many);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_STYLE_HPP_

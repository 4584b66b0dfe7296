#include "patterns.hpp"

#include <utility>

#include "host/regex.hpp"

namespace tarvik {
namespace oxpm {

std::optional<pattern_description> describe_pattern(const ox_regex_literals_s* literals,
                                                    const std::string& pattern) {
  // The library's own reading of the host's answer, so that the tool's
  // explanations narrow patterns exactly as the look-ups do.
  ox::internal::pattern_shape shape = ox::internal::describe_pattern(literals, pattern);
  if (shape.what == ox::internal::pattern_shape::kind::unknown ||
      !ox::internal::c_string_safe(pattern)) {
    return std::nullopt;
  }
  return pattern_description{std::move(shape.exact), std::move(shape.prefixes)};
}

}  // namespace oxpm
}  // namespace tarvik

// What the host can tell of a catalog pattern from its text alone, through
// its optional OX_OBJECT_REGEX_LITERALS capability. The tool uses it, as the
// library does, to look up only the ids a pattern can match instead of
// testing the pattern against every id.
#ifndef TARVIK_OXPM_TOOLS_PATTERNS_HPP_
#define TARVIK_OXPM_TOOLS_PATTERNS_HPP_

#include <optional>
#include <string>
#include <vector>

#include "tarvik/ox/host/ox_regex.h"

namespace tarvik {
namespace oxpm {

// A text can match the pattern only if it equals one of `exact` or begins
// with one of `prefixes` (none of them empty). With no prefixes the pattern
// matches exactly the texts in `exact`.
struct pattern_description {
  std::vector<std::string> exact;
  std::vector<std::string> prefixes;
};

// The host's description of `pattern`; nothing when `literals` is null or
// has no describe function, when the host cannot tell, when the pattern holds
// a NUL byte (the host takes C strings), when some alternative may begin with
// anything (an empty prefix), or when memory runs out while it is collected.
std::optional<pattern_description> describe_pattern(const ox_regex_literals_s* literals,
                                                    const std::string& pattern);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_PATTERNS_HPP_

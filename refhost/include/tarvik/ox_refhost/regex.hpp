// The reference host's regular expressions beyond the ox_regex_* functions:
// the capability that tells what a pattern can match, and the cache of
// compiled patterns behind ox_regex_create.
#ifndef TARVIK_OX_REFHOST_REGEX_HPP_
#define TARVIK_OX_REFHOST_REGEX_HPP_

#include <cstddef>

#include "tarvik/ox/host/ox_regex.h"

namespace tarvik {
namespace ox_refhost {

// The reference host's ox_regex_literals_s; every context registers it under
// OX_OBJECT_REGEX_LITERALS. It describes patterns of at most
// kMaxRegexTextBytes bytes whose top-level alternatives each begin with plain
// characters (printable ASCII other than \.+*?()[]{}|^$) or escaped
// punctuation; an alternative made only of those is exact, any other ends
// its literal run at its first other character (dropping the character a
// repetition applies to). Anything it cannot follow safely (\Q...\E, POSIX
// classes, unbalanced groups) is not described.
const ox_regex_literals_s* regex_literals();

// Most compiled patterns (and refusals) ox_regex_create keeps. Handles still
// held keep their compiled pattern after it leaves the cache.
inline constexpr std::size_t kRegexCacheEntries = 1024;

}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_REGEX_HPP_

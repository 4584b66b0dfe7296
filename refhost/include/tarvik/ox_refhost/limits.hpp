// The limits the reference host places on the inputs it parses. A package
// catalog comes from outside the process, so every input that could
// make the host spend unbounded memory or time is refused up front instead of
// being attempted: a document or pattern past a limit fails to load or compile
// with OX_ERROR_LIMIT_EXCEEDED, a text past the match limit does not match.
#ifndef TARVIK_OX_REFHOST_LIMITS_HPP_
#define TARVIK_OX_REFHOST_LIMITS_HPP_

#include <cstddef>
#include <cstdint>

namespace tarvik {
namespace ox_refhost {

// XML (ox_xml_load_from_buffer).

// Largest document accepted, in bytes. The parsed tree costs up to about 16
// times the text in memory, so this caps a load at roughly half a gigabyte; a
// real catalog is a few megabytes at most.
inline constexpr std::size_t kMaxXmlBufferBytes = std::size_t{32} * 1024 * 1024;

// Deepest element nesting accepted: the document element is at depth 1. A
// catalog needs five levels (specs/softwares/software/depends/depend);
// the margin leaves room for documents that carry more than we read.
inline constexpr std::size_t kMaxXmlElementDepth = 256;

// Regular expressions (ox_regex_create, ox_regex_match).

// Longest pattern accepted, in bytes.
inline constexpr std::size_t kMaxRegexPatternBytes = 4096;

// Largest compiled program accepted, in instructions: room for a pattern of
// the longest length made of plain text. When the lazily built automaton runs
// out of memory, matching falls back to a simulation whose cost per byte of
// text grows with the program, so this bounds the cost per byte of the id.
inline constexpr int kMaxRegexProgramSize = 5000;

// Longest text a pattern is matched against, in bytes; a longer text never
// matches. Together with the program size this bounds one match to some
// milliseconds whatever the pattern. Ids are a few dozen bytes; a text past
// this is no id, and an entry is still found by its exact sref.
inline constexpr std::size_t kMaxRegexTextBytes = 1024;

// Most Unicode property classes (\p{...}, \P{...}, \pL and the like) in one
// pattern. Each expands into hundreds of ranges while the pattern is parsed,
// before any memory budget applies; a few suffice for any id pattern.
inline constexpr std::size_t kMaxRegexUnicodeClasses = 16;

// Largest sum of the counts of counted repetitions ("{n}", "{n,}", "{n,m}",
// each counting its larger number) in one pattern. A counted repetition is
// unrolled before the program size can be checked; this keeps the unrolling,
// and so the cost of compiling, small.
inline constexpr std::size_t kMaxRegexRepetitionTotal = 1000;

// Memory one compiled pattern may use, its lazily built automaton included.
// Past it compilation fails, or matching falls back to the slower simulation
// that the program size bounds. Kept small so that a pattern that expands
// past the program size is given up early instead of compiled in full.
inline constexpr std::int64_t kRegexMaxMemoryBytes = std::int64_t{256} * 1024;

}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_LIMITS_HPP_

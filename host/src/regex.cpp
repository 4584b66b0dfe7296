// The reference host's regular expressions, on RE2.
//
// Patterns, and many of the ids they are tested on, come from the package
// specification, i.e. from outside the process. RE2 matches in time linear in
// the text; the stated limits (limits.hpp) also bound what one pattern may
// cost to compile, what each byte of a match may cost (through the program
// size) and how long a text may be, so no pattern can stall a resolution.
// A pattern matches an id only when it matches the whole id. Errors are
// reported through the return code alone: RE2 writes nothing to stderr.
#include <re2/re2.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox_refhost/limits.hpp"

struct ox_regex_s {
  ox_regex_s(re2::StringPiece pattern, const re2::RE2::Options& options) : re(pattern, options) {}
  re2::RE2 re;
};

namespace {

using tarvik::ox_refhost::kMaxRegexPatternBytes;
using tarvik::ox_refhost::kMaxRegexProgramSize;
using tarvik::ox_refhost::kMaxRegexRepetitionTotal;
using tarvik::ox_refhost::kMaxRegexTextBytes;
using tarvik::ox_refhost::kMaxRegexUnicodeClasses;
using tarvik::ox_refhost::kRegexMaxMemoryBytes;

re2::RE2::Options pattern_options() {
  re2::RE2::Options options;
  options.set_encoding(re2::RE2::Options::EncodingUTF8);
  options.set_log_errors(false);
  options.set_max_mem(kRegexMaxMemoryBytes);
  // Only whole-text matching is asked for; no submatch is ever read.
  options.set_never_capture(true);
  return options;
}

// What a pattern asks of the parser before any memory budget applies: its
// Unicode property classes (\p, \P) and the sum of its repetition counts.
// Escapes are skipped as a whole, so "\\p" is no class and neither "\{3}" nor
// "\x{100}" a count; text quoted by \Q...\E or braces inside a bracketed class may be
// over-counted, which only errs on the side of refusing.
struct pattern_cost {
  std::size_t unicode_classes = 0;
  std::size_t repetition_total = 0;
};

pattern_cost estimate(const char* pattern, std::size_t length) {
  constexpr std::size_t kCap = std::size_t{1} << 20;
  pattern_cost cost;
  auto read_number = [&](std::size_t* at, std::size_t* value) {
    const std::size_t start = *at;
    *value = 0;
    while (*at < length && pattern[*at] >= '0' && pattern[*at] <= '9') {
      *value = std::min(kCap, *value * 10 + static_cast<std::size_t>(pattern[*at] - '0'));
      ++*at;
    }
    return *at > start;
  };
  for (std::size_t i = 0; i < length; ++i) {
    if (pattern[i] == '\\') {
      ++i;
      if (i >= length) {
        break;
      }
      const char escaped = pattern[i];
      if (escaped == 'p' || escaped == 'P') {
        ++cost.unicode_classes;
      }
      // The braces of \x{...} and \p{...} hold no count.
      if ((escaped == 'x' || escaped == 'p' || escaped == 'P') && i + 1 < length &&
          pattern[i + 1] == '{') {
        while (i < length && pattern[i] != '}') {
          ++i;
        }
      }
      continue;
    }
    if (pattern[i] != '{') {
      continue;
    }
    std::size_t at = i + 1;
    std::size_t low = 0;
    std::size_t high = 0;
    if (!read_number(&at, &low)) {
      continue;
    }
    high = low;
    if (at < length && pattern[at] == ',') {
      ++at;
      if (!read_number(&at, &high)) {
        high = low;
      }
    }
    if (at < length && pattern[at] == '}') {
      cost.repetition_total = std::min(kCap, cost.repetition_total + std::max(low, high));
    }
  }
  return cost;
}

int compile(const char* pattern, ox_regex_s** regex) {
  const std::size_t length = strnlen(pattern, kMaxRegexPatternBytes + 1);
  if (length > kMaxRegexPatternBytes) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  const pattern_cost cost = estimate(pattern, length);
  if (cost.unicode_classes > kMaxRegexUnicodeClasses ||
      cost.repetition_total > kMaxRegexRepetitionTotal) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  auto compiled =
      std::make_unique<ox_regex_s>(re2::StringPiece(pattern, length), pattern_options());
  if (!compiled->re.ok()) {
    return compiled->re.error_code() == re2::RE2::ErrorPatternTooLarge ? OX_ERROR_LIMIT_EXCEEDED
                                                                       : OX_ERROR_PARSE;
  }
  if (compiled->re.ProgramSize() > kMaxRegexProgramSize) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  *regex = compiled.release();
  return OX_OK;
}

}  // namespace

extern "C" {

int ox_regex_create(const char* pattern, ox_regex_s** regex) {
  if (regex == nullptr) {
    return OX_ERROR_INVALID_ARGUMENT;
  }
  *regex = nullptr;
  if (pattern == nullptr) {
    return OX_ERROR_INVALID_ARGUMENT;
  }
  try {
    return compile(pattern, regex);
  } catch (const std::bad_alloc&) {
    return OX_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    return OX_ERROR_UNEXPECTED;
  }
}

uint8_t ox_regex_match(ox_regex_s* regex, const char* text) {
  if (regex == nullptr || text == nullptr) {
    return 0;
  }
  const std::size_t length = strnlen(text, kMaxRegexTextBytes + 1);
  if (length > kMaxRegexTextBytes) {
    return 0;
  }
  try {
    return re2::RE2::FullMatch(re2::StringPiece(text, length), regex->re) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int ox_regex_release(ox_regex_s* regex) {
  delete regex;
  return OX_OK;
}

}  // extern "C"

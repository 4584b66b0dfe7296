// The reference host's regular expressions, on RE2.
//
// Patterns, and many of the ids they are tested on, come from the package
// catalog, i.e. from outside the process. RE2 matches in time linear in
// the text; the stated limits (limits.hpp) also bound what one pattern may
// cost to compile, what each byte of a match may cost (through the program
// size) and how long a text may be, so no pattern can stall a resolution.
// A pattern matches an id only when it matches the whole id. Errors are
// reported through the return code alone: RE2 writes nothing to stderr.
//
// A resolution asks for the same few patterns over and over, so compiled
// patterns are kept in a bounded cache shared by all threads: a handle shares
// its compiled program with the cache (RE2 matches concurrently on one
// program). Refusals that depend on the pattern alone are cached as well;
// exhausted memory is not, so the next attempt compiles again.
//
// regex_literals() tells from a pattern's text what it can match, so that
// the library can index ids instead of testing every pattern.
#include <re2/re2.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox_refhost/limits.hpp"
#include "tarvik/ox_refhost/regex.hpp"
#include "tarvik/ox_refhost/testing.hpp"

struct ox_regex_s {
  explicit ox_regex_s(std::shared_ptr<const re2::RE2> compiled) : re(std::move(compiled)) {}
  std::shared_ptr<const re2::RE2> re;
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

// Compiles a pattern of `length` bytes (at most kMaxRegexPatternBytes).
// Returns OX_OK with *out set, or the refusal.
int compile(const char* pattern, std::size_t length, std::shared_ptr<const re2::RE2>* out) {
  const tarvik::ox_refhost::regex_engine_call engine;
  const pattern_cost cost = estimate(pattern, length);
  if (cost.unicode_classes > kMaxRegexUnicodeClasses ||
      cost.repetition_total > kMaxRegexRepetitionTotal) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  auto compiled =
      std::make_shared<const re2::RE2>(re2::StringPiece(pattern, length), pattern_options());
  if (!compiled->ok()) {
    return compiled->error_code() == re2::RE2::ErrorPatternTooLarge ? OX_ERROR_LIMIT_EXCEEDED
                                                                    : OX_ERROR_PARSE;
  }
  if (compiled->ProgramSize() > kMaxRegexProgramSize) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  *out = std::move(compiled);
  return OX_OK;
}

// Least recently used patterns go first once the cache is full.
class pattern_cache {
 public:
  struct outcome {
    int code = OX_OK;
    std::shared_ptr<const re2::RE2> compiled;
  };

  bool find(const std::string& pattern, outcome* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(pattern);
    if (it == entries_.end()) {
      ++misses_;
      return false;
    }
    ++hits_;
    order_.splice(order_.begin(), order_, it->second.position);
    *out = it->second.value;
    return true;
  }

  // Keeps the first outcome stored for a pattern, should two threads have
  // compiled it at once; *out receives the one kept.
  void store(const std::string& pattern, outcome* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(pattern);
    if (it != entries_.end()) {
      *out = it->second.value;
      return;
    }
    order_.push_front(pattern);
    try {
      entries_.emplace(pattern, slot{*out, order_.begin()});
    } catch (...) {
      order_.pop_front();
      throw;
    }
    while (entries_.size() > tarvik::ox_refhost::kRegexCacheEntries) {
      entries_.erase(order_.back());
      order_.pop_back();
    }
  }

  tarvik::ox_refhost::regex_cache_stats stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {hits_, misses_, entries_.size()};
  }

  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    order_.clear();
    hits_ = 0;
    misses_ = 0;
  }

 private:
  struct slot {
    outcome value;
    std::list<std::string>::iterator position;
  };
  std::mutex mutex_;
  std::list<std::string> order_;  // most recently used first
  std::unordered_map<std::string, slot> entries_;
  std::size_t hits_ = 0;
  std::size_t misses_ = 0;
};

pattern_cache& cache() {
  // Never destroyed: handles may outlive static destruction order.
  static pattern_cache* instance = new pattern_cache;
  return *instance;
}

int create(const char* pattern, ox_regex_s** regex) {
  const std::size_t length = strnlen(pattern, kMaxRegexPatternBytes + 1);
  if (length > kMaxRegexPatternBytes) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  const std::string key(pattern, length);
  pattern_cache::outcome found;
  if (!cache().find(key, &found)) {
    found.code = compile(pattern, length, &found.compiled);
    if (found.code == OX_OK || found.code == OX_ERROR_PARSE ||
        found.code == OX_ERROR_LIMIT_EXCEEDED) {
      cache().store(key, &found);
    }
  }
  if (found.code != OX_OK) {
    return found.code;
  }
  *regex = new ox_regex_s(std::move(found.compiled));
  return OX_OK;
}

// What describe() accepts as a literal character: printable ASCII that RE2
// reads as itself outside a bracketed class. A table, since every character
// of every catalog pattern is classified.
constexpr std::array<bool, 256> kPlainLiteral = [] {
  std::array<bool, 256> table{};
  for (int c = 0x20; c <= 0x7E; ++c) {
    table[static_cast<std::size_t>(c)] = true;
  }
  for (const char* special = "\\.+*?()[]{}|^$"; *special != '\0'; ++special) {
    table[static_cast<unsigned char>(*special)] = false;
  }
  return table;
}();

bool plain_literal(unsigned char c) {
  return kPlainLiteral[c];
}

// An escaped character that RE2 reads as itself: printable ASCII that is no
// word character ("\d", "\1" and the like are classes or refused).
bool escapable(unsigned char c) {
  return c >= 0x20 && c <= 0x7E && !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') &&
         !(c >= 'a' && c <= 'z') && c != '_';
}

// Splits the pattern at its top-level "|". False for what the scan cannot
// follow safely: \Q...\E quoting, POSIX classes in brackets, unbalanced
// groups or brackets, a trailing backslash.
bool split_alternatives(const char* pattern, std::size_t length,
                        std::vector<std::pair<std::size_t, std::size_t>>* out) {
  std::size_t depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = pattern[i];
    if (c == '\\') {
      if (i + 1 >= length || pattern[i + 1] == 'Q') {
        return false;
      }
      ++i;
    } else if (c == '[') {
      std::size_t j = i + 1;
      if (j < length && pattern[j] == '^') {
        ++j;
      }
      if (j < length && pattern[j] == ']') {
        ++j;  // a leading ']' is a member
      }
      for (; j < length && pattern[j] != ']'; ++j) {
        if (pattern[j] == '\\') {
          ++j;
        } else if (pattern[j] == '[' && j + 1 < length && pattern[j + 1] == ':') {
          return false;
        }
      }
      if (j >= length) {
        return false;
      }
      i = j;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth == 0) {
        return false;
      }
      --depth;
    } else if (c == '|' && depth == 0) {
      out->emplace_back(start, i);
      start = i + 1;
    }
  }
  if (depth != 0) {
    return false;
  }
  out->emplace_back(start, length);
  return true;
}

int describe(const ox_regex_literals_s* /*self*/, const char* pattern, ox_regex_alternative_fn emit,
             void* user) {
  if (pattern == nullptr || emit == nullptr) {
    return 0;
  }
  try {
    // Past the match limit a literal could never match; the bound also keeps
    // every alternation of literals well inside the compile limits.
    const std::size_t length = strnlen(pattern, kMaxRegexTextBytes + 1);
    if (length > kMaxRegexTextBytes) {
      return 0;
    }
    // Nearly every catalog pattern is a plain alternation of literals: its
    // alternatives are handed over in place, without copies.
    const auto* const bytes = reinterpret_cast<const unsigned char*>(pattern);
    if (std::all_of(bytes, bytes + length,
                    [](unsigned char c) { return plain_literal(c) || c == '|'; })) {
      std::size_t start = 0;
      for (std::size_t i = 0; i <= length; ++i) {
        if (i == length || pattern[i] == '|') {
          emit(user, pattern + start, i - start, 1);
          start = i + 1;
        }
      }
      return 1;
    }
    std::vector<std::pair<std::size_t, std::size_t>> alternatives;
    if (!split_alternatives(pattern, length, &alternatives)) {
      return 0;
    }
    std::string text;
    for (const auto& alternative : alternatives) {
      text.clear();
      bool exact = true;
      for (std::size_t i = alternative.first; i < alternative.second; ++i) {
        const auto c = static_cast<unsigned char>(pattern[i]);
        if (plain_literal(c)) {
          text += static_cast<char>(c);
          continue;
        }
        if (c == '\\' && i + 1 < alternative.second &&
            escapable(static_cast<unsigned char>(pattern[i + 1]))) {
          text += pattern[++i];
          continue;
        }
        // The literal run ends here. A repetition applies to the character
        // before it, which then need not be there.
        exact = false;
        if ((c == '*' || c == '?' || c == '+' || c == '{') && !text.empty()) {
          text.pop_back();
        }
        break;
      }
      emit(user, text.data(), text.size(), exact ? 1 : 0);
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

const ox_regex_literals_s kRegexLiterals = {OX_REGEX_LITERALS_TAG, sizeof(ox_regex_literals_s),
                                            describe};

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
    return create(pattern, regex);
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
    const tarvik::ox_refhost::regex_engine_call engine;
    return re2::RE2::FullMatch(re2::StringPiece(text, length), *regex->re) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int ox_regex_release(ox_regex_s* regex) {
  delete regex;
  return OX_OK;
}

}  // extern "C"

namespace tarvik {
namespace ox_refhost {

const ox_regex_literals_s* regex_literals() {
  return &kRegexLiterals;
}

regex_cache_stats regex_cache_statistics() {
  return cache().stats();
}

void clear_regex_cache() {
  cache().clear();
}

}  // namespace ox_refhost
}  // namespace tarvik

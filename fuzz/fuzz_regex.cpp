// The reference host's regular expressions: any pattern either compiles or is
// refused with a parse or limit code, and a compiled one answers for any id,
// the longest the host matches included, within the fuzzer's time limit.
// What the literals capability tells of a pattern holds for the id and for
// the alternatives it names: a text the pattern matches is admitted by some
// alternative, and a plain alternation of literals compiles and matches
// exactly its alternatives. The input is the pattern, a NUL byte, then the id.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.hpp"
#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox_refhost/limits.hpp"
#include "tarvik/ox_refhost/regex.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace {

using tarvik::ox_fuzz::require;
using tarvik::ox_refhost::kMaxRegexTextBytes;

// `seed` repeated up to `length` bytes (or `filler` when the seed is empty).
std::string repeated(const std::string& seed, std::size_t length, char filler) {
  if (seed.empty()) {
    return std::string(length, filler);
  }
  std::string out;
  out.reserve(length);
  while (out.size() < length) {
    out.append(seed, 0, length - out.size());
  }
  return out;
}

struct alternative {
  std::string text;
  bool exact;
};

// Whether the capability described the pattern, with its alternatives.
bool describe(const std::string& pattern, std::vector<alternative>* out) {
  const ox_regex_literals_s* capability = tarvik::ox_refhost::regex_literals();
  return capability->describe(
             capability, pattern.c_str(),
             [](void* user, const char* text, std::size_t length, int exact) {
               static_cast<std::vector<alternative>*>(user)->push_back(
                   {std::string(text, length), exact != 0});
             },
             out) != 0;
}

bool admitted(const std::vector<alternative>& alternatives, const std::string& text) {
  for (const alternative& a : alternatives) {
    if (a.exact ? text == a.text : text.compare(0, a.text.size(), a.text) == 0) {
      return true;
    }
  }
  return false;
}

void check_description(const std::string& pattern, const std::string& id, ox_regex_s* regex,
                       int code) {
  std::vector<alternative> alternatives;
  if (!describe(pattern, &alternatives)) {
    return;
  }
  bool all_exact = true;
  std::vector<std::string> probes{id};
  for (const alternative& a : alternatives) {
    all_exact = all_exact && a.exact;
    probes.push_back(a.text);
  }
  if (all_exact) {
    require(code == OX_OK, "a plain alternation of literals compiles");
  }
  if (regex == nullptr) {
    return;
  }
  for (const std::string& probe : probes) {
    const bool matched = ox_regex_match(regex, probe.c_str()) != 0;
    const bool allowed = admitted(alternatives, probe);
    require(!matched || allowed, "a matched text is admitted by some alternative");
    require(!all_exact || matched == allowed,
            "a plain alternation matches exactly its alternatives");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Every input compiles its pattern afresh, and the host's cache of
  // compiled patterns does not grow with the run.
  tarvik::ox_refhost::clear_regex_cache();
  const std::string input = tarvik::ox_fuzz::as_text(data, size);
  const std::size_t nul = input.find('\0');
  const std::string pattern = input.substr(0, nul);
  std::string id = nul == std::string::npos ? pattern : input.substr(nul + 1);
  id = id.substr(0, id.find('\0'));

  ox_regex_s* regex = nullptr;
  const int code = ox_regex_create(pattern.c_str(), &regex);
  check_description(pattern, id, regex, code);
  if (code != OX_OK) {
    require(code == OX_ERROR_PARSE || code == OX_ERROR_LIMIT_EXCEEDED,
            "a pattern is refused with a parse or limit code");
    require(regex == nullptr, "a refused pattern gives no handle");
    return 0;
  }
  require(regex != nullptr, "a compiled pattern gives a handle");

  const bool answer = ox_regex_match(regex, id.c_str()) != 0;
  require((ox_regex_match(regex, id.c_str()) != 0) == answer, "the same answer twice");
  // The costliest texts the host still matches: the id, or the pattern
  // itself, repeated up to the length limit.
  static_cast<void>(ox_regex_match(regex, repeated(id, kMaxRegexTextBytes, 'a').c_str()));
  static_cast<void>(ox_regex_match(regex, repeated(pattern, kMaxRegexTextBytes, 'a').c_str()));
  require(ox_regex_match(regex, std::string(kMaxRegexTextBytes + 1, 'a').c_str()) == 0,
          "a text past the length limit never matches");
  require(ox_regex_release(regex) == OX_OK, "release succeeds");
  return 0;
}

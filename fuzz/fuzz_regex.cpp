// The reference host's regular expressions: any pattern either compiles or is
// refused with a parse or limit code, and a compiled one answers for any id,
// the longest the host matches included, within the fuzzer's time limit.
// The input is the pattern, a NUL byte, then the id.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.hpp"
#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox_refhost/limits.hpp"
#include "tarvik/ox_refhost/regex.hpp"

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

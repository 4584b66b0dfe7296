#include "patterns.hpp"

#include <algorithm>
#include <cstddef>

namespace tarvik {
namespace oxpm {

std::optional<pattern_description> describe_pattern(const ox_regex_literals_s* literals,
                                                    const std::string& pattern) {
  if (literals == nullptr || literals->describe == nullptr ||
      pattern.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  struct collected {
    pattern_description description;
    bool failed = false;
  } sink;
  // No exception may cross the host's C function.
  const ox_regex_alternative_fn emit = [](void* user, const char* text, std::size_t length,
                                          int exact) {
    auto* into = static_cast<collected*>(user);
    try {
      (exact != 0 ? into->description.exact : into->description.prefixes)
          .emplace_back(text, length);
    } catch (...) {
      into->failed = true;
    }
  };
  if (literals->describe(literals, pattern.c_str(), emit, &sink) == 0 || sink.failed) {
    return std::nullopt;
  }
  const std::vector<std::string>& prefixes = sink.description.prefixes;
  if (std::any_of(prefixes.begin(), prefixes.end(),
                  [](const std::string& prefix) { return prefix.empty(); })) {
    return std::nullopt;
  }
  return std::move(sink.description);
}

}  // namespace oxpm
}  // namespace tarvik

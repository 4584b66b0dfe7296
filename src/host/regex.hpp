// How the library uses the host's regular expressions beyond one compile and
// one test: a pattern compiled once and tested many times, and what the host
// can tell of a pattern's matches from its text (the optional capability
// under OX_OBJECT_REGEX_LITERALS). Both give the answers of compiling and
// testing afresh, as package_spec_manager::find_software_id does, provided
// the host answers the same pattern and text the same way every time.
#ifndef TARVIK_OX_SRC_HOST_REGEX_HPP_
#define TARVIK_OX_SRC_HOST_REGEX_HPP_

#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox/host/ox_utils.h"

namespace tarvik {
namespace ox {
namespace internal {

struct regex_release {
  void operator()(ox_regex_s* regex) const noexcept { ox_regex_release(regex); }
};
// A compiled pattern owned by its holder: the one deleter of the code base
// (library, tool and tests).
using regex_ptr = std::unique_ptr<ox_regex_s, regex_release>;

// The host takes C strings: a NUL byte would silently cut a pattern or an id
// short and could make a different text match, so such texts never match.
inline bool c_string_safe(const std::string& text) {
  return text.find('\0') == std::string::npos;
}

// Compiled on first use. A pattern the host refuses matches nothing; a refusal
// for want of memory is not final, the next test compiles again.
class compiled_pattern {
 public:
  explicit compiled_pattern(std::string pattern) : pattern_(std::move(pattern)) {}

  bool matches(const std::string& id) {
    if (final_refusal_ || !c_string_safe(id)) {
      return false;
    }
    if (handle_ == nullptr) {
      if (!c_string_safe(pattern_)) {
        final_refusal_ = true;
        return false;
      }
      ox_regex_s* raw = nullptr;
      const int code = ox_regex_create(pattern_.c_str(), &raw);
      if (code == OX_ERROR_OUT_OF_MEMORY) {
        // No answer about the pattern: the look-up must fail, not miss.
        throw std::bad_alloc();
      }
      if (code != OX_OK) {
        final_refusal_ = code != OX_ERROR_UNEXPECTED;
        return false;
      }
      handle_.reset(raw);
    }
    return ox_regex_match(handle_.get(), id.c_str()) != 0;
  }

 private:
  std::string pattern_;
  regex_ptr handle_;
  bool final_refusal_ = false;
};

// As compiled_pattern, for a pattern that threads share: whichever thread
// needs it first compiles it, and every thread then tests ids against the one
// handle at once (the host must allow ox_regex_match on one handle from
// several threads, as the reference host does). Two threads that compile it
// at the same time keep one handle and release the other. The text is the
// caller's, passed with every test (the same text every time), so that the
// catalog's entries need not hold it twice.
class shared_pattern {
 public:
  shared_pattern() = default;
  shared_pattern(const shared_pattern&) = delete;
  shared_pattern& operator=(const shared_pattern&) = delete;
  ~shared_pattern() { ox_regex_release(handle_.load(std::memory_order_acquire)); }

  bool matches(const std::string& pattern, const std::string& id) const {
    if (refused_.load(std::memory_order_acquire) || !c_string_safe(id)) {
      return false;
    }
    ox_regex_s* handle = handle_.load(std::memory_order_acquire);
    if (handle == nullptr) {
      if (!c_string_safe(pattern)) {
        refused_.store(true, std::memory_order_release);
        return false;
      }
      ox_regex_s* raw = nullptr;
      const int code = ox_regex_create(pattern.c_str(), &raw);
      if (code == OX_ERROR_OUT_OF_MEMORY) {
        throw std::bad_alloc();  // no answer about the pattern: the look-up must fail
      }
      if (code != OX_OK) {
        if (code != OX_ERROR_UNEXPECTED) {
          refused_.store(true, std::memory_order_release);
        }
        return false;
      }
      handle = raw;
      ox_regex_s* expected = nullptr;
      if (!handle_.compare_exchange_strong(expected, raw, std::memory_order_acq_rel)) {
        ox_regex_release(raw);
        handle = expected;
      }
    }
    return ox_regex_match(handle, id.c_str()) != 0;
  }

 private:
  mutable std::atomic<ox_regex_s*> handle_{nullptr};
  mutable std::atomic<bool> refused_{false};
};

// What a pattern can match, as far as the host tells.
struct pattern_shape {
  enum class kind {
    // The host cannot tell (or offers no capability): test every id.
    unknown,
    // Matches exactly the texts in `exact` (none for a pattern that can never
    // match); the host need not be asked.
    literals,
    // Matches only texts in `exact` or beginning with one of `prefixes`
    // (none empty); the host decides each such text.
    narrowed,
  };
  kind what = kind::unknown;
  std::vector<std::string> exact;
  std::vector<std::string> prefixes;
};

inline const ox_regex_literals_s* regex_literals(ox_context_s* context) {
  return ox_regex_literals_get(context);
}

// Asks `capability` (may be null) about `pattern`, into `shape`: a shape
// reused from one pattern to the next keeps its lists' storage.
inline void describe_pattern(const ox_regex_literals_s* capability, const std::string& pattern,
                             pattern_shape& shape) {
  auto unknown = [&shape] {
    shape.what = pattern_shape::kind::unknown;
    shape.exact.clear();
    shape.prefixes.clear();
  };
  unknown();
  if (!c_string_safe(pattern)) {
    shape.what = pattern_shape::kind::literals;  // never matches
    return;
  }
  if (capability == nullptr || capability->describe == nullptr) {
    return;
  }
  struct collected {
    pattern_shape* shape;
    bool failed;
  } sink{&shape, false};
  const ox_regex_alternative_fn emit = [](void* user, const char* text, std::size_t length,
                                          int exact) {
    auto* out = static_cast<collected*>(user);
    try {
      (exact != 0 ? out->shape->exact : out->shape->prefixes).emplace_back(text, length);
    } catch (...) {
      out->failed = true;
    }
  };
  if (capability->describe(capability, pattern.c_str(), emit, &sink) == 0 || sink.failed) {
    unknown();
    return;
  }
  for (const std::string& prefix : shape.prefixes) {
    if (prefix.empty()) {
      unknown();  // any text may match
      return;
    }
  }
  shape.what =
      shape.prefixes.empty() ? pattern_shape::kind::literals : pattern_shape::kind::narrowed;
}

inline pattern_shape describe_pattern(const ox_regex_literals_s* capability,
                                      const std::string& pattern) {
  pattern_shape shape;
  describe_pattern(capability, pattern, shape);
  return shape;
}

}  // namespace internal
}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SRC_HOST_REGEX_HPP_

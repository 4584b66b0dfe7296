// Test hooks of the reference host.
//
// RE2 is not exception-safe: when an allocation inside it fails, it leaks
// what it had built. A test that makes allocations fail on purpose therefore
// has to let every allocation inside RE2 succeed; the regular-expression
// functions announce each call into RE2 (compiling a pattern, matching a
// text) through this hook so that such a test can pause its injection for
// the duration. Nothing else uses it; without a hook the calls cost one
// atomic load.
#ifndef TARVIK_OX_REFHOST_HOOKS_HPP_
#define TARVIK_OX_REFHOST_HOOKS_HPP_

#include <atomic>

namespace tarvik {
namespace ox_refhost {

// Called with true right before a call into RE2 and with false right after
// it, on the calling thread. Must not throw.
using regex_engine_hook = void (*)(bool entering) noexcept;

namespace detail {
inline std::atomic<regex_engine_hook>& regex_engine_hook_slot() noexcept {
  static std::atomic<regex_engine_hook> slot{nullptr};
  return slot;
}
}  // namespace detail

// Installs `hook` for every thread (null removes it). Install it before the
// threads that use the regular expressions start, remove it after they end.
inline void set_regex_engine_hook(regex_engine_hook hook) noexcept {
  detail::regex_engine_hook_slot().store(hook);
}

// Marks one call into RE2 for as long as it lives.
class regex_engine_call {
 public:
  regex_engine_call() noexcept : hook_(detail::regex_engine_hook_slot().load()) {
    if (hook_ != nullptr) {
      hook_(true);
    }
  }
  regex_engine_call(const regex_engine_call&) = delete;
  regex_engine_call& operator=(const regex_engine_call&) = delete;
  ~regex_engine_call() {
    if (hook_ != nullptr) {
      hook_(false);
    }
  }

 private:
  const regex_engine_hook hook_;
};

}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_HOOKS_HPP_

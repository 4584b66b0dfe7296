// Test hooks of the reference host. Nothing but tests and fuzzers uses them;
// left alone they cost one atomic load where they are consulted.
//
// RE2 is not exception-safe: when an allocation inside it fails, it leaks
// what it had built. A test that makes allocations fail on purpose therefore
// has to let every allocation inside RE2 succeed; the regular-expression
// functions announce each call into RE2 (compiling a pattern, matching a
// text) through this hook so that such a test can pause its injection for
// the duration.
//
// An XML load checks a document through one scan of its raw text; only a
// document with a declaration (DOCTYPE), which the scan reads approximately,
// is checked by a walk over the whole built tree. Forcing that walk for every
// load lets a test compare both ways of checking the same document.
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

namespace detail {
inline std::atomic<bool>& xml_tree_walk_slot() noexcept {
  static std::atomic<bool> slot{false};
  return slot;
}
}  // namespace detail

// While true, every XML load in the process is checked by the walk over the
// built tree. The answers (codes, trees, values) must not change.
inline void set_xml_tree_walk_forced(bool forced) noexcept {
  detail::xml_tree_walk_slot().store(forced);
}

inline bool xml_tree_walk_forced() noexcept {
  return detail::xml_tree_walk_slot().load();
}

}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_HOOKS_HPP_

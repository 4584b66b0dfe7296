// Test hooks of the reference host: everything that only tests, fuzzers and
// diagnosis use, kept out of the headers an embedding program includes. Left
// alone they cost one atomic load (the regular-expression and XML hooks) or
// one thread-local counter (the store) where they are consulted.
#ifndef TARVIK_OX_REFHOST_TESTING_HPP_
#define TARVIK_OX_REFHOST_TESTING_HPP_

#include <atomic>
#include <cstddef>
#include <string>

#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace ox_refhost {

// --- Calls into RE2 ---------------------------------------------------------
//
// RE2 is not exception-safe: when an allocation inside it fails, it leaks
// what it had built. A test that makes allocations fail on purpose therefore
// has to let every allocation inside RE2 succeed; the regular-expression
// functions announce each call into RE2 (compiling a pattern, matching a
// text) through this hook so that such a test can pause its injection for
// the duration.

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

// --- The cache of compiled patterns behind ox_regex_create -------------------

struct regex_cache_stats {
  std::size_t hits = 0;
  std::size_t misses = 0;
  std::size_t entries = 0;
};

// Process-wide.
regex_cache_stats regex_cache_statistics();
void clear_regex_cache();

// --- How an XML load is checked ---------------------------------------------
//
// An XML load checks a document through one scan of its raw text; only a
// document with a declaration (DOCTYPE), which the scan reads approximately,
// is checked by a walk over the whole built tree. Forcing that walk for every
// load lets a test compare both ways of checking the same document.

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

// --- The installed-application store ----------------------------------------
//
// Calls of the store functions made on this thread so far, and ways to make
// the next ox_registry_store_create on this thread, or the next scan of an
// in-memory source, fail, so that the library's handling of those failures
// can be observed.

struct store_call_counts {
  std::size_t create_calls = 0;
  std::size_t release_calls = 0;       // all calls, with a null store included
  std::size_t null_release_calls = 0;  // calls with a null store
};
store_call_counts store_calls_on_this_thread();
void fail_next_store_create(ox_error_e code);

// The next read of `source` fails once with `code` (which must not be OX_OK)
// and `message` (a default naming the code when empty); later reads succeed.
// Thread-safe.
void fail_next_scan(memory_store_source& source, ox_error_e code, std::string message = {});

}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_TESTING_HPP_

// What the pieces of the reference host's store share (store.hpp):
//   store.cpp          the C interface (ox_registry_store_*, ox_application_*)
//   store_sources.cpp  the sources, the process-wide and per-thread choice
//                      of source, and the thread's scan state
//   store_json.cpp     the JSON inventory reader
//   store_dpkg.cpp     the dpkg status reader and dpkg_version_text
//   store_testing.cpp  the test hooks (testing.hpp)
#ifndef TARVIK_OX_REFHOST_SRC_STORE_INTERNAL_HPP_
#define TARVIK_OX_REFHOST_SRC_STORE_INTERNAL_HPP_

#include <memory>
#include <string>
#include <string_view>

#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox_refhost/store.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox_refhost {
namespace store_internal {

struct thread_store_state {
  bool override_active = false;
  std::shared_ptr<store_source> override_source;
  std::string last_error;
  store_call_counts counts;
  ox_error_e fail_next_create = OX_OK;
  // The code of the last ox_registry_store_create on this thread when it
  // failed: the scan of the null store it left reports it.
  ox_error_e last_create_failure = OX_OK;
};

thread_store_state& this_thread_state();

// Records the reason of a failed scan; the scan's code is reported even when
// the message itself cannot be stored.
void set_last_error(std::string message) noexcept;
void set_last_error(const char* message) noexcept;

inline bool is_control(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

inline bool has_control(std::string_view text) {
  for (unsigned char c : text) {
    if (is_control(c)) {
      return true;
    }
  }
  return false;
}

// Messages end up on terminals and in JSON; bytes of the input quoted by the
// JSON parser may be anything.
inline std::string printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (is_control(c) || c >= 0x80) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace store_internal
}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_SRC_STORE_INTERNAL_HPP_

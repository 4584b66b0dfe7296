// The store's test hooks (testing.hpp).
#include <mutex>
#include <string>
#include <utility>

#include "store_internal.hpp"
#include "tarvik/ox_refhost/store.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox_refhost {

void fail_next_scan(memory_store_source& source, ox_error_e code, std::string message) {
  std::lock_guard<std::mutex> lock(source.mutex_);
  source.fail_code_ = code;
  source.fail_message_ = std::move(message);
}

store_call_counts store_calls_on_this_thread() {
  return store_internal::this_thread_state().counts;
}

void fail_next_store_create(ox_error_e code) {
  store_internal::this_thread_state().fail_next_create = code;
}

}  // namespace ox_refhost
}  // namespace tarvik

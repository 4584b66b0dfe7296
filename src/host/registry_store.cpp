#include "tarvik/ox/registry_store.hpp"

#include "core/failure.hpp"
#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {
namespace {

// A host may hand out null for a text it does not have; callers always get a
// string. Running out of memory while copying is reported the way every
// other unexpected failure of the library is.
std::string copy_host_text(const char* text) {
  if (text == nullptr) {
    return std::string();
  }
  return internal::only_pm_exception([&] { return std::string(text); });
}

}  // namespace

std::string application::get_software_id() const {
  return copy_host_text(ox_application_get_software_id(handle));
}

std::string application::get_version() const {
  return copy_host_text(ox_application_get_version(handle));
}

registry_store::registry_store() {
  // A failed creation leaves the handle as the host wrote it (null); the scan
  // then reports the failure with the host's own code.
  static_cast<void>(ox_registry_store_create(&store_handle));
}

registry_store::~registry_store() {
  static_cast<void>(ox_registry_store_release(store_handle));
}

void registry_store::scan() {
  const int code = ox_registry_store_scan(store_handle);
  if (code != OX_OK) {
    throw pm_exception(static_cast<ox_error_e>(code));
  }
}

std::shared_ptr<application> registry_store::next_application(
    const std::shared_ptr<application>& previous) {
  const ox_application_s* previous_handle =
      previous != nullptr ? previous->get_application() : nullptr;
  const ox_application_s* next =
      ox_registry_store_get_next_application(store_handle, previous_handle);
  return internal::only_pm_exception([&] { return std::make_shared<application>(next); });
}

}  // namespace ox
}  // namespace tarvik

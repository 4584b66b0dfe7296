#include "tarvik/ox/system_software_database_manager.hpp"

#include <memory>
#include <new>
#include <utility>

#include "core/failure.hpp"
#include "host/log.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/registry_store.hpp"

namespace tarvik {
namespace ox {
namespace {

// Software that the management agent itself installs; it is never offered to
// a resolution as installed software.
bool is_excluded_id(const std::string& id) {
  static const char* const kExcluded[] = {"SHRSYNC_3000", "KLX_____1000", "ORQHOST_3000META"};
  for (const char* excluded : kExcluded) {
    if (id == excluded) {
      return true;
    }
  }
  return false;
}

}  // namespace

system_software_database_manager::system_software_database_manager(ox_context_s* context)
    : context(context) {}

system_software_database_manager::~system_software_database_manager() = default;

void system_software_database_manager::rescan() {
  try {
    registry_store store;
    store.scan();

    // Declared after the store, so released before it: its handle belongs to
    // the store.
    std::shared_ptr<application> cursor = std::make_shared<application>(nullptr);
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, internal::kTagSoftwareDatabase, "rescan",
           "getting installed software list from system");

    // The new list is built aside and swapped in whole, so that a failure in
    // the middle of the walk leaves the previous list as it was.
    std::vector<software> products;
    cursor = store.next_application(cursor);
    while (cursor->get_application() != nullptr) {
      const std::string version_text = cursor->get_version();
      const std::string id = cursor->get_software_id();
      if (!version_text.empty() && !is_excluded_id(id)) {
        products.emplace_back(id, version(version_text));
        OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, internal::kTagSoftwareDatabase, "rescan",
               "installed software id: %s, version: %s", id.c_str(), version_text.c_str());
      }
      cursor = store.next_application(cursor);
    }
    installed_products.swap(products);
  } catch (...) {
    internal::rethrow_as_pm_exception();
  }
}

software system_software_database_manager::find(const std::string& id) const {
  for (const software& entry : installed_products) {
    if (entry.id == id) {
      return internal::only_pm_exception([&] { return entry; });
    }
  }
  throw pm_exception(OX_ERROR_NOT_FOUND);
}

void system_software_database_manager::set_installed_products(std::vector<software> products) {
  installed_products = std::move(products);
}

}  // namespace ox
}  // namespace tarvik

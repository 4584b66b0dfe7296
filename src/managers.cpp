#include "tarvik/ox/managers.hpp"

#include <utility>

#include "core/failure.hpp"
#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {

managers make_managers(ox_context_s* context, const std::string& platform) try {
  auto catalog = std::make_shared<package_spec_manager>(context);
  catalog->set_platform(platform);
  return make_managers(context, std::move(catalog));
} catch (...) {
  internal::rethrow_as_pm_exception();
}

managers make_managers(ox_context_s* context, std::shared_ptr<package_spec_manager> catalog) try {
  if (catalog == nullptr) {
    throw pm_exception(OX_ERROR_INVALID_ARGUMENT);
  }
  managers set;
  set.spec = std::move(catalog);
  set.repo = std::make_shared<software_repo_manager>(context);
  set.softdb = std::make_shared<system_software_database_manager>(context);
  set.dependency = std::make_shared<software_dependency_manager>(context);
  set.conflicts = std::make_shared<software_conflict_manager>(context);
  set.package = std::make_shared<package_manager>(context);
  set.dependency->set_spec_mgr(set.spec);
  set.dependency->set_repo_manager(set.repo);
  set.dependency->set_softdb_manager(set.softdb);
  set.conflicts->set_spec_mgr(set.spec);
  set.conflicts->set_repo_manager(set.repo);
  set.conflicts->set_softdb_manager(set.softdb);
  set.package->set_spec_mgr(set.spec);
  set.package->set_repo_manager(set.repo);
  set.package->set_softdb_manager(set.softdb);
  set.package->set_conflict_manager(set.conflicts);
  set.package->set_dependency_manager(set.dependency);
  return set;
} catch (...) {
  internal::rethrow_as_pm_exception();
}

}  // namespace ox
}  // namespace tarvik

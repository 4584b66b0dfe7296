// The six managers, wired as a host wires them: the package manager holds all
// five others; the dependency and conflict managers hold the catalog, the
// repository and the software database.
#ifndef TARVIK_OX_TESTS_SUPPORT_WIRED_MANAGERS_HPP_
#define TARVIK_OX_TESTS_SUPPORT_WIRED_MANAGERS_HPP_

#include <memory>

#include "tarvik/ox/ox.hpp"

namespace tarvik {
namespace ox_test {

struct wired_managers {
  explicit wired_managers(ox_context_s* context)
      : spec(std::make_shared<ox::package_spec_manager>(context)),
        repo(std::make_shared<ox::software_repo_manager>(context)),
        softdb(std::make_shared<ox::system_software_database_manager>(context)),
        dependency(std::make_shared<ox::software_dependency_manager>(context)),
        conflicts(std::make_shared<ox::software_conflict_manager>(context)),
        package(std::make_shared<ox::package_manager>(context)) {
    dependency->set_spec_mgr(spec);
    dependency->set_repo_manager(repo);
    dependency->set_softdb_manager(softdb);
    conflicts->set_spec_mgr(spec);
    conflicts->set_repo_manager(repo);
    conflicts->set_softdb_manager(softdb);
    package->set_spec_mgr(spec);
    package->set_repo_manager(repo);
    package->set_softdb_manager(softdb);
    package->set_conflict_manager(conflicts);
    package->set_dependency_manager(dependency);
  }

  std::shared_ptr<ox::package_spec_manager> spec;
  std::shared_ptr<ox::software_repo_manager> repo;
  std::shared_ptr<ox::system_software_database_manager> softdb;
  std::shared_ptr<ox::software_dependency_manager> dependency;
  std::shared_ptr<ox::software_conflict_manager> conflicts;
  std::shared_ptr<ox::package_manager> package;
};

}  // namespace ox_test
}  // namespace tarvik

#endif  // TARVIK_OX_TESTS_SUPPORT_WIRED_MANAGERS_HPP_

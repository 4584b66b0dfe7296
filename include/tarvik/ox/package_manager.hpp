// The entry point of a resolution. It builds the working lists from the
// host's request, has the installed software rescanned, runs the dependency
// and conflict stages of whichever collaborators are set, and returns the
// resolved list.
//
// Threads: one operation at a time per set of managers (this manager and the
// ones wired to it), on any thread; sets of their own resolve on different
// threads at once, and may share one catalog manager (package_spec_manager.hpp).
#ifndef TARVIK_OX_PACKAGE_MANAGER_HPP_
#define TARVIK_OX_PACKAGE_MANAGER_HPP_

#include <memory>
#include <vector>

#include "tarvik/ox/fwd.hpp"
#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox/software.hpp"

namespace tarvik {
namespace ox {

class package_manager {
 public:
  // `context` is kept, not owned; it serves only to fetch the logger.
  explicit package_manager(ox_context_s* context);
  package_manager(const package_manager&) = delete;
  package_manager& operator=(const package_manager&) = delete;
  ~package_manager();

  // Share ownership; each replaces the one held before. The dependency
  // manager must read the same software database as this one rescans.
  void set_spec_mgr(const std::shared_ptr<package_spec_manager>& mgr);
  void set_repo_manager(const std::shared_ptr<software_repo_manager>& mgr);
  void set_softdb_manager(const std::shared_ptr<system_software_database_manager>& mgr);
  void set_conflict_manager(const std::shared_ptr<software_conflict_manager>& mgr);
  void set_dependency_manager(const std::shared_ptr<software_dependency_manager>& mgr);

  // Resolves the request (the uninstall list first). Throws pm_exception
  // only: OX_ERROR_INVALID_ARGUMENT for an empty request, the store's code
  // when the rescan fails, OX_ERROR_UNEXPECTED for any other failure. Logs
  // the request and each stage.
  std::vector<installing_software> resolve(const std::vector<software>& uninstall_list,
                                           const std::vector<software>& install_list);

  // Through the conflict manager; false when none is set.
  bool is_conflicted(const std::vector<installing_software>& list) const;
  // Through the dependency manager; false when none is set.
  bool is_incompatible(const std::vector<installing_software>& list) const;

 private:
  std::shared_ptr<package_spec_manager> spec_mgr;
  std::shared_ptr<software_repo_manager> repo_manager;
  std::shared_ptr<system_software_database_manager> softdb_manager;
  std::shared_ptr<software_conflict_manager> conflict_manager;
  std::shared_ptr<software_dependency_manager> dependency_manager;
  ox_context_s* context;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_PACKAGE_MANAGER_HPP_

// The dependency stage of a resolution: merges the installed software with
// the request and checks each install entry, in request order, for obsolete
// versions, uninstalls, dependencies and compatibilities. Failed checks are
// findings recorded in the entries, never exceptions.
//
// Threads: one check at a time per manager, while nothing changes the
// database it reads; the catalog manager it looks entries up in may be shared
// with managers on other threads (package_spec_manager.hpp). Each check logs
// through the manager's own context on the calling thread.
#ifndef TARVIK_OX_SOFTWARE_DEPENDENCY_MANAGER_HPP_
#define TARVIK_OX_SOFTWARE_DEPENDENCY_MANAGER_HPP_

#include <cstddef>
#include <memory>
#include <vector>

#include "tarvik/ox/fwd.hpp"
#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox/software.hpp"
#include "tarvik/ox/spec.hpp"

namespace tarvik {
namespace ox {

class software_dependency_manager {
 public:
  // `context` is kept, not owned; it serves only to fetch the logger.
  explicit software_dependency_manager(ox_context_s* context);
  software_dependency_manager(const software_dependency_manager&) = delete;
  software_dependency_manager& operator=(const software_dependency_manager&) = delete;
  ~software_dependency_manager();

  // Share ownership; each replaces the one held before.
  void set_spec_mgr(const std::shared_ptr<package_spec_manager>& mgr);
  void set_repo_manager(const std::shared_ptr<software_repo_manager>& mgr);
  void set_softdb_manager(const std::shared_ptr<system_software_database_manager>& mgr);

  // One install entry per software, same order; checks and logs nothing.
  std::vector<installing_software> resolve_dependency(const std::vector<software>& list);
  // Some record has failed dependencies or failed compatibilities.
  bool is_incompatible(const std::vector<installing_software>& list) const;
  bool is_incompatible_dependencies(const std::vector<installing_software>& list) const;
  bool is_incompatible_product(const std::vector<installing_software>& list) const;

  // The resolved list: the installed software (state 2, plus 8 when it is to
  // be removed), then the install entries examined, in order, up to and
  // including the first that is obsolete or fails a check. When no install
  // entry stopped the walk, every installed entry that stays (state 2 without
  // 8) and loses a dependency that the request removes or replaces gets that
  // dependency in its failed_dependencies, logged at severity 2 under
  // "check_remaining_dependencies"; a dependency unmet before the request is
  // not blamed on it. Needs a spec manager and a software database: throws
  // pm_exception(OX_ERROR_INVALID_ARGUMENT) before logging anything when one
  // is missing. A catalog entry not found (OX_ERROR_NOT_FOUND) is a finding;
  // every other pm_exception travels to the caller. Logs every step; lets
  // only pm_exception escape.
  std::vector<installing_software> check_installorder_compatibility(
      const std::vector<installing_software>& uninstall_list,
      const std::vector<installing_software>& install_list);
  // A copy of the list; checks and logs nothing.
  std::vector<installing_software> resolve_installorder_compatibility(
      const std::vector<installing_software>& list);

  // The steps of the install-order check, for hosts that run them one by
  // one. Steps b) to d) look entries up in the catalog manager: without one they
  // throw pm_exception(OX_ERROR_INVALID_ARGUMENT) before logging anything.
  //
  // Step a): true when the entry's version lies in an obsoletes range of the
  // spec entry; adds SOFTWARE_STATE_UNINSTALL to the entry then.
  bool resolve_obsoletes(installing_software& entry, const software_spec& spec);
  // Step b): marks installed entries of the working list that installing the
  // entry replaces or uninstalls.
  void resolve_uninstalls(std::vector<installing_software>& working_list,
                          installing_software& entry, const software_spec& spec);
  // Step c): false at the first unmet dependency, recorded in the entry's
  // failed_dependencies. The first entry of the working list that the
  // required software's pattern recognises and that is not marked for removal
  // decides; marked entries are logged and passed over.
  bool check_product_dependency(std::vector<installing_software>& working_list,
                                installing_software& entry, const software_spec& spec);
  // Step d): false at the first failed compatibility, recorded in the entry's
  // failed_compatibilities. The install list is accepted for the wiring and
  // not consulted.
  bool check_product_compatibility(std::vector<installing_software>& working_list,
                                   installing_software& entry, const software_spec& spec,
                                   const std::vector<installing_software>& install_list);

  // Steps b) to d) scan the working list for the entries a pattern
  // recognises. By default they use an index of the list by id and, where the
  // host's optional OX_OBJECT_REGEX_LITERALS capability describes a pattern,
  // look its ids up instead of testing every entry; each pattern is compiled
  // once per scan. The first entry in list order still decides, and the
  // results and log lines are those of testing every entry in turn. For
  // testing and diagnosis, false switches to that plain walk, which asks the
  // catalog manager's find_software_id and find_orqid_in_spec for every entry.
  // Default true.
  void set_indexed_scans(bool enabled) { indexed_scans = enabled; }
  bool get_indexed_scans() const { return indexed_scans; }

  // For hosts that rely on the answers of the first release, true restores
  // them: step c) stops at the first entry the pattern recognises even when
  // it is marked for removal (so software installed earlier in the request
  // cannot satisfy a dependency on what it replaces), and the installed
  // software that stays is not checked for the dependencies the request
  // takes from it, so such a request passes. Default false.
  void set_legacy_dependency_checks(bool enabled) { legacy_dependency_checks = enabled; }
  bool get_legacy_dependency_checks() const { return legacy_dependency_checks; }

 private:
  // What the indexed scans of one check keep: the index of the working list
  // and the patterns compiled so far (see the source).
  struct scan_state;

  void require_spec_mgr() const;
  // Null for the plain walk.
  std::unique_ptr<scan_state> make_scans() const;
  void uninstalls_step(std::vector<installing_software>& working_list, installing_software& entry,
                       const software_spec& spec, scan_state* scans);
  bool dependency_step(std::vector<installing_software>& working_list, installing_software& entry,
                       const software_spec& spec, scan_state* scans);
  bool compatibility_step(std::vector<installing_software>& working_list,
                          installing_software& entry, const software_spec& spec, scan_state* scans);
  // After a walk that nothing stopped: records failed_dependencies on the
  // installed entries that stay but lose a dependency the request removes or
  // replaces, and logs each ("check_remaining_dependencies", severity 2).
  void remaining_dependencies_step(std::vector<installing_software>& resolved,
                                   std::size_t installed_count, scan_state* scans);
  static void record_unmet_dependency(installing_software& record, const software_spec* required,
                                      const depend& dependency);

  std::shared_ptr<package_spec_manager> spec_mgr;
  std::shared_ptr<software_repo_manager> repo_manager;
  std::shared_ptr<system_software_database_manager> softdb_manager;
  ox_context_s* context;
  bool indexed_scans = true;
  bool legacy_dependency_checks = false;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SOFTWARE_DEPENDENCY_MANAGER_HPP_

// The conflict stage of a resolution. Its check and resolve accept a list and
// leave it unchanged; is_conflicted reports conflicts recorded in a list. No
// operation logs or throws. Threads: it keeps no state; any operation may run
// on any thread at any time.
#ifndef TARVIK_OX_SOFTWARE_CONFLICT_MANAGER_HPP_
#define TARVIK_OX_SOFTWARE_CONFLICT_MANAGER_HPP_

#include <memory>
#include <vector>

#include "tarvik/ox/fwd.hpp"
#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox/software.hpp"

namespace tarvik {
namespace ox {

class software_conflict_manager {
 public:
  // `context` is kept, not owned, and never used.
  explicit software_conflict_manager(ox_context_s* context);
  software_conflict_manager(const software_conflict_manager&) = delete;
  software_conflict_manager& operator=(const software_conflict_manager&) = delete;
  ~software_conflict_manager();

  // Share ownership; each replaces the one held before.
  void set_spec_mgr(const std::shared_ptr<package_spec_manager>& mgr);
  void set_repo_manager(const std::shared_ptr<software_repo_manager>& mgr);
  void set_softdb_manager(const std::shared_ptr<system_software_database_manager>& mgr);

  // True when some record has a detected conflict.
  bool is_conflicted(const std::vector<installing_software>& list) const;
  // Return at once; the list is left unchanged.
  void check_conflict(std::vector<installing_software>& list);
  void resolve(std::vector<installing_software>& list);

 private:
  std::shared_ptr<package_spec_manager> spec_mgr;
  std::shared_ptr<software_repo_manager> repo_manager;
  std::shared_ptr<system_software_database_manager> softdb_manager;
  [[maybe_unused]] ox_context_s* context;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SOFTWARE_CONFLICT_MANAGER_HPP_

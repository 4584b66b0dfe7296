#include "tarvik/ox/software_conflict_manager.hpp"

#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"

namespace tarvik {
namespace ox {

software_conflict_manager::software_conflict_manager(ox_context_s* context) : context(context) {}

software_conflict_manager::~software_conflict_manager() = default;

void software_conflict_manager::set_spec_mgr(const std::shared_ptr<package_spec_manager>& mgr) {
  spec_mgr = mgr;
}

void software_conflict_manager::set_repo_manager(
    const std::shared_ptr<software_repo_manager>& mgr) {
  repo_manager = mgr;
}

void software_conflict_manager::set_softdb_manager(
    const std::shared_ptr<system_software_database_manager>& mgr) {
  softdb_manager = mgr;
}

bool software_conflict_manager::is_conflicted(const std::vector<installing_software>& list) const {
  for (const installing_software& record : list) {
    if (!record.detected_conflicts.empty()) {
      return true;
    }
  }
  return false;
}

void software_conflict_manager::check_conflict(std::vector<installing_software>& /*list*/) {}

void software_conflict_manager::resolve(std::vector<installing_software>& /*list*/) {}

}  // namespace ox
}  // namespace tarvik

#include "tarvik/ox/software_repo_manager.hpp"

namespace tarvik {
namespace ox {

software_repo_manager::software_repo_manager(ox_context_s* context) : context(context) {}

software_repo_manager::~software_repo_manager() = default;

// The repository is part of the wiring only: nothing in a resolution reads
// packages from it, so it keeps none.
void software_repo_manager::load() {}

void software_repo_manager::add(const software_package& /*package*/) {}

void software_repo_manager::clear() {}

software_package software_repo_manager::find(const std::string& /*id*/,
                                             const std::string& /*version_text*/) const {
  return software_package();
}

}  // namespace ox
}  // namespace tarvik

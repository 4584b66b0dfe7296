// The six managers of one resolution set, constructed and wired as a host
// wires them at start-up: each with the same context; the package manager
// holds the five others; the dependency and conflict managers hold the
// catalog manager, the repository and the one installed-software database
// that the package manager rescans.
#ifndef TARVIK_OX_MANAGERS_HPP_
#define TARVIK_OX_MANAGERS_HPP_

#include <memory>
#include <string>

#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox/package_manager.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/software_conflict_manager.hpp"
#include "tarvik/ox/software_dependency_manager.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"

namespace tarvik {
namespace ox {

struct managers {
  std::shared_ptr<package_spec_manager> spec;
  std::shared_ptr<software_repo_manager> repo;
  std::shared_ptr<system_software_database_manager> softdb;
  std::shared_ptr<software_dependency_manager> dependency;
  std::shared_ptr<software_conflict_manager> conflicts;
  std::shared_ptr<package_manager> package;
};

// A new set whose catalog manager has `platform` set and nothing imported.
// `context` is kept by every manager, not owned. Logs nothing; throws
// pm_exception(OX_ERROR_UNEXPECTED) when memory runs out.
managers make_managers(ox_context_s* context, const std::string& platform);

// A new set around a catalog manager that already holds its catalog, shared
// with other sets and left as it is (platform included). Its look-ups only
// read, so sets on different threads may share it while nothing imports into
// it or adds to it (see package_spec_manager). Throws as above, and
// pm_exception(OX_ERROR_INVALID_ARGUMENT) for a null catalog.
managers make_managers(ox_context_s* context, std::shared_ptr<package_spec_manager> catalog);

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_MANAGERS_HPP_

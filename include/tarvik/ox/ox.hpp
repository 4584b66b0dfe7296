// Everything a host needs to embed the library.
#ifndef TARVIK_OX_OX_HPP_
#define TARVIK_OX_OX_HPP_

#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox/managers.hpp"
#include "tarvik/ox/package_manager.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/registry_store.hpp"
#include "tarvik/ox/software.hpp"
#include "tarvik/ox/software_conflict_manager.hpp"
#include "tarvik/ox/software_dependency_manager.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/spec.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"
#include "tarvik/ox/version.hpp"
#include "tarvik/ox/xml.hpp"

#endif  // TARVIK_OX_OX_HPP_

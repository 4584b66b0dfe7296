#include "tarvik/ox/software_dependency_manager.hpp"

#include <string>

#include "host/log.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"

namespace tarvik {
namespace ox {
namespace {

constexpr const char* kTag = internal::kTagDependencyManager;

const char* found_text(bool found, const char* yes, const char* no) {
  return found ? yes : no;
}

}  // namespace

software_dependency_manager::software_dependency_manager(ox_context_s* context)
    : context(context) {}

software_dependency_manager::~software_dependency_manager() = default;

void software_dependency_manager::set_spec_mgr(const std::shared_ptr<package_spec_manager>& mgr) {
  spec_mgr = mgr;
}

void software_dependency_manager::set_repo_manager(
    const std::shared_ptr<software_repo_manager>& mgr) {
  repo_manager = mgr;
}

void software_dependency_manager::set_softdb_manager(
    const std::shared_ptr<system_software_database_manager>& mgr) {
  softdb_manager = mgr;
}

std::vector<installing_software> software_dependency_manager::resolve_dependency(
    const std::vector<software>& list) {
  std::vector<installing_software> result;
  result.reserve(list.size());
  for (const software& sw : list) {
    result.emplace_back(sw);
  }
  return result;
}

bool software_dependency_manager::is_incompatible(
    const std::vector<installing_software>& list) const {
  for (const installing_software& record : list) {
    if (!record.failed_dependencies.empty() || !record.failed_compatibilities.empty()) {
      return true;
    }
  }
  return false;
}

bool software_dependency_manager::is_incompatible_dependencies(
    const std::vector<installing_software>& list) const {
  for (const installing_software& record : list) {
    if (!record.failed_dependencies.empty()) {
      return true;
    }
  }
  return false;
}

bool software_dependency_manager::is_incompatible_product(
    const std::vector<installing_software>& list) const {
  for (const installing_software& record : list) {
    if (!record.failed_compatibilities.empty()) {
      return true;
    }
  }
  return false;
}

void software_dependency_manager::require_spec_mgr() const {
  if (spec_mgr == nullptr) {
    throw pm_exception(OX_ERROR_INVALID_ARGUMENT);
  }
}

std::vector<installing_software> software_dependency_manager::check_installorder_compatibility(
    const std::vector<installing_software>& uninstall_list,
    const std::vector<installing_software>& install_list) {
  static const char kFunction[] = "check_installorder_compatibility";
  // Without either collaborator there is nothing to check against; say so
  // before anything is logged or built rather than resolving half a request.
  if (spec_mgr == nullptr || softdb_manager == nullptr) {
    throw pm_exception(OX_ERROR_INVALID_ARGUMENT);
  }

  const std::vector<software> installed = softdb_manager->get_installed_product_list();

  std::vector<installing_software> resolved;
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
         "checking install order compatibility");

  resolved.reserve(installed.size() + install_list.size());
  for (const software& sw : installed) {
    resolved.emplace_back(sw, SOFTWARE_STATE_INSTALLED);
  }

  for (const installing_software& removal : uninstall_list) {
    for (installing_software& entry : resolved) {
      if (entry.id == removal.id) {
        entry.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
      }
    }
  }

  int counter = 0;
  for (const installing_software& requested : install_list) {
    installing_software working = requested;
    // A missing specification entry drops this install entry and the walk
    // goes on. Only the library's own errors are findings of this kind: an
    // allocation failure must not pass for a missing entry (and silently
    // shorten the result), so it travels on to the caller.
    try {
      OX_LOG_BLANK(context, kTag, kFunction);
      ++counter;
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "[%d] checking install order compatibility for <%s>", counter, working.id.c_str());
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction, "getting spec entry for <%s>",
             working.id.c_str());

      const software_spec spec = spec_mgr->find(static_cast<software>(working));
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "Entry found in spec file with id:<%s>, orqids:<%s>, name:<%s>", spec.sref.c_str(),
             spec.softwareids.c_str(), spec.name.c_str());

      if (resolve_obsoletes(working, spec)) {
        resolved.push_back(std::move(working));
        break;
      }

      resolve_uninstalls(resolved, working, spec);

      if (!check_product_dependency(resolved, working, spec)) {
        OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "dependency fail for <%s>",
               working.id.c_str());
        resolved.push_back(std::move(working));
        break;
      }
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "dependency check success for <%s>, now checking compatibility.", working.id.c_str());

      if (!check_product_compatibility(resolved, working, spec, install_list)) {
        OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "compatibility fail for <%s>",
               working.id.c_str());
        resolved.push_back(std::move(working));
        break;
      }
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction, "compatibility success for <%s>",
             working.id.c_str());
      resolved.push_back(std::move(working));
    } catch (const pm_exception&) {
      OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "Entry not found in spec.");
    }
  }
  return resolved;
}

std::vector<installing_software> software_dependency_manager::resolve_installorder_compatibility(
    const std::vector<installing_software>& list) {
  return list;
}

bool software_dependency_manager::resolve_obsoletes(installing_software& entry,
                                                    const software_spec& spec) {
  static const char kFunction[] = "resolve_obsoletes";
  const std::string version_text = entry.version.getversion();
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
         "step a). checking resolve obsoletes for <%s>, version: %s", entry.id.c_str(),
         version_text.c_str());
  bool obsolete = false;
  for (const version_ranges& ranges : spec.obsoletes) {
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction, "checking with versions range: %s",
           ranges.get().c_str());
    if (ranges.is_within(entry.version)) {
      obsolete = true;
      entry.state |= SOFTWARE_STATE_UNINSTALL;
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "This is an obsolete version <%s>.", version_text.c_str());
    }
  }
  return obsolete;
}

void software_dependency_manager::resolve_uninstalls(std::vector<installing_software>& working_list,
                                                     installing_software& entry,
                                                     const software_spec& spec) {
  static const char kFunction[] = "resolve_uninstalls";
  require_spec_mgr();
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
         "step b). checking resolve uninstalls for <%s>", entry.id.c_str());
  for (installing_software& candidate : working_list) {
    // Install entries accepted earlier in the walk are never replaced here.
    if (!has_state(candidate.state, SOFTWARE_STATE_INSTALLED)) {
      continue;
    }
    if (candidate.id == entry.id || candidate.id == spec.sref) {
      candidate.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
      continue;
    }
    for (const software& product : spec.uninstalls) {
      if (spec_mgr->find_orqid_in_spec(candidate.id, product.id)) {
        OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
               "Found uninstall product <%s> and orqid: <%s> installed, marking this uninstall",
               product.id.c_str(), candidate.id.c_str());
        candidate.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
      }
    }
  }
}

bool software_dependency_manager::check_product_dependency(
    std::vector<installing_software>& working_list, installing_software& entry,
    const software_spec& spec) {
  static const char kFunction[] = "check_product_dependency";
  require_spec_mgr();
  bool result = true;
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
         "step c). checking dependency for <%s>", entry.id.c_str());

  for (const depend& dependency : spec.depends) {
    bool dependency_found = false;
    bool version_found = false;
    software_spec required;
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
           "dependency check for <%s> against id <%s>, version: <%s>", entry.id.c_str(),
           dependency.sref.c_str(), dependency.versions.get().c_str());
    try {
      required = spec_mgr->find_id(dependency.sref);
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "spec found for <%s>, orqid: <%s>, version: <%s>", dependency.sref.c_str(),
             required.softwareids.c_str(), required.versions.get().c_str());
      // Only the first entry the pattern recognises counts, even when it is
      // marked for removal and a later one would do.
      for (const installing_software& candidate : working_list) {
        if (!spec_mgr->find_software_id(required.softwareids, candidate.id)) {
          continue;
        }
        const std::string candidate_version = candidate.version.getversion();
        OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
               "<%s> is installed in system, with version: <%s>", candidate.id.c_str(),
               candidate_version.c_str());
        if (has_state(candidate.state, SOFTWARE_STATE_MARKED_UNINSTALL)) {
          OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
                 "<%s> software with version: <%s> is marked as uninstall.", candidate.id.c_str(),
                 candidate_version.c_str());
        } else {
          dependency_found = true;
          if (dependency.versions.is_within(candidate.version)) {
            OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
                   "[pass]<%s> is installed in system, with version: <%s>, version check success.",
                   candidate.id.c_str(), candidate_version.c_str());
            version_found = true;
          } else {
            OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction,
                   "[fail]<%s> is installed in system, with version: <%s>, version check fail.",
                   candidate.id.c_str(), candidate_version.c_str());
          }
        }
        break;
      }
    } catch (const pm_exception&) {
      OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "Entry not found in spec.");
    }

    if (dependency_found && version_found) {
      continue;
    }
    result = false;
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
           "dependency check for <%s> against <%s> failed <reason: %s,%s >", entry.id.c_str(),
           dependency.sref.c_str(), found_text(dependency_found, "dep found", "dep not found"),
           found_text(version_found, "ver found", "ver not found"));
    // The finding names the software by the pattern it is recognised by, and
    // the lowest version of the first required range.
    entry.failed_dependencies.emplace_back(required.softwareids, version(dependency.versions.get()),
                                           dependency.version_text);
    break;
  }
  return result;
}

bool software_dependency_manager::check_product_compatibility(
    std::vector<installing_software>& working_list, installing_software& entry,
    const software_spec& spec, const std::vector<installing_software>& /*install_list*/) {
  static const char kFunction[] = "check_product_compatibility";
  require_spec_mgr();
  bool result = true;
  // The library's own errors inside a check end it with the result as it
  // stands; anything else (memory exhaustion) must reach the caller rather
  // than let an unchecked relation pass.
  try {
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
           "step d). checking compatibility for <%s>", entry.id.c_str());

    for (const compatible& relation : spec.compatibles) {
      bool installed = false;
      bool version_found = false;
      bool acceptable = true;
      const installing_software* current = nullptr;
      const std::string relation_versions = relation.versions.get();
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "compatibility check for <%s> against id <%s>, version <%s>", entry.id.c_str(),
             relation.sref.c_str(), relation_versions.c_str());
      try {
        const software_spec other = spec_mgr->find_id(relation.sref);
        OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
               "spec found for <%s>, orqid: <%s>, version: <%s>", relation.sref.c_str(),
               other.softwareids.c_str(), relation_versions.c_str());
        // Entries marked for removal are passed over: the first present one
        // decides.
        for (std::size_t i = 0; i < working_list.size() && acceptable; ++i) {
          current = &working_list[i];
          if (!spec_mgr->find_software_id(other.softwareids, current->id)) {
            continue;
          }
          if (has_state(current->state, SOFTWARE_STATE_MARKED_UNINSTALL)) {
            OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
                   "software id <%s> is marked as uninstall", current->id.c_str());
            continue;
          }
          installed = true;
          acceptable = false;
          if (relation.versions.is_within(current->version)) {
            version_found = true;
            acceptable = true;
            break;
          }
        }
      } catch (const pm_exception&) {
        OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "Entry not found in spec.");
      }

      const char* installed_text =
          found_text(installed, "software installed", "software not installed or marked uninstall");
      const char* version_text = found_text(version_found, "ver found", "ver not found");
      if (acceptable) {
        OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
               "[pass] compatibility check for <%s> passed. %s, %s", entry.id.c_str(),
               installed_text, version_text);
        if (installed) {
          OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
                 "[pass] software id <%s>, installed version:%s ", current->id.c_str(),
                 current->version.getversion().c_str());
        }
        continue;
      }

      // Failing needs a present, unmarked candidate, so `current` is set.
      const std::string current_version = current->version.getversion();
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "[failed] compatibility check for <%s> software id <%s>,installed version:%s,  "
             "<reason: %s,%s >",
             entry.id.c_str(), current->id.c_str(), current_version.c_str(), installed_text,
             version_text);
      entry.failed_compatibilities.emplace_back(current->id, current->version, std::string());
      result = false;
      break;
    }
  } catch (const pm_exception&) {
    OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "excepetion occurred.");
  }
  return result;
}

}  // namespace ox
}  // namespace tarvik

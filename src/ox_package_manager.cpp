#include "tarvik/ox/package_manager.hpp"

#include <string>

#include "core/failure.hpp"
#include "host/log.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/software_conflict_manager.hpp"
#include "tarvik/ox/software_dependency_manager.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"

namespace tarvik {
namespace ox {
namespace {

constexpr const char* kTag = internal::kTagPackageManager;
constexpr const char kResolve[] = "resolve";

// Builds the working list of one side of the request and its log text,
// "id(a.b.c.d); " per software.
void build_working_list(const std::vector<software>& request, software_state state,
                        std::vector<installing_software>& working, std::string& text) {
  working.reserve(request.size());
  for (const software& sw : request) {
    working.emplace_back(sw, state);
    text += sw.id;
    text += '(';
    text += sw.version.getversion();
    text += "); ";
  }
}

}  // namespace

package_manager::package_manager(ox_context_s* context) : context(context) {}

package_manager::~package_manager() = default;

void package_manager::set_spec_mgr(const std::shared_ptr<package_spec_manager>& mgr) {
  spec_mgr = mgr;
}

void package_manager::set_repo_manager(const std::shared_ptr<software_repo_manager>& mgr) {
  repo_manager = mgr;
}

void package_manager::set_softdb_manager(
    const std::shared_ptr<system_software_database_manager>& mgr) {
  softdb_manager = mgr;
}

void package_manager::set_conflict_manager(const std::shared_ptr<software_conflict_manager>& mgr) {
  conflict_manager = mgr;
}

void package_manager::set_dependency_manager(
    const std::shared_ptr<software_dependency_manager>& mgr) {
  dependency_manager = mgr;
}

std::vector<installing_software> package_manager::resolve(
    const std::vector<software>& uninstall_list, const std::vector<software>& install_list) {
  try {
    std::vector<installing_software> result;
    std::vector<installing_software> install_working;
    std::vector<installing_software> uninstall_working;
    std::string install_text;
    std::string uninstall_text;
    build_working_list(install_list, SOFTWARE_STATE_INSTALL, install_working, install_text);
    build_working_list(uninstall_list, SOFTWARE_STATE_UNINSTALL, uninstall_working, uninstall_text);

    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kResolve,
           "resolving installing softwares <%s>, uninstalling softwares <%s>", install_text.c_str(),
           uninstall_text.c_str());

    if (install_list.empty() && uninstall_list.empty()) {
      OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kResolve,
             "Install and uninstall lists are null");
      throw pm_exception(OX_ERROR_INVALID_ARGUMENT);
    }

    if (softdb_manager != nullptr) {
      softdb_manager->rescan();
    }

    if (dependency_manager != nullptr) {
      result =
          dependency_manager->check_installorder_compatibility(uninstall_working, install_working);
      OX_LOG_BLANK(context, kTag, kResolve);
    }

    if (conflict_manager != nullptr) {
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kResolve,
             "check_conflict <start> for only installing software.");
      conflict_manager->check_conflict(result);
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kResolve, "check_conflict <ends>");
      OX_LOG_BLANK(context, kTag, kResolve);
    }
    return result;
  } catch (...) {
    internal::rethrow_as_pm_exception();
  }
}

bool package_manager::is_conflicted(const std::vector<installing_software>& list) const {
  return conflict_manager != nullptr && conflict_manager->is_conflicted(list);
}

bool package_manager::is_incompatible(const std::vector<installing_software>& list) const {
  return dependency_manager != nullptr && dependency_manager->is_incompatible(list);
}

}  // namespace ox
}  // namespace tarvik

// A whole resolution whose catalog, installed software and request all
// come from the input, with the six managers wired as a host wires them. The
// input is three parts separated by a line "####":
//
//   <catalog XML>
//   ####
//   <JSON inventory of the installed software; empty: nothing installed>
//   ####
//   <platform>
//   +<id><TAB><version>      one software to install, in order
//   -<id><TAB><version>      one software to uninstall
//
// Whatever the parts hold, resolve returns a list of the promised shape or
// throws pm_exception with a code that the inputs explain; a second
// resolution of the same request gives the same list, and so do managers that
// walk the lists plainly instead of using their look-up indexes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "support/wired_managers.hpp"
#include "tarvik/ox/package_manager.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/software_conflict_manager.hpp"
#include "tarvik/ox/software_dependency_manager.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"
#include "tarvik/ox_refhost/context.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace {

using namespace tarvik::ox;
using tarvik::ox_fuzz::require;
using tarvik::ox_refhost::installed_application;

constexpr char kSeparator[] = "\n####\n";

// The inventory text, read anew at every scan as a file source would.
class text_source : public tarvik::ox_refhost::store_source {
 public:
  explicit text_source(std::string text) : text_(std::move(text)) {}
  ox_error_e read(std::vector<installed_application>& out, std::string& error) override {
    return tarvik::ox_refhost::parse_inventory_json(text_, out, error);
  }

 private:
  std::string text_;
};

struct fuzz_input {
  std::string spec;
  std::string inventory;
  std::string platform;
  std::vector<software> install;
  std::vector<software> uninstall;
};

std::vector<std::string> split_parts(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (parts.size() < 2) {
    const std::size_t at = text.find(kSeparator, start);
    if (at == std::string::npos) {
      break;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + sizeof(kSeparator) - 1;
  }
  parts.push_back(text.substr(start));
  parts.resize(3);
  return parts;
}

fuzz_input read_input(const std::string& text) {
  std::vector<std::string> parts = split_parts(text);
  fuzz_input input;
  input.spec = std::move(parts[0]);
  input.inventory = std::move(parts[1]);
  const std::string& request = parts[2];
  std::size_t start = 0;
  bool first_line = true;
  while (start <= request.size()) {
    std::size_t end = request.find('\n', start);
    if (end == std::string::npos) {
      end = request.size();
    }
    const std::string line = request.substr(start, end - start);
    start = end + 1;
    if (first_line) {
      input.platform = line;
      first_line = false;
      continue;
    }
    if (line.empty() || (line[0] != '+' && line[0] != '-')) {
      continue;
    }
    const std::size_t tab = line.find('\t');
    const std::string id = line.substr(1, tab == std::string::npos ? std::string::npos : tab - 1);
    const std::string version_text = tab == std::string::npos ? "" : line.substr(tab + 1);
    (line[0] == '+' ? input.install : input.uninstall).emplace_back(id, version(version_text));
  }
  return input;
}

bool is_excluded_id(const std::string& id) {
  return id == "SHRSYNC_3000" || id == "KLX_____1000" || id == "ORQHOST_3000META";
}

bool same_version(const version& a, const version& b) {
  return a <= b && a >= b;
}

bool same_list(const std::vector<software>& a, const std::vector<software>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].id != b[i].id || !same_version(a[i].version, b[i].version) ||
        a[i].version_text != b[i].version_text || a[i].name != b[i].name) {
      return false;
    }
  }
  return true;
}

bool same_result(const std::vector<installing_software>& a,
                 const std::vector<installing_software>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].id != b[i].id || !same_version(a[i].version, b[i].version) ||
        a[i].state != b[i].state || a[i].reserved != b[i].reserved ||
        !same_list(a[i].failed_dependencies, b[i].failed_dependencies) ||
        !same_list(a[i].failed_compatibilities, b[i].failed_compatibilities) ||
        a[i].detected_conflicts.size() != b[i].detected_conflicts.size()) {
      return false;
    }
  }
  return true;
}

// The resolved list: the installed software first, in the store's order,
// then install entries in request order up to the first that stops the walk.
void check_result(const fuzz_input& input, const std::vector<software>& installed,
                  const std::vector<installing_software>& result,
                  const package_spec_manager& specs) {
  require(result.size() >= installed.size(), "every installed software is in the result");
  for (std::size_t i = 0; i < installed.size(); ++i) {
    const installing_software& entry = result[i];
    require(entry.id == installed[i].id && same_version(entry.version, installed[i].version),
            "installed entries come first, in the store's order");
    require(entry.state == SOFTWARE_STATE_INSTALLED ||
                entry.state == (SOFTWARE_STATE_INSTALLED | SOFTWARE_STATE_MARKED_UNINSTALL),
            "an installed entry is installed, maybe marked for removal");
    for (const software& removal : input.uninstall) {
      if (removal.id == entry.id) {
        require(has_state(entry.state, SOFTWARE_STATE_MARKED_UNINSTALL),
                "an installed entry named by the uninstall list is marked");
      }
    }
    require(entry.failed_dependencies.empty() && entry.failed_compatibilities.empty(),
            "installed entries carry no findings");
  }

  std::size_t next_request = 0;
  for (std::size_t i = installed.size(); i < result.size(); ++i) {
    const installing_software& entry = result[i];
    const bool last = i + 1 == result.size();
    while (next_request < input.install.size() &&
           !(input.install[next_request].id == entry.id &&
             same_version(input.install[next_request].version, entry.version))) {
      ++next_request;
    }
    require(next_request < input.install.size(), "install entries follow the request's order");
    ++next_request;
    require(has_state(entry.state, SOFTWARE_STATE_INSTALL) &&
                !has_state(entry.state, SOFTWARE_STATE_INSTALLED) &&
                !has_state(entry.state, SOFTWARE_STATE_MARKED_UNINSTALL),
            "an install entry keeps its install state");
    const int stops = (has_state(entry.state, SOFTWARE_STATE_UNINSTALL) ? 1 : 0) +
                      (entry.failed_dependencies.empty() ? 0 : 1) +
                      (entry.failed_compatibilities.empty() ? 0 : 1);
    require(stops <= 1, "one reason at most stops the walk");
    require(stops == 0 || last, "only the last entry stopped the walk");
    require(entry.failed_dependencies.size() <= 1 && entry.failed_compatibilities.size() <= 1,
            "one finding at most");
    require(entry.reserved == 0 && entry.detected_conflicts.empty(), "nothing else is set");
    try {
      static_cast<void>(specs.find(static_cast<software>(entry)));
    } catch (const pm_exception&) {
      require(false, "an install entry in the result has a specification entry");
    }
  }
}

// The six managers wired as a host wires them, the catalog imported.
struct imported_managers {
  imported_managers(ox_context_s* context, const fuzz_input& input, bool indexed) : wired(context) {
    wired.spec->set_indexed_lookups(indexed);
    wired.dependency->set_indexed_scans(indexed);

    wired.spec->set_platform(input.platform);
    try {
      wired.spec->import(input.spec.data(), input.spec.size());
    } catch (const pm_exception& error) {
      require(error.code() == OX_ERROR_PARSE || error.code() == OX_ERROR_LIMIT_EXCEEDED,
              "a catalog that does not load fails with a load code");
      // Resolve against the empty catalog.
    }
  }

  tarvik::ox_test::wired_managers wired;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz_input input = read_input(tarvik::ox_fuzz::as_text(data, size));

  // What the store will report, read the same way it will be read.
  std::vector<installed_application> applications;
  std::string store_error;
  const ox_error_e store_code =
      input.inventory.empty()
          ? OX_OK
          : tarvik::ox_refhost::parse_inventory_json(input.inventory, applications, store_error);
  std::vector<software> installed;
  for (const installed_application& application : applications) {
    if (application.version.has_value() && !application.version->empty() &&
        !is_excluded_id(application.id)) {
      installed.emplace_back(application.id, version(*application.version));
    }
  }

  // No logger is registered: the library's log calls cost nothing.
  tarvik::ox_refhost::context context;
  tarvik::ox_refhost::scoped_store_source store(
      input.inventory.empty() ? nullptr : std::make_shared<text_source>(input.inventory));

  const imported_managers indexed(context.get(), input, true);
  const std::shared_ptr<package_spec_manager>& spec_mgr = indexed.wired.spec;
  const std::shared_ptr<package_manager>& package_mgr = indexed.wired.package;

  std::vector<installing_software> result;
  try {
    result = package_mgr->resolve(input.uninstall, input.install);
  } catch (const pm_exception& error) {
    if (input.install.empty() && input.uninstall.empty()) {
      require(error.code() == OX_ERROR_INVALID_ARGUMENT, "an empty request fails with code 2");
    } else {
      require(store_code != OX_OK && error.code() == store_code,
              "a resolution fails only with the store's code, when its scan fails");
    }
    return 0;
  }
  require(!(input.install.empty() && input.uninstall.empty()), "an empty request fails");
  require(store_code == OX_OK, "a resolution whose scan fails does not succeed");
  check_result(input, installed, result, *spec_mgr);
  require(!package_mgr->is_conflicted(result), "no conflict is ever detected");
  const bool stopped_by_finding =
      !result.empty() &&
      (!result.back().failed_dependencies.empty() || !result.back().failed_compatibilities.empty());
  require(package_mgr->is_incompatible(result) == stopped_by_finding,
          "incompatible exactly when the last entry has a finding");

  // Nothing is kept between resolutions but the wiring, the catalog and
  // the installed list, which the rescan reads anew.
  try {
    const std::vector<installing_software> again =
        package_mgr->resolve(input.uninstall, input.install);
    require(same_result(result, again), "the same request resolves the same way twice");
  } catch (const pm_exception&) {
    require(false, "a request that resolved once resolves again");
  }

  // The look-up indexes are a shortcut: the plain walks give the same list.
  const imported_managers plain(context.get(), input, false);
  try {
    const std::vector<installing_software> walked =
        plain.wired.package->resolve(input.uninstall, input.install);
    require(same_result(result, walked), "the plain walks resolve the same way");
  } catch (const pm_exception&) {
    require(false, "the plain walks resolve what the indexes resolve");
  }
  return 0;
}

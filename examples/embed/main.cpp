// A host agent that embeds the oxpm library: it wires the six managers to one
// host context, imports a package catalog from a buffer, tells the
// reference host which software is installed, routes the library's log lines
// into a sink of its own, resolves requests and reads the findings.
//
// The host runtime here is the reference host (tarvik::ox_refhost). An agent
// with a host runtime of its own keeps the use of tarvik::ox as it is and
// replaces only what comes from tarvik::ox_refhost: the context, the logger
// with its sink, and the source of the installed software.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tarvik/ox/ox.hpp"
#include "tarvik/ox_refhost/context.hpp"
#include "tarvik/ox_refhost/logger.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace ox = tarvik::ox;
namespace refhost = tarvik::ox_refhost;

namespace {

// What the agent's configuration service would hand over: the catalog
// as bytes. The scanner needs the agent 2.x or 3.x, is compatible only with
// runtime 5.0 or later and replaces the old scanner, which is known under two
// ids.
constexpr char kCatalog[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<specs version="2024.2">
  <softwares>
    <software sref="AGENT" name="Agent" platforms="linux-x64,windows-x64"
              version="1.0:3.9" softwareids="AGENT"/>
    <software sref="RUNTIME" name="Runtime" platforms="linux-x64"
              version="4.0:5.9" softwareids="RUNTIME"/>
    <software sref="SCANNER" name="Scanner" platforms="linux-x64"
              version="3.0:3.9" softwareids="SCANNER">
      <uninstalls><product sref="OLDSCAN" name="Old scanner"/></uninstalls>
      <depends><dependency sref="AGENT" version="2.0:3.9"/></depends>
      <compatibles><compatible sref="RUNTIME" version="5.0:"/></compatibles>
    </software>
    <software sref="OLDSCAN" name="Old scanner" platforms="linux-x64"
              version="" softwareids="OLDSCAN|oldscan"/>
    <software sref="AGENT" name="Agent for Windows" platforms="windows-x64"
              version="4.0:" softwareids="AGENT"/>
  </softwares>
</specs>
)";

// The agent's own log sink: it counts every line and keeps the failures
// (severity 2) to report them with the result. Sinks receive each line
// already formatted by ox_log.
class failure_sink : public refhost::log_sink {
 public:
  void write(const refhost::log_record& record) override {
    ++lines_;
    if (record.severity == OX_LOG_SEVERITY_FAILURE) {
      failures_.push_back(record.function + ": " + record.message);
    }
  }

  // The lines written since the last call, and the failures among them.
  int take_line_count() { return std::exchange(lines_, 0); }
  std::vector<std::string> take_failures() { return std::exchange(failures_, {}); }

 private:
  int lines_ = 0;
  std::vector<std::string> failures_;
};

std::string state_text(ox::software_state state) {
  std::string text;
  auto add = [&](ox::software_state bit, const char* name) {
    if (ox::has_state(state, bit)) {
      text += text.empty() ? name : std::string(", ") + name;
    }
  };
  add(ox::SOFTWARE_STATE_INSTALL, "install");
  add(ox::SOFTWARE_STATE_INSTALLED, "installed");
  add(ox::SOFTWARE_STATE_UNINSTALL, "obsolete");
  add(ox::SOFTWARE_STATE_MARKED_UNINSTALL, "to be removed");
  return text;
}

void print_result(const ox::package_manager& pm,
                  const std::vector<ox::installing_software>& result) {
  for (const ox::installing_software& entry : result) {
    std::cout << "  " << entry.id << ' ' << entry.version.getversion() << " ["
              << state_text(entry.state) << "]\n";
    for (const ox::software& missing : entry.failed_dependencies) {
      // id: the pattern that recognises the required software; version_text:
      // the requirement as the catalog writes it.
      std::cout << "    unmet dependency: " << missing.id << ", requires \"" << missing.version_text
                << "\"\n";
    }
    for (const ox::software& other : entry.failed_compatibilities) {
      std::cout << "    incompatible with: " << other.id << ' ' << other.version.getversion()
                << '\n';
    }
  }
  std::cout << "  incompatible: " << (pm.is_incompatible(result) ? "yes" : "no")
            << ", conflicted: " << (pm.is_conflicted(result) ? "yes" : "no") << '\n';
}

void print_log(failure_sink& sink) {
  const int lines = sink.take_line_count();
  const std::vector<std::string> failures = sink.take_failures();
  std::cout << "  log: " << lines << " lines, " << failures.size() << " at severity 2\n";
  for (const std::string& failure : failures) {
    std::cout << "    " << failure << '\n';
  }
}

ox::software sw(const std::string& id, const std::string& version_text) {
  return ox::software(id, ox::version(version_text));
}

}  // namespace

int main() {
  // The host context and its logger. The library fetches the logger from the
  // context under "ox.object.logger" for every line it writes.
  refhost::context host;
  auto sink = std::make_shared<failure_sink>();
  refhost::logger log(sink);
  host.set_logger(&log);

  // The installed-application store reads this list at every rescan.
  refhost::set_store_source(refhost::make_memory_source({
      {"AGENT", "2.1.0.0"},
      {"RUNTIME", "4.2.0.0"},
      {"oldscan", "1.0.0.0"},
      {"NOTES", "7.0.0.0"},
      {"DRIVER", std::nullopt},  // no version: never offered as installed
  }));

  try {
    // The six managers, each with the same context, each held by shared
    // pointer and wired together: the dependency and conflict managers read
    // the catalog and the installed software; the package manager holds all
    // five, rescans softdb, and the dependency manager reads the same
    // instance. The platform filters the software elements of later imports.
    ox_context_s* context = host.get();
    const ox::managers set = ox::make_managers(context, "linux-x64");
    const std::shared_ptr<ox::package_spec_manager>& spec = set.spec;
    const std::shared_ptr<ox::package_manager>& pm = set.package;

    spec->import(kCatalog, sizeof(kCatalog) - 1);
    std::cout << "specification " << spec->get_spec_version() << ": " << spec->get_specs().size()
              << " entries for linux-x64\n";
    print_log(*sink);

    std::cout << "\nrequest 1: install SCANNER 3.1\n";
    std::vector<ox::installing_software> result = pm->resolve({}, {sw("SCANNER", "3.1")});
    print_result(*pm, result);
    print_log(*sink);

    std::cout << "\nrequest 2: uninstall NOTES, install RUNTIME 5.1 then SCANNER 3.1\n";
    result = pm->resolve({sw("NOTES", "7.0")}, {sw("RUNTIME", "5.1"), sw("SCANNER", "3.1")});
    print_result(*pm, result);
    print_log(*sink);

    std::cout << "\nrequest 3: uninstall AGENT, install RUNTIME 5.1 then SCANNER 3.1\n";
    result = pm->resolve({sw("AGENT", "2.1")}, {sw("RUNTIME", "5.1"), sw("SCANNER", "3.1")});
    print_result(*pm, result);
    print_log(*sink);

    std::cout << "\nrequest 4: nothing\n";
    try {
      pm->resolve({}, {});
    } catch (const ox::pm_exception& e) {
      std::cout << "  pm_exception " << e.code() << " (" << ox::error_name(e.code()) << ")\n";
    }
    print_log(*sink);
  } catch (const ox::pm_exception& e) {
    // Import, rescan and resolve report every failure this way.
    std::cout << "failed: pm_exception " << e.code() << " (" << ox::error_name(e.code()) << ")\n";
    host.set_logger(nullptr);
    return 1;
  }
  // The logger must outlive its registration in the context.
  host.set_logger(nullptr);
  return 0;
}

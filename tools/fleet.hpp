// The pre-flight of a request on a whole fleet: every machine resolved
// against one imported catalog, on a pool of threads, each machine's result
// written in input order as soon as it and those before it are done, then a
// summary of the outcomes and of the failures grouped by cause.
#ifndef TARVIK_OXPM_TOOLS_FLEET_HPP_
#define TARVIK_OXPM_TOOLS_FLEET_HPP_

#include <cstddef>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "inputs.hpp"
#include "machine_line.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace oxpm {

class machine_reader;

// A machine as a reader hands it over: read already, or what is left to read
// of it (a machines file's line, an inventory file's path), so that the
// threads that resolve the machines also read them.
struct unread_machine {
  // What `reader` reads; unused when `reader` is null.
  std::string text;
  std::size_t line_number = 0;
  // Null: `machine` is read already.
  const machine_reader* reader = nullptr;
  machine_input machine;

  // The machine, read now when it is not yet.
  machine_input take();
};

// Where the machines come from, one at a time, so that a fleet larger than
// memory streams through.
class machine_reader {
 public:
  virtual ~machine_reader();
  // The next machine; false at the end. Throws input_error when the source
  // itself cannot be read any more.
  bool next(machine_input& machine);
  // The same, possibly leaving the machine to be read later by
  // unread_machine::take, on any thread.
  virtual bool next_unread(unread_machine& machine) = 0;
  // Reads what next_unread left unread; called from several threads at once.
  virtual machine_input read_unread(const unread_machine& machine) const = 0;
  // How many machines there are, when known without reading them.
  virtual std::optional<std::size_t> size() const { return std::nullopt; }
};

// One JSON object a line: {"machine": ID, "installed": [{"id", "version"}...],
// optionally "request" (as a request file) and "platform"}. Blank lines are
// skipped; a line that is no such object is a machine reported as unreadable
// (named "line N" when it has no id).
std::unique_ptr<machine_reader> jsonl_machines(std::istream& in, std::string source,
                                               std::optional<std::size_t> lines = std::nullopt);
// One inventory file per machine (as --installed reads it), the machine id
// being the file name without its extension; files in name order.
std::unique_ptr<machine_reader> folder_machines(const std::string& folder);

// A catalog for each platform the machines name, imported once when the
// first machine needs it, from the documents given. Thread-safe.
class catalogs {
 public:
  catalogs(std::vector<std::pair<std::string, std::string>> documents, std::string platform);
  // The catalog of `platform` (the default one when empty). Throws
  // input_error naming the document that cannot be loaded.
  std::shared_ptr<ox::package_spec_manager> get(const std::string& platform);
  const std::string& default_platform() const { return platform_; }

 private:
  std::vector<std::pair<std::string, std::string>> documents_;  // name, content
  std::string platform_;
  std::mutex mutex_;  // guards by_platform_
  std::map<std::string, std::shared_ptr<ox::package_spec_manager>> by_platform_;
};

// Resolves machines one at a time on the calling thread, with a context,
// logger and managers of its own around the shared catalogs: one for each
// thread that resolves.
class machine_resolver {
 public:
  machine_resolver();
  machine_resolver(const machine_resolver&) = delete;
  machine_resolver& operator=(const machine_resolver&) = delete;
  ~machine_resolver();

  // The machine's line as `oxpm fleet --format json` writes it: "machine",
  // then the document of `oxpm resolve --format json` (the records the
  // request touches; every record with `all`), or a "library_error" line
  // when the library throws.
  nlohmann::ordered_json resolve(const machine_input& machine, const request& asked,
                                 const std::shared_ptr<ox::package_spec_manager>& catalog,
                                 bool all);

 private:
  nlohmann::ordered_json resolve_or_throw(const machine_input& machine, const request& asked,
                                          const std::shared_ptr<ox::package_spec_manager>& catalog,
                                          bool all);
  struct state;
  std::unique_ptr<state> state_;
};

// The line of a machine that is not resolved: {"machine", "outcome", "ok":
// false, "error"}.
nlohmann::ordered_json unresolved_line(const std::string& machine, const std::string& outcome,
                                       const std::string& error);

// The request `machine` is resolved with: its own, else `common`. Null, with
// machine.error set, when it is unreadable, has none or an empty one.
const request* request_for(machine_input& machine, const std::optional<request>& common);

// One machine's line, checked and resolved on the calling thread as run_fleet
// does it: an "input_error" line for an unreadable machine or a missing
// request. Throws input_error when the machine's catalog cannot be loaded.
nlohmann::ordered_json fleet_line(machine_resolver& resolver, catalogs& catalogs,
                                  machine_input machine, const std::optional<request>& common,
                                  bool all);

// A machine's line in the text format: "ID: ok" or "ID: OUTCOME: CAUSE".
std::string fleet_text_line(const nlohmann::ordered_json& line);
// The CAUSE of a line that is not ok: its "error", else what stopped it (the
// software, the relation and the blocking version).
std::string fleet_cause(const nlohmann::ordered_json& line);

// The summary of machines' lines, added in input order: how many of each
// outcome, and the failures grouped by cause (the software, the relation and
// the blocking version) with the first few machine ids of each.
class fleet_summary {
 public:
  void add(const nlohmann::ordered_json& line);
  // The same from the line's parts: `cause` as fleet_cause gives it (unused
  // when the machine is ok).
  void add(const std::string& machine, const std::string& outcome, bool ok,
           const std::string& cause);
  std::size_t machines() const { return machines_; }
  std::size_t ok() const { return ok_; }
  // {"summary": {"machines", "ok", "not_ok", "outcomes", "causes"}}
  nlohmann::ordered_json to_json() const;
  std::string to_text() const;

 private:
  struct group {
    std::size_t machines = 0;
    std::vector<std::string> examples;
  };
  using key = std::pair<std::string, std::string>;  // outcome, cause
  std::vector<key> sorted_causes() const;

  std::size_t machines_ = 0;
  std::size_t ok_ = 0;
  std::map<std::string, std::size_t> outcomes_;
  std::map<key, group> causes_;
  std::vector<key> order_;  // first seen first
};

struct fleet_options {
  // The request of every machine that has none of its own.
  std::optional<request> common_request;
  unsigned jobs = 1;
  bool json = false;
  bool summary_only = false;
  // Every record of each machine's result, not only those the request touches.
  bool all = false;
  // Called from the reading thread with each machine that is read and its
  // request, before it is resolved, in input order (may be null). When it is
  // set, the reading thread reads every machine itself; otherwise the
  // threads that resolve them do.
  std::function<void(const machine_input& machine, const request& asked)> on_machine;
};

struct fleet_totals {
  std::size_t machines = 0;
  std::size_t ok = 0;
};

// Runs the fleet, writing one line per machine (unless summary_only) and the
// summary to `out`. `progress` (may be null) is called from the writing
// thread after each machine with the number done. Throws input_error when the
// machines or a catalog cannot be read.
fleet_totals run_fleet(catalogs& catalogs, machine_reader& machines, const fleet_options& options,
                       std::ostream& out,
                       const std::function<void(std::size_t done)>& progress = nullptr);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_FLEET_HPP_

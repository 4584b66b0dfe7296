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
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "inputs.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace oxpm {

// One machine as read: its id, its installed software and optionally its own
// request and platform; or why it could not be read.
struct machine_input {
  std::string id;
  std::vector<ox_refhost::installed_application> installed;
  std::optional<request> own_request;
  std::optional<std::string> platform;
  std::string error;  // non-empty: the machine is reported as unreadable
};

// Where the machines come from, one at a time, so that a fleet larger than
// memory streams through.
class machine_reader {
 public:
  virtual ~machine_reader();
  // The next machine; false at the end. Throws input_error when the source
  // itself cannot be read any more.
  virtual bool next(machine_input& machine) = 0;
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
// first machine needs it, from the documents given.
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
  std::map<std::string, std::shared_ptr<ox::package_spec_manager>> by_platform_;
};

struct fleet_options {
  // The request of every machine that has none of its own.
  std::optional<request> common_request;
  unsigned jobs = 1;
  bool json = false;
  bool summary_only = false;
  // Every record of each machine's result, not only those the request touches.
  bool all = false;
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

// One embedding of the library as a host runs it: a reference host context
// with its logger, the six managers wired together, the catalog
// imported, the installed-application store pointed at its source.
#ifndef TARVIK_OXPM_TOOLS_SESSION_HPP_
#define TARVIK_OXPM_TOOLS_SESSION_HPP_

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/walk_record.hpp"
#include "inputs.hpp"
#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox/managers.hpp"
#include "tarvik/ox/package_manager.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/software.hpp"
#include "tarvik/ox/software_conflict_manager.hpp"
#include "tarvik/ox/software_dependency_manager.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"
#include "tarvik/ox_refhost/context.hpp"
#include "tarvik/ox_refhost/logger.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace oxpm {

// Where the installed software is read from.
struct installed_source {
  enum class kind_t { none, inventory, dpkg_status };
  kind_t kind = kind_t::none;
  std::string path;
};

// The outcome of one resolution, with what was asked.
struct resolution {
  std::vector<ox::software> uninstall;
  std::vector<ox::software> install;
  std::vector<ox::installing_software> resolved;
  bool incompatible = false;
  bool conflicted = false;
  // What the walk decided on the way (the explanations' source).
  ox::internal::walk_record walk;
};

class session {
 public:
  session();
  session(const session&) = delete;
  session& operator=(const session&) = delete;
  ~session();

  // Every library log line goes to the sink from now on.
  void add_log_sink(std::shared_ptr<ox_refhost::log_sink> sink);

  // Sets the platform, then imports each file in order. Throws input_error
  // naming the file and the reason when one cannot be read or loaded, and
  // when the platform leaves nothing to import while the catalog names
  // platforms (the message lists them).
  void load_specs(const std::vector<std::string>& files, const std::string& platform);
  // The same with the documents in memory: (name for messages, bytes).
  void load_documents(const std::vector<std::pair<std::string, std::string>>& documents,
                      const std::string& platform);

  // Points the store at the source and reads it, so that a source that
  // cannot be read is reported as such (input_error with the store's message)
  // before any resolution starts. The source is read only this once: later
  // scans (the resolution's rescan) see the same applications, so a pipe or
  // /dev/stdin serves as well as a file.
  void use_installed(const installed_source& source);
  // The store's source is this list.
  void use_applications(std::vector<ox_refhost::installed_application> applications);
  // What the store hands the library: the applications read by the last
  // use_installed or given to use_applications (a copy, made when asked).
  std::vector<ox_refhost::installed_application> installed() const;

  // One package_manager::resolve; lets its pm_exception through.
  resolution resolve(const std::vector<ox::software>& uninstall,
                     const std::vector<ox::software>& install);

  ox_context_s* context() const { return context_.get(); }
  // The host's description of patterns that the context offers (null when it
  // offers none).
  const ox_regex_literals_s* regex_literals() const;
  const ox::package_spec_manager& specs() const { return *managers_.spec; }
  // For switches that the library offers (legacy checks, plain look-ups).
  ox::managers& managers() { return managers_; }

 private:
  void import_document(const std::string& name, const std::string& content,
                       const std::string& platform, std::vector<std::string>& platforms);
  void check_platform(const std::string& platform, const std::vector<std::string>& platforms) const;

  ox_refhost::logger logger_;
  ox_refhost::context context_;
  std::optional<ox_refhost::scoped_store_source> store_source_;
  std::shared_ptr<ox_refhost::store_source> installed_;
  // Wired as a host wires them (make_managers).
  ox::managers managers_;
};

// "<code> (<name>)", the way the tool names a library or host error code.
std::string describe_code(ox_error_e code);

// Why a catalog document does not load, as the XML parser sees it
// ("line 3: Start-end tags mismatch"); empty when the parser accepts it.
std::string xml_diagnosis(const std::string& content);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_SESSION_HPP_

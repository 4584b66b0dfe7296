#include "session.hpp"

#include <algorithm>
#include <mutex>
#include <pugixml.hpp>
#include <utility>

#include "tarvik/ox/host/ox_utils.h"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/registry_store.hpp"

namespace tarvik {
namespace oxpm {
namespace {

// The installed software as one run of the tool sees it: read once, at the
// first scan that succeeds, and handed out again at every later scan.
// use_installed scans before any resolution so that an unreadable source is
// reported as such, and the resolution rescans: reading the file again would
// cost as much as the first time and would find a pipe drained.
class read_once_source : public ox_refhost::store_source {
 public:
  explicit read_once_source(std::shared_ptr<ox_refhost::store_source> inner)
      : inner_(std::move(inner)) {}

  ox_error_e read(std::vector<ox_refhost::installed_application>& out,
                  std::string& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!read_) {
      const ox_error_e code = inner_->read(applications_, error);
      if (code != OX_OK) {
        return code;
      }
      read_ = true;
    }
    out = applications_;
    return OX_OK;
  }

 private:
  const std::shared_ptr<ox_refhost::store_source> inner_;
  std::mutex mutex_;
  bool read_ = false;
  std::vector<ox_refhost::installed_application> applications_;
};

}  // namespace

session::session()
    : spec_mgr_(std::make_shared<ox::package_spec_manager>(context_.get())),
      repo_mgr_(std::make_shared<ox::software_repo_manager>(context_.get())),
      softdb_mgr_(std::make_shared<ox::system_software_database_manager>(context_.get())),
      dependency_mgr_(std::make_shared<ox::software_dependency_manager>(context_.get())),
      conflict_mgr_(std::make_shared<ox::software_conflict_manager>(context_.get())),
      package_mgr_(std::make_shared<ox::package_manager>(context_.get())) {
  context_.set_logger(&logger_);

  dependency_mgr_->set_spec_mgr(spec_mgr_);
  dependency_mgr_->set_repo_manager(repo_mgr_);
  dependency_mgr_->set_softdb_manager(softdb_mgr_);
  conflict_mgr_->set_spec_mgr(spec_mgr_);
  conflict_mgr_->set_repo_manager(repo_mgr_);
  conflict_mgr_->set_softdb_manager(softdb_mgr_);
  package_mgr_->set_spec_mgr(spec_mgr_);
  package_mgr_->set_repo_manager(repo_mgr_);
  // The package manager rescans the very database the dependency stage reads.
  package_mgr_->set_softdb_manager(softdb_mgr_);
  package_mgr_->set_conflict_manager(conflict_mgr_);
  package_mgr_->set_dependency_manager(dependency_mgr_);

  // Nothing is installed unless a source is chosen.
  store_source_.emplace(nullptr);
}

session::~session() {
  // The managers may still log while they go; the logger must outlive them.
  package_mgr_.reset();
  conflict_mgr_.reset();
  dependency_mgr_.reset();
  softdb_mgr_.reset();
  repo_mgr_.reset();
  spec_mgr_.reset();
  context_.set_logger(nullptr);
}

void session::add_log_sink(std::shared_ptr<ox_refhost::log_sink> sink) {
  logger_.add_sink(std::move(sink));
}

void session::load_specs(const std::vector<std::string>& files, const std::string& platform) {
  spec_mgr_->set_platform(platform);
  for (const std::string& file : files) {
    std::string content;
    try {
      content = read_file(file);
    } catch (const input_error& error) {
      throw input_error(std::string("catalog ") + error.what());
    }
    try {
      spec_mgr_->import(content.data(), content.size());
    } catch (const ox::pm_exception& error) {
      std::string message = "catalog " + input_name(file) + ": cannot be loaded";
      const std::string detail = xml_diagnosis(content);
      if (!detail.empty()) {
        message += ": " + detail;
      }
      message += " (host error " + describe_code(error.code()) + ")";
      throw input_error(message);
    }
  }
}

void session::use_installed(const installed_source& source) {
  std::shared_ptr<ox_refhost::store_source> store;
  const bool inventory = source.kind == installed_source::kind_t::inventory;
  const char* const what = inventory ? "inventory " : "dpkg status ";
  if (source.kind != installed_source::kind_t::none && source.path == kStandardInput) {
    // The host's file sources open a path; standard input is read here, once,
    // and parsed by the same parsers.
    std::string text;
    try {
      text = read_file(source.path, ox_refhost::kMaxSourceBytes);
    } catch (const input_error& error) {
      throw input_error(what + std::string(error.what()));
    }
    std::vector<ox_refhost::installed_application> applications;
    std::string reason;
    const ox_error_e code = inventory
                                ? ox_refhost::parse_inventory_json(text, applications, reason)
                                : ox_refhost::parse_dpkg_status(text, applications, reason);
    if (code != OX_OK) {
      throw input_error(what + input_name(source.path) + ": " + reason + " (host error " +
                        describe_code(code) + ")");
    }
    store = ox_refhost::make_memory_source(std::move(applications));
  } else if (inventory) {
    store = std::make_shared<read_once_source>(ox_refhost::make_inventory_source(source.path));
  } else if (source.kind == installed_source::kind_t::dpkg_status) {
    store = std::make_shared<read_once_source>(ox_refhost::make_dpkg_status_source(source.path));
  }
  store_source_.reset();
  store_source_.emplace(store);
  if (store == nullptr) {
    return;
  }
  try {
    ox::registry_store probe;
    probe.scan();
  } catch (const ox::pm_exception& error) {
    std::string message = ox_refhost::last_store_error();
    if (message.empty()) {
      message = source.path + ": cannot be read";
    }
    message = what + message;
    throw input_error(message + " (host error " + describe_code(error.code()) + ")");
  }
}

resolution session::resolve(const std::vector<ox::software>& uninstall,
                            const std::vector<ox::software>& install) {
  resolution result;
  result.uninstall = uninstall;
  result.install = install;
  result.resolved = package_mgr_->resolve(uninstall, install);
  result.incompatible = package_mgr_->is_incompatible(result.resolved);
  result.conflicted = package_mgr_->is_conflicted(result.resolved);
  return result;
}

const ox_regex_literals_s* session::regex_literals() const {
  return ox_regex_literals_get(context_.get());
}

std::string describe_code(ox_error_e code) {
  return std::to_string(static_cast<long long>(code)) + " (" + ox::error_name(code) + ")";
}

std::string xml_diagnosis(const std::string& content) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(
      content.data(), content.size(), pugi::parse_default, pugi::encoding_utf8);
  if (parsed) {
    return {};
  }
  const std::size_t offset =
      parsed.offset < 0 ? 0 : std::min(static_cast<std::size_t>(parsed.offset), content.size());
  const auto line =
      1 + std::count(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
  return "line " + std::to_string(line) + ": " + parsed.description();
}

}  // namespace oxpm
}  // namespace tarvik

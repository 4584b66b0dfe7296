#include "fleet.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <utility>

#include "analysis.hpp"
#include "report.hpp"
#include "session.hpp"
#include "tarvik/ox/managers.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox_refhost/context.hpp"
#include "tarvik/ox_refhost/logger.hpp"
#include "touched.hpp"

namespace tarvik {
namespace oxpm {
namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// Machines in flight per worker: enough to keep every thread busy while the
// writer waits for a slow one, few enough that memory stays bounded.
constexpr std::size_t kWindowPerJob = 32;
// Machine ids a summary names for each cause.
constexpr std::size_t kExamples = 5;

bool printable_ascii(const json& text) {
  if (!text.is_string()) {
    return false;
  }
  const std::string& bytes = text.get_ref<const std::string&>();
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

// The common inventory taken from the line's own parse, without writing it
// out and reading it again: every entry exactly {"id": TEXT, "version":
// TEXT}, a non-empty printable ASCII id, a printable ASCII version. Anything
// else (false) goes through the inventory's reader, whose messages say what
// is wrong; both read the same parsed value.
bool plain_inventory(const json& installed, std::vector<ox_refhost::installed_application>& out) {
  std::vector<ox_refhost::installed_application> read;
  read.reserve(installed.size());
  for (const json& entry : installed) {
    if (!entry.is_object() || entry.size() != 2) {
      return false;
    }
    const auto id = entry.find("id");
    const auto version = entry.find("version");
    if (id == entry.end() || version == entry.end() || !printable_ascii(*id) ||
        id->get_ref<const std::string&>().empty() || !printable_ascii(*version)) {
      return false;
    }
    read.push_back({id->get<std::string>(), version->get<std::string>()});
  }
  out = std::move(read);
  return true;
}

// A parsed JSON object keeps the last of repeated keys; a machine line that
// repeats one ("id" twice in an entry, say) is refused, as an inventory file
// is, rather than read as half of what was written.
class repeated_key_check {
 public:
  bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
        if (open_ == keys_.size()) {
          keys_.emplace_back();
        }
        keys_[open_++].clear();
        break;
      case json::parse_event_t::key:
        if (open_ > 0) {
          keys_[open_ - 1].push_back(parsed.get<std::string>());
        }
        break;
      case json::parse_event_t::object_end:
        if (open_ > 0) {
          std::vector<std::string>& keys = keys_[--open_];
          std::sort(keys.begin(), keys.end());
          const auto twice = std::adjacent_find(keys.begin(), keys.end());
          if (twice != keys.end() && repeated_.empty()) {
            repeated_ = *twice;
            found_ = true;
          }
        }
        break;
      default:
        break;
    }
    return true;
  }
  bool found() const { return found_; }
  const std::string& repeated() const { return repeated_; }

 private:
  std::vector<std::vector<std::string>> keys_;  // of each object being read, reused
  std::size_t open_ = 0;
  std::string repeated_;
  bool found_ = false;
};

void read_into(const std::string& line, const std::string& source, std::size_t line_number,
               machine_input& machine) {
  const std::string where = source + " line " + std::to_string(line_number);
  machine.id = "line " + std::to_string(line_number);
  json object;
  repeated_key_check check;
  try {
    object = json::parse(line, [&check](int depth, json::parse_event_t event, json& parsed) {
      return check(depth, event, parsed);
    });
  } catch (const json::exception& error) {
    machine.error = where + ": not JSON: " + error.what();
    return;
  }
  if (check.found()) {
    machine.error = where + ": \"" + check.repeated() + "\" appears twice in one object";
    return;
  }
  if (!object.is_object()) {
    machine.error = where + ": a machine is a JSON object";
    return;
  }
  if (object.contains("machine") && object["machine"].is_string() &&
      !object["machine"].get<std::string>().empty()) {
    machine.id = object["machine"].get<std::string>();
  } else {
    machine.error = where + ": \"machine\" must be a non-empty string";
    return;
  }
  for (const auto& item : object.items()) {
    const std::string& key = item.key();
    if (key != "machine" && key != "installed" && key != "request" && key != "platform") {
      machine.error = where + ": unknown key \"" + key +
                      "\" (a machine has \"machine\", \"installed\", \"request\", \"platform\")";
      return;
    }
  }
  if (!object.contains("installed") || !object["installed"].is_array()) {
    machine.error = where + ": \"installed\" must be an array of {\"id\", \"version\"}";
    return;
  }
  std::string error;
  if (!plain_inventory(object["installed"], machine.installed) &&
      ox_refhost::parse_inventory_json(object["installed"].dump(), machine.installed, error) !=
          OX_OK) {
    machine.error = where + ": installed: " + error;
    return;
  }
  if (object.contains("platform")) {
    if (!object["platform"].is_string()) {
      machine.error = where + ": \"platform\" must be a string";
      return;
    }
    machine.platform = object["platform"].get<std::string>();
  }
  if (object.contains("request")) {
    try {
      machine.own_request = parse_request_json(object["request"].dump(), where + " request");
    } catch (const input_error& bad) {
      machine.error = bad.what();
    }
  }
}

class jsonl_reader : public machine_reader {
 public:
  jsonl_reader(std::istream& in, std::string source, std::optional<std::size_t> lines)
      : in_(in), source_(std::move(source)), lines_(lines) {}

  bool next(machine_input& machine) override {
    std::string line;
    while (std::getline(in_, line)) {
      ++line_number_;
      if (line.find_first_not_of(" \t\r") == std::string::npos) {
        continue;
      }
      machine = read_machine_line(line, source_, line_number_);
      return true;
    }
    if (in_.bad()) {
      throw input_error("machines " + source_ + ": cannot be read");
    }
    return false;
  }

  std::optional<std::size_t> size() const override { return lines_; }

 private:
  std::istream& in_;
  std::string source_;
  std::optional<std::size_t> lines_;
  std::size_t line_number_ = 0;
};

class folder_reader : public machine_reader {
 public:
  explicit folder_reader(const std::string& folder) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      if (it->is_regular_file(error)) {
        files_.push_back(it->path());
      }
    }
    if (error) {
      throw input_error("machines " + folder + ": " + error.message());
    }
    std::sort(files_.begin(), files_.end());
  }

  bool next(machine_input& machine) override {
    if (at_ == files_.size()) {
      return false;
    }
    const fs::path& file = files_[at_++];
    machine = machine_input();
    machine.id = file.stem().string();
    try {
      const std::string text = read_file(file.string());
      std::string error;
      if (ox_refhost::parse_inventory_json(text, machine.installed, error) != OX_OK) {
        machine.error = file.string() + ": " + error;
      }
    } catch (const input_error& bad) {
      machine.error = bad.what();
    }
    return true;
  }

  std::optional<std::size_t> size() const override { return files_.size(); }

 private:
  std::vector<fs::path> files_;
  std::size_t at_ = 0;
};

// What stopped a machine's request, in words that are the same for every
// machine that failed the same way: the software, the relation and the
// blocking version.
std::string cause_of(const json& result) {
  const auto blocker = [](const json& finding) -> std::string {
    const json& who = finding["blocker"];
    if (!who.is_object()) {
      return "";
    }
    std::string text = ", blocked by ";
    text += who["installed"].get<bool>() ? "the installed " : "the requested ";
    text += who["id"].get<std::string>() + " " + who["version"].get<std::string>();
    if (who["removed"].get<bool>()) {
      text += " (removed by the request)";
    }
    return text;
  };
  for (const json& record : result["resolved"]) {
    const std::string who =
        record["id"].get<std::string>() + " " + record["version"].get<std::string>();
    for (const json& finding : record["failed_dependencies"]) {
      // Installed software differs in version from machine to machine: the
      // cause names it by id, so that one loss is one group.
      if (record["state"].get<unsigned>() & ox::SOFTWARE_STATE_INSTALLED) {
        return "the installed " + record["id"].get<std::string>() + " loses its dependency on " +
               finding["sref"].get<std::string>() + " " +
               finding["version_text"].get<std::string>() + blocker(finding);
      }
      return who + " depends on " + finding["sref"].get<std::string>() + " " +
             finding["version_text"].get<std::string>() + blocker(finding);
    }
    for (const json& finding : record["failed_compatibilities"]) {
      return who + " is incompatible with " + finding["id"].get<std::string>() + " " +
             finding["version"].get<std::string>();
    }
    if (record["state"].get<unsigned>() & ox::SOFTWARE_STATE_UNINSTALL) {
      return who + " is an obsolete version";
    }
  }
  for (const json& left : result["not_resolved"]) {
    if (left["reason_code"] == "no_catalog_entry") {
      return "no catalog entry for " + left["id"].get<std::string>() + " " +
             left["version"].get<std::string>();
    }
  }
  return result["outcome"].get<std::string>();
}

// Only the records the request touches, as the compact text report lists
// them: the installed software it removes, replaces, leaves broken or reaches
// through its relations, and every requested entry. Every record with --all.
void keep_touched(json& result, const std::vector<bool>& touched_installed_records) {
  json& records = result["resolved"];
  json kept(json::value_t::array);
  for (std::size_t at = 0; at < records.size(); ++at) {
    if (at >= touched_installed_records.size() || touched_installed_records[at]) {
      kept.push_back(std::move(records[at]));
    }
  }
  records = std::move(kept);
}

struct job {
  std::size_t index = 0;
  machine_input machine;
  std::shared_ptr<ox::package_spec_manager> catalog;
};

}  // namespace

machine_reader::~machine_reader() = default;

struct machine_resolver::state {
  state() { context.set_logger(&logger); }
  state(const state&) = delete;
  state& operator=(const state&) = delete;
  ~state() {
    sets.clear();
    context.set_logger(nullptr);
  }

  ox_refhost::logger logger;
  ox_refhost::context context;
  std::map<const ox::package_spec_manager*, ox::managers> sets;
};

machine_resolver::machine_resolver() : state_(std::make_unique<state>()) {}
machine_resolver::~machine_resolver() = default;

json machine_resolver::resolve(const machine_input& machine, const request& asked,
                               const std::shared_ptr<ox::package_spec_manager>& catalog, bool all) {
  try {
    return resolve_or_throw(machine, asked, catalog, all);
  } catch (const ox::pm_exception& error) {
    return unresolved_line(
        machine.id, "library_error",
        "the resolution failed: pm_exception with code " + describe_code(error.code()));
  } catch (const std::exception& error) {
    return unresolved_line(machine.id, "library_error", error.what());
  }
}

json machine_resolver::resolve_or_throw(const machine_input& machine, const request& asked,
                                        const std::shared_ptr<ox::package_spec_manager>& catalog,
                                        bool all) {
  ox::managers& set = state_->sets[catalog.get()];
  if (set.package == nullptr) {
    set = ox::make_managers(state_->context.get(), catalog);
  }
  const ox_refhost::scoped_store_source scoped(ox_refhost::make_memory_source(machine.installed));
  resolution result;
  result.install = to_software(asked.install);
  result.uninstall = to_software(asked.uninstall);
  const ox::internal::walk_recording recording(result.walk);
  result.resolved = set.package->resolve(result.uninstall, result.install);
  result.incompatible = set.package->is_incompatible(result.resolved);
  result.conflicted = set.package->is_conflicted(result.resolved);
  // The document is the one resolve --format json writes; what it keeps is
  // what the compact report lists.
  const analysis facts =
      analyze(*catalog, result.uninstall, result.install, result.resolved, result.walk);
  json body = resolution_json(result, facts, *catalog);
  if (!all) {
    keep_touched(body, touched_installed(result, facts, *catalog));
  }
  json line(json::value_t::object);
  line["machine"] = machine.id;
  for (auto& item : body.items()) {
    line[item.key()] = std::move(item.value());
  }
  return line;
}

json unresolved_line(const std::string& machine, const std::string& outcome,
                     const std::string& error) {
  json line(json::value_t::object);
  line["machine"] = machine;
  line["outcome"] = outcome;
  line["ok"] = false;
  line["error"] = error;
  return line;
}

const request* request_for(machine_input& machine, const std::optional<request>& common) {
  if (!machine.error.empty()) {
    return nullptr;
  }
  const request* asked =
      machine.own_request ? &*machine.own_request : (common ? &*common : nullptr);
  if (asked == nullptr) {
    machine.error =
        "no request: give one with --request, --install or --uninstall, or in "
        "the machine's \"request\"";
  } else if (asked->install.empty() && asked->uninstall.empty()) {
    machine.error = "the request is empty: nothing to install or uninstall";
    asked = nullptr;
  }
  return asked;
}

json fleet_line(machine_resolver& resolver, catalogs& catalogs, machine_input machine,
                const std::optional<request>& common, bool all) {
  const request* asked = request_for(machine, common);
  if (asked == nullptr) {
    return unresolved_line(machine.id, "input_error", machine.error);
  }
  return resolver.resolve(machine, *asked, catalogs.get(machine.platform.value_or(std::string())),
                          all);
}

machine_input read_machine_line(const std::string& line, const std::string& source,
                                std::size_t line_number) {
  machine_input machine;
  read_into(line, source, line_number, machine);
  return machine;
}

std::string fleet_text_line(const json& line) {
  std::string text = line["machine"].get<std::string>() + ": ";
  if (line["ok"].get<bool>()) {
    return text + "ok\n";
  }
  text += line["outcome"].get<std::string>() + ": ";
  text += line.contains("error") ? line["error"].get<std::string>() : cause_of(line);
  return text + "\n";
}

void fleet_summary::add(const json& line) {
  ++machines_;
  const std::string outcome = line["outcome"].get<std::string>();
  ++outcomes_[outcome];
  if (line["ok"].get<bool>()) {
    ++ok_;
    return;
  }
  const std::string cause =
      line.contains("error") ? line["error"].get<std::string>() : cause_of(line);
  group& g = causes_[{outcome, cause}];
  if (g.machines++ == 0) {
    order_.emplace_back(outcome, cause);
  }
  if (g.examples.size() < kExamples) {
    g.examples.push_back(line["machine"].get<std::string>());
  }
}

json fleet_summary::to_json() const {
  json out(json::value_t::object);
  out["machines"] = machines_;
  out["ok"] = ok_;
  out["not_ok"] = machines_ - ok_;
  json outcomes(json::value_t::object);
  for (const auto& item : outcomes_) {
    outcomes[item.first] = item.second;
  }
  out["outcomes"] = outcomes;
  json causes(json::value_t::array);
  for (const auto& key : sorted_causes()) {
    const group& g = causes_.at(key);
    json cause(json::value_t::object);
    cause["outcome"] = key.first;
    cause["cause"] = key.second;
    cause["machines"] = g.machines;
    cause["examples"] = g.examples;
    causes.push_back(std::move(cause));
  }
  out["causes"] = causes;
  json wrapped(json::value_t::object);
  wrapped["summary"] = out;
  return wrapped;
}

std::string fleet_summary::to_text() const {
  std::string out = "Summary: " + std::to_string(machines_) + " machine" +
                    (machines_ == 1 ? "" : "s") + ", " + std::to_string(ok_) + " ok, " +
                    std::to_string(machines_ - ok_) + " not ok\n";
  for (const auto& item : outcomes_) {
    out += "  " + item.first + ": " + std::to_string(item.second) + "\n";
  }
  if (!causes_.empty()) {
    out += "Failures by cause:\n";
  }
  for (const auto& key : sorted_causes()) {
    const group& g = causes_.at(key);
    out += "  " + std::to_string(g.machines) + " x " + key.first + ": " + key.second + "\n    e.g.";
    for (const std::string& id : g.examples) {
      out += " " + id;
    }
    out += g.machines > g.examples.size() ? " ...\n" : "\n";
  }
  return out;
}

// Most machines first; equal counts in the order first seen.
std::vector<fleet_summary::key> fleet_summary::sorted_causes() const {
  std::vector<key> keys = order_;
  std::stable_sort(keys.begin(), keys.end(), [&](const key& a, const key& b) {
    return causes_.at(a).machines > causes_.at(b).machines;
  });
  return keys;
}

std::unique_ptr<machine_reader> jsonl_machines(std::istream& in, std::string source,
                                               std::optional<std::size_t> lines) {
  return std::make_unique<jsonl_reader>(in, std::move(source), lines);
}

std::unique_ptr<machine_reader> folder_machines(const std::string& folder) {
  return std::make_unique<folder_reader>(folder);
}

catalogs::catalogs(std::vector<std::pair<std::string, std::string>> documents, std::string platform)
    : documents_(std::move(documents)), platform_(std::move(platform)) {}

std::shared_ptr<ox::package_spec_manager> catalogs::get(const std::string& platform) {
  const std::string& name = platform.empty() ? platform_ : platform;
  std::shared_ptr<ox::package_spec_manager>& slot = by_platform_[name];
  if (slot == nullptr) {
    // Imports log nothing anybody reads; the context only serves the
    // capability that the index is built with.
    static ox_refhost::context importer;
    auto catalog = std::make_shared<ox::package_spec_manager>(importer.get());
    catalog->set_platform(name);
    for (const auto& document : documents_) {
      try {
        catalog->import(document.second.data(), document.second.size());
      } catch (const ox::pm_exception& error) {
        by_platform_.erase(name);
        throw input_error("catalog " + document.first + ": cannot be loaded (host error " +
                          describe_code(error.code()) + ")");
      }
    }
    slot = std::move(catalog);
  }
  return slot;
}

fleet_totals run_fleet(catalogs& catalogs, machine_reader& machines, const fleet_options& options,
                       std::ostream& out, const std::function<void(std::size_t)>& progress) {
  const unsigned jobs = std::max(1U, options.jobs);
  const std::size_t window = jobs * kWindowPerJob;

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<job> queue;
  std::map<std::size_t, json> done;
  bool input_finished = false;
  std::size_t next_to_write = 0;
  std::size_t read = 0;

  std::vector<std::thread> workers;
  for (unsigned w = 0; w < jobs; ++w) {
    workers.emplace_back([&] {
      machine_resolver resolver;
      while (true) {
        job work;
        {
          std::unique_lock<std::mutex> lock(mutex);
          changed.wait(lock, [&] { return !queue.empty() || input_finished; });
          if (queue.empty()) {
            return;
          }
          work = std::move(queue.front());
          queue.pop_front();
        }
        const request& asked =
            work.machine.own_request ? *work.machine.own_request : *options.common_request;
        json line = resolver.resolve(work.machine, asked, work.catalog, options.all);
        {
          const std::lock_guard<std::mutex> lock(mutex);
          done.emplace(work.index, std::move(line));
        }
        changed.notify_all();
      }
    });
  }

  fleet_summary totals;
  // Writes, in input order, every result that is ready.
  auto write_ready = [&](std::unique_lock<std::mutex>& lock) {
    while (true) {
      const auto it = done.find(next_to_write);
      if (it == done.end()) {
        return;
      }
      json line = std::move(it->second);
      done.erase(it);
      ++next_to_write;
      lock.unlock();
      totals.add(line);
      if (!options.summary_only) {
        out << (options.json ? line.dump() + "\n" : fleet_text_line(line));
      }
      if (progress) {
        progress(next_to_write);
      }
      lock.lock();
    }
  };

  std::exception_ptr failure;
  try {
    machine_input machine;
    while (machines.next(machine)) {
      job work;
      work.index = read++;
      const request* asked = request_for(machine, options.common_request);
      if (asked != nullptr && options.on_machine) {
        options.on_machine(machine, *asked);
      }
      std::unique_lock<std::mutex> lock(mutex);
      if (asked == nullptr) {
        done.emplace(work.index, unresolved_line(machine.id, "input_error", machine.error));
      } else {
        lock.unlock();
        work.catalog = catalogs.get(machine.platform.value_or(std::string()));
        lock.lock();
        work.machine = std::move(machine);
        queue.push_back(std::move(work));
        changed.notify_all();
      }
      write_ready(lock);
      changed.wait(lock, [&] {
        write_ready(lock);
        return read - next_to_write < window;
      });
      machine = machine_input();
    }
  } catch (...) {
    failure = std::current_exception();
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    input_finished = true;
    if (failure) {
      queue.clear();
    }
  }
  changed.notify_all();
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] {
      write_ready(lock);
      return failure ? queue.empty() : next_to_write == read;
    });
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
  out << (options.json ? totals.to_json().dump() + "\n" : totals.to_text());
  out.flush();
  return {totals.machines(), totals.ok()};
}

}  // namespace oxpm
}  // namespace tarvik

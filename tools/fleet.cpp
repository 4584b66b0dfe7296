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
#include "json_out.hpp"
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

class jsonl_reader : public machine_reader {
 public:
  jsonl_reader(std::istream& in, std::string source, std::optional<std::size_t> lines)
      : in_(in), source_(std::move(source)), lines_(lines) {}

  bool next_unread(unread_machine& machine) override {
    while (std::getline(in_, machine.text)) {
      ++line_number_;
      if (machine.text.find_first_not_of(" \t\r") == std::string::npos) {
        continue;
      }
      machine.line_number = line_number_;
      machine.reader = this;
      return true;
    }
    if (in_.bad()) {
      throw input_error("machines " + source_ + ": cannot be read");
    }
    return false;
  }

  machine_input read_unread(const unread_machine& machine) const override {
    return read_machine_line(machine.text, source_, machine.line_number);
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

  bool next_unread(unread_machine& machine) override {
    if (at_ == files_.size()) {
      return false;
    }
    machine.text = files_[at_++].string();
    machine.reader = this;
    return true;
  }

  machine_input read_unread(const unread_machine& unread) const override {
    const fs::path file(unread.text);
    machine_input machine;
    machine.id = file.stem().string();
    try {
      const std::string text = read_file(unread.text);
      std::string error;
      if (ox_refhost::parse_inventory_json(text, machine.installed, error) != OX_OK) {
        machine.error = unread.text + ": " + error;
      }
    } catch (const input_error& bad) {
      machine.error = bad.what();
    }
    return machine;
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

// Machines handed to a resolving thread at once: fewer hand-overs, while the
// window below keeps every thread busy.
constexpr std::size_t kBatch = 8;

struct batch {
  std::size_t first = 0;  // the index of its first machine in input order
  std::vector<unread_machine> machines;
};

// A machine's result, ready for the writing thread.
struct finished_line {
  std::string text;  // as written (nothing with --summary-only)
  std::string machine;
  std::string outcome;
  std::string cause;
  bool ok = false;
  // The run stops here: the machine's catalog cannot be loaded.
  std::exception_ptr failure;
};

std::string compact_json(const json& document) {
  return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

void finish(const json& line, const fleet_options& options, finished_line& out) {
  out.machine = line["machine"].get<std::string>();
  out.outcome = line["outcome"].get<std::string>();
  out.ok = line["ok"].get<bool>();
  if (!out.ok) {
    out.cause = fleet_cause(line);
  }
  if (options.summary_only) {
    return;
  }
  if (options.json) {
    // A message may quote bytes of a line that are not UTF-8: they are
    // replaced, as in every JSON document of the tool.
    out.text = compact_json(line);
    out.text += '\n';
  } else if (out.ok) {
    out.text = out.machine + ": ok\n";
  } else {
    out.text = out.machine + ": " + out.outcome + ": " + out.cause + "\n";
  }
}

}  // namespace

machine_input unread_machine::take() {
  if (reader == nullptr) {
    return std::move(machine);
  }
  return reader->read_unread(*this);
}

machine_reader::~machine_reader() = default;

bool machine_reader::next(machine_input& machine) {
  unread_machine unread;
  if (!next_unread(unread)) {
    return false;
  }
  machine = unread.take();
  return true;
}

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
  std::vector<bool> touched;
  if (!all) {
    touched =
        touched_installed(result, facts, *catalog, ox_regex_literals_get(state_->context.get()));
  }
  json body = resolution_json(result, facts, *catalog, all ? nullptr : &touched);
  json::object_t& members = body.get_ref<json::object_t&>();
  object_builder line(members.size() + 1);
  line.add("machine", machine.id);
  for (auto& member : members) {
    line.add(member.first.c_str(), std::move(member.second));
  }
  return line.take();
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

std::string fleet_cause(const json& line) {
  return line.contains("error") ? line["error"].get<std::string>() : cause_of(line);
}

std::string fleet_text_line(const json& line) {
  std::string text = line["machine"].get<std::string>() + ": ";
  if (line["ok"].get<bool>()) {
    return text + "ok\n";
  }
  text += line["outcome"].get<std::string>() + ": ";
  text += fleet_cause(line);
  return text + "\n";
}

void fleet_summary::add(const json& line) {
  const bool ok = line["ok"].get<bool>();
  add(line["machine"].get<std::string>(), line["outcome"].get<std::string>(), ok,
      ok ? std::string() : fleet_cause(line));
}

void fleet_summary::add(const std::string& machine, const std::string& outcome, bool ok,
                        const std::string& cause) {
  ++machines_;
  ++outcomes_[outcome];
  if (ok) {
    ++ok_;
    return;
  }
  group& g = causes_[{outcome, cause}];
  if (g.machines++ == 0) {
    order_.emplace_back(outcome, cause);
  }
  if (g.examples.size() < kExamples) {
    g.examples.push_back(machine);
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
  const std::lock_guard<std::mutex> lock(mutex_);
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
  std::condition_variable to_workers;  // a batch is queued, or the input is over
  std::condition_variable to_writer;   // a batch is done
  std::deque<batch> queue;
  std::map<std::size_t, std::vector<finished_line>> done;  // by the batch's first index
  bool input_finished = false;
  std::size_t next_to_write = 0;
  std::size_t read = 0;

  std::vector<std::thread> workers;
  for (unsigned w = 0; w < jobs; ++w) {
    workers.emplace_back([&] {
      machine_resolver resolver;
      while (true) {
        batch work;
        {
          std::unique_lock<std::mutex> lock(mutex);
          to_workers.wait(lock, [&] { return !queue.empty() || input_finished; });
          if (queue.empty()) {
            return;
          }
          work = std::move(queue.front());
          queue.pop_front();
        }
        std::vector<finished_line> lines(work.machines.size());
        for (std::size_t i = 0; i < work.machines.size(); ++i) {
          try {
            machine_input machine = work.machines[i].take();
            const request* asked = request_for(machine, options.common_request);
            if (asked == nullptr) {
              finish(unresolved_line(machine.id, "input_error", machine.error), options, lines[i]);
              continue;
            }
            const auto catalog = catalogs.get(machine.platform.value_or(std::string()));
            finish(resolver.resolve(machine, *asked, catalog, options.all), options, lines[i]);
          } catch (...) {
            lines[i].failure = std::current_exception();
            lines.resize(i + 1);
            break;
          }
        }
        {
          const std::lock_guard<std::mutex> lock(mutex);
          done.emplace(work.first, std::move(lines));
        }
        to_writer.notify_one();
      }
    });
  }

  // On the reading thread only.
  fleet_summary totals;
  std::size_t written = 0;
  std::exception_ptr failure;
  bool stopped = false;  // a machine's catalog cannot be loaded: nothing more is written
  // Writes, in input order, every result that is ready.
  auto write_ready = [&](std::unique_lock<std::mutex>& lock) {
    while (!stopped) {
      const auto it = done.begin();
      if (it == done.end() || it->first != next_to_write) {
        return;
      }
      std::vector<finished_line> lines = std::move(it->second);
      done.erase(it);
      lock.unlock();
      for (const finished_line& line : lines) {
        if (line.failure) {
          failure = line.failure;
          stopped = true;
          break;
        }
        totals.add(line.machine, line.outcome, line.ok, line.cause);
        if (!options.summary_only) {
          out << line.text;
        }
        ++written;
        if (progress) {
          progress(written);
        }
      }
      lock.lock();
      next_to_write += lines.size();
    }
  };

  try {
    batch filling;
    const auto hand_over = [&] {
      std::unique_lock<std::mutex> lock(mutex);
      if (!filling.machines.empty()) {
        queue.push_back(std::move(filling));
        filling = batch();
        to_workers.notify_one();
      }
      to_writer.wait(lock, [&] {
        write_ready(lock);
        return stopped || read - next_to_write < window;
      });
    };
    unread_machine machine;
    while (!stopped && machines.next_unread(machine)) {
      if (options.on_machine) {
        machine.machine = machine.take();
        machine.reader = nullptr;
        const request* asked = request_for(machine.machine, options.common_request);
        if (asked != nullptr) {
          options.on_machine(machine.machine, *asked);
        }
      }
      if (filling.machines.empty()) {
        filling.first = read;
        filling.machines.reserve(kBatch);
      }
      filling.machines.push_back(std::move(machine));
      machine = unread_machine();
      ++read;
      if (filling.machines.size() == kBatch) {
        hand_over();
      }
    }
    hand_over();
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
  to_workers.notify_all();
  {
    std::unique_lock<std::mutex> lock(mutex);
    to_writer.wait(lock, [&] {
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
  out << (options.json ? compact_json(totals.to_json()) + "\n" : totals.to_text());
  out.flush();
  return {totals.machines(), totals.ok()};
}

}  // namespace oxpm
}  // namespace tarvik

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

bool printable_ascii_text(const std::string& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

bool printable_ascii(const json& text) {
  return text.is_string() && printable_ascii_text(text.get_ref<const std::string&>());
}

// The common machine line read in one pass, without building its document:
// the keys "machine" (a non-empty string), "installed" (entries exactly
// {"id", "version"}, printable ASCII, the id not empty), "platform" (a string)
// and "request" (lists of {"id", "version"[, "name"]} strings that a request
// file may hold), each at most once. Anything else, or anything the request
// reader would refuse, stops the pass (false): the line is then read again as
// a document, whose reading says what is wrong. What both readings accept,
// they read alike.
class plain_line_reader {
 public:
  using string_t = json::string_t;
  using number_integer_t = json::number_integer_t;
  using number_unsigned_t = json::number_unsigned_t;
  using number_float_t = json::number_float_t;
  using binary_t = json::binary_t;

  explicit plain_line_reader(machine_input& machine) : machine_(machine) {}

  bool read(const std::string& line) {
    machine_.installed.clear();
    return json::sax_parse(line.data(), line.data() + line.size(), this) && at_ == place::done &&
           checked_request();
  }

  bool null() { return false; }
  bool boolean(bool /*value*/) { return false; }
  bool number_integer(number_integer_t /*value*/) { return false; }
  bool number_unsigned(number_unsigned_t /*value*/) { return false; }
  bool number_float(number_float_t /*value*/, const string_t& /*text*/) { return false; }
  bool binary(binary_t& /*value*/) { return false; }
  bool parse_error(std::size_t /*position*/, const std::string& /*last_token*/,
                   const nlohmann::detail::exception& /*error*/) {
    return false;
  }

  bool start_object(std::size_t /*elements*/) {
    switch (at_) {
      case place::start:
        at_ = place::machine;
        return true;
      case place::installed:
        at_ = place::inventory_entry;
        entry_keys_ = 0;
        machine_.installed.emplace_back();
        return true;
      case place::request_value:
        at_ = place::request;
        machine_.own_request.emplace();
        return true;
      case place::request_list:
        at_ = place::request_entry;
        entry_keys_ = 0;
        list_->emplace_back();
        return true;
      default:
        return false;
    }
  }

  bool end_object() {
    switch (at_) {
      case place::machine:
        at_ = place::done;
        return (machine_keys_ & (kMachine | kInstalled)) == (kMachine | kInstalled);
      case place::inventory_entry:
        at_ = place::installed;
        return entry_keys_ == (kId | kVersion);
      case place::request:
        at_ = place::machine;
        return true;
      case place::request_entry:
        at_ = place::request_list;
        list_->back().has_version = (entry_keys_ & kVersion) != 0;
        return (entry_keys_ & kId) != 0;
      default:
        return false;
    }
  }

  bool start_array(std::size_t /*elements*/) {
    switch (at_) {
      case place::installed_value:
        at_ = place::installed;
        return true;
      case place::request_list_value:
        at_ = place::request_list;
        return true;
      default:
        return false;
    }
  }

  bool end_array() {
    switch (at_) {
      case place::installed:
        at_ = place::machine;
        return true;
      case place::request_list:
        at_ = place::request;
        return true;
      default:
        return false;
    }
  }

  bool key(string_t& name) {
    switch (at_) {
      case place::machine:
        return machine_key(name);
      case place::inventory_entry:
        return entry_key(name, false);
      case place::request:
        if (name == "install" || name == "uninstall") {
          const unsigned bit = name == "install" ? kInstall : kUninstall;
          if ((request_keys_ & bit) != 0) {
            return false;
          }
          request_keys_ |= bit;
          list_ =
              bit == kInstall ? &machine_.own_request->install : &machine_.own_request->uninstall;
          at_ = place::request_list_value;
          return true;
        }
        return false;
      case place::request_entry:
        return entry_key(name, true);
      default:
        return false;
    }
  }

  bool string(string_t& text) {
    switch (at_) {
      case place::machine_value:
        at_ = place::machine;
        if (text.empty()) {
          return false;
        }
        machine_.id = std::move(text);
        return true;
      case place::platform_value:
        at_ = place::machine;
        machine_.platform = std::move(text);
        return true;
      case place::inventory_value: {
        at_ = place::inventory_entry;
        if (!printable_ascii_text(text)) {
          return false;
        }
        ox_refhost::installed_application& entry = machine_.installed.back();
        if (field_ == kId) {
          if (text.empty()) {
            return false;
          }
          entry.id = std::move(text);
        } else {
          entry.version = std::move(text);
        }
        return true;
      }
      case place::request_value_text: {
        at_ = place::request_entry;
        if (text.find('\0') != std::string::npos) {
          return false;
        }
        request_entry& entry = list_->back();
        if (field_ == kId) {
          if (text.empty()) {
            return false;
          }
          entry.id = std::move(text);
        } else if (field_ == kVersion) {
          if (!is_request_version(text)) {
            return false;
          }
          entry.version_text = std::move(text);
        } else {
          entry.name = std::move(text);
        }
        return true;
      }
      default:
        return false;
    }
  }

 private:
  enum class place {
    start,
    machine,             // in the machine's object, before a key
    machine_value,       // after "machine"
    platform_value,      // after "platform"
    installed_value,     // after "installed"
    installed,           // in its array
    inventory_entry,     // in one of its objects, before a key
    inventory_value,     // after its "id" or "version"
    request_value,       // after "request"
    request,             // in the request's object, before a key
    request_list_value,  // after "install" or "uninstall"
    request_list,        // in one of those arrays
    request_entry,       // in one of their objects, before a key
    request_value_text,  // after its "id", "version" or "name"
    done,
  };
  static constexpr unsigned kMachine = 1, kInstalled = 2, kPlatform = 4, kRequest = 8;
  static constexpr unsigned kId = 1, kVersion = 2, kName = 4;
  static constexpr unsigned kInstall = 1, kUninstall = 2;

  bool machine_key(const std::string& name) {
    unsigned bit = 0;
    place next = place::start;
    if (name == "machine") {
      bit = kMachine;
      next = place::machine_value;
    } else if (name == "installed") {
      bit = kInstalled;
      next = place::installed_value;
    } else if (name == "platform") {
      bit = kPlatform;
      next = place::platform_value;
    } else if (name == "request") {
      bit = kRequest;
      next = place::request_value;
    }
    if (bit == 0 || (machine_keys_ & bit) != 0) {
      return false;
    }
    machine_keys_ |= bit;
    at_ = next;
    return true;
  }

  bool entry_key(const std::string& name, bool request) {
    unsigned bit = 0;
    if (name == "id") {
      bit = kId;
    } else if (name == "version") {
      bit = kVersion;
    } else if (name == "name" && request) {
      bit = kName;
    }
    if (bit == 0 || (entry_keys_ & bit) != 0) {
      return false;
    }
    entry_keys_ |= bit;
    field_ = bit;
    at_ = request ? place::request_value_text : place::inventory_value;
    return true;
  }

  // An install entry needs its version.
  bool checked_request() const {
    if (!machine_.own_request) {
      return true;
    }
    return std::all_of(machine_.own_request->install.begin(), machine_.own_request->install.end(),
                       [](const request_entry& entry) { return entry.has_version; });
  }

  machine_input& machine_;
  place at_ = place::start;
  unsigned machine_keys_ = 0;
  unsigned entry_keys_ = 0;
  unsigned request_keys_ = 0;
  unsigned field_ = 0;
  std::vector<request_entry>* list_ = nullptr;
};

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
  if (plain_line_reader(machine).read(line)) {
    return;
  }
  machine = machine_input();
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
    unread_machine unread;
    if (!next_unread(unread)) {
      return false;
    }
    machine = unread.take();
    return true;
  }

  bool next_unread(unread_machine& machine) override {
    while (std::getline(in_, machine.line)) {
      ++line_number_;
      if (machine.line.find_first_not_of(" \t\r") == std::string::npos) {
        continue;
      }
      machine.line_number = line_number_;
      machine.source = &source_;
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
  if (line.empty()) {
    return std::move(machine);
  }
  return read_machine_line(line, *source, line_number);
}

machine_reader::~machine_reader() = default;

bool machine_reader::next_unread(unread_machine& machine) {
  machine.line.clear();
  return next(machine.machine);
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

machine_input read_machine_line(const std::string& line, const std::string& source,
                                std::size_t line_number) {
  machine_input machine;
  read_into(line, source, line_number, machine);
  return machine;
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
        if (!machine.line.empty()) {
          machine.machine = machine.take();
          machine.line.clear();
        }
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

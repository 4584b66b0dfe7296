#include "machine_line.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

namespace tarvik {
namespace oxpm {
namespace {

using json = nlohmann::ordered_json;

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

void read_document(const std::string& line, const std::string& source, std::size_t line_number,
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

}  // namespace

machine_input read_machine_line(const std::string& line, const std::string& source,
                                std::size_t line_number) {
  machine_input machine;
  if (!plain_line_reader(machine).read(line)) {
    machine = read_machine_document(line, source, line_number);
  }
  return machine;
}

machine_input read_machine_document(const std::string& line, const std::string& source,
                                    std::size_t line_number) {
  machine_input machine;
  read_document(line, source, line_number, machine);
  return machine;
}

}  // namespace oxpm
}  // namespace tarvik

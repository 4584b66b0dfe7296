#include "tarvik/ox_refhost/store.hpp"
#include "tarvik/ox_refhost/testing.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>

#include "tarvik/ox/host/ox_registry_store.h"

// One application of a snapshot. It knows its place so that the next one can
// be found from the handle alone, and its store so that a handle of another
// store is not followed.
struct ox_application_s {
  const ox_registry_store_s* owner = nullptr;
  const std::vector<ox_application_s>* walk = nullptr;
  std::size_t index = 0;
  std::string id;
  std::string version;
  bool has_version = false;
};

struct ox_registry_store_s {
  std::shared_ptr<tarvik::ox_refhost::store_source> source;
  // Every successful scan adds one; older ones stay until the store is
  // released because their handles may still be in use.
  std::vector<std::unique_ptr<std::vector<ox_application_s>>> snapshots;
};

namespace tarvik {
namespace ox_refhost {
namespace {

struct thread_store_state {
  bool override_active = false;
  std::shared_ptr<store_source> override_source;
  std::string last_error;
  store_call_counts counts;
  ox_error_e fail_next_create = OX_OK;
  // The code of the last ox_registry_store_create on this thread when it
  // failed: the scan of the null store it left reports it.
  ox_error_e last_create_failure = OX_OK;
};

thread_store_state& this_thread_state() {
  thread_local thread_store_state state;
  return state;
}

std::mutex& global_source_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<store_source>& global_source() {
  static std::shared_ptr<store_source> source;
  return source;
}

// Records the reason of a failed scan; the scan's code is reported even when
// the message itself cannot be stored.
void set_last_error(std::string message) noexcept {
  this_thread_state().last_error = std::move(message);
}

void set_last_error(const char* message) noexcept {
  try {
    this_thread_state().last_error = message;
  } catch (...) {
    this_thread_state().last_error.clear();
  }
}

bool is_control(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

bool has_control(std::string_view text) {
  for (unsigned char c : text) {
    if (is_control(c)) {
      return true;
    }
  }
  return false;
}

// Messages end up on terminals and in JSON; bytes of the input quoted by the
// JSON parser may be anything.
std::string printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (is_control(c) || c >= 0x80) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string errno_text(int error) {
  return std::error_code(error, std::generic_category()).message();
}

ox_error_e read_whole_file(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (file == nullptr) {
    error = path + ": cannot open: " + errno_text(errno);
    return OX_ERROR_IO;
  }
  char buffer[64 * 1024];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof(buffer), file.get());
    if (got > kMaxSourceBytes - text.size()) {
      error = path + ": larger than " + std::to_string(kMaxSourceBytes) + " bytes";
      text.clear();
      return OX_ERROR_LIMIT_EXCEEDED;
    }
    text.append(buffer, got);
    if (got < sizeof(buffer)) {
      break;
    }
  }
  if (std::ferror(file.get()) != 0) {
    error = path + ": cannot read: " + errno_text(errno);
    text.clear();
    return OX_ERROR_IO;
  }
  return OX_OK;
}

// ---------------------------------------------------------------------------
// JSON inventory. Read through the SAX interface: the records are built as
// the text is read, no document tree is kept, and nesting is bounded before
// it can cost anything.

using json = nlohmann::json;

const char* json_kind(json::value_t type) {
  switch (type) {
    case json::value_t::null:
      return "null";
    case json::value_t::boolean:
      return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      return "a number";
    case json::value_t::string:
      return "a string";
    case json::value_t::array:
      return "an array";
    case json::value_t::object:
      return "an object";
    default:
      return "a binary value";
  }
}

class inventory_reader : public nlohmann::json_sax<json> {
 public:
  explicit inventory_reader(std::vector<installed_application>& out) : out_(out) {}

  bool null() override { return value(json::value_t::null, nullptr); }
  bool boolean(bool /*val*/) override { return value(json::value_t::boolean, nullptr); }
  bool number_integer(number_integer_t /*val*/) override {
    return value(json::value_t::number_integer, nullptr);
  }
  bool number_unsigned(number_unsigned_t /*val*/) override {
    return value(json::value_t::number_unsigned, nullptr);
  }
  bool number_float(number_float_t /*val*/, const string_t& /*s*/) override {
    return value(json::value_t::number_float, nullptr);
  }
  bool string(string_t& val) override { return value(json::value_t::string, &val); }
  bool binary(binary_t& /*val*/) override { return value(json::value_t::binary, nullptr); }

  bool start_object(std::size_t /*elements*/) override {
    if (depth_ == 1) {
      ++entry_;
      id_.reset();
      version_.reset();
      has_version_key_ = false;
      unknown_key_.reset();
    } else if (!value(json::value_t::object, nullptr)) {
      return false;
    }
    return enter();
  }

  bool key(string_t& val) override {
    if (depth_ == 2) {
      key_ = std::move(val);
      const bool repeated =
          (key_ == "id" && id_.has_value()) || (key_ == "version" && has_version_key_);
      if (repeated) {
        return shape("entry " + std::to_string(entry_) + ": \"" + key_ + "\" appears twice");
      }
      // Reported once the entry is read, so that the message can name its id.
      if (key_ != "id" && key_ != "version" && !unknown_key_.has_value()) {
        unknown_key_ = key_;
      }
    }
    return true;
  }

  bool end_object() override {
    --depth_;
    if (depth_ == 1) {
      if (!id_.has_value()) {
        return shape("entry " + std::to_string(entry_) + ": no \"id\"");
      }
      if (unknown_key_.has_value()) {
        // A misspelt "version" would otherwise leave the software without one.
        return shape("entry " + std::to_string(entry_) + " (\"" + printable(*id_) +
                     "\"): unknown key \"" + printable(*unknown_key_) +
                     "\" (an entry has \"id\" and \"version\" only)");
      }
      out_.push_back(installed_application{std::move(*id_), std::move(version_)});
    }
    return true;
  }

  bool start_array(std::size_t /*elements*/) override {
    if (depth_ != 0 && !value(json::value_t::array, nullptr)) {
      return false;
    }
    return enter();
  }

  bool end_array() override {
    --depth_;
    return true;
  }

  bool parse_error(std::size_t /*position*/, const std::string& /*last_token*/,
                   const nlohmann::detail::exception& ex) override {
    std::string_view what = ex.what();
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..."
    const std::size_t bracket = what.find("] ");
    if (!what.empty() && what.front() == '[' && bracket != std::string_view::npos) {
      what.remove_prefix(bracket + 2);
    }
    code = OX_ERROR_PARSE;
    error = "malformed JSON: " + printable(what);
    return false;
  }

  ox_error_e code = OX_OK;
  std::string error;

 private:
  bool enter() {
    ++depth_;
    if (depth_ > kMaxInventoryDepth) {
      code = OX_ERROR_LIMIT_EXCEEDED;
      error = "nested deeper than " + std::to_string(kMaxInventoryDepth) + " levels";
      return false;
    }
    return true;
  }

  bool shape(std::string message) {
    code = OX_ERROR_PARSE;
    error = std::move(message);
    return false;
  }

  // A value begins (a scalar, or the start of an array or object) at the
  // current depth.
  bool value(json::value_t type, string_t* text) {
    if (depth_ == 0) {
      return shape(std::string("the top-level value is ") + json_kind(type) + ", not an array");
    }
    if (depth_ == 1) {
      ++entry_;
      return shape("entry " + std::to_string(entry_) + " is " + json_kind(type) +
                   ", not an object");
    }
    if (depth_ > 2) {
      return true;
    }
    const std::string where = "entry " + std::to_string(entry_) + ": ";
    if (key_ == "id") {
      if (type != json::value_t::string) {
        return shape(where + "\"id\" is " + json_kind(type) + ", not a string");
      }
      if (text->empty()) {
        return shape(where + "\"id\" is empty");
      }
      if (has_control(*text)) {
        return shape(where + "\"id\" holds a control character");
      }
      id_ = std::move(*text);
    } else if (key_ == "version") {
      has_version_key_ = true;
      if (type == json::value_t::null) {
        version_.reset();
      } else if (type != json::value_t::string) {
        return shape(where + "\"version\" is " + json_kind(type) + ", not a string or null");
      } else if (has_control(*text)) {
        return shape(where + "\"version\" holds a control character");
      } else {
        version_ = std::move(*text);
      }
    }
    return true;
  }

  std::vector<installed_application>& out_;
  std::size_t depth_ = 0;
  std::size_t entry_ = 0;
  std::string key_;
  std::optional<std::string> id_;
  std::optional<std::string> version_;
  bool has_version_key_ = false;
  std::optional<std::string> unknown_key_;
};

// ---------------------------------------------------------------------------
// dpkg status.

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') {
      x = static_cast<unsigned char>(x - 'A' + 'a');
    }
    if (y >= 'A' && y <= 'Z') {
      y = static_cast<unsigned char>(y - 'A' + 'a');
    }
    if (x != y) {
      return false;
    }
  }
  return true;
}

// "<want> <flag> <status>": the package's files are on the machine when the
// flag is "ok" and the status "installed", whatever was selected for it.
bool is_installed_status(std::string_view status) {
  std::vector<std::string_view> words;
  while (!status.empty()) {
    status = trim_blanks(status);
    std::size_t end = 0;
    while (end < status.size() && status[end] != ' ' && status[end] != '\t') {
      ++end;
    }
    if (end > 0) {
      words.push_back(status.substr(0, end));
    }
    status.remove_prefix(end);
  }
  return words.size() == 3 && words[1] == "ok" && words[2] == "installed";
}

class dpkg_reader {
 public:
  explicit dpkg_reader(std::vector<installed_application>& out) : out_(out) {}

  ox_error_e read(std::string_view text, std::string& error) {
    std::size_t line_number = 0;
    while (!text.empty()) {
      const std::size_t newline = text.find('\n');
      std::string_view line = text.substr(0, newline);
      text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
      ++line_number;
      if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
      }
      if (!take_line(line, line_number, error)) {
        return OX_ERROR_PARSE;
      }
    }
    if (!end_stanza(error)) {
      return OX_ERROR_PARSE;
    }
    return OX_OK;
  }

 private:
  enum class field { none, other, package, version, status };

  bool fail(std::string& error, std::size_t line_number, const std::string& reason) {
    error = "line " + std::to_string(line_number) + ": " + reason;
    return false;
  }

  bool take_line(std::string_view line, std::size_t line_number, std::string& error) {
    if (line.find('\0') != std::string_view::npos) {
      return fail(error, line_number, "NUL byte");
    }
    if (trim_blanks(line).empty()) {
      return end_stanza(error);
    }
    if (line.front() == '#') {
      return true;
    }
    if (line.front() == ' ' || line.front() == '\t') {
      if (current_ == field::none) {
        return fail(error, line_number, "continuation line outside a field");
      }
      if (current_ != field::other) {
        return fail(error, line_number,
                    "field \"" + std::string(current_name_) + "\" continues over several lines");
      }
      return true;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      return fail(error, line_number, "expected \"Field: value\"");
    }
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = trim_blanks(line.substr(colon + 1));
    if (!in_stanza_) {
      in_stanza_ = true;
      stanza_line_ = line_number;
    }
    current_ = field::other;
    std::optional<std::string>* slot = nullptr;
    if (equals_ignoring_case(name, "Package")) {
      current_ = field::package;
      current_name_ = "Package";
      slot = &package_;
    } else if (equals_ignoring_case(name, "Version")) {
      current_ = field::version;
      current_name_ = "Version";
      slot = &version_;
    } else if (equals_ignoring_case(name, "Status")) {
      current_ = field::status;
      current_name_ = "Status";
      slot = &status_;
    }
    if (slot == nullptr) {
      return true;
    }
    if (slot->has_value()) {
      return fail(error, line_number,
                  "field \"" + std::string(current_name_) + "\" appears twice in one entry");
    }
    if (current_ != field::status && has_control(value)) {
      return fail(error, line_number,
                  "field \"" + std::string(current_name_) + "\" holds a control character");
    }
    *slot = std::string(value);
    return true;
  }

  bool end_stanza(std::string& error) {
    if (!in_stanza_) {
      return true;
    }
    if (!package_.has_value()) {
      return fail(error, stanza_line_, "entry without a \"Package\" field");
    }
    if (package_->empty()) {
      return fail(error, stanza_line_, "entry with an empty \"Package\" field");
    }
    if (status_.has_value() && is_installed_status(*status_)) {
      std::optional<std::string> version;
      if (version_.has_value()) {
        version = dpkg_version_text(*version_);
      }
      out_.push_back(installed_application{std::move(*package_), std::move(version)});
    }
    in_stanza_ = false;
    current_ = field::none;
    package_.reset();
    version_.reset();
    status_.reset();
    return true;
  }

  std::vector<installed_application>& out_;
  bool in_stanza_ = false;
  std::size_t stanza_line_ = 0;
  field current_ = field::none;
  const char* current_name_ = "";
  std::optional<std::string> package_;
  std::optional<std::string> version_;
  std::optional<std::string> status_;
};

// ---------------------------------------------------------------------------
// File sources.

using text_parser = ox_error_e (*)(std::string_view, std::vector<installed_application>&,
                                   std::string&);

class file_source : public store_source {
 public:
  file_source(std::string path, text_parser parser) : path_(std::move(path)), parser_(parser) {}

  ox_error_e read(std::vector<installed_application>& out, std::string& error) override {
    std::string text;
    ox_error_e code = read_whole_file(path_, text, error);
    if (code != OX_OK) {
      return code;
    }
    std::string reason;
    code = parser_(text, out, reason);
    if (code != OX_OK) {
      error = path_ + ": " + reason;
    }
    return code;
  }

 private:
  const std::string path_;
  const text_parser parser_;
};

}  // namespace

bool operator==(const installed_application& a, const installed_application& b) {
  return a.id == b.id && a.version == b.version;
}

bool operator!=(const installed_application& a, const installed_application& b) {
  return !(a == b);
}

store_source::~store_source() = default;

memory_store_source::memory_store_source(std::vector<installed_application> applications)
    : applications_(std::move(applications)) {}

void memory_store_source::set_applications(std::vector<installed_application> applications) {
  std::lock_guard<std::mutex> lock(mutex_);
  applications_ = std::move(applications);
}

void memory_store_source::add(std::string id, std::optional<std::string> version) {
  std::lock_guard<std::mutex> lock(mutex_);
  applications_.push_back(installed_application{std::move(id), std::move(version)});
}

void fail_next_scan(memory_store_source& source, ox_error_e code, std::string message) {
  std::lock_guard<std::mutex> lock(source.mutex_);
  source.fail_code_ = code;
  source.fail_message_ = std::move(message);
}

ox_error_e memory_store_source::read(std::vector<installed_application>& out, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fail_code_ != OX_OK) {
    const ox_error_e code = fail_code_;
    fail_code_ = OX_OK;
    error = fail_message_.empty() ? "in-memory store: scan made to fail with code " +
                                        std::to_string(static_cast<int>(code))
                                  : std::move(fail_message_);
    fail_message_.clear();
    return code;
  }
  out = applications_;
  return OX_OK;
}

std::shared_ptr<memory_store_source> make_memory_source(
    std::vector<installed_application> applications) {
  return std::make_shared<memory_store_source>(std::move(applications));
}

std::shared_ptr<store_source> make_inventory_source(std::string path) {
  return std::make_shared<file_source>(std::move(path), &parse_inventory_json);
}

std::shared_ptr<store_source> make_dpkg_status_source(std::string path) {
  return std::make_shared<file_source>(std::move(path), &parse_dpkg_status);
}

void set_store_source(std::shared_ptr<store_source> source) {
  std::lock_guard<std::mutex> lock(global_source_mutex());
  global_source().swap(source);
  // The previous source is released outside the lock (when `source` goes).
}

std::shared_ptr<store_source> current_store_source() {
  const thread_store_state& state = this_thread_state();
  if (state.override_active) {
    return state.override_source;
  }
  std::lock_guard<std::mutex> lock(global_source_mutex());
  return global_source();
}

scoped_store_source::scoped_store_source(std::shared_ptr<store_source> source) {
  thread_store_state& state = this_thread_state();
  previous_active_ = state.override_active;
  previous_ = std::move(state.override_source);
  state.override_active = true;
  state.override_source = std::move(source);
}

scoped_store_source::~scoped_store_source() {
  thread_store_state& state = this_thread_state();
  state.override_active = previous_active_;
  state.override_source = std::move(previous_);
}

std::string last_store_error() {
  return this_thread_state().last_error;
}

ox_error_e parse_inventory_json(std::string_view text, std::vector<installed_application>& out,
                                std::string& error) {
  out.clear();
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    error = "empty input, expected a JSON array";
    return OX_ERROR_PARSE;
  }
  inventory_reader reader(out);
  const bool ok = json::sax_parse(text.begin(), text.end(), &reader);
  if (!ok || reader.code != OX_OK) {
    out.clear();
    if (reader.code == OX_OK) {
      reader.code = OX_ERROR_PARSE;
      reader.error = "malformed JSON";
    }
    error = std::move(reader.error);
    return reader.code;
  }
  return OX_OK;
}

std::string dpkg_version_text(std::string_view debian) {
  // The epoch: digits before the first colon.
  const std::size_t colon = debian.find(':');
  if (colon != std::string_view::npos && colon > 0 &&
      debian.substr(0, colon).find_first_not_of("0123456789") == std::string_view::npos) {
    debian.remove_prefix(colon + 1);
  }
  // The revision: after the last hyphen.
  const std::size_t hyphen = debian.rfind('-');
  if (hyphen != std::string_view::npos) {
    debian.remove_suffix(debian.size() - hyphen);
  }
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  std::uint32_t pieces[4] = {0, 0, 0, 0};
  std::size_t at = 0;
  for (std::size_t piece = 0; piece < 4 && at < debian.size() && is_digit(debian[at]); ++piece) {
    std::uint64_t value = 0;
    for (; at < debian.size() && is_digit(debian[at]); ++at) {
      value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(debian[at] - '0'),
                                      0xFFFFFFFFu);
    }
    pieces[piece] = static_cast<std::uint32_t>(value);
    // Only a dot followed by a digit leads to the next piece: a letter, a
    // "~" or "+" tail, or anything else ends the numbers.
    if (at + 1 < debian.size() && debian[at] == '.' && is_digit(debian[at + 1])) {
      ++at;
    } else {
      break;
    }
  }
  return std::to_string(pieces[0]) + "." + std::to_string(pieces[1]) + "." +
         std::to_string(pieces[2]) + "." + std::to_string(pieces[3]);
}

ox_error_e parse_dpkg_status(std::string_view text, std::vector<installed_application>& out,
                             std::string& error) {
  out.clear();
  dpkg_reader reader(out);
  const ox_error_e code = reader.read(text, error);
  if (code != OX_OK) {
    out.clear();
  }
  return code;
}

store_call_counts store_calls_on_this_thread() {
  return this_thread_state().counts;
}

void fail_next_store_create(ox_error_e code) {
  this_thread_state().fail_next_create = code;
}

}  // namespace ox_refhost
}  // namespace tarvik

using tarvik::ox_refhost::installed_application;

extern "C" int ox_registry_store_create(ox_registry_store_s** store) {
  tarvik::ox_refhost::thread_store_state& state = tarvik::ox_refhost::this_thread_state();
  ++state.counts.create_calls;
  state.last_create_failure = OX_ERROR_INVALID_ARGUMENT;
  if (store == nullptr) {
    return OX_ERROR_INVALID_ARGUMENT;
  }
  *store = nullptr;
  if (state.fail_next_create != OX_OK) {
    state.last_create_failure = state.fail_next_create;
    state.fail_next_create = OX_OK;
    return state.last_create_failure;
  }
  try {
    std::shared_ptr<tarvik::ox_refhost::store_source> source =
        tarvik::ox_refhost::current_store_source();
    std::unique_ptr<ox_registry_store_s> created(new ox_registry_store_s);
    created->source = std::move(source);
    *store = created.release();
    state.last_create_failure = OX_OK;
    return OX_OK;
  } catch (const std::bad_alloc&) {
    state.last_create_failure = OX_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    state.last_create_failure = OX_ERROR_UNEXPECTED;
  }
  return state.last_create_failure;
}

extern "C" int ox_registry_store_scan(ox_registry_store_s* store) {
  using tarvik::ox_refhost::set_last_error;
  set_last_error(std::string());
  if (store == nullptr) {
    // The caller scans whatever handle the creation left; a creation that
    // failed for want of memory must not be reported as a bad argument.
    const ox_error_e failure = tarvik::ox_refhost::this_thread_state().last_create_failure;
    set_last_error("no store to scan: its creation failed");
    return failure != OX_OK ? failure : OX_ERROR_INVALID_ARGUMENT;
  }
  try {
    std::vector<installed_application> applications;
    std::string error;
    ox_error_e code = OX_OK;
    if (store->source != nullptr) {
      code = store->source->read(applications, error);
    }
    if (code != OX_OK) {
      if (error.empty()) {
        error = "the store's source failed with code " + std::to_string(static_cast<int>(code));
      }
      set_last_error(std::move(error));
      return code;
    }
    // A source of the embedding program's own may hand over anything; a text
    // with a NUL byte would reach the library cut short.
    for (std::size_t i = 0; i < applications.size(); ++i) {
      const installed_application& app = applications[i];
      const bool cut = app.id.find('\0') != std::string::npos ||
                       (app.version.has_value() && app.version->find('\0') != std::string::npos);
      if (cut) {
        set_last_error("store source: entry " + std::to_string(i + 1) +
                       ": id or version holds a NUL byte");
        return OX_ERROR_INVALID_ARGUMENT;
      }
    }
    auto walk = std::make_unique<std::vector<ox_application_s>>(applications.size());
    for (std::size_t i = 0; i < applications.size(); ++i) {
      ox_application_s& entry = (*walk)[i];
      entry.owner = store;
      entry.walk = walk.get();
      entry.index = i;
      entry.id = std::move(applications[i].id);
      entry.has_version = applications[i].version.has_value();
      if (entry.has_version) {
        entry.version = std::move(*applications[i].version);
      }
    }
    store->snapshots.push_back(std::move(walk));
    return OX_OK;
  } catch (const std::bad_alloc&) {
    set_last_error("out of memory while reading the installed applications");
    return OX_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    set_last_error("unexpected failure while reading the installed applications");
    return OX_ERROR_UNEXPECTED;
  }
}

extern "C" const ox_application_s* ox_registry_store_get_next_application(
    ox_registry_store_s* store, const ox_application_s* previous) {
  if (store == nullptr) {
    return nullptr;
  }
  if (previous == nullptr) {
    if (store->snapshots.empty() || store->snapshots.back()->empty()) {
      return nullptr;
    }
    return &store->snapshots.back()->front();
  }
  if (previous->owner != store) {
    return nullptr;
  }
  const std::size_t next = previous->index + 1;
  return next < previous->walk->size() ? &(*previous->walk)[next] : nullptr;
}

extern "C" int ox_registry_store_release(ox_registry_store_s* store) {
  tarvik::ox_refhost::thread_store_state& state = tarvik::ox_refhost::this_thread_state();
  ++state.counts.release_calls;
  if (store == nullptr) {
    ++state.counts.null_release_calls;
    return OX_OK;
  }
  delete store;
  return OX_OK;
}

extern "C" const char* ox_application_get_software_id(const ox_application_s* application) {
  return application != nullptr ? application->id.c_str() : nullptr;
}

extern "C" const char* ox_application_get_version(const ox_application_s* application) {
  return application != nullptr && application->has_version ? application->version.c_str()
                                                            : nullptr;
}

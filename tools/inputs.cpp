#include "inputs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "style.hpp"

namespace tarvik {
namespace oxpm {
namespace {

using json = nlohmann::json;

class fd_guard {
 public:
  explicit fd_guard(int fd) : fd_(fd) {}
  fd_guard(const fd_guard&) = delete;
  fd_guard& operator=(const fd_guard&) = delete;
  ~fd_guard() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }

 private:
  int fd_;
};

struct too_deep {};

std::string describe(const json& value) {
  switch (value.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::object:
      return "an object";
    case json::value_t::array:
      return "an array";
    case json::value_t::string:
      return "a string";
    case json::value_t::boolean:
      return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      return "a number";
    default:
      return "an unsupported value";
  }
}

std::string checked_text(const json& value, const std::string& where, const char* key) {
  if (!value.is_string()) {
    throw input_error(where + ": \"" + key + "\" must be a string, not " + describe(value));
  }
  std::string text = value.get<std::string>();
  if (text.find('\0') != std::string::npos) {
    // The library hands texts to the host as C strings: a NUL would cut them.
    throw input_error(where + ": \"" + key + "\" contains a NUL character");
  }
  return text;
}

void check_version(const std::string& text, const std::string& where) {
  if (!is_request_version(text)) {
    throw input_error(where + ": the version " + quoted(text) + " is not a version: expected " +
                      kVersionForm);
  }
}

std::vector<request_entry> read_list(const json& list, const std::string& where,
                                     version_need need) {
  if (!list.is_array()) {
    throw input_error(where + " must be an array, not " + describe(list));
  }
  std::vector<request_entry> entries;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const json& item = list[i];
    const std::string here = where + "[" + std::to_string(i) + "]";
    if (!item.is_object()) {
      throw input_error(here + " must be an object, not " + describe(item));
    }
    request_entry entry;
    bool has_id = false;
    bool has_version = false;
    for (const auto& field : item.items()) {
      if (field.key() == "id") {
        entry.id = checked_text(field.value(), here, "id");
        has_id = true;
      } else if (field.key() == "version") {
        entry.version_text = checked_text(field.value(), here, "version");
        has_version = true;
      } else if (field.key() == "name") {
        entry.name = checked_text(field.value(), here, "name");
      } else {
        throw input_error(here + ": unknown key \"" + field.key() +
                          "\" (expected \"id\", \"version\" and optionally \"name\")");
      }
    }
    if (!has_id || entry.id.empty()) {
      throw input_error(here + ": \"id\" is missing or empty");
    }
    if (has_version) {
      check_version(entry.version_text, here);
    } else if (need == version_need::required) {
      throw input_error(
          here + ": \"version\" is missing (an install entry needs one: " + kVersionForm + ")");
    }
    entry.has_version = has_version;
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace

const char kVersionForm[] =
    "two to four dot-separated decimal numbers, each at most 4294967295, like 3.1 or 3.1.0.2";

bool is_request_version(const std::string& text) {
  std::size_t pieces = 0;
  std::size_t at = 0;
  for (;;) {
    const std::size_t start = at;
    std::uint64_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
      if (value > ox::version::kMaxComponent) {
        return false;
      }
      ++at;
    }
    if (at == start) {
      return false;
    }
    ++pieces;
    if (at == text.size()) {
      return pieces >= 2 && pieces <= 4;
    }
    if (text[at] != '.' || pieces == 4) {
      return false;
    }
    ++at;
  }
}

std::string input_name(const std::string& path) {
  return path == kStandardInput ? std::string("standard input") : path;
}

std::string read_file(const std::string& path, std::size_t max_size) {
  const bool from_stdin = path == kStandardInput;
  const std::string name = input_name(path);
  int fd = from_stdin ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw input_error(name + ": " + std::strerror(errno));
  }
  // Standard input stays open for whoever reads it next (and is read once).
  fd_guard guard(from_stdin ? -1 : fd);
  struct stat info {};
  const bool known = ::fstat(fd, &info) == 0;
  if (known && S_ISDIR(info.st_mode)) {
    throw input_error(name + ": is a directory");
  }
  const auto too_large = [&] {
    return input_error(name + ": larger than " + std::to_string(max_size) + " bytes");
  };
  // A regular file is read into a buffer of its size at once: growing a
  // string chunk by chunk touches about three times the file in fresh pages.
  // One byte to spare tells a file that grew since fstat from one that did
  // not; pipes, terminals and files that change size go on growing the
  // buffer until the end of the input. Reading up to one byte past the limit
  // tells an input at the limit from a larger one.
  const std::size_t ceiling =
      max_size == std::numeric_limits<std::size_t>::max() ? max_size : max_size + 1;
  std::size_t capacity = 64 * 1024;
  if (known && S_ISREG(info.st_mode) && info.st_size > 0) {
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size > max_size) {
      throw too_large();
    }
    capacity = size + 1;
  }
  std::string content(std::min(capacity, ceiling), '\0');
  std::size_t length = 0;
  for (;;) {
    if (length == content.size()) {
      content.resize(std::min(std::max(2 * length, capacity), ceiling));
    }
    const ssize_t got = ::read(fd, &content[length], content.size() - length);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw input_error(name + ": " + std::strerror(errno));
    }
    if (got == 0) {
      break;
    }
    length += static_cast<std::size_t>(got);
    if (length > max_size) {
      throw too_large();
    }
  }
  content.resize(length);
  return content;
}

request parse_request_json(const std::string& text, const std::string& source) {
  json document;
  try {
    json::parser_callback_t limit_depth = [](int depth, json::parse_event_t event, json&) {
      if ((event == json::parse_event_t::object_start ||
           event == json::parse_event_t::array_start) &&
          depth >= kMaxRequestDepth) {
        throw too_deep{};
      }
      return true;
    };
    document = json::parse(text, limit_depth);
  } catch (const too_deep&) {
    throw input_error(source + ": not a request: nested more than " +
                      std::to_string(kMaxRequestDepth) + " levels deep");
  } catch (const json::exception& error) {
    // A parse error, or a number too large for a double (out_of_range).
    throw input_error(source + ": malformed JSON: " + error.what());
  }
  if (!document.is_object()) {
    throw input_error(source +
                      ": a request must be a JSON object with \"install\" and/or "
                      "\"uninstall\" lists, not " +
                      describe(document));
  }
  request result;
  for (const auto& field : document.items()) {
    if (field.key() == "install") {
      result.install = read_list(field.value(), source + ": install", version_need::required);
    } else if (field.key() == "uninstall") {
      result.uninstall = read_list(field.value(), source + ": uninstall", version_need::optional);
    } else {
      throw input_error(source + ": unknown key \"" + field.key() +
                        "\" (expected \"install\" and \"uninstall\")");
    }
  }
  return result;
}

request_entry parse_assignment(const std::string& text, const std::string& option,
                               version_need need) {
  const std::string where = option + " " + quoted(text);
  const std::size_t equals = text.rfind('=');
  request_entry entry;
  if (equals == std::string::npos && need == version_need::optional && !text.empty()) {
    entry.id = text;
    entry.has_version = false;
    return entry;
  }
  if (equals == std::string::npos || equals == 0) {
    throw input_error(where + ": expected " +
                      (need == version_need::optional ? "ID or ID=VERSION" : "ID=VERSION") +
                      ", VERSION being " + kVersionForm);
  }
  entry.id = text.substr(0, equals);
  entry.version_text = text.substr(equals + 1);
  check_version(entry.version_text, where);
  return entry;
}

request read_request(const std::string& file, const std::vector<std::string>& installs,
                     const std::vector<std::string>& uninstalls) {
  request asked;
  if (!file.empty()) {
    std::string text;
    try {
      text = read_file(file);
    } catch (const input_error& error) {
      throw input_error(std::string("request ") + error.what());
    }
    asked = parse_request_json(text, "request " + input_name(file));
  }
  for (const std::string& text : installs) {
    asked.install.push_back(parse_assignment(text, "--install"));
  }
  for (const std::string& text : uninstalls) {
    asked.uninstall.push_back(parse_assignment(text, "--uninstall", version_need::optional));
  }
  return asked;
}

std::vector<ox::software> to_software(const std::vector<request_entry>& entries) {
  std::vector<ox::software> list;
  list.reserve(entries.size());
  for (const request_entry& entry : entries) {
    ox::software sw(entry.id, ox::version(entry.version_text));
    sw.set_name(entry.name);
    list.push_back(sw);
  }
  return list;
}

}  // namespace oxpm
}  // namespace tarvik

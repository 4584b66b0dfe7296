// The dpkg status reader (store.hpp).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store_internal.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace ox_refhost {
namespace {

using store_internal::has_control;
using store_internal::printable;

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

}  // namespace

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
}  // namespace ox_refhost
}  // namespace tarvik

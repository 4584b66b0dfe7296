#include "case_file.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "style.hpp"

namespace tarvik {
namespace oxpm {
namespace {

using json = nlohmann::ordered_json;

constexpr char kNoFinalNewline[] = " (no final newline)";
constexpr char kHeader[] = "== ";

// The kinds in the order a file holds them.
const char* const kKinds[] = {"settings",    "platform",     "catalog",     "installed",
                              "request",     "expect exit",  "expect json", "expect log",
                              "expect text", "expect graph", "expect lint", "expect show"};
constexpr std::size_t kKindCount = sizeof(kKinds) / sizeof(kKinds[0]);

std::size_t rank_of(const std::string& kind) {
  return static_cast<std::size_t>(std::find(kKinds, kKinds + kKindCount, kind) - kKinds);
}

bool repeatable(const std::string& kind) {
  return kind == "catalog" || kind == "expect show";
}

// Expected JSON documents nest a few levels; far deeper is not ours.
constexpr int kMaxExpectedDepth = 64;

struct too_deep {};

class reader {
 public:
  reader(const std::string& text, const std::string& source) : text_(text), source_(source) {}

  case_file read() {
    case_file result;
    std::string line;
    if (!next_line(line) || line != kCaseMagic) {
      fail(1, line.compare(0, 10, "oxpm-case ") == 0
                  ? "unsupported case version " + oxpm::quoted(line) + " (this oxpm reads " +
                        oxpm::quoted(kCaseMagic) + ")"
                  : std::string("not a case file: the first line must be ") +
                        oxpm::quoted(kCaseMagic));
    }
    bool in_description = true;
    case_section* open = nullptr;
    bool open_without_newline = false;
    while (next_line(line)) {
      if (line.compare(0, 3, kHeader) == 0) {
        close(open, open_without_newline);
        in_description = false;
        result.sections.push_back(header(line, open_without_newline));
        open = &result.sections.back();
        continue;
      }
      if (in_description) {
        if (line.empty() || line[0] != '#') {
          fail(line_, "expected a \"#\" description line or a \"== \" section header");
        }
        result.description += line;
        result.description += '\n';
        continue;
      }
      if (!line.empty() && line[0] == '\\') {
        line.erase(0, 1);
      }
      open->body += line;
      if (had_newline_) {
        open->body += '\n';
      }
    }
    close(open, open_without_newline);
    check_order(result.sections);
    read_inputs(result);
    return result;
  }

 private:
  // The next line without its newline; false at the end of the text.
  bool next_line(std::string& line) {
    if (at_ >= text_.size()) {
      return false;
    }
    const std::size_t end = text_.find('\n', at_);
    had_newline_ = end != std::string::npos;
    const std::size_t stop = had_newline_ ? end : text_.size();
    line.assign(text_, at_, stop - at_);
    at_ = had_newline_ ? end + 1 : text_.size();
    ++line_;
    return true;
  }

  [[noreturn]] void fail(std::size_t line, const std::string& message) const {
    throw input_error(source_ + ":" + std::to_string(line) + ": " + message);
  }

  void close(case_section* open, bool without_newline) const {
    if (open != nullptr && without_newline && !open->body.empty() && open->body.back() == '\n') {
      open->body.pop_back();
    }
  }

  case_section header(const std::string& line, bool& without_newline) const {
    case_section section;
    section.line = line_;
    for (const char c : line) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
        fail(line_, "a section header holds a control character: " + oxpm::quoted(line));
      }
    }
    std::string rest = line.substr(3);
    const std::size_t suffix = sizeof(kNoFinalNewline) - 1;
    without_newline =
        rest.size() >= suffix && rest.compare(rest.size() - suffix, suffix, kNoFinalNewline) == 0;
    if (without_newline) {
      rest.resize(rest.size() - suffix);
    }
    const bool expect = rest.compare(0, 7, "expect ") == 0;
    const std::size_t space = rest.find(' ', expect ? 7 : 0);
    section.kind = rest.substr(0, space);
    if (space != std::string::npos) {
      section.argument = rest.substr(space + 1);
    }
    const std::size_t rank = rank_of(section.kind);
    if (rank == kKindCount) {
      fail(line_, "unknown section " + oxpm::quoted(rest));
    }
    const bool needs_argument = section.kind == "catalog" || section.kind == "expect show";
    if (needs_argument && section.argument.empty()) {
      fail(line_, "the section " + oxpm::quoted(section.kind) + " needs " +
                      (section.kind == "catalog" ? "the catalog's name" : "an id"));
    }
    if (!needs_argument && space != std::string::npos &&
        !(section.kind == "expect lint" && lint_exit(section.argument) >= 0)) {
      fail(line_, "the section " + oxpm::quoted(section.kind) + " takes no " +
                      oxpm::quoted(section.argument) +
                      (section.kind == "expect lint" ? " (only exit=0, exit=1 or exit=2)" : ""));
    }
    return section;
  }

  static int lint_exit(const std::string& argument) {
    if (argument.size() == 6 && argument.compare(0, 5, "exit=") == 0 && argument[5] >= '0' &&
        argument[5] <= '2') {
      return argument[5] - '0';
    }
    return -1;
  }

  void check_order(const std::vector<case_section>& sections) const {
    std::size_t last = 0;
    bool any = false;
    for (const case_section& section : sections) {
      const std::size_t rank = rank_of(section.kind);
      if (any && (rank < last || (rank == last && !repeatable(section.kind)))) {
        fail(section.line, "the section " + oxpm::quoted(section.kind) +
                               (rank == last ? " appears twice" : " comes too late") +
                               " (sections come once each, in the order settings, platform, "
                               "catalog..., installed, request, expect exit, json, log, text, "
                               "graph, lint, show...)");
      }
      last = rank;
      any = true;
    }
    for (const char* needed : {"catalog", "installed", "request", "expect exit"}) {
      if (std::none_of(sections.begin(), sections.end(),
                       [&](const case_section& s) { return s.kind == needed; })) {
        fail(line_, std::string("no \"== ") + needed + "\" section");
      }
    }
  }

  // The lines of a body without their newlines.
  static std::vector<std::string> lines_of(const std::string& body) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < body.size()) {
      const std::size_t end = std::min(body.find('\n', at), body.size());
      lines.push_back(body.substr(at, end - at));
      at = end + 1;
    }
    return lines;
  }

  // The one line of a body.
  std::string one_line(const case_section& section) const {
    const std::vector<std::string> lines = lines_of(section.body);
    if (lines.size() > 1) {
      fail(section.line + 2, "the section " + oxpm::quoted(section.kind) + " holds one line");
    }
    return lines.empty() ? std::string() : lines[0];
  }

  void read_settings(const case_section& section, case_inputs& inputs) const {
    const std::vector<std::string> lines = lines_of(section.body);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      const std::size_t number = section.line + 1 + i;
      if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') {
        continue;
      }
      const std::size_t equals = line.find('=');
      const auto trim = [](const std::string& text) {
        const std::size_t begin = text.find_first_not_of(" \t");
        const std::size_t end = text.find_last_not_of(" \t");
        return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
      };
      const std::string key = trim(line.substr(0, equals));
      const std::string value = equals == std::string::npos ? "" : trim(line.substr(equals + 1));
      if (equals == std::string::npos) {
        fail(number, "expected \"key = value\", not " + oxpm::quoted(line));
      }
      if (key != "legacy-dependency-checks") {
        fail(number, "unknown setting " + oxpm::quoted(key) + " (known: legacy-dependency-checks)");
      }
      if (value != "on" && value != "off") {
        fail(number, "legacy-dependency-checks is on or off, not " + oxpm::quoted(value));
      }
      inputs.legacy_dependency_checks = value == "on";
    }
  }

  void check_expectation(const case_section& section) const {
    if (section.kind == "expect exit") {
      const std::string value = one_line(section);
      if (value.size() != 1 || value[0] < '0' || value[0] > '3') {
        fail(section.line + 1, "the exit status is 0, 1, 2 or 3, not " + oxpm::quoted(value));
      }
    } else if (section.kind == "expect json" &&
               section.body.find_first_not_of(" \t\r\n") != std::string::npos) {
      try {
        json::parser_callback_t limit = [](int depth, json::parse_event_t event, json&) {
          if ((event == json::parse_event_t::object_start ||
               event == json::parse_event_t::array_start) &&
              depth >= kMaxExpectedDepth) {
            throw too_deep{};
          }
          return true;
        };
        const json checked = json::parse(section.body, limit);
        static_cast<void>(checked);
      } catch (const too_deep&) {
        fail(section.line,
             "expect json: nested more than " + std::to_string(kMaxExpectedDepth) + " levels deep");
      } catch (const json::exception& error) {
        fail(section.line, std::string("expect json: malformed JSON: ") + error.what());
      }
    }
  }

  void read_inputs(case_file& result) const {
    case_inputs& inputs = result.inputs;
    for (const case_section& section : result.sections) {
      const std::string where = source_ + ":" + std::to_string(section.line) + ": ";
      if (section.kind == "settings") {
        read_settings(section, inputs);
      } else if (section.kind == "platform") {
        inputs.platform = one_line(section);
      } else if (section.kind == "catalog") {
        inputs.catalogs.emplace_back(section.argument, section.body);
      } else if (section.kind == "installed") {
        std::string error;
        if (ox_refhost::parse_inventory_json(section.body, inputs.installed, error) != OX_OK) {
          fail(section.line, "installed: " + error);
        }
      } else if (section.kind == "request") {
        inputs.asked = parse_request_json(section.body, where + "request");
      } else {
        check_expectation(section);
      }
    }
  }

  const std::string& text_;
  const std::string& source_;
  std::size_t at_ = 0;
  std::size_t line_ = 0;
  bool had_newline_ = false;
};

std::string json_text(const std::string& text) {
  return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

case_file parse_case(const std::string& text, const std::string& source) {
  return reader(text, source).read();
}

std::string write_case(const case_file& c) {
  std::string out = kCaseMagic;
  out += '\n';
  out += c.description;
  for (const case_section& section : c.sections) {
    out += kHeader;
    out += section.kind;
    if (!section.argument.empty()) {
      out += ' ';
      out += section.argument;
    }
    const bool without_newline = !section.body.empty() && section.body.back() != '\n';
    if (without_newline) {
      out += kNoFinalNewline;
    }
    out += '\n';
    std::size_t at = 0;
    while (at < section.body.size()) {
      const std::size_t end = std::min(section.body.find('\n', at), section.body.size() - 1);
      if (section.body[at] == '\\' || section.body.compare(at, 3, kHeader) == 0) {
        out += '\\';
      }
      out.append(section.body, at, end + 1 - at);
      at = end + 1;
    }
    if (without_newline) {
      out += '\n';
    }
  }
  return out;
}

std::vector<case_section> input_sections(const case_inputs& inputs) {
  std::vector<case_section> sections;
  if (inputs.legacy_dependency_checks) {
    sections.push_back({"settings", "", "legacy-dependency-checks = on\n"});
  }
  if (!inputs.platform.empty()) {
    sections.push_back({"platform", "", inputs.platform + "\n"});
  }
  for (const auto& catalog : inputs.catalogs) {
    sections.push_back({"catalog", catalog.first, catalog.second});
  }
  std::string installed = "[";
  for (std::size_t i = 0; i < inputs.installed.size(); ++i) {
    const ox_refhost::installed_application& app = inputs.installed[i];
    installed += (i == 0 ? "\n  {\"id\": " : ",\n  {\"id\": ") + json_text(app.id);
    if (app.version) {
      installed += ", \"version\": " + json_text(*app.version);
    }
    installed += "}";
  }
  sections.push_back({"installed", "", installed + (inputs.installed.empty() ? "]\n" : "\n]\n")});
  std::string asked = "{";
  const auto list = [&](const char* key, const std::vector<request_entry>& entries) {
    if (entries.empty()) {
      return;
    }
    asked += std::string(asked.size() == 1 ? "\n  \"" : ",\n  \"") + key + "\": [";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      asked += (i == 0 ? "\n    {\"id\": " : ",\n    {\"id\": ") + json_text(entries[i].id);
      if (entries[i].has_version) {
        asked += ", \"version\": " + json_text(entries[i].version_text);
      }
      if (!entries[i].name.empty()) {
        asked += ", \"name\": " + json_text(entries[i].name);
      }
      asked += "}";
    }
    asked += "\n  ]";
  };
  list("install", inputs.asked.install);
  list("uninstall", inputs.asked.uninstall);
  sections.push_back({"request", "", asked + (asked.size() == 1 ? "}\n" : "\n}\n")});
  return sections;
}

const case_section* find_section(const case_file& c, const std::string& kind) {
  for (const case_section& section : c.sections) {
    if (section.kind == kind) {
      return &section;
    }
  }
  return nullptr;
}

}  // namespace oxpm
}  // namespace tarvik

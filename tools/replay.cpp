#include "replay.hpp"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "analysis.hpp"
#include "cli.hpp"
#include "graph.hpp"
#include "lint.hpp"
#include "report.hpp"
#include "show.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace oxpm {
namespace {

// Read in document order, so that a difference is the first one a reader
// meets; compared without regard to the order of an object's keys.
using json = nlohmann::ordered_json;

bool same(const std::optional<json>& a, const std::optional<json>& b) {
  return a.has_value() == b.has_value() && (!a || nlohmann::json(*a) == nlohmann::json(*b));
}

// The log lines of a run, as a case file holds them.
class case_log_sink : public ox_refhost::log_sink {
 public:
  void write(const ox_refhost::log_record& record) override {
    text_ += case_log_line(record);
    text_ += '\n';
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::string side(const char* label, const std::optional<std::string>& text) {
  return std::string("  ") + label + (text ? printable(*text) : "(nothing)") + "\n";
}

// The first line where the texts differ, both sides shown.
std::string text_difference(const std::string& expected, const std::string& actual) {
  if (expected == actual) {
    return {};
  }
  const std::vector<std::string> a = lines_of(expected);
  const std::vector<std::string> b = lines_of(actual);
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) {
    ++i;
  }
  const auto at = [](const std::vector<std::string>& lines,
                     std::size_t n) -> std::optional<std::string> {
    return n < lines.size() ? std::optional<std::string>(lines[n]) : std::nullopt;
  };
  if (i == a.size() && i == b.size()) {
    return "differs in its final newline\n";
  }
  return "line " + std::to_string(i + 1) + " differs\n" + side("expected: ", at(a, i)) +
         side("actual:   ", at(b, i));
}

std::optional<json> parsed(const std::string& text) {
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    return std::nullopt;
  }
  return json::parse(text, nullptr, false);
}

std::string shown(const std::optional<json>& value) {
  return value ? value->dump(-1, ' ', false, json::error_handler_t::replace) : "(nothing)";
}

// The first differing member of two objects, or record of two arrays, by
// its path ("resolved[2]"), both sides shown.
std::string json_difference(const std::string& path, const std::optional<json>& a,
                            const std::optional<json>& b) {
  if (same(a, b)) {
    return {};
  }
  if (a && b && a->is_object() && b->is_object()) {
    for (const auto& item : a->items()) {
      const std::string at = path.empty() ? item.key() : path + "." + item.key();
      const std::optional<json> other =
          b->contains(item.key()) ? std::optional<json>(b->at(item.key())) : std::nullopt;
      const std::string found = json_difference(at, item.value(), other);
      if (!found.empty()) {
        return found;
      }
    }
    for (const auto& item : b->items()) {
      if (!a->contains(item.key())) {
        return json_difference(path.empty() ? item.key() : path + "." + item.key(), std::nullopt,
                               item.value());
      }
    }
  }
  if (a && b && a->is_array() && b->is_array()) {
    for (std::size_t i = 0; i < std::max(a->size(), b->size()); ++i) {
      const auto element = [&](const json& list) {
        return i < list.size() ? std::optional<json>(list[i]) : std::nullopt;
      };
      if (!same(element(*a), element(*b))) {
        return path + "[" + std::to_string(i) + "] differs\n" +
               side("expected: ", shown(element(*a))) + side("actual:   ", shown(element(*b)));
      }
    }
  }
  return (path.empty() ? std::string("the document") : path) + " differs\n" +
         side("expected: ", shown(a)) + side("actual:   ", shown(b));
}

case_section expect(const std::string& kind, std::string body, std::string argument = {}) {
  return {kind, std::move(argument), std::move(body)};
}

bool has(const case_file& c, const std::string& kind) {
  return find_section(c, kind) != nullptr;
}

}  // namespace

std::string render_report(const session& host, const resolution& result, report_kind kind,
                          const std::string& platform, const style& look, bool all,
                          int* exit_status) {
  const analysis facts =
      analyze(host.specs(), result.uninstall, result.install, result.resolved, result.walk);
  if (exit_status != nullptr) {
    *exit_status = std::string(outcome_of(result, facts)) == "ok" ? kExitOk : kExitProblem;
  }
  if (kind == report_kind::graph) {
    return render_dot(result, facts, host.specs(), platform, all);
  }
  if (kind == report_kind::json) {
    return render_json(result, facts, host.specs());
  }
  text_options options;
  options.platform = platform;
  options.look = look;
  options.all = all;
  return render_text(result, facts, host.specs(), options);
}

int resolve_request(session& host, const request& asked, resolution& result, std::string& message) {
  result.install = to_software(asked.install);
  result.uninstall = to_software(asked.uninstall);
  try {
    result = host.resolve(result.uninstall, result.install);
  } catch (const ox::pm_exception& error) {
    const std::string store = ox_refhost::last_store_error();
    message = "the resolution failed: pm_exception with code " + describe_code(error.code()) +
              (store.empty() ? std::string() : ": " + store);
    return kExitLibrary;
  }
  return kExitOk;
}

std::string case_log_line(const ox_refhost::log_record& record) {
  std::string line = ox_refhost::format_log_line(record);
  const std::size_t colon =
      std::to_string(record.severity).size() + record.service.size() + record.file.size() + 2;
  line.erase(colon, 1 + std::to_string(record.line).size());
  return line;
}

case_run run_case(const case_inputs& inputs, const case_run_options& options) {
  case_run run;
  auto log = std::make_shared<case_log_sink>();
  {
    session host;
    host.add_log_sink(log);
    ox::managers& set = host.managers();
    set.dependency->set_legacy_dependency_checks(inputs.legacy_dependency_checks);
    if (!options.indexed) {
      set.spec->set_indexed_lookups(false);
      set.dependency->set_indexed_scans(false);
    }
    resolution result;
    try {
      if (inputs.asked.install.empty() && inputs.asked.uninstall.empty()) {
        throw input_error("the request is empty: nothing to install or uninstall");
      }
      host.load_documents(inputs.catalogs, inputs.platform);
      host.use_applications(inputs.installed);
      run.exit = resolve_request(host, inputs.asked, result, run.message);
    } catch (const input_error& error) {
      run.exit = kExitUsage;
      run.message = error.what();
    }
    if (run.exit == kExitOk) {
      const style plain;
      run.json =
          render_report(host, result, report_kind::json, inputs.platform, plain, false, &run.exit);
      if (options.text) {
        run.text = render_report(host, result, report_kind::text, inputs.platform, plain, false);
      }
      if (options.graph) {
        run.graph = render_report(host, result, report_kind::graph, inputs.platform, plain, false);
      }
    }
  }
  run.log = log->text();
  return run;
}

std::vector<case_section> expectations(const case_file& c, const case_run& run) {
  std::vector<case_section> sections;
  sections.push_back(expect("expect exit", std::to_string(run.exit) + "\n"));
  sections.push_back(expect("expect json", run.json));
  sections.push_back(expect("expect log", run.log));
  if (has(c, "expect text")) {
    sections.push_back(expect("expect text", run.text));
  }
  if (has(c, "expect graph")) {
    sections.push_back(expect("expect graph", run.graph));
  }
  if (has(c, "expect lint")) {
    std::vector<lint_document> documents;
    for (const auto& catalog : c.inputs.catalogs) {
      documents.push_back({catalog.first, catalog.second});
    }
    const lint_result linted = lint_documents(documents, c.inputs.platform);
    sections.push_back(expect("expect lint", render_lint_text(linted, style()),
                              "exit=" + std::to_string(linted.errors > 0 ? 1 : 0)));
  }
  // One import serves every show.
  std::unique_ptr<session> shown;
  bool loads = true;
  for (const case_section& section : c.sections) {
    if (section.kind != "expect show") {
      continue;
    }
    if (shown == nullptr) {
      shown = std::make_unique<session>();
      try {
        shown->load_documents(c.inputs.catalogs, c.inputs.platform);
      } catch (const input_error&) {
        // As the tool: nothing on standard output when the catalog cannot load.
        loads = false;
      }
    }
    const std::size_t space = section.argument.find(' ');
    const std::string id = section.argument.substr(0, space);
    std::optional<std::string> version;
    if (space != std::string::npos) {
      version = section.argument.substr(space + 1);
    }
    sections.push_back(expect("expect show",
                              loads ? show_entry(shown->specs(), id, version, style()).text : "",
                              section.argument));
  }
  return sections;
}

std::string compare_case(const case_file& c, const std::string& name,
                         const case_run_options& options) {
  case_run_options asked = options;
  asked.text = has(c, "expect text");
  asked.graph = has(c, "expect graph");
  const case_run run = run_case(c.inputs, asked);
  const std::vector<case_section> actual = expectations(c, run);
  std::string report;
  // Both lists are in file order: each search goes on from the last match.
  auto from = actual.begin();
  for (const case_section& wanted : c.sections) {
    if (wanted.kind.compare(0, 7, "expect ") != 0) {
      continue;
    }
    const auto same = std::find_if(from, actual.end(), [&](const case_section& s) {
      return s.kind == wanted.kind && (s.kind != "expect show" || s.argument == wanted.argument);
    });
    from = same + 1;
    std::string difference;
    if (wanted.kind == "expect json") {
      difference = json_difference("", parsed(wanted.body), parsed(same->body));
    } else {
      difference = text_difference(wanted.body, same->body);
    }
    if (wanted.kind == "expect lint" && difference.empty() && wanted.argument != same->argument) {
      difference = "the exit status differs\n" + side("expected: ", wanted.argument) +
                   side("actual:   ", same->argument);
    }
    if (!difference.empty()) {
      report += name + ":" + std::to_string(wanted.line) + ": " + wanted.kind +
                (wanted.kind == "expect show" ? " " + wanted.argument : "") + ": " + difference;
    }
  }
  return report;
}

case_file updated_case(const case_file& c) {
  case_run_options options;
  options.text = has(c, "expect text");
  options.graph = has(c, "expect graph");
  case_file updated = c;
  updated.sections.clear();
  for (const case_section& section : c.sections) {
    if (section.kind.compare(0, 7, "expect ") != 0) {
      updated.sections.push_back(section);
    }
  }
  for (case_section& section : expectations(c, run_case(c.inputs, options))) {
    updated.sections.push_back(std::move(section));
  }
  return updated;
}

}  // namespace oxpm
}  // namespace tarvik

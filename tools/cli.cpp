#include "cli.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analysis.hpp"
#include "case_file.hpp"
#include "fleet.hpp"
#include "graph.hpp"
#include "inputs.hpp"
#include "json_out.hpp"
#include "lint.hpp"
#include "process.hpp"
#include "replay.hpp"
#include "report.hpp"
#include "session.hpp"
#include "show.hpp"
#include "style.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox_refhost/logger.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace oxpm {
namespace {

constexpr char kExitStatusHelp[] =
    "Exit status: 0 the request can be carried out as asked (nothing incompatible, no\n"
    "obsolete entry, every requested entry resolved); 1 the resolution found a problem;\n"
    "2 usage error or an input that cannot be read; 3 the library failed (pm_exception).";

struct resolve_args {
  std::vector<std::string> specs;
  std::string platform;
  std::string installed;
  std::string dpkg_status;
  std::string request_file;
  std::vector<std::string> installs;
  std::vector<std::string> uninstalls;
  std::string format = "text";
  std::string log;
  std::string log_level = "progress";
  bool all = false;
  bool legacy_dependency_checks = false;
  std::string save_case;
  CLI::Option* dpkg_option = nullptr;
  CLI::Option* installed_option = nullptr;
  CLI::Option* log_option = nullptr;
};

struct lint_args {
  std::vector<std::string> specs;
  std::string platform;
  std::string format = "text";
  std::vector<std::string> ignore;
};

struct show_args {
  std::vector<std::string> specs;
  std::string platform;
  std::string id;
  std::string version;
  std::string format = "text";
  CLI::Option* version_option = nullptr;
};

struct replay_args {
  std::vector<std::string> files;
  bool update = false;
};

struct fleet_args {
  std::vector<std::string> save_cases;
  std::vector<std::string> specs;
  std::string platform;
  std::string machines;
  std::string request_file;
  std::vector<std::string> installs;
  std::vector<std::string> uninstalls;
  unsigned jobs = 0;
  std::string format = "text";
  bool summary_only = false;
  bool all = false;
};

// The catalog option of resolve, graph and show; "--spec" is its first name
// and stays.
CLI::Option* add_catalog_option(CLI::App& command, std::vector<std::string>& files) {
  return command
      .add_option("--spec,--catalog", files,
                  "Catalog (XML) to import; repeat for several, imported in the order given (- "
                  "reads standard input)")
      ->required()
      ->allow_extra_args(false)
      ->type_name("FILE");
}

void add_resolve_options(CLI::App& command, resolve_args& args, bool with_format) {
  add_catalog_option(command, args.specs);
  command
      .add_option("--platform", args.platform,
                  "Platform set before the imports: software elements whose \"platforms\" "
                  "attribute does not contain it are skipped (default: none, every element is "
                  "imported)")
      ->type_name("NAME");
  args.installed_option =
      command
          .add_option("--installed", args.installed,
                      "Installed software from a JSON inventory: [{\"id\": \"...\", "
                      "\"version\": \"...\"}...], no other keys (- reads standard input)")
          ->type_name("FILE");
  args.dpkg_option = command
                         .add_option("--dpkg-status", args.dpkg_status,
                                     std::string("Installed software from Debian's dpkg status "
                                                 "database (default FILE: ") +
                                         ox_refhost::kDefaultDpkgStatusPath +
                                         "; - reads standard input), versions read as "
                                         "[epoch:]upstream[-revision] -> the upstream's "
                                         "leading numbers")
                         ->expected(0, 1)
                         ->type_name("[FILE]");
  args.dpkg_option->excludes(args.installed_option);
  command
      .add_option("--request", args.request_file,
                  "Request as JSON: {\"install\": [{\"id\": \"...\", \"version\": \"...\"}...], "
                  "\"uninstall\": [...]} (- reads standard input)")
      ->type_name("FILE");
  command
      .add_option("--install", args.installs,
                  "Software to install, after those of --request, in command-line order "
                  "(repeatable); VERSION is two to four dot-separated numbers, like 3.1 or "
                  "3.1.0.2")
      ->allow_extra_args(false)
      ->type_name("ID=VERSION");
  command
      .add_option("--uninstall", args.uninstalls,
                  "Software to uninstall, after those of --request (repeatable; only the id "
                  "counts, the version may be left out)")
      ->allow_extra_args(false)
      ->type_name("ID[=VERSION]");
  if (with_format) {
    command.add_option("--format", args.format, "Report format (default: text)")
        ->check(CLI::IsMember({"text", "json"}))
        ->type_name("FORMAT");
    command.add_flag("--all", args.all,
                     "Text report: list every installed software that stays (by default only "
                     "what the request touches: what it leaves broken and what its relations "
                     "reach; one line counts the rest). JSON always has every record");
  } else {
    command.add_flag("--all", args.all,
                     "Draw every installed software (by default only what the request "
                     "touches: what it removes, replaces or leaves broken and what its "
                     "relations reach; one node counts the rest)");
  }
  args.log_option = command
                        .add_option("--log", args.log,
                                    "Write every library log line to FILE, or to standard "
                                    "error with -, as \"<severity> <service> <source "
                                    "tag>:<line> <function>: <message>\"")
                        ->type_name("FILE|-");
  command
      .add_option("--log-level", args.log_level,
                  "With --log: progress keeps every line (severities 5 and 2), failure only "
                  "severity 2 (default: progress)")
      ->check(CLI::IsMember({"progress", "failure"}))
      ->type_name("LEVEL");
  command.add_flag("--legacy-dependency-checks", args.legacy_dependency_checks,
                   "Answer as the first release did: a dependency is not met by what the "
                   "request installs in place of a version marked for removal, and installed "
                   "software that stays is not checked for what the request takes from it");
  command
      .add_option("--save-case", args.save_case,
                  "Also write this run as a case file (catalogs, platform, installed software, "
                  "request, and what the tool answered) that 'oxpm replay' runs again")
      ->type_name("FILE");
}

// Standard input can be read only once: at most one input may be "-".
void check_one_standard_input(const resolve_args& args, bool dpkg_given) {
  std::vector<std::string> takers;
  for (const std::string& spec : args.specs) {
    if (spec == kStandardInput) {
      takers.emplace_back("--spec");
    }
  }
  if (args.installed == kStandardInput) {
    takers.emplace_back("--installed");
  }
  if (dpkg_given && args.dpkg_status == kStandardInput) {
    takers.emplace_back("--dpkg-status");
  }
  if (args.request_file == kStandardInput) {
    takers.emplace_back("--request");
  }
  if (takers.size() > 1) {
    std::string names;
    for (std::size_t i = 0; i < takers.size(); ++i) {
      names += (i == 0 ? "" : i + 1 == takers.size() ? " and " : ", ") + takers[i];
    }
    throw input_error("standard input (-) can feed only one input, and " + names +
                      (takers.size() == 2 ? " both" : " all") + " name it");
  }
}

class runner {
 public:
  runner(std::ostream& out, std::ostream& err, const environment& env)
      : out_(out),
        err_(err),
        look_(use_colour(env.stdout_is_terminal, env.no_color)),
        exits_after_run_(env.exits_after_run),
        stderr_is_terminal_(env.stderr_is_terminal) {}

  int resolve(const resolve_args& args, bool graph) {
    auto owned = std::make_unique<session>();
    session& host = *owned;
    if (args.log_option->count() > 0) {
      const int severity = args.log_level == "failure" ? 2 : 5;
      if (args.log == "-") {
        host.add_log_sink(std::make_shared<ox_refhost::stream_sink>(err_, severity));
      } else {
        std::string error;
        std::unique_ptr<ox_refhost::file_sink> sink =
            ox_refhost::file_sink::open(args.log, severity, &error);
        if (sink == nullptr) {
          err_ << "oxpm: cannot write the log: " << error << "\n";
          return kExitUsage;
        }
        host.add_log_sink(std::shared_ptr<ox_refhost::log_sink>(std::move(sink)));
      }
    }

    host.managers().dependency->set_legacy_dependency_checks(args.legacy_dependency_checks);
    std::shared_ptr<ox_refhost::capture_sink> log;
    if (!args.save_case.empty()) {
      log = std::make_shared<ox_refhost::capture_sink>();
      host.add_log_sink(log);
    }

    case_inputs inputs;
    inputs.legacy_dependency_checks = args.legacy_dependency_checks;
    inputs.platform = args.platform;
    request& asked = inputs.asked;
    // A catalog that does not load is a case too; an input that cannot be
    // read is not.
    bool loading_catalogs = false;
    case_run run;
    try {
      check_one_standard_input(args, args.dpkg_option->count() > 0);
      asked = read_request(args.request_file, args.installs, args.uninstalls);
      if (asked.install.empty() && asked.uninstall.empty()) {
        throw input_error(
            "the request is empty: nothing to install or uninstall (give --install "
            "ID=VERSION, --uninstall ID or --request FILE with entries)");
      }
      if (log == nullptr) {
        host.load_specs(args.specs, args.platform);
      } else {
        // The case keeps every document's bytes (standard input is read once).
        for (const std::string& file : args.specs) {
          try {
            inputs.catalogs.emplace_back(printable(input_name(file)), read_file(file));
          } catch (const input_error& error) {
            throw input_error(std::string("catalog ") + error.what());
          }
        }
        loading_catalogs = true;
        host.load_documents(inputs.catalogs, args.platform);
        loading_catalogs = false;
      }
      installed_source source;
      if (args.dpkg_option->count() > 0) {
        source.kind = installed_source::kind_t::dpkg_status;
        source.path =
            args.dpkg_status.empty() ? ox_refhost::kDefaultDpkgStatusPath : args.dpkg_status;
      } else if (args.installed_option->count() > 0) {
        source.kind = installed_source::kind_t::inventory;
        source.path = args.installed;
      }
      host.use_installed(source);
      inputs.installed = host.installed();
    } catch (const input_error& error) {
      err_ << "oxpm: " << error.what() << "\n";
      if (loading_catalogs) {
        run.exit = kExitUsage;
        save_case(args, inputs, run, *log, graph);
      }
      return kExitUsage;
    }

    resolution result;
    std::string message;
    run.exit = resolve_request(host, asked, result, message);
    if (run.exit == kExitLibrary) {
      err_ << "oxpm: " << message << "\n";
      if (log != nullptr) {
        save_case(args, inputs, run, *log, graph);
      }
      return kExitLibrary;
    }
    out_ << render_report(host, result,
                          graph                   ? report_kind::graph
                          : args.format == "json" ? report_kind::json
                                                  : report_kind::text,
                          args.platform, look_, args.all, &run.exit);
    out_.flush();
    if (log != nullptr) {
      const style plain;
      run.json = render_report(host, result, report_kind::json, args.platform, plain, false);
      (graph ? run.graph : run.text) =
          render_report(host, result, graph ? report_kind::graph : report_kind::text, args.platform,
                        plain, false);
      if (!save_case(args, inputs, run, *log, graph)) {
        return kExitUsage;
      }
    }
    finish(std::move(owned));
    return run.exit;
  }

  // Writes the case of a resolve or graph run; false (with a message) when
  // the file cannot be written.
  bool save_case(const resolve_args& args, const case_inputs& inputs, case_run run,
                 const ox_refhost::capture_sink& log, bool graph) {
    for (const ox_refhost::log_record& record : log.records()) {
      run.log += case_log_line(record) + "\n";
    }
    case_file saved;
    saved.inputs = inputs;
    // The report of the command run is expected too.
    saved.sections.push_back({graph ? "expect graph" : "expect text", "", ""});
    std::vector<case_section> sections = input_sections(inputs);
    for (case_section& section : expectations(saved, run)) {
      sections.push_back(std::move(section));
    }
    saved.sections = std::move(sections);
    return write_text(args.save_case, write_case(saved), "--save-case");
  }

  // Writes `text` to `path`; false with a message naming `what` if it cannot.
  bool write_text(const std::string& path, const std::string& text, const std::string& what) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (!file) {
      err_ << "oxpm: " << what << ": cannot write " << path << "\n";
      return false;
    }
    return true;
  }

  int replay(const replay_args& args) {
    int status = kExitOk;
    for (const std::string& file : args.files) {
      case_file c;
      std::string text;
      try {
        text = read_file(file);
        c = parse_case(text, input_name(file));
      } catch (const input_error& error) {
        err_ << "oxpm: " << error.what() << "\n";
        status = kExitUsage;
        continue;
      }
      if (args.update) {
        const std::string after = write_case(updated_case(c));
        if (after == text) {
          out_ << file << ": unchanged\n";
        } else if (write_text(file, after, "replay --update")) {
          out_ << file << ": updated\n";
        } else {
          status = kExitUsage;
        }
        continue;
      }
      const std::string difference = compare_case(c, input_name(file));
      if (difference.empty()) {
        out_ << file << ": ok\n";
      } else {
        out_ << difference;
        status = std::max(status, kExitProblem);
      }
    }
    out_.flush();
    return status;
  }

  int lint(const lint_args& args) {
    std::vector<lint_document> documents;
    if (std::count(args.specs.begin(), args.specs.end(), kStandardInput) > 1) {
      err_ << "oxpm: standard input (-) can feed only one input, and CATALOG names it more than "
              "once\n";
      return kExitUsage;
    }
    try {
      for (const std::string& file : args.specs) {
        documents.push_back({input_name(file), read_file(file)});
      }
    } catch (const input_error& error) {
      err_ << "oxpm: catalog " << error.what() << "\n";
      return kExitUsage;
    }
    const lint_result result = without_codes(lint_documents(documents, args.platform), args.ignore);
    if (args.format == "json") {
      out_ << dump_json(lint_json(result));
    } else {
      out_ << render_lint_text(result, look_);
    }
    out_.flush();
    return result.errors > 0 ? kExitProblem : kExitOk;
  }

  int show(const show_args& args) {
    auto owned = std::make_unique<session>();
    session& host = *owned;
    try {
      host.load_specs(args.specs, args.platform);
    } catch (const input_error& error) {
      err_ << "oxpm: " << error.what() << "\n";
      return kExitUsage;
    }
    std::optional<std::string> version;
    if (args.version_option->count() > 0) {
      version = args.version;
    }
    bool found = false;
    if (args.format == "json") {
      const nlohmann::ordered_json shown = show_json(host.specs(), args.id, version);
      found = shown["found"].get<bool>();
      out_ << dump_json(shown);
    } else {
      const show_result shown = show_entry(host.specs(), args.id, version, look_);
      found = shown.found;
      out_ << shown.text;
    }
    out_.flush();
    finish(std::move(owned));
    return found ? kExitOk : kExitProblem;
  }

  int fleet(const fleet_args& args) {
    fleet_options options;
    options.jobs = args.jobs > 0 ? args.jobs : std::max(1U, std::thread::hardware_concurrency());
    options.json = args.format == "json";
    options.summary_only = args.summary_only;
    options.all = args.all;
    std::vector<std::pair<std::string, std::string>> documents;
    std::unique_ptr<machine_reader> machines;
    std::ifstream machines_file;
    try {
      if (!args.request_file.empty() || !args.installs.empty() || !args.uninstalls.empty()) {
        options.common_request = read_request(args.request_file, args.installs, args.uninstalls);
      }
      for (const std::string& file : args.specs) {
        try {
          documents.emplace_back(file, read_file(file));
        } catch (const input_error& error) {
          throw input_error(std::string("catalog ") + error.what());
        }
      }
      if (args.machines == "-") {
        machines = jsonl_machines(std::cin, "standard input");
      } else if (std::filesystem::is_directory(args.machines)) {
        machines = folder_machines(args.machines);
      } else {
        machines_file.open(args.machines, std::ios::binary);
        if (!machines_file) {
          throw input_error("machines " + args.machines + ": cannot be opened");
        }
        // A regular file is counted first, for the progress bar's time left
        // (shown on a terminal only); a pipe is read once.
        std::optional<std::size_t> lines;
        if (stderr_is_terminal_ && std::filesystem::is_regular_file(args.machines)) {
          lines = 0;
          for (std::string line; std::getline(machines_file, line);) {
            *lines += line.find_first_not_of(" \t\r") != std::string::npos ? 1 : 0;
          }
          machines_file.clear();
          machines_file.seekg(0);
        }
        machines = jsonl_machines(machines_file, args.machines, lines);
      }
    } catch (const input_error& error) {
      err_ << "oxpm: " << error.what() << "\n";
      return kExitUsage;
    }

    // The machines to write a case of, by id.
    std::map<std::string, std::string> case_files;
    std::map<std::string, case_inputs> saved;
    for (const std::string& text : args.save_cases) {
      const std::size_t equals = text.find('=');
      if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) {
        err_ << "oxpm: --save-case " << quoted(text) << ": expected ID=FILE\n";
        return kExitUsage;
      }
      case_files[text.substr(0, equals)] = text.substr(equals + 1);
    }
    // The catalog bytes stay for the cases only when a case is asked for.
    std::vector<std::pair<std::string, std::string>> kept;
    if (!case_files.empty()) {
      kept = documents;
    }
    if (!case_files.empty()) {
      options.on_machine = [&](const machine_input& machine, const request& asked) {
        if (case_files.count(machine.id) == 0 || saved.count(machine.id) != 0) {
          return;
        }
        case_inputs& inputs = saved[machine.id];
        inputs.platform = machine.platform.value_or(args.platform);
        for (const auto& document : kept) {
          inputs.catalogs.emplace_back(printable(input_name(document.first)), document.second);
        }
        inputs.installed = machine.installed;
        inputs.asked = asked;
      };
    }
    catalogs by_platform(std::move(documents), args.platform);
    std::function<void(std::size_t)> progress;
    const auto started = std::chrono::steady_clock::now();
    const std::optional<std::size_t> total = machines->size();
    if (stderr_is_terminal_) {
      progress = [&](std::size_t done) {
        if (done % 64 != 0 && (!total || done != *total)) {
          return;
        }
        err_ << "\r" << progress_text(done, total, started) << std::flush;
      };
    }
    fleet_totals totals;
    try {
      by_platform.get(std::string());  // the catalog must load before any machine
      totals = run_fleet(by_platform, *machines, options, out_, progress);
    } catch (const input_error& error) {
      err_ << (progress ? "\n" : "") << "oxpm: " << error.what() << "\n";
      return kExitUsage;
    }
    if (progress) {
      err_ << "\n";
    }
    for (const auto& wanted : case_files) {
      const auto found = saved.find(wanted.first);
      if (found == saved.end()) {
        err_ << "oxpm: --save-case: no machine " << quoted(wanted.first)
             << " was read and resolved\n";
        return kExitUsage;
      }
      case_file c;
      c.inputs = found->second;
      c.sections.push_back({"expect text", "", ""});
      case_run_options with_text;
      with_text.text = true;
      std::vector<case_section> sections = input_sections(c.inputs);
      for (case_section& section : expectations(c, run_case(c.inputs, with_text))) {
        sections.push_back(std::move(section));
      }
      c.sections = std::move(sections);
      if (!write_text(wanted.second, write_case(c), "--save-case")) {
        return kExitUsage;
      }
    }
    return totals.ok == totals.machines ? kExitOk : kExitProblem;
  }

 private:
  // "1200/10000 machines  2150/s  4 s left" for the progress bar.
  static std::string progress_text(std::size_t done, const std::optional<std::size_t>& total,
                                   std::chrono::steady_clock::time_point started) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    std::string text = std::to_string(done);
    if (total) {
      text += "/" + std::to_string(*total);
    }
    text += " machines  " + std::to_string(static_cast<long long>(rate)) + "/s";
    if (total && rate > 0 && *total > done) {
      text += "  " +
              std::to_string(static_cast<long long>(static_cast<double>(*total - done) / rate)) +
              " s left";
    }
    return text + "   ";
  }

  // The session of a command that went through: its catalog is the bulk of
  // what the process holds.
  void finish(std::unique_ptr<session> host) const {
    if (exits_after_run_) {
      leave_to_exit(std::move(host));
    }
  }

  std::ostream& out_;
  std::ostream& err_;
  style look_;
  bool exits_after_run_;
  bool stderr_is_terminal_;
};

// The number of single-character edits (insert, delete, replace, swap of
// neighbours) that turn `a` into `b`.
std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) {
    d[0][j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The known name nearest to what was typed, when one is near enough to be
// a likely typing mistake (or the only one that begins with it); empty
// otherwise.
std::string nearest(const std::string& typed, const std::vector<std::string>& known) {
  std::string best;
  std::size_t best_distance = std::max<std::size_t>(1, typed.size() / 3) + 1;
  for (const std::string& name : known) {
    const std::size_t distance = edit_distance(typed, name);
    if (distance < best_distance) {
      best = name;
      best_distance = distance;
    }
  }
  if (best.empty() && !typed.empty()) {
    for (const std::string& name : known) {
      if (name.compare(0, typed.size(), typed) == 0) {
        if (!best.empty()) {
          return {};
        }
        best = name;
      }
    }
  }
  return best;
}

// The long options of a command, with their dashes.
std::vector<std::string> long_options(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options()) {
    for (const std::string& name : option->get_lnames()) {
      names.push_back("--" + name);
    }
  }
  return names;
}

// The first argument of a command line that looks like an option the
// command does not have ("--platfrom", "--platfrom=x"); empty when none.
std::string unknown_option(const CLI::App& command, const std::vector<std::string>& args) {
  const std::vector<std::string> known = long_options(command);
  for (const std::string& arg : args) {
    if (arg == "--") {
      break;
    }
    if (arg.size() < 2 || arg[0] != '-' || arg == "-h" || arg == kStandardInput) {
      continue;
    }
    const std::string name = arg.substr(0, arg.find('='));
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      return name;
    }
  }
  return {};
}

}  // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        const environment& env) {
  CLI::App app(
      "oxpm: runs the package-resolution library as a host would, and checks "
      "catalogs.",
      "oxpm");
  app.require_subcommand(1);
  app.set_version_flag("--version", "oxpm " OXPM_VERSION, "Print the version of oxpm and exit");
  app.footer("Run 'oxpm COMMAND --help' or 'oxpm help COMMAND' for the options of a command.");

  resolve_args resolve_options;
  CLI::App* resolve = app.add_subcommand(
      "resolve",
      "Resolve one request against the catalog and the installed software, and report "
      "what stays, what is removed, what is installed and what stops the request");
  add_resolve_options(*resolve, resolve_options, true);
  resolve->footer(kExitStatusHelp);

  resolve_args graph_options;
  CLI::App* graph = app.add_subcommand(
      "graph",
      "Resolve like 'resolve' and write the request's relations as a Graphviz DOT graph "
      "(failed edges in red) on standard output");
  add_resolve_options(*graph, graph_options, false);
  graph->footer(std::string(kExitStatusHelp) + "\nThe exit status is that of the same 'resolve'.");

  lint_args lint_options;
  CLI::App* lint = app.add_subcommand(
      "lint",
      "Report everything that the import of the catalogs passes over in silence, and the "
      "mistakes it reads without a word, with the line of each element");
  lint->add_option("CATALOG", lint_options.specs,
                   "Catalogs (XML), checked as one import in the order given (- reads standard "
                   "input)")
      ->required()
      ->type_name("FILE");
  lint->add_option("--platform", lint_options.platform,
                   "Platform of the import: only its software elements answer to relations "
                   "(default: none, every element)")
      ->type_name("NAME");
  lint->add_option("--format", lint_options.format, "Report format (default: text)")
      ->check(CLI::IsMember({"text", "json"}))
      ->type_name("FORMAT");
  std::vector<std::string> codes;
  for (const lint_code& known : lint_codes()) {
    codes.emplace_back(known.code);
  }
  lint->add_option("--ignore", lint_options.ignore,
                   "Leave out the findings of CODE (repeatable): they neither print nor count")
      ->check(CLI::IsMember(codes).description(""))
      ->allow_extra_args(false)
      ->type_name("CODE");
  std::string codes_text;
  for (const std::string& code : codes) {
    codes_text += (codes_text.empty() ? "" : ", ") + code;
  }
  lint->footer(
      "Codes: " + codes_text +
      ".\nExit status: 0 no error (warnings allowed); 1 errors found; 2 usage error or a file "
      "that cannot be read.");

  show_args show_options;
  CLI::App* show = app.add_subcommand(
      "show",
      "Show the catalog entry that the look-ups return for an id (and a version), with "
      "its relations");
  add_catalog_option(*show, show_options.specs);
  show->add_option("--platform", show_options.platform,
                   "Platform set before the imports (default: none, every element is imported)")
      ->type_name("NAME");
  show->add_option("ID", show_options.id, "Software id, matched against sref or softwareids")
      ->required();
  show_options.version_option =
      show->add_option("VERSION", show_options.version,
                       "Version: the entry whose versions hold it (default: the first entry "
                       "for the id, whatever its versions)");
  show->add_option("--format", show_options.format, "Output format (default: text)")
      ->check(CLI::IsMember({"text", "json"}))
      ->type_name("FORMAT");
  show->footer("Exit status: 0 found; 1 not found; 2 usage error or a file that cannot be read.");

  replay_args replay_options;
  CLI::App* replay = app.add_subcommand(
      "replay",
      "Run case files again (written by resolve, graph or fleet --save-case) and compare "
      "with what each expects: exit status, JSON result, log lines, and the text report, "
      "graph, lint and show outputs the case holds");
  replay->add_option("FILE", replay_options.files, "Case files")->required()->type_name("FILE");
  replay->add_flag("--update", replay_options.update,
                   "Rewrite the expectations of each case with what this run gives, leaving "
                   "the description and the inputs as they are");
  replay->footer(
      "Exit status: 0 every case matches (or, with --update, was rewritten); 1 some case "
      "differs, and the first difference of each differing section is shown (the record of "
      "the JSON result, the line of the log or of an output, both sides); 2 a file that is no "
      "case or cannot be read or written (the other files are still replayed).");

  fleet_args fleet_options;
  CLI::App* fleet = app.add_subcommand(
      "fleet",
      "Resolve a request on every machine of a fleet against one catalog, imported once, "
      "on all cores: one result per machine in input order, then a summary of the outcomes "
      "and of the failures grouped by cause");
  add_catalog_option(*fleet, fleet_options.specs);
  fleet
      ->add_option("--platform", fleet_options.platform,
                   "Platform of the machines that name none (default: none, every element is "
                   "imported)")
      ->type_name("NAME");
  fleet
      ->add_option("--machines", fleet_options.machines,
                   "The machines: a file with one JSON object a line, {\"machine\": \"ID\", "
                   "\"installed\": [{\"id\", \"version\"}...], optionally \"request\" and "
                   "\"platform\"}, or - for standard input; or a folder of JSON inventories, "
                   "one per machine, named after it")
      ->required()
      ->type_name("FILE|DIR|-");
  fleet
      ->add_option("--request", fleet_options.request_file,
                   "Request of every machine without one of its own, as for resolve")
      ->type_name("FILE");
  fleet->add_option("--install", fleet_options.installs, "As for resolve (repeatable)")
      ->allow_extra_args(false)
      ->type_name("ID=VERSION");
  fleet->add_option("--uninstall", fleet_options.uninstalls, "As for resolve (repeatable)")
      ->allow_extra_args(false)
      ->type_name("ID[=VERSION]");
  fleet->add_option("--jobs", fleet_options.jobs, "Threads (default: the cores)")
      ->check(CLI::Range(1U, 1024U))
      ->type_name("N");
  fleet
      ->add_option("--format", fleet_options.format,
                   "text, or json: one JSON object a line per machine, then {\"summary\": ...} "
                   "(default: text)")
      ->check(CLI::IsMember({"text", "json"}))
      ->type_name("FORMAT");
  fleet->add_flag("--summary-only", fleet_options.summary_only, "Write the summary only");
  fleet->add_flag("--all", fleet_options.all,
                  "Every record of each machine's result, not only those the request touches");
  fleet
      ->add_option("--save-case", fleet_options.save_cases,
                   "Also write the case file of machine ID, as resolve --save-case would for "
                   "that machine alone (repeatable)")
      ->allow_extra_args(false)
      ->type_name("ID=FILE");
  fleet->footer(
      "Exit status: 0 every machine can carry the request out; 1 some cannot (or could not be "
      "read); 2 usage error or an input that cannot be read.");
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + std::max(argc, 1));
  const std::vector<std::string> command_names = {"resolve", "graph", "lint",
                                                  "show",    "fleet", "replay"};
  const auto command_named = [&](const std::string& name) -> CLI::App* {
    return std::find(command_names.begin(), command_names.end(), name) == command_names.end()
               ? nullptr
               : app.get_subcommand(name);
  };
  const auto unknown_command = [&](const std::string& name) {
    std::vector<std::string> known = command_names;
    known.emplace_back("help");
    const std::string guess = nearest(name, known);
    err << "oxpm: unknown command " << quoted(name);
    if (guess.empty()) {
      err << " (the commands are resolve, graph, lint, show, fleet, replay and help)\n"
          << "Run 'oxpm --help' for more information.\n";
    } else {
      err << "; did you mean '" << guess << "'?\n"
          << "Run 'oxpm " << guess << " --help' for its options, or 'oxpm --help' for every "
          << "command.\n";
    }
    return kExitUsage;
  };
  // "help [COMMAND]" is the same as "[COMMAND] --help".
  if (!args.empty() && args[0] == "help") {
    if (args.size() > 2) {
      err << "oxpm: 'oxpm help' takes at most one command, not " << quoted(args[2]) << "\n"
          << "Run 'oxpm --help' for more information.\n";
      return kExitUsage;
    }
    if (args.size() == 2 && command_named(args[1]) == nullptr && args[1] != "help") {
      return unknown_command(args[1]);
    }
    args = args.size() == 2 && args[1] != "help" ? std::vector<std::string>{args[1], "--help"}
                                                 : std::vector<std::string>{"--help"};
  }
  if (!args.empty() && !args[0].empty() && args[0][0] != '-' && command_named(args[0]) == nullptr) {
    return unknown_command(args[0]);
  }
  CLI::App* const chosen = args.empty() ? nullptr : command_named(args[0]);

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) {
      app.exit(error, out, err);
      return kExitOk;
    }
    const std::string more = chosen == nullptr ? std::string("Run 'oxpm --help'")
                                               : "Run 'oxpm " + chosen->get_name() + " --help'";
    if (chosen == nullptr && (args.empty() || args[0][0] == '-')) {
      const std::string typed = args.empty() ? std::string() : unknown_option(app, args);
      if (!typed.empty()) {
        std::vector<std::string> owners;
        for (const std::string& name : command_names) {
          const std::vector<std::string> options = long_options(*app.get_subcommand(name));
          if (std::find(options.begin(), options.end(), typed) != options.end()) {
            owners.push_back(name);
          }
        }
        const std::string guess = nearest(typed, long_options(app));
        err << "oxpm: unknown option " << quoted(typed);
        if (!owners.empty()) {
          err << ": it is an option of '" << owners.front() << "'";
          for (std::size_t i = 1; i < owners.size(); ++i) {
            err << (i + 1 == owners.size() ? " and '" : ", '") << owners[i] << "'";
          }
          err << ", given after the command (oxpm " << owners.front() << " " << typed << " ...)";
        } else if (!guess.empty()) {
          err << "; did you mean " << guess << "?";
        }
        err << "\n" << more << " for more information.\n";
        return kExitUsage;
      }
      err << "oxpm: a subcommand is required: resolve, graph, lint, show, fleet, replay or help\n"
          << more << " for more information.\n";
      return kExitUsage;
    }
    const std::string typed = chosen == nullptr ? std::string() : unknown_option(*chosen, args);
    if (!typed.empty()) {
      const std::string guess = nearest(typed, long_options(*chosen));
      err << "oxpm: " << chosen->get_name() << " has no option " << quoted(typed);
      if (!guess.empty()) {
        err << "; did you mean " << guess << "?";
      }
      err << "\n" << more << " for its options.\n";
      return kExitUsage;
    }
    err << "oxpm: " << error.what() << "\n" << more << " for more information.\n";
    return kExitUsage;
  }

  runner commands(out, err, env);
  try {
    if (resolve->parsed()) {
      return commands.resolve(resolve_options, false);
    }
    if (graph->parsed()) {
      return commands.resolve(graph_options, true);
    }
    if (lint->parsed()) {
      return commands.lint(lint_options);
    }
    if (fleet->parsed()) {
      return commands.fleet(fleet_options);
    }
    if (replay->parsed()) {
      return commands.replay(replay_options);
    }
    return commands.show(show_options);
  } catch (const ox::pm_exception& error) {
    err << "oxpm: the library failed: pm_exception with code " << describe_code(error.code())
        << "\n";
    return kExitLibrary;
  } catch (const std::exception& error) {
    err << "oxpm: unexpected failure: " << error.what() << "\n";
    return kExitLibrary;
  }
}

}  // namespace oxpm
}  // namespace tarvik

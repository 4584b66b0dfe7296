// Runs the built oxpm binary as a person or a script would, and checks what
// it prints and how it exits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs `program` with `args`, output captured in files; the environment is
// the test's, without NO_COLOR unless `no_color` is given. Standard input is
// /dev/null, or a pipe that delivers `input` when it is given.
outcome run_program(const std::string& program, const std::vector<std::string>& args,
                    const fs::path& scratch, const char* no_color = nullptr,
                    const std::string* input = nullptr) {
  const std::string out_path = (scratch / "stdout").string();
  const std::string err_path = (scratch / "stderr").string();
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  int feed[2] = {-1, -1};
  if (input != nullptr && ::pipe(feed) != 0) {
    return {};
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = input != nullptr ? feed[0] : ::open("/dev/null", O_RDONLY);
    if (input != nullptr) {
      ::close(feed[1]);
    }
    if (out < 0 || err < 0 || in < 0) {
      ::_exit(126);
    }
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (no_color != nullptr) {
      ::setenv("NO_COLOR", no_color, 1);
    } else {
      ::unsetenv("NO_COLOR");
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  if (input != nullptr) {
    ::close(feed[0]);
    std::size_t done = 0;
    while (child > 0 && done < input->size()) {
      const ssize_t put = ::write(feed[1], input->data() + done, input->size() - done);
      if (put <= 0) {
        break;
      }
      done += static_cast<std::size_t>(put);
    }
    ::close(feed[1]);
  }
  outcome result;
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) {
    return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  return result;
}

class OxpmCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/oxpm_cli_XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    scratch_ = name;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

  outcome oxpm(const std::vector<std::string>& args, const char* no_color = nullptr) {
    return run_program(OXPM_BINARY, args, scratch_, no_color);
  }

  static std::string example(const std::string& name) {
    return std::string(OXPM_EXAMPLES) + "/" + name;
  }

  // A command on the bundled examples with one request file.
  static std::vector<std::string> example_args(const std::string& request,
                                               const std::string& command = "resolve") {
    return {command,
            "--spec",
            example("halden-spec.xml"),
            "--platform",
            "linux-x64",
            "--installed",
            example("inventory.json"),
            "--request",
            example("requests/" + request)};
  }

  std::string write(const std::string& name, const std::string& content) {
    const std::string path = (scratch_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  fs::path scratch_;
};

std::vector<std::string> cat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(OxpmCliTest, HelpTellsEveryCommandAndItsOptions) {
  const outcome top = oxpm({"--help"});
  EXPECT_EQ(top.status, 0);
  for (const char* command : {"resolve", "graph", "lint", "show"}) {
    EXPECT_TRUE(contains(top.out, command)) << top.out;
  }
  const std::pair<const char*, std::vector<const char*>> commands[] = {
      {"resolve",
       {"--spec", "--catalog", "--platform", "--installed", "--dpkg-status", "--request",
        "--install", "--uninstall", "--format", "--all", "--log", "--log-level", "Exit status"}},
      {"graph", {"--spec", "--installed", "--dpkg-status", "--request", "--all", "--log"}},
      {"lint",
       {"CATALOG", "--platform", "--format", "--ignore", "unknown-container", "Exit status"}},
      {"show", {"--spec", "--catalog", "--platform", "--format", "ID", "VERSION"}},
  };
  for (const auto& command : commands) {
    const outcome help = oxpm({command.first, "--help"});
    EXPECT_EQ(help.status, 0) << command.first;
    for (const char* option : command.second) {
      EXPECT_TRUE(contains(help.out, option)) << command.first << " lacks " << option;
    }
  }
  EXPECT_FALSE(contains(oxpm({"graph", "--help"}).out, "--format"));
}

TEST_F(OxpmCliTest, ExamplesExitAsDocumentedWithOneJsonObject) {
  struct expected_run {
    const char* request;
    int status;
    const char* outcome;
  };
  const expected_run requests[] = {
      {"1-pass-upgrade-agent.json", 0, "ok"},
      {"2-pass-install-order.json", 0, "ok"},
      {"3-fail-dependency.json", 1, "unmet_dependency"},
      {"4-fail-compatibility.json", 1, "incompatible"},
      {"5-obsolete.json", 1, "obsolete"},
      {"6-pass-upgrade-then-dependent.json", 0, "ok"},
      {"7-fail-uninstall-breaks-dependents.json", 1, "broken_dependents"},
      {"8-fail-upgrade-breaks-dependent.json", 1, "broken_dependents"},
  };
  for (const expected_run& request : requests) {
    const outcome run = oxpm(cat(example_args(request.request), {"--format", "json"}));
    EXPECT_EQ(run.status, request.status) << request.request << "\n" << run.err;
    EXPECT_EQ(run.err, "") << request.request;
    const json result = json::parse(run.out);
    ASSERT_TRUE(result.is_object()) << request.request;
    EXPECT_EQ(result.size(), 7u);
    for (const char* key : {"schema_version", "outcome", "ok", "resolved", "incompatible",
                            "conflicted", "not_resolved"}) {
      EXPECT_TRUE(result.contains(key)) << request.request << " lacks " << key;
    }
    EXPECT_EQ(result["outcome"], request.outcome) << request.request;
    EXPECT_EQ(result["ok"], request.status == 0) << request.request;
    EXPECT_EQ(result["resolved"].size() >= 7, true) << request.request;
    for (const json& entry : result["resolved"]) {
      EXPECT_EQ(entry.size(), 8u);
      EXPECT_TRUE(std::regex_match(entry["version"].get<std::string>(),
                                   std::regex("[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+")));
      EXPECT_TRUE(entry["state"].is_number_unsigned());
      EXPECT_TRUE(entry["states"].is_array());
    }
  }
}

TEST_F(OxpmCliTest, SoftwareLeftBrokenFailsTheRequestAndIsExplained) {
  const outcome removed = oxpm(example_args("7-fail-uninstall-breaks-dependents.json"));
  EXPECT_EQ(removed.status, 1) << removed.err;
  for (const char* line :
       {"  halden-console  4.0.1.0  BROKEN: loses its dependency on halden-runtime\n",
        "Why halden-db 5.2.0.0 is left broken:\n  halden-db 5.2.0.0 stays installed, but loses "
        "its dependency on halden-runtime in versions \"2.0:3.9\" (2.0.0.0 to 3.9.*.*):\n  the "
        "installed halden-runtime 2.4.0.0 meets it today, and the request removes it (uninstall "
        "request),\n  and nothing else that stays is halden-runtime",
        "  Hint: keep halden-runtime in those versions, or uninstall halden-db 5.2.0.0 in the "
        "same request.\n",
        "  - halden-console 4.0.1.0: stays installed, but loses its dependency on "
        "halden-runtime\n"}) {
    EXPECT_TRUE(contains(removed.out, line)) << line << "\n" << removed.out;
  }

  const outcome replaced = oxpm(example_args("8-fail-upgrade-breaks-dependent.json"));
  EXPECT_EQ(replaced.status, 1) << replaced.err;
  EXPECT_TRUE(contains(replaced.out,
                       "the installed halden-runtime 2.4.0.0 meets it today, and the request "
                       "replaces it with halden-runtime 3.2.0.0, outside that range.\n"))
      << replaced.out;
  EXPECT_FALSE(contains(replaced.out, "halden-db 5.2.0.0 is left broken")) << replaced.out;

  const json result = json::parse(
      oxpm(cat(example_args("8-fail-upgrade-breaks-dependent.json"), {"--format", "json"})).out);
  EXPECT_EQ(result["incompatible"], true);
  for (const json& record : result["resolved"]) {
    const bool broken = record["id"] == "halden-console";
    ASSERT_EQ(record["failed_dependencies"].size(), broken ? 1u : 0u) << record.dump();
    if (broken) {
      EXPECT_EQ(record["state"], 2);
      EXPECT_EQ(record["failed_dependencies"][0]["version_text"], "2.3:2.9");
    }
  }
}

// A fleet run answers for each machine what `oxpm resolve` answers for it
// alone, in input order, whatever the number of threads; every outcome is
// represented, and a machine that cannot be read is reported without
// stopping the run.
TEST_F(OxpmCliTest, FleetAnswersForEachMachineAsResolveDoesAlone) {
  const json inventory = json::parse(slurp(example("inventory.json")));
  json without_runtime = json::array();
  for (const json& entry : inventory) {
    if (entry["id"] != "halden-runtime") {
      without_runtime.push_back(entry);
    }
  }
  const auto asks = [](const char* id, const char* version) {
    return json{{"install", json::array({json{{"id", id}, {"version", version}}})}};
  };
  struct machine {
    std::string id;
    json installed;
    json request;  // null: the fleet's own request
    std::string outcome;
  };
  const std::vector<machine> fleet = {
      {"ok-1", inventory, nullptr, "ok"},
      {"unmet", inventory, asks("halden-backup", "3.0"), "unmet_dependency"},
      {"incompatible", inventory, asks("halden-scanner", "2.1"), "incompatible"},
      {"obsolete", inventory, asks("halden-console", "3.5"), "obsolete"},
      {"broken", inventory, asks("halden-runtime", "3.2"), "broken_dependents"},
      {"unknown", inventory, asks("halden-nothing", "1.0"), "not_resolved"},
      {"ok-2", without_runtime,
       json{{"uninstall", json::array({json{{"id", "halden-db"}, {"version", "5.2"}}})}}, "ok"},
  };
  std::string lines;
  for (const machine& m : fleet) {
    json line = {{"machine", m.id}, {"installed", m.installed}};
    if (!m.request.is_null()) {
      line["request"] = m.request;
    }
    lines += line.dump() + "\n";
  }
  lines += "{\"machine\": \"typo\", \"installed\": [], \"requets\": {}}\n";
  const std::string machines = write("fleet.jsonl", lines);
  const std::string common = write("common.json", asks("halden-agent", "4.1").dump());
  const std::vector<std::string> base = {"fleet",      "--spec",    example("halden-spec.xml"),
                                         "--platform", "linux-x64", "--machines",
                                         machines,     "--request", common,
                                         "--format",   "json"};

  for (const char* jobs : {"1", "3"}) {
    const outcome run = oxpm(cat(base, {"--all", "--jobs", jobs}));
    EXPECT_EQ(run.status, 1) << run.err;
    std::vector<json> results;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
      results.push_back(json::parse(line));
    }
    ASSERT_EQ(results.size(), fleet.size() + 2) << run.out;
    for (std::size_t i = 0; i < fleet.size(); ++i) {
      const machine& m = fleet[i];
      json got = results[i];
      ASSERT_EQ(got["machine"], m.id);
      EXPECT_EQ(got["outcome"], m.outcome) << m.id;
      got.erase("machine");
      const std::string installed = write(m.id + ".json", m.installed.dump());
      const std::string asked =
          m.request.is_null() ? common : write(m.id + "-request.json", m.request.dump());
      const outcome alone =
          oxpm({"resolve", "--spec", example("halden-spec.xml"), "--platform", "linux-x64",
                "--installed", installed, "--request", asked, "--format", "json"});
      EXPECT_EQ(got, json::parse(alone.out)) << m.id;
      EXPECT_EQ(alone.status, m.outcome == "ok" ? 0 : 1) << m.id;
    }
    const json& typo = results[fleet.size()];
    EXPECT_EQ(typo["machine"], "typo");
    EXPECT_EQ(typo["outcome"], "input_error");
    EXPECT_TRUE(contains(typo["error"].get<std::string>(), "unknown key \"requets\""));
    const json& summary = results.back()["summary"];
    EXPECT_EQ(summary["machines"], fleet.size() + 1);
    EXPECT_EQ(summary["ok"], 2);
    EXPECT_EQ(summary["outcomes"]["broken_dependents"], 1);
    EXPECT_EQ(summary["causes"].size(), 6u);
  }

  // Without --all a machine's line keeps what the compact report lists: the
  // agent's replaced and uninstalled predecessors, the runtime its
  // dependency reaches, and the requested agent; machines also come through
  // a pipe.
  const outcome compact = oxpm(cat(base, {"--jobs", "2"}));
  const json first = json::parse(compact.out.substr(0, compact.out.find('\n')));
  ASSERT_EQ(first["machine"], "ok-1");
  std::vector<std::string> kept;
  for (const json& record : first["resolved"]) {
    kept.push_back(record["id"].get<std::string>() + " " + record["version"].get<std::string>());
  }
  EXPECT_EQ(kept, (std::vector<std::string>{"halden-runtime 2.4.0.0", "halden-agent 3.1.0.0",
                                            "HLD_AGENT_LEGACY 1.9.2.0", "halden-agent 4.1.0.0"}));

  // The machines through a pipe: the same lines, in the same order.
  std::vector<std::string> piped_args = base;
  piped_args[std::find(piped_args.begin(), piped_args.end(), machines) - piped_args.begin()] = "-";
  const outcome piped = run_program(OXPM_BINARY, piped_args, scratch_, nullptr, &lines);
  std::string as_file = piped.out;
  for (std::size_t at; (at = as_file.find("standard input line")) != std::string::npos;) {
    as_file.replace(at, std::string("standard input").size(), machines);
  }
  EXPECT_EQ(as_file, compact.out);

  // A folder of inventories: one machine per file, named after it.
  fs::create_directory(scratch_ / "machines");
  std::ofstream(scratch_ / "machines" / "a.json") << inventory.dump();
  std::ofstream(scratch_ / "machines" / "b.json") << "[{\"id\": 1}]";
  const outcome folder =
      oxpm({"fleet", "--spec", example("halden-spec.xml"), "--platform", "linux-x64", "--machines",
            (scratch_ / "machines").string(), "--install", "halden-agent=4.1"});
  EXPECT_EQ(folder.status, 1) << folder.err;
  EXPECT_TRUE(contains(folder.out, "a: ok\n")) << folder.out;
  EXPECT_TRUE(contains(folder.out, "b: input_error: ")) << folder.out;
  EXPECT_TRUE(contains(folder.out, "Summary: 2 machines, 1 ok, 1 not ok\n")) << folder.out;

  // Unusable input: exit 2 with the reason, nothing on standard output.
  const outcome missing = oxpm({"fleet", "--spec", example("halden-spec.xml"), "--machines",
                                (scratch_ / "none.jsonl").string(), "--install", "a=1.0"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.out, "");
  EXPECT_TRUE(contains(missing.err, "none.jsonl: cannot be opened")) << missing.err;
}

// The ids listed under "Stays installed" and the line that counts the rest
// ("" when there is none).
struct stays_section {
  std::size_t heading_count = 0;
  std::vector<std::string> ids;
  std::string count_line;
};

stays_section stays_of(const std::string& report) {
  stays_section section;
  bool inside = false;
  for (const std::string& line : lines_of(report)) {
    std::smatch heading;
    if (std::regex_match(line, heading, std::regex("Stays installed \\(([0-9]+)\\):"))) {
      section.heading_count = std::stoul(heading[1]);
      inside = true;
    } else if (inside && line.rfind("  ", 0) == 0) {
      if (contains(line, "untouched by the request")) {
        section.count_line = line;
      } else {
        section.ids.push_back(line.substr(2, line.find(' ', 2) - 2));
      }
    } else {
      inside = false;
    }
  }
  return section;
}

// The installed software that has a node of its own, and whether a node
// counts the rest.
std::vector<std::string> installed_nodes(const std::string& dot) {
  std::vector<std::string> labels;
  const std::regex node("    \"i[0-9]+\" \\[label=\"([^\\\\]+)\\\\n.*");
  for (const std::string& line : lines_of(dot)) {
    std::smatch match;
    if (std::regex_match(line, match, node)) {
      labels.push_back(match[1]);
    }
  }
  return labels;
}

// By default a report lists the installed software that the request
// removes, replaces, leaves broken or reaches through the relations of its
// entries (those that passed, the one that stopped the walk, and those not
// examined), and counts the rest; --all lists every one.
TEST_F(OxpmCliTest, ReportsListWhatTheRequestTouchesAndCountTheRest) {
  struct expected_listing {
    const char* request;
    std::vector<std::string> stays;
    std::size_t untouched;
  };
  const expected_listing examples[] = {
      // halden-reports depends on the console and is compatible with the db;
      // the agent depends on the runtime.
      {"1-pass-upgrade-agent.json", {"halden-runtime", "halden-console", "halden-db"}, 0},
      {"2-pass-install-order.json", {"halden-runtime"}, 4},
      // The db: a compatibility of halden-scanner, which was not examined.
      {"3-fail-dependency.json", {"halden-runtime", "halden-db"}, 5},
      {"4-fail-compatibility.json", {"halden-runtime", "halden-agent"}, 5},
      {"5-obsolete.json", {}, 7},
      {"6-pass-upgrade-then-dependent.json", {"halden-runtime"}, 4},
      {"7-fail-uninstall-breaks-dependents.json", {"halden-console", "halden-db"}, 4},
      {"8-fail-upgrade-breaks-dependent.json", {"halden-console"}, 5},
  };
  for (const expected_listing& example : examples) {
    const outcome run = oxpm(example_args(example.request));
    EXPECT_LE(run.status, 1) << example.request << run.err;
    const stays_section compact = stays_of(run.out);
    EXPECT_EQ(compact.ids, example.stays) << example.request << "\n" << run.out;
    EXPECT_EQ(compact.heading_count, example.stays.size() + example.untouched) << example.request;
    if (example.untouched == 0) {
      EXPECT_EQ(compact.count_line, "") << example.request;
    } else if (example.stays.empty()) {
      EXPECT_EQ(compact.count_line, "  " + std::to_string(example.untouched) +
                                        " installed software untouched by the request; --all "
                                        "lists them")
          << example.request;
    } else {
      EXPECT_EQ(compact.count_line, "  ... and " + std::to_string(example.untouched) +
                                        " more installed software untouched by the request; "
                                        "--all lists them")
          << example.request;
    }

    const outcome all = oxpm(cat(example_args(example.request), {"--all"}));
    EXPECT_EQ(all.status, run.status) << example.request;
    const stays_section full = stays_of(all.out);
    EXPECT_EQ(full.ids.size(), full.heading_count) << example.request << "\n" << all.out;
    EXPECT_EQ(full.count_line, "") << example.request;

    // The graph draws the same installed software, or every one with --all.
    const outcome graph = oxpm(example_args(example.request, "graph"));
    EXPECT_EQ(graph.status, run.status) << example.request;
    const std::vector<std::string> drawn = installed_nodes(graph.out);
    for (const std::string& id : compact.ids) {
      EXPECT_NE(std::find(drawn.begin(), drawn.end(), id), drawn.end())
          << example.request << " lacks a node for " << id << "\n"
          << graph.out;
    }
    EXPECT_EQ(contains(graph.out, "\"rest\" [label=\"" + std::to_string(example.untouched) +
                                      " more installed software\\nuntouched by the request"),
              example.untouched > 0)
        << example.request << "\n"
        << graph.out;
    EXPECT_EQ(
        installed_nodes(oxpm(cat(example_args(example.request, "graph"), {"--all"})).out).size(),
        7u)
        << example.request;
  }
}

// The Debian machine among the examples: hundreds of packages installed, a
// request that involves four of them. JSON keeps every record.
TEST_F(OxpmCliTest, ADebianMachinesReportIsAScreenful) {
  const std::vector<std::string> args = {"--spec",        example("halden-spec.xml"),
                                         "--platform",    "linux-x64",
                                         "--dpkg-status", example("debian/status"),
                                         "--request",     example("debian/upgrade-suite.json")};
  const outcome run = oxpm(cat({"resolve"}, args));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(contains(run.out, "531 installed, 4 to install")) << run.out;
  const stays_section compact = stays_of(run.out);
  EXPECT_EQ(compact.heading_count, 529u);
  EXPECT_EQ(compact.ids, (std::vector<std::string>{"halden-console", "halden-db"})) << run.out;
  EXPECT_EQ(compact.count_line,
            "  ... and 527 more installed software untouched by the request; --all lists them");
  EXPECT_TRUE(contains(run.out,
                       "Removed (2):\n  halden-agent       3.1.0.0  replaced by "
                       "halden-agent 4.1.0.0\n  halden-runtime     2.4.0.0  replaced by "
                       "halden-runtime 3.2.0.0\n"))
      << run.out;
  EXPECT_LE(lines_of(run.out).size(), 25u) << run.out;

  const outcome all = oxpm(cat({"resolve", "--all"}, args));
  EXPECT_EQ(all.status, 1);
  const stays_section full = stays_of(all.out);
  EXPECT_EQ(full.ids.size(), 529u);
  EXPECT_NE(std::find(full.ids.begin(), full.ids.end(), "adduser"), full.ids.end());
  EXPECT_EQ(full.count_line, "");

  const json result = json::parse(oxpm(cat(cat({"resolve"}, args), {"--format", "json"})).out);
  EXPECT_EQ(result["resolved"].size(), 531u + 4u);
  EXPECT_EQ(json::parse(oxpm(cat(cat({"resolve"}, args), {"--format", "json", "--all"})).out),
            result);

  const outcome graph = oxpm(cat({"graph"}, args));
  EXPECT_EQ(graph.status, 1);
  std::vector<std::string> drawn = installed_nodes(graph.out);
  std::sort(drawn.begin(), drawn.end());
  EXPECT_EQ(drawn, (std::vector<std::string>{"halden-agent", "halden-console", "halden-db",
                                             "halden-runtime"}))
      << graph.out;
  EXPECT_TRUE(contains(graph.out, "527 more installed software")) << graph.out;
  EXPECT_TRUE(contains(graph.out,
                       "\"i72\" -> \"r0\" [label=\"depends 2.3:2.9\\nBROKEN: version outside the "
                       "range\", color=red"))
      << graph.out;
  const outcome full_graph = oxpm(cat({"graph", "--all"}, args));
  EXPECT_EQ(installed_nodes(full_graph.out).size(), 531u);
  EXPECT_FALSE(contains(full_graph.out, "\"rest\"")) << full_graph.out;
}

TEST_F(OxpmCliTest, AFailedDependencyIsReportedWithItsRequirement) {
  const outcome run = oxpm(cat(example_args("3-fail-dependency.json"), {"--format", "json"}));
  ASSERT_EQ(run.status, 1);
  const json result = json::parse(run.out);
  const json& last = result["resolved"].back();
  EXPECT_EQ(last["id"], "halden-backup");
  EXPECT_EQ(last["state"], 1);
  ASSERT_EQ(last["failed_dependencies"].size(), 1u);
  EXPECT_EQ(last["failed_dependencies"][0]["version_text"], "3.0:3.9");
  EXPECT_EQ(last["failed_dependencies"][0]["version"], "3.0.0.0");
  EXPECT_EQ(result["incompatible"], true);
  EXPECT_EQ(result["conflicted"], false);
  EXPECT_EQ(last["failed_dependencies"][0]["sref"], "halden-runtime");
  EXPECT_EQ(last["failed_dependencies"][0]["blocker"],
            json::parse(R"({"id": "halden-runtime", "version": "2.4.0.0", "installed": true,
                            "removed": false})"));
  EXPECT_EQ(result["not_resolved"], json::parse(R"([{"id": "halden-scanner", "version": "2.1.0.0",
                             "reason": "not examined", "reason_code": "not_examined"}])"));

  const outcome text = oxpm(example_args("3-fail-dependency.json"));
  EXPECT_EQ(text.status, 1);
  EXPECT_TRUE(contains(text.out,
                       "halden-backup 3.0.0.0 depends on halden-runtime in versions "
                       "\"3.0:3.9\" (3.0.0.0 to 3.9.*.*),\n  but the installed "
                       "halden-runtime 2.4.0.0 is outside that range."))
      << text.out;
  EXPECT_FALSE(contains(text.out, "\x1b")) << "no colour off a terminal";
}

TEST_F(OxpmCliTest, ObsoleteAndIncompatibleEntriesStopTheWalk) {
  const json obsolete =
      json::parse(oxpm(cat(example_args("5-obsolete.json"), {"--format", "json"})).out);
  EXPECT_EQ(obsolete["resolved"].back()["state"], 5);
  EXPECT_EQ(obsolete["resolved"].back()["states"],
            json::parse(R"(["SOFTWARE_STATE_INSTALL", "SOFTWARE_STATE_UNINSTALL"])"));
  EXPECT_EQ(obsolete["incompatible"], false);
  EXPECT_EQ(obsolete["outcome"], "obsolete") << "a script reading only incompatible misses it";
  EXPECT_EQ(obsolete["resolved"].back()["removed_because"],
            json::parse(R"([{"reason": "obsolete"}])"));

  const json incompatible =
      json::parse(oxpm(cat(example_args("4-fail-compatibility.json"), {"--format", "json"})).out);
  const json& vpn = incompatible["resolved"].back();
  EXPECT_EQ(vpn["id"], "halden-vpn");
  EXPECT_EQ(vpn["failed_compatibilities"],
            json::parse(R"([{"id": "halden-agent", "version": "3.1.0.0", "version_text": "",
                             "sref": "halden-agent", "blocker": {"id": "halden-agent",
                             "version": "3.1.0.0", "installed": true, "removed": false}}])"));
  EXPECT_EQ(incompatible["not_resolved"][0]["id"], "halden-agent");
}

TEST_F(OxpmCliTest, CommandLineEntriesFollowTheRequestFile) {
  const outcome run = oxpm(cat(example_args("2-pass-install-order.json"),
                               {"--install", "nothing-here=1.0", "--install", "halden-reports=2.0",
                                "--uninstall", "sysutils-base=1.2", "--format", "json"}));
  EXPECT_EQ(run.status, 1) << "an entry without catalog entry";
  const json result = json::parse(run.out);
  std::vector<std::string> installed_order;
  for (const json& entry : result["resolved"]) {
    if (entry["state"].get<unsigned>() & 1u) {
      installed_order.push_back(entry["id"]);
    }
    if (entry["id"] == "sysutils-base") {
      EXPECT_EQ(entry["state"], 10);
    }
  }
  EXPECT_EQ(installed_order,
            (std::vector<std::string>{"halden-agent", "halden-vpn", "halden-reports"}));
  EXPECT_EQ(result["not_resolved"], json::parse(R"([{"id": "nothing-here", "version": "1.0.0.0",
                             "reason": "no specification entry",
                             "reason_code": "no_catalog_entry"}])"));
  EXPECT_EQ(result["incompatible"], false);
  EXPECT_EQ(result["outcome"], "not_resolved");
  EXPECT_EQ(result["ok"], false);
}

TEST_F(OxpmCliTest, AnEmptyRequestIsAUsageError) {
  const std::string empty = write("empty.json", "{\"install\": [], \"uninstall\": []}");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"resolve", "--spec", example("halden-spec.xml")},
        std::vector<std::string>{"resolve", "--spec", example("halden-spec.xml"), "--request",
                                 empty}}) {
    const outcome run = oxpm(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "oxpm: the request is empty: nothing to install or uninstall (give --install "
              "ID=VERSION, --uninstall ID or --request FILE with entries)\n");
  }
}

TEST_F(OxpmCliTest, UnreadableAndMalformedInputsExitTwoNamingTheFile) {
  const std::string spec = example("halden-spec.xml");
  const std::string broken_spec = write("broken.xml", "<specs>\n<softwares>\n</specs>\n");
  const std::string broken_request = write("broken.json", "{\"install\": [");
  const std::string shapeless_request = write("shapeless.json", "[]");
  const std::string broken_inventory = write("inventory.json", "{\"id\": \"x\"}");
  const std::string broken_status = write("status", "this line has no colon\n");
  struct bad_case {
    std::vector<std::string> args;
    std::vector<std::string> expected;  // parts of the message
  };
  const std::vector<bad_case> cases = {
      {{"resolve", "--spec", "/nonexistent/spec.xml", "--install", "a=1.0"},
       {"catalog /nonexistent/spec.xml: No such file or directory"}},
      {{"resolve", "--spec", scratch_.string(), "--install", "a=1.0"}, {"is a directory"}},
      {{"resolve", "--spec", broken_spec, "--install", "a=1.0"},
       {"catalog " + broken_spec + ": cannot be loaded: line 3", "OX_ERROR_PARSE"}},
      {{"resolve", "--spec", spec, "--request", "/nonexistent/r.json"},
       {"request /nonexistent/r.json: No such file or directory"}},
      {{"resolve", "--spec", spec, "--request", broken_request},
       {"request " + broken_request + ": malformed JSON"}},
      {{"resolve", "--spec", spec, "--request", shapeless_request},
       {"request " + shapeless_request + ": a request must be a JSON object"}},
      {{"resolve", "--spec", spec, "--installed", broken_inventory, "--install", "a=1.0"},
       {"inventory " + broken_inventory, "OX_ERROR_PARSE"}},
      {{"resolve", "--spec", spec, "--installed", "/nonexistent/inv.json", "--install", "a=1.0"},
       {"/nonexistent/inv.json", "OX_ERROR_IO"}},
      {{"resolve", "--spec", spec, "--dpkg-status", broken_status, "--install", "a=1.0"},
       {"dpkg status " + broken_status, "OX_ERROR_PARSE"}},
      {{"resolve", "--spec", spec, "--install", "halden-db"},
       {"--install \"halden-db\": expected ID=VERSION, VERSION being two to four"}},
      {{"resolve", "--spec", spec, "--install", "a=1.0", "--log", "/nonexistent/dir/oxpm.log"},
       {"cannot write the log: /nonexistent/dir/oxpm.log"}},
      {{"resolve", "--spec", spec, "--installed", "x", "--dpkg-status"}, {"excludes"}},
      {{"resolve", "--spec", spec, "--format", "xml", "--install", "a=1.0"}, {"--format"}},
      {{"resolve", "--install", "a=1.0"}, {"--spec"}},
      {{"resolve", "--spec", spec, "--frobnicate"}, {"--frobnicate"}},
      {{}, {"subcommand"}},
      {{"graph", "--spec", spec, "--format", "json", "--install", "a=1.0"}, {"--format"}},
      {{"lint"}, {"CATALOG is required"}},
      {{"lint", "/nonexistent/spec.xml"}, {"catalog /nonexistent/spec.xml"}},
      {{"show", "--spec", spec}, {"ID"}},
      {{"show", "--spec", "/nonexistent/spec.xml", "x"}, {"/nonexistent/spec.xml"}},
  };
  for (const bad_case& c : cases) {
    const outcome run = oxpm(c.args);
    std::string line;
    for (const std::string& arg : c.args) {
      line += arg + " ";
    }
    EXPECT_EQ(run.status, 2) << line << "\n" << run.err;
    EXPECT_EQ(run.out, "") << line;
    EXPECT_EQ(run.err.rfind("oxpm: ", 0), 0u) << line << "\n" << run.err;
    for (const std::string& part : c.expected) {
      EXPECT_TRUE(contains(run.err, part))
          << line << "\nexpected: " << part << "\ngot: " << run.err;
    }
  }
}

TEST_F(OxpmCliTest, TheLogFileHoldsEveryLibraryLineInTheLoggersFormat) {
  const std::string log = (scratch_ / "oxpm.log").string();
  const outcome run = oxpm(cat(example_args("3-fail-dependency.json"), {"--log", log}));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = lines_of(slurp(log));
  ASSERT_GT(lines.size(), 20u);
  const std::regex format("([25]) pm_service (ox_[a-z_]+):([0-9]+) ([a-z_]+): (.*)");
  for (const std::string& line : lines) {
    EXPECT_TRUE(std::regex_match(line, format)) << line;
  }
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("5 pm_service ox_software_package_spec_"
                                                    "manager:[0-9]+ import: importing spec "
                                                    "content\\.")))
      << lines[0];
  const std::string all = slurp(log);
  EXPECT_TRUE(contains(all,
                       " resolve: resolving installing softwares <halden-backup(3.0.0.0); "
                       "halden-scanner(2.1.0.0); >, uninstalling softwares <>\n"))
      << all;
  EXPECT_TRUE(contains(all, " rescan: installed software id: halden-runtime, version: 2.4.0.0\n"));
  EXPECT_TRUE(std::regex_search(all, std::regex("\n2 pm_service ox_software_dependency_manager:"
                                                "[0-9]+ check_installorder_compatibility: "
                                                "dependency fail for <halden-backup>\n")))
      << all;

  // Failures only.
  const outcome failures =
      oxpm(cat(example_args("3-fail-dependency.json"), {"--log", log, "--log-level", "failure"}));
  EXPECT_EQ(failures.status, 1);
  const std::vector<std::string> failure_lines = lines_of(slurp(log));
  ASSERT_FALSE(failure_lines.empty());
  for (const std::string& line : failure_lines) {
    EXPECT_EQ(line.rfind("2 pm_service ", 0), 0u) << line;
  }
  EXPECT_LT(failure_lines.size(), lines.size());

  // To standard error, the report still on standard output.
  const outcome to_stderr = oxpm(cat(example_args("3-fail-dependency.json"), {"--log", "-"}));
  EXPECT_EQ(lines_of(to_stderr.err).size(), lines.size());
  EXPECT_TRUE(contains(to_stderr.out, "Result: the request cannot be carried out as asked."));
}

TEST_F(OxpmCliTest, ReadsTheInstalledSoftwareFromADpkgStatusFile) {
  const std::string status = write("status",
                                   "Package: halden-runtime\n"
                                   "Status: install ok installed\n"
                                   "Version: 3.1.0.0\n"
                                   "\n"
                                   "Package: halden-db\n"
                                   "Status: install ok installed\n"
                                   "Version: 5.4.0.0\n"
                                   "\n"
                                   "Package: halden-old\n"
                                   "Status: deinstall ok config-files\n"
                                   "Version: 1.0.0.0\n");
  const outcome run =
      oxpm({"resolve", "--spec", example("halden-spec.xml"), "--platform", "linux-x64",
            "--dpkg-status", status, "--install", "halden-backup=3.0", "--format", "json"});
  EXPECT_EQ(run.status, 0) << run.err;
  const json result = json::parse(run.out);
  ASSERT_EQ(result["resolved"].size(), 3u);
  EXPECT_EQ(result["resolved"][0]["id"], "halden-runtime");
  EXPECT_EQ(result["resolved"][1]["version"], "5.4.0.0");
  EXPECT_EQ(result["resolved"][2]["id"], "halden-backup");
  EXPECT_EQ(result["not_resolved"], json::array());
}

// Each input is read once, so a pipe serves as well as a file: the installed
// software is read before the resolution and not again by its rescan.
TEST_F(OxpmCliTest, EveryInputCanComeFromAPipe) {
  const std::string status = write("status",
                                   "Package: halden-runtime\n"
                                   "Status: install ok installed\n"
                                   "Version: 2.4.0.0\n");
  const std::vector<std::string> inventory_run =
      cat(example_args("3-fail-dependency.json"), {"--format", "json"});
  const std::vector<std::string> dpkg_run = {"resolve",    "--spec",    example("halden-spec.xml"),
                                             "--platform", "linux-x64", "--dpkg-status",
                                             status,       "--install", "halden-backup=3.0",
                                             "--format",   "json"};
  const std::pair<const std::vector<std::string>*, const char*> cases[] = {
      {&inventory_run, "--installed"},
      {&inventory_run, "--request"},
      {&inventory_run, "--spec"},
      {&dpkg_run, "--dpkg-status"},
  };
  for (const auto& c : cases) {
    for (const char* name : {"/dev/stdin", "-"}) {
      std::vector<std::string> piped = *c.first;
      const auto value = std::find(piped.begin(), piped.end(), c.second) + 1;
      ASSERT_NE(value, piped.end());
      const std::string input = slurp(*value);
      ASSERT_FALSE(input.empty()) << *value;
      *value = name;

      const outcome expected = oxpm(*c.first);
      ASSERT_NE(expected.status, 2) << expected.err;
      ASSERT_NE(expected.out, "");
      const outcome got = run_program(OXPM_BINARY, piped, scratch_, nullptr, &input);
      EXPECT_EQ(got.status, expected.status) << c.second << " " << name << "\n" << got.err;
      EXPECT_EQ(got.out, expected.out) << c.second << " " << name;
      EXPECT_EQ(got.err, expected.err) << c.second << " " << name;
    }
  }

  // "-" is standard input wherever a file is taken, and named so.
  const std::string broken = "[{\"id\": \"x\", \"versoin\": \"1.0\"}]";
  const outcome inventory = run_program(
      OXPM_BINARY,
      {"resolve", "--spec", example("halden-spec.xml"), "--installed", "-", "--install", "a=1.0"},
      scratch_, nullptr, &broken);
  EXPECT_EQ(inventory.status, 2);
  EXPECT_EQ(inventory.err.rfind("oxpm: inventory standard input: entry 1 (\"x\"): unknown key", 0),
            0u)
      << inventory.err;
  const std::string catalog = slurp(std::string(OXPM_TEST_DATA) + "/lint-bad.xml");
  const outcome lint =
      run_program(OXPM_BINARY, {"lint", "--platform", "p1", "-"}, scratch_, nullptr, &catalog);
  EXPECT_EQ(lint.status, 1);
  EXPECT_TRUE(contains(lint.out, "  standard input:11: softwareids pattern \"(unclosed\""))
      << lint.out;
  const outcome lint_twice = oxpm({"lint", "-", "-"});
  EXPECT_EQ(lint_twice.status, 2);
  EXPECT_EQ(
      lint_twice.err,
      "oxpm: standard input (-) can feed only one input, and CATALOG names it more than once\n");
  const outcome twice = oxpm({"resolve", "--spec", "-", "--request", "-"});
  EXPECT_EQ(twice.status, 2);
  EXPECT_EQ(twice.err,
            "oxpm: standard input (-) can feed only one input, and --spec and --request both name "
            "it\n");
}

// Whether the ELF file asks for a program interpreter (the dynamic loader):
// a static executable has no PT_INTERP program header.
bool has_interpreter(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  unsigned char ident[16] = {};
  file.read(reinterpret_cast<char*>(ident), sizeof(ident));
  EXPECT_TRUE(file && ident[0] == 0x7F && ident[1] == 'E' && ident[2] == 'L' && ident[3] == 'F' &&
              ident[4] == 2)
      << path << " is no 64-bit ELF file";
  std::uint64_t program_headers = 0;
  std::uint16_t entry_size = 0;
  std::uint16_t entries = 0;
  file.seekg(0x20);
  file.read(reinterpret_cast<char*>(&program_headers), sizeof(program_headers));
  file.seekg(0x36);
  file.read(reinterpret_cast<char*>(&entry_size), sizeof(entry_size));
  file.read(reinterpret_cast<char*>(&entries), sizeof(entries));
  for (std::uint16_t i = 0; file && i < entries; ++i) {
    std::uint32_t type = 0;
    file.seekg(static_cast<std::streamoff>(program_headers + std::uint64_t{i} * entry_size));
    file.read(reinterpret_cast<char*>(&type), sizeof(type));
    if (file && type == 3) {  // PT_INTERP
      return true;
    }
  }
  EXPECT_TRUE(file) << "cannot read the program headers of " << path;
  return false;
}

// With OXPM_STATIC_DEPS the executable carries pugixml, RE2 and the C++
// runtime, and where the toolchain allows, the C library too: the dynamic
// loader has none of them to load at every start, or does not run at all.
TEST_F(OxpmCliTest, LinksItsDependenciesAsConfigured) {
  if (OXPM_FULLY_STATIC) {
    EXPECT_FALSE(has_interpreter(OXPM_BINARY)) << "a static oxpm asks for the dynamic loader";
    const outcome run = oxpm({"--help"});
    EXPECT_EQ(run.status, 0) << run.err;
    return;
  }
  EXPECT_TRUE(has_interpreter(OXPM_BINARY));
  // The loader lists what it would load instead of running the program.
  const outcome listed = run_program("env", {"LD_TRACE_LOADED_OBJECTS=1", OXPM_BINARY}, scratch_);
  ASSERT_EQ(listed.status, 0) << listed.err;
  ASSERT_TRUE(contains(listed.out, "libc.so")) << listed.out;
  for (const char* library : {"libpugixml", "libre2", "libstdc++"}) {
    EXPECT_EQ(contains(listed.out, library), !OXPM_STATIC_DEPS_LINKED)
        << library << (OXPM_STATIC_DEPS_LINKED ? " linked dynamically" : " not found") << "\n"
        << listed.out;
  }
}

// The switches that turn the run's memory shortcuts off (leaving malloc as
// it is, freeing everything before exit) change nothing in what a run
// writes or how it exits.
TEST_F(OxpmCliTest, MemorySwitchesLeaveTheResultAlone) {
  for (const char* request : {"1-pass-upgrade-agent.json", "3-fail-dependency.json"}) {
    const outcome usual = oxpm(example_args(request));
    std::vector<std::string> args = {"OXPM_PLAIN_MALLOC=1", "OXPM_FREE_AT_EXIT=1", OXPM_BINARY};
    args = cat(args, example_args(request));
    const outcome plain = run_program("env", args, scratch_);
    EXPECT_EQ(plain.status, usual.status) << request << "\n" << plain.err;
    EXPECT_EQ(plain.out, usual.out) << request;
    EXPECT_EQ(plain.err, usual.err) << request;
  }
}

TEST_F(OxpmCliTest, NothingIsInstalledWithoutAnInventory) {
  const outcome run = oxpm({"resolve", "--spec", example("halden-spec.xml"), "--install",
                            "halden-runtime=3.0", "--format", "json"});
  EXPECT_EQ(run.status, 0) << run.err;
  const json result = json::parse(run.out);
  ASSERT_EQ(result["resolved"].size(), 1u);
  EXPECT_EQ(result["resolved"][0]["state"], 1);
}

TEST_F(OxpmCliTest, LintReportsAndExitsOneOnErrors) {
  const std::string bad = std::string(OXPM_TEST_DATA) + "/lint-bad.xml";
  const outcome text = oxpm({"lint", "--platform", "p1", bad});
  EXPECT_EQ(text.status, 1);
  EXPECT_TRUE(contains(text.out, "\nbad-pattern (1 error): fix: correct the regular expression"))
      << text.out;
  EXPECT_TRUE(contains(text.out, "\n  " + bad + ":11: softwareids pattern \"(unclosed\""))
      << text.out;
  EXPECT_TRUE(contains(text.out, "\n15 errors, 5 warnings; 7 software entries imported\n"))
      << text.out;

  const outcome as_json = oxpm({"lint", "--platform", "p1", "--format", "json", bad});
  EXPECT_EQ(as_json.status, 1);
  const json result = json::parse(as_json.out);
  EXPECT_EQ(result["schema_version"], 1);
  EXPECT_EQ(result["errors"], 15);
  EXPECT_EQ(result["findings"].size(), 20u);

  // Ignoring every code that has errors makes the exit status 0; an unknown
  // code is a usage error.
  const std::string mistakes = std::string(OXPM_TEST_DATA) + "/lint-mistakes.xml";
  EXPECT_EQ(oxpm({"lint", mistakes}).status, 1);
  const outcome ignored = oxpm({"lint", "--ignore", "unknown-container", "--ignore",
                                "non-numeric-version", "--ignore", "self-dependency", mistakes});
  EXPECT_EQ(ignored.status, 0) << ignored.out;
  EXPECT_TRUE(contains(ignored.out, "0 errors, 3 warnings (3 ignored);")) << ignored.out;
  EXPECT_FALSE(contains(ignored.out, "depend")) << ignored.out;
  const outcome unknown = oxpm({"lint", "--ignore", "no-such-code", mistakes});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_TRUE(contains(unknown.err, "--ignore: no-such-code not in")) << unknown.err;

  const outcome clean = oxpm({"lint", "--platform", "linux-x64", example("halden-spec.xml")});
  EXPECT_EQ(clean.status, 0) << clean.out;
  EXPECT_EQ(clean.out, "0 errors, 0 warnings; 13 software entries imported\n");
}

TEST_F(OxpmCliTest, ShowFindsEntriesOrSaysNotFound) {
  const std::string spec = example("halden-spec.xml");
  const outcome linux = oxpm({"show", "--spec", spec, "--platform", "linux-x64", "halden-agent"});
  EXPECT_EQ(linux.status, 0);
  EXPECT_EQ(linux.out.rfind("halden-agent (\"Halden Agent\")\n", 0), 0u) << linux.out;
  EXPECT_TRUE(contains(linux.out, "softwareids: \"halden-agent\"\n")) << linux.out;
  const outcome windows =
      oxpm({"show", "--spec", spec, "--platform", "windows-x64", "HLD_AGENT_41", "4.1"});
  EXPECT_EQ(windows.status, 0);
  EXPECT_TRUE(contains(windows.out, "softwareids: \"halden-agent|HLD_AGENT_4[0-9]*\"\n"))
      << windows.out;
  const outcome missing = oxpm({"show", "--spec", spec, "halden-runtime", "9.0"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(contains(missing.out, "\"halden-runtime\" version 9.0.0.0: not found\n"))
      << missing.out;

  const outcome found = oxpm({"show", "--catalog", spec, "--platform", "windows-x64", "--format",
                              "json", "HLD_AGENT_41", "4.1"});
  EXPECT_EQ(found.status, 0) << found.err;
  const json entry = json::parse(found.out);
  EXPECT_EQ(entry["schema_version"], 1);
  EXPECT_EQ(entry["found"], true);
  EXPECT_EQ(entry["version"], "4.1.0.0");
  EXPECT_EQ(entry["answers_through"], "softwareids");
  EXPECT_EQ(entry["entry"]["sref"], "halden-agent");
  EXPECT_EQ(entry["entry"]["softwareids"], "halden-agent|HLD_AGENT_4[0-9]*");
  const outcome not_found =
      oxpm({"show", "--spec", spec, "--format", "json", "halden-runtime", "9.0"});
  EXPECT_EQ(not_found.status, 1);
  const json none = json::parse(not_found.out);
  EXPECT_EQ(none["found"], false);
  EXPECT_TRUE(none["entry"].is_null());
  EXPECT_EQ(none["answering_versions"].size(), 2u);
}

TEST_F(OxpmCliTest, GraphWritesDotThatGraphvizAccepts) {
  const outcome failing = oxpm(example_args("4-fail-compatibility.json", "graph"));
  EXPECT_EQ(failing.status, 1) << failing.err;
  EXPECT_EQ(failing.out.rfind("digraph \"oxpm\" {", 0), 0u) << failing.out;
  EXPECT_TRUE(contains(failing.out, "color=red")) << failing.out;

  const outcome passing = oxpm(example_args("1-pass-upgrade-agent.json", "graph"));
  EXPECT_EQ(passing.status, 0) << passing.err;
  EXPECT_FALSE(contains(passing.out, "color=red")) << passing.out;

  const outcome broken = oxpm(example_args("7-fail-uninstall-breaks-dependents.json", "graph"));
  EXPECT_EQ(broken.status, 1) << broken.err;

  const outcome which = run_program("sh", {"-c", "command -v dot"}, scratch_);
  if (which.status != 0) {
    GTEST_SKIP() << "Graphviz (dot) is not installed";
  }
  for (const outcome* graph : {&failing, &passing, &broken}) {
    const std::string file = write("graph.dot", graph->out);
    const outcome dot =
        run_program("dot", {"-Tsvg", file, "-o", (scratch_ / "graph.svg").string()}, scratch_);
    EXPECT_EQ(dot.status, 0) << dot.err;
    EXPECT_EQ(dot.err, "");
  }
}

}  // namespace

// A person's typing mistakes end in a usage error that quotes the text, names
// where it came from and shows the accepted form.
TEST_F(OxpmCliTest, TypedVersionsAreCheckedAtTheDoor) {
  const std::string spec = example("halden-spec.xml");
  const std::string form =
      ": expected two to four dot-separated decimal numbers, each at most 4294967295, like 3.1 "
      "or 3.1.0.2\n";
  const std::string request =
      write("r.json", R"({"install": [{"id": "a", "version": "1.0"}, {"id": "b", "version": "2.0"},
                          {"id": "fjord-web", "version": "3.1.x"}]})");
  const std::string no_version = write("n.json", R"({"install": [{"id": "fjord-web"}]})");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--install", "fjord-web=abc"},
       "oxpm: --install \"fjord-web=abc\": the version \"abc\" is not a version" + form},
      {{"--install", "fjord-web=-1"},
       "oxpm: --install \"fjord-web=-1\": the version \"-1\" is not a version" + form},
      {{"--install", "fjord-web=3"},
       "oxpm: --install \"fjord-web=3\": the version \"3\" is not a version" + form},
      {{"--install", "fjord-web="},
       "oxpm: --install \"fjord-web=\": the version \"\" is not a version" + form},
      {{"--install", "fjord-web=99999999999.1"},
       "oxpm: --install \"fjord-web=99999999999.1\": the version \"99999999999.1\" is not a "
       "version" +
           form},
      {{"--install", "fjord-web=4294967296.0"},
       "oxpm: --install \"fjord-web=4294967296.0\": the version \"4294967296.0\" is not a "
       "version" +
           form},
      {{"--install", "fjord-web=3.1.x"},
       "oxpm: --install \"fjord-web=3.1.x\": the version \"3.1.x\" is not a version" + form},
      {{"--install", "fjord-web=3.1.0.0.7"},
       "oxpm: --install \"fjord-web=3.1.0.0.7\": the version \"3.1.0.0.7\" is not a version" +
           form},
      {{"--install", "fjord-web=3..1"},
       "oxpm: --install \"fjord-web=3..1\": the version \"3..1\" is not a version" + form},
      {{"--uninstall", "fjord-web=x"},
       "oxpm: --uninstall \"fjord-web=x\": the version \"x\" is not a version" + form},
      {{"--request", request},
       "oxpm: request " + request + ": install[2]: the version \"3.1.x\" is not a version" + form},
      {{"--request", no_version},
       "oxpm: request " + no_version +
           ": install[0]: \"version\" is missing (an install entry needs one: two to four "
           "dot-separated decimal numbers, each at most 4294967295, like 3.1 or 3.1.0.2)\n"},
  };
  for (const auto& c : cases) {
    const outcome run = oxpm(cat({"resolve", "--spec", spec}, c.first));
    EXPECT_EQ(run.status, 2) << c.first.back();
    EXPECT_EQ(run.out, "") << c.first.back();
    EXPECT_EQ(run.err, c.second) << c.first.back();
  }

  // The greatest piece, and uninstall entries without version.
  const std::string uninstall_only =
      write("u.json",
            R"({"uninstall": [{"id": "halden-db"}, {"id": "sysutils-base", "version": "1.2"}]})");
  const outcome accepted =
      oxpm({"resolve", "--spec", spec, "--platform", "linux-x64", "--installed",
            example("inventory.json"), "--request", uninstall_only, "--uninstall", "halden-console",
            "--install", "nothing-here=4294967295.0", "--format", "json"});
  EXPECT_EQ(accepted.status, 1) << accepted.err;
  EXPECT_EQ(accepted.err, "");
  const json result = json::parse(accepted.out);
  EXPECT_EQ(result["not_resolved"][0]["version"], "4294967295.0.0.0");
  std::vector<std::string> removed;
  for (const json& entry : result["resolved"]) {
    if (entry["state"].get<unsigned>() & 8u) {
      removed.push_back(entry["id"]);
    }
  }
  EXPECT_EQ(removed, (std::vector<std::string>{"sysutils-base", "halden-console", "halden-db"}));
}

TEST_F(OxpmCliTest, UnknownKeysOfAnInventoryEntryAreRefused) {
  const std::string inventory =
      write("inv.json",
            R"([{"id": "halden-db", "version": "5.2"}, {"id": "fjord-core", "versoin": "2.1"}])");
  const outcome run = oxpm({"resolve", "--spec", example("halden-spec.xml"), "--installed",
                            inventory, "--install", "halden-db=5.2"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "oxpm: inventory " + inventory +
                         ": entry 2 (\"fjord-core\"): unknown key \"versoin\" (an entry has \"id\" "
                         "and \"version\" only) (host error 101 (OX_ERROR_PARSE))\n");
}

TEST_F(OxpmCliTest, UnknownCommandsAndOptionsAreNamedWithTheNearestOne) {
  const std::pair<std::vector<std::string>, std::string> errors[] = {
      {{"resolv"},
       "oxpm: unknown command \"resolv\"; did you mean 'resolve'?\n"
       "Run 'oxpm resolve --help' for its options, or 'oxpm --help' for every command.\n"},
      {{"shwo", "--spec", "x", "y"},
       "oxpm: unknown command \"shwo\"; did you mean 'show'?\n"
       "Run 'oxpm show --help' for its options, or 'oxpm --help' for every command.\n"},
      {{"foo"},
       "oxpm: unknown command \"foo\" (the commands are resolve, graph, lint, show, fleet and "
       "help)\n"
       "Run 'oxpm --help' for more information.\n"},
      {{"help", "foo"},
       "oxpm: unknown command \"foo\" (the commands are resolve, graph, lint, show, fleet and "
       "help)\n"
       "Run 'oxpm --help' for more information.\n"},
      {{"resolve", "--spec", "s.xml", "--platfrom", "linux-x64"},
       "oxpm: resolve has no option \"--platfrom\"; did you mean --platform?\n"
       "Run 'oxpm resolve --help' for its options.\n"},
      {{"lint", "--fromat=json", "s.xml"},
       "oxpm: lint has no option \"--fromat\"; did you mean --format?\n"
       "Run 'oxpm lint --help' for its options.\n"},
      {{"--spec", "s.xml", "resolve"},
       "oxpm: unknown option \"--spec\": it is an option of 'resolve', 'graph', 'show' and "
       "'fleet', given after the command (oxpm resolve --spec ...)\n"
       "Run 'oxpm --help' for more information.\n"},
      {{"--verison"},
       "oxpm: unknown option \"--verison\"; did you mean --version?\n"
       "Run 'oxpm --help' for more information.\n"},
      {{},
       "oxpm: a subcommand is required: resolve, graph, lint, show or help\n"
       "Run 'oxpm --help' for more information.\n"},
  };
  for (const auto& c : errors) {
    const outcome run = oxpm(c.first);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.second);
  }

  const outcome version = oxpm({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("oxpm ") + OXPM_PROJECT_VERSION + "\n");
  EXPECT_EQ(oxpm({"help"}).out, oxpm({"--help"}).out);
  EXPECT_TRUE(contains(oxpm({"--help"}).out, "oxpm help COMMAND"));
  for (const char* command : {"resolve", "graph", "lint", "show"}) {
    const outcome help = oxpm({"help", command});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_EQ(help.out, oxpm({command, "--help"}).out) << command;
  }
}

TEST_F(OxpmCliTest, ACatalogThatDoesNotLoadSaysWhy) {
  const std::string latin1 =
      write("latin1.xml",
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<specs>\n<softwares>\n"
            "<software sref=\"caf\xe9\" name=\"x\" platforms=\"p\" version=\"1\" "
            "softwareids=\"x\"/>\n</softwares>\n</specs>\n");
  std::string nested = "<specs>\n";
  for (int i = 0; i < 300; ++i) {
    nested += "<a>";
  }
  const std::string deep = write("deep.xml", nested);
  std::string closing;
  for (int i = 0; i < 300; ++i) {
    closing += "</a>";
  }
  const std::string closed = write("closed.xml", nested + closing + "\n</specs>\n");
  const std::string utf16 = write("utf16.xml", std::string("\xff\xfe<\0s\0>\0", 8));
  const std::string two = write("two.xml", "<specs/>\n<specs/>\n");
  const std::string reference =
      write("reference.xml",
            "<specs>\n<softwares>\n<software sref=\"a\"\n  name=\"x&#0;\"/>\n"
            "</softwares>\n</specs>\n");
  const std::string repeated = write("repeated.xml", "<specs>\n<x a=\"1\" a=\"2\"/>\n</specs>\n");
  const std::pair<std::string, std::string> cases[] = {
      {latin1,
       "line 4: not UTF-8: the byte 0xE9 cannot stand there in UTF-8 (the XML declaration "
       "names the encoding \"ISO-8859-1\"); a catalog must be UTF-8 (host error 101 "
       "(OX_ERROR_PARSE))"},
      {deep,
       "line 2: elements nest deeper than 256 levels, the most allowed (host error 103 "
       "(OX_ERROR_LIMIT_EXCEEDED))"},
      {closed,
       "line 2: elements nest deeper than 256 levels, the most allowed (host error 103 "
       "(OX_ERROR_LIMIT_EXCEEDED))"},
      {utf16,
       "not UTF-8: the text is in UTF-16 (little-endian); a catalog must be UTF-8 (host "
       "error 101 (OX_ERROR_PARSE))"},
      {two,
       "line 2: a second document element \"specs\"; a document has one (host error 101 "
       "(OX_ERROR_PARSE))"},
      {reference,
       "line 4: the character reference \"&#0;\" in the attribute \"name\" names no "
       "character (host error 101 (OX_ERROR_PARSE))"},
      {repeated,
       "line 2: the attribute \"a\" appears twice in \"x\" (host error 101 "
       "(OX_ERROR_PARSE))"},
  };
  for (const auto& c : cases) {
    const outcome run = oxpm({"resolve", "--spec", c.first, "--install", "a=1.0"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "oxpm: catalog " + c.first + ": cannot be loaded: " + c.second + "\n");
  }
}

TEST_F(OxpmCliTest, APlatformThatNamesNoEntryIsRefusedWithTheCatalogsPlatforms) {
  const std::string message =
      "oxpm: --platform \"linux-x46\": no entry of the catalog is for this platform; the catalog "
      "names \"linux-x64\" and \"windows-x64\"\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"resolve", "--spec", example("halden-spec.xml"), "--platform",
                                 "linux-x46", "--install", "halden-db=5.2"},
        std::vector<std::string>{"show", "--spec", example("halden-spec.xml"), "--platform",
                                 "linux-x46", "halden-db"}}) {
    const outcome run = oxpm(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, message);
  }
}

TEST_F(OxpmCliTest, OddIdsAreQuotedAndUnmatchedUninstallsAreReportedWithoutFailing) {
  const outcome run = oxpm({"resolve", "--spec", example("halden-spec.xml"), "--platform",
                            "linux-x64", "--installed", example("inventory.json"), "--install",
                            "my app=1.0", "--uninstall", "not here", "--uninstall", "gone"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(contains(run.out,
                       "Uninstall requests that name nothing installed:\n"
                       "  \"not here\"  not installed, nothing to remove\n"
                       "  gone  not installed, nothing to remove\n"))
      << run.out;
  EXPECT_TRUE(contains(run.out, "  1. \"my app\"")) << run.out;
  const outcome control = oxpm({"resolve", "--spec", example("halden-spec.xml"), "--install",
                                "tab\there=1.0", "--install", "plain=1.0"});
  EXPECT_EQ(control.status, 1) << control.err;
  EXPECT_TRUE(contains(control.out, "  1. \"tab\\x09here\"  1.0.0.0")) << control.out;
  EXPECT_TRUE(contains(control.out, "  2. plain  ")) << control.out;
  EXPECT_TRUE(contains(control.out, "No catalog entry answers to the id \"tab\\x09here\".\n"))
      << control.out;
  EXPECT_TRUE(contains(run.out,
                       "\nWhy \"my app\" 1.0.0.0 was left out:\n  No catalog entry "
                       "answers to the id \"my app\" for platform \"linux-x64\".\n"))
      << run.out;

  const outcome only_uninstall =
      oxpm({"resolve", "--spec", example("halden-spec.xml"), "--installed",
            example("inventory.json"), "--uninstall", "gone"});
  EXPECT_EQ(only_uninstall.status, 0) << only_uninstall.err;
  EXPECT_TRUE(contains(only_uninstall.out, "  gone  not installed, nothing to remove\n"));
  EXPECT_TRUE(contains(only_uninstall.out, "Result: the request can be carried out."));
}

// FJC_12 is a management id that fjord-core's softwareids match.
TEST_F(OxpmCliTest, HintsNeverProposeWhatTheRequestAlreadyDoes) {
  const std::vector<std::string> base = {"resolve",
                                         "--spec",
                                         std::string(OXPM_TEST_DATA) + "/fjord-spec.xml",
                                         "--platform",
                                         "linux-x64",
                                         "--installed",
                                         std::string(OXPM_TEST_DATA) + "/fjord-installed.json"};
  const auto why = [](const std::string& report) {
    const std::size_t start = report.find("\nWhy ");
    const std::size_t end = report.find("\nResult:");
    return start == std::string::npos ? report : report.substr(start + 1, end - start - 1);
  };
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--install", "fjord-core=2.2", "--install", "fjord-web=3.1"},
       "Why fjord-web 3.1.0.0 cannot be installed:\n"
       "  fjord-web 3.1.0.0 depends on fjord-core in versions \"2.2:2.9\" (2.2.0.0 to 2.9.*.*),\n"
       "  but the installed FJC_12 1.5.0.0 is outside that range.\n"
       "  fjord-core 2.2.0.0 is requested before it, but the installed FJC_12 1.5.0.0\n"
       "  answers to fjord-core's ids (\"fjord-core|FJC_[0-9]+\") and is found first: only the "
       "first match counts.\n"
       "  Installing fjord-core 2.2.0.0 does not replace FJC_12: an install replaces only\n"
       "  installed software with the same id or catalog id.\n"
       "  Hint: uninstall FJC_12 in the same request.\n"},
      {{"--install", "fjord-web=3.1", "--install", "fjord-core=2.2"},
       "Why fjord-web 3.1.0.0 cannot be installed:\n"
       "  fjord-web 3.1.0.0 depends on fjord-core in versions \"2.2:2.9\" (2.2.0.0 to 2.9.*.*),\n"
       "  but the installed FJC_12 1.5.0.0 is outside that range.\n"
       "  fjord-core 2.2.0.0 is requested, but after fjord-web 3.1.0.0.\n"
       "  Hint: uninstall FJC_12 and request fjord-core 2.2.0.0 before fjord-web 3.1.0.0.\n"
       "  The walk stopped there: 1 later entry was not examined.\n"},
      {{"--install", "fjord-web=3.1"},
       "Why fjord-web 3.1.0.0 cannot be installed:\n"
       "  fjord-web 3.1.0.0 depends on fjord-core in versions \"2.2:2.9\" (2.2.0.0 to 2.9.*.*),\n"
       "  but the installed FJC_12 1.5.0.0 is outside that range.\n"
       "  Hint: uninstall FJC_12 and request fjord-core in those versions before fjord-web "
       "3.1.0.0, in the same request.\n"},
      {{"--install", "fjord-core=2.2", "--install", "fjord-panel=1.0"},
       "Why fjord-panel 1.0.0.0 cannot be installed:\n"
       "  fjord-panel 1.0.0.0 is compatible with fjord-core only in 2.0.0.0 to 2.9.*.*,\n"
       "  but the installed FJC_12 1.5.0.0 is outside that range.\n"
       "  fjord-core 2.2.0.0 is requested before it, but the installed FJC_12 1.5.0.0\n"
       "  answers to fjord-core's ids (\"fjord-core|FJC_[0-9]+\") and is found first: only the "
       "first match counts.\n"
       "  Installing fjord-core 2.2.0.0 does not replace FJC_12: an install replaces only\n"
       "  installed software with the same id or catalog id.\n"
       "  Hint: uninstall FJC_12 in the same request, or request a version of fjord-panel that "
       "is compatible with FJC_12 1.5.0.0.\n"},
  };
  for (const auto& c : cases) {
    const outcome run = oxpm(cat(base, c.first));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(why(run.out), c.second) << run.out;
  }

  // What the hints propose works.
  for (const char* second : {"fjord-web=3.1", "fjord-panel=1.0"}) {
    const outcome followed = oxpm(
        cat(base, {"--uninstall", "FJC_12", "--install", "fjord-core=2.2", "--install", second}));
    EXPECT_EQ(followed.status, 0) << second << "\n" << followed.out;
  }

  // Requesting the dependency in another version: the hint says "instead".
  const outcome other = oxpm({"resolve", "--spec", std::string(OXPM_TEST_DATA) + "/fjord-spec.xml",
                              "--install", "fjord-core=2.0", "--install", "fjord-web=3.1"});
  EXPECT_EQ(other.status, 1);
  EXPECT_TRUE(contains(other.out,
                       "  Hint: request fjord-core in those versions instead of "
                       "fjord-core 2.0.0.0.\n"))
      << other.out;
}

// The status file of a Debian 12 machine, trimmed: every installed package
// must read as its upstream version's leading numbers.
TEST_F(OxpmCliTest, DebianVersionsReadAsTheirUpstreamNumbers) {
  const std::string status = std::string(OXPM_TEST_DATA) + "/dpkg-status-debian12";
  const outcome run = oxpm({"resolve", "--spec", example("halden-spec.xml"), "--dpkg-status",
                            status, "--uninstall", "nothing-of-the-kind", "--format", "json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const json result = json::parse(run.out);

  // Package and Debian version of every installed stanza, in file order.
  std::vector<std::pair<std::string, std::string>> packages;
  std::string package;
  std::string version;
  bool installed = false;
  std::istringstream lines(slurp(status) + "\n");
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) {
      if (installed) {
        packages.emplace_back(package, version);
      }
      package.clear();
      version.clear();
      installed = false;
    } else if (line.rfind("Package: ", 0) == 0) {
      package = line.substr(9);
    } else if (line.rfind("Version: ", 0) == 0) {
      version = line.substr(9);
    } else if (line.rfind("Status: ", 0) == 0) {
      installed = contains(line, " ok installed");
    }
  }
  ASSERT_GT(packages.size(), 250u);
  ASSERT_EQ(result["resolved"].size(), packages.size() + 0);

  // [epoch:]upstream[-revision]: the upstream's leading dot-separated numbers.
  const std::regex rule("^(?:[0-9]+:)?([0-9]+)(?:\\.([0-9]+))?(?:\\.([0-9]+))?(?:\\.([0-9]+))?.*$");
  std::map<std::string, std::string> read;
  std::size_t with_epoch = 0;
  std::size_t without_dot = 0;
  for (std::size_t i = 0; i < packages.size(); ++i) {
    const json& entry = result["resolved"][i];
    ASSERT_EQ(entry["id"], packages[i].first);
    const std::string got = entry["version"];
    read[packages[i].first] = got;
    std::string upstream = packages[i].second;
    with_epoch += std::regex_search(upstream, std::regex("^[0-9]+:")) ? 1 : 0;
    upstream = std::regex_replace(upstream, std::regex("^[0-9]+:"), "");
    upstream = upstream.substr(0, upstream.rfind('-'));
    without_dot += upstream.find('.') == std::string::npos ? 1 : 0;
    std::smatch pieces;
    if (!std::regex_match(packages[i].second, pieces, rule)) {
      EXPECT_FALSE(upstream.empty() || (upstream[0] >= '0' && upstream[0] <= '9'))
          << packages[i].first << " " << packages[i].second;
      EXPECT_EQ(got, "0.0.0.0") << packages[i].first;
      continue;
    }
    std::string expected;
    for (int p = 1; p <= 4; ++p) {
      expected += (p > 1 ? "." : "") +
                  (pieces[p].matched ? std::to_string(std::stoull(pieces[p].str())) : "0");
    }
    EXPECT_EQ(got, expected) << packages[i].first << " " << packages[i].second;
    if (upstream.find_first_not_of('0') != std::string::npos && upstream[0] != '0') {
      EXPECT_NE(got, "0.0.0.0") << packages[i].first;
    }
  }
  EXPECT_GT(with_epoch, 50u);
  EXPECT_GT(without_dot, 5u);
  EXPECT_EQ(read["g++"].rfind("12.2.", 0), 0u) << read["g++"];
  EXPECT_EQ(read["git"].rfind("2.39.5.", 0), 0u) << read["git"];
  EXPECT_EQ(read["clang"], "14.0.0.0");
  EXPECT_EQ(read["tzdata"], "2025.0.0.0");
  EXPECT_EQ(read["ca-certificates"], "20230311.0.0.0");
}

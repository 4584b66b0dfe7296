// Runs the built oxpm binary as a person or a script would. What it prints
// and how it exits for each command line is listed in data/cli_cases.json
// and checked by the first test; the others check what only a process shows:
// pipes, a terminal, the libraries the executable loads.
#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<char*> argv_of(std::vector<std::string>& text) {
  std::vector<char*> argv;
  for (std::string& arg : text) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  return argv;
}

// Runs `args` (the program first) with the variables `env` added to the
// test's environment (NO_COLOR removed), output captured in files of
// `scratch`, standard input a pipe that delivers `input`.
outcome run_program(std::vector<std::string> args, const fs::path& scratch,
                    const json& env = json::object(), const std::string& input = "") {
  const std::string out_path = (scratch / "stdout").string();
  const std::string err_path = (scratch / "stderr").string();
  std::vector<char*> argv = argv_of(args);
  int feed[2] = {-1, -1};
  if (::pipe(feed) != 0) {
    return {};
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(feed[0], 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
      ::_exit(126);
    }
    ::close(feed[1]);
    ::signal(SIGPIPE, SIG_DFL);
    ::unsetenv("NO_COLOR");
    for (const auto& variable : env.items()) {
      ::setenv(variable.key().c_str(), variable.value().get<std::string>().c_str(), 1);
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(feed[0]);
  for (std::size_t done = 0; child > 0 && done < input.size();) {
    const ssize_t put = ::write(feed[1], input.data() + done, input.size() - done);
    if (put <= 0) {
      break;  // the program does not read it all
    }
    done += static_cast<std::size_t>(put);
  }
  ::close(feed[1]);
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
    std::signal(SIGPIPE, SIG_IGN);  // a run that leaves its input unread
    char name[] = "/tmp/oxpm_cli_XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    scratch_ = name;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

  // The table's marks replaced: @examples@, @data@ (tests/tools/data),
  // @scratch@ (the test's scratch folder) and @version@.
  std::string substitute(std::string text) const {
    const std::pair<std::string, std::string> marks[] = {{"@examples@", OXPM_EXAMPLES},
                                                         {"@data@", OXPM_TEST_DATA},
                                                         {"@scratch@", scratch_.string()},
                                                         {"@version@", OXPM_PROJECT_VERSION}};
    for (const auto& mark : marks) {
      for (std::size_t at = 0; (at = text.find(mark.first, at)) != std::string::npos;
           at += mark.second.size()) {
        text.replace(at, mark.first.size(), mark.second);
      }
    }
    return text;
  }

  // A text of the table: a string, or an array of lines each ended by "\n".
  std::string text_of(const json& value) const {
    if (value.is_string()) {
      return substitute(value.get<std::string>());
    }
    std::string text;
    for (const json& line : value) {
      text += substitute(line.get<std::string>()) + "\n";
    }
    return text;
  }

  // Runs a row's "args" with its "env"; its "stdin" (text) or "stdin_file"
  // comes through a pipe.
  outcome run_row(const json& row) const {
    std::vector<std::string> args = {OXPM_BINARY};
    for (const json& arg : row.at("args")) {
      args.push_back(substitute(arg.get<std::string>()));
    }
    const std::string input = row.contains("stdin_file")
                                  ? slurp(substitute(row["stdin_file"].get<std::string>()))
                                  : text_of(row.value("stdin", json("")));
    return run_program(args, scratch_, row.value("env", json::object()), input);
  }

  // The checks of one stream: `key` (exact text), `key`_file (exact, from a
  // file of expected output), `key`_has (parts),
  // `key`_lines_match (a pattern every line matches).
  void check_stream(const std::string& got, const json& row, const std::string& key) const {
    SCOPED_TRACE(key);
    if (row.contains(key)) {
      EXPECT_EQ(got, text_of(row[key]));
    }
    if (row.contains(key + "_file")) {
      EXPECT_EQ(got, substitute(slurp(substitute(row[key + "_file"].get<std::string>()))));
    }
    for (const json& part : row.value(key + "_has", json::array())) {
      EXPECT_TRUE(contains(got, text_of(part))) << "lacks: " << text_of(part) << "\n" << got;
    }
    if (row.contains(key + "_lines_match")) {
      const std::regex pattern(row[key + "_lines_match"].get<std::string>());
      std::istringstream lines(got);
      std::size_t count = 0;
      for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_TRUE(std::regex_match(line, pattern)) << line;
      }
      EXPECT_GT(count, 0u);
    }
  }

  outcome oxpm(std::vector<std::string> args, const json& env = json::object()) {
    args.insert(args.begin(), OXPM_BINARY);
    return run_program(args, scratch_, env);
  }

  static std::vector<std::string> example_args(const std::string& request,
                                               const std::string& command = "resolve") {
    const std::string examples = OXPM_EXAMPLES;
    return {command,
            "--spec",
            examples + "/halden-spec.xml",
            "--platform",
            "linux-x64",
            "--installed",
            examples + "/inventory.json",
            "--request",
            examples + "/requests/" + request};
  }

  fs::path scratch_;
};

// Each row: a command line, what it must print and its exit status. Unless
// the row says otherwise, a usage error (2) prints nothing on standard output
// and a result (0 or 1) nothing on standard error.
TEST_F(OxpmCliTest, EveryCommandLineOfTheTable) {
  const json table = json::parse(slurp(std::string(OXPM_TEST_DATA) + "/cli_cases.json"));
  ASSERT_GT(table.at("runs").size(), 50u);
  for (const json& row : table["runs"]) {
    SCOPED_TRACE(row.at("name").get<std::string>());
    const outcome run = run_row(row);
    EXPECT_EQ(run.status, row.at("exit").get<int>()) << run.err;
    check_stream(run.out, row, "stdout");
    check_stream(run.err, row, "stderr");
    if (run.status == 2 && !row.contains("stdout") && !row.contains("stdout_file")) {
      EXPECT_EQ(run.out, "");
    }
    if (run.status < 2 && !row.contains("stderr") && !row.contains("stderr_has")) {
      EXPECT_EQ(run.err, "");
    }
    const json files = row.value("files", json::object());
    for (const auto& file : files.items()) {
      check_stream(slurp(substitute(file.key())), file.value(), "content");
    }
    if (row.contains("same_as")) {
      const outcome other = run_row(row["same_as"]);
      EXPECT_EQ(run.status, other.status);
      EXPECT_EQ(run.out, other.out);
    }
  }
}

// A report nobody reads is no success: with its reader gone the run ends by
// SIGPIPE, as any filter does, or with an exit status that says so; on a
// full disk it exits 2 and says so on standard error.
TEST_F(OxpmCliTest, AReportThatCannotBeWrittenIsNoSuccess) {
  std::vector<std::string> args_text = {OXPM_BINARY};
  const std::vector<std::string> all = example_args("1-pass-upgrade-agent.json");
  args_text.insert(args_text.end(), all.begin(), all.end());
  args_text.push_back("--all");
  std::vector<char*> argv = argv_of(args_text);
  const auto run_on = [&](int out_fd, int err_fd) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(out_fd, 1);
      ::dup2(err_fd, 2);
      ::signal(SIGPIPE, SIG_DFL);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    return status;
  };
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);  // nobody reads
  int status = run_on(ends[1], 2);
  ::close(ends[1]);
  EXPECT_TRUE(WIFSIGNALED(status) ? WTERMSIG(status) == SIGPIPE : WEXITSTATUS(status) != 0);

  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  const std::string err_path = (scratch_ / "full.err").string();
  const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(err_fd, 0);
  status = run_on(full, err_fd);
  ::close(full);
  ::close(err_fd);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(slurp(err_path), "oxpm: cannot write to standard output\n");
}

// On a terminal the reports are coloured, unless NO_COLOR is set; off a
// terminal (every other test) they never are.
TEST_F(OxpmCliTest, ColourOnATerminalOnly) {
  const auto on_terminal = [](std::vector<std::string> args, const char* no_color) {
    args.insert(args.begin(), OXPM_BINARY);
    std::vector<char*> argv = argv_of(args);
    int master = -1;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
      if (no_color != nullptr) {
        ::setenv("NO_COLOR", no_color, 1);
      } else {
        ::unsetenv("NO_COLOR");
      }
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    std::string out;
    char buffer[4096];
    for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0 || errno == EINTR;) {
      out.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(master);
    int status = 0;
    ::waitpid(child, &status, 0);
    return out;
  };
  const std::string spec = std::string(OXPM_EXAMPLES) + "/halden-spec.xml";
  const std::pair<std::vector<std::string>, std::vector<std::string>> runs[] = {
      {example_args("1-pass-upgrade-agent.json"),
       {"\x1b[32mok\x1b[0m", "\x1b[32mResult: the request can be carried out.\x1b[0m"}},
      {example_args("3-fail-dependency.json"), {"\x1b[31m"}},
      {{"show", "--spec", spec, "nothing-here"}, {"\x1b[31mnot found\x1b[0m"}},
      {{"lint", std::string(OXPM_TEST_DATA) + "/lint-mistakes.xml"}, {"(\x1b[31m1 error\x1b[0m)"}},
  };
  for (const auto& run : runs) {
    const std::string coloured = on_terminal(run.first, nullptr);
    for (const std::string& part : run.second) {
      EXPECT_TRUE(contains(coloured, part)) << run.first[0] << "\n" << coloured;
    }
    for (const char* no_color : {"1", ""}) {
      const std::string plain = on_terminal(run.first, no_color);
      EXPECT_FALSE(contains(plain, "\x1b")) << run.first[0] << " NO_COLOR=" << no_color;
      EXPECT_FALSE(plain.empty());
    }
  }
}

// Whether the ELF file asks for a program interpreter (the dynamic loader):
// a static executable has no PT_INTERP program header.
bool has_interpreter(const std::string& path) {
  const std::string file = slurp(path);
  Elf64_Ehdr header{};
  EXPECT_GE(file.size(), sizeof header) << path;
  std::memcpy(&header, file.data(), std::min(file.size(), sizeof header));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(header.e_ident), 5), ELFMAG "\2") << path;
  for (std::size_t i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr program{};
    const std::size_t at = header.e_phoff + i * header.e_phentsize;
    if (at + sizeof program > file.size()) {
      ADD_FAILURE() << "cannot read the program headers of " << path;
      return false;
    }
    std::memcpy(&program, file.data() + at, sizeof program);
    if (program.p_type == PT_INTERP) {
      return true;
    }
  }
  return false;
}

// With OXPM_STATIC_DEPS the executable carries pugixml, RE2 and the C++
// runtime, and where the toolchain allows, the C library too: the dynamic
// loader has none of them to load at every start, or does not run at all.
TEST_F(OxpmCliTest, LinksItsDependenciesAsConfigured) {
  if (OXPM_FULLY_STATIC) {
    EXPECT_FALSE(has_interpreter(OXPM_BINARY)) << "a static oxpm asks for the dynamic loader";
    EXPECT_EQ(oxpm({"--help"}).status, 0);
    return;
  }
  EXPECT_TRUE(has_interpreter(OXPM_BINARY));
  // The loader lists what it would load instead of running the program.
  const outcome listed = oxpm({}, json{{"LD_TRACE_LOADED_OBJECTS", "1"}});
  ASSERT_EQ(listed.status, 0) << listed.err;
  ASSERT_TRUE(contains(listed.out, "libc.so")) << listed.out;
  for (const char* library : {"libpugixml", "libre2", "libstdc++"}) {
    EXPECT_EQ(contains(listed.out, library), !OXPM_STATIC_DEPS_LINKED)
        << library << (OXPM_STATIC_DEPS_LINKED ? " linked dynamically" : " not found") << "\n"
        << listed.out;
  }
}

// Graphviz reads every graph: failed, passed, and broken relations.
TEST_F(OxpmCliTest, GraphvizAcceptsTheGraphs) {
  if (run_program({"sh", "-c", "command -v dot"}, scratch_).status != 0) {
    GTEST_SKIP() << "Graphviz (dot) is not installed";
  }
  for (const char* request : {"4-fail-compatibility.json", "1-pass-upgrade-agent.json",
                              "7-fail-uninstall-breaks-dependents.json"}) {
    const outcome graph = oxpm(example_args(request, "graph"));
    const std::string file = (scratch_ / "graph.dot").string();
    std::ofstream(file, std::ios::binary) << graph.out;
    const outcome dot =
        run_program({"dot", "-Tsvg", file, "-o", (scratch_ / "graph.svg").string()}, scratch_);
    EXPECT_EQ(dot.status, 0) << request << "\n" << dot.err;
    EXPECT_EQ(dot.err, "") << request;
  }
}

}  // namespace

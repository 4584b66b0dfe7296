// Every case file under tests/cases, one test each: replayed through the
// library with the indexed look-ups and with the plain walks, then through the
// built oxpm. Files under bad/ are not cases: each must be refused with the
// message of its .error file.
//
//   case_runner_test [gtest options] [FILE.case...]   (no FILE: every case)
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "case_file.hpp"
#include "inputs.hpp"
#include "replay.hpp"

namespace fs = std::filesystem;
using tarvik::oxpm::case_file;
using tarvik::oxpm::case_run_options;
using tarvik::oxpm::find_section;

namespace {

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct process_result {
  int status = -1;
  std::string output;  // standard output and error
};

process_result run_oxpm(const std::vector<std::string>& args) {
  std::string command = "'" OXPM_BINARY "'";
  for (const std::string& arg : args) {
    command += " '" + arg + "'";
  }
  command += " 2>&1";
  process_result result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return result;
  }
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.output.append(buffer, got);
  }
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The case's inputs given to `oxpm resolve` as files: --save-case writes
// back the same inputs and expectations.
void check_saved(const case_file& c) {
  const fs::path dir = fs::path(::testing::TempDir()) /
                       ("case_runner_" + std::to_string(static_cast<long>(::getpid())));
  fs::create_directories(dir);
  const auto put = [&](const std::string& file, const std::string& content) {
    std::ofstream(dir / file, std::ios::binary) << content;
    return (dir / file).string();
  };
  std::vector<std::string> args = {"resolve", "--save-case", (dir / "saved.case").string()};
  for (std::size_t i = 0; i < c.inputs.catalogs.size(); ++i) {
    args.insert(args.end(),
                {"--spec", put(std::to_string(i) + ".xml", c.inputs.catalogs[i].second)});
  }
  args.insert(args.end(), {"--installed", put("installed.json", find_section(c, "installed")->body),
                           "--request", put("request.json", find_section(c, "request")->body)});
  if (!c.inputs.platform.empty()) {
    args.insert(args.end(), {"--platform", c.inputs.platform});
  }
  if (c.inputs.legacy_dependency_checks) {
    args.emplace_back("--legacy-dependency-checks");
  }
  const process_result tool = run_oxpm(args);
  EXPECT_EQ(std::to_string(tool.status) + "\n", find_section(c, "expect exit")->body);
  const bool empty_request = c.inputs.asked.install.empty() && c.inputs.asked.uninstall.empty();
  if (!empty_request) {  // nothing to save: the request is refused first
    const case_file saved = tarvik::oxpm::parse_case(slurp(dir / "saved.case"), "saved.case");
    const auto ours = tarvik::oxpm::input_sections(c.inputs);
    const auto theirs = tarvik::oxpm::input_sections(saved.inputs);
    ASSERT_EQ(ours.size(), theirs.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
      EXPECT_EQ(ours[i].body, theirs[i].body) << "saved " << ours[i].kind;
    }
    for (const char* kind : {"expect json", "expect log", "expect text"}) {
      if (find_section(c, kind) != nullptr) {
        EXPECT_EQ(find_section(saved, kind)->body, find_section(c, kind)->body) << "saved " << kind;
      }
    }
  }
  fs::remove_all(dir);
}

// A valid case: read, written back unchanged, replayed, and saved again.
void check_case(const fs::path& path) {
  const std::string text = slurp(path);
  const std::string name = path.filename().string();
  case_file c;
  try {
    c = tarvik::oxpm::parse_case(text, name);
  } catch (const tarvik::oxpm::input_error& error) {
    FAIL() << error.what();
  }
  EXPECT_EQ(tarvik::oxpm::write_case(c), text)
      << name << " is not as oxpm writes it: run oxpm replay --update on it";

  for (const bool indexed : {true, false}) {
    case_run_options options;
    options.indexed = indexed;
    EXPECT_EQ(tarvik::oxpm::compare_case(c, name, options), "")
        << (indexed ? "indexed look-ups" : "plain look-ups");
  }

  const process_result tool = run_oxpm({"replay", path.string()});
  EXPECT_EQ(tool.status, 0) << tool.output;
  EXPECT_EQ(tool.output, path.string() + ": ok\n");
  check_saved(c);
}

// A file that is no case: refused with the message of its .error file, by
// the reader and by the tool (exit 2).
void check_refused(const fs::path& path) {
  fs::path error_file = path;
  error_file.replace_extension(".error");
  std::string expected = slurp(error_file);
  ASSERT_FALSE(expected.empty()) << error_file << " is missing or empty";
  if (expected.back() == '\n') {
    expected.pop_back();
  }
  const std::string name = path.filename().string();
  try {
    tarvik::oxpm::parse_case(slurp(path), name);
    ADD_FAILURE() << name << " was read as a case";
  } catch (const tarvik::oxpm::input_error& error) {
    EXPECT_EQ(error.what(), expected);
  }
  // The tool goes on after a file it cannot read, and says so by its status.
  const fs::path good = fs::path(OX_CASES_DIR) / "reports" / "1-pass-upgrade-agent.case";
  const process_result tool = run_oxpm({"replay", path.string(), good.string()});
  EXPECT_EQ(tool.status, 2) << tool.output;
  EXPECT_NE(tool.output.find("oxpm: " + path.string() + expected.substr(name.size())),
            std::string::npos)
      << tool.output;
  EXPECT_NE(tool.output.find(good.string() + ": ok\n"), std::string::npos) << tool.output;
}

class case_test : public ::testing::Test {
 public:
  explicit case_test(fs::path path) : path_(std::move(path)) {}
  void TestBody() override {
    if (path_.parent_path().filename() == "bad") {
      check_refused(path_);
    } else {
      check_case(path_);
    }
  }

 private:
  fs::path path_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::vector<fs::path> files(argv + 1, argv + argc);
  if (files.empty()) {
    for (const auto& entry : fs::recursive_directory_iterator(OX_CASES_DIR)) {
      if (entry.is_regular_file() && entry.path().extension() == ".case") {
        files.push_back(entry.path());
      }
    }
    std::sort(files.begin(), files.end());
  }
  for (const fs::path& file : files) {
    const std::string name = fs::relative(file, OX_CASES_DIR).generic_string();
    ::testing::RegisterTest("Cases", name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                            [file]() -> ::testing::Test* { return new case_test(file); });
  }
  return RUN_ALL_TESTS();
}

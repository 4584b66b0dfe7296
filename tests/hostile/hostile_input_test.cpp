// Hostile inputs through the built oxpm tool, once each: catalogs an
// attacker wrote (extreme nesting and sizes, a hundred thousand entries, odd
// version texts) and inventories anyone could have written. Every run must
// end by itself with a defined exit status (0 or 1: a result; 2 or 3: a clear
// error on standard error), never by a signal, within the time and memory
// stated below. Entity bombs, external entities, broken encodings and hostile
// patterns are answered by the reference host (tests/refhost/data/*.txt).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox_refhost/context.hpp"

namespace tarvik {
namespace ox_test {
namespace {

namespace fs = std::filesystem;

// The stated bounds of one run of the tool on any of these inputs (and 2 GiB
// of address space). A sanitizer build runs several times slower and reserves
// address space it never touches: more time, only the resident-memory check.
#ifdef OX_HOSTILE_SANITIZED
constexpr unsigned kSecondsPerRun = 120;
constexpr long kMaxResidentKiB = 3L * 1024 * 1024;
constexpr bool kLimitAddressSpace = false;
#else
constexpr unsigned kSecondsPerRun = 30;
constexpr long kMaxResidentKiB = 1L * 1024 * 1024;
constexpr bool kLimitAddressSpace = true;
#endif

const std::set<int> kResult = {0, 1};
const std::set<int> kError = {2};
const std::set<int> kAny = {0, 1, 2};

std::string read(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

struct run_result {
  int status = -1;  // 128 + n: stopped by signal n (137, 152: a time limit)
  std::string out;
  std::string err;
  long max_resident_kib = 0;  // of the largest run so far
};

std::string quoted(const std::string& arg) {  // for the shell
  std::string out = "'";
  for (const char c : arg) {
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return out + "'";
}

// Runs oxpm with `args`, standard input empty, output in files of `scratch`,
// killed after kSecondsPerRun of processor time (a busy machine does not
// stretch it), or four times that on the clock should it wait on something.
run_result run_oxpm(const std::vector<std::string>& args, const fs::path& scratch) {
  // AddressSanitizer keeps freed memory in quarantine, up to 256 MiB and in
  // practice far more for large blocks; a small quarantine keeps the resident
  // size a measure of what the tool itself holds.
  std::string command = std::string(kLimitAddressSpace ? "ulimit -v 2097152; " : "") +
                        "ulimit -t " + std::to_string(kSecondsPerRun) +
                        "; ASAN_OPTIONS=\"$ASAN_OPTIONS:quarantine_size_mb=16\" timeout -s KILL " +
                        std::to_string(4 * kSecondsPerRun) + " " + quoted(OXPM_BINARY);
  for (const std::string& arg : args) {
    command += " " + quoted(arg);
  }
  command += " </dev/null >" + quoted((scratch / "stdout").string()) + " 2>" +
             quoted((scratch / "stderr").string());
  const int status = std::system(command.c_str());
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(scratch / "stdout"),
          read(scratch / "stderr"), usage.ru_maxrss};
}

// The common promise of every run, and the statuses this input may give.
void expect_defined(const run_result& r, const std::set<int>& allowed, const std::string& what) {
  const std::string shown = what + ": exit status " + std::to_string(r.status) + ", " +
                            std::to_string(r.max_resident_kib) +
                            " KiB resident; stderr: " + r.err.substr(0, 600);
  EXPECT_EQ(allowed.count(r.status), 1u) << shown;
  EXPECT_LE(r.max_resident_kib, kMaxResidentKiB) << shown;
  if (r.status >= 2) {
    EXPECT_NE(r.err.find("oxpm: "), std::string::npos) << "no message: " << shown;
  }
}

// A valid catalog with every relation; the documents below are made from it.
std::string small_catalog(const std::string& inside_softwares = "",
                          const std::string& prolog = "") {
  return prolog +
         "<specs version=\"1\"><softwares>"
         "<software sref=\"a\" name=\"A\" platforms=\"p\" version=\"1.0:1.9\" "
         "softwareids=\"a|A_[0-9]+\"><depends><d sref=\"b\" version=\"2.0\"/></depends>"
         "<obsoletes><o version=\"1.0:1.1\"/></obsoletes></software>"
         "<software sref=\"b\" name=\"B\" platforms=\"p\" version=\"2.0\" softwareids=\"b\">"
         "<compatibles><c sref=\"a\" version=\"1.2:\"/></compatibles></software>" +
         inside_softwares + "</softwares></specs>\n";
}

std::string software_element(const std::string& sref, const std::string& version,
                             const std::string& ids, const std::string& children = "") {
  return "<software sref=\"" + sref + "\" name=\"n\" platforms=\"p\" version=\"" + version +
         "\" softwareids=\"" + ids + "\">" + children + "</software>";
}

std::string repeated(const std::string& text, std::size_t times) {
  std::string out;
  while (times-- > 0) {
    out += text;
  }
  return out;
}

class HostileInputTest : public ::testing::Test {
 protected:
  // Every test runs in a process of its own.
  const fs::path scratch_ = fs::path(::testing::TempDir()) / ("oxpm-" + std::to_string(::getpid()));
  void SetUp() override { fs::create_directories(scratch_); }
  void TearDown() override { fs::remove_all(scratch_); }

  fs::path file(const std::string& name, const std::string& content) {
    EXPECT_TRUE(std::ofstream(scratch_ / name, std::ios::binary) << content) << name;
    return scratch_ / name;
  }
  // resolve on the platform p, by default of a request for a and b; and lint.
  run_result resolve(const fs::path& spec, std::vector<std::string> extra = {
                                               "--install", "b=2.0", "--install", "a=1.5"}) {
    extra.insert(extra.begin(), {"resolve", "--spec", spec.string(), "--platform", "p"});
    return run_oxpm(extra, scratch_);
  }
  run_result lint(const fs::path& spec) { return run_oxpm({"lint", spec.string()}, scratch_); }
  run_result expect_spec(const std::string& name, const std::string& content,
                         const std::set<int>& resolve_allowed, const std::set<int>& lint_allowed) {
    const fs::path spec = file(name, content);
    expect_defined(lint(spec), lint_allowed, name + " (lint)");
    const run_result resolved = resolve(spec);
    expect_defined(resolved, resolve_allowed, name + " (resolve)");
    return resolved;
  }
};

TEST_F(HostileInputTest, ExtremeNestingAndSizesAreRefusedOrRead) {
  const run_result valid = expect_spec("valid.xml", small_catalog(), {0}, {0});
  EXPECT_NE(valid.out.find("a  1.5.0.0"), std::string::npos) << valid.out;
  const std::string deep = repeated("<e>", 1'000'000) + repeated("</e>", 1'000'000);
  expect_spec("million-deep.xml", small_catalog("<x>" + deep + "</x>"), kError, kAny);
  expect_spec("million-deep-unclosed.xml", deep.substr(0, 3'000'000), kError, kAny);
  // Past the host's buffer limit, and past the tool's input limit.
  const std::string huge_value(100u * 1024 * 1024, 'v');
  expect_spec("100mb-attribute.xml", small_catalog(software_element("big", huge_value, "big")),
              kError, kError);
  // Within the limits: read whole, the pattern refused for its length.
  const std::string large_value(12u * 1024 * 1024, 'v');
  expect_spec("12mb-attributes.xml",
              small_catalog(software_element(large_value, "1.0", large_value)), kResult, kAny);
  expect_spec("million-siblings.xml", small_catalog(repeated("<x/>", 1'000'000)), kResult, kAny);
}

// Lint looks for shadowed entries among the earlier entries answering to the
// same id through indexes; resolve finds the last entry among them.
TEST_F(HostileInputTest, AHundredThousandSoftwareEntries) {
  std::string entries;
  for (int i = 0; i < 100'000; ++i) {
    entries += software_element("s" + std::to_string(i), "1.0", "s" + std::to_string(i));
  }
  const fs::path spec = file("100k-software.xml", small_catalog(entries));
  expect_defined(resolve(spec, {"--install", "s99999=1.0", "--install", "a=1.5"}), kResult,
                 "100k entries");
  expect_defined(lint(spec), kAny, "100k entries (lint)");
}

TEST_F(HostileInputTest, VersionTextsOfEveryOddShape) {
  const std::string alternatives = repeated("|", 100'000);
  const std::string digits25(25, '9');
  std::vector<std::string> texts = {"",      ".",       "..",   "1..2", "-1",    "-1.-1.-1.-1",
                                    "+1.+2", " 1. 2",   ":",    "::",   "1:2:3", "0",
                                    "0:0",   "2.0:1.0", "x.y.z"};
  texts.insert(texts.end(), {digits25, repeated(digits25 + ".", 3) + digits25,
                             "1.0:" + digits25 + ".0", alternatives, "1.0" + alternatives + "2.0"});
  std::string entries;
  std::string request = "{\"install\": [{\"id\": \"a\", \"version\": \"1.5\"}";
  std::vector<std::string> every_entry;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::string sref = "v" + std::to_string(i);
    const std::string v = "version=\"" + texts[i] + "\"";
    entries +=
        software_element(sref, texts[i], sref,
                         "<obsoletes><o " + v + "/></obsoletes><depends><d sref=\"a\" " + v +
                             "/></depends><compatibles><c sref=\"b\" " + v + "/></compatibles>");
    request += ", {\"id\": \"" + sref + "\", \"version\": \"" + texts[i] + "\"}";
    every_entry.insert(every_entry.end(), {"--install", sref + "=1.0"});
  }
  const fs::path spec = file("versions.xml", small_catalog(entries));
  // A request is held to the version form; the catalog is read as the
  // library reads it.
  const fs::path asked = file("versions-request.json", request + "]}");
  expect_defined(resolve(spec, {"--request", asked.string()}), kError, "odd versions");
  expect_defined(resolve(spec, every_entry), kResult, "odd catalog versions");
  every_entry.insert(every_entry.end(), {"--format", "json"});
  expect_defined(resolve(spec, every_entry), kResult, "odd catalog versions (json)");
  expect_defined(lint(spec), kAny, "odd versions (lint)");
  for (const std::string& text : {std::string("1..2"), digits25, std::string(30000, '|')}) {
    expect_defined(resolve(spec, {"--install", "v1=" + text, "--uninstall", "a=" + text}), kAny,
                   "--install v1=" + text.substr(0, 30));
  }
}

// What the store's parsers refuse is listed with them; these are the sizes.
TEST_F(HostileInputTest, HostileInventories) {
  using namespace std::string_literals;
  const fs::path spec = file("spec.xml", small_catalog());
  const std::string megabyte_id(1024 * 1024, 'i');
  const std::string status = "Package: b\nStatus: install ok installed\nVersion: 2.0\n\nPackage: ";
  const auto run = [&](const char* option, const std::string& content,
                       const std::set<int>& allowed) {
    expect_defined(
        resolve(spec, {option, file("inventory", content).string(), "--install", "a=1.5"}), allowed,
        option + (" " + content.substr(0, 40)));
  };
  run("--installed", "[{\"id\": \"" + megabyte_id + "\", \"version\": \"1.0\"}]", kResult);
  run("--installed", repeated("[", 100000) + repeated("]", 100000), kError);
  run("--dpkg-status", status + megabyte_id + "\nStatus: install ok installed\n", kResult);
  run("--dpkg-status",
      status + "a\nStatus: install ok installed\nDescription: x\n" +
          repeated(" continued\n", 200'000),
      kResult);
  run("--dpkg-status", "\xFF\xFE\x00\x01"s, kError);
}

// The library itself, without the tool: every prefix of a valid document,
// cut inside every kind of markup, either imports or fails with the host's
// parse code, and never leaves half an import behind.
TEST(HostileImportTest, EveryPrefixOfAValidDocument) {
  const std::string valid =
      small_catalog(software_element("c", "1.0", "c&amp;&#x41;", "<![CDATA[x]]><?pi y?><!-- z -->"),
                    "<?xml version=\"1.0\"?><!-- lead --><!DOCTYPE specs [<!ENTITY e \"]>\">]>");
  ox_refhost::context context;
  for (std::size_t size = 0; size <= valid.size(); ++size) {
    ox::package_spec_manager manager(context.get());
    const std::vector<char> buffer(valid.begin(), valid.begin() + static_cast<long>(size));
    try {
      manager.import(buffer.data(), buffer.size());
      EXPECT_GE(size, valid.size() - 1) << "a cut document imported";
      EXPECT_EQ(manager.get_specs().size(), 3u);
    } catch (const ox::pm_exception& error) {
      EXPECT_EQ(error.code(), OX_ERROR_PARSE) << "cut after " << size;
      EXPECT_TRUE(manager.get_specs().empty());
    }
  }
}

}  // namespace
}  // namespace ox_test
}  // namespace tarvik

// Hostile inputs through the built oxpm tool: catalogs an attacker
// wrote (entity bombs, external entities, extreme nesting and sizes, broken
// encodings, cut documents, hostile patterns, odd version texts) and
// inventories anyone could have written. Every run must end by itself with a
// defined exit status (0 or 1: a result; 2 or 3: a clear error on standard
// error), never by a signal, within the time and memory stated below. The
// inputs are generated here, in a scratch folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox_refhost/context.hpp"
#include "tarvik/ox_refhost/limits.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OX_HOSTILE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OX_HOSTILE_SANITIZED 1
#endif
#endif

namespace tarvik {
namespace ox_test {
namespace {

namespace fs = std::filesystem;

// The stated bounds of one run of the tool on any of these inputs. A
// sanitizer build runs several times slower and reserves address space it
// never touches, so it gets more time and only the resident-memory check.
#ifdef OX_HOSTILE_SANITIZED
constexpr unsigned kSecondsPerRun = 120;
constexpr long kMaxResidentKiB = 3L * 1024 * 1024;
constexpr bool kLimitAddressSpace = false;
#else
constexpr unsigned kSecondsPerRun = 30;
constexpr long kMaxResidentKiB = 1L * 1024 * 1024;
constexpr bool kLimitAddressSpace = true;
#endif
constexpr rlim_t kAddressSpaceBytes = rlim_t{2} * 1024 * 1024 * 1024;
constexpr std::size_t kKeptOutput = 64 * 1024;

struct run_result {
  bool signaled = false;
  int signal = 0;
  int status = -1;
  std::string out;  // the first kKeptOutput bytes
  std::string err;
  long max_resident_kib = 0;
};

std::string head_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(kKeptOutput, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

// Runs oxpm with `args`, standard input empty, output in files of `scratch`,
// killed by SIGALRM after kSecondsPerRun.
run_result run_oxpm(const std::vector<std::string>& args, const fs::path& scratch) {
  const fs::path out_path = scratch / "stdout";
  const fs::path err_path = scratch / "stderr";
  std::vector<std::string> argv_text = {OXPM_BINARY};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) {
    argv.push_back(&arg[0]);
  }
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) {
      ::_exit(126);
    }
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (kLimitAddressSpace) {
      const rlimit limit{kAddressSpaceBytes, kAddressSpaceBytes};
      ::setrlimit(RLIMIT_AS, &limit);
    } else {
      // AddressSanitizer keeps freed memory in quarantine, up to 256 MiB and
      // in practice far more for large blocks; a small quarantine keeps the
      // resident size a measure of what the tool itself holds.
      const char* options = std::getenv("ASAN_OPTIONS");
      const std::string with_quarantine =
          std::string(options != nullptr ? options : "") + ":quarantine_size_mb=16";
      ::setenv("ASAN_OPTIONS", with_quarantine.c_str(), 1);
    }
    ::alarm(kSecondsPerRun);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  run_result result;
  if (child < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return result;
  }
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.signaled = WIFSIGNALED(status);
  result.signal = result.signaled ? WTERMSIG(status) : 0;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.max_resident_kib = usage.ru_maxrss;
  result.out = head_of(out_path);
  result.err = head_of(err_path);
  return result;
}

void write_file(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string describe(const run_result& r) {
  std::ostringstream text;
  if (r.signaled) {
    text << "killed by signal " << r.signal << (r.signal == SIGALRM ? " (time limit)" : "");
  } else {
    text << "exit status " << r.status;
  }
  text << ", " << r.max_resident_kib << " KiB resident; stderr: " << r.err.substr(0, 600);
  return text.str();
}

// The common promise of every run, and the statuses this input may give.
void expect_defined(const run_result& r, const std::set<int>& allowed, const std::string& what) {
  EXPECT_FALSE(r.signaled) << what << ": " << describe(r);
  EXPECT_TRUE(allowed.count(r.status) == 1) << what << ": " << describe(r);
  EXPECT_LE(r.max_resident_kib, kMaxResidentKiB) << what << ": " << describe(r);
  if (r.status >= 2) {
    EXPECT_NE(r.err.find("oxpm: "), std::string::npos) << what << ": no message: " << describe(r);
  }
}

const std::set<int> kResult = {0, 1};
const std::set<int> kError = {2};
const std::set<int> kAny = {0, 1, 2};

// A valid catalog with every relation; the documents below are made
// from it.
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

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = fs::path(::testing::TempDir()) /
               (std::string("oxpm-hostile-") + info->name() + "-" + std::to_string(::getpid()));
    fs::remove_all(scratch_);
    fs::create_directories(scratch_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

  fs::path file(const std::string& name, const std::string& content) {
    const fs::path path = scratch_ / name;
    write_file(path, content);
    return path;
  }

  // resolve of a request for a and b on the platform p, and lint.
  run_result resolve(const fs::path& spec, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"resolve", "--spec", spec.string(), "--platform", "p"};
    if (extra.empty()) {
      extra = {"--install", "b=2.0", "--install", "a=1.5"};
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return run_oxpm(args, scratch_);
  }
  run_result lint(const fs::path& spec) { return run_oxpm({"lint", spec.string()}, scratch_); }

  void expect_spec(const std::string& name, const std::string& content,
                   const std::set<int>& resolve_allowed, const std::set<int>& lint_allowed) {
    const fs::path spec = file(name, content);
    expect_defined(resolve(spec), resolve_allowed, name + " (resolve)");
    expect_defined(lint(spec), lint_allowed, name + " (lint)");
  }

  fs::path scratch_;
};

TEST_F(HostileInputTest, TheValidDocumentResolvesAndLints) {
  const fs::path spec = file("valid.xml", small_catalog());
  const run_result resolved = resolve(spec);
  expect_defined(resolved, {0}, "valid");
  EXPECT_NE(resolved.out.find("a  1.5.0.0"), std::string::npos) << resolved.out;
  expect_defined(lint(spec), {0}, "valid (lint)");
}

TEST_F(HostileInputTest, DoctypesAreNeverExpandedNorFollowed) {
  std::string laughs = "<!DOCTYPE specs [<!ENTITY lol0 \"lol\">";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) {
      laughs += "&lol" + std::to_string(i - 1) + ";";
    }
    laughs += "\">";
  }
  laughs += "]>\n";
  const std::string bomb = small_catalog(software_element("&lol9;", "&lol9;", "&lol9;"), laughs);
  expect_spec("billion-laughs.xml", bomb, kResult, kAny);

  const std::string external =
      "<!DOCTYPE specs [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">"
      "<!ENTITY % remote SYSTEM \"file:///nonexistent/remote.dtd\"> %remote;]>\n";
  const fs::path spec = file(
      "external.xml", small_catalog(software_element("x", "1.0", "x", "<i>&xxe;</i>"), external));
  for (const run_result& r :
       {resolve(spec, {"--install", "&xxe;=1.0"}),
        run_oxpm({"show", "--spec", spec.string(), "--platform", "p", "x"}, scratch_),
        lint(spec)}) {
    expect_defined(r, kAny, "external entity");
    EXPECT_EQ(r.out.find("root:"), std::string::npos) << "a file was read into the output";
    EXPECT_EQ(r.err.find("root:"), std::string::npos) << "a file was read into the output";
  }
}

TEST_F(HostileInputTest, ExtremeNestingAndSizesAreRefusedOrRead) {
  std::string deep;
  deep.reserve(7'000'000);
  for (int i = 0; i < 1'000'000; ++i) {
    deep += "<e>";
  }
  for (int i = 0; i < 1'000'000; ++i) {
    deep += "</e>";
  }
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

  std::string siblings;
  siblings.reserve(5'000'000);
  for (int i = 0; i < 1'000'000; ++i) {
    siblings += "<x/>";
  }
  expect_spec("million-siblings.xml", small_catalog(siblings), kResult, kAny);
}

std::string many_software_entries(int count) {
  std::string entries;
  for (int i = 0; i < count; ++i) {
    entries += software_element("s" + std::to_string(i), "1.0", "s" + std::to_string(i));
  }
  return small_catalog(entries);
}

TEST_F(HostileInputTest, AHundredThousandSoftwareEntriesResolve) {
  const fs::path spec = file("100k-software.xml", many_software_entries(100'000));
  expect_defined(resolve(spec, {"--install", "s99999=1.0", "--install", "a=1.5"}), kResult,
                 "100k entries");
}

// Lint looks for shadowed entries among the earlier entries answering to the
// same id, through indexes: a hundred thousand entries stay within the bound.
TEST_F(HostileInputTest, AHundredThousandSoftwareEntriesLint) {
  const fs::path spec = file("100k-software.xml", many_software_entries(100'000));
  expect_defined(lint(spec), kAny, "100k entries (lint)");
}

TEST_F(HostileInputTest, BrokenDocumentsAreClearErrors) {
  using namespace std::string_literals;
  const std::string valid = small_catalog();
  std::string utf16 = "\xFF\xFE";
  for (const char c : valid) {
    utf16 += c;
    utf16 += '\0';
  }
  const struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"nul-in-attribute.xml", small_catalog(software_element("x\0y"s, "1.0", "x"))},
      {"nul-at-end.xml", valid + "\0"s},
      {"utf16-bom.xml", utf16},
      {"invalid-utf8.xml", small_catalog(software_element("x\xC3(", "1.0", "x"))},
      {"surrogate-reference.xml", small_catalog(software_element("&#xD800;", "1.0", "x"))},
      {"beyond-unicode-reference.xml", small_catalog(software_element("&#x110000;", "1.0", "x"))},
      {"duplicate-attributes.xml",
       small_catalog("<software sref=\"a\" sref=\"b\" name=\"n\" platforms=\"p\" "
                     "version=\"1\" softwareids=\"a\"/>")},
      {"several-roots.xml", valid + valid},
      {"empty.xml", ""},
      {"text-only.xml", "not xml at all"},
  };
  for (const auto& c : cases) {
    expect_spec(c.name, c.content, kError, kAny);
  }
}

TEST_F(HostileInputTest, ADocumentCutAtEveryByte) {
  // Small, so that every cut is a run of its own, yet with every kind of
  // markup the parser can be inside of when the text stops.
  const std::string valid =
      "<?xml version=\"1.0\"?><!-- c --><specs version=\"1\"><softwares>"
      "<software sref=\"a\" name=\"A&amp;\" platforms=\"p\" version=\"1.0:1.9\" "
      "softwareids=\"a\"><depends><d sref=\"a\" version=\"1.0\"/></depends></software>"
      "</softwares></specs>\n";
  const fs::path spec = scratch_ / "cut.xml";
  for (std::size_t size = 0; size < valid.size(); ++size) {
    write_file(spec, valid.substr(0, size));
    const std::string what = "cut after " + std::to_string(size) + " bytes";
    // Only the last byte, a newline, may go: the document is whole before it.
    expect_defined(resolve(spec), size + 1 == valid.size() ? kResult : kError, what);
    expect_defined(lint(spec), kAny, what + " (lint)");
    if (::testing::Test::HasFailure()) {
      return;
    }
  }
}

TEST_F(HostileInputTest, HostilePatternsAgainstLongIds) {
  const std::string long_a(1000, 'a');
  const std::string patterns[] = {
      "(a|aa)*b",
      "(a*)*b",
      "((a+)+)+b",
      "(.{0,10}){40}x",
      "(?:[^x]*[^y]*){50}z",
      "[ab]*a[ab]{20}",
      "(.*a){20}b",
      "\\pL{1000}",
      "((a{10}){10}){10}",
      "a{99999999999999999999}",
      "(",
      std::string(5000, 'a'),
      ".*" + std::string(4000, 'a') + "b",
  };
  std::string entries;
  for (std::size_t i = 0; i < sizeof(patterns) / sizeof(patterns[0]); ++i) {
    entries += software_element("p" + std::to_string(i), "1.0", patterns[i],
                                "<depends><d sref=\"" + long_a + "\" version=\"1.0\"/></depends>");
  }
  // One entry that every long id reaches last.
  entries += software_element("target", "0:9", "a+");
  const fs::path spec = file("patterns.xml", small_catalog(entries));
  for (const std::string& id : {long_a, long_a + "b", std::string(100000, 'a')}) {
    expect_defined(resolve(spec, {"--install", id + "=1.0", "--install", "p0=1.0"}), kResult,
                   "hostile patterns, id of " + std::to_string(id.size()) + " bytes");
  }
  expect_defined(lint(spec), kAny, "hostile patterns (lint)");
}

TEST_F(HostileInputTest, VersionTextsOfEveryOddShape) {
  std::string alternatives;
  for (int i = 0; i < 100'000; ++i) {
    alternatives += "|";
  }
  const std::string digits25(25, '9');
  const std::string texts[] = {"",
                               ".",
                               "..",
                               "1..2",
                               "-1",
                               "-1.-1.-1.-1",
                               "+1.+2",
                               " 1. 2",
                               digits25,
                               digits25 + "." + digits25 + "." + digits25 + "." + digits25,
                               "1.0:" + digits25 + ".0",
                               ":",
                               "::",
                               "1:2:3",
                               "0",
                               "0:0",
                               "2.0:1.0",
                               "x.y.z",
                               alternatives,
                               "1.0" + alternatives + "2.0"};
  std::string entries;
  std::string request = "{\"install\": [";
  for (std::size_t i = 0; i < sizeof(texts) / sizeof(texts[0]); ++i) {
    const std::string sref = "v" + std::to_string(i);
    entries += software_element(sref, texts[i], sref,
                                "<obsoletes><o version=\"" + texts[i] +
                                    "\"/></obsoletes><depends><d sref=\"a\" version=\"" + texts[i] +
                                    "\"/></depends><compatibles><c sref=\"b\" version=\"" +
                                    texts[i] + "\"/></compatibles>");
    request += std::string(i == 0 ? "" : ", ") + "{\"id\": \"" + sref + "\", \"version\": \"" +
               texts[i] + "\"}";
  }
  request += "]}";
  const fs::path spec = file("versions.xml", small_catalog(entries));
  const fs::path asked = file("versions-request.json", request);
  // A request is held to the version form; the catalog is read as the
  // library reads it.
  expect_defined(resolve(spec, {"--request", asked.string()}), kError, "odd versions");
  std::vector<std::string> every_entry;
  for (std::size_t i = 0; i < sizeof(texts) / sizeof(texts[0]); ++i) {
    every_entry.push_back("--install");
    every_entry.push_back("v" + std::to_string(i) + "=1.0");
  }
  expect_defined(resolve(spec, every_entry), kResult, "odd catalog versions");
  every_entry.push_back("--format");
  every_entry.push_back("json");
  expect_defined(resolve(spec, every_entry), kResult, "odd catalog versions (json)");
  expect_defined(lint(spec), kAny, "odd versions (lint)");
  for (const std::string& text : {std::string(""), std::string("."), std::string("1..2"),
                                  std::string("-1"), digits25, std::string(30000, '|')}) {
    expect_defined(resolve(spec, {"--install", "v1=" + text, "--uninstall", "a=" + text}),
                   {0, 1, 2}, "--install v1=" + text.substr(0, 30));
  }
}

TEST_F(HostileInputTest, HostileInventories) {
  const fs::path spec = file("spec.xml", small_catalog());
  const std::string megabyte_id(1024 * 1024, 'i');
  const struct {
    const char* name;
    std::string content;
    std::set<int> allowed;
  } cases[] = {
      {"empty-id.json", R"([{"id": "", "version": "1.0"}])", kError},
      {"duplicate-ids.json",
       R"([{"id": "b", "version": "2.0"}, {"id": "b", "version": "2.0"}, {"id": "b"}])", kResult},
      {"megabyte-id.json", "[{\"id\": \"" + megabyte_id + "\", \"version\": \"1.0\"}]", kResult},
      {"control-id.json", R"([{"id": "a\u0001b", "version": "1.0"}])", kError},
      {"nul-id.json", R"([{"id": "a\u0000b", "version": "1.0"}])", kError},
      {"newline-version.json", R"([{"id": "a", "version": "1.0\n2.0"}])", kError},
      {"odd-versions.json",
       R"([{"id": "A_1", "version": ""}, {"id": "A_2", "version": "-1"}, {"id": "A_3", "version": "99999999999999999999999.1"}, {"id": "b", "version": "..."}])",
       kResult},
      {"deep.json", std::string(100000, '[') + std::string(100000, ']'), kError},
      {"not-json.json", "\xFF\xFE", kError},
      {"empty.json", "", kError},
  };
  for (const auto& c : cases) {
    const fs::path inventory = file(c.name, c.content);
    expect_defined(resolve(spec, {"--installed", inventory.string(), "--install", "a=1.5"}),
                   c.allowed, c.name);
  }

  using namespace std::string_literals;
  const std::string installed = "Package: b\nStatus: install ok installed\nVersion: 2.0\n\n";
  std::string long_field = "Package: a\nStatus: install ok installed\nDescription: x\n";
  for (int i = 0; i < 200'000; ++i) {
    long_field += " continued\n";
  }
  const struct {
    const char* name;
    std::string content;
    std::set<int> allowed;
  } statuses[] = {
      {"status-nul", installed + "Package: a\0b\nStatus: install ok installed\n"s, kError},
      {"status-control", installed + "Package: a\x01\nStatus: install ok installed\n", kError},
      {"status-no-package", installed + "Status: install ok installed\nVersion: 1\n", kError},
      {"status-megabyte-name",
       installed + "Package: " + megabyte_id + "\nStatus: install ok installed\n", kResult},
      {"status-long-field", installed + long_field, kResult},
      {"status-binary", "\xFF\xFE\x00\x01"s, kError},
  };
  for (const auto& c : statuses) {
    const fs::path status = file(c.name, c.content);
    expect_defined(resolve(spec, {"--dpkg-status", status.string(), "--install", "a=1.5"}),
                   c.allowed, c.name);
  }
}

// The library itself, without the tool: every prefix of a valid document
// either imports or fails with the host's parse code, and never leaves half
// an import behind.
TEST(HostileImportTest, EveryPrefixOfAValidDocument) {
  const std::string valid =
      small_catalog(software_element("c", "1.0", "c"), "<?xml version=\"1.0\"?><!-- lead -->");
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

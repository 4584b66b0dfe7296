#include "tarvik/ox_refhost/store.hpp"
#include "tarvik/ox_refhost/testing.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "support/temp_file.hpp"
#include "tarvik/ox/host/ox_registry_store.h"

namespace tarvik {
namespace ox_refhost {
namespace {

using apps = std::vector<installed_application>;

using ox_test::temp_file;

// One scan of a fresh store over the source in effect: the code, and the
// applications walked (empty after a failure).
struct scan_result {
  int code = OX_OK;
  apps walked;
};

apps walk(ox_registry_store_s* store) {
  apps out;
  for (const ox_application_s* app = ox_registry_store_get_next_application(store, nullptr);
       app != nullptr; app = ox_registry_store_get_next_application(store, app)) {
    const char* version = ox_application_get_version(app);
    out.push_back(installed_application{
        ox_application_get_software_id(app),
        version != nullptr ? std::optional<std::string>(version) : std::nullopt});
  }
  return out;
}

scan_result scan_once() {
  ox_registry_store_s* store = nullptr;
  EXPECT_EQ(ox_registry_store_create(&store), OX_OK);
  scan_result result;
  result.code = ox_registry_store_scan(store);
  if (result.code == OX_OK) {
    result.walked = walk(store);
  }
  ox_registry_store_release(store);
  return result;
}

scan_result scan_source(std::shared_ptr<store_source> source) {
  scoped_store_source scope(std::move(source));
  return scan_once();
}

// ---------------------------------------------------------------------------
// The C interface over the in-memory source.

TEST(RefhostStoreTest, WithoutASourceTheStoreIsEmpty) {
  set_store_source(nullptr);
  const scan_result result = scan_once();
  EXPECT_EQ(result.code, OX_OK);
  EXPECT_TRUE(result.walked.empty());
  EXPECT_EQ(last_store_error(), "");
}

TEST(RefhostStoreTest, WalksTheSourceInItsOrderWithAndWithoutVersions) {
  const apps list = {{"B", std::string("2.0")},
                     {"A", std::nullopt},
                     {"B", std::string("")},
                     {"C", std::string("1.0.0.7")}};
  const scan_result result = scan_source(make_memory_source(list));
  EXPECT_EQ(result.code, OX_OK);
  EXPECT_EQ(result.walked, list);
}

TEST(RefhostStoreTest, NullHandlesAreAnsweredWithoutTouchingAnything) {
  EXPECT_EQ(ox_registry_store_create(nullptr), OX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(ox_registry_store_scan(nullptr), OX_ERROR_INVALID_ARGUMENT);
  EXPECT_NE(last_store_error(), "");
  EXPECT_EQ(ox_registry_store_get_next_application(nullptr, nullptr), nullptr);
  EXPECT_EQ(ox_registry_store_release(nullptr), OX_OK);
  EXPECT_EQ(ox_application_get_software_id(nullptr), nullptr);
  EXPECT_EQ(ox_application_get_version(nullptr), nullptr);
}

TEST(RefhostStoreTest, AStoreBeforeItsFirstScanHasNoApplications) {
  scoped_store_source scope(make_memory_source({{"A", std::string("1.0")}}));
  ox_registry_store_s* store = nullptr;
  ASSERT_EQ(ox_registry_store_create(&store), OX_OK);
  EXPECT_EQ(ox_registry_store_get_next_application(store, nullptr), nullptr);
  ox_registry_store_release(store);
}

TEST(RefhostStoreTest, AStoreKeepsTheSourceItWasCreatedWith) {
  scoped_store_source scope(make_memory_source({{"FIRST", std::string("1.0")}}));
  ox_registry_store_s* store = nullptr;
  ASSERT_EQ(ox_registry_store_create(&store), OX_OK);
  {
    scoped_store_source later(make_memory_source({{"SECOND", std::string("1.0")}}));
    ASSERT_EQ(ox_registry_store_scan(store), OX_OK);
  }
  const apps expected = {{"FIRST", std::string("1.0")}};
  EXPECT_EQ(walk(store), expected);
  ox_registry_store_release(store);
}

TEST(RefhostStoreTest, HandlesOutliveLaterScansAndOldWalksGoOnOverTheirSnapshot) {
  auto source = make_memory_source({{"A", std::string("1")}, {"B", std::string("2")}});
  scoped_store_source scope(source);
  ox_registry_store_s* store = nullptr;
  ASSERT_EQ(ox_registry_store_create(&store), OX_OK);
  ASSERT_EQ(ox_registry_store_scan(store), OX_OK);
  const ox_application_s* first = ox_registry_store_get_next_application(store, nullptr);
  ASSERT_NE(first, nullptr);

  // Changing the source affects neither the running walk nor its texts.
  source->set_applications({{"X", std::string("9")}});
  ASSERT_EQ(ox_registry_store_scan(store), OX_OK);
  EXPECT_STREQ(ox_application_get_software_id(first), "A");
  const ox_application_s* second = ox_registry_store_get_next_application(store, first);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(ox_application_get_software_id(second), "B");
  EXPECT_EQ(ox_registry_store_get_next_application(store, second), nullptr);

  // A new walk starts on the newest snapshot.
  const apps expected = {{"X", std::string("9")}};
  EXPECT_EQ(walk(store), expected);
  ox_registry_store_release(store);
}

TEST(RefhostStoreTest, AHandleOfAnotherStoreIsNotFollowed) {
  scoped_store_source scope(make_memory_source({{"A", std::string("1")}, {"B", std::string("2")}}));
  ox_registry_store_s* one = nullptr;
  ox_registry_store_s* other = nullptr;
  ASSERT_EQ(ox_registry_store_create(&one), OX_OK);
  ASSERT_EQ(ox_registry_store_create(&other), OX_OK);
  ASSERT_EQ(ox_registry_store_scan(one), OX_OK);
  ASSERT_EQ(ox_registry_store_scan(other), OX_OK);
  const ox_application_s* from_one = ox_registry_store_get_next_application(one, nullptr);
  EXPECT_EQ(ox_registry_store_get_next_application(other, from_one), nullptr);
  EXPECT_NE(ox_registry_store_get_next_application(one, from_one), nullptr);
  ox_registry_store_release(one);
  ox_registry_store_release(other);
}

TEST(RefhostStoreTest, AFailedScanChangesNothingAndItsMessageStaysOnThisThread) {
  auto source = make_memory_source({{"A", std::string("1")}});
  scoped_store_source scope(source);
  ox_registry_store_s* store = nullptr;
  ASSERT_EQ(ox_registry_store_create(&store), OX_OK);
  ASSERT_EQ(ox_registry_store_scan(store), OX_OK);

  source->set_applications({{"B", std::string("2")}});
  fail_next_scan(*source, static_cast<ox_error_e>(4711), "registry locked");
  EXPECT_EQ(ox_registry_store_scan(store), 4711);
  EXPECT_EQ(last_store_error(), "registry locked");
  const apps before = {{"A", std::string("1")}};
  EXPECT_EQ(walk(store), before);

  std::string seen_elsewhere = "unset";
  std::thread([&] { seen_elsewhere = last_store_error(); }).join();
  EXPECT_EQ(seen_elsewhere, "");

  // The failure was for one scan only; success clears the message.
  EXPECT_EQ(ox_registry_store_scan(store), OX_OK);
  EXPECT_EQ(last_store_error(), "");
  const apps after = {{"B", std::string("2")}};
  EXPECT_EQ(walk(store), after);
  ox_registry_store_release(store);

  fail_next_scan(*source, OX_ERROR_IO);
  EXPECT_EQ(scan_once().code, OX_ERROR_IO);
  EXPECT_NE(last_store_error().find("code 100"), std::string::npos) << last_store_error();
}

TEST(RefhostStoreTest, AnIdOrVersionWithANulByteIsRefusedByTheStore) {
  for (const installed_application& bad :
       {installed_application{std::string("A\0B", 3), std::string("1.0")},
        installed_application{"A", std::string("1.0\0", 4)}}) {
    const scan_result result = scan_source(make_memory_source({{"OK", std::nullopt}, bad}));
    EXPECT_EQ(result.code, OX_ERROR_INVALID_ARGUMENT);
    EXPECT_NE(last_store_error().find("entry 2"), std::string::npos) << last_store_error();
  }
}

TEST(RefhostStoreTest, ScopedSourcesOverrideTheGlobalOnePerThreadAndNest) {
  set_store_source(make_memory_source({{"GLOBAL", std::string("1")}}));
  EXPECT_EQ(scan_once().walked.at(0).id, "GLOBAL");
  {
    scoped_store_source outer(make_memory_source({{"OUTER", std::string("1")}}));
    EXPECT_EQ(scan_once().walked.at(0).id, "OUTER");
    {
      // A null override is an empty store, not a fallback to the global one.
      scoped_store_source inner(nullptr);
      EXPECT_TRUE(scan_once().walked.empty());
    }
    EXPECT_EQ(scan_once().walked.at(0).id, "OUTER");

    std::string other_thread;
    std::thread([&] { other_thread = scan_once().walked.at(0).id; }).join();
    EXPECT_EQ(other_thread, "GLOBAL");
  }
  EXPECT_EQ(scan_once().walked.at(0).id, "GLOBAL");
  set_store_source(nullptr);
  EXPECT_TRUE(scan_once().walked.empty());
}

TEST(RefhostStoreTest, ThreadsScanTheirOwnSourcesConcurrently) {
  constexpr int kThreads = 4;
  std::vector<std::string> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &seen] {
      const std::string id = "T" + std::to_string(t);
      scoped_store_source scope(make_memory_source({{id, std::string("1.0")}}));
      for (int round = 0; round < 50; ++round) {
        const scan_result result = scan_once();
        if (result.walked.size() != 1 || result.walked[0].id != id) {
          seen[t] = "wrong";
          return;
        }
      }
      seen[t] = id;
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(seen[t], "T" + std::to_string(t));
  }
}

TEST(RefhostStoreTest, CountsStoreCallsAndFailsTheNextCreationOnRequest) {
  const store_call_counts before = store_calls_on_this_thread();
  ox_registry_store_s* store = nullptr;
  ASSERT_EQ(ox_registry_store_create(&store), OX_OK);
  ox_registry_store_s* const created = store;
  fail_next_store_create(OX_ERROR_OUT_OF_MEMORY);
  // A failed creation leaves the handle null, whatever it held.
  EXPECT_EQ(ox_registry_store_create(&store), OX_ERROR_OUT_OF_MEMORY);
  EXPECT_EQ(store, nullptr);
  // Scanning the null store it left reports why, not a bad argument.
  EXPECT_EQ(ox_registry_store_scan(store), OX_ERROR_OUT_OF_MEMORY);
  ox_registry_store_release(store);
  ox_registry_store_release(created);
  // Only the next creation fails.
  EXPECT_EQ(ox_registry_store_create(&store), OX_OK);
  EXPECT_NE(store, nullptr);
  ox_registry_store_release(store);
  EXPECT_EQ(ox_registry_store_scan(nullptr), OX_ERROR_INVALID_ARGUMENT);

  const store_call_counts after = store_calls_on_this_thread();
  EXPECT_EQ(after.create_calls - before.create_calls, 3u);
  EXPECT_EQ(after.release_calls - before.release_calls, 3u);
  EXPECT_EQ(after.null_release_calls - before.null_release_calls, 1u);
}

// ---------------------------------------------------------------------------
// JSON inventory.

apps parse_json_ok(const std::string& text) {
  apps out = {{"STALE", std::nullopt}};
  std::string error;
  EXPECT_EQ(parse_inventory_json(text, out, error), OX_OK) << error;
  return out;
}

TEST(RefhostStoreTest, InventoryJsonKeepsFileOrderVersionKindsAndDuplicates) {
  EXPECT_EQ(parse_json_ok("[]"), apps{});
  EXPECT_EQ(parse_json_ok(" \n[ ]\r\n"), apps{});
  const apps expected = {{"B", std::string("2.0")},
                         {"A", std::nullopt},
                         {"A", std::nullopt},
                         {"C", std::string("")},
                         {"B", std::string("1.0.0.0")},
                         {"\xc3\xa9t\xc3\xa9", std::string("1")},
                         {"spaced id ", std::string(" 1.0")}};
  EXPECT_EQ(parse_json_ok(R"([
      {"id": "B", "version": "2.0"},
      {"id": "A"},
      {"version": null, "id": "A"},
      {"id": "C", "version": ""},
      {"id": "B", "version": "1.0.0.0"},
      {"id": "\u00e9t\u00e9", "version": "1"},
      {"id": "spaced id ", "version": " 1.0"}
    ])"),
            expected);
  // A byte-order mark is no part of the text.
  EXPECT_EQ(parse_json_ok("\xef\xbb\xbf[{\"id\": \"A\"}]"), (apps{{"A", std::nullopt}}));
}

TEST(RefhostStoreTest, InventoryJsonTakesAMegabyteLongId) {
  const std::string id(1 << 20, 'x');
  const apps out = parse_json_ok("[{\"id\": \"" + id + "\", \"version\": \"1.0\"}]");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].id, id);
}

struct json_error_case {
  const char* name;
  std::string text;
  int code;
  const char* message_part;
};

TEST(RefhostStoreTest, InventoryJsonRefusesMalformedAndWrongShapedInput) {
  const std::vector<json_error_case> cases = {
      {"empty", "", OX_ERROR_PARSE, "empty input"},
      {"blank", " \n\t\r\n", OX_ERROR_PARSE, "empty input"},
      {"object", R"({"id": "A"})", OX_ERROR_PARSE, "top-level value is an object, not an array"},
      {"number", "42", OX_ERROR_PARSE, "top-level value is a number"},
      {"string", R"("A")", OX_ERROR_PARSE, "top-level value is a string"},
      {"entry number", "[1]", OX_ERROR_PARSE, "entry 1 is a number, not an object"},
      {"entry array", R"([{"id": "A"}, []])", OX_ERROR_PARSE, "entry 2 is an array"},
      {"entry null", R"([{"id": "A"}, null])", OX_ERROR_PARSE, "entry 2 is null"},
      {"no id", R"([{"id": "A"}, {"version": "1"}])", OX_ERROR_PARSE, "entry 2: no \"id\""},
      {"misspelt key", R"([{"id": "A"}, {"versoin": "2.1", "id": "fjord-core"}])", OX_ERROR_PARSE,
       "entry 2 (\"fjord-core\"): unknown key \"versoin\" (an entry has \"id\" and \"version\" "
       "only)"},
      {"nested unknown key", R"([{"id": "A", "extra": {"deep": [1]}}])", OX_ERROR_PARSE,
       "entry 1 (\"A\"): unknown key \"extra\""},
      {"id number", R"([{"id": 7}])", OX_ERROR_PARSE, "entry 1: \"id\" is a number, not a string"},
      {"id null", R"([{"id": null}])", OX_ERROR_PARSE, "\"id\" is null"},
      {"id object", R"([{"id": {"v": "A"}}])", OX_ERROR_PARSE, "\"id\" is an object"},
      {"id empty", R"([{"id": ""}])", OX_ERROR_PARSE, "entry 1: \"id\" is empty"},
      {"id nul", R"([{"id": "A\u0000B"}])", OX_ERROR_PARSE, "\"id\" holds a control character"},
      {"id newline", R"([{"id": "A\nB"}])", OX_ERROR_PARSE, "\"id\" holds a control character"},
      {"id delete", "[{\"id\": \"A\x7f\"}]", OX_ERROR_PARSE, "\"id\" holds a control character"},
      {"version number", R"([{"id": "A", "version": 1.5}])", OX_ERROR_PARSE,
       "\"version\" is a number, not a string or null"},
      {"version bool", R"([{"id": "A", "version": true}])", OX_ERROR_PARSE,
       "\"version\" is a boolean"},
      {"version array", R"([{"id": "A", "version": ["1"]}])", OX_ERROR_PARSE,
       "\"version\" is an array"},
      {"version tab", R"([{"id": "A", "version": "1\t0"}])", OX_ERROR_PARSE,
       "\"version\" holds a control character"},
      {"id twice", R"([{"id": "A", "id": "B"}])", OX_ERROR_PARSE, "\"id\" appears twice"},
      {"version twice", R"([{"id": "A", "version": null, "version": "1"}])", OX_ERROR_PARSE,
       "\"version\" appears twice"},
      {"invalid utf-8", "[{\"id\": \"A\xff\"}]", OX_ERROR_PARSE, "malformed JSON"},
      {"truncated", R"([{"id": "A")", OX_ERROR_PARSE, "malformed JSON"},
      {"trailing text", R"([{"id": "A"}] [])", OX_ERROR_PARSE, "malformed JSON"},
      {"comment", "// list\n[]", OX_ERROR_PARSE, "malformed JSON"},
      {"deep top", std::string(1000000, '['), OX_ERROR_PARSE, "entry 1 is an array, not an object"},
      {"deep in a member", "[{\"id\": \"A\", \"x\": " + std::string(1000000, '['),
       OX_ERROR_LIMIT_EXCEEDED, "nested deeper than 64 levels"},
      {"deep member",
       "[{\"id\": \"A\", \"x\": " + std::string(63, '[') + std::string(63, ']') + "}]",
       OX_ERROR_LIMIT_EXCEEDED, "nested deeper than 64"},
  };
  for (const json_error_case& c : cases) {
    SCOPED_TRACE(c.name);
    apps out = {{"STALE", std::nullopt}};
    std::string error;
    EXPECT_EQ(parse_inventory_json(c.text, out, error), c.code);
    EXPECT_NE(error.find(c.message_part), std::string::npos) << error;
    EXPECT_TRUE(out.empty());
    // Messages are printable whatever bytes the input held.
    for (unsigned char ch : error) {
      EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << error;
    }
  }
}

TEST(RefhostStoreTest, InventoryJsonNestingLimitIsExact) {
  // Top-level array and entry object are levels 1 and 2; 62 more fit (and
  // the entry is then refused for its unknown key), 63 do not.
  const auto nested = [](std::size_t levels) {
    return "[{\"id\": \"A\", \"x\": " + std::string(levels, '[') + std::string(levels, ']') + "}]";
  };
  apps out;
  std::string error;
  EXPECT_EQ(parse_inventory_json(nested(62), out, error), OX_ERROR_PARSE);
  EXPECT_NE(error.find("unknown key \"x\""), std::string::npos) << error;
  EXPECT_EQ(parse_inventory_json(nested(63), out, error), OX_ERROR_LIMIT_EXCEEDED);
  EXPECT_EQ(error, "nested deeper than 64 levels");
}

// ---------------------------------------------------------------------------
// dpkg status.

apps parse_dpkg_ok(const std::string& text) {
  apps out = {{"STALE", std::nullopt}};
  std::string error;
  EXPECT_EQ(parse_dpkg_status(text, out, error), OX_OK) << error;
  return out;
}

TEST(RefhostStoreTest, DpkgStatusTakesPackagesWhoseFilesAreInstalled) {
  const std::string status =
      "Package: libc6\n"
      "Status: install ok installed\n"
      "Priority: optional\n"
      "Architecture: amd64\n"
      "Multi-Arch: same\n"
      "Version: 2.36-9+deb12u4\n"
      "Description: GNU C Library: Shared libraries\n"
      " Contains the standard libraries that are used by nearly all programs on\n"
      " the system.\n"
      " .\n"
      "\tA tab continues too.\n"
      "\n"
      "Package: removed-pkg\n"
      "Status: deinstall ok config-files\n"
      "Version: 1.0\n"
      "\n"
      "Package: held-pkg\n"
      "Status: hold ok installed\n"
      "Version: 3:4.5-1\n"
      "\n"
      "Package: broken-pkg\n"
      "Status: install reinstreq half-installed\n"
      "Version: 1.0\n"
      "\n"
      "Package: unpacked-pkg\n"
      "Status: install ok unpacked\n"
      "Version: 1.0\n"
      "\n"
      "Package: no-status\n"
      "Version: 1.0\n"
      "\n"
      "package: lower-case-fields\n"
      "STATUS: install  ok   installed \n"
      "version:   7.1  \n"
      "\n"
      "\n"
      "Package: no-version\n"
      "Status: install ok installed\n"
      "Conffiles:\n"
      " /etc/x 0123456789abcdef\n"
      "  \t\n"
      "Package: libc6\n"
      "Status: install ok installed\n"
      "Architecture: i386\n"
      "Version: 2.36-9+deb12u4\n"
      "\n"
      "Package: empty-version\n"
      "Version:\n"
      "Status: install ok installed\n";
  const apps expected = {{"libc6", std::string("2.36.0.0")},
                         {"held-pkg", std::string("4.5.0.0")},
                         {"lower-case-fields", std::string("7.1.0.0")},
                         {"no-version", std::nullopt},
                         {"libc6", std::string("2.36.0.0")},
                         {"empty-version", std::string("0.0.0.0")}};
  EXPECT_EQ(parse_dpkg_ok(status), expected);
}

// The real status file of a Debian 12 machine is checked, package by
// package, through the tool (tests/tools/oxpm_cli_test.cpp); these are the
// edges of the rule.
TEST(RefhostStoreTest, DebianVersionsReadAsTheirUpstreamsLeadingNumbers) {
  const std::pair<const char*, const char*> cases[] = {
      {"4:12.2.0-3", "12.2.0.0"},
      {"1:2.39.5-0+deb12u3", "2.39.5.0"},
      {"1:14.0-55.7~deb12u1", "14.0.0.0"},
      {"2025b-0+deb12u2", "2025.0.0.0"},
      {"20230311+deb12u1", "20230311.0.0.0"},
      {"1:9.2p1-2+deb12u3", "9.2.0.0"},
      {"2.9.14+dfsg.1-1", "2.9.14.0"},  // the tail ends the numbers, dots and all
      {"1.2.3.4.5-1", "1.2.3.4"},       // a fifth piece is dropped
      {"1.2a.3", "1.2.0.0"},            // a letter ends the numbers
      {"3.0~rc1-1", "3.0.0.0"},
      {"1.-2", "1.0.0.0"},  // a dot without a digit after it
      {"0.23.22-1", "0.23.22.0"},
      {"7", "7.0.0.0"},
      {"99999999999.1", "4294967295.1.0.0"},
      {"a1.2-3", "0.0.0.0"},     // no leading number
      {"x:1.2", "0.0.0.0"},      // not an epoch: no leading number either
      {"1:2:3.4-5", "2.0.0.0"},  // upstream "2:3.4": a colon ends the numbers
      {"", "0.0.0.0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dpkg_version_text(c.first), c.second) << c.first;
  }
}

TEST(RefhostStoreTest, DpkgStatusAcceptsCrlfMissingFinalNewlineCommentsAndEmptyFiles) {
  EXPECT_EQ(parse_dpkg_ok(""), apps{});
  EXPECT_EQ(parse_dpkg_ok("\n\n  \n"), apps{});
  const apps one = {{"a", std::string("1.0.0.0")}};
  EXPECT_EQ(parse_dpkg_ok("Package: a\nStatus: install ok installed\nVersion: 1.0"), one);
  EXPECT_EQ(parse_dpkg_ok("Package: a\r\nStatus: install ok installed\r\nVersion: 1.0\r\n\r\n"),
            one);
  EXPECT_EQ(parse_dpkg_ok("# written by hand\nPackage: a\nStatus: install ok installed\n"
                          "# between fields\nVersion: 1.0\n"),
            one);
}

struct dpkg_error_case {
  const char* name;
  std::string text;
  const char* message;
};

TEST(RefhostStoreTest, DpkgStatusRefusesMalformedEntriesNamingTheLine) {
  const std::string ok = "Package: a\nStatus: install ok installed\nVersion: 1\n\n";
  const std::vector<dpkg_error_case> cases = {
      {"leading continuation", " stray\n", "line 1: continuation line outside a field"},
      {"continuation after blank", ok + " stray\n", "line 5: continuation line outside a field"},
      {"continued version", "Package: a\nVersion: 1\n .0\n",
       "line 3: field \"Version\" continues over several lines"},
      {"continued package", "Package: a\n b\n", "line 2: field \"Package\" continues"},
      {"no colon", ok + "Package a\n", "line 5: expected \"Field: value\""},
      {"empty name", ok + ": value\n", "line 5: expected \"Field: value\""},
      {"package twice", "Package: a\nVersion: 1\npackage: b\n",
       "line 3: field \"Package\" appears twice in one entry"},
      {"version twice", "Package: a\nVersion: 1\nVersion: 2\n", "line 3: field \"Version\""},
      {"no package", ok + "Status: install ok installed\nVersion: 1\n",
       "line 5: entry without a \"Package\" field"},
      {"empty package", ok + "Version: 1\nPackage:  \n", "line 5: entry with an empty"},
      {"nul byte", ok + "Package: b\nDescription: x" + std::string(1, '\0') + "y\n",
       "line 6: NUL byte"},
      {"control in version", "Package: a\nVersion: 1\t2\n",
       "line 2: field \"Version\" holds a control character"},
      {"control in package",
       "Package: a\x01"
       "b\n",
       "line 1: field \"Package\" holds"},
      {"crlf line count", "Package: a\r\nVersion: 1\r\n\r\n bad\r\n", "line 4: continuation"},
  };
  for (const dpkg_error_case& c : cases) {
    SCOPED_TRACE(c.name);
    apps out = {{"STALE", std::nullopt}};
    std::string error;
    EXPECT_EQ(parse_dpkg_status(c.text, out, error), OX_ERROR_PARSE);
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_TRUE(out.empty());
  }
}

// ---------------------------------------------------------------------------
// File sources, through the C interface as the library uses them.

TEST(RefhostStoreTest, InventoryFileSourceReadsTheFileAndNamesItInErrors) {
  temp_file file(R"([{"id": "A", "version": "1.0"}, {"id": "B"}])");
  auto source = make_inventory_source(file.path());
  scan_result result = scan_source(source);
  EXPECT_EQ(result.code, OX_OK);
  EXPECT_EQ(result.walked, (apps{{"A", std::string("1.0")}, {"B", std::nullopt}}));

  file.write(R"([{"id": "A", "version": 1}])");
  result = scan_source(source);
  EXPECT_EQ(result.code, OX_ERROR_PARSE);
  EXPECT_EQ(last_store_error(),
            file.path() + ": entry 1: \"version\" is a number, not a string or null");

  file.write("");
  EXPECT_EQ(scan_source(source).code, OX_ERROR_PARSE);
  EXPECT_EQ(last_store_error(), file.path() + ": empty input, expected a JSON array");
}

TEST(RefhostStoreTest, FileSourcesReportFilesThatCannotBeRead) {
  const std::string missing = ::testing::TempDir() + "ox_store_test_no_such_file.json";
  for (auto make : {&make_inventory_source, &make_dpkg_status_source}) {
    EXPECT_EQ(scan_source(make(missing)).code, OX_ERROR_IO);
    EXPECT_EQ(last_store_error(), missing + ": cannot open: No such file or directory");

    const std::string directory = ::testing::TempDir();
    EXPECT_EQ(scan_source(make(directory)).code, OX_ERROR_IO);
    EXPECT_EQ(last_store_error(), directory + ": cannot read: Is a directory");
  }
}

TEST(RefhostStoreTest, FileSourcesRefuseFilesBeyondTheSizeLimit) {
  struct stat info {};
  if (::stat("/dev/zero", &info) != 0) {
    GTEST_SKIP() << "no /dev/zero";
  }
  EXPECT_EQ(scan_source(make_dpkg_status_source("/dev/zero")).code, OX_ERROR_LIMIT_EXCEEDED);
  EXPECT_EQ(last_store_error(), "/dev/zero: larger than 67108864 bytes");
}

TEST(RefhostStoreTest, DpkgFileSourceReadsTheFileAtScanTimeIntoASnapshot) {
  temp_file file(
      "Package: vim\nStatus: install ok installed\nVersion: 2:9.0.1378-2\n\n"
      "Package: nano\nStatus: install ok installed\nVersion: 7.2-1\n");
  scoped_store_source scope(make_dpkg_status_source(file.path()));
  ox_registry_store_s* store = nullptr;
  ASSERT_EQ(ox_registry_store_create(&store), OX_OK);
  // Written after creation, before the scan: the scan sees this content.
  file.write("Package: vim\nStatus: install ok installed\nVersion: 2:9.0.1378-2\n");
  ASSERT_EQ(ox_registry_store_scan(store), OX_OK);
  const ox_application_s* first = ox_registry_store_get_next_application(store, nullptr);
  ASSERT_NE(first, nullptr);
  // Rewritten during the walk: the walk is not torn.
  file.write(
      "Package: a\nStatus: install ok installed\n\nPackage: b\n"
      "Status: install ok installed\n");
  EXPECT_STREQ(ox_application_get_software_id(first), "vim");
  EXPECT_STREQ(ox_application_get_version(first), "9.0.1378.0");
  EXPECT_EQ(ox_registry_store_get_next_application(store, first), nullptr);

  file.write("Package: vim\nVersion: 1\nStatus: install ok installed\n Description: x\n");
  EXPECT_EQ(ox_registry_store_scan(store), OX_ERROR_PARSE);
  EXPECT_EQ(last_store_error(),
            file.path() + ": line 4: field \"Status\" continues over several lines");
  ox_registry_store_release(store);
}

TEST(RefhostStoreTest, DpkgSourceDefaultsToTheSystemStatusFile) {
  EXPECT_STREQ(kDefaultDpkgStatusPath, "/var/lib/dpkg/status");
  const scan_result by_default = scan_source(make_dpkg_status_source());
  const std::string default_error = last_store_error();
  const scan_result explicit_path = scan_source(make_dpkg_status_source(kDefaultDpkgStatusPath));
  EXPECT_EQ(by_default.code, explicit_path.code);
  EXPECT_EQ(by_default.walked, explicit_path.walked);
  EXPECT_EQ(default_error, last_store_error());
}

}  // namespace
}  // namespace ox_refhost
}  // namespace tarvik

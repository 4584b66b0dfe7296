// The reference host's installed-application store: the parsers' table
// (tests/refhost/data/store.txt), then what only code reaches: the C
// interface over a source, snapshots, sources per thread, the test hooks and
// the file sources.
#include "tarvik/ox_refhost/store.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/table.hpp"
#include "support/temp_file.hpp"
#include "tarvik/ox/host/ox_registry_store.h"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox_refhost {
namespace {

using apps = std::vector<installed_application>;
using ox_test::temp_file;

apps walk(ox_registry_store_s* store, const ox_application_s* from = nullptr) {
  apps out;
  for (const ox_application_s* app = ox_registry_store_get_next_application(store, from);
       app != nullptr; app = ox_registry_store_get_next_application(store, app)) {
    const char* version = ox_application_get_version(app);
    out.push_back({ox_application_get_software_id(app),
                   version != nullptr ? std::optional<std::string>(version) : std::nullopt});
  }
  return out;
}

// One scan of a fresh store over the source in effect: the code, and the
// applications walked (empty after a failure).
struct scan_result {
  int code = OX_OK;
  apps walked;
};

scan_result scan_once() {
  ox_registry_store_s* store = nullptr;
  EXPECT_EQ(ox_registry_store_create(&store), OX_OK);
  scan_result result;
  result.code = ox_registry_store_scan(store);
  result.walked = result.code == OX_OK ? walk(store) : apps();
  ox_registry_store_release(store);
  return result;
}

scan_result scan_source(std::shared_ptr<store_source> source) {
  scoped_store_source scope(std::move(source));
  return scan_once();
}

TEST(RefhostStoreTest, InventoryAndDpkgStatusTable) {
  for (const ox_test::table_row& row : ox_test::read_table("refhost/data/store.txt")) {
    SCOPED_TRACE(row.where);
    const std::string& op = row.at(0);
    apps out = {{"STALE", std::nullopt}};
    std::string error;
    if (op == "dpkg-version") {
      EXPECT_EQ(dpkg_version_text(row.at(1)), row.at(2));
    } else if (op == "json" || op == "dpkg") {
      EXPECT_EQ((op == "json" ? parse_inventory_json : parse_dpkg_status)(row.at(1), out, error),
                OX_OK)
          << error;
      apps expected;
      for (std::size_t i = 2; i + 1 < row.fields.size(); i += 2) {
        const std::string& version = row.fields[i + 1];
        expected.push_back({row.fields[i], version == "(none)"
                                               ? std::nullopt
                                               : std::optional<std::string>(version)});
      }
      EXPECT_EQ(out, expected);
    } else if (op == "json-error" || op == "dpkg-error") {
      const bool json = op == "json-error";
      const int code = json ? parse_inventory_json(row.at(2), out, error)
                            : parse_dpkg_status(row.at(1), out, error);
      EXPECT_EQ(code, !json || row.at(1) == "parse" ? OX_ERROR_PARSE : OX_ERROR_LIMIT_EXCEEDED);
      EXPECT_NE(error.find(row.fields.back()), std::string::npos) << error;
      EXPECT_TRUE(out.empty());
      // Messages are printable whatever bytes the input held.
      for (unsigned char ch : error) {
        EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << error;
      }
    } else {
      ADD_FAILURE() << "unknown row " << op;
    }
  }
}

TEST(RefhostStoreTest, WalksTheSourceItWasCreatedWithInOrder) {
  set_store_source(nullptr);
  EXPECT_EQ(scan_once().walked, apps());
  EXPECT_EQ(last_store_error(), "");

  const apps list = {{"B", std::string("2.0")},
                     {"A", std::nullopt},
                     {"B", std::string("")},
                     {"C", std::string("1.0.0.7")}};
  scoped_store_source scope(make_memory_source(list));
  ox_registry_store_s* store = nullptr;
  ASSERT_EQ(ox_registry_store_create(&store), OX_OK);
  EXPECT_EQ(walk(store), apps()) << "before its first scan";
  {
    scoped_store_source later(make_memory_source({{"SECOND", std::string("1.0")}}));
    ASSERT_EQ(ox_registry_store_scan(store), OX_OK);
  }
  EXPECT_EQ(walk(store), list);
  // A handle of another store is not followed.
  ox_registry_store_s* other = nullptr;
  ASSERT_EQ(ox_registry_store_create(&other), OX_OK);
  ASSERT_EQ(ox_registry_store_scan(other), OX_OK);
  EXPECT_EQ(ox_registry_store_get_next_application(
                other, ox_registry_store_get_next_application(store, nullptr)),
            nullptr);
  ox_registry_store_release(other);
  ox_registry_store_release(store);

  EXPECT_EQ(ox_registry_store_create(nullptr), OX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(ox_registry_store_scan(nullptr), OX_ERROR_INVALID_ARGUMENT);
  EXPECT_NE(last_store_error(), "");
  EXPECT_EQ(ox_registry_store_get_next_application(nullptr, nullptr), nullptr);
  EXPECT_EQ(ox_registry_store_release(nullptr), OX_OK);
  EXPECT_EQ(ox_application_get_software_id(nullptr), nullptr);
  EXPECT_EQ(ox_application_get_version(nullptr), nullptr);
}

TEST(RefhostStoreTest, WalksGoOnOverTheirSnapshotAndFailedScansChangeNothing) {
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
  EXPECT_EQ(walk(store, first), (apps{{"B", std::string("2")}}));
  EXPECT_EQ(walk(store), (apps{{"X", std::string("9")}})) << "a new walk, the newest snapshot";

  source->set_applications({{"C", std::string("3")}});
  fail_next_scan(*source, static_cast<ox_error_e>(4711), "registry locked");
  EXPECT_EQ(ox_registry_store_scan(store), 4711);
  EXPECT_EQ(last_store_error(), "registry locked");
  EXPECT_EQ(walk(store), (apps{{"X", std::string("9")}}));
  std::string seen_elsewhere = "unset";
  std::thread([&] { seen_elsewhere = last_store_error(); }).join();
  EXPECT_EQ(seen_elsewhere, "") << "the message stays on its thread";
  // The failure was for one scan only; success clears the message.
  EXPECT_EQ(ox_registry_store_scan(store), OX_OK);
  EXPECT_EQ(last_store_error(), "");
  EXPECT_EQ(walk(store), (apps{{"C", std::string("3")}}));
  ox_registry_store_release(store);

  fail_next_scan(*source, OX_ERROR_IO);
  EXPECT_EQ(scan_once().code, OX_ERROR_IO);
  EXPECT_NE(last_store_error().find("code 100"), std::string::npos) << last_store_error();
  // An id or version with a NUL byte is refused by the store.
  for (const installed_application& bad :
       {installed_application{std::string("A\0B", 3), std::string("1.0")},
        installed_application{"A", std::string("1.0\0", 4)}}) {
    EXPECT_EQ(scan_source(make_memory_source({{"OK", std::nullopt}, bad})).code,
              OX_ERROR_INVALID_ARGUMENT);
    EXPECT_NE(last_store_error().find("entry 2"), std::string::npos) << last_store_error();
  }
}

// Threads scanning their own sources at once: tests/threads_test.cpp.
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

TEST(RefhostStoreTest, FileSourcesReadAtScanTimeAndNameTheFileInErrors) {
  temp_file file(R"([{"id": "A", "version": "1.0"}, {"id": "B"}])");
  auto inventory = make_inventory_source(file.path());
  EXPECT_EQ(scan_source(inventory).walked, (apps{{"A", std::string("1.0")}, {"B", std::nullopt}}));
  file.write(R"([{"id": "A", "version": 1}])");
  EXPECT_EQ(scan_source(inventory).code, OX_ERROR_PARSE);
  EXPECT_EQ(last_store_error(),
            file.path() + ": entry 1: \"version\" is a number, not a string or null");

  const std::string missing = ::testing::TempDir() + "ox_store_test_no_such_file.json";
  for (auto make : {&make_inventory_source, &make_dpkg_status_source}) {
    EXPECT_EQ(scan_source(make(missing)).code, OX_ERROR_IO);
    EXPECT_EQ(last_store_error(), missing + ": cannot open: No such file or directory");
    EXPECT_EQ(scan_source(make(::testing::TempDir())).code, OX_ERROR_IO);
    EXPECT_EQ(last_store_error(), ::testing::TempDir() + ": cannot read: Is a directory");
  }
  EXPECT_EQ(scan_source(make_dpkg_status_source("/dev/zero")).code, OX_ERROR_LIMIT_EXCEEDED);
  EXPECT_EQ(last_store_error(), "/dev/zero: larger than 67108864 bytes");

  file.write("Package: nano\nStatus: install ok installed\nVersion: 7.2-1\n");
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
      "Package: a\nStatus: install ok installed\n\nPackage: b\nStatus: install ok installed\n");
  EXPECT_STREQ(ox_application_get_software_id(first), "vim");
  EXPECT_STREQ(ox_application_get_version(first), "9.0.1378.0");
  EXPECT_EQ(ox_registry_store_get_next_application(store, first), nullptr);
  file.write("Package: vim\nVersion: 1\nStatus: install ok installed\n Description: x\n");
  EXPECT_EQ(ox_registry_store_scan(store), OX_ERROR_PARSE);
  EXPECT_EQ(last_store_error(),
            file.path() + ": line 4: field \"Status\" continues over several lines");
  ox_registry_store_release(store);
}

}  // namespace
}  // namespace ox_refhost
}  // namespace tarvik

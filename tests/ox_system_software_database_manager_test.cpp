#include "tarvik/ox/system_software_database_manager.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_file.hpp"
#include "support/test_host.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox_refhost/store.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox {
namespace {

using ox_refhost::installed_application;
using ox_refhost::make_memory_source;
using ox_refhost::scoped_store_source;
using ox_test::test_host;

// "id=version" per entry, the version as the library parsed it.
std::vector<std::string> listed(const std::vector<software>& list) {
  std::vector<std::string> out;
  for (const software& entry : list) {
    out.push_back(entry.id + "=" + entry.version.getversion());
  }
  return out;
}

std::string taken_line(const std::string& id, const std::string& version_text) {
  return "5|rescan|installed software id: " + id + ", version: " + version_text;
}

const char kStartLine[] = "5|rescan|getting installed software list from system";

ox_error_e code_of_find(const system_software_database_manager& mgr, const std::string& id) {
  try {
    mgr.find(id);
  } catch (const pm_exception& e) {
    return e.error;
  }
  return OX_OK;
}

TEST(SystemSoftwareDatabaseManagerTest, RescanSkipsUnversionedAndAgentSoftwareButNotLookAlikes) {
  test_host host;
  scoped_store_source scope(make_memory_source({
      {"NO_VERSION", std::nullopt},
      {"EMPTY_VERSION", std::string("")},
      {"SHRSYNC_3000", std::string("1.0")},
      {"KLX_____1000", std::string("2.0")},
      {"ORQHOST_3000META", std::string("3.0")},
      {"orqhost_3000meta", std::string("3.1")},
      {"Shrsync_3000", std::string("1.1")},
      {"KLX_____1000 ", std::string("2.1")},
      {"ORQHOST_3000", std::string("3.2")},
      {"KLX_____10000", std::string("2.2")},
      {"PLAIN", std::string("1.2")},
      {"ODD", std::string("2.0b.1")},
      {"NO_DOT", std::string("7")},
      {"BLANK", std::string(" ")},
  }));
  system_software_database_manager mgr(host.context());
  mgr.rescan();

  EXPECT_EQ(listed(mgr.get_installed_product_list()),
            (std::vector<std::string>{"orqhost_3000meta=3.1.0.0", "Shrsync_3000=1.1.0.0",
                                      "KLX_____1000 =2.1.0.0", "ORQHOST_3000=3.2.0.0",
                                      "KLX_____10000=2.2.0.0", "PLAIN=1.2.0.0", "ODD=2.0.1.0",
                                      "NO_DOT=0.0.0.0", "BLANK=0.0.0.0"}));
  // Logged with the version text as the store gave it, not as parsed.
  EXPECT_EQ(host.lines(), (std::vector<std::string>{
                              kStartLine, taken_line("orqhost_3000meta", "3.1"),
                              taken_line("Shrsync_3000", "1.1"), taken_line("KLX_____1000 ", "2.1"),
                              taken_line("ORQHOST_3000", "3.2"), taken_line("KLX_____10000", "2.2"),
                              taken_line("PLAIN", "1.2"), taken_line("ODD", "2.0b.1"),
                              taken_line("NO_DOT", "7"), taken_line("BLANK", " ")}));
  for (const ox_refhost::log_record& record : host.records()) {
    EXPECT_EQ(record.service, "pm_service");
    EXPECT_EQ(record.file, "ox_system_software_database_manager");
  }
  for (const software& entry : mgr.get_installed_product_list()) {
    EXPECT_EQ(entry.name, "");
    EXPECT_EQ(entry.version_text, "");
  }
}

TEST(SystemSoftwareDatabaseManagerTest, DuplicatesStayInStoreOrderAndFindReturnsTheFirst) {
  test_host host;
  scoped_store_source scope(make_memory_source({{"B", std::string("2.0")},
                                                {"A", std::string("1.0")},
                                                {"B", std::string("1.5")},
                                                {"A", std::nullopt}}));
  system_software_database_manager mgr(host.context());
  mgr.rescan();
  EXPECT_EQ(listed(mgr.get_installed_product_list()),
            (std::vector<std::string>{"B=2.0.0.0", "A=1.0.0.0", "B=1.5.0.0"}));
  EXPECT_EQ(mgr.find("B").version.getversion(), "2.0.0.0");
  EXPECT_EQ(mgr.find("A").version.getversion(), "1.0.0.0");
}

TEST(SystemSoftwareDatabaseManagerTest, FindMatchesTheWholeIdExactlyOrThrowsNotFound) {
  test_host host;
  system_software_database_manager mgr(host.context());
  EXPECT_EQ(code_of_find(mgr, "A"), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(code_of_find(mgr, ""), OX_ERROR_NOT_FOUND);

  mgr.set_installed_products({software("ABC", version("1.0")), software("X", version("2.0"))});
  const software found = mgr.find("X");
  EXPECT_EQ(found.id, "X");
  EXPECT_EQ(found.version.getversion(), "2.0.0.0");
  for (const char* miss : {"abc", "AB", "ABCD", "BC", "x", ""}) {
    EXPECT_EQ(code_of_find(mgr, miss), OX_ERROR_NOT_FOUND) << miss;
  }
  // A copy: changing it leaves the list alone.
  software copy = mgr.find("ABC");
  copy.set_id("CHANGED");
  EXPECT_EQ(mgr.get_installed_product_list().front().id, "ABC");
  EXPECT_TRUE(host.records().empty());

  // An empty store empties the list; nothing is found any more.
  scoped_store_source scope(make_memory_source());
  mgr.rescan();
  EXPECT_TRUE(mgr.get_installed_product_list().empty());
  EXPECT_EQ(code_of_find(mgr, "ABC"), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(host.lines(), std::vector<std::string>{kStartLine});
}

TEST(SystemSoftwareDatabaseManagerTest, SetListIsTakenUnfilteredAndRescanReplacesItWhole) {
  test_host host;
  system_software_database_manager mgr(host.context());
  std::vector<software>& list = mgr.get_installed_product_list();
  mgr.set_installed_products(
      {software("ORQHOST_3000META", version("1.0")), software("Z", version())});
  EXPECT_EQ(listed(list),
            (std::vector<std::string>{"ORQHOST_3000META=1.0.0.0",
                                      "Z=4294967295.4294967295.4294967295.4294967295"}));
  EXPECT_TRUE(host.records().empty());

  scoped_store_source scope(make_memory_source({{"N", std::string("3.0")}}));
  mgr.rescan();
  // The reference given out earlier shows the new list.
  EXPECT_EQ(listed(list), std::vector<std::string>{"N=3.0.0.0"});
  EXPECT_EQ(code_of_find(mgr, "Z"), OX_ERROR_NOT_FOUND);
}

TEST(SystemSoftwareDatabaseManagerTest, AFailedScanThrowsTheStoresCodeAndKeepsThePreviousList) {
  test_host host;
  auto source = make_memory_source({{"KEPT", std::string("1.0")}});
  scoped_store_source scope(source);
  system_software_database_manager mgr(host.context());
  mgr.rescan();
  host.clear();

  // Negative codes too: C hosts commonly answer -1.
  for (const ox_error_e code :
       {OX_ERROR_IO, OX_ERROR_PARSE, OX_ERROR_LIMIT_EXCEEDED, static_cast<ox_error_e>(4711),
        static_cast<ox_error_e>(-1), static_cast<ox_error_e>(INT_MIN)}) {
    source->set_applications({{"NEW", std::string("2.0")}});
    fail_next_scan(*source, code, "store unavailable");
    const auto before = ox_refhost::store_calls_on_this_thread();
    try {
      mgr.rescan();
      ADD_FAILURE() << "rescan did not throw for code " << code;
    } catch (const pm_exception& e) {
      EXPECT_EQ(e.code(), code);
      if (static_cast<int>(code) < 0) {
        EXPECT_STREQ(error_name(e.code()), "host error");
      }
    }
    EXPECT_EQ(listed(mgr.get_installed_product_list()), std::vector<std::string>{"KEPT=1.0.0.0"});
    EXPECT_TRUE(host.records().empty()) << "nothing is logged before a successful scan";
    EXPECT_EQ(ox_refhost::last_store_error(), "store unavailable");
    const auto after = ox_refhost::store_calls_on_this_thread();
    EXPECT_EQ(after.release_calls - before.release_calls, 1u);
    source->set_applications({{"KEPT", std::string("1.0")}});
  }
}

TEST(SystemSoftwareDatabaseManagerTest, AFailedStoreCreationIsDecidedByTheScan) {
  test_host host;
  scoped_store_source scope(make_memory_source({{"A", std::string("1.0")}}));
  system_software_database_manager mgr(host.context());
  mgr.set_installed_products({software("KEPT", version("1.0"))});
  ox_refhost::fail_next_store_create(OX_ERROR_OUT_OF_MEMORY);
  try {
    mgr.rescan();
    ADD_FAILURE() << "rescan without a store succeeded";
  } catch (const pm_exception& e) {
    // The store's code for the failed creation, passed on unchanged.
    EXPECT_EQ(e.error, OX_ERROR_OUT_OF_MEMORY);
  }
  EXPECT_EQ(listed(mgr.get_installed_product_list()), std::vector<std::string>{"KEPT=1.0.0.0"});
  // The next rescan creates its store normally.
  mgr.rescan();
  EXPECT_EQ(listed(mgr.get_installed_product_list()), std::vector<std::string>{"A=1.0.0.0"});
}

TEST(SystemSoftwareDatabaseManagerTest, WithoutALoggerRescanWorksTheSame) {
  ox_refhost::context bare;
  scoped_store_source scope(make_memory_source({{"A", std::string("1.0")}}));
  system_software_database_manager mgr(bare.get());
  mgr.rescan();
  EXPECT_EQ(listed(mgr.get_installed_product_list()), std::vector<std::string>{"A=1.0.0.0"});
  system_software_database_manager no_context(nullptr);
  no_context.rescan();
  EXPECT_EQ(no_context.find("A").id, "A");
}

// The file sources end to end: what a host running on a real machine sees.
TEST(SystemSoftwareDatabaseManagerTest, RescanOverAnInventoryFile) {
  test_host host;
  ox_test::temp_file inventory(R"([
    {"id": "ORQHOST_3000META", "version": "5.0"},
    {"id": "NOTES_1000", "version": "10.2.1"},
    {"id": "VIEWER_2000", "version": null},
    {"id": "VIEWER_2000"},
    {"id": "EDITOR_1000", "version": "3.1.0.4"}
  ])");
  scoped_store_source scope(ox_refhost::make_inventory_source(inventory.path()));
  system_software_database_manager mgr(host.context());
  mgr.rescan();
  EXPECT_EQ(listed(mgr.get_installed_product_list()),
            (std::vector<std::string>{"NOTES_1000=10.2.1.0", "EDITOR_1000=3.1.0.4"}));
  EXPECT_EQ(host.lines(), (std::vector<std::string>{kStartLine, taken_line("NOTES_1000", "10.2.1"),
                                                    taken_line("EDITOR_1000", "3.1.0.4")}));

  // A broken inventory: the store's own code, the list stays.
  inventory.write(R"({"id": "A"})");
  try {
    mgr.rescan();
    ADD_FAILURE() << "rescan of a wrong-shaped inventory succeeded";
  } catch (const pm_exception& e) {
    EXPECT_EQ(e.error, OX_ERROR_PARSE);
  }
  EXPECT_EQ(mgr.get_installed_product_list().size(), 2u);
  EXPECT_EQ(ox_refhost::last_store_error(),
            inventory.path() + ": the top-level value is an object, not an array");
}

TEST(SystemSoftwareDatabaseManagerTest, RescanOverADpkgStatusFile) {
  test_host host;
  ox_test::temp_file status(
      "Package: bash\n"
      "Status: install ok installed\n"
      "Version: 5.2.15-2+b2\n"
      "Description: GNU Bourne Again SHell\n"
      " Bash is an sh-compatible command language interpreter.\n"
      "\n"
      "Package: old-tool\n"
      "Status: deinstall ok config-files\n"
      "Version: 1.0-1\n"
      "\n"
      "Package: coreutils\n"
      "Status: install ok installed\n"
      "Version: 9.1-1\n");
  scoped_store_source scope(ox_refhost::make_dpkg_status_source(status.path()));
  system_software_database_manager mgr(host.context());
  mgr.rescan();
  EXPECT_EQ(listed(mgr.get_installed_product_list()),
            (std::vector<std::string>{"bash=5.2.15.0", "coreutils=9.1.0.0"}));
  // The store reads Debian's versions into four parts before the library
  // sees them.
  EXPECT_EQ(host.lines(), (std::vector<std::string>{kStartLine, taken_line("bash", "5.2.15.0"),
                                                    taken_line("coreutils", "9.1.0.0")}));
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

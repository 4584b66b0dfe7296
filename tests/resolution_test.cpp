// Whole resolutions through package_manager::resolve, wired as a host wires
// the six managers, over the reference host: a catalog given as XML
// text, an in-memory installed-application store and a capturing logger.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/describe.hpp"
#include "support/test_host.hpp"
#include "support/wired_managers.hpp"
#include "tarvik/ox/ox.hpp"
#include "tarvik/ox_refhost/store.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr char kSpec[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<specs version="7.1">
  <softwares>
    <software sref="CORE" name="Core" platforms="linux,windows" version="1.0:3.0"
              softwareids="CORE|core-[a-z]+">
      <obsoletes><old version="1.0:1.4"/></obsoletes>
    </software>
    <software sref="PLUGIN" name="Plugin" platforms="linux" version="2.0"
              softwareids="PLUGIN">
      <depends><dep sref="CORE" version="2.0:2.9"/></depends>
    </software>
    <software sref="VIEWER" name="Viewer" platforms="linux" version="1.0:"
              softwareids="VIEWER">
      <compatibles><compat sref="CORE" version="2.0:"/></compatibles>
    </software>
    <software sref="SUITE" name="Suite" platforms="linux" version="5.0"
              softwareids="SUITE">
      <uninstalls><legacy sref="LEGACY" name="Legacy tools"/></uninstalls>
      <depends><dep sref="CORE" version="2.0:"/></depends>
    </software>
    <software sref="LEGACY" name="Legacy" platforms="linux" version=""
              softwareids="LEGACY|legacy_[0-9]+"/>
    <software sref="WINONLY" name="Windows only" platforms="windows" version=""
              softwareids="WINONLY"/>
  </softwares>
</specs>
)";

class ResolutionTest : public ::testing::Test {
 protected:
  ResolutionTest()
      : store(ox_refhost::make_memory_source()),
        scoped(store),
        wired(host.context()),
        spec_mgr(wired.spec),
        softdb(wired.softdb),
        dependency(wired.dependency),
        pm(wired.package) {
    spec_mgr->set_platform("linux");
    spec_mgr->import(kSpec, sizeof(kSpec) - 1);
    host.clear();
  }

  static software sw(const std::string& id, const std::string& ver) {
    return software(id, version(ver));
  }

  static std::vector<std::string> describe(const std::vector<installing_software>& list) {
    return ox_test::describe(list);
  }

  // The lines a resolution writes after the install-order check, with the
  // conflict manager set.
  static std::vector<std::string> closing_lines() {
    return {"5|resolve|", "5|resolve|check_conflict <start> for only installing software.",
            "5|resolve|check_conflict <ends>", "5|resolve|"};
  }

  ox_test::test_host host;
  std::shared_ptr<ox_refhost::memory_store_source> store;
  ox_refhost::scoped_store_source scoped;
  ox_test::wired_managers wired;
  std::shared_ptr<package_spec_manager> spec_mgr;
  std::shared_ptr<system_software_database_manager> softdb;
  std::shared_ptr<software_dependency_manager> dependency;
  std::shared_ptr<package_manager> pm;
};

TEST_F(ResolutionTest, UninstallOnlyRequestMarksInstalledSoftware) {
  store->add("CORE", "2.0");
  store->add("NOTES", std::nullopt);  // no version: not installed as far as we know
  store->add("CORE", "1.5");
  store->add("ORQHOST_3000META", "1.0");
  store->add("VIEWER", "1.0");

  auto result = pm->resolve({sw("CORE", "0.0"), sw("ABSENT", "1.0")}, {});
  EXPECT_THAT(describe(result),
              ElementsAre("CORE 2.0.0.0 10", "CORE 1.5.0.0 10", "VIEWER 1.0.0.0 2"));
  EXPECT_FALSE(pm->is_incompatible(result));
  EXPECT_FALSE(pm->is_conflicted(result));

  std::vector<std::string> expected = {
      "5|resolve|resolving installing softwares <>, uninstalling softwares <CORE(0.0.0.0); "
      "ABSENT(1.0.0.0); >",
      "5|rescan|getting installed software list from system",
      "5|rescan|installed software id: CORE, version: 2.0",
      "5|rescan|installed software id: CORE, version: 1.5",
      "5|rescan|installed software id: VIEWER, version: 1.0",
      "5|check_installorder_compatibility|checking install order compatibility"};
  for (const std::string& line : closing_lines()) {
    expected.push_back(line);
  }
  EXPECT_THAT(host.lines(), ElementsAreArray(expected));
}

TEST_F(ResolutionTest, InstallOrderSatisfiesALaterDependency) {
  store->add("TOOLS", "1.0");
  auto result = pm->resolve({}, {sw("CORE", "2.5"), sw("PLUGIN", "2.0")});
  EXPECT_THAT(describe(result),
              ElementsAre("TOOLS 1.0.0.0 2", "CORE 2.5.0.0 1", "PLUGIN 2.0.0.0 1"));
  EXPECT_FALSE(pm->is_incompatible(result));
}

TEST_F(ResolutionTest, ReverseOrderFailsTheDependencyAndStopsTheWalk) {
  store->add("TOOLS", "1.0");
  auto result = pm->resolve({}, {sw("PLUGIN", "2.0"), sw("CORE", "2.5")});
  EXPECT_THAT(
      describe(result),
      ElementsAre("TOOLS 1.0.0.0 2", "PLUGIN 2.0.0.0 1 dep[CORE|core-[a-z]+ 2.0.0.0 2.0:2.9]"));
  EXPECT_TRUE(pm->is_incompatible(result));

  std::vector<std::string> expected = {
      "5|resolve|resolving installing softwares <PLUGIN(2.0.0.0); CORE(2.5.0.0); >, "
      "uninstalling softwares <>",
      "5|rescan|getting installed software list from system",
      "5|rescan|installed software id: TOOLS, version: 1.0",
      "5|check_installorder_compatibility|checking install order compatibility",
      "5|check_installorder_compatibility|",
      "5|check_installorder_compatibility|[1] checking install order compatibility for <PLUGIN>",
      "5|check_installorder_compatibility|getting spec entry for <PLUGIN>",
      "5|check_installorder_compatibility|Entry found in spec file with id:<PLUGIN>, "
      "orqids:<PLUGIN>, name:<Plugin>",
      "5|resolve_obsoletes|step a). checking resolve obsoletes for <PLUGIN>, version: 2.0.0.0",
      "5|resolve_uninstalls|step b). checking resolve uninstalls for <PLUGIN>",
      "5|check_product_dependency|step c). checking dependency for <PLUGIN>",
      "5|check_product_dependency|dependency check for <PLUGIN> against id <CORE>, version: "
      "<2.0.0.0:2.9.4294967295.4294967295>",
      "5|check_product_dependency|spec found for <CORE>, orqid: <CORE|core-[a-z]+>, version: "
      "<1.0.0.0:3.0.4294967295.4294967295>",
      "5|check_product_dependency|dependency check for <PLUGIN> against <CORE> failed <reason: "
      "dep not found,ver not found >",
      "2|check_installorder_compatibility|dependency fail for <PLUGIN>"};
  for (const std::string& line : closing_lines()) {
    expected.push_back(line);
  }
  EXPECT_THAT(host.lines(), ElementsAreArray(expected));
}

TEST_F(ResolutionTest, ObsoleteEntryStopsTheWalkBeforeUninstallsRun) {
  store->add("core-server", "2.0");
  store->add("CORE", "1.0");
  auto result = pm->resolve({}, {sw("VIEWER", "1.0"), sw("CORE", "1.2"), sw("PLUGIN", "2.0")});
  // The installed CORE keeps state 2: the obsolete entry never reaches step b).
  EXPECT_THAT(describe(result), ElementsAre("core-server 2.0.0.0 2", "CORE 1.0.0.0 2",
                                            "VIEWER 1.0.0.0 1", "CORE 1.2.0.0 5"));
  EXPECT_FALSE(pm->is_incompatible(result));

  const auto lines = host.lines();
  EXPECT_THAT(lines,
              ::testing::Contains("5|resolve_obsoletes|This is an obsolete version <1.2.0.0>."));
  EXPECT_THAT(lines, ::testing::Not(::testing::Contains(
                         "5|check_installorder_compatibility|[3] checking install order "
                         "compatibility for <PLUGIN>")));
  // VIEWER is compatible with CORE from 2.0: the first present CORE (by pattern) decides.
  EXPECT_THAT(lines, ::testing::Contains("5|check_product_compatibility|[pass] software id "
                                         "<core-server>, installed version:2.0.0.0 "));
}

TEST_F(ResolutionTest, EntryWithoutCatalogEntryIsLeftOut) {
  auto result = pm->resolve({}, {sw("UNKNOWN", "1.0"), sw("WINONLY", "1.0"), sw("CORE", "2.0")});
  EXPECT_THAT(describe(result), ElementsAre("CORE 2.0.0.0 1"));
  const auto lines = host.lines();
  const std::vector<std::string> head(lines.begin() + 3, lines.begin() + 11);
  EXPECT_THAT(head,
              ElementsAre("5|check_installorder_compatibility|",
                          "5|check_installorder_compatibility|[1] checking install order "
                          "compatibility for <UNKNOWN>",
                          "5|check_installorder_compatibility|getting spec entry for <UNKNOWN>",
                          "2|check_installorder_compatibility|Entry not found in spec.",
                          "5|check_installorder_compatibility|",
                          "5|check_installorder_compatibility|[2] checking install order "
                          "compatibility for <WINONLY>",
                          "5|check_installorder_compatibility|getting spec entry for <WINONLY>",
                          "2|check_installorder_compatibility|Entry not found in spec."));
  EXPECT_THAT(lines, ::testing::Contains("5|check_installorder_compatibility|compatibility "
                                         "success for <CORE>"));
}

TEST_F(ResolutionTest, InstalledCopyIsMarkedBeforeAFailedDependency) {
  store->add("SUITE", "4.0");
  store->add("legacy_7", "1.0");
  store->add("CORE", "1.0");
  // SUITE 5.0 replaces the installed SUITE and uninstalls LEGACY (known as
  // legacy_7), then fails: CORE is installed, but uninstalled by request.
  auto result = pm->resolve({sw("CORE", "1.0")}, {sw("SUITE", "5.0")});
  EXPECT_THAT(describe(result),
              ElementsAre("SUITE 4.0.0.0 10", "legacy_7 1.0.0.0 10", "CORE 1.0.0.0 10",
                          "SUITE 5.0.0.0 1 dep[CORE|core-[a-z]+ 2.0.0.0 2.0:]"));
  const auto lines = host.lines();
  EXPECT_THAT(lines, ::testing::Contains("5|resolve_uninstalls|Found uninstall product <LEGACY> "
                                         "and orqid: <legacy_7> installed, marking this "
                                         "uninstall"));
  EXPECT_THAT(lines, ::testing::Contains("5|check_product_dependency|<CORE> software with "
                                         "version: <1.0.0.0> is marked as uninstall."));
}

TEST_F(ResolutionTest, MarkedCandidatesInTheCompatibilityCheck) {
  store->add("CORE", "1.6");
  // The installed CORE 1.6 is marked by the uninstall request; CORE 2.5,
  // accepted earlier in the walk, decides VIEWER's compatibility.
  auto result = pm->resolve({sw("CORE", "1.6")}, {sw("CORE", "2.5"), sw("VIEWER", "3.0")});
  EXPECT_THAT(describe(result),
              ElementsAre("CORE 1.6.0.0 10", "CORE 2.5.0.0 1", "VIEWER 3.0.0.0 1"));
  EXPECT_THAT(host.lines(), ::testing::Contains("5|check_product_compatibility|software id "
                                                "<CORE> is marked as uninstall"));

  // Without the newer CORE the installed one is not marked and is too old.
  host.clear();
  result = pm->resolve({}, {sw("VIEWER", "3.0")});
  EXPECT_THAT(describe(result),
              ElementsAre("CORE 1.6.0.0 2", "VIEWER 3.0.0.0 1 compat[CORE 1.6.0.0 ]"));
  EXPECT_TRUE(pm->is_incompatible(result));
  EXPECT_THAT(host.lines(),
              ::testing::Contains("2|check_installorder_compatibility|compatibility fail for "
                                  "<VIEWER>"));
}

TEST_F(ResolutionTest, RescanFailureReachesTheHostWithTheStoreCode) {
  store->add("CORE", "2.0");
  auto first = pm->resolve({}, {sw("PLUGIN", "2.0")});
  EXPECT_THAT(describe(first), ElementsAre("CORE 2.0.0.0 2", "PLUGIN 2.0.0.0 1"));

  fail_next_scan(*store, static_cast<ox_error_e>(4711));
  host.clear();
  try {
    pm->resolve({}, {sw("PLUGIN", "2.0")});
    FAIL() << "no exception";
  } catch (const pm_exception& e) {
    EXPECT_EQ(static_cast<int>(e.error), 4711);
  }
  // The installed list of the last good scan is kept.
  ASSERT_EQ(softdb->get_installed_product_list().size(), 1u);
  EXPECT_THAT(host.lines(),
              ElementsAre("5|resolve|resolving installing softwares <PLUGIN(2.0.0.0); >, "
                          "uninstalling softwares <>"));
}

TEST_F(ResolutionTest, DependencyManagerAndPackageManagerMustShareTheDatabase) {
  // A second database that nobody rescans: the dependency stage sees nothing
  // installed, so PLUGIN's dependency on the installed CORE is not met.
  store->add("CORE", "2.0");
  dependency->set_softdb_manager(
      std::make_shared<system_software_database_manager>(host.context()));
  auto result = pm->resolve({}, {sw("PLUGIN", "2.0")});
  EXPECT_THAT(describe(result),
              ElementsAre("PLUGIN 2.0.0.0 1 dep[CORE|core-[a-z]+ 2.0.0.0 2.0:2.9]"));
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

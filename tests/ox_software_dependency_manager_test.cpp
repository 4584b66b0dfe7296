#include "tarvik/ox/software_dependency_manager.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/test_host.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"

namespace tarvik {
namespace ox {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

software_spec make_spec(const std::string& sref, const std::string& versions,
                        const std::string& softwareids) {
  software_spec spec;
  spec.name = sref + " product";
  spec.sref = sref;
  spec.versions.set(versions);
  spec.softwareids = softwareids;
  return spec;
}

depend make_depend(const std::string& sref, const std::string& versions) {
  depend d;
  d.sref = sref;
  d.versions.set(versions);
  d.version_text = versions;
  return d;
}

compatible make_compatible(const std::string& sref, const std::string& versions) {
  compatible c;
  c.sref = sref;
  c.versions.set(versions);
  return c;
}

installing_software installed(const std::string& id, const std::string& ver) {
  return installing_software(software(id, version(ver)), SOFTWARE_STATE_INSTALLED);
}

installing_software requested(const std::string& id, const std::string& ver) {
  return installing_software(software(id, version(ver)));
}

std::uint32_t state_of(const installing_software& entry) {
  return static_cast<std::uint32_t>(entry.state);
}

class DependencyManagerTest : public ::testing::Test {
 protected:
  DependencyManagerTest()
      : spec_mgr(std::make_shared<package_spec_manager>(host.context())),
        softdb(std::make_shared<system_software_database_manager>(host.context())),
        mgr(host.context()) {
    mgr.set_spec_mgr(spec_mgr);
    mgr.set_softdb_manager(softdb);
    mgr.set_repo_manager(std::make_shared<software_repo_manager>(host.context()));
  }

  ox_test::test_host host;
  std::shared_ptr<package_spec_manager> spec_mgr;
  std::shared_ptr<system_software_database_manager> softdb;
  software_dependency_manager mgr;
};

TEST(DependencyManagerQueriesTest, IncompatibilityQueriesLookOnlyAtFindings) {
  software_dependency_manager mgr(nullptr);
  std::vector<installing_software> list;
  EXPECT_FALSE(mgr.is_incompatible(list));
  EXPECT_FALSE(mgr.is_incompatible_dependencies(list));
  EXPECT_FALSE(mgr.is_incompatible_product(list));

  list = {requested("A", "1.0"), requested("B", "1.0")};
  list[1].state |= SOFTWARE_STATE_UNINSTALL;  // obsolete, no finding
  EXPECT_FALSE(mgr.is_incompatible(list));
  EXPECT_FALSE(mgr.is_incompatible_dependencies(list));
  EXPECT_FALSE(mgr.is_incompatible_product(list));

  list[1].failed_compatibilities.push_back(software("Y", version("4.0")));
  EXPECT_TRUE(mgr.is_incompatible(list));
  EXPECT_FALSE(mgr.is_incompatible_dependencies(list));
  EXPECT_TRUE(mgr.is_incompatible_product(list));

  list[0].failed_dependencies.push_back(software("X", version("1.0")));
  EXPECT_TRUE(mgr.is_incompatible_dependencies(list));
}

TEST(DependencyManagerQueriesTest, ResolveDependencyAndCopyCheckNothing) {
  ox_test::test_host host;
  software_dependency_manager mgr(host.context());
  auto result =
      mgr.resolve_dependency({software("A", version("1.0")), software("B", version("2.0"))});
  ASSERT_EQ(result.size(), 2u);
  EXPECT_EQ(result[0].id, "A");
  EXPECT_EQ(result[1].id, "B");
  EXPECT_EQ(state_of(result[0]), 1u);
  EXPECT_EQ(state_of(result[1]), 1u);
  EXPECT_TRUE(result[1].failed_dependencies.empty());
  EXPECT_TRUE(mgr.resolve_dependency({}).empty());

  std::vector<installing_software> list = {installed("X", "1.0"), requested("Y", "2.0")};
  list[0].failed_dependencies.push_back(software("D", version("1.0")));
  auto copy = mgr.resolve_installorder_compatibility(list);
  ASSERT_EQ(copy.size(), 2u);
  EXPECT_EQ(copy[0].id, "X");
  EXPECT_EQ(state_of(copy[0]), 2u);
  EXPECT_EQ(copy[0].failed_dependencies.size(), 1u);
  EXPECT_TRUE(host.records().empty());
}

TEST(DependencyManagerQueriesTest, SettersReplaceAndReleaseTheirShare) {
  auto first = std::make_shared<system_software_database_manager>(nullptr);
  auto second = std::make_shared<system_software_database_manager>(nullptr);
  software_dependency_manager mgr(nullptr);
  mgr.set_softdb_manager(first);
  EXPECT_EQ(first.use_count(), 2);
  mgr.set_softdb_manager(second);
  EXPECT_EQ(first.use_count(), 1);
  EXPECT_EQ(second.use_count(), 2);
}

TEST(DependencyManagerQueriesTest, MissingCollaboratorsAreReportedBeforeAnythingHappens) {
  ox_test::test_host host;
  auto spec_mgr = std::make_shared<package_spec_manager>(host.context());
  auto softdb = std::make_shared<system_software_database_manager>(host.context());
  std::vector<installing_software> install = {requested("A", "1.0")};

  for (int wiring = 0; wiring < 3; ++wiring) {
    software_dependency_manager mgr(host.context());
    if (wiring == 1) {
      mgr.set_spec_mgr(spec_mgr);
    } else if (wiring == 2) {
      mgr.set_softdb_manager(softdb);
    }
    try {
      mgr.check_installorder_compatibility({}, install);
      ADD_FAILURE() << "no exception, wiring " << wiring;
    } catch (const pm_exception& e) {
      EXPECT_EQ(e.error, OX_ERROR_INVALID_ARGUMENT);
    }
  }

  software_dependency_manager bare(host.context());
  std::vector<installing_software> working;
  installing_software entry = requested("A", "1.0");
  software_spec spec = make_spec("A", "1.0", "A");
  EXPECT_THROW(bare.resolve_uninstalls(working, entry, spec), pm_exception);
  EXPECT_THROW(bare.check_product_dependency(working, entry, spec), pm_exception);
  EXPECT_THROW(bare.check_product_compatibility(working, entry, spec, {}), pm_exception);
  EXPECT_TRUE(host.records().empty());
}

TEST_F(DependencyManagerTest, ObsoleteVersionsAreFlaggedOncePerContainingElement) {
  software_spec spec = make_spec("A", "1.0:5.0", "A");
  spec.obsoletes.emplace_back();
  spec.obsoletes.back().set("1.0.0.0:2.0.0.0");
  spec.obsoletes.emplace_back();
  spec.obsoletes.back().set("1.5.0.0:3.0.0.0");

  installing_software inside = requested("A", "1.6.0.0");
  EXPECT_TRUE(mgr.resolve_obsoletes(inside, spec));
  EXPECT_EQ(state_of(inside), 5u);
  EXPECT_THAT(host.lines(),
              ElementsAre("5|resolve_obsoletes|step a). checking resolve obsoletes for <A>, "
                          "version: 1.6.0.0",
                          "5|resolve_obsoletes|checking with versions range: 1.0.0.0:2.0.0.0",
                          "5|resolve_obsoletes|This is an obsolete version <1.6.0.0>.",
                          "5|resolve_obsoletes|checking with versions range: 1.5.0.0:3.0.0.0",
                          "5|resolve_obsoletes|This is an obsolete version <1.6.0.0>."));

  host.clear();
  installing_software outside = requested("A", "4.0.0.0");
  EXPECT_FALSE(mgr.resolve_obsoletes(outside, spec));
  EXPECT_EQ(state_of(outside), 1u);
  EXPECT_EQ(host.lines().size(), 3u);

  host.clear();
  installing_software plain = requested("A", "4.0.0.0");
  EXPECT_FALSE(mgr.resolve_obsoletes(plain, make_spec("A", "1.0", "A")));
  EXPECT_EQ(host.lines().size(), 1u);
}

TEST_F(DependencyManagerTest, UninstallsMarkReplacedAndListedInstalledSoftware) {
  // OLDTOOL is known under a management id pattern; the new suite uninstalls it.
  spec_mgr->add(make_spec("OLDTOOL", "", "OLD_[0-9]+"));
  software_spec suite = make_spec("SUITE", "", "SUITE");
  software product;
  product.set_id("OLDTOOL");
  product.set_name("Old tool");
  suite.uninstalls.push_back(product);
  suite.uninstalls.push_back(product);  // listed twice: logged twice

  std::vector<installing_software> working = {
      installed("SUITE", "1.0.0.0"),  // same id: replaced, whatever its version
      installed("OLD_77", "3.0"),     // matched through the pattern of OLDTOOL
      installed("OTHER", "1.0"),      // unrelated
      installed("OLDTOOL", "1.0"),    // the sref itself is not a management id here
      requested("SUITE", "0.5"),      // accepted earlier in the walk: never marked
  };
  working[2].state |= SOFTWARE_STATE_MARKED_UNINSTALL;  // already marked stays 10
  installing_software entry = requested("SUITE", "2.0.0.0");
  mgr.resolve_uninstalls(working, entry, suite);

  EXPECT_EQ(state_of(working[0]), 10u);
  EXPECT_EQ(state_of(working[1]), 10u);
  EXPECT_EQ(state_of(working[2]), 10u);
  EXPECT_EQ(state_of(working[3]), 2u);
  EXPECT_EQ(state_of(working[4]), 1u);
  EXPECT_EQ(state_of(entry), 1u);
  EXPECT_THAT(host.lines(),
              ElementsAre("5|resolve_uninstalls|step b). checking resolve uninstalls for <SUITE>",
                          "5|resolve_uninstalls|Found uninstall product <OLDTOOL> and orqid: "
                          "<OLD_77> installed, marking this uninstall",
                          "5|resolve_uninstalls|Found uninstall product <OLDTOOL> and orqid: "
                          "<OLD_77> installed, marking this uninstall"));
}

TEST_F(DependencyManagerTest, UninstallsMatchTheSpecEntrySrefExactly) {
  std::vector<installing_software> working = {installed("CORE", "1.0"), installed("core", "1.0")};
  installing_software entry = requested("CORE_NEXT", "2.0");
  mgr.resolve_uninstalls(working, entry, make_spec("CORE", "", "CORE_NEXT"));
  EXPECT_EQ(state_of(working[0]), 10u);
  EXPECT_EQ(state_of(working[1]), 2u);
}

// A pm_exception raised inside the walk: only the not-found error is a
// finding; any other code reaches the caller as it is. The host's capability
// raises it here, when step c) has the required software's pattern described.
TEST_F(DependencyManagerTest, OnlyTheNotFoundErrorBecomesAFinding) {
  static ox_error_e raised = OX_OK;
  static const ox_regex_literals_s raising = {
      OX_REGEX_LITERALS_TAG, sizeof(ox_regex_literals_s),
      [](const ox_regex_literals_s*, const char*, ox_regex_alternative_fn, void*) -> int {
        if (raised != OX_OK) {
          throw pm_exception(raised);
        }
        return 0;  // cannot tell
      }};
  host.ctx.set_object(OX_OBJECT_REGEX_LITERALS, const_cast<ox_regex_literals_s*>(&raising));
  raised = OX_OK;
  spec_mgr->add(make_spec("CORE", "", "CORE"));
  software_spec app = make_spec("APP", "", "APP");
  app.depends.push_back(make_depend("CORE", "1.0:"));
  spec_mgr->add(app);
  softdb->set_installed_products({software("CORE", version("1.0"))});
  const std::vector<installing_software> install = {requested("APP", "2.0")};

  for (const ox_error_e code : {OX_ERROR_LIMIT_EXCEEDED, OX_ERROR_INVALID_ARGUMENT,
                                static_cast<ox_error_e>(-1), OX_ERROR_UNEXPECTED}) {
    raised = code;
    try {
      mgr.check_installorder_compatibility({}, install);
      ADD_FAILURE() << "code " << code << " was taken for a finding";
    } catch (const pm_exception& e) {
      EXPECT_EQ(e.code(), code);
    }
  }

  raised = OX_ERROR_NOT_FOUND;
  host.clear();
  const std::vector<installing_software> result = mgr.check_installorder_compatibility({}, install);
  raised = OX_OK;
  ASSERT_EQ(result.size(), 2u);
  ASSERT_EQ(result[1].failed_dependencies.size(), 1u);
  EXPECT_THAT(host.lines(),
              ::testing::Contains("2|check_product_dependency|Entry not found in spec."));
}

class DependencyCheckTest : public DependencyManagerTest {
 protected:
  void SetUp() override {
    // X is recognised by ids "X" and "X-[a-z]+"; its own entry covers 1.0 to 9.0.
    spec_mgr->add(make_spec("X", "1.0:9.0", "X|X-[a-z]+"));
    spec_mgr->add(make_spec("Y", "", "Y"));
  }

  software_spec app_depending_on(const std::string& versions) {
    software_spec app = make_spec("APP", "", "APP");
    app.depends.push_back(make_depend("X", versions));
    return app;
  }
};

TEST_F(DependencyCheckTest, NoDependenciesPass) {
  std::vector<installing_software> working;
  installing_software entry = requested("APP", "1.0");
  EXPECT_TRUE(mgr.check_product_dependency(working, entry, make_spec("APP", "", "APP")));
  EXPECT_THAT(host.lines(),
              ElementsAre("5|check_product_dependency|step c). checking dependency for <APP>"));
  EXPECT_TRUE(entry.failed_dependencies.empty());
}

TEST_F(DependencyCheckTest, FirstRecognisedEntryDecides) {
  struct dependency_case {
    const char* name;
    std::vector<installing_software> working;
    bool result;
    std::vector<std::string> candidate_lines;  // between "spec found" and the end
    std::string reason;                        // empty when met
    bool legacy = false;
  };
  auto marked = installed("X", "1.5.0.0");
  marked.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
  const std::vector<dependency_case> cases = {
      {"within",
       {installed("OTHER", "1.0"), installed("X-core", "1.5.0.0")},
       true,
       {"5|check_product_dependency|<X-core> is installed in system, with version: <1.5.0.0>",
        "5|check_product_dependency|[pass]<X-core> is installed in system, with version: "
        "<1.5.0.0>, version check success."},
       ""},
      {"outside",
       {installed("X", "3.0.0.0")},
       false,
       {"5|check_product_dependency|<X> is installed in system, with version: <3.0.0.0>",
        "2|check_product_dependency|[fail]<X> is installed in system, with version: <3.0.0.0>, "
        "version check fail."},
       "dep found,ver not found"},
      {"first match marked, the next one decides",
       {marked, installed("OTHER", "1.0"), requested("X", "1.6.0.0")},
       true,
       {"5|check_product_dependency|<X> is installed in system, with version: <1.5.0.0>",
        "5|check_product_dependency|<X> software with version: <1.5.0.0> is marked as "
        "uninstall.",
        "5|check_product_dependency|<X> is installed in system, with version: <1.6.0.0>",
        "5|check_product_dependency|[pass]<X> is installed in system, with version: "
        "<1.6.0.0>, version check success."},
       ""},
      {"every match marked",
       {marked, installed("OTHER", "1.0")},
       false,
       {"5|check_product_dependency|<X> is installed in system, with version: <1.5.0.0>",
        "5|check_product_dependency|<X> software with version: <1.5.0.0> is marked as "
        "uninstall."},
       "dep not found,ver not found"},
      {"legacy: the first match decides even when marked",
       {marked, requested("X", "1.6.0.0")},
       false,
       {"5|check_product_dependency|<X> is installed in system, with version: <1.5.0.0>",
        "5|check_product_dependency|<X> software with version: <1.5.0.0> is marked as "
        "uninstall."},
       "dep not found,ver not found",
       true},
      {"no match", {installed("OTHER", "1.0")}, false, {}, "dep not found,ver not found"},
  };
  for (const dependency_case& c : cases) {
    SCOPED_TRACE(c.name);
    host.clear();
    mgr.set_legacy_dependency_checks(c.legacy);
    std::vector<installing_software> working = c.working;
    installing_software entry = requested("APP", "1.0");
    EXPECT_EQ(mgr.check_product_dependency(working, entry, app_depending_on("1.0.0.0:2.0.0.0")),
              c.result);
    std::vector<std::string> expected = {
        "5|check_product_dependency|step c). checking dependency for <APP>",
        "5|check_product_dependency|dependency check for <APP> against id <X>, version: "
        "<1.0.0.0:2.0.0.0>",
        "5|check_product_dependency|spec found for <X>, orqid: <X|X-[a-z]+>, version: "
        "<1.0.0.0:9.0.4294967295.4294967295>"};
    expected.insert(expected.end(), c.candidate_lines.begin(), c.candidate_lines.end());
    if (!c.reason.empty()) {
      expected.push_back(
          "5|check_product_dependency|dependency check for <APP> against <X> failed <reason: " +
          c.reason + " >");
      ASSERT_EQ(entry.failed_dependencies.size(), 1u);
      EXPECT_EQ(entry.failed_dependencies[0].id, "X|X-[a-z]+");
      EXPECT_EQ(entry.failed_dependencies[0].version.getversion(), "1.0.0.0");
      EXPECT_EQ(entry.failed_dependencies[0].version_text, "1.0.0.0:2.0.0.0");
    } else {
      EXPECT_TRUE(entry.failed_dependencies.empty());
    }
    EXPECT_THAT(host.lines(), ElementsAreArray(expected));
  }
}

TEST_F(DependencyCheckTest, EntriesAreRecognisedByPatternNotBySref) {
  spec_mgr->add(make_spec("Z", "", "Z-[0-9]+"));
  software_spec app = make_spec("APP", "", "APP");
  app.depends.push_back(make_depend("Z", ""));
  std::vector<installing_software> working = {installed("Z", "1.0")};
  installing_software entry = requested("APP", "1.0");
  EXPECT_FALSE(mgr.check_product_dependency(working, entry, app));
  EXPECT_EQ(host.lines().back(),
            "5|check_product_dependency|dependency check for <APP> against <Z> failed <reason: "
            "dep not found,ver not found >");
}

TEST_F(DependencyCheckTest, MissingSpecEntryIsAnUnmetDependencyWithoutId) {
  software_spec app = make_spec("APP", "", "APP");
  app.depends.push_back(make_depend("NOPE", "2.5|3.0"));
  app.depends.push_back(make_depend("X", ""));  // never examined
  std::vector<installing_software> working = {installed("X", "1.0")};
  installing_software entry = requested("APP", "1.0");
  EXPECT_FALSE(mgr.check_product_dependency(working, entry, app));
  EXPECT_THAT(host.lines(),
              ElementsAre("5|check_product_dependency|step c). checking dependency for <APP>",
                          "5|check_product_dependency|dependency check for <APP> against id "
                          "<NOPE>, version: <2.5.0.0:2.5.4294967295.4294967295|3.0.0.0:3.0."
                          "4294967295.4294967295>",
                          "2|check_product_dependency|Entry not found in spec.",
                          "5|check_product_dependency|dependency check for <APP> against <NOPE> "
                          "failed <reason: dep not found,ver not found >"));
  ASSERT_EQ(entry.failed_dependencies.size(), 1u);
  EXPECT_EQ(entry.failed_dependencies[0].id, "");
  EXPECT_EQ(entry.failed_dependencies[0].version.getversion(), "2.5.0.0");
  EXPECT_EQ(entry.failed_dependencies[0].version_text, "2.5|3.0");
}

TEST_F(DependencyCheckTest, DependencyWithoutValidRangeRecordsVersionZero) {
  software_spec app = make_spec("APP", "", "APP");
  app.depends.push_back(make_depend("X", "2.0:1.0"));
  std::vector<installing_software> working = {installed("X", "1.5")};
  installing_software entry = requested("APP", "1.0");
  EXPECT_FALSE(mgr.check_product_dependency(working, entry, app));
  ASSERT_EQ(entry.failed_dependencies.size(), 1u);
  EXPECT_EQ(entry.failed_dependencies[0].version.getversion(), "0.0.0.0");
  EXPECT_EQ(entry.failed_dependencies[0].version_text, "2.0:1.0");
}

class CompatibilityCheckTest : public DependencyManagerTest {
 protected:
  void SetUp() override { spec_mgr->add(make_spec("Y", "", "Y|Y-[a-z]+")); }
};

TEST_F(CompatibilityCheckTest, FirstPresentUnmarkedEntryDecides) {
  struct compat_case {
    const char* name;
    std::vector<installing_software> working;
    bool result;
    std::vector<std::string> tail;  // lines after "spec found"
  };
  auto marked = installed("Y", "4.0.0.0");
  marked.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
  const std::string fn = "5|check_product_compatibility|";
  const std::vector<compat_case> cases = {
      {"absent",
       {installed("OTHER", "1.0")},
       true,
       {fn + "[pass] compatibility check for <APP> passed. software not installed or marked "
             "uninstall, ver not found"}},
      {"within",
       {installed("Y-lib", "2.5.0.0")},
       true,
       {fn + "[pass] compatibility check for <APP> passed. software installed, ver found",
        fn + "[pass] software id <Y-lib>, installed version:2.5.0.0 "}},
      {"outside",
       {installed("Y", "4.0.0.0"), requested("Y", "2.5.0.0")},
       false,
       {fn + "[failed] compatibility check for <APP> software id <Y>,installed version:4.0.0.0,  "
             "<reason: software installed,ver not found >"}},
      {"marked passed over",
       {marked, requested("Y", "2.5.0.0")},
       true,
       {fn + "software id <Y> is marked as uninstall",
        fn + "[pass] compatibility check for <APP> passed. software installed, ver found",
        fn + "[pass] software id <Y>, installed version:2.5.0.0 "}},
      {"only marked",
       {marked},
       true,
       {fn + "software id <Y> is marked as uninstall",
        fn + "[pass] compatibility check for <APP> passed. software not installed or marked "
             "uninstall, ver not found"}},
  };
  software_spec app = make_spec("APP", "", "APP");
  app.compatibles.push_back(make_compatible("Y", "2.0.0.0:3.0.0.0"));
  for (const compat_case& c : cases) {
    SCOPED_TRACE(c.name);
    host.clear();
    std::vector<installing_software> working = c.working;
    installing_software entry = requested("APP", "1.0");
    EXPECT_EQ(mgr.check_product_compatibility(working, entry, app, {}), c.result);
    std::vector<std::string> expected = {
        fn + "step d). checking compatibility for <APP>",
        fn + "compatibility check for <APP> against id <Y>, version <2.0.0.0:3.0.0.0>",
        fn + "spec found for <Y>, orqid: <Y|Y-[a-z]+>, version: <2.0.0.0:3.0.0.0>"};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_THAT(host.lines(), ElementsAreArray(expected));
    if (c.result) {
      EXPECT_TRUE(entry.failed_compatibilities.empty());
    } else {
      ASSERT_EQ(entry.failed_compatibilities.size(), 1u);
      EXPECT_EQ(entry.failed_compatibilities[0].id, "Y");
      EXPECT_EQ(entry.failed_compatibilities[0].version.getversion(), "4.0.0.0");
      EXPECT_EQ(entry.failed_compatibilities[0].version_text, "");
    }
  }
}

TEST_F(CompatibilityCheckTest, MissingSpecEntryPassesAndAFailureStopsTheCheck) {
  software_spec app = make_spec("APP", "", "APP");
  app.compatibles.push_back(make_compatible("NOPE", "1.0"));
  app.compatibles.push_back(make_compatible("Y", "1.0"));
  app.compatibles.push_back(make_compatible("Y", "9.0"));  // never examined
  std::vector<installing_software> working = {installed("Y", "4.0")};
  installing_software entry = requested("APP", "1.0");
  EXPECT_FALSE(mgr.check_product_compatibility(working, entry, app, {}));
  const std::string fn = "check_product_compatibility|";
  EXPECT_THAT(
      host.lines(),
      ElementsAre("5|" + fn + "step d). checking compatibility for <APP>",
                  "5|" + fn +
                      "compatibility check for <APP> against id <NOPE>, version "
                      "<1.0.0.0:1.0.4294967295.4294967295>",
                  "2|" + fn + "Entry not found in spec.",
                  "5|" + fn +
                      "[pass] compatibility check for <APP> passed. software not installed or "
                      "marked uninstall, ver not found",
                  "5|" + fn +
                      "compatibility check for <APP> against id <Y>, version "
                      "<1.0.0.0:1.0.4294967295.4294967295>",
                  "5|" + fn +
                      "spec found for <Y>, orqid: <Y|Y-[a-z]+>, version: "
                      "<1.0.0.0:1.0.4294967295.4294967295>",
                  "5|" + fn +
                      "[failed] compatibility check for <APP> software id <Y>,installed "
                      "version:4.0.0.0,  <reason: software installed,ver not found >"));
  EXPECT_EQ(entry.failed_compatibilities.size(), 1u);
}

TEST_F(CompatibilityCheckTest, NoRelationsPass) {
  std::vector<installing_software> working = {installed("Y", "4.0")};
  installing_software entry = requested("APP", "1.0");
  EXPECT_TRUE(mgr.check_product_compatibility(working, entry, make_spec("APP", "", "APP"), {}));
  EXPECT_THAT(
      host.lines(),
      ElementsAre("5|check_product_compatibility|step d). checking compatibility for <APP>"));
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

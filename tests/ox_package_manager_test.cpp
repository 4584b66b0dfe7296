#include "tarvik/ox/package_manager.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/test_host.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/software_conflict_manager.hpp"
#include "tarvik/ox/software_dependency_manager.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"

namespace tarvik {
namespace ox {
namespace {

using ::testing::ElementsAre;

software sw(const std::string& id, const std::string& ver) {
  return software(id, version(ver));
}

TEST(PackageManagerTest, EmptyRequestIsLoggedThenRejected) {
  ox_test::test_host host;
  package_manager pm(host.context());
  pm.set_conflict_manager(std::make_shared<software_conflict_manager>(host.context()));
  try {
    pm.resolve({}, {});
    FAIL() << "no exception";
  } catch (const pm_exception& e) {
    EXPECT_EQ(e.error, OX_ERROR_INVALID_ARGUMENT);
  }
  EXPECT_THAT(host.lines(),
              ElementsAre("5|resolve|resolving installing softwares <>, uninstalling softwares <>",
                          "2|resolve|Install and uninstall lists are null"));
  const auto records = host.records();
  EXPECT_EQ(records[0].file, "ox_package_manager");
  EXPECT_EQ(records[0].service, "pm_service");
}

TEST(PackageManagerTest, WithoutCollaboratorsOnlyTheRequestIsLogged) {
  ox_test::test_host host;
  package_manager pm(host.context());
  auto result = pm.resolve({sw("OLD", "0.1")}, {sw("A", "1.2.3.4"), sw("B", "5.0.0.0")});
  EXPECT_TRUE(result.empty());
  EXPECT_THAT(host.lines(), ElementsAre("5|resolve|resolving installing softwares <A(1.2.3.4); "
                                        "B(5.0.0.0); >, uninstalling softwares <OLD(0.1.0.0); >"));
  std::vector<installing_software> list(1);
  list[0].detected_conflicts.push_back(conflict_info{"C", 1});
  list[0].failed_dependencies.push_back(sw("D", "1.0"));
  EXPECT_FALSE(pm.is_conflicted(list));
  EXPECT_FALSE(pm.is_incompatible(list));
}

TEST(PackageManagerTest, ConflictStageWithoutDependencyStage) {
  ox_test::test_host host;
  package_manager pm(host.context());
  pm.set_conflict_manager(std::make_shared<software_conflict_manager>(host.context()));
  pm.set_repo_manager(std::make_shared<software_repo_manager>(host.context()));
  auto result = pm.resolve({}, {sw("A", "1.0")});
  EXPECT_TRUE(result.empty());
  EXPECT_THAT(host.lines(),
              ElementsAre("5|resolve|resolving installing softwares <A(1.0.0.0); >, uninstalling "
                          "softwares <>",
                          "5|resolve|check_conflict <start> for only installing software.",
                          "5|resolve|check_conflict <ends>", "5|resolve|"));
  std::vector<installing_software> list(2);
  EXPECT_FALSE(pm.is_conflicted(list));
  list[1].detected_conflicts.push_back(conflict_info{"C", 1});
  EXPECT_TRUE(pm.is_conflicted(list));
}

TEST(PackageManagerTest, UninstallOnlyMarksEveryInstalledCopy) {
  ox_test::test_host host;
  auto spec_mgr = std::make_shared<package_spec_manager>(host.context());
  auto softdb = std::make_shared<system_software_database_manager>(host.context());
  softdb->set_installed_products({sw("X", "1.0"), sw("Y", "2.0"), sw("X", "2.0")});
  auto dep = std::make_shared<software_dependency_manager>(host.context());
  dep->set_spec_mgr(spec_mgr);
  dep->set_softdb_manager(softdb);
  package_manager pm(host.context());
  pm.set_dependency_manager(dep);

  const std::vector<software> uninstall = {sw("X", "9.9"), sw("NOT_INSTALLED", "1.0")};
  auto result = pm.resolve(uninstall, {});
  ASSERT_EQ(result.size(), 3u);
  EXPECT_EQ(result[0].id, "X");
  EXPECT_EQ(static_cast<std::uint32_t>(result[0].state), 10u);
  EXPECT_EQ(static_cast<std::uint32_t>(result[1].state), 2u);
  EXPECT_EQ(result[2].version.getversion(), "2.0.0.0");
  EXPECT_EQ(static_cast<std::uint32_t>(result[2].state), 10u);
  EXPECT_FALSE(pm.is_incompatible(result));
  EXPECT_THAT(host.lines(),
              ElementsAre("5|resolve|resolving installing softwares <>, uninstalling softwares "
                          "<X(9.9.0.0); NOT_INSTALLED(1.0.0.0); >",
                          "5|check_installorder_compatibility|checking install order compatibility",
                          "5|resolve|"));
  // The host's lists are read only.
  EXPECT_EQ(uninstall[0].version.getversion(), "9.9.0.0");
}

TEST(PackageManagerTest, DependencyStageErrorsReachTheHostUnchanged) {
  ox_test::test_host host;
  package_manager pm(host.context());
  // A dependency manager that lacks its collaborators cannot check anything.
  pm.set_dependency_manager(std::make_shared<software_dependency_manager>(host.context()));
  try {
    pm.resolve({}, {sw("A", "1.0")});
    FAIL() << "no exception";
  } catch (const pm_exception& e) {
    EXPECT_EQ(e.error, OX_ERROR_INVALID_ARGUMENT);
  }
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

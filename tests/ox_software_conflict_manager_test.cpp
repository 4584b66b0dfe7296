#include "tarvik/ox/software_conflict_manager.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "support/test_host.hpp"
#include "tarvik/ox/software_repo_manager.hpp"

namespace tarvik {
namespace ox {
namespace {

std::vector<installing_software> list_of(std::size_t count) {
  std::vector<installing_software> list;
  for (std::size_t i = 0; i < count; ++i) {
    list.emplace_back(software("S" + std::to_string(i), version("1.0")));
  }
  return list;
}

TEST(SoftwareConflictManagerTest, IsConflictedLooksForAnyDetectedConflict) {
  software_conflict_manager mgr(nullptr);
  EXPECT_FALSE(mgr.is_conflicted({}));

  auto list = list_of(3);
  EXPECT_FALSE(mgr.is_conflicted(list));
  list.back().detected_conflicts.push_back(conflict_info{"X", 0});
  EXPECT_TRUE(mgr.is_conflicted(list));
  list.front().detected_conflicts.push_back(conflict_info{"Y", 2});
  EXPECT_TRUE(mgr.is_conflicted(list));
}

TEST(SoftwareConflictManagerTest, CheckAndResolveLeaveTheListUnchangedAndLogNothing) {
  ox_test::test_host host;
  software_conflict_manager mgr(host.context());
  for (std::size_t n : {0u, 1u, 5u}) {
    auto list = list_of(n);
    if (n > 0) {
      list[0].state |= SOFTWARE_STATE_MARKED_UNINSTALL;
      list[0].failed_dependencies.push_back(software("D", version("1.0")));
    }
    mgr.check_conflict(list);
    mgr.resolve(list);
    ASSERT_EQ(list.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(list[i].id, "S" + std::to_string(i));
      EXPECT_TRUE(list[i].detected_conflicts.empty());
    }
    if (n > 0) {
      EXPECT_EQ(static_cast<std::uint32_t>(list[0].state), 9u);
      EXPECT_EQ(list[0].failed_dependencies.size(), 1u);
    }
  }
  EXPECT_TRUE(host.records().empty());
}

TEST(SoftwareConflictManagerTest, SettersShareAndReplaceOwnership) {
  auto repo = std::make_shared<software_repo_manager>(nullptr);
  auto second = std::make_shared<software_repo_manager>(nullptr);
  {
    software_conflict_manager mgr(nullptr);
    mgr.set_repo_manager(repo);
    EXPECT_EQ(repo.use_count(), 2);
    mgr.set_repo_manager(second);
    EXPECT_EQ(repo.use_count(), 1);
    EXPECT_EQ(second.use_count(), 2);
    mgr.set_spec_mgr(nullptr);
    mgr.set_softdb_manager(nullptr);
  }
  EXPECT_EQ(second.use_count(), 1);
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

#include "tarvik/ox/software_repo_manager.hpp"

#include <gtest/gtest.h>

namespace tarvik {
namespace ox {
namespace {

void expect_empty(const software_package& package) {
  EXPECT_EQ(package.id, "");
  EXPECT_EQ(package.name, "");
  EXPECT_EQ(package.location, "");
  EXPECT_EQ(package.version.getversion(), "4294967295.4294967295.4294967295.4294967295");
}

TEST(SoftwareRepoManagerTest, KeepsNothingWhateverIsAdded) {
  software_repo_manager repo(nullptr);
  expect_empty(software_package());
  expect_empty(repo.find("A", "1.0"));

  software_package package;
  package.id = "A";
  package.name = "Product A";
  package.location = "/pkg/a";
  package.version = version("1.0.0.0");
  repo.clear();
  repo.add(package);
  repo.load();
  repo.add(package);
  expect_empty(repo.find("A", "1.0.0.0"));
  expect_empty(repo.find("", ""));
  repo.clear();
  repo.load();
  expect_empty(repo.find("A", "1.0.0.0"));
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

#include "show.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/test_host.hpp"
#include "tarvik/ox/package_spec_manager.hpp"

namespace tarvik {
namespace oxpm {
namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class ShowTest : public ::testing::Test {
 protected:
  ShowTest() : specs(host.context()) {
    ox::software_spec two;
    two.sref = "runtime";
    two.name = "Runtime 2";
    two.softwareids = "runtime|RT_[0-9]+";
    two.versions.set("2.0:2.9");
    ox::software provided;
    provided.set_id("crypto");
    provided.set_name("Crypto");
    two.provides.push_back(provided);
    ox::version_ranges old;
    old.set("2.0:2.2");
    two.obsoletes.push_back(old);
    ox::depend dep;
    dep.sref = "base";
    dep.version_text = "1.0:1.9";
    dep.versions.set(dep.version_text);
    two.depends.push_back(dep);
    ox::compatible comp;
    comp.sref = "db";
    comp.versions.set("5.0:");
    two.compatibles.push_back(comp);
    ox::conflict clash;
    clash.name = "foreign";
    clash.action = ox::CONFLICT_ACTION_UNINSTALL;
    auto registry = std::make_shared<ox::conflict_check_registry>();
    registry->hkey = "HKLM";
    registry->path = "SOFTWARE\\Foreign";
    registry->key = "Version";
    registry->match = "1.*";
    clash.check = registry;
    two.conflicts.push_back(clash);
    specs.add(two);

    ox::software_spec three;
    three.sref = "runtime";
    three.name = "Runtime 3";
    three.softwareids = "runtime";
    three.versions.set("3.0:3.9");
    specs.add(three);
  }

  ox_test::test_host host;
  ox::package_spec_manager specs;
};

TEST_F(ShowTest, ShowsTheEntryFindIdReturnsWithItsRelations) {
  const show_result shown = show_entry(specs, "runtime", std::nullopt, style());
  EXPECT_TRUE(shown.found);
  EXPECT_EQ(shown.text,
            "runtime (\"Runtime 2\")\n"
            "  versions: 2.0.0.0 to 2.9.*.*  [2.0.0.0:2.9.4294967295.4294967295]\n"
            "  softwareids: \"runtime|RT_[0-9]+\"\n"
            "  provides:\n"
            "    crypto (\"Crypto\")\n"
            "  uninstalls: (none)\n"
            "  obsoletes:\n"
            "    2.0.0.0 to 2.2.*.*\n"
            "  depends:\n"
            "    base \"1.0:1.9\" (1.0.0.0 to 1.9.*.*)\n"
            "  compatibles:\n"
            "    db 5.0.0.0 or later\n"
            "  conflicts:\n"
            "    \"foreign\", action Uninstall: registry hkey \"HKLM\", path "
            "\"SOFTWARE\\Foreign\", key \"Version\", match \"1.*\"\n"
            "  answers to: \"runtime\" (its sref)\n");
}

TEST_F(ShowTest, AVersionSelectsTheEntryThatFindReturns) {
  const show_result three = show_entry(specs, "runtime", std::string("3.1"), style());
  EXPECT_TRUE(three.found);
  EXPECT_EQ(three.text.rfind("runtime (\"Runtime 3\")\n", 0), 0u) << three.text;

  const show_result by_pattern = show_entry(specs, "RT_7", std::string("2.5"), style());
  EXPECT_TRUE(by_pattern.found);
  EXPECT_TRUE(contains(by_pattern.text, "answers to: \"RT_7\" (through its softwareids pattern)"))
      << by_pattern.text;
}

TEST_F(ShowTest, NotFoundSaysSoAndListsOtherVersions) {
  const show_result other_version = show_entry(specs, "runtime", std::string("5.0"), style());
  EXPECT_FALSE(other_version.found);
  EXPECT_EQ(other_version.text,
            "\"runtime\" version 5.0.0.0: not found\n"
            "  Entries answer to \"runtime\" for other versions:\n"
            "    2.0.0.0 to 2.9.*.*\n"
            "    3.0.0.0 to 3.9.*.*\n");

  const show_result unknown = show_entry(specs, "Runtime", std::nullopt, style());
  EXPECT_FALSE(unknown.found);
  EXPECT_EQ(unknown.text, "\"Runtime\": not found\n  No catalog entry answers to this id.\n");
  EXPECT_TRUE(
      contains(show_entry(specs, "x", std::nullopt, style(true)).text, "\x1b[31mnot found\x1b[0m"));
}

TEST(ActionNameTest, NamesTheThreeActions) {
  EXPECT_STREQ(action_name(ox::CONFLICT_ACTION_ERRORFAIL), "ErrorFail");
  EXPECT_STREQ(action_name(ox::CONFLICT_ACTION_UNINSTALL), "Uninstall");
  EXPECT_STREQ(action_name(ox::CONFLICT_ACTION_IGNORE), "Ignore");
  EXPECT_STREQ(action_name(7), "unknown");
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

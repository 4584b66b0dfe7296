#include "tarvik/ox/software.hpp"

#include <gtest/gtest.h>

#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {
namespace {

TEST(SoftwareTest, Constructors) {
  software none;
  EXPECT_EQ(none.id, "");
  EXPECT_EQ(none.name, "");
  EXPECT_EQ(none.version_text, "");
  EXPECT_EQ(none.get_version().getversion(), "4294967295.4294967295.4294967295.4294967295");

  software two("A", version("1.2.3.4"));
  EXPECT_EQ(two.get_id(), "A");
  EXPECT_EQ(two.get_version().getversion(), "1.2.3.4");
  EXPECT_EQ(two.version_text, "");

  software three("B", version("2.0"), "2.0:3.0");
  EXPECT_EQ(three.version_text, "2.0:3.0");
  EXPECT_EQ(three.name, "");

  three.set_name("Bee");
  three.set_id("C");
  three.set_ver(version("9.0"));
  software copy = three;
  EXPECT_EQ(copy.name, "Bee");
  EXPECT_EQ(copy.id, "C");
  EXPECT_EQ(copy.version.getversion(), "9.0.0.0");
  EXPECT_EQ(copy.version_text, "2.0:3.0");
}

TEST(InstallingSoftwareTest, ConstructionAndConversionKeepOnlyTheIdentity) {
  installing_software blank;
  EXPECT_EQ(blank.state, SOFTWARE_STATE_INSTALL);
  EXPECT_EQ(blank.reserved, 0u);
  EXPECT_EQ(blank.version.getversion(), "4294967295.4294967295.4294967295.4294967295");

  software named("A", version("1.0.0.0"), "1.0");
  named.set_name("Product A");
  installing_software entry(named);
  EXPECT_EQ(entry.id, "A");
  EXPECT_EQ(entry.state, SOFTWARE_STATE_INSTALL);
  EXPECT_TRUE(entry.failed_dependencies.empty());
  EXPECT_TRUE(entry.failed_compatibilities.empty());
  EXPECT_TRUE(entry.detected_conflicts.empty());

  installing_software removed(named, SOFTWARE_STATE_UNINSTALL);
  EXPECT_EQ(removed.state, SOFTWARE_STATE_UNINSTALL);

  entry.failed_dependencies.push_back(software("X", version("1.0")));
  entry.state |= SOFTWARE_STATE_UNINSTALL;
  software back = entry;
  EXPECT_EQ(back.id, "A");
  EXPECT_EQ(back.version.getversion(), "1.0.0.0");
  EXPECT_EQ(back.name, "");
  EXPECT_EQ(back.version_text, "");
}

TEST(InstallingSoftwareTest, StateBitsAreOnlyAdded) {
  installing_software installed(software("X", version("1.0")), SOFTWARE_STATE_INSTALLED);
  installed.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
  EXPECT_EQ(static_cast<std::uint32_t>(installed.state), 10u);
  installed.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
  EXPECT_EQ(static_cast<std::uint32_t>(installed.state), 10u);
  EXPECT_TRUE(has_state(installed.state, SOFTWARE_STATE_INSTALLED));
  EXPECT_TRUE(has_state(installed.state, SOFTWARE_STATE_MARKED_UNINSTALL));
  EXPECT_FALSE(has_state(installed.state, SOFTWARE_STATE_INSTALL));

  installing_software obsolete(software("Y", version("1.0")));
  obsolete.state |= SOFTWARE_STATE_UNINSTALL;
  EXPECT_EQ(static_cast<std::uint32_t>(obsolete.state), 5u);
}

TEST(InstallingSoftwareTest, CopiesOwnTheirLists) {
  installing_software source(software("A", version("1.0")));
  source.failed_dependencies.push_back(software("D", version("1.0")));
  source.detected_conflicts.push_back(conflict_info{"C", 1});
  source.reserved = 7;

  installing_software copy = source;
  EXPECT_EQ(copy.reserved, 7u);
  ASSERT_EQ(copy.detected_conflicts.size(), 1u);
  EXPECT_EQ(copy.detected_conflicts[0].id, "C");
  copy.failed_dependencies.clear();
  copy.failed_compatibilities.push_back(software("E", version("2.0")));
  EXPECT_EQ(source.failed_dependencies.size(), 1u);
  EXPECT_TRUE(source.failed_compatibilities.empty());

  installing_software assigned;
  assigned = source;
  EXPECT_EQ(assigned.failed_dependencies.size(), 1u);
  EXPECT_EQ(assigned.id, "A");
}

TEST(PmExceptionTest, CarriesTheCode) {
  try {
    throw pm_exception(OX_ERROR_NOT_FOUND);
  } catch (const std::exception& e) {
    const auto* pm = dynamic_cast<const pm_exception*>(&e);
    ASSERT_NE(pm, nullptr);
    EXPECT_EQ(pm->error, OX_ERROR_NOT_FOUND);
    pm_exception copy(*pm);
    EXPECT_EQ(copy.code(), OX_ERROR_NOT_FOUND);
  }
  EXPECT_STREQ(error_name(OX_ERROR_INVALID_ARGUMENT), "OX_ERROR_INVALID_ARGUMENT");
  EXPECT_STREQ(error_name(OX_ERROR_PARSE), "OX_ERROR_PARSE");
  EXPECT_STREQ(error_name(static_cast<ox_error_e>(4242)), "host error");
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

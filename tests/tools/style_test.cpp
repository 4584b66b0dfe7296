#include "style.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tarvik {
namespace oxpm {
namespace {

TEST(StyleTest, ColourOnlyOnATerminalWithoutNoColor) {
  EXPECT_TRUE(use_colour(true, nullptr));
  EXPECT_FALSE(use_colour(false, nullptr));
  EXPECT_FALSE(use_colour(true, "1"));
  EXPECT_FALSE(use_colour(true, ""));
  EXPECT_FALSE(use_colour(false, "1"));

  EXPECT_EQ(style(false).red("x"), "x");
  EXPECT_EQ(style(true).red("x"), "\x1b[31mx\x1b[0m");
  EXPECT_EQ(style(true).bold("x"), "\x1b[1mx\x1b[0m");
}

TEST(StyleTest, PrintableEscapesControlCharacters) {
  EXPECT_EQ(printable("halden-db"), "halden-db");
  EXPECT_EQ(printable("a\x1b[31mb"), "a\\x1b[31mb");
  EXPECT_EQ(printable(std::string("a\nb\0c\x7f", 6)), "a\\x0ab\\x00c\\x7f");
  EXPECT_EQ(printable("caf\xc3\xa9"), "caf\xc3\xa9");
}

TEST(StyleTest, RangesReadAsAPersonWouldSayThem) {
  struct range_case {
    const char* text;
    const char* expected;
  };
  const range_case cases[] = {
      {"1.2.3.4", "exactly 1.2.3.4"},
      {"0", "exactly 0.0.0.0"},
      {"", "any version"},
      {"5", "any version"},
      {":2.0", "up to 2.0.*.*"},
      {"3.0:", "3.0.0.0 or later"},
      {"1.0:1.5", "1.0.0.0 to 1.5.*.*"},
      {"1.0:1.5.2.7", "1.0.0.0 to 1.5.2.7"},
      {"1.2", "1.2.0.0 to 1.2.*.*"},
      {"1.0:1.5|2.0", "1.0.0.0 to 1.5.*.* or 2.0.0.0 to 2.0.*.*"},
      {"2.0:1.0", "no version at all"},
  };
  for (const range_case& c : cases) {
    ox::version_ranges ranges;
    ranges.set(c.text);
    EXPECT_EQ(human_ranges(ranges), c.expected) << c.text;
  }
  EXPECT_EQ(human_version(ox::version(), true), "*.*.*.*");
  EXPECT_EQ(human_version(ox::version(), false), "4294967295.4294967295.4294967295.4294967295");
  EXPECT_EQ(plural(1, "entry", "entries"), "1 entry");
  EXPECT_EQ(plural(0, "entry", "entries"), "0 entries");
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

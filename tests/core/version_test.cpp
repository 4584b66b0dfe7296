#include "tarvik/ox/version.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvik {
namespace ox {
namespace {

struct text_case {
  std::string text;
  std::string expected;
};

TEST(VersionTest, DefaultIsTheGreatestVersion) {
  version v;
  EXPECT_EQ(v.getversion(), "4294967295.4294967295.4294967295.4294967295");
  version zero;
  zero.zeroize();
  EXPECT_TRUE(zero <= v);
  EXPECT_FALSE(zero >= v);
}

TEST(VersionTest, FloorReadsPiecesLikeAtoi) {
  const std::vector<text_case> cases = {
      {"1.2", "1.2.0.0"},
      {"1.2.3.4", "1.2.3.4"},
      {"1.2.3.4.5", "1.2.3.4"},
      {"5", "0.0.0.0"},  // no "." supplies no piece
      {"", "0.0.0.0"},
      {"1..3", "1.0.3.0"},
      {"1.x.3", "1.0.3.0"},
      {"2.0b.1", "2.0.1.0"},
      {" 7.1", "7.1.0.0"},
      {"\t\n7.1", "7.1.0.0"},
      {"-1.0", "4294967295.0.0.0"},
      {"+3.4", "3.4.0.0"},
      {"4294967296.1", "0.1.0.0"},  // modulo 2^32
      {"4294967295.1", "4294967295.1.0.0"},
      {".", "0.0.0.0"},
      {"1.", "1.0.0.0"},
      {".7", "0.7.0.0"},
      {"- 1.2", "0.2.0.0"},  // a sign must be followed by digits
      {"1.0.0.0:1.5.4294967295.4294967295", "1.0.0.0"},
  };
  for (const text_case& c : cases) {
    EXPECT_EQ(version(c.text).getversion(), c.expected) << "text: \"" << c.text << "\"";
  }
}

TEST(VersionTest, CeilKeepsUnsuppliedComponentsAtMaximum) {
  const std::vector<text_case> cases = {
      {"1.2", "1.2.4294967295.4294967295"},
      {"5", "4294967295.4294967295.4294967295.4294967295"},
      {"", "4294967295.4294967295.4294967295.4294967295"},
      {"1.2.3.4", "1.2.3.4"},
      {"1.", "1.0.4294967295.4294967295"},  // an empty piece is a piece
  };
  for (const text_case& c : cases) {
    version v;
    v.ceil(c.text);
    EXPECT_EQ(v.getversion(), c.expected) << "text: \"" << c.text << "\"";
  }
}

TEST(VersionTest, AssignOverwritesOnlySuppliedComponents) {
  version v("9.9.9.9");
  v.assign("1.2");
  EXPECT_EQ(v.getversion(), "1.2.9.9");
  v.assign("7");  // no piece at all
  EXPECT_EQ(v.getversion(), "1.2.9.9");
}

TEST(VersionTest, OverlongPiecesWrapInsteadOfOverflowing) {
  // 25 digits: accumulated modulo 2^32, whatever the count.
  const std::string digits = "1234567890123456789012345";
  std::uint32_t expected = 0;
  for (char c : digits) {
    expected = expected * 10u + static_cast<std::uint32_t>(c - '0');
  }
  EXPECT_EQ(version(digits + ".0").components[0], expected);
  EXPECT_EQ(version("-" + digits + ".0").components[0], 0u - expected);
  // Within 64 bits the result is the 64-bit value modulo 2^32.
  EXPECT_EQ(version("18446744073709551615.0").components[0], 4294967295u);
}

TEST(VersionTest, GetversionReadsBackUnchanged) {
  for (const std::string text : {"0.0.0.0", "1.2.3.4", "4294967295.0.4294967295.17"}) {
    version v(text);
    EXPECT_EQ(v.getversion(), text);
    EXPECT_EQ(version(v.getversion()).getversion(), text);
  }
}

TEST(VersionTest, ComparesComponentsAsNumbers) {
  EXPECT_TRUE(version("1.10.0.0") >= version("1.9.0.0"));
  EXPECT_FALSE(version("1.10.0.0") <= version("1.9.0.0"));
  EXPECT_TRUE(version("2.0.0.0") >= version("1.4294967295.0.0"));
  EXPECT_FALSE(version("2.0.0.0") <= version("1.4294967295.0.0"));
  EXPECT_TRUE(version("1.2.3.4") <= version("1.2.3.4"));
  EXPECT_TRUE(version("1.2.3.4") >= version("1.2.3.4"));
  EXPECT_TRUE(version("1.2.3.4") <= version("1.2.3.5"));
  EXPECT_FALSE(version("1.2.3.5") <= version("1.2.3.4"));
}

struct range_case {
  std::string range;
  std::string version;
  bool within;
};

TEST(VersionRangeTest, SetAndIsWithin) {
  const std::vector<range_case> cases = {
      {"1.0:2.0", "1.0.0.0", true},
      {"1.0:2.0", "2.0.7.7", true},
      {"1.0:2.0", "2.0.4294967295.4294967295", true},
      {"1.0:2.0", "2.1.0.0", false},
      {"1.0:2.0", "0.9.0.0", false},
      {":2.0", "0.0.0.0", true},
      {"3.0:", "4294967295.4294967295.4294967295.4294967295", true},
      {"3.0:", "2.9.0.0", false},
      {"0", "0.0.0.0", true},
      {"0", "0.0.0.1", false},
      {"5", "0.0.0.0", true},
      {"5", "99.0.0.0", true},
      {"0:0", "77.0.0.0", true},  // "0" is special only without ":"
      {"1.2", "1.2.0.0", true},
      {"1.2", "1.2.4294967295.4294967295", true},
      {"1.2", "1.3.0.0", false},
      {"1.2.3.4", "1.2.3.4", true},
      {"1.2.3.4", "1.2.3.5", false},
      {"1.0:2.0:3.0", "2.0.0.0", true},  // B is "2.0:3.0", read up to ":"
  };
  for (const range_case& c : cases) {
    version_range r;
    r.set(c.range);
    EXPECT_EQ(r.is_within(version(c.version)), c.within)
        << "range \"" << c.range << "\", version " << c.version;
  }
}

TEST(VersionRangeTest, DefaultHoldsOnlyTheGreatestVersion) {
  version_range r;
  EXPECT_TRUE(r.is_valid());
  EXPECT_TRUE(r.is_within(version()));
  EXPECT_FALSE(r.is_within(version("4294967295.4294967295.4294967295.4294967294")));
}

TEST(VersionRangeTest, InvalidRangeIsStoredAsRead) {
  version_range r;
  r.set("2.0:1.0");
  EXPECT_FALSE(r.is_valid());
  EXPECT_EQ(r.min.getversion(), "2.0.0.0");
  EXPECT_EQ(r.max.getversion(), "1.0.4294967295.4294967295");
}

TEST(VersionRangeTest, BoundSetters) {
  version_range r;
  r.set_min("1.2");
  r.set_max("3.4");
  EXPECT_EQ(r.min.getversion(), "1.2.0.0");
  EXPECT_EQ(r.max.getversion(), "3.4.4294967295.4294967295");
  r.set_max_exact("3.4");
  EXPECT_EQ(r.max.getversion(), "3.4.0.0");
}

struct ranges_case {
  std::string text;
  std::string get;
};

TEST(VersionRangesTest, SetKeepsValidRangesInTextOrder) {
  const std::string kMax = "4294967295.4294967295.4294967295.4294967295";
  const std::vector<ranges_case> cases = {
      {"1.0:1.5|2.0", "1.0.0.0:1.5.4294967295.4294967295|2.0.0.0:2.0.4294967295.4294967295"},
      {"1.0|", "1.0.0.0:1.0.4294967295.4294967295|0.0.0.0:" + kMax},
      {"", "0.0.0.0:" + kMax},
      {"|", "0.0.0.0:" + kMax + "|0.0.0.0:" + kMax},
      {"2.0:1.0", ""},
      {"2.0:1.0|3.0", "3.0.0.0:3.0.4294967295.4294967295"},
      {"0", "0.0.0.0:0.0.0.0"},
      {"2.0|1.0", "2.0.0.0:2.0.4294967295.4294967295|1.0.0.0:1.0.4294967295.4294967295"},
  };
  for (const ranges_case& c : cases) {
    version_ranges r;
    r.set(c.text);
    EXPECT_EQ(r.get(), c.get) << "text \"" << c.text << "\"";
  }
}

TEST(VersionRangesTest, GetReadsBackToTheSameRanges) {
  for (const std::string text : {"1.0:1.5|2.0", "0", ":2|3.1.4:", "1.2.3.4|5.6.7.8:9.9.9.9", ""}) {
    version_ranges first;
    first.set(text);
    version_ranges second;
    second.set(first.get());
    ASSERT_EQ(first.ranges.size(), second.ranges.size()) << text;
    EXPECT_EQ(first.get(), second.get()) << text;
    for (std::size_t i = 0; i < first.ranges.size(); ++i) {
      EXPECT_EQ(first.ranges[i].min.getversion(), second.ranges[i].min.getversion());
      EXPECT_EQ(first.ranges[i].max.getversion(), second.ranges[i].max.getversion());
    }
  }
}

TEST(VersionRangesTest, SetAppendsToWhatIsHeld) {
  version_ranges r;
  r.set("1.0");
  r.set("2.0");
  ASSERT_EQ(r.ranges.size(), 2u);
  EXPECT_EQ(r.ranges[0].min.getversion(), "1.0.0.0");
  EXPECT_EQ(r.ranges[1].min.getversion(), "2.0.0.0");
}

TEST(VersionRangesTest, IsWithinAnyRange) {
  version_ranges empty;
  EXPECT_FALSE(empty.is_within(version("1.0.0.0")));
  EXPECT_FALSE(empty.is_within(version()));

  version_ranges invalid;
  invalid.set("2.0:1.0");
  EXPECT_TRUE(invalid.ranges.empty());
  EXPECT_FALSE(invalid.is_within(version("1.5.0.0")));

  version_ranges two;
  two.set("1.0:1.5|3.0");
  EXPECT_TRUE(two.is_within(version("1.2.0.0")));
  EXPECT_TRUE(two.is_within(version("3.0.9.9")));
  EXPECT_FALSE(two.is_within(version("2.0.0.0")));
}

TEST(VersionRangesTest, ManyAlternativesAreAllRead) {
  std::string text;
  for (int i = 0; i < 100000; ++i) {
    if (i != 0) {
      text += '|';
    }
    text += std::to_string(i) + ".0";
  }
  version_ranges r;
  r.set(text);
  ASSERT_EQ(r.ranges.size(), 100000u);
  EXPECT_EQ(r.ranges.back().min.getversion(), "99999.0.0.0");
}

TEST(VersionRangesTest, GetOfARangeReadAsAVersionIsItsLowerBound) {
  version_ranges r;
  r.set("1.0:1.5|2.0");
  EXPECT_EQ(version(r.get()).getversion(), "1.0.0.0");
  version_ranges none;
  EXPECT_EQ(version(none.get()).getversion(), "0.0.0.0");
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

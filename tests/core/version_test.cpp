// The version-text table (tests/core/data/versions.txt), row by row.
#include "tarvik/ox/version.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/table.hpp"

namespace tarvik {
namespace ox {
namespace {

std::string ceil_of(const std::string& text) {
  version v;
  v.ceil(text);
  return v.getversion();
}

TEST(VersionTest, TextTable) {
  for (const ox_test::table_row& row : ox_test::read_table("core/data/versions.txt")) {
    SCOPED_TRACE(row.where);
    const std::string& op = row.at(0);
    version_range range;
    version_ranges ranges;
    if (op == "floor") {
      EXPECT_EQ(version(row.at(1)).getversion(), row.at(2));
      EXPECT_EQ(version(row.at(2)).getversion(), row.at(2));
    } else if (op == "ceil") {
      EXPECT_EQ(ceil_of(row.at(1)), row.at(2));
    } else if (op == "assign") {
      version v(row.at(1));
      v.assign(row.at(2));
      EXPECT_EQ(v.getversion(), row.at(3));
    } else if (op == "le" || op == "ge") {
      const version a(row.at(1));
      const version b(row.at(2));
      EXPECT_EQ(op == "le" ? a <= b : a >= b, row.yes(3));
    } else if (op == "range") {
      range.set(row.at(1));
      EXPECT_EQ(range.min.getversion(), row.at(2));
      EXPECT_EQ(range.max.getversion(), row.at(3));
      EXPECT_EQ(range.is_valid(), row.at(4) == "valid");
    } else if (op == "set_min") {
      range.set_min(row.at(1));
      EXPECT_EQ(range.min.getversion(), row.at(2));
    } else if (op == "set_max" || op == "set_max_exact") {
      op == "set_max" ? range.set_max(row.at(1)) : range.set_max_exact(row.at(1));
      EXPECT_EQ(range.max.getversion(), row.at(2));
    } else if (op == "within") {
      range.set(row.at(1));
      EXPECT_EQ(range.is_within(version(row.at(2))), row.yes(3));
    } else if (op == "ranges") {
      for (std::size_t i = 1; i + 1 < row.fields.size(); ++i) {
        ranges.set(row.at(i));
      }
      EXPECT_EQ(ranges.get(), row.fields.back());
      version_ranges again;  // an empty text would be every version
      again.set(ranges.ranges.empty() ? "2.0:1.0" : ranges.get());
      EXPECT_EQ(again.get(), ranges.get());
    } else if (op == "ranges-within") {
      ranges.set(row.at(1));
      EXPECT_EQ(ranges.is_within(version(row.at(2))), row.yes(3));
    } else if (op == "count") {
      ranges.set(row.at(1));
      ASSERT_EQ(ranges.ranges.size(), std::stoul(row.at(2)));
      if (!ranges.ranges.empty()) {
        EXPECT_EQ(ranges.ranges.back().min.getversion(), row.at(3));
      }
    } else {
      ADD_FAILURE() << "unknown row " << op;
    }
  }
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

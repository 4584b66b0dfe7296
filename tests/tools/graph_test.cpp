// Labels of any bytes stay inside their quotes and valid UTF-8 (bytes that are
// not UTF-8 come from the command line only). Whole graphs: tests/cases/.
#include <gtest/gtest.h>

#include "graph.hpp"

namespace tarvik {
namespace oxpm {
namespace {

TEST(DotEscapeTest, KeepsLabelsInsideTheirQuotes) {
  EXPECT_EQ(dot_escape("halden-db"), "halden-db");
  EXPECT_EQ(dot_escape("a\"b"), "a\\\"b");
  EXPECT_EQ(dot_escape("a\\N"), "a\\\\N");
  EXPECT_EQ(dot_escape("a\nb"), "a\\\\x0ab");
  EXPECT_EQ(dot_escape("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(dot_escape("bad\xff"), "bad?");
  EXPECT_EQ(dot_escape("\xc3"), "?");
  EXPECT_EQ(dot_escape("\xed\xa0\x80"), "???");                // a surrogate is no character
  EXPECT_EQ(dot_escape(std::string("a\0b", 3)), "a\\\\x00b");  // shown, not replaced
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

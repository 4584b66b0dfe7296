// The reference host's regular expressions: whole-text matching, patterns
// that fail to compile, the stated limits, and patterns that would stall a
// backtracking matcher. Results are asserted, never timings.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox_refhost/limits.hpp"

namespace tarvik {
namespace ox_refhost {
namespace {

struct regex_release {
  void operator()(ox_regex_s* regex) const { ox_regex_release(regex); }
};
using regex_ptr = std::unique_ptr<ox_regex_s, regex_release>;

// The code of ox_regex_create; *out receives the handle.
int compile(const std::string& pattern, regex_ptr* out = nullptr) {
  int marker = 0;
  // Not null on entry: a failed create must still leave it null.
  ox_regex_s* raw = reinterpret_cast<ox_regex_s*>(&marker);
  const int code = ox_regex_create(pattern.c_str(), &raw);
  if (code != OX_OK) {
    EXPECT_EQ(raw, nullptr);
  } else {
    EXPECT_NE(raw, nullptr);
  }
  regex_ptr owned(code == OX_OK ? raw : nullptr);
  if (out != nullptr) {
    *out = std::move(owned);
  }
  return code;
}

bool matches(const std::string& pattern, const std::string& text) {
  regex_ptr regex;
  if (compile(pattern, &regex) != OX_OK) {
    ADD_FAILURE() << "does not compile: " << pattern.substr(0, 40);
    return false;
  }
  return ox_regex_match(regex.get(), text.c_str()) != 0;
}

TEST(RefhostRegexTest, MatchesTheWholeText) {
  struct row {
    std::string pattern;
    std::string text;
    bool expected;
  };
  const row rows[] = {
      {"ORQ.*", "ORQ_1", true},
      {"ORQ", "ORQ_1", false},
      {"ORQ", "xORQ", false},
      {"ORQ", "ORQ", true},
      {"^ORQ$", "ORQ", true},
      {"A|B", "A", true},
      {"A|B", "AB", false},
      {"(A|B)+", "ABBA", true},
      {"ORQ_[0-9]+", "ORQ_", false},
      {"ORQ_[0-9]+", "ORQ_123", true},
      {"abc", "ABC", false},
      {"(?i)abc", "aBc", true},
      {"", "", true},
      {"", "x", false},
      {"a\\.b", "a.b", true},
      {"a\\.b", "axb", false},
      {".", "\xC3\xA9", true},
      {"..", "\xC3\xA9", false},
      {"\xE2\x82\xAC[0-9]",
       "\xE2\x82\xAC"
       "5",
       true},
      {"x.*", "x\n", false},
      {"(?s)x.*", "x\n", true},
  };
  for (const row& r : rows) {
    EXPECT_EQ(matches(r.pattern, r.text), r.expected)
        << "pattern \"" << r.pattern << "\" text \"" << r.text << '"';
  }
}

TEST(RefhostRegexTest, PatternsRe2RejectsDoNotCompile) {
  for (const char* pattern : {"(", ")", "[a", "a**", "\\", "a{2,1}", "\\1", "(?=a)", "(?<!a)b",
                              "[z-a]", "\\8", "\xFF", "a\xC3", "((a{100}){100})"}) {
    EXPECT_EQ(compile(pattern), OX_ERROR_PARSE) << pattern;
  }
}

TEST(RefhostRegexTest, LimitsRefusePatternsUpFront) {
  // Length: plain text at the limit compiles, one byte more does not.
  const std::string at_limit = "b|" + std::string(kMaxRegexPatternBytes - 2, 'a');
  EXPECT_TRUE(matches(at_limit, "b"));
  EXPECT_FALSE(matches(at_limit, "a"));
  EXPECT_EQ(compile(at_limit + "a"), OX_ERROR_LIMIT_EXCEEDED);

  // Program size: short patterns that expand into large programs.
  for (const char* pattern : {"\\pL{100}", "[^a]{1000}", ".{1000}", ".{500}[a-z]{1000}",
                              "\\pL{1000}", "(\\pL|\\pN){500}"}) {
    EXPECT_EQ(compile(pattern), OX_ERROR_LIMIT_EXCEEDED) << pattern;
  }
  // Within the limits.
  for (const char* pattern : {"[a-z]{1000}", "(ab){1000}", "\\pL", "((a{10}){10}){10}"}) {
    EXPECT_EQ(compile(pattern), OX_OK) << pattern;
  }
  EXPECT_TRUE(matches("((a{10}){10}){10}", std::string(1000, 'a')));
  EXPECT_FALSE(matches("((a{10}){10}){10}", std::string(999, 'a')));
}

TEST(RefhostRegexTest, UnicodeClassesAndRepetitionCountsAreLimited) {
  std::string classes;
  for (std::size_t i = 0; i < kMaxRegexUnicodeClasses; ++i) {
    classes += (i % 2 == 0) ? "\\p{Greek}?" : "\\p{Cherokee}?";
  }
  EXPECT_EQ(compile(classes), OX_OK);
  EXPECT_TRUE(matches(classes, "\xCE\xB1\xCE\xB2"));
  EXPECT_FALSE(matches(classes, "ab"));
  EXPECT_EQ(compile(classes + "\\pN"), OX_ERROR_LIMIT_EXCEEDED);
  // An escaped backslash followed by "p" is no class.
  std::string backslashes;
  for (std::size_t i = 0; i <= kMaxRegexUnicodeClasses; ++i) {
    backslashes += "\\\\p";
  }
  EXPECT_EQ(compile(backslashes), OX_OK);

  EXPECT_EQ(compile("a{0," + std::to_string(kMaxRegexRepetitionTotal) + "}"), OX_OK);
  EXPECT_EQ(compile("a{600}b{400}"), OX_OK);
  EXPECT_EQ(compile("a{600}b{401}"), OX_ERROR_LIMIT_EXCEEDED);
  EXPECT_EQ(compile("a{600}b{401,}"), OX_ERROR_LIMIT_EXCEEDED);
  EXPECT_EQ(compile("(?:a{0,600}){1,401}"), OX_ERROR_LIMIT_EXCEEDED);
  EXPECT_EQ(compile("a{99999999999999999999999}"), OX_ERROR_LIMIT_EXCEEDED);
  // Braces that are no repetition count nothing.
  EXPECT_EQ(compile("\\x{100}{2}\\x{10FFFF}\\{5000}"), OX_OK);
  EXPECT_TRUE(matches("\\x{100}{2}\\{5000}", "\xC4\x80\xC4\x80{5000}"));
  EXPECT_EQ(compile("a{,5000}"), OX_OK);
  EXPECT_TRUE(matches("a{,5000}", "a{,5000}"));
}

TEST(RefhostRegexTest, TextsPastTheLimitNeverMatch) {
  const std::string at_limit(kMaxRegexTextBytes, 'a');
  EXPECT_TRUE(matches(".*", at_limit));
  EXPECT_TRUE(matches("a+", at_limit));
  EXPECT_FALSE(matches(".*", at_limit + "a"));
  EXPECT_FALSE(matches("a+", at_limit + std::string(100000, 'a')));
}

TEST(RefhostRegexTest, CompileErrorsWriteNothingToStderr) {
  ::testing::internal::CaptureStderr();
  for (const char* pattern : {"(", "a{1001}", "\\pL{1000}", "\\pL{100}", "\xFF"}) {
    EXPECT_NE(compile(pattern), OX_OK) << pattern;
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(RefhostRegexTest, WorstCasesFinishWithTheRightAnswer) {
  const std::string as(kMaxRegexTextBytes, 'a');
  const std::string xs(kMaxRegexTextBytes, 'x');
  EXPECT_FALSE(matches("(a|aa)*b", as));
  EXPECT_TRUE(matches("(a|aa)*", as));
  EXPECT_FALSE(matches("(a*)*b", as));
  EXPECT_FALSE(matches("((a+)+)+b", as));
  EXPECT_TRUE(matches("(a?){30}a{30}", std::string(30, 'a')));
  EXPECT_FALSE(matches("(x+x+)+y", xs));
  EXPECT_TRUE(matches("(.*a){20}", as));
  EXPECT_FALSE(matches("(.*a){20}b", as));
  EXPECT_FALSE(matches("((((((a*)*)*)*)*)*)c", as));
  EXPECT_FALSE(matches("(.{0,10}){40}x", as));
  EXPECT_FALSE(matches("(?:[^x]*[^y]*){50}z", as));
  // Long literals against texts that almost match them everywhere.
  EXPECT_FALSE(matches(std::string(kMaxRegexPatternBytes - 1, 'a') + "b", as));
  EXPECT_TRUE(matches(".*" + std::string(1000, 'a') + "b", as.substr(1) + "b"));
  EXPECT_FALSE(matches(".*" + std::string(1000, 'a') + "b", std::string(999, 'a') + "b"));
  EXPECT_FALSE(
      matches(".*" + std::string(kMaxRegexPatternBytes - 3, 'a') + "b", as.substr(1) + "b"));
  // Counted repetitions whose automaton has exponentially many states.
  const std::string bs(kMaxRegexTextBytes, 'b');
  EXPECT_FALSE(matches("[ab]*a[ab]{20}", bs));
  EXPECT_TRUE(matches("[ab]*a[ab]{20}", bs.substr(21) + "a" + std::string(20, 'b')));
  std::string alternating;
  for (std::size_t i = 0; i < kMaxRegexTextBytes; ++i) {
    alternating += (i % 3 == 0) ? 'a' : 'b';
  }
  EXPECT_FALSE(matches("(a|b)*a(a|b){15}c", alternating));
  EXPECT_TRUE(matches("(a|b)*a(a|b){15}",
                      alternating.substr(0, alternating.size() - 15) + std::string(15, 'a')));
}

TEST(RefhostRegexTest, NullArgumentsAreHarmless) {
  ox_regex_s* raw = nullptr;
  EXPECT_EQ(ox_regex_create(nullptr, &raw), OX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(ox_regex_create("a", nullptr), OX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(ox_regex_match(nullptr, "a"), 0);
  EXPECT_EQ(ox_regex_release(nullptr), OX_OK);

  regex_ptr regex;
  ASSERT_EQ(compile(".*", &regex), OX_OK);
  EXPECT_EQ(ox_regex_match(regex.get(), nullptr), 0);
  EXPECT_NE(ox_regex_match(regex.get(), ""), 0);
}

TEST(RefhostRegexTest, HandlesAreIndependent) {
  regex_ptr first;
  regex_ptr second;
  ASSERT_EQ(compile("A.*", &first), OX_OK);
  ASSERT_EQ(compile("B.*", &second), OX_OK);
  EXPECT_NE(ox_regex_match(first.get(), "A1"), 0);
  EXPECT_EQ(ox_regex_match(first.get(), "B1"), 0);
  first.reset();
  EXPECT_NE(ox_regex_match(second.get(), "B1"), 0);
  // Matching again on the same handle gives the same answers.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ox_regex_match(second.get(), "A1"), 0);
    EXPECT_NE(ox_regex_match(second.get(), "B2"), 0);
  }
}

}  // namespace
}  // namespace ox_refhost
}  // namespace tarvik

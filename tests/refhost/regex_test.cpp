// The reference host's regular expressions and its pattern capability: the
// table (tests/refhost/data/regex.txt) of whole-text matches, refused
// patterns, limits, worst cases and descriptions, every description checked
// against what ox_regex_create and ox_regex_match do; then what only code
// reaches: generated escapes, handles, the cache of compiled patterns, the
// context's capability object. Results are asserted, never timings.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/regex.hpp"
#include "support/table.hpp"
#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox/host/ox_utils.h"
#include "tarvik/ox_refhost/context.hpp"
#include "tarvik/ox_refhost/limits.hpp"
#include "tarvik/ox_refhost/regex.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox_refhost {
namespace {

using ox::internal::regex_ptr;

// The code of ox_regex_create; a failure must leave the handle null.
int compile(const std::string& pattern, regex_ptr* out = nullptr) {
  int marker = 0;
  ox_regex_s* raw = reinterpret_cast<ox_regex_s*>(&marker);
  const int code = ox_regex_create(pattern.c_str(), &raw);
  EXPECT_EQ(code == OX_OK, raw != nullptr) << pattern.substr(0, 40);
  regex_ptr owned(code == OX_OK ? raw : nullptr);
  if (out != nullptr) {
    *out = std::move(owned);
  }
  return code;
}

bool matches(const std::string& pattern, const std::string& text) {
  regex_ptr regex;
  return compile(pattern, &regex) == OX_OK && ox_regex_match(regex.get(), text.c_str()) != 0;
}

struct alternative {
  std::string text;
  bool exact;
  bool operator==(const alternative& o) const { return text == o.text && exact == o.exact; }
};

// The alternatives, or nothing with *described false.
std::vector<alternative> describe(const std::string& pattern, bool* described) {
  std::vector<alternative> out;
  const ox_regex_literals_s* capability = regex_literals();
  *described = capability->describe(
                   capability, pattern.c_str(),
                   [](void* user, const char* text, std::size_t length, int exact) {
                     static_cast<std::vector<alternative>*>(user)->push_back(
                         {std::string(text, length), exact != 0});
                   },
                   &out) != 0;
  return out;
}

// Checks what describe() claims about `pattern` on probe texts made from its
// alternatives and `extra`: a match is admitted by an alternative, and an
// all-exact description compiles and matches exactly what it admits.
void check_claims(const std::string& pattern, std::vector<std::string> probes) {
  bool described = false;
  const std::vector<alternative> alternatives = describe(pattern, &described);
  bool all_exact = described;
  for (const alternative& a : alternatives) {
    all_exact = all_exact && a.exact;
    for (const std::string& probe : {a.text, a.text + "x", a.text + "-7", "x" + a.text}) {
      probes.push_back(probe);
    }
    if (!a.text.empty()) {
      probes.push_back(a.text.substr(0, a.text.size() - 1));
    }
  }
  if (all_exact) {
    ASSERT_EQ(compile(pattern), OX_OK) << pattern;
  }
  for (const std::string& probe : described ? probes : std::vector<std::string>()) {
    bool admitted = false;
    for (const alternative& a : alternatives) {
      admitted |= a.exact ? probe == a.text : probe.compare(0, a.text.size(), a.text) == 0;
    }
    const bool matched = matches(pattern, probe);
    EXPECT_TRUE(admitted || !matched) << pattern << " matches " << probe << ", admitted by none";
    EXPECT_TRUE(!all_exact || matched == admitted) << pattern << " probe " << probe;
  }
}

TEST(RefhostRegexTest, PatternTable) {
  const ox_test::table_names names = {{"pattern", static_cast<long>(kMaxRegexPatternBytes)},
                                      {"text", static_cast<long>(kMaxRegexTextBytes)},
                                      {"classes", static_cast<long>(kMaxRegexUnicodeClasses)},
                                      {"repetitions", static_cast<long>(kMaxRegexRepetitionTotal)}};
  ::testing::internal::CaptureStderr();  // compile errors write nothing there
  for (const ox_test::table_row& row : ox_test::read_table("refhost/data/regex.txt", names)) {
    SCOPED_TRACE(row.where);
    const std::string& op = row.at(0);
    if (op == "match") {
      EXPECT_EQ(compile(row.at(1)), OX_OK);
      EXPECT_EQ(matches(row.at(1), row.at(2)), row.yes(3));
    } else if (op == "compile") {
      const int expected = row.at(1) == "ok"      ? OX_OK
                           : row.at(1) == "parse" ? OX_ERROR_PARSE
                                                  : OX_ERROR_LIMIT_EXCEEDED;
      for (std::size_t i = 2; i < row.fields.size(); ++i) {
        EXPECT_EQ(compile(row.fields[i]), expected) << row.fields[i].substr(0, 40);
      }
    } else if (op == "describe" || op == "describe-count") {
      bool described = false;
      const std::vector<alternative> got = describe(row.at(1), &described);
      EXPECT_EQ(described, row.at(2) != "none");
      std::vector<alternative> expected;
      for (std::size_t i = 2; op == "describe" && i + 1 < row.fields.size(); i += 2) {
        expected.push_back({row.fields[i + 1], row.fields[i] == "exact"});
      }
      if (op == "describe-count") {
        expected.assign(std::stoul(row.at(2)), alternative{"", true});
        for (std::size_t i = 0; i < got.size() && i < expected.size(); ++i) {
          expected[i].text = got[i].text;
        }
      }
      EXPECT_EQ(got, expected);
      check_claims(row.at(1), {"", "a", "b", "ab", "name-12", "halden-agent"});
    } else {
      ADD_FAILURE() << "unknown row " << op;
    }
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(RefhostRegexTest, EveryEscapeItTakesForALiteralIsOne) {
  for (int c = 0x20; c <= 0x7E; ++c) {
    const std::string pattern = std::string("k\\") + static_cast<char>(c) + "z";
    bool described = false;
    const std::vector<alternative> got = describe(pattern, &described);
    if (described && got.size() == 1 && got.front().exact) {
      EXPECT_EQ(got.front().text, std::string("k") + static_cast<char>(c) + "z");
      check_claims(pattern, {"kz", "k\\z"});
    }
  }
}

TEST(RefhostRegexTest, NullArgumentsAreHarmlessAndContextsOfferTheCapability) {
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

  const ox_regex_literals_s* capability = regex_literals();
  int calls = 0;
  const ox_regex_alternative_fn count = [](void* user, const char*, std::size_t, int) {
    ++*static_cast<int*>(user);
  };
  EXPECT_EQ(capability->describe(capability, nullptr, count, &calls), 0);
  EXPECT_EQ(capability->describe(capability, "a", nullptr, &calls), 0);
  EXPECT_EQ(calls, 0);
  // Every context offers the capability until removed.
  context ctx;
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), OX_OBJECT_REGEX_LITERALS),
            static_cast<const void*>(capability));
  ctx.set_object(OX_OBJECT_REGEX_LITERALS, nullptr);
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), OX_OBJECT_REGEX_LITERALS), nullptr);
}

TEST(RefhostRegexCacheTest, CompilesEachPatternOnceAndHandlesAreIndependent) {
  clear_regex_cache();
  regex_ptr first;
  regex_ptr second;
  ASSERT_EQ(compile("cache-(a|b)", &first), OX_OK);
  ASSERT_EQ(compile("cache-(a|b)", &second), OX_OK);
  EXPECT_NE(first.get(), second.get());  // handles are released one by one
  regex_ptr refused;
  EXPECT_EQ(compile("cache-(", &refused), OX_ERROR_PARSE);
  EXPECT_EQ(compile("cache-(", &refused), OX_ERROR_PARSE);
  const regex_cache_stats stats = regex_cache_statistics();
  EXPECT_EQ(stats.misses, 2u);
  EXPECT_EQ(stats.hits, 2u);
  EXPECT_EQ(stats.entries, 2u);
  first.reset();
  EXPECT_NE(ox_regex_match(second.get(), "cache-b"), 0);
  EXPECT_EQ(ox_regex_match(second.get(), "cache-c"), 0);

  // A handle outlives its entry, and the least recently used go first.
  ASSERT_EQ(compile("lru-keep", &first), OX_OK);
  for (std::size_t i = 0; i + 1 < kRegexCacheEntries + 5; ++i) {
    regex_ptr other;
    ASSERT_EQ(compile("lru-" + std::to_string(i), &other), OX_OK);
    if (i % 100 == 0) {
      ASSERT_EQ(compile("lru-keep", &other), OX_OK);  // keeps it recent
    }
  }
  EXPECT_LE(regex_cache_statistics().entries, kRegexCacheEntries);
  EXPECT_NE(ox_regex_match(second.get(), "cache-a"), 0);
  const std::size_t misses = regex_cache_statistics().misses;
  ASSERT_EQ(compile("lru-keep", &first), OX_OK);
  EXPECT_EQ(regex_cache_statistics().misses, misses);
  ASSERT_EQ(compile("lru-0", &first), OX_OK);
  EXPECT_EQ(regex_cache_statistics().misses, misses + 1);
}

}  // namespace
}  // namespace ox_refhost
}  // namespace tarvik

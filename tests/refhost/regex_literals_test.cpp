// The reference host's pattern capability and its cache of compiled
// patterns. Every claim the capability makes is checked against what
// ox_regex_create and ox_regex_match actually do.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox/host/ox_utils.h"
#include "tarvik/ox_refhost/context.hpp"
#include "tarvik/ox_refhost/limits.hpp"
#include "tarvik/ox_refhost/regex.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox_refhost {
namespace {

struct regex_release {
  void operator()(ox_regex_s* regex) const { ox_regex_release(regex); }
};
using regex_ptr = std::unique_ptr<ox_regex_s, regex_release>;

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

int compile(const std::string& pattern, regex_ptr* out) {
  ox_regex_s* raw = nullptr;
  const int code = ox_regex_create(pattern.c_str(), &raw);
  out->reset(raw);
  return code;
}

bool matches(const std::string& pattern, const std::string& text) {
  regex_ptr regex;
  return compile(pattern, &regex) == OX_OK && ox_regex_match(regex.get(), text.c_str()) != 0;
}

// Checks what describe() claims about `pattern` on probe texts made from its
// alternatives and `extra`.
void check_claims(const std::string& pattern, const std::vector<std::string>& extra) {
  bool described = false;
  const std::vector<alternative> alternatives = describe(pattern, &described);
  if (!described) {
    return;
  }
  bool all_exact = true;
  std::vector<std::string> probes = extra;
  for (const alternative& a : alternatives) {
    all_exact = all_exact && a.exact;
    probes.push_back(a.text);
    probes.push_back(a.text + "x");
    probes.push_back(a.text + "-7");
    probes.push_back("x" + a.text);
    if (!a.text.empty()) {
      probes.push_back(a.text.substr(0, a.text.size() - 1));
    }
  }
  if (all_exact) {
    regex_ptr regex;
    ASSERT_EQ(compile(pattern, &regex), OX_OK) << pattern;
  }
  for (const std::string& probe : probes) {
    bool admitted = false;
    for (const alternative& a : alternatives) {
      admitted =
          admitted || (a.exact ? probe == a.text : probe.compare(0, a.text.size(), a.text) == 0);
    }
    const bool matched = matches(pattern, probe);
    if (matched) {
      EXPECT_TRUE(admitted) << "pattern " << pattern << " matches " << probe
                            << " which no alternative admits";
    }
    if (all_exact) {
      EXPECT_EQ(matched, admitted) << "pattern " << pattern << " probe " << probe;
    }
  }
}

TEST(RefhostRegexLiteralsTest, DescribesAlternativesByTheirLiteralRuns) {
  struct row {
    std::string pattern;
    bool described;
    std::vector<alternative> expected;
  };
  const row rows[] = {
      {"halden-agent", true, {{"halden-agent", true}}},
      {"a|b_2|C-3", true, {{"a", true}, {"b_2", true}, {"C-3", true}}},
      {"", true, {{"", true}}},
      {"a|", true, {{"a", true}, {"", true}}},
      {"b\\.x|b\\|a", true, {{"b.x", true}, {"b|a", true}}},
      {"a b:c/d@e", true, {{"a b:c/d@e", true}}},
      {"HLD_RUNTIME_2[0-9]*", true, {{"HLD_RUNTIME_2", false}}},
      {"name.*", true, {{"name", false}}},
      {"name|name-[0-9]+", true, {{"name", true}, {"name-", false}}},
      // A repetition takes the character before it out of the run.
      {"abc*", true, {{"ab", false}}},
      {"abc?d", true, {{"ab", false}}},
      {"abc+", true, {{"ab", false}}},
      {"abc{2}", true, {{"ab", false}}},
      {"a\\.*", true, {{"a", false}}},
      {"ab(c|d)", true, {{"ab", false}}},
      {"ab\\d", true, {{"ab", false}}},
      {"ab$", true, {{"ab", false}}},
      {"(a|b)|c", true, {{"", false}, {"c", true}}},
      {"[|]|x", true, {{"", false}, {"x", true}}},
      {"[]|]x", true, {{"", false}}},
      // Not followed safely.
      {"a(", false, {}},
      {"a)", false, {}},
      {"[ab", false, {}},
      {"a\\", false, {}},
      {"\\Qa|b\\E", false, {}},
      {"[[:alpha:]]|a", false, {}},
      {std::string(kMaxRegexTextBytes + 1, 'a'), false, {}},
  };
  for (const row& test : rows) {
    bool described = false;
    const std::vector<alternative> got = describe(test.pattern, &described);
    EXPECT_EQ(described, test.described) << test.pattern;
    if (test.described) {
      EXPECT_EQ(got, test.expected) << test.pattern;
    }
    check_claims(test.pattern, {"", "a", "b", "ab", "name-12", "halden-agent"});
  }
}

TEST(RefhostRegexLiteralsTest, EveryEscapeItTakesForALiteralIsOne) {
  for (int c = 0x20; c <= 0x7E; ++c) {
    const std::string pattern = std::string("k\\") + static_cast<char>(c) + "z";
    bool described = false;
    const std::vector<alternative> got = describe(pattern, &described);
    if (!described || got.size() != 1 || !got.front().exact) {
      continue;
    }
    EXPECT_EQ(got.front().text, std::string("k") + static_cast<char>(c) + "z");
    check_claims(pattern, {"kz", "k\\z"});
  }
  // Word characters escape into classes or are refused: never literals.
  for (const char* pattern : {"\\d", "\\w", "\\1", "\\_", "\\x41"}) {
    bool described = false;
    const std::vector<alternative> got = describe(pattern, &described);
    ASSERT_TRUE(described) << pattern;
    EXPECT_FALSE(got.front().exact) << pattern;
  }
}

TEST(RefhostRegexLiteralsTest, LongestDescribedAlternationsCompile) {
  std::string many;
  for (std::size_t i = 0; many.size() + 2 <= kMaxRegexTextBytes; ++i) {
    many += (i == 0 ? "" : "|") + std::string(1, static_cast<char>('a' + i % 26));
  }
  for (const std::string& pattern : {std::string(kMaxRegexTextBytes, 'q'), many}) {
    bool described = false;
    const std::vector<alternative> got = describe(pattern, &described);
    ASSERT_TRUE(described);
    regex_ptr regex;
    EXPECT_EQ(compile(pattern, &regex), OX_OK) << pattern.substr(0, 20);
    EXPECT_NE(ox_regex_match(regex.get(), got.back().text.c_str()), 0);
  }
}

TEST(RefhostRegexLiteralsTest, NullArgumentsAreNotDescribed) {
  const ox_regex_literals_s* capability = regex_literals();
  int calls = 0;
  const ox_regex_alternative_fn count = [](void* user, const char*, std::size_t, int) {
    ++*static_cast<int*>(user);
  };
  EXPECT_EQ(capability->describe(capability, nullptr, count, &calls), 0);
  EXPECT_EQ(capability->describe(capability, "a", nullptr, &calls), 0);
  EXPECT_EQ(calls, 0);
}

TEST(RefhostRegexLiteralsTest, EveryContextOffersTheCapabilityUntilRemoved) {
  context ctx;
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), OX_OBJECT_REGEX_LITERALS),
            static_cast<const void*>(regex_literals()));
  ctx.set_object(OX_OBJECT_REGEX_LITERALS, nullptr);
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), OX_OBJECT_REGEX_LITERALS), nullptr);
}

TEST(RefhostRegexCacheTest, CompilesEachPatternOnceAndCachesRefusals) {
  clear_regex_cache();
  regex_ptr first;
  regex_ptr second;
  ASSERT_EQ(compile("cache-(a|b)", &first), OX_OK);
  ASSERT_EQ(compile("cache-(a|b)", &second), OX_OK);
  EXPECT_NE(first.get(), second.get());  // handles are released one by one
  EXPECT_EQ(compile("cache-(", &first), OX_ERROR_PARSE);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(compile("cache-(", &first), OX_ERROR_PARSE);
  const regex_cache_stats stats = regex_cache_statistics();
  EXPECT_EQ(stats.misses, 2u);
  EXPECT_EQ(stats.hits, 2u);
  EXPECT_EQ(stats.entries, 2u);
  EXPECT_NE(ox_regex_match(second.get(), "cache-b"), 0);
  EXPECT_EQ(ox_regex_match(second.get(), "cache-c"), 0);
}

TEST(RefhostRegexCacheTest, HandlesOutliveTheirCacheEntry) {
  clear_regex_cache();
  regex_ptr kept;
  ASSERT_EQ(compile("kept-[0-9]+", &kept), OX_OK);
  clear_regex_cache();
  for (std::size_t i = 0; i < kRegexCacheEntries + 10; ++i) {
    regex_ptr other;
    ASSERT_EQ(compile("evict-" + std::to_string(i), &other), OX_OK);
  }
  EXPECT_LE(regex_cache_statistics().entries, kRegexCacheEntries);
  EXPECT_NE(ox_regex_match(kept.get(), "kept-42"), 0);
  EXPECT_EQ(ox_regex_match(kept.get(), "kept-x"), 0);
}

TEST(RefhostRegexCacheTest, LeastRecentlyUsedPatternsGoFirst) {
  clear_regex_cache();
  regex_ptr handle;
  ASSERT_EQ(compile("lru-keep", &handle), OX_OK);
  for (std::size_t i = 0; i + 1 < kRegexCacheEntries + 5; ++i) {
    ASSERT_EQ(compile("lru-" + std::to_string(i), &handle), OX_OK);
    if (i % 100 == 0) {
      ASSERT_EQ(compile("lru-keep", &handle), OX_OK);  // keeps it recent
    }
  }
  const std::size_t misses = regex_cache_statistics().misses;
  ASSERT_EQ(compile("lru-keep", &handle), OX_OK);
  EXPECT_EQ(regex_cache_statistics().misses, misses);
  ASSERT_EQ(compile("lru-0", &handle), OX_OK);
  EXPECT_EQ(regex_cache_statistics().misses, misses + 1);
}

}  // namespace
}  // namespace ox_refhost
}  // namespace tarvik

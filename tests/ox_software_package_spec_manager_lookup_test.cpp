// Look-ups over the catalog entries: find, find_id, find_software_id,
// find_orqid_in_spec and add. Patterns run on the reference host, which
// requires a pattern to match the whole id.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_host.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox_refhost/limits.hpp"

namespace tarvik {
namespace ox {
namespace {

software_spec entry(const std::string& sref, const std::string& versions,
                    const std::string& softwareids, const std::string& name = "") {
  software_spec spec;
  spec.sref = sref;
  spec.name = name;
  spec.softwareids = softwareids;
  spec.versions.set(versions);
  return spec;
}

software sw(const std::string& id, const std::string& ver) {
  return software(id, version(ver));
}

ox_error_e find_error(const package_spec_manager& mgr, const software& s) {
  try {
    mgr.find(s);
  } catch (const pm_exception& e) {
    return e.error;
  }
  return OX_OK;
}

ox_error_e find_id_error(const package_spec_manager& mgr, const std::string& id) {
  try {
    mgr.find_id(id);
  } catch (const pm_exception& e) {
    return e.error;
  }
  return OX_OK;
}

struct lookup_fixture : ::testing::Test {
  ox_test::test_host host;
  package_spec_manager mgr{host.context()};
};

TEST_F(lookup_fixture, EmptyListFindsNothing) {
  EXPECT_EQ(find_error(mgr, sw("A", "1.0")), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_id_error(mgr, "A"), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_id_error(mgr, ""), OX_ERROR_NOT_FOUND);
  EXPECT_FALSE(mgr.find_orqid_in_spec("A", "A"));
}

TEST_F(lookup_fixture, FirstMatchInListOrderWins) {
  mgr.add(entry("A", "1.0:3.0", "", "first"));
  mgr.add(entry("A", "2.0:4.0", "", "second"));
  mgr.add(entry("B", "1.0", "", "b"));
  EXPECT_EQ(mgr.find(sw("A", "2.5")).name, "first");
  EXPECT_EQ(mgr.find(sw("A", "3.5")).name, "second");
  EXPECT_EQ(mgr.find_id("A").name, "first");
  EXPECT_EQ(mgr.find_id("B").name, "b");
  ASSERT_EQ(mgr.get_specs().size(), 3u);
  EXPECT_EQ(mgr.get_specs()[2].name, "b");
}

TEST_F(lookup_fixture, DisjointVersionsSelectByVersionInFindOnly) {
  mgr.add(entry("A", "1.0:1.9", "", "old"));
  mgr.add(entry("A", "2.0:2.9", "", "new"));
  EXPECT_EQ(mgr.find(sw("A", "1.5")).name, "old");
  EXPECT_EQ(mgr.find(sw("A", "2.9.7.7")).name, "new");
  EXPECT_EQ(mgr.find_id("A").name, "old");
  EXPECT_EQ(find_error(mgr, sw("A", "3.0")), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_error(mgr, sw("A", "0.9")), OX_ERROR_NOT_FOUND);
}

TEST_F(lookup_fixture, PatternSelectsEntriesUnderOtherIds) {
  mgr.add(entry("AGENT", "5.0:6.0", "ORQ_AGENT_[0-9]+|LEGACY_AGENT", "agent"));
  EXPECT_EQ(mgr.find_id("ORQ_AGENT_42").name, "agent");
  EXPECT_EQ(mgr.find_id("LEGACY_AGENT").name, "agent");
  EXPECT_EQ(mgr.find(sw("ORQ_AGENT_7", "5.5")).name, "agent");
  // Within the id test but outside the versions.
  EXPECT_EQ(find_error(mgr, sw("ORQ_AGENT_7", "7.0")), OX_ERROR_NOT_FOUND);
  // The pattern must cover the whole id.
  EXPECT_EQ(find_id_error(mgr, "ORQ_AGENT_"), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_id_error(mgr, "X_ORQ_AGENT_1"), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_id_error(mgr, "ORQ_AGENT_1x"), OX_ERROR_NOT_FOUND);
}

TEST_F(lookup_fixture, SrefOrPatternWhicheverComesFirstInTheList) {
  mgr.add(entry("OTHER", "1.0", "A.*", "by pattern"));
  mgr.add(entry("A1", "1.0:3.0", "", "by sref"));
  EXPECT_EQ(mgr.find_id("A1").name, "by pattern");
  EXPECT_EQ(mgr.find(sw("A1", "1.0")).name, "by pattern");
  EXPECT_EQ(mgr.find(sw("A1", "2.0")).name, "by sref") << "versions are not looked at";
}

TEST_F(lookup_fixture, VersionOutsideAllRangesIsNotFoundByFind) {
  mgr.add(entry("A", "1.0:1.5|3.0", "", "a"));
  EXPECT_EQ(mgr.find(sw("A", "1.5.99")).name, "a");
  EXPECT_EQ(mgr.find(sw("A", "3.0.0.5")).name, "a");
  EXPECT_EQ(find_error(mgr, sw("A", "2.0")), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(mgr.find_id("A").name, "a");
}

TEST_F(lookup_fixture, EmptyVersionsAreReturnedOnlyByFindId) {
  mgr.add(entry("A", "2.0:1.0", "", "empty"));
  ASSERT_TRUE(mgr.get_specs()[0].versions.ranges.empty());
  EXPECT_EQ(find_error(mgr, sw("A", "1.5")), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_error(mgr, software("A", version())), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(mgr.find_id("A").name, "empty");
}

TEST_F(lookup_fixture, SrefComparisonIsExactAndByteWise) {
  mgr.add(entry("Agent", "", "", "agent"));
  mgr.add(entry("Caf\xC3\xA9", "", "", "utf8"));
  EXPECT_EQ(find_id_error(mgr, "agent"), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_id_error(mgr, "AGENT"), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_id_error(mgr, "Agent "), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_id_error(mgr, "Agen"), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(find_id_error(mgr, std::string("Agent\0x", 7)), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(mgr.find_id("Agent").name, "agent");
  EXPECT_EQ(mgr.find_id("Caf\xC3\xA9").name, "utf8");
  EXPECT_EQ(find_id_error(mgr, "Cafe\xCC\x81"), OX_ERROR_NOT_FOUND);
}

TEST_F(lookup_fixture, InvalidPatternsNeverMatchButSrefStillDoes) {
  const std::string too_long(ox_refhost::kMaxRegexPatternBytes + 1, 'A');
  for (const std::string& pattern : {std::string("("), std::string("[A"), std::string("A**"),
                                     std::string("\\"), std::string("(?=A)A"), too_long}) {
    package_spec_manager local(nullptr);
    local.add(entry("A", "1.0", pattern, "bad"));
    EXPECT_EQ(find_id_error(local, "("), OX_ERROR_NOT_FOUND) << pattern;
    EXPECT_EQ(find_id_error(local, "AA"), OX_ERROR_NOT_FOUND) << pattern;
    EXPECT_EQ(find_id_error(local, too_long), OX_ERROR_NOT_FOUND) << pattern.substr(0, 10);
    EXPECT_EQ(local.find_id("A").name, "bad");
    EXPECT_EQ(local.find(sw("A", "1.0")).name, "bad");
    EXPECT_FALSE(local.find_orqid_in_spec("A", "A"));
  }
}

TEST_F(lookup_fixture, FindSoftwareIdIsAWholeIdMatch) {
  struct row {
    std::string pattern;
    std::string id;
    bool expected;
  };
  const row rows[] = {
      {"ORQ.*", "ORQ_1", true},
      {"ORQ", "ORQ_1", false},
      {"ORQ", "xORQ", false},
      {"ORQ", "ORQ", true},
      {"^ORQ$", "ORQ", true},
      {"A|B", "B", true},
      {"A|B", "AB", false},
      {"[0-9]{3}", "123", true},
      {"[0-9]{3}", "1234", false},
      {"abc", "ABC", false},
      {"(?i)abc", "ABC", true},
      {"", "", true},
      {"", "a", false},
      {".", "\xC3\xA9", true},
      {"Caf\xC3\xA9", "Caf\xC3\xA9", true},
      {"(", "(", false},
      {"a{2000}", std::string(2000, 'a'), false},
      // A NUL byte cannot reach the host intact: no match rather than a
      // match of a shortened text.
      {"ORQ", std::string("ORQ\0tail", 8), false},
      {std::string("ORQ\0|.*", 7), "anything", false},
  };
  for (const row& r : rows) {
    EXPECT_EQ(mgr.find_software_id(r.pattern, r.id), r.expected)
        << "pattern \"" << r.pattern.substr(0, 20) << "\" id \"" << r.id.substr(0, 20) << '"';
  }
}

TEST_F(lookup_fixture, HostilePatternsAndLongIdsFinish) {
  const std::string long_id(ox_refhost::kMaxRegexTextBytes, 'a');
  EXPECT_FALSE(mgr.find_software_id("(a|aa)*b", long_id));
  EXPECT_TRUE(mgr.find_software_id("(a|aa)*", long_id));
  EXPECT_FALSE(mgr.find_software_id("((a+)+)+b", long_id));
  EXPECT_TRUE(mgr.find_software_id("(a*)*a{50}", long_id));

  // An id too long for the host's matcher is still found by its sref.
  const std::string too_long = long_id + "a";
  mgr.add(entry(too_long, "1.0", "a+", "long"));
  EXPECT_FALSE(mgr.find_software_id("a+", too_long));
  EXPECT_EQ(mgr.find_id(too_long).name, "long");
  EXPECT_EQ(mgr.find(sw(too_long, "1.0")).name, "long");
  EXPECT_EQ(mgr.find_id("aaa").name, "long");
}

TEST_F(lookup_fixture, FindOrqidLooksOnlyAtThePatternOfTheSoftwaresEntry) {
  mgr.add(entry("AGENT", "1.0", "ORQ_[0-9]+", "agent"));
  mgr.add(entry("ORQ_SELF", "1.0", "NOTHING", "self"));
  mgr.add(entry("OTHER", "1.0", "ORQ_9", "other"));

  EXPECT_TRUE(mgr.find_orqid_in_spec("ORQ_1", "AGENT"));
  EXPECT_FALSE(mgr.find_orqid_in_spec("ORQ_X", "AGENT"));
  // Arguments in the other order name an id without an entry.
  EXPECT_FALSE(mgr.find_orqid_in_spec("AGENT", "ORQ_1"));
  // The entry's own sref is not compared with the management id.
  EXPECT_FALSE(mgr.find_orqid_in_spec("ORQ_SELF", "ORQ_SELF"));
  EXPECT_FALSE(mgr.find_orqid_in_spec("AGENT", "AGENT"));
  // The entry may itself be found through a pattern: "ORQ_9" selects the
  // entry AGENT first, whose pattern matches "ORQ_12".
  EXPECT_TRUE(mgr.find_orqid_in_spec("ORQ_12", "ORQ_9"));
  EXPECT_FALSE(mgr.find_orqid_in_spec("ORQ_1", "MISSING"));
  EXPECT_FALSE(mgr.find_orqid_in_spec("", ""));
}

TEST_F(lookup_fixture, AddAppendsAfterImportedEntries) {
  const std::string text =
      R"(<specs><softwares><software sref="A" name="imported" platforms="" version="1.0:9.0" )"
      R"(softwareids="X"/></softwares></specs>)";
  mgr.add(entry("A", "1.0", "", "added first"));
  mgr.import(text.data(), text.size());
  mgr.add(entry("A", "1.0:9.0", "", "added last"));
  mgr.add(entry("A", "1.0:9.0", "", "added last"));
  ASSERT_EQ(mgr.get_specs().size(), 4u);
  EXPECT_EQ(mgr.find(sw("A", "1.0")).name, "added first");
  EXPECT_EQ(mgr.find(sw("A", "5.0")).name, "imported");
  EXPECT_EQ(mgr.get_specs()[3].name, "added last");
}

// The index is brought up to date at each look-up: entries added after an
// earlier look-up answer at the next one, by sref and by pattern.
TEST_F(lookup_fixture, EntriesAddedAfterALookUpAreFoundByTheNext) {
  mgr.add(entry("A", "1.0", "", "a"));
  EXPECT_EQ(mgr.find_id("A").name, "a");
  EXPECT_THROW(mgr.find_id("B"), pm_exception);
  mgr.add(entry("B", "1.0", "", "b"));
  mgr.add(entry("C", "1.0", "C|LEGACY_C", "c"));
  mgr.add(entry("D", "1.0", "D_[0-9]+", "d"));
  EXPECT_EQ(mgr.find_id("B").name, "b");
  EXPECT_EQ(mgr.find_id("LEGACY_C").name, "c");
  EXPECT_EQ(mgr.find(sw("D_12", "1.0")).name, "d");
  EXPECT_TRUE(mgr.find_orqid_in_spec("LEGACY_C", "C"));
}

TEST_F(lookup_fixture, LookUpsReturnCopiesAndLogNothing) {
  software_spec original = entry("A", "1.0", "A_.*", "a");
  original.depends.push_back(depend{"B", {}, "2.0"});
  mgr.add(original);
  original.name = "changed after add";

  software_spec found = mgr.find_id("A");
  found.name = "changed copy";
  found.depends.clear();
  EXPECT_EQ(mgr.get_specs()[0].name, "a");
  EXPECT_EQ(mgr.find(sw("A_2", "1.0")).depends.size(), 1u);
  EXPECT_TRUE(mgr.find_software_id("A_.*", "A_1"));
  EXPECT_TRUE(mgr.find_orqid_in_spec("A_1", "A"));
  EXPECT_EQ(find_id_error(mgr, "B"), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(mgr.get_specs().size(), 1u);
  EXPECT_TRUE(host.records().empty());
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

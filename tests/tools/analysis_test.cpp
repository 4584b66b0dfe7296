#include "analysis.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_host.hpp"
#include "tarvik/ox/host/ox_utils.h"
#include "tarvik/ox/package_spec_manager.hpp"

namespace tarvik {
namespace oxpm {
namespace {

using ox::installing_software;
using ox::software;
using ox::software_spec;

installing_software record(const std::string& id, const std::string& v, std::uint32_t state) {
  return installing_software(software(id, ox::version(v)), static_cast<ox::software_state>(state));
}

software_spec entry(const std::string& sref, const std::string& ids, const std::string& versions) {
  software_spec spec;
  spec.sref = sref;
  spec.name = sref + " name";
  spec.softwareids = ids;
  spec.versions.set(versions);
  return spec;
}

ox::depend depends_on(const std::string& sref, const std::string& text) {
  ox::depend dep;
  dep.sref = sref;
  dep.versions.set(text);
  dep.version_text = text;
  return dep;
}

ox::compatible compatible_with(const std::string& sref, const std::string& text) {
  ox::compatible comp;
  comp.sref = sref;
  comp.versions.set(text);
  return comp;
}

// A: depends on B 2.0:2.9.   B: answers to B and B_NEW, obsoletes 2.0:2.1.   C: compatible with
// D 3.0:3.9. D: answers to D and D_OLD.  E: uninstalls D.        F: depends on a sref nobody
// answers to.
class AnalysisTest : public ::testing::Test {
 protected:
  AnalysisTest() : specs(host.context()) {
    software_spec a = entry("A", "A|A_ID", "1.0:1.9");
    a.depends.push_back(depends_on("B", "2.0:2.9"));
    specs.add(a);
    software_spec b = entry("B", "B|B_NEW", "2.0:2.9");
    ox::version_ranges old;
    old.set("2.0:2.1");
    b.obsoletes.push_back(old);
    specs.add(b);
    software_spec c = entry("C", "C", "1.0:1.9");
    c.compatibles.push_back(compatible_with("D", "3.0:3.9"));
    specs.add(c);
    specs.add(entry("D", "D|D_OLD", "3.0:4.9"));
    software_spec e = entry("E", "E", "1.0");
    software legacy;
    legacy.set_id("D");
    e.uninstalls.push_back(legacy);
    specs.add(e);
    software_spec f = entry("F", "F", "1.0");
    f.depends.push_back(depends_on("nobody", "1.0"));
    specs.add(f);
  }

  analysis run(const std::vector<software>& uninstall, const std::vector<software>& install,
               const std::vector<installing_software>& resolved) {
    return analyze(specs, uninstall, install, resolved);
  }

  ox_test::test_host host;
  ox::package_spec_manager specs;
};

std::vector<software> list(std::initializer_list<std::pair<const char*, const char*>> items) {
  std::vector<software> out;
  for (const auto& item : items) {
    out.emplace_back(item.first, ox::version(item.second));
  }
  return out;
}

TEST_F(AnalysisTest, RequestedEntriesAreMatchedToTheResultInOrderWithDuplicates) {
  struct walk_case {
    const char* name;
    std::vector<software> install;
    std::vector<installing_software> resolved_install;  // after the installed part
    std::vector<entry_status> expected;
    int stopped_at;
  };
  installing_software failed_b = record("B", "2.5", 1);
  failed_b.failed_dependencies.emplace_back("B", ox::version("2.0"), "2.0");
  installing_software failed_a = record("A", "1.0", 1);
  failed_a.failed_compatibilities.emplace_back("D", ox::version("4.0"));
  const walk_case cases[] = {
      {"an entry left out in the middle had no specification entry",
       list({{"A", "1.0"}, {"X", "1.0"}, {"B", "2.5"}}),
       {record("A", "1.0", 1), record("B", "2.5", 1)},
       {entry_status::passed, entry_status::no_spec_entry, entry_status::passed},
       -1},
      {"entries after the one that stopped were not examined",
       list({{"A", "1.0"}, {"B", "2.5"}, {"C", "1.0"}}),
       {record("A", "1.0", 1), failed_b},
       {entry_status::passed, entry_status::failed_dependency, entry_status::not_examined},
       1},
      {"a duplicate after its passing twin stopped the walk",
       list({{"B", "2.5"}, {"B", "2.5"}, {"C", "1.0"}}),
       {record("B", "2.5", 1), failed_b},
       {entry_status::passed, entry_status::failed_dependency, entry_status::not_examined},
       1},
      {"a duplicate around a left-out entry",
       list({{"B", "2.5"}, {"X", "1.0"}, {"B", "2.5"}}),
       {record("B", "2.5", 1), record("B", "2.5", 1)},
       {entry_status::passed, entry_status::no_spec_entry, entry_status::passed},
       -1},
      {"the same id at another version is another request",
       list({{"B", "9.0"}, {"B", "2.5"}}),
       {record("B", "2.5", 1)},
       {entry_status::no_spec_entry, entry_status::passed},
       -1},
      {"an obsolete entry stops the walk",
       list({{"B", "2.0"}, {"A", "1.0"}}),
       {record("B", "2.0", 5)},
       {entry_status::obsolete, entry_status::not_examined},
       0},
      {"a failed compatibility stops the walk first thing",
       list({{"A", "1.0"}, {"A", "1.0"}}),
       {failed_a},
       {entry_status::failed_compatibility, entry_status::not_examined},
       0},
      {"nothing resolved, nothing stopped",
       list({{"X", "1"}, {"Y", "1"}}),
       {},
       {entry_status::no_spec_entry, entry_status::no_spec_entry},
       -1},
  };
  for (const walk_case& c : cases) {
    std::vector<installing_software> resolved = {record("Z", "1.0", 2)};
    resolved.insert(resolved.end(), c.resolved_install.begin(), c.resolved_install.end());
    const analysis facts = run({}, c.install, resolved);
    EXPECT_EQ(facts.installed_count, 1u) << c.name;
    ASSERT_EQ(facts.install.size(), c.expected.size()) << c.name;
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(facts.install[i].status, c.expected[i]) << c.name << ", entry " << i;
    }
    EXPECT_EQ(facts.stopped_at, c.stopped_at) << c.name;
    EXPECT_FALSE(facts.ok(false, false)) << c.name;
  }
}

TEST_F(AnalysisTest, RemovalsNameTheirReasons) {
  const std::vector<installing_software> resolved = {
      record("A", "1.0", 10), record("D_OLD", "3.0", 10), record("Q", "1.0", 10),
      record("R", "1.0", 2),  record("A", "1.5", 1),      record("E", "1.0", 1)};
  // A 1.5 depends on B, absent here: make it pass by giving it no failure and
  // checking only the removals.
  const analysis facts = run(list({{"Q", "0"}, {"nothing-installed", "1.0"}}),
                             list({{"A", "1.5"}, {"E", "1.0"}}), resolved);
  ASSERT_EQ(facts.removals.size(), 4u);
  ASSERT_EQ(facts.removals[0].size(), 1u);
  EXPECT_EQ(facts.removals[0][0].why, removal::why_t::replaced);
  EXPECT_EQ(facts.removals[0][0].by, 0u);
  ASSERT_EQ(facts.removals[1].size(), 1u);
  EXPECT_EQ(facts.removals[1][0].why, removal::why_t::uninstalled);
  EXPECT_EQ(facts.removals[1][0].by, 1u);
  EXPECT_EQ(facts.removals[1][0].product, "D");
  ASSERT_EQ(facts.removals[2].size(), 1u);
  EXPECT_EQ(facts.removals[2][0].why, removal::why_t::uninstall_request);
  EXPECT_EQ(facts.removals[2][0].by, 0u);
  EXPECT_TRUE(facts.removals[3].empty());
  EXPECT_EQ(facts.uninstall_unmatched, std::vector<std::size_t>{1});
  // A's dependency on B is unmet in this hand-made list although A passed:
  // the replay notices that it does not reproduce the library.
  EXPECT_FALSE(facts.consistent);
}

TEST_F(AnalysisTest, AnEntryInstalledUnderAnotherIdReplacesItsSref) {
  // D_OLD selects D's entry through its pattern; the installed D is its sref.
  const analysis facts =
      run({}, list({{"D_OLD", "3.5"}}),
          {record("D", "3.0", 10), record("X", "1.0", 2), record("D_OLD", "3.5", 1)});
  ASSERT_EQ(facts.removals[0].size(), 1u);
  EXPECT_EQ(facts.removals[0][0].why, removal::why_t::replaced);
  EXPECT_TRUE(facts.removals[1].empty());
  EXPECT_TRUE(facts.consistent);
}

TEST_F(AnalysisTest, DependencyOutcomesNameTheDecidingEntry) {
  struct dep_case {
    const char* name;
    std::vector<installing_software> installed;
    std::vector<software> uninstall;
    relation_check::outcome_t outcome;
    int candidate;
  };
  const dep_case cases[] = {
      {"nothing answers", {record("Z", "1.0", 2)}, {}, relation_check::outcome_t::missing, -1},
      {"outside the range",
       {record("B", "3.0", 2)},
       {},
       relation_check::outcome_t::wrong_version,
       0},
      {"every match is marked",
       {record("Z", "1.0", 2), record("B", "2.2", 10), record("B_NEW", "2.5", 10)},
       list({{"B", "1"}, {"B_NEW", "1"}}),
       relation_check::outcome_t::marked,
       1},
      {"a marked match is passed over and the next one decides",
       {record("B", "2.2", 10), record("B_NEW", "3.5", 2)},
       list({{"B", "1"}}),
       relation_check::outcome_t::wrong_version,
       1},
  };
  for (const dep_case& c : cases) {
    std::vector<installing_software> resolved = c.installed;
    installing_software failing = record("A", "1.0", 1);
    failing.failed_dependencies.emplace_back("B", ox::version("2.0"), "2.0:2.9");
    resolved.push_back(failing);
    const analysis facts = run(c.uninstall, list({{"A", "1.0"}}), resolved);
    ASSERT_EQ(facts.install.size(), 1u) << c.name;
    const entry_report& report = facts.install[0];
    EXPECT_EQ(report.status, entry_status::failed_dependency) << c.name;
    ASSERT_EQ(report.relations.size(), 1u) << c.name;
    EXPECT_EQ(report.relations[0].outcome, c.outcome) << c.name;
    EXPECT_EQ(report.relations[0].candidate, c.candidate) << c.name;
    EXPECT_EQ(report.relations[0].sref, "B") << c.name;
    EXPECT_EQ(report.relations[0].version_text, "2.0:2.9") << c.name;
    EXPECT_EQ(report.relations[0].target_pattern, "B|B_NEW") << c.name;
    EXPECT_FALSE(report.relations[0].ok()) << c.name;
    EXPECT_TRUE(facts.consistent) << c.name;
  }
}

TEST_F(AnalysisTest, AnEarlierInstallEntryMeetsADependency) {
  const std::vector<installing_software> resolved = {record("Z", "1.0", 2), record("B", "2.5", 1),
                                                     record("A", "1.0", 1)};
  const analysis facts = run({}, list({{"B", "2.5"}, {"A", "1.0"}}), resolved);
  ASSERT_EQ(facts.install[1].relations.size(), 1u);
  EXPECT_EQ(facts.install[1].relations[0].outcome, relation_check::outcome_t::met);
  EXPECT_EQ(facts.install[1].relations[0].candidate, 1);
  EXPECT_TRUE(facts.consistent);
  EXPECT_TRUE(facts.ok(false, false));
  EXPECT_FALSE(facts.ok(true, false));
  EXPECT_FALSE(facts.ok(false, true));
}

TEST_F(AnalysisTest, AnUnknownSrefIsNamedAndNeverMet) {
  installing_software failing = record("F", "1.0", 1);
  failing.failed_dependencies.emplace_back("", ox::version("1.0"), "1.0");
  const analysis facts = run({}, list({{"F", "1.0"}}), {failing});
  ASSERT_EQ(facts.install[0].relations.size(), 1u);
  EXPECT_EQ(facts.install[0].relations[0].outcome, relation_check::outcome_t::unknown_sref);
  EXPECT_EQ(facts.install[0].relations[0].sref, "nobody");
  EXPECT_TRUE(facts.consistent);
}

TEST_F(AnalysisTest, CompatibilityPassesOverMarkedEntriesToTheNextMatch) {
  // D_OLD 4.0 installed but to be uninstalled; D 3.5 accepted earlier decides.
  const std::vector<installing_software> passing = {record("D_OLD", "4.0", 10),
                                                    record("D", "3.5", 1), record("C", "1.0", 1)};
  const analysis ok = run(list({{"D_OLD", "4.0"}}), list({{"D", "3.5"}, {"C", "1.0"}}), passing);
  ASSERT_EQ(ok.install[1].relations.size(), 1u);
  const relation_check& passed = ok.install[1].relations[0];
  EXPECT_EQ(passed.kind, relation_check::kind_t::compatible);
  EXPECT_EQ(passed.outcome, relation_check::outcome_t::in_range);
  EXPECT_EQ(passed.passed_over, std::vector<int>{0});
  EXPECT_EQ(passed.candidate, 1);
  EXPECT_TRUE(ok.consistent);

  // D_OLD 4.0 installed and staying: out of range, the walk stops at C.
  installing_software failing = record("C", "1.0", 1);
  failing.failed_compatibilities.emplace_back("D_OLD", ox::version("4.0"));
  const analysis bad = run({}, list({{"C", "1.0"}}), {record("D_OLD", "4.0", 2), failing});
  ASSERT_EQ(bad.install[0].relations.size(), 1u);
  EXPECT_EQ(bad.install[0].relations[0].outcome, relation_check::outcome_t::out_of_range);
  EXPECT_EQ(bad.install[0].relations[0].candidate, 0);
  EXPECT_EQ(bad.install[0].status, entry_status::failed_compatibility);
  EXPECT_TRUE(bad.consistent);

  // Nothing answers: the relation passes as absent.
  const analysis absent = run({}, list({{"C", "1.0"}}), {record("C", "1.0", 1)});
  ASSERT_EQ(absent.install[0].relations.size(), 1u);
  EXPECT_EQ(absent.install[0].relations[0].outcome, relation_check::outcome_t::absent);
  EXPECT_TRUE(absent.install[0].relations[0].ok());
}

TEST_F(AnalysisTest, ObsoleteEntriesNameTheirRangesAndMarkNothing) {
  const analysis facts =
      run({}, list({{"B", "2.1.5"}}), {record("B", "1.0", 2), record("B", "2.1.5", 5)});
  EXPECT_EQ(facts.install[0].status, entry_status::obsolete);
  EXPECT_EQ(facts.install[0].obsolete_hits, std::vector<std::size_t>{0});
  EXPECT_TRUE(facts.removals[0].empty());
  EXPECT_TRUE(facts.consistent);
}

TEST_F(AnalysisTest, LeftOutEntriesTellWhetherTheIdIsKnown) {
  const analysis facts = run({}, list({{"B", "7.0"}, {"unknown", "1.0"}, {"D_OLD", "9.0"}}), {});
  EXPECT_TRUE(facts.install[0].id_known);
  EXPECT_FALSE(facts.install[1].id_known);
  EXPECT_TRUE(facts.install[2].id_known);  // through D's pattern
  for (const entry_report& report : facts.install) {
    EXPECT_EQ(report.status, entry_status::no_spec_entry);
    EXPECT_FALSE(report.has_spec);
  }
  EXPECT_TRUE(facts.consistent);
}

TEST_F(AnalysisTest, AStateTheReplayCannotExplainIsNoticed) {
  // Z is marked although nothing asks for its removal.
  const analysis facts =
      run({}, list({{"D", "3.5"}}), {record("Z", "1.0", 10), record("D", "3.5", 1)});
  EXPECT_FALSE(facts.consistent);
}

// Where the host describes a target pattern (its exact alternatives and
// literal prefixes), only the entries with those ids are tested; the
// judgements must be those of testing every entry in list order, which is
// what happens for the patterns the host cannot describe.
TEST(AnalysisIndexTest, DescribedPatternsJudgeRelationsAsTestingEveryEntry) {
  ox_test::test_host host;
  const auto* literals = static_cast<const ox_regex_literals_s*>(
      ox_context_get_object_info(host.context(), OX_OBJECT_REGEX_LITERALS));
  ASSERT_NE(literals, nullptr);

  ox::package_spec_manager specs(host.context());
  // Exact alternatives and a prefix; a pattern the host cannot describe; one
  // that only a prefix narrows.
  specs.add(entry("lib", "lib|LIB_OLD|libx-[0-9]+", "1.0:9.9"));
  specs.add(entry("tool", "(tool|TOOL)[0-9]*", "1.0:9.9"));
  specs.add(entry("net", "net.*", "1.0:9.9"));
  software_spec needs_lib = entry("app1", "app1", "1.0");
  needs_lib.depends.push_back(depends_on("lib", "2.0:2.9"));
  needs_lib.depends.push_back(depends_on("tool", "1.0:1.9"));
  specs.add(needs_lib);
  software_spec with_lib = entry("app2", "app2", "1.0");
  with_lib.compatibles.push_back(compatible_with("lib", "1.0:1.9"));
  with_lib.compatibles.push_back(compatible_with("net", "3.0:3.9"));
  with_lib.compatibles.push_back(compatible_with("tool", "1.0:1.9"));
  specs.add(with_lib);
  software_spec late = entry("app3", "app3", "1.0");
  late.depends.push_back(depends_on("tool", "1.0:1.9"));
  late.depends.push_back(depends_on("net", "4.0:4.9"));
  specs.add(late);

  // libx-7 comes first but is to be removed; LIB_OLD is listed by the
  // exact alternatives after lib yet stands before it in the list.
  const std::vector<software> uninstall = list({{"libx-7", "1"}, {"netcore", "1"}});
  const std::vector<software> install = list({{"app1", "1.0"}, {"app2", "1.0"}, {"app3", "1.0"}});
  const std::vector<installing_software> resolved = {
      record("libx-7", "2.5", 10), record("libx-", "1.0", 2),  record("LIB_OLD", "1.5", 2),
      record("lib", "3.0", 2),     record("TOOL12", "1.2", 2), record("netcore", "3.5", 10),
      record("network", "4.5", 2), record("app1", "1.0", 1),   record("app2", "1.0", 1),
      record("app3", "1.0", 1),
  };
  const analysis indexed =
      analyze(specs, uninstall, install, resolved, relation_scope::every_entry, literals);
  const analysis walked =
      analyze(specs, uninstall, install, resolved, relation_scope::every_entry, nullptr);

  using outcome = relation_check::outcome_t;
  struct judged {
    outcome result;
    int candidate;
    std::vector<int> passed_over;
  };
  const std::vector<std::vector<judged>> expected = {
      // app1: lib passes over libx-7, marked, to LIB_OLD 1.5, outside 2.0:2.9.
      {{outcome::wrong_version, 2, {0}}},
      // app2: lib passes over libx-7 to LIB_OLD 1.5; net over netcore to
      // network 4.5, outside 3.0:3.9.
      {{outcome::in_range, 2, {0}}, {outcome::out_of_range, 6, {5}}},
      // app3: TOOL12 meets tool; net passes over netcore to network 4.5.
      {{outcome::met, 4, {}}, {outcome::met, 6, {5}}},
  };
  for (const analysis* facts : {&indexed, &walked}) {
    const char* how = facts == &indexed ? "indexed" : "walked";
    ASSERT_EQ(facts->install.size(), expected.size()) << how;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const std::vector<relation_check>& relations = facts->install[i].relations;
      ASSERT_EQ(relations.size(), expected[i].size()) << how << ", entry " << i;
      for (std::size_t r = 0; r < relations.size(); ++r) {
        EXPECT_EQ(relations[r].outcome, expected[i][r].result) << how << ", " << i << "/" << r;
        EXPECT_EQ(relations[r].candidate, expected[i][r].candidate) << how << ", " << i << "/" << r;
        EXPECT_EQ(relations[r].passed_over, expected[i][r].passed_over)
            << how << ", " << i << "/" << r;
      }
    }
  }
  EXPECT_EQ(indexed.consistent, walked.consistent);

  // The pattern no prefix narrows: tool is only found by testing each entry.
  const std::vector<installing_software> tool_first = {
      record("TOOL12", "1.2", 2), record("LIB_OLD", "2.5", 2), record("app1", "1.0", 1)};
  const analysis passing = analyze(specs, {}, list({{"app1", "1.0"}}), tool_first,
                                   relation_scope::every_entry, literals);
  ASSERT_EQ(passing.install[0].relations.size(), 2u);
  EXPECT_EQ(passing.install[0].relations[0].candidate, 1);
  EXPECT_EQ(passing.install[0].relations[0].outcome, outcome::met);
  EXPECT_EQ(passing.install[0].relations[1].candidate, 0);
  EXPECT_EQ(passing.install[0].relations[1].outcome, outcome::met);
  EXPECT_TRUE(passing.consistent);
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

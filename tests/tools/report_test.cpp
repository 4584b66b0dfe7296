#include "report.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_host.hpp"
#include "tarvik/ox/package_spec_manager.hpp"

namespace tarvik {
namespace oxpm {
namespace {

using ox::installing_software;
using ox::software;

installing_software record(const std::string& id, const std::string& v, std::uint32_t state) {
  return installing_software(software(id, ox::version(v)), static_cast<ox::software_state>(state));
}

ox::software_spec entry(const std::string& sref, const std::string& versions) {
  ox::software_spec spec;
  spec.sref = sref;
  spec.name = sref + " name";
  spec.softwareids = sref;
  spec.versions.set(versions);
  return spec;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// runtime 2.4 installed, agent 3.1 installed (replaced), old-tool installed
// (uninstall request). The request: agent 4.1 passes, ghost has no entry,
// backup 3.0 needs runtime 3.0:3.9 and stops the walk, console is not examined.
class ReportTest : public ::testing::Test {
 protected:
  ReportTest() : specs(host.context()) {
    specs.add(entry("runtime", "2.0:3.9"));
    specs.add(entry("agent", "3.0:4.9"));
    ox::software_spec backup = entry("backup", "3.0:3.9");
    ox::depend dep;
    dep.sref = "runtime";
    dep.version_text = "3.0:3.9";
    dep.versions.set(dep.version_text);
    backup.depends.push_back(dep);
    specs.add(backup);
    specs.add(entry("console", "1.0:9.0"));

    result.uninstall = {software("old-tool", ox::version("1.0"))};
    result.install = {software("agent", ox::version("4.1")), software("ghost", ox::version("1.0")),
                      software("backup", ox::version("3.0")),
                      software("console", ox::version("4.0"))};
    result.resolved = {record("runtime", "2.4", 2), record("agent", "3.1", 10),
                       record("old-tool", "1.0", 10), record("agent", "4.1", 1),
                       record("backup", "3.0", 1)};
    result.resolved.back().failed_dependencies.emplace_back("runtime", ox::version("3.0"),
                                                            "3.0:3.9");
    result.incompatible = true;
    facts = analyze(specs, result.uninstall, result.install, result.resolved);
  }

  std::string text(bool colour = false) {
    text_options options;
    options.platform = "linux-x64";
    options.look = style(colour);
    return render_text(result, facts, specs, options);
  }

  ox_test::test_host host;
  ox::package_spec_manager specs;
  resolution result;
  analysis facts;
};

nlohmann::ordered_json::array_t keys_of(const nlohmann::ordered_json& object) {
  nlohmann::ordered_json::array_t keys;
  for (const auto& item : object.items()) {
    keys.emplace_back(item.key());
  }
  return keys;
}

TEST_F(ReportTest, JsonKeepsTheLibrarysFieldsAndAddsTheVerdictBeside) {
  const nlohmann::ordered_json out = resolution_json(result, facts, specs);
  EXPECT_EQ(keys_of(out),
            (nlohmann::ordered_json::array_t{"schema_version", "outcome", "ok", "resolved",
                                             "incompatible", "conflicted", "not_resolved"}));
  EXPECT_EQ(out["schema_version"], 1);
  EXPECT_EQ(out["outcome"], "unmet_dependency");
  EXPECT_EQ(out["ok"], false);
  ASSERT_EQ(out["resolved"].size(), 5u);
  const auto& replaced = out["resolved"][1];
  EXPECT_EQ(keys_of(replaced),
            (nlohmann::ordered_json::array_t{"id", "version", "state", "states",
                                             "failed_dependencies", "failed_compatibilities",
                                             "detected_conflicts", "removed_because"}));
  EXPECT_EQ(replaced["id"], "agent");
  EXPECT_EQ(replaced["version"], "3.1.0.0");
  EXPECT_EQ(replaced["state"], 10);
  EXPECT_EQ(replaced["states"], nlohmann::ordered_json::array({"SOFTWARE_STATE_INSTALLED",
                                                               "SOFTWARE_STATE_MARKED_UNINSTALL"}));
  EXPECT_EQ(replaced["removed_because"],
            nlohmann::ordered_json::parse(
                R"([{"reason": "replaced_by", "by": {"id": "agent", "version": "4.1.0.0"}}])"));
  EXPECT_EQ(
      out["resolved"][2]["removed_because"],
      nlohmann::ordered_json::parse(
          R"([{"reason": "uninstall_request", "by": {"id": "old-tool", "version": "1.0.0.0"}}])"));
  EXPECT_TRUE(out["resolved"][0]["removed_because"].empty());

  // The library's finding as it is, with the catalog entry it refers to and
  // the installed software that blocked it.
  const auto& failed = out["resolved"][4]["failed_dependencies"];
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0], nlohmann::ordered_json::parse(R"({
      "id": "runtime", "version": "3.0.0.0", "version_text": "3.0:3.9", "sref": "runtime",
      "blocker": {"id": "runtime", "version": "2.4.0.0", "installed": true, "removed": false}})"));
  EXPECT_TRUE(out["resolved"][4]["failed_compatibilities"].empty());
  EXPECT_EQ(out["incompatible"], true);
  EXPECT_EQ(out["conflicted"], false);
  EXPECT_EQ(out["not_resolved"], nlohmann::ordered_json::parse(R"([
      {"id": "ghost", "version": "1.0.0.0", "reason": "no specification entry",
       "reason_code": "no_catalog_entry"},
      {"id": "console", "version": "4.0.0.0", "reason": "not examined",
       "reason_code": "not_examined"}])"));
}

TEST_F(ReportTest, TheOutcomeNamesWhatStopsTheRequest) {
  EXPECT_STREQ(outcome_of(result, facts), "unmet_dependency");

  // Without the failing entry: ghost has no catalog entry.
  result.install = {software("agent", ox::version("4.1")), software("ghost", ox::version("1.0"))};
  result.resolved.pop_back();
  result.incompatible = false;
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  EXPECT_STREQ(outcome_of(result, facts), "not_resolved");

  // Installed software that stays and loses a dependency: what removed it is
  // its blocker. The library then answers incompatible.
  result.install = {software("agent", ox::version("4.1"))};
  ox::software_spec tool = entry("tool", "1.0");
  ox::depend dep;
  dep.sref = "agent";
  dep.version_text = "3.0:3.9";
  dep.versions.set(dep.version_text);
  tool.depends.push_back(dep);
  specs.add(tool);
  result.resolved.insert(result.resolved.begin() + 3, record("tool", "1.0", 2));
  result.resolved[3].failed_dependencies.emplace_back("agent", ox::version("3.0.0.0"), "3.0:3.9");
  result.incompatible = true;
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  EXPECT_STREQ(outcome_of(result, facts), "broken_dependents");
  const nlohmann::ordered_json out = resolution_json(result, facts, specs);
  EXPECT_EQ(out["ok"], false);
  const auto& finding = out["resolved"][3]["failed_dependencies"][0];
  EXPECT_EQ(finding["sref"], "agent");
  EXPECT_EQ(finding["blocker"]["id"], "agent");
  EXPECT_EQ(finding["blocker"]["version"], "3.1.0.0");
  EXPECT_EQ(finding["blocker"]["removed"], true);

  result.resolved[3].failed_dependencies.clear();
  result.incompatible = false;
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  EXPECT_STREQ(outcome_of(result, facts), "ok");
  EXPECT_EQ(resolution_json(result, facts, specs)["ok"], true);
  result.conflicted = true;
  EXPECT_STREQ(outcome_of(result, facts), "conflicted");
}

TEST_F(ReportTest, JsonCarriesConflictsAndStaysValidForAnyBytes) {
  result.resolved[0].detected_conflicts.push_back({"vpn", 1});
  result.resolved[0].id =
      "bad\xff\xfe"
      "id";
  const std::string text = render_json(result, facts, specs);
  const nlohmann::json parsed = nlohmann::json::parse(text);
  EXPECT_EQ(parsed["resolved"][0]["detected_conflicts"][0]["id"], "vpn");
  EXPECT_EQ(parsed["resolved"][0]["detected_conflicts"][0]["action"], 1);
  EXPECT_EQ(parsed["resolved"][0]["id"],
            "bad\xef\xbf\xbd\xef\xbf\xbd"
            "id");
  EXPECT_EQ(text.back(), '\n');
}

TEST(StateNamesTest, NamesEveryBitSet) {
  EXPECT_EQ(state_names(ox::SOFTWARE_STATE_INSTALL),
            std::vector<std::string>{"SOFTWARE_STATE_INSTALL"});
  EXPECT_EQ(state_names(static_cast<ox::software_state>(5)),
            (std::vector<std::string>{"SOFTWARE_STATE_INSTALL", "SOFTWARE_STATE_UNINSTALL"}));
  EXPECT_EQ(state_names(static_cast<ox::software_state>(15)).size(), 4u);
  EXPECT_TRUE(state_names(static_cast<ox::software_state>(0)).empty());
}

TEST_F(ReportTest, TextSaysWhatStaysWhatGoesAndWhy) {
  EXPECT_EQ(text(),
            "oxpm resolve, platform \"linux-x64\": 3 installed, 4 to install, 1 to uninstall\n"
            "\n"
            "Stays installed (1):\n"
            "  runtime     2.4.0.0\n"
            "Removed (2):\n"
            "  agent       3.1.0.0  replaced by agent 4.1.0.0\n"
            "  old-tool    1.0.0.0  uninstall request\n"
            "To install, in request order (4):\n"
            "  1. agent    4.1.0.0  ok\n"
            "  2. ghost    1.0.0.0  not resolved: no catalog entry\n"
            "  3. backup   3.0.0.0  FAILED: dependency not met\n"
            "  4. console  4.0.0.0  not examined: the walk stopped before it\n"
            "\n"
            "Why ghost 1.0.0.0 was left out:\n"
            "  No catalog entry answers to the id ghost for platform \"linux-x64\".\n"
            "\n"
            "Why backup 3.0.0.0 cannot be installed:\n"
            "  backup 3.0.0.0 depends on runtime in versions \"3.0:3.9\" (3.0.0.0 to 3.9.*.*),\n"
            "  but the installed runtime 2.4.0.0 is outside that range.\n"
            "  Hint: request runtime in those versions before backup 3.0.0.0.\n"
            "  The walk stopped there: 1 later entry was not examined.\n"
            "\n"
            "Result: the request cannot be carried out as asked.\n"
            "  - backup 3.0.0.0: dependency not met\n"
            "  - 1 requested entry without catalog entry\n"
            "  - 1 requested entry not examined\n");
}

TEST_F(ReportTest, TextNamesTheEntriesThatCoverOtherVersionsAndIdleUninstalls) {
  result.install[1] = software("backup", ox::version("9.0"));
  result.uninstall.push_back(software("never-installed", ox::version("1.0")));
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  const std::string out = text();
  EXPECT_TRUE(contains(out,
                       "Uninstall requests that name nothing installed:\n"
                       "  never-installed  not installed, nothing to remove\n"))
      << out;
  EXPECT_TRUE(contains(out,
                       "Why backup 9.0.0.0 was left out:\n  The catalog has entries "
                       "for backup, but none for version 9.0.0.0; they cover 3.0.0.0 to "
                       "3.9.*.*.\n"))
      << out;
}

TEST_F(ReportTest, TextExplainsAMarkedDependencyAndAMissingOne) {
  // runtime is asked for removal: the first runtime found is marked.
  result.uninstall.push_back(software("runtime", ox::version("2.4")));
  result.resolved[0].state = static_cast<ox::software_state>(10);
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  std::string out = text();
  EXPECT_TRUE(contains(out,
                       "but the installed runtime 2.4.0.0 is marked for removal (uninstall "
                       "request),\n  and nothing else installed or requested before it is "
                       "runtime (ids matching \"runtime\").\n"))
      << out;

  // No runtime at all.
  result.uninstall.pop_back();
  result.resolved.erase(result.resolved.begin());
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  out = text();
  EXPECT_TRUE(contains(out,
                       "but no software installed or requested before it is runtime (ids "
                       "matching \"runtime\").\n"))
      << out;
  EXPECT_TRUE(contains(out, "Hint: request runtime in those versions before backup 3.0.0.0.\n"))
      << out;

  // A runtime requested before it, at a version outside the range.
  result.install.insert(result.install.begin() + 2, software("runtime", ox::version("2.5")));
  result.resolved.insert(result.resolved.end() - 1, record("runtime", "2.5", 1));
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  out = text();
  EXPECT_TRUE(contains(out, "but runtime 2.5.0.0, requested before it, is outside that range.\n"))
      << out;
  EXPECT_TRUE(facts.consistent);
}

TEST_F(ReportTest, TextExplainsAnObsoleteVersion) {
  ox::version_ranges obsolete;
  obsolete.set("2.0:2.5");
  ox::software_spec old = entry("runtime", "2.0:2.9");
  old.obsoletes.push_back(obsolete);
  ox::package_spec_manager own(host.context());
  own.add(old);
  result.uninstall.clear();
  result.install = {software("runtime", ox::version("2.2"))};
  result.resolved = {record("runtime", "2.2", 5)};
  result.incompatible = false;
  facts = analyze(own, result.uninstall, result.install, result.resolved);
  text_options options;
  const std::string out = render_text(result, facts, own, options);
  EXPECT_TRUE(contains(out, "no platform: 0 installed, 1 to install, 0 to uninstall")) << out;
  EXPECT_TRUE(contains(out,
                       "Version 2.2.0.0 of runtime is obsolete: its catalog entry "
                       "runtime (\"runtime name\") declares 2.0.0.0 to 2.5.*.* obsolete.\n"))
      << out;
  EXPECT_TRUE(contains(out, "  - runtime 2.2.0.0: obsolete\n")) << out;
}

TEST_F(ReportTest, TextForARequestThatPassesAndInColour) {
  result.install = {software("agent", ox::version("4.1"))};
  result.uninstall.clear();
  result.resolved = {record("runtime", "2.4", 2), record("agent", "3.1", 10),
                     record("agent", "4.1", 1)};
  result.incompatible = false;
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  const std::string plain = text();
  EXPECT_TRUE(contains(plain, "\nResult: the request can be carried out.\n")) << plain;
  EXPECT_FALSE(contains(plain, "Why")) << plain;
  const std::string coloured = text(true);
  EXPECT_TRUE(contains(coloured, "\x1b[32mok\x1b[0m")) << coloured;
  EXPECT_TRUE(contains(coloured, "\x1b[32mResult: the request can be carried out.\x1b[0m"))
      << coloured;
}

TEST_F(ReportTest, IdsCannotDriveTheTerminal) {
  result.install[1].id = "gh\x1b[2Jost";
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  const std::string out = text();
  EXPECT_FALSE(contains(out, "\x1b")) << out;
  EXPECT_TRUE(contains(out, "gh\\x1b[2Jost")) << out;
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

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

TEST_F(ReportTest, JsonHasTheDocumentedShape) {
  const nlohmann::ordered_json out = resolution_json(result, facts);
  std::vector<std::string> keys;
  for (const auto& item : out.items()) {
    keys.push_back(item.key());
  }
  EXPECT_EQ(keys,
            (std::vector<std::string>{"resolved", "incompatible", "conflicted", "not_resolved"}));
  ASSERT_EQ(out["resolved"].size(), 5u);
  const auto& replaced = out["resolved"][1];
  keys.clear();
  for (const auto& item : replaced.items()) {
    keys.push_back(item.key());
  }
  EXPECT_EQ(keys,
            (std::vector<std::string>{"id", "version", "state", "states", "failed_dependencies",
                                      "failed_compatibilities", "detected_conflicts"}));
  EXPECT_EQ(replaced["id"], "agent");
  EXPECT_EQ(replaced["version"], "3.1.0.0");
  EXPECT_EQ(replaced["state"], 10);
  EXPECT_EQ(replaced["states"], nlohmann::ordered_json::array({"SOFTWARE_STATE_INSTALLED",
                                                               "SOFTWARE_STATE_MARKED_UNINSTALL"}));
  const auto& failed = out["resolved"][4]["failed_dependencies"];
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0]["id"], "runtime");
  EXPECT_EQ(failed[0]["version"], "3.0.0.0");
  EXPECT_EQ(failed[0]["version_text"], "3.0:3.9");
  EXPECT_TRUE(out["resolved"][4]["failed_compatibilities"].empty());
  EXPECT_EQ(out["incompatible"], true);
  EXPECT_EQ(out["conflicted"], false);
  ASSERT_EQ(out["not_resolved"].size(), 2u);
  EXPECT_EQ(out["not_resolved"][0]["id"], "ghost");
  EXPECT_EQ(out["not_resolved"][0]["version"], "1.0.0.0");
  EXPECT_EQ(out["not_resolved"][0]["reason"], "no specification entry");
  EXPECT_EQ(out["not_resolved"][1]["id"], "console");
  EXPECT_EQ(out["not_resolved"][1]["reason"], "not examined");
}

TEST_F(ReportTest, JsonCarriesConflictsAndStaysValidForAnyBytes) {
  result.resolved[0].detected_conflicts.push_back({"vpn", 1});
  result.resolved[0].id =
      "bad\xff\xfe"
      "id";
  const std::string text = render_json(result, facts);
  const nlohmann::json parsed = nlohmann::json::parse(text);
  EXPECT_EQ(parsed["resolved"][0]["detected_conflicts"][0]["id"], "vpn");
  EXPECT_EQ(parsed["resolved"][0]["detected_conflicts"][0]["action"], 1);
  EXPECT_EQ(parsed["resolved"][0]["id"],
            "bad\xef\xbf\xbd\xef\xbf\xbd"
            "id");
  EXPECT_EQ(text.back(), '\n');
}

// The report as it was first written: every member set through operator[],
// which searches the keys and lets the members' vector re-allocate. The
// records are now built by appending; the text must not change by a byte.
nlohmann::ordered_json member_by_member_json(const resolution& result, const analysis& facts) {
  using json = nlohmann::ordered_json;
  const auto list = [](const std::vector<software>& entries) {
    json out = json::array();
    for (const software& sw : entries) {
      json item = json::object();
      item["id"] = sw.id;
      item["version"] = sw.version.getversion();
      item["version_text"] = sw.version_text;
      out.push_back(std::move(item));
    }
    return out;
  };
  json resolved = json::array();
  for (const installing_software& entry : result.resolved) {
    json conflicts = json::array();
    for (const ox::conflict_info& found : entry.detected_conflicts) {
      json conflict = json::object();
      conflict["id"] = found.id;
      conflict["action"] = found.action;
      conflicts.push_back(std::move(conflict));
    }
    json item = json::object();
    item["id"] = entry.id;
    item["version"] = entry.version.getversion();
    item["state"] = static_cast<std::uint32_t>(entry.state);
    item["states"] = state_names(entry.state);
    item["failed_dependencies"] = list(entry.failed_dependencies);
    item["failed_compatibilities"] = list(entry.failed_compatibilities);
    item["detected_conflicts"] = std::move(conflicts);
    resolved.push_back(std::move(item));
  }
  json not_resolved = json::array();
  for (const entry_report& entry : facts.install) {
    if (entry.status == entry_status::no_spec_entry || entry.status == entry_status::not_examined) {
      json item = json::object();
      item["id"] = entry.requested.id;
      item["version"] = entry.requested.version.getversion();
      item["reason"] =
          entry.status == entry_status::not_examined ? "not examined" : "no specification entry";
      not_resolved.push_back(std::move(item));
    }
  }
  json out = json::object();
  out["resolved"] = std::move(resolved);
  out["incompatible"] = result.incompatible;
  out["conflicted"] = result.conflicted;
  out["not_resolved"] = std::move(not_resolved);
  return out;
}

std::string member_by_member_text(const resolution& result, const analysis& facts) {
  return member_by_member_json(result, facts)
             .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
         "\n";
}

TEST_F(ReportTest, JsonTextIsTheSameAsWhenBuiltMemberByMember) {
  // Every kind of member and value: findings of both kinds, several of them,
  // conflicts with negative and large actions, every state bit, versions
  // that print all four components, texts with quotes, backslashes, control
  // characters, non-ASCII and invalid UTF-8.
  installing_software& runtime = result.resolved[0];
  runtime.id = "runtime-\xc3\xa9t\xc3\xa9";
  runtime.detected_conflicts = {{"vpn \"classic\"", -1}, {"tab\there", 2147483647}};
  installing_software& replaced = result.resolved[1];
  replaced.state = static_cast<ox::software_state>(15);
  replaced.failed_compatibilities.emplace_back("agent\\x", ox::version("4.294967295.7.1"), "");
  installing_software& backup = result.resolved.back();
  backup.failed_dependencies.emplace_back("db|DB_[56]", ox::version("5.0"), "5.0:6.9|7.1:7.2");
  backup.failed_dependencies.emplace_back("bad\xff\xfe\x01id", ox::version("0"), "\xc3");
  backup.failed_compatibilities.emplace_back("\xe2\x82\xac-euro", ox::version("1.2.3.4"),
                                             "1.2.3.4");
  result.resolved.push_back(record("zero-state", "1.0", 0));
  result.install.push_back(software("\xf0\x9f\x93\xa6 pkg\x7f", ox::version("2.0.1")));
  result.conflicted = true;
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  ASSERT_GE(facts.install.size(), 5u);

  const std::string expected = member_by_member_text(result, facts);
  EXPECT_EQ(render_json(result, facts), expected);
  EXPECT_EQ(resolution_json(result, facts)
                    .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
                "\n",
            expected);
  // The case above has every list filled; the examples and empty ones too.
  EXPECT_NE(expected.find("\"not_resolved\": [\n    {"), std::string::npos) << expected;
  EXPECT_NE(expected.find("\"detected_conflicts\": [\n"), std::string::npos) << expected;

  resolution empty;
  const analysis none = analyze(specs, {}, {}, {});
  EXPECT_EQ(render_json(empty, none), member_by_member_text(empty, none));
  EXPECT_EQ(render_json(empty, none),
            "{\n  \"resolved\": [],\n  \"incompatible\": false,\n  \"conflicted\": false,\n"
            "  \"not_resolved\": []\n}\n");
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
            "  2. ghost    1.0.0.0  not resolved: no specification entry\n"
            "  3. backup   3.0.0.0  FAILED: dependency not met\n"
            "  4. console  4.0.0.0  not examined: the walk stopped before it\n"
            "\n"
            "Why ghost 1.0.0.0 was left out:\n"
            "  No specification entry answers to the id ghost for platform \"linux-x64\".\n"
            "\n"
            "Why backup 3.0.0.0 cannot be installed:\n"
            "  backup 3.0.0.0 depends on runtime in versions \"3.0:3.9\" (3.0.0.0 to 3.9.*.*),\n"
            "  but the installed runtime 2.4.0.0 is outside that range.\n"
            "  Hint: request runtime in those versions before backup 3.0.0.0.\n"
            "  The walk stopped there: 1 later entry was not examined.\n"
            "\n"
            "Result: the request cannot be carried out as asked.\n"
            "  - backup 3.0.0.0: dependency not met\n"
            "  - 1 requested entry without specification entry\n"
            "  - 1 requested entry not examined\n");
}

TEST_F(ReportTest, TextNamesTheEntriesThatCoverOtherVersionsAndIdleUninstalls) {
  result.install[1] = software("backup", ox::version("9.0"));
  result.uninstall.push_back(software("never-installed", ox::version("1.0")));
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  const std::string out = text();
  EXPECT_TRUE(contains(out,
                       "Uninstall requests that name nothing installed:\n"
                       "  never-installed  (nothing to remove)\n"))
      << out;
  EXPECT_TRUE(contains(out,
                       "Why backup 9.0.0.0 was left out:\n  The specification has entries "
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
                       "Version 2.2.0.0 of runtime is obsolete: its specification entry "
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

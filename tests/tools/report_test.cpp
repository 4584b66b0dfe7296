// What the case files cannot bring about: a resolution that holds detected
// conflicts, and ids that are not UTF-8 (every input reader takes UTF-8 only).
// The reports of real resolutions are case files under tests/cases/reports/.
#include "report.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_host.hpp"
#include "tarvik/ox/package_spec_manager.hpp"

namespace tarvik {
namespace oxpm {
namespace {

TEST(ReportTest, ConflictsAndIdsOfAnyBytes) {
  ox_test::test_host host;
  ox::package_spec_manager specs(host.context());
  ox::software_spec agent;
  agent.sref = "agent";
  agent.softwareids = "agent";
  agent.versions.set("4.0:4.9");
  specs.add(agent);
  resolution result;
  result.install = {ox::software("agent", ox::version("4.1"))};
  result.resolved = {ox::installing_software(ox::software("agent", ox::version("4.1")),
                                             ox::SOFTWARE_STATE_INSTALL)};
  result.resolved[0].detected_conflicts.push_back({"vpn", 1});
  result.conflicted = true;
  result.incompatible = true;
  result.walk.entries.push_back({0, false, {}});
  analysis facts = analyze(specs, result.uninstall, result.install, result.resolved, result.walk);
  EXPECT_STREQ(outcome_of(result, facts), "conflicted");
  nlohmann::json parsed = nlohmann::json::parse(render_json(result, facts, specs));
  EXPECT_EQ(parsed["conflicted"], true);
  EXPECT_EQ(parsed["resolved"][0]["detected_conflicts"],
            nlohmann::json::parse(R"([{"id": "vpn", "action": 1}])"));
  text_options options;
  const std::string conflicted = render_text(result, facts, specs, options);
  EXPECT_NE(conflicted.find("  - the resolved list holds detected conflicts\n"), std::string::npos)
      << conflicted;

  result.install.push_back(ox::software("bad\xff\xfeid", ox::version("1.0")));
  facts = analyze(specs, result.uninstall, result.install, result.resolved, result.walk);
  const std::string text = render_json(result, facts, specs);
  EXPECT_EQ(text.back(), '\n');
  parsed = nlohmann::json::parse(text);
  EXPECT_EQ(parsed["not_resolved"][0]["id"], "bad\xef\xbf\xbd\xef\xbf\xbdid");
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

#include "graph.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(DotEscapeTest, KeepsLabelsInsideTheirQuotes) {
  EXPECT_EQ(dot_escape("halden-db"), "halden-db");
  EXPECT_EQ(dot_escape("a\"b"), "a\\\"b");
  EXPECT_EQ(dot_escape("a\\N"), "a\\\\N");
  EXPECT_EQ(dot_escape("a\nb"), "a\\\\x0ab");
  EXPECT_EQ(dot_escape("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(dot_escape("bad\xff"), "bad?");
  EXPECT_EQ(dot_escape("\xc3"), "?");
  EXPECT_EQ(dot_escape("\xed\xa0\x80"), "???");  // a surrogate is no character
}

// db 5.2 installed, old-db installed and removed on request; scanner needs
// db 6.x (failed), tool is not examined and depends on nobody.
class GraphTest : public ::testing::Test {
 protected:
  GraphTest() : specs(host.context()) {
    ox::software_spec db;
    db.sref = "db";
    db.softwareids = "db|old-db";
    db.versions.set("5.0:6.9");
    specs.add(db);
    ox::software_spec scanner;
    scanner.sref = "scanner";
    scanner.softwareids = "scanner";
    scanner.versions.set("2.0:2.9");
    ox::compatible comp;
    comp.sref = "db";
    comp.versions.set("6.0:6.9");
    scanner.compatibles.push_back(comp);
    specs.add(scanner);
    ox::software_spec tool;
    tool.sref = "tool";
    tool.softwareids = "tool";
    tool.versions.set("1.0");
    ox::depend dep;
    dep.sref = "nobody";
    dep.version_text = "1.0";
    dep.versions.set("1.0");
    tool.depends.push_back(dep);
    specs.add(tool);

    result.uninstall = {software("old-db", ox::version("4.0"))};
    result.install = {software("scanner", ox::version("2.1")),
                      software("tool", ox::version("1.0"))};
    result.resolved = {record("old-db", "4.0", 10), record("db", "5.2", 2),
                       record("scanner", "2.1", 1)};
    result.resolved.back().failed_compatibilities.emplace_back("db", ox::version("5.2"));
    result.incompatible = true;
    facts = analyze(specs, result.uninstall, result.install, result.resolved);
  }

  ox_test::test_host host;
  ox::package_spec_manager specs;
  resolution result;
  analysis facts;
};

TEST_F(GraphTest, DrawsEntriesAndHighlightsTheFailedEdge) {
  const std::string dot = render_dot(result, facts, specs, "linux-x64");
  EXPECT_EQ(dot.rfind("digraph \"oxpm\" {\n", 0), 0u) << dot;
  EXPECT_EQ(dot.substr(dot.size() - 2), "}\n");
  EXPECT_EQ(std::count(dot.begin(), dot.end(), '{'), std::count(dot.begin(), dot.end(), '}'));
  EXPECT_TRUE(contains(dot, "label=\"oxpm resolve, platform linux-x64\"")) << dot;
  EXPECT_TRUE(contains(dot, "\"i0\" [label=\"old-db\\n4.0.0.0\\nto be removed\"")) << dot;
  EXPECT_TRUE(contains(dot, "\"i1\" [label=\"db\\n5.2.0.0\"")) << dot;
  EXPECT_TRUE(contains(dot, "\"r0\" [label=\"1. scanner\\n2.1.0.0\\nincompatible\"")) << dot;
  EXPECT_TRUE(contains(dot, "\"r1\" [label=\"2. tool\\n1.0.0.0\\nnot examined\"")) << dot;
  // The failed compatibility: the marked old-db was passed over, db decided.
  EXPECT_TRUE(contains(dot,
                       "\"r0\" -> \"i1\" [label=\"compatible 6.0.0.0 to 6.9.*.*\\nFAILED: "
                       "version outside the range\", color=red"))
      << dot;
  EXPECT_TRUE(contains(dot, "\"u0\" -> \"i0\" [label=\"uninstalls\"")) << dot;
  // The entry the walk never reached: its relation in grey, to an absent node.
  EXPECT_TRUE(contains(dot,
                       "\"r1\" -> \"m0\" [label=\"depends 1.0 (not examined)\", "
                       "color=gray60"))
      << dot;
  EXPECT_TRUE(contains(dot, "\"m0\" [label=\"nobody\\nno catalog entry\"")) << dot;
}

TEST_F(GraphTest, PassedRelationsAreNotRed) {
  result.install = {software("scanner", ox::version("2.1"))};
  result.resolved = {record("old-db", "4.0", 10), record("db", "6.1", 2),
                     record("scanner", "2.1", 1)};
  result.incompatible = false;
  facts = analyze(specs, result.uninstall, result.install, result.resolved);
  const std::string dot = render_dot(result, facts, specs, "");
  EXPECT_TRUE(contains(dot,
                       "\"r0\" -> \"i1\" [label=\"compatible 6.0.0.0 to 6.9.*.*\", "
                       "style=dashed]"))
      << dot;
  EXPECT_FALSE(contains(dot, "color=red, fontcolor=red")) << dot;
  EXPECT_TRUE(contains(dot, "label=\"oxpm resolve\"")) << dot;
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

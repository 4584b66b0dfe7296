#include "lint.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "inputs.hpp"

namespace tarvik {
namespace oxpm {
namespace {

using finding_key = std::tuple<std::size_t, std::string, std::string>;  // line, check, severity

std::set<finding_key> keys(const lint_result& result) {
  std::set<finding_key> out;
  for (const lint_finding& finding : result.findings) {
    out.emplace(finding.line, finding.check,
                finding.severity == lint_finding::severity_t::error ? "error" : "warning");
  }
  return out;
}

lint_result lint_text(const std::string& text, const std::string& platform = "") {
  return lint_documents({{"spec.xml", text}}, platform);
}

std::string software(const std::string& sref, const std::string& version,
                     const std::string& body = "", const std::string& ids = "") {
  return "<software sref=\"" + sref + "\" name=\"n\" platforms=\"p1\" version=\"" + version +
         "\" softwareids=\"" + (ids.empty() ? sref : ids) + "\">" + body + "</software>\n";
}

std::string document(const std::string& softwares) {
  return "<specs>\n<softwares>\n" + softwares + "</softwares>\n</specs>\n";
}

TEST(LintTest, FindsEverythingThePurposeMadeCatalogBreaks) {
  const std::string path = std::string(OXPM_TEST_DATA) + "/lint-bad.xml";
  const lint_result result = lint_documents({{path, read_file(path)}}, "p1");
  const std::set<finding_key> expected = {
      {7, "missing-attribute", "error"},       // software without softwareids
      {8, "skipped-element", "warning"},       // <package> in softwares
      {9, "invalid-version", "error"},         // 2.0:1.0
      {10, "dropped-range", "error"},          // ...|3.0:2.0
      {11, "bad-pattern", "error"},            // (unclosed
      {14, "missing-attribute", "error"},      // provides child with sref instead of id
      {17, "missing-attribute", "error"},      // uninstalls child with id instead of sref
      {18, "unknown-sref", "error"},           // uninstalls ghost-uninstall
      {21, "missing-attribute", "error"},      // obsoletes child without version
      {22, "invalid-version", "error"},        // obsoletes 0.9:0.1
      {25, "missing-attribute", "error"},      // depends child without version
      {26, "unknown-sref", "error"},           // depends on ghost
      {27, "version-without-dot", "warning"},  // version "5"
      {29, "duplicate-container", "error"},    // second depends
      {36, "ignored-action", "warning"},       // action "uninstall"
      {37, "missing-attribute", "error"},      // registry without key
      {38, "skipped-element", "warning"},      // <Registry>
      {41, "shadowed", "error"},               // base again, inside base 1.0:1.9
      {42, "shadowed", "error"},               // BASE_9, answered by base's pattern
      {42, "pattern-misses-sref", "warning"},  // BASE_9's pattern is "x"
  };
  EXPECT_EQ(keys(result), expected);
  EXPECT_EQ(result.errors, 15u);
  EXPECT_EQ(result.warnings, 5u);
  EXPECT_EQ(result.entries, 7u);  // base, ranges, partly, pattern, relations, base, BASE_9
  for (const lint_finding& finding : result.findings) {
    EXPECT_EQ(finding.file, path);
  }
}

TEST(LintTest, OtherPlatformsAreCheckedButDoNotAnswer) {
  const std::string path = std::string(OXPM_TEST_DATA) + "/lint-bad.xml";
  const std::string content = read_file(path);
  // Platform p2 keeps only "other", whose dependency names nobody; the shape
  // errors of the p1 elements are still reported, their srefs are not judged.
  std::set<finding_key> p2 = keys(lint_documents({{path, content}}, "p2"));
  EXPECT_TRUE(p2.count({45, "unknown-sref", "error"})) << "other's dependency on nobody-here";
  EXPECT_FALSE(p2.count({26, "unknown-sref", "error"}));
  EXPECT_FALSE(p2.count({41, "shadowed", "error"}));
  EXPECT_TRUE(p2.count({9, "invalid-version", "error"}));

  const lint_result none = lint_documents({{path, content}}, "p3");
  EXPECT_TRUE(keys(none).count({1, "no-entry", "warning"}));
  EXPECT_EQ(none.entries, 0u);
}

TEST(LintTest, TheBundledExampleIsCleanForEachPlatform) {
  const std::string path = std::string(OXPM_EXAMPLES) + "/halden-spec.xml";
  const std::string content = read_file(path);
  for (const char* platform : {"linux-x64", "windows-x64"}) {
    const lint_result result = lint_documents({{path, content}}, platform);
    EXPECT_TRUE(result.findings.empty()) << platform << ": " << render_lint_text(result, style());
    EXPECT_GE(result.entries, 12u) << platform;
  }
  // With every platform imported the two agent elements overlap: a warning.
  const lint_result all = lint_documents({{path, content}}, "");
  EXPECT_EQ(all.errors, 0u);
  ASSERT_EQ(all.warnings, 1u);
  EXPECT_EQ(all.findings[0].check, "shadowed");
}

TEST(LintTest, DocumentsThatImportNothing) {
  const lint_result broken = lint_text("<specs>\n<softwares>\n</specs>");
  ASSERT_EQ(broken.findings.size(), 1u);
  EXPECT_EQ(broken.findings[0].check, "unloadable");
  EXPECT_NE(broken.findings[0].message.find("line 3"), std::string::npos)
      << broken.findings[0].message;

  const lint_result other_root = lint_text("<spec>\n<softwares/>\n</spec>");
  ASSERT_EQ(other_root.findings.size(), 1u);
  EXPECT_EQ(other_root.findings[0].check, "no-softwares");
  EXPECT_NE(other_root.findings[0].message.find("\"spec\", not \"specs\""), std::string::npos);

  const lint_result no_list = lint_text("<specs version=\"1\">\n<software/>\n</specs>");
  ASSERT_EQ(no_list.findings.size(), 1u);
  EXPECT_EQ(no_list.findings[0].check, "no-softwares");

  const lint_result two_lists = lint_text("<specs>\n<softwares/>\n<softwares>\n" +
                                          software("a", "1.0") + "</softwares>\n</specs>");
  EXPECT_EQ(keys(two_lists), (std::set<finding_key>{{3, "duplicate-container", "error"}}));
}

TEST(LintTest, RelationsMayNameEntriesOfLaterDocuments) {
  const std::string first =
      document(software("app", "1.0", "<depends><d sref=\"lib\" version=\"2.0\"/></depends>"));
  const std::string second = document(software("lib", "2.0"));
  EXPECT_TRUE(lint_documents({{"a.xml", first}, {"b.xml", second}}, "").findings.empty());
  const lint_result alone = lint_documents({{"a.xml", first}}, "");
  ASSERT_EQ(alone.findings.size(), 1u);
  EXPECT_EQ(alone.findings[0].check, "unknown-sref");
  EXPECT_EQ(alone.findings[0].line, 3u);

  // An entry of a later document shadowed by an earlier one.
  const lint_result shadow = lint_documents({{"a.xml", second}, {"b.xml", second}}, "");
  ASSERT_EQ(shadow.findings.size(), 1u);
  EXPECT_EQ(shadow.findings[0].file, "b.xml");
  EXPECT_EQ(shadow.findings[0].check, "shadowed");
  EXPECT_NE(shadow.findings[0].message.find("a.xml:3"), std::string::npos);
}

TEST(LintTest, ShadowingNeedsEveryVersionCovered) {
  struct shadow_case {
    const char* earlier;
    const char* later;
    bool shadowed;
  };
  const shadow_case cases[] = {
      {"1.0:1.9", "1.2:1.5", true},
      {"1.0:1.4|1.5:1.9", "1.2:1.7", true},   // two ranges together
      {"1.0:1.4|1.6:1.9", "1.2:1.7", false},  // 1.5 stays reachable
      {"1.0:", "9.9.9.9", true},
      {":4294967295.4294967295.4294967295.4294967294", "", false},  // the greatest version
      {"", "1.0", true},
      {"2.0:1.0", "1.0", false},  // the earlier entry has no version at all
  };
  for (const shadow_case& c : cases) {
    const lint_result result =
        lint_text(document(software("x", c.earlier) + software("x", c.later)));
    bool shadowed = false;
    for (const lint_finding& finding : result.findings) {
      shadowed = shadowed || finding.check == "shadowed";
    }
    EXPECT_EQ(shadowed, c.shadowed) << c.earlier << " then " << c.later;
  }
  // Another sref whose pattern does not answer does not shadow.
  EXPECT_TRUE(lint_text(document(software("x", "1.0") + software("y", "1.0"))).findings.empty());
}

TEST(LintTest, FindsTheMistakesTheImportReadsWithoutAWord) {
  const std::string path = std::string(OXPM_TEST_DATA) + "/lint-mistakes.xml";
  const lint_result result = lint_documents({{path, read_file(path)}}, "");
  const std::set<finding_key> expected = {
      {8, "unknown-container", "error"},       // <depend> for <depends>
      {12, "non-numeric-version", "error"},    // v1.0:v1.9
      {12, "pattern-misses-sref", "warning"},  // TOOL_[0-9]+ for tool
      {12, "platform-substring", "warning"},   // linux inside linux-musl
      {15, "self-dependency", "error"},        // loop depends on LOOP, its own pattern
      {18, "version-without-dot", "warning"},  // version "5"
  };
  EXPECT_EQ(keys(result), expected);
  std::map<std::string, std::string> fixes;
  for (const lint_finding& finding : result.findings) {
    fixes[finding.check] = finding.fix;
  }
  EXPECT_EQ(fixes["unknown-container"], "rename it to \"depends\"");
  EXPECT_EQ(fixes["non-numeric-version"], "write numbers only, for example \"1.0:1.9\"");
  EXPECT_EQ(fixes["pattern-misses-sref"],
            "add the sref to the pattern: softwareids=\"tool|TOOL_[0-9]+\"");
  for (const lint_finding& finding : result.findings) {
    EXPECT_FALSE(finding.fix.empty()) << finding.check;
  }
  // What the letters turn the range into.
  EXPECT_NE(fixes.count("non-numeric-version"), 0u);
  for (const lint_finding& finding : result.findings) {
    if (finding.check == "non-numeric-version") {
      EXPECT_NE(finding.message.find("reads as up to 0.9.*.*"), std::string::npos)
          << finding.message;
    }
  }
  // A name far from every container gets the list; a sref that merely
  // resembles the entry's own is no self-dependency.
  const lint_result other = lint_text(document(
      software("x", "1.0", "<extras/><depends><d sref=\"xx\" version=\"1.0\"/></depends>") +
      software("xx", "1.0")));
  EXPECT_EQ(keys(other), (std::set<finding_key>{{3, "unknown-container", "error"}}));
  EXPECT_NE(other.findings[0].fix.find("one of provides"), std::string::npos);
}

TEST(LintTest, IgnoredCodesNeitherPrintNorCount) {
  const std::string path = std::string(OXPM_TEST_DATA) + "/lint-mistakes.xml";
  const lint_result all = lint_documents({{path, read_file(path)}}, "");
  const lint_result some = without_codes(all, {"unknown-container", "platform-substring"});
  EXPECT_EQ(some.errors, all.errors - 1);
  EXPECT_EQ(some.warnings, all.warnings - 1);
  EXPECT_EQ(some.ignored, 2u);
  for (const lint_finding& finding : some.findings) {
    EXPECT_NE(finding.check, "unknown-container");
    EXPECT_NE(finding.check, "platform-substring");
  }
}

TEST(LintTest, RendersTextGroupedByCodeAndJson) {
  const lint_result result =
      lint_text(document(software("a", "2.0:1.0") + "<other/>\n" + software("b", "3.0:2.0") +
                         software("c", "1.0", "", "cc")));
  const std::string text = render_lint_text(result, style());
  EXPECT_EQ(text,
            "invalid-version (2 errors): fix: write each range as MIN:MAX with MIN at most MAX, "
            "for example \"1.0:1.9\"\n"
            "  spec.xml:3: software \"a\": version \"2.0:1.0\" holds no valid range: the entry "
            "is never found for a version\n"
            "  spec.xml:5: software \"b\": version \"3.0:2.0\" holds no valid range: the entry "
            "is never found for a version\n"
            "\n"
            "skipped-element (1 warning): fix: rename the element (\"software\" in softwares, "
            "\"registry\" in conflicts) or remove it\n"
            "  spec.xml:4: element \"other\" in \"softwares\" is not a \"software\" element: the "
            "import skips it\n"
            "\n"
            "pattern-misses-sref (1 warning): fix: add the sref to the pattern: "
            "softwareids=\"c|cc\"\n"
            "  spec.xml:6: softwareids pattern \"cc\" of software \"c\" does not match its own "
            "sref: software installed or requested as \"c\" does not meet the relations that "
            "name it\n"
            "\n2 errors, 2 warnings; 3 software entries imported\n");
  EXPECT_NE(render_lint_text(result, style(true)).find("\x1b[31m2 errors\x1b[0m"),
            std::string::npos);
  const nlohmann::ordered_json json = lint_json(result);
  EXPECT_EQ(json["schema_version"], 1);
  EXPECT_EQ(json["errors"], 2);
  EXPECT_EQ(json["warnings"], 2);
  EXPECT_EQ(json["ignored"], 0);
  EXPECT_EQ(json["entries"], 3);
  ASSERT_EQ(json["findings"].size(), 4u);
  EXPECT_EQ(json["findings"][0]["file"], "spec.xml");
  EXPECT_EQ(json["findings"][0]["line"], 3);
  EXPECT_EQ(json["findings"][0]["severity"], "error");
  EXPECT_EQ(json["findings"][0]["check"], "invalid-version");
  EXPECT_EQ(json["findings"][0]["code"], "invalid-version");
  EXPECT_EQ(json["findings"][0]["fix"], result.findings[0].fix);
  EXPECT_EQ(lint_text(document("")).findings.size(), 0u);
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

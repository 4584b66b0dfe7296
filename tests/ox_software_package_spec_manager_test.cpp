// Import of the catalog document and the relation and conflict
// parsers. The look-ups are in ox_software_package_spec_manager_lookup_test.
#include "tarvik/ox/package_spec_manager.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/test_host.hpp"
#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {
namespace {

using strings = std::vector<std::string>;

const char kTag[] = "ox_software_package_spec_manager";

// A "software" element with the five attributes, and `children` inside.
std::string software_element(const std::string& sref, const std::string& platforms = "win64",
                             const std::string& children = "",
                             const std::string& version = "1.0:2.0",
                             const std::string& softwareids = "ID_X") {
  return "<software sref=\"" + sref + "\" name=\"Name " + sref + "\" platforms=\"" + platforms +
         "\" version=\"" + version + "\" softwareids=\"" + softwareids + "\">" + children +
         "</software>";
}

std::string document(const std::string& softwares, const std::string& specs_attributes = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<specs" + specs_attributes + "><softwares>" +
         softwares + "</softwares></specs>";
}

struct spec_fixture : ::testing::Test {
  void import(const std::string& text) { mgr.import(text.data(), text.size()); }

  // The entry of one software element holding `children`.
  software_spec parsed(const std::string& children) {
    import(document(software_element("S", "win64", children)));
    EXPECT_EQ(mgr.get_specs().size(), 1u);
    return mgr.get_specs().empty() ? software_spec() : mgr.get_specs().back();
  }

  strings parse_lines() const {
    strings out;
    for (const std::string& line : host.lines()) {
      if (line.rfind("5|parse|", 0) == 0) {
        out.push_back(line);
      }
    }
    return out;
  }

  ox_test::test_host host;
  package_spec_manager mgr{host.context()};
};

// ---------------------------------------------------------------------------
// Import

TEST_F(spec_fixture, ImportsTheElementsOfThePlatformAndLogsEachStep) {
  mgr.set_platform("win64");
  EXPECT_EQ(mgr.get_platform(), "win64");
  import(document(software_element("A", "win32;win64", "", "1.0:2.0", "^A_.*$") +
                      software_element("B", "linux"),
                  " version=\"3.1\""));

  ASSERT_EQ(mgr.get_specs().size(), 1u);
  const software_spec& a = mgr.get_specs()[0];
  EXPECT_EQ(a.sref, "A");
  EXPECT_EQ(a.name, "Name A");
  EXPECT_EQ(a.softwareids, "^A_.*$");
  EXPECT_EQ(a.versions.get(), "1.0.0.0:2.0.4294967295.4294967295");
  EXPECT_EQ(mgr.get_spec_version(), "3.1");

  EXPECT_EQ(host.lines(),
            (strings{"5|import|importing spec content.", "5|import|Spec version: 3.1",
                     "5|import|Parsing for platform=win64",
                     "5|parse|Parsing for software sref=A, name=Name A, platforms=win32;win64, "
                     "version=1.0:2.0, softwareids=^A_.*$"}));
  for (const auto& record : host.records()) {
    EXPECT_EQ(record.service, "pm_service");
    EXPECT_EQ(record.file, kTag);
    EXPECT_GT(record.line, 0);
  }
}

TEST(SpecImportTest, PlatformFilterIsAByteWiseSubstringTest) {
  struct row {
    const char* manager_platform;  // null: set_platform never called
    const char* platforms;
    bool imported;
  };
  const row rows[] = {
      {nullptr, "win64", true}, {nullptr, "", true},           {"", "", true},
      {"", "anything", true},   {"win", "win64", true},        {"64", "win64", true},
      {"win64", "win64", true}, {"win64", "win", false},       {"WIN64", "win64", false},
      {"win64", "", false},     {"x86", "win32,x86_64", true}, {"arm", "win32", false},
  };
  for (const row& r : rows) {
    ox_test::test_host host;
    package_spec_manager mgr(host.context());
    if (r.manager_platform != nullptr) {
      mgr.set_platform(r.manager_platform);
    }
    const std::string text = document(software_element("A", r.platforms));
    mgr.import(text.data(), text.size());
    EXPECT_EQ(mgr.get_specs().size(), r.imported ? 1u : 0u)
        << "platform \"" << (r.manager_platform ? r.manager_platform : "(unset)")
        << "\" platforms \"" << r.platforms << '"';
  }
}

TEST(SpecImportTest, PlatformAppliesToLaterImportsOnly) {
  package_spec_manager mgr(nullptr);
  const std::string text = document(software_element("A", "win64") + software_element("B", "mac"));
  mgr.import(text.data(), text.size());
  EXPECT_EQ(mgr.get_specs().size(), 2u);
  mgr.set_platform("mac");
  mgr.import(text.data(), text.size());
  ASSERT_EQ(mgr.get_specs().size(), 3u);
  EXPECT_EQ(mgr.get_specs()[2].sref, "B");
}

TEST_F(spec_fixture, EachOfTheFiveAttributesIsRequiredAndEmptyCountsAsPresent) {
  const char* attributes[] = {"sref", "name", "platforms", "version", "softwareids"};
  const std::string children =
      R"(<depends><d sref="X" version="1.0"/></depends><provides><p id="P" name="p"/></provides>)";
  for (const char* missing : attributes) {
    std::string element = "<software";
    for (const char* attribute : attributes) {
      if (std::strcmp(attribute, missing) != 0) {
        element += std::string(" ") + attribute + "=\"" +
                   (std::strcmp(attribute, "sref") == 0 ? "A" : "") + "\"";
      }
    }
    element += ">" + children + "</software>";
    host.clear();
    import(document(element));
    EXPECT_TRUE(mgr.get_specs().empty()) << "without " << missing;
    EXPECT_TRUE(parse_lines().empty()) << "without " << missing;
  }

  // All five present, four of them empty.
  import(document(R"(<software sref="A" name="" platforms="" version="" softwareids="">)" +
                  children + "</software>"));
  ASSERT_EQ(mgr.get_specs().size(), 1u);
  const software_spec& a = mgr.get_specs()[0];
  EXPECT_EQ(a.sref, "A");
  EXPECT_TRUE(a.name.empty());
  EXPECT_TRUE(a.softwareids.empty());
  // An empty version text is one range holding every version.
  EXPECT_EQ(a.versions.get(), "0.0.0.0:4294967295.4294967295.4294967295.4294967295");
  EXPECT_EQ(a.depends.size(), 1u);
  EXPECT_EQ(a.provides.size(), 1u);
  EXPECT_EQ(parse_lines(), (strings{"5|parse|Parsing for software sref=A, name=, platforms=, "
                                    "version=, softwareids="}));
}

TEST_F(spec_fixture, ChildrenOfSoftwaresWithOtherNamesAreSkipped) {
  const std::string attributes =
      R"( sref="Z" name="z" platforms="win64" version="1.0" softwareids="Z")";
  import(document("<Software" + attributes + "/>" + "<softwarex" + attributes + "/>" +
                  software_element("A") + "<package" + attributes + "/>" + software_element("B")));
  ASSERT_EQ(mgr.get_specs().size(), 2u);
  EXPECT_EQ(mgr.get_specs()[0].sref, "A");
  EXPECT_EQ(mgr.get_specs()[1].sref, "B");
  EXPECT_EQ(parse_lines().size(), 2u);
}

TEST_F(spec_fixture, SoftwareElementsElsewhereAreNotImported) {
  // Only the children of specs/softwares count, not software elements deeper
  // down or under another container.
  import(R"(<specs><other>)" + software_element("X") + R"(</other><softwares><group>)" +
         software_element("Y") + R"(</group>)" + software_element("A") +
         R"(</softwares><softwares>)" + software_element("Z") + R"(</softwares></specs>)");
  ASSERT_EQ(mgr.get_specs().size(), 1u);
  EXPECT_EQ(mgr.get_specs()[0].sref, "A");
}

TEST_F(spec_fixture, WithoutSpecsOrSoftwaresNothingIsImported) {
  import(R"(<catalog version="9"><softwares>)" + software_element("A") + "</softwares></catalog>");
  EXPECT_TRUE(mgr.get_specs().empty());
  EXPECT_TRUE(mgr.get_spec_version().empty());
  EXPECT_EQ(host.lines(), (strings{"5|import|importing spec content."}));

  host.clear();
  import(R"(<specs version="2"><software_list/></specs>)");
  EXPECT_TRUE(mgr.get_specs().empty());
  EXPECT_EQ(mgr.get_spec_version(), "2");
  EXPECT_EQ(host.lines(),
            (strings{"5|import|importing spec content.", "5|import|Spec version: 2"}));
}

TEST_F(spec_fixture, EmptySoftwaresStillLogsThePlatform) {
  mgr.set_platform("p1");
  import(R"(<specs><softwares>  <!-- none --> </softwares></specs>)");
  EXPECT_TRUE(mgr.get_specs().empty());
  EXPECT_EQ(host.lines(),
            (strings{"5|import|importing spec content.", "5|import|Parsing for platform=p1"}));
}

TEST_F(spec_fixture, SpecVersionComesFromTheLastDocumentThatHasOne) {
  import(document(software_element("A"), R"( version="1.5")"));
  EXPECT_EQ(mgr.get_spec_version(), "1.5");
  host.clear();
  import(document(software_element("B")));
  EXPECT_EQ(mgr.get_spec_version(), "1.5");
  for (const std::string& message : host.messages()) {
    EXPECT_EQ(message.find("Spec version"), std::string::npos) << message;
  }
  import(document("", R"( version="")"));
  EXPECT_EQ(mgr.get_spec_version(), "");
  EXPECT_EQ(host.messages().back(), "Parsing for platform=");
}

TEST_F(spec_fixture, ImportingTwiceAppendsEverythingAgain) {
  const std::string text = document(software_element("A") + software_element("B"));
  import(text);
  import(text);
  ASSERT_EQ(mgr.get_specs().size(), 4u);
  const strings srefs = {mgr.get_specs()[0].sref, mgr.get_specs()[1].sref, mgr.get_specs()[2].sref,
                         mgr.get_specs()[3].sref};
  EXPECT_EQ(srefs, (strings{"A", "B", "A", "B"}));
  EXPECT_EQ(parse_lines().size(), 4u);
}

TEST_F(spec_fixture, BrokenXmlThrowsTheHostCodeAndChangesNothing) {
  import(document(software_element("A"), R"( version="1")"));
  host.clear();
  const strings broken = {
      document(software_element("B")).substr(0, 80),  // cut short
      "<specs><softwares>" + software_element("B") + "</specs>",
      document(software_element("B")) + "<specs/>",  // a second document element
      std::string("<specs version=\"2\"/>\0", 21),
      "",
  };
  for (const std::string& text : broken) {
    try {
      import(text);
      ADD_FAILURE() << "no exception for: " << text;
    } catch (const pm_exception& e) {
      EXPECT_EQ(e.error, OX_ERROR_PARSE) << text;
    }
  }
  ASSERT_EQ(mgr.get_specs().size(), 1u);
  EXPECT_EQ(mgr.get_specs()[0].sref, "A");
  EXPECT_EQ(mgr.get_spec_version(), "1");
  EXPECT_TRUE(host.records().empty());
}

TEST_F(spec_fixture, ReadsOnlyTheGivenBytes) {
  const std::string text = document(software_element("A")) + "garbage<";
  mgr.import(text.data(), text.size() - 8);
  EXPECT_EQ(mgr.get_specs().size(), 1u);
}

TEST_F(spec_fixture, InvalidVersionTextStillImportsTheEntry) {
  import(document(software_element("A", "win64", "", "2.0:1.0")));
  ASSERT_EQ(mgr.get_specs().size(), 1u);
  EXPECT_TRUE(mgr.get_specs()[0].versions.ranges.empty());
}

TEST_F(spec_fixture, ValuesAreDecodedAndKeptByteForByte) {
  const std::string name = "Caf\xC3\xA9 \xE2\x82\xAC";
  import(document("<software sref=\"S&#xE9;&amp;1\" name=\"" + name +
                  "\" platforms=\"win64\" version=\"1.0|3.0\" softwareids=\"^(a|b)&lt;c$\"/>"));
  ASSERT_EQ(mgr.get_specs().size(), 1u);
  const software_spec& s = mgr.get_specs()[0];
  EXPECT_EQ(s.sref, "S\xC3\xA9&1");
  EXPECT_EQ(s.name, name);
  EXPECT_EQ(s.softwareids, "^(a|b)<c$");
  EXPECT_EQ(s.versions.ranges.size(), 2u);
}

TEST_F(spec_fixture, ElementWithoutRelationsHasEmptyLists) {
  const software_spec s = parsed("<unknown><depend sref=\"X\" version=\"1\"/></unknown>");
  EXPECT_TRUE(s.provides.empty());
  EXPECT_TRUE(s.uninstalls.empty());
  EXPECT_TRUE(s.obsoletes.empty());
  EXPECT_TRUE(s.depends.empty());
  EXPECT_TRUE(s.compatibles.empty());
  EXPECT_TRUE(s.conflicts.empty());
}

TEST_F(spec_fixture, ParseIgnoresNodesThatAreNotSoftwareElements) {
  std::shared_ptr<xml_node> empty;
  EXPECT_TRUE(mgr.parse(empty));
  std::shared_ptr<xml_node> null_node = std::make_shared<xml_node>(nullptr);
  EXPECT_TRUE(mgr.parse(null_node));
  software_spec spec;
  mgr.parse_depends(empty, spec);
  mgr.parse_conflicts(null_node, spec);
  mgr.parse_provides(null_node, spec);
  EXPECT_TRUE(spec.depends.empty() && spec.conflicts.empty() && spec.provides.empty());
  EXPECT_TRUE(mgr.get_specs().empty());
  EXPECT_TRUE(host.records().empty());
}

// ---------------------------------------------------------------------------
// Relation parsers

TEST_F(spec_fixture, DependsKeepDocumentOrderAndSkipIncompleteChildren) {
  const software_spec s = parsed(
      R"(<depends><d sref="A" version="1.0:2.0"/><d sref="B"/><anything sref="C" version="2.5|3"/>)"
      R"(<d version="1.0"/><d sref="A" version="1.0:2.0"/><d sref="" version=""/></depends>)");
  ASSERT_EQ(s.depends.size(), 4u);
  EXPECT_EQ(s.depends[0].sref, "A");
  EXPECT_EQ(s.depends[0].version_text, "1.0:2.0");
  EXPECT_EQ(s.depends[0].versions.get(), "1.0.0.0:2.0.4294967295.4294967295");
  EXPECT_EQ(s.depends[1].sref, "C");
  EXPECT_EQ(s.depends[1].version_text, "2.5|3");
  EXPECT_EQ(s.depends[1].versions.ranges.size(), 2u);
  // Duplicates are kept.
  EXPECT_EQ(s.depends[2].sref, "A");
  EXPECT_EQ(s.depends[3].sref, "");
  EXPECT_EQ(s.depends[3].version_text, "");
  EXPECT_EQ(s.depends[3].versions.ranges.size(), 1u);
}

TEST_F(spec_fixture, CompatiblesNeedSrefAndVersion) {
  const software_spec s =
      parsed(R"(<compatibles><c sref="A" version="4.0"/><c version="1"/><c sref="B"/>)"
             R"(<c sref="D" version="9.0:1.0"/></compatibles>)");
  ASSERT_EQ(s.compatibles.size(), 2u);
  EXPECT_EQ(s.compatibles[0].sref, "A");
  EXPECT_EQ(s.compatibles[0].versions.get(), "4.0.0.0:4.0.4294967295.4294967295");
  // An invalid range is dropped, the record is still appended.
  EXPECT_EQ(s.compatibles[1].sref, "D");
  EXPECT_TRUE(s.compatibles[1].versions.ranges.empty());
  EXPECT_TRUE(s.depends.empty());
}

TEST_F(spec_fixture, ProvidesReadIdAndNameUninstallsReadSrefAndName) {
  const software_spec s = parsed(
      R"(<provides><p id="P1" name="one"/><p sref="P2" name="two"/><p id="P3"/><q id="P4" name=""/></provides>)"
      R"(<uninstalls><u sref="U1" name="uno"/><u id="U2" name="dos"/><u sref="U3"/></uninstalls>)");
  ASSERT_EQ(s.provides.size(), 2u);
  EXPECT_EQ(s.provides[0].id, "P1");
  EXPECT_EQ(s.provides[0].name, "one");
  EXPECT_EQ(s.provides[1].id, "P4");
  EXPECT_EQ(s.provides[1].name, "");
  EXPECT_EQ(s.provides[0].version.getversion(), version().getversion());
  EXPECT_TRUE(s.provides[0].version_text.empty());

  ASSERT_EQ(s.uninstalls.size(), 1u);
  EXPECT_EQ(s.uninstalls[0].id, "U1");
  EXPECT_EQ(s.uninstalls[0].name, "uno");
  EXPECT_EQ(s.uninstalls[0].version.getversion(), version().getversion());
}

TEST_F(spec_fixture, ObsoletesGiveOneRangeListPerChild) {
  const software_spec s = parsed(
      R"(<obsoletes><o version="1.0:1.5|2.0"/><o/><o version="0.5"/><o version="3.0:2.0"/></obsoletes>)");
  ASSERT_EQ(s.obsoletes.size(), 3u);
  EXPECT_EQ(s.obsoletes[0].ranges.size(), 2u);
  EXPECT_EQ(s.obsoletes[0].get(),
            "1.0.0.0:1.5.4294967295.4294967295|2.0.0.0:2.0.4294967295.4294967295");
  EXPECT_EQ(s.obsoletes[1].get(), "0.5.0.0:0.5.4294967295.4294967295");
  EXPECT_TRUE(s.obsoletes[2].ranges.empty());
}

TEST_F(spec_fixture, OnlyTheFirstContainerOfAKindAndOnlyDirectChildrenAreRead) {
  const software_spec s = parsed(
      R"(<depends><d sref="A" version="1"/></depends><depends><d sref="B" version="1"/></depends>)"
      R"(<provides><group><p id="deep" name="x"/></group></provides>)"
      R"(<extra><depends><d sref="C" version="1"/></depends></extra><depends2/>)");
  ASSERT_EQ(s.depends.size(), 1u);
  EXPECT_EQ(s.depends[0].sref, "A");
  // The grouping element itself has no "id", so nothing is provided.
  EXPECT_TRUE(s.provides.empty());
}

TEST_F(spec_fixture, EmptyContainersAddNothing) {
  const software_spec s = parsed(
      "<provides/><uninstalls></uninstalls><obsoletes> text </obsoletes><depends><!-- c "
      "--></depends>"
      "<compatibles/><conflicts/>");
  EXPECT_TRUE(s.provides.empty() && s.uninstalls.empty() && s.obsoletes.empty() &&
              s.depends.empty() && s.compatibles.empty() && s.conflicts.empty());
}

TEST_F(spec_fixture, ParsersAppendAndNeverClear) {
  const std::string text = document(software_element(
      "S", "win64",
      R"(<depends><d sref="A" version="1"/></depends><provides><p id="P" name="n"/></provides>)"
      R"(<conflicts><registry name="n" hkey="h" path="p" key="k" match="m" action="Ignore"/></conflicts>)"
      R"(<obsoletes><o version="1"/></obsoletes><uninstalls><u sref="U" name="n"/></uninstalls>)"
      R"(<compatibles><c sref="C" version="1"/></compatibles>)"));
  oxxml doc;
  doc.parse(text.data(), text.size());
  std::shared_ptr<xml_node> element = doc.root()->search_by_path("specs/softwares/software");
  ASSERT_NE(element->get(), nullptr);

  software_spec spec;
  for (int round = 0; round < 2; ++round) {
    mgr.parse_provides(element, spec);
    mgr.parse_uninstalls(element, spec);
    mgr.parse_obsoletes(element, spec);
    mgr.parse_depends(element, spec);
    mgr.parse_compatibles(element, spec);
    mgr.parse_conflicts(element, spec);
  }
  EXPECT_EQ(spec.provides.size(), 2u);
  EXPECT_EQ(spec.uninstalls.size(), 2u);
  EXPECT_EQ(spec.obsoletes.size(), 2u);
  EXPECT_EQ(spec.depends.size(), 2u);
  EXPECT_EQ(spec.compatibles.size(), 2u);
  ASSERT_EQ(spec.conflicts.size(), 2u);
  EXPECT_NE(spec.conflicts[0].check.get(), spec.conflicts[1].check.get());
  EXPECT_TRUE(mgr.get_specs().empty());
  EXPECT_TRUE(host.records().empty());
}

// ---------------------------------------------------------------------------
// Conflict parser

const conflict_check_registry& registry_of(const conflict& c) {
  EXPECT_NE(c.check, nullptr);
  EXPECT_EQ(c.check->type, CONFLICT_CHECK_REGISTRY);
  return static_cast<const conflict_check_registry&>(*c.check);
}

TEST_F(spec_fixture, RegistryConflictCarriesItsSixAttributes) {
  const software_spec s =
      parsed(R"(<conflicts><registry name="old agent" hkey="HKLM" path="Software\Vendor" )"
             R"(key="Version" match="^1\..*" action="Uninstall"/></conflicts>)");
  ASSERT_EQ(s.conflicts.size(), 1u);
  const conflict& c = s.conflicts[0];
  EXPECT_EQ(c.name, "old agent");
  EXPECT_EQ(c.action, CONFLICT_ACTION_UNINSTALL);
  const conflict_check_registry& r = registry_of(c);
  EXPECT_EQ(r.hkey, "HKLM");
  EXPECT_EQ(r.path, "Software\\Vendor");
  EXPECT_EQ(r.key, "Version");
  EXPECT_EQ(r.match, "^1\\..*");
}

TEST_F(spec_fixture, ConflictActionsAreReadThroughConflictActionType) {
  const software_spec s =
      parsed(R"(<conflicts>)"
             R"(<registry name="a" hkey="" path="" key="" match="" action="ErrorFail"/>)"
             R"(<registry name="b" hkey="" path="" key="" match="" action="Uninstall"/>)"
             R"(<registry name="c" hkey="" path="" key="" match="" action="Ignore"/>)"
             R"(<registry name="d" hkey="" path="" key="" match="" action="uninstall"/>)"
             R"(<registry name="e" hkey="" path="" key="" match="" action="Reboot"/>)"
             R"(<registry name="f" hkey="" path="" key="" match="" action=""/>)"
             R"(</conflicts>)");
  ASSERT_EQ(s.conflicts.size(), 6u);
  const conflict_action expected[] = {0, 1, 2, 2, 2, 2};
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(s.conflicts[i].name, std::string(1, static_cast<char>('a' + i)));
    EXPECT_EQ(s.conflicts[i].action, expected[i]) << s.conflicts[i].name;
  }
}

TEST_F(spec_fixture, RegistryChildMissingAnyAttributeIsSkipped) {
  const char* attributes[] = {"name", "hkey", "path", "key", "match", "action"};
  for (const char* missing : attributes) {
    std::string child = "<registry";
    for (const char* attribute : attributes) {
      if (std::strcmp(attribute, missing) != 0) {
        child += std::string(" ") + attribute + "=\"Uninstall\"";
      }
    }
    child += "/>";
    ox_test::test_host local;
    package_spec_manager fresh(local.context());
    const std::string text =
        document(software_element("S", "win64", "<conflicts>" + child + "</conflicts>"));
    fresh.import(text.data(), text.size());
    ASSERT_EQ(fresh.get_specs().size(), 1u);
    EXPECT_TRUE(fresh.get_specs()[0].conflicts.empty()) << "without " << missing;
  }
}

TEST_F(spec_fixture, OnlyChildrenNamedRegistryCount) {
  const std::string attributes = R"( name="n" hkey="h" path="p" key="k" match="m" action="Ignore")";
  const software_spec s =
      parsed("<conflicts><Registry" + attributes + "/><REGISTRY" + attributes + "/><file" +
             attributes + "/><registry" + attributes + "/></conflicts>");
  EXPECT_EQ(s.conflicts.size(), 1u);
}

TEST_F(spec_fixture, EachConflictOwnsACheckThatCopiesShare) {
  import(document(software_element(
      "S", "win64",
      R"(<conflicts><registry name="one" hkey="H1" path="P1" key="K1" match="M1" action="Ignore"/>)"
      R"(<registry name="two" hkey="H2" path="P2" key="K2" match="M2" action="ErrorFail"/></conflicts>)")));
  ASSERT_EQ(mgr.get_specs().size(), 1u);
  std::unique_ptr<software_spec> copy = std::make_unique<software_spec>(mgr.get_specs()[0]);
  ASSERT_EQ(copy->conflicts.size(), 2u);
  EXPECT_EQ(copy->conflicts[0].name, "one");
  EXPECT_EQ(copy->conflicts[1].name, "two");
  EXPECT_NE(copy->conflicts[0].check.get(), copy->conflicts[1].check.get());
  EXPECT_EQ(registry_of(copy->conflicts[0]).hkey, "H1");
  EXPECT_EQ(registry_of(copy->conflicts[1]).match, "M2");

  // The copy shares the stored entry's check objects.
  EXPECT_EQ(copy->conflicts[0].check.get(), mgr.get_specs()[0].conflicts[0].check.get());
  const std::weak_ptr<conflict_check> watched = copy->conflicts[0].check;
  EXPECT_EQ(watched.use_count(), 2);
  copy.reset();
  EXPECT_FALSE(watched.expired());
  EXPECT_EQ(registry_of(mgr.get_specs()[0].conflicts[0]).path, "P1");

  // A look-up hands out another sharing copy.
  const software_spec found = mgr.find_id("S");
  EXPECT_EQ(found.conflicts[0].check.get(), mgr.get_specs()[0].conflicts[0].check.get());
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

// What only code reaches of the library's public classes: operations a host
// calls directly that no resolution calls, the exceptions they throw with
// their codes, wiring a host may get wrong, and the host capability object
// raising inside the walk. Every scenario a resolution shows (result, log,
// catalog entries) is a case file under tests/cases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/log.hpp"
#include "support/describe.hpp"
#include "support/test_host.hpp"
#include "support/wired_managers.hpp"
#include "tarvik/ox/ox.hpp"
#include "tarvik/ox_refhost/limits.hpp"
#include "tarvik/ox_refhost/store.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox {
namespace {

using ::testing::ElementsAre;
using strings = std::vector<std::string>;

software sw(const std::string& id, const std::string& ver) {
  return software(id, version(ver));
}

installing_software entry(const std::string& id, const std::string& ver,
                          software_state state = SOFTWARE_STATE_INSTALL) {
  return installing_software(sw(id, ver), state);
}

software_spec spec_of(const std::string& sref, const std::string& versions,
                      const std::string& softwareids, const std::string& name = "") {
  software_spec spec;
  spec.sref = sref;
  spec.name = name;
  spec.softwareids = softwareids;
  spec.versions.set(versions);
  return spec;
}

// The code of the pm_exception `call` throws, OX_OK when it throws none.
template <typename Call>
ox_error_e code_of(Call call) {
  try {
    call();
  } catch (const pm_exception& e) {
    return e.code();
  }
  return OX_OK;
}

const char kRequestLine[] = "5 pm_service ox_package_manager resolve: resolving installing ";

TEST(PackageManagerApiTest, StagesWithoutCollaboratorsAreSkippedAndEmptyRequestsRejected) {
  ox_test::test_host host;
  package_manager pm(host.context());
  EXPECT_TRUE(pm.resolve({sw("OLD", "0.1")}, {sw("A", "1.2.3.4")}).empty());
  EXPECT_THAT(host.lines(), ElementsAre(std::string(kRequestLine) +
                                        "softwares <A(1.2.3.4); >, uninstalling softwares "
                                        "<OLD(0.1.0.0); >"));
  std::vector<installing_software> list(2);
  list[1].detected_conflicts.push_back(conflict_info{"C", 1});
  list[1].failed_dependencies.push_back(sw("D", "1.0"));
  EXPECT_FALSE(pm.is_conflicted(list));  // no conflict manager to ask
  EXPECT_FALSE(pm.is_incompatible(list));

  host.clear();
  pm.set_conflict_manager(std::make_shared<software_conflict_manager>(host.context()));
  EXPECT_EQ(code_of([&] { pm.resolve({}, {}); }), OX_ERROR_INVALID_ARGUMENT);
  EXPECT_TRUE(pm.resolve({}, {sw("A", "1.0")}).empty());
  EXPECT_THAT(
      host.lines(),
      ElementsAre(std::string(kRequestLine) + "softwares <>, uninstalling softwares <>",
                  "2 pm_service ox_package_manager resolve: Install and uninstall lists "
                  "are null",
                  std::string(kRequestLine) + "softwares <A(1.0.0.0); >, uninstalling softwares <>",
                  "5 pm_service ox_package_manager resolve: check_conflict <start> for "
                  "only installing software.",
                  "5 pm_service ox_package_manager resolve: check_conflict <ends>",
                  "5 pm_service ox_package_manager resolve: "));
  EXPECT_TRUE(pm.is_conflicted(list));
  list[1].detected_conflicts.clear();
  EXPECT_FALSE(pm.is_conflicted(list));

  // A dependency manager lacking its collaborators: its error reaches the host.
  pm.set_dependency_manager(std::make_shared<software_dependency_manager>(host.context()));
  EXPECT_EQ(code_of([&] { pm.resolve({}, {sw("A", "1.0")}); }), OX_ERROR_INVALID_ARGUMENT);
}

constexpr char kCatalog[] =
    R"(<specs><softwares><software sref="CORE" name="Core" platforms="" version="" )"
    R"(softwareids="CORE"/><software sref="PLUGIN" name="Plugin" platforms="" version="" )"
    R"(softwareids="PLUGIN"><depends><d sref="CORE" version="2.0:2.9"/></depends></software>)"
    R"(</softwares></specs>)";

TEST(PackageManagerApiTest, AFailedRescanReachesTheHostAndTheDatabaseMustBeShared) {
  ox_test::test_host host;
  const auto store = ox_refhost::make_memory_source({{"CORE", std::string("2.0")}});
  const ox_refhost::scoped_store_source scoped(store);
  ox_test::wired_managers wired(host.context());
  wired.spec->import(kCatalog, sizeof(kCatalog) - 1);
  EXPECT_THAT(ox_test::describe(wired.package->resolve({}, {sw("PLUGIN", "2.0")})),
              ElementsAre("CORE 2.0.0.0 2", "PLUGIN 2.0.0.0 1"));

  ox_refhost::fail_next_scan(*store, static_cast<ox_error_e>(4711));
  host.clear();
  EXPECT_EQ(code_of([&] { wired.package->resolve({}, {sw("PLUGIN", "2.0")}); }), 4711);
  EXPECT_EQ(wired.softdb->get_installed_product_list().size(), 1u);  // the last good scan
  EXPECT_THAT(host.lines(),
              ElementsAre(std::string(kRequestLine) +
                          "softwares <PLUGIN(2.0.0.0); >, uninstalling softwares <>"));

  // A second database that nobody rescans: the dependency stage sees nothing.
  wired.dependency->set_softdb_manager(
      std::make_shared<system_software_database_manager>(host.context()));
  EXPECT_THAT(ox_test::describe(wired.package->resolve({}, {sw("PLUGIN", "2.0")})),
              ElementsAre("PLUGIN 2.0.0.0 1 dep[CORE 2.0.0.0 2.0:2.9]"));
}

TEST(DependencyManagerApiTest, QueriesAndStepsCalledDirectly) {
  ox_test::test_host host;
  software_dependency_manager mgr(host.context());
  std::vector<installing_software> list = {entry("A", "1.0"), entry("B", "1.0")};
  list[1].state |= SOFTWARE_STATE_UNINSTALL;  // obsolete: no finding
  EXPECT_FALSE(mgr.is_incompatible(list) || mgr.is_incompatible_dependencies(list) ||
               mgr.is_incompatible_product(list));
  list[1].failed_compatibilities.push_back(sw("Y", "4.0"));
  EXPECT_TRUE(mgr.is_incompatible(list));
  EXPECT_FALSE(mgr.is_incompatible_dependencies(list));
  EXPECT_TRUE(mgr.is_incompatible_product(list));
  list[1].failed_compatibilities.clear();
  list[0].failed_dependencies.push_back(sw("X", "1.0"));
  EXPECT_TRUE(mgr.is_incompatible(list));
  EXPECT_TRUE(mgr.is_incompatible_dependencies(list));
  EXPECT_FALSE(mgr.is_incompatible_product(list));

  // resolve_dependency wraps, resolve_installorder_compatibility copies: no checks.
  EXPECT_THAT(ox_test::describe(mgr.resolve_dependency({sw("A", "1.0"), sw("B", "2.0")})),
              ElementsAre("A 1.0.0.0 1", "B 2.0.0.0 1"));
  EXPECT_THAT(ox_test::describe(mgr.resolve_installorder_compatibility(list)),
              ElementsAre("A 1.0.0.0 1 dep[X 1.0.0.0 ]", "B 1.0.0.0 5"));

  // Without the catalog or the database nothing is checked.
  auto spec_mgr = std::make_shared<package_spec_manager>(host.context());
  auto softdb = std::make_shared<system_software_database_manager>(host.context());
  for (int wiring = 0; wiring < 3; ++wiring) {
    software_dependency_manager partial(host.context());
    if (wiring == 1) {
      partial.set_spec_mgr(spec_mgr);
    } else if (wiring == 2) {
      partial.set_softdb_manager(softdb);
    }
    EXPECT_EQ(code_of([&] { partial.check_installorder_compatibility({}, {entry("A", "1")}); }),
              OX_ERROR_INVALID_ARGUMENT)
        << "wiring " << wiring;
  }
  std::vector<installing_software> working;
  installing_software a = entry("A", "1.0");
  const software_spec spec = spec_of("A", "1.0", "A");
  EXPECT_NE(code_of([&] { mgr.resolve_uninstalls(working, a, spec); }), OX_OK);
  EXPECT_NE(code_of([&] { mgr.check_product_dependency(working, a, spec); }), OX_OK);
  EXPECT_NE(code_of([&] { mgr.check_product_compatibility(working, a, spec, {}); }), OX_OK);
  EXPECT_TRUE(host.records().empty());
}

// A pm_exception raised inside the walk: only the not-found error is a
// finding; any other code reaches the caller as it is. The host's capability
// raises it here, when step c) has the required software's pattern described.
TEST(DependencyManagerApiTest, OnlyTheNotFoundErrorBecomesAFinding) {
  static ox_error_e raised = OX_OK;
  static const ox_regex_literals_s raising = {
      OX_REGEX_LITERALS_TAG, sizeof(ox_regex_literals_s),
      [](const ox_regex_literals_s*, const char*, ox_regex_alternative_fn, void*) -> int {
        if (raised != OX_OK) {
          throw pm_exception(raised);
        }
        return 0;  // cannot tell
      }};
  ox_test::test_host host;
  host.ctx.set_object(OX_OBJECT_REGEX_LITERALS, const_cast<ox_regex_literals_s*>(&raising));
  ox_test::wired_managers wired(host.context());
  wired.spec->import(kCatalog, sizeof(kCatalog) - 1);
  wired.softdb->set_installed_products({sw("CORE", "1.0")});
  const std::vector<installing_software> install = {entry("PLUGIN", "2.0")};
  for (const ox_error_e code : {OX_ERROR_LIMIT_EXCEEDED, OX_ERROR_INVALID_ARGUMENT,
                                static_cast<ox_error_e>(-1), OX_ERROR_UNEXPECTED}) {
    raised = code;
    EXPECT_EQ(code_of([&] { wired.dependency->check_installorder_compatibility({}, install); }),
              code);
  }
  raised = OX_ERROR_NOT_FOUND;
  host.clear();
  const auto result = wired.dependency->check_installorder_compatibility({}, install);
  raised = OX_OK;
  EXPECT_THAT(ox_test::describe(result),
              ElementsAre("CORE 1.0.0.0 2", "PLUGIN 2.0.0.0 1 dep[CORE 2.0.0.0 2.0:2.9]"));
  EXPECT_THAT(host.lines(), ::testing::Contains("2 pm_service ox_software_dependency_manager "
                                                "check_product_dependency: Entry not found in "
                                                "spec."));
}

std::string document(const std::string& softwares) {
  return "<specs version=\"1\"><softwares>" + softwares + "</softwares></specs>";
}

std::string element(const std::string& sref, const std::string& platforms = "") {
  return "<software sref=\"" + sref + "\" name=\"n\" platforms=\"" + platforms +
         "\" version=\"\" softwareids=\"\"/>";
}

strings srefs(const package_spec_manager& mgr) {
  strings out;
  for (const software_spec& spec : mgr.get_specs()) {
    out.push_back(spec.sref);
  }
  return out;
}

TEST(SpecManagerApiTest, ImportErrorsBytesAndPlatformChanges) {
  ox_test::test_host host;
  package_spec_manager mgr(host.context());
  const std::string both = document(element("A", "win64") + element("B", "mac"));
  mgr.import(both.data(), both.size());
  EXPECT_EQ(mgr.get_spec_version(), "1");
  mgr.set_platform("mac");  // applies to later imports only
  EXPECT_EQ(mgr.get_platform(), "mac");
  const std::string tail = both + "garbage<";
  mgr.import(tail.data(), both.size());  // only the given bytes are read
  EXPECT_EQ(srefs(mgr), (strings{"A", "B", "B"}));

  host.clear();
  const strings broken = {both.substr(0, 40), "<specs><softwares>" + element("C") + "</specs>",
                          both + "<specs/>", std::string("<specs version=\"2\"/>\0", 21), ""};
  for (const std::string& text : broken) {
    EXPECT_EQ(code_of([&] { mgr.import(text.data(), text.size()); }), OX_ERROR_PARSE) << text;
  }
  EXPECT_EQ(srefs(mgr), (strings{"A", "B", "B"}));
  EXPECT_EQ(mgr.get_spec_version(), "1");
  EXPECT_TRUE(host.records().empty());

  // The version of the last document that has one, an empty one included.
  const std::string unversioned = "<specs><softwares/></specs>";
  mgr.import(unversioned.data(), unversioned.size());
  EXPECT_EQ(mgr.get_spec_version(), "1");
  const std::string empty_version = R"(<specs version=""/>)";
  mgr.import(empty_version.data(), empty_version.size());
  EXPECT_EQ(mgr.get_spec_version(), "");
}

TEST(SpecManagerApiTest, ParsersCalledDirectlyAppendAndSkipNullNodes) {
  ox_test::test_host host;
  package_spec_manager mgr(host.context());
  software_spec spec;
  std::shared_ptr<xml_node> none;
  auto null_node = std::make_shared<xml_node>(nullptr);
  EXPECT_TRUE(mgr.parse(none));
  EXPECT_TRUE(mgr.parse(null_node));
  mgr.parse_depends(none, spec);
  mgr.parse_conflicts(null_node, spec);

  const std::string text = document(
      R"(<software sref="S" name="n" platforms="" version="" softwareids=""><depends><d sref="A" )"
      R"(version="1"/></depends><provides><p id="P" name="n"/></provides><conflicts><registry )"
      R"(name="n" hkey="h" path="p" key="k" match="m" action="Ignore"/></conflicts><obsoletes>)"
      R"(<o version="1"/></obsoletes><uninstalls><u sref="U" name="n"/></uninstalls>)"
      R"(<compatibles><c sref="C" version="1"/></compatibles></software>)");
  oxxml doc;
  doc.parse(text.data(), text.size());
  std::shared_ptr<xml_node> node = doc.root()->search_by_path("specs/softwares/software");
  for (int round = 0; round < 2; ++round) {
    mgr.parse_provides(node, spec);
    mgr.parse_uninstalls(node, spec);
    mgr.parse_obsoletes(node, spec);
    mgr.parse_depends(node, spec);
    mgr.parse_compatibles(node, spec);
    mgr.parse_conflicts(node, spec);
  }
  EXPECT_EQ(spec.provides.size() + spec.uninstalls.size() + spec.obsoletes.size() +
                spec.depends.size() + spec.compatibles.size(),
            10u);
  ASSERT_EQ(spec.conflicts.size(), 2u);
  EXPECT_NE(spec.conflicts[0].check, spec.conflicts[1].check);
  EXPECT_TRUE(mgr.get_specs().empty());
  EXPECT_TRUE(host.records().empty());
}

TEST(SpecManagerApiTest, LookUpsOverAddedEntries) {
  ox_test::test_host host;
  package_spec_manager mgr(host.context());
  EXPECT_EQ(code_of([&] { mgr.find(sw("A", "1.0")); }), OX_ERROR_NOT_FOUND);
  EXPECT_EQ(code_of([&] { mgr.find_id(""); }), OX_ERROR_NOT_FOUND);
  EXPECT_FALSE(mgr.find_orqid_in_spec("A", "A"));

  const std::string text = document(
      R"(<software sref="A" name="imported" platforms="" version="1.0:9.0" softwareids="X"/>)");
  mgr.add(spec_of("A", "1.0", "", "added first"));
  mgr.import(text.data(), text.size());
  mgr.add(spec_of("A", "1.0:9.0", "", "added last"));
  host.clear();  // look-ups log nothing
  EXPECT_EQ(mgr.find(sw("A", "1.0")).name, "added first");
  EXPECT_EQ(mgr.find(sw("A", "5.0")).name, "imported");
  EXPECT_EQ(mgr.get_specs().back().name, "added last");

  // The index follows entries added after a look-up, by sref and by pattern.
  EXPECT_EQ(code_of([&] { mgr.find_id("B"); }), OX_ERROR_NOT_FOUND);
  mgr.add(spec_of("B", "1.0", "", "b"));
  mgr.add(spec_of("C", "1.0", "C|LEGACY_C", "c"));
  mgr.add(spec_of("D", "1.0", "D_[0-9]+", "d"));
  mgr.add(spec_of("E", "1.0", "(", "bad pattern"));
  EXPECT_EQ(mgr.find_id("B").name, "b");
  EXPECT_EQ(mgr.find_id("LEGACY_C").name, "c");
  EXPECT_EQ(mgr.find(sw("D_12", "1.0")).name, "d");
  EXPECT_TRUE(mgr.find_orqid_in_spec("LEGACY_C", "C"));
  EXPECT_FALSE(mgr.find_orqid_in_spec("E", "E"));

  // A NUL byte cannot reach the host intact: no match rather than a match of
  // a shortened text. An id too long for the host's matcher is still found
  // by its sref.
  EXPECT_TRUE(mgr.find_software_id("ORQ", "ORQ"));
  EXPECT_FALSE(mgr.find_software_id("ORQ", std::string("ORQ\0tail", 8)));
  EXPECT_FALSE(mgr.find_software_id(std::string("ORQ\0|.*", 7), "anything"));
  EXPECT_EQ(code_of([&] { mgr.find_id(std::string("B\0x", 3)); }), OX_ERROR_NOT_FOUND);
  const std::string too_long(ox_refhost::kMaxRegexTextBytes + 1, 'a');
  mgr.add(spec_of(too_long, "1.0", "a+", "long"));
  EXPECT_FALSE(mgr.find_software_id("a+", too_long));
  EXPECT_EQ(mgr.find(sw(too_long, "1.0")).name, "long");
  EXPECT_EQ(mgr.find_id("aaa").name, "long");
  EXPECT_TRUE(host.records().empty());
}

strings listed(const std::vector<software>& list) {
  strings out;
  for (const software& s : list) {
    out.push_back(s.id + "=" + s.version.getversion());
  }
  return out;
}

TEST(SoftwareDatabaseApiTest, FindSetAndFailedScans) {
  ox_test::test_host host;
  system_software_database_manager mgr(host.context());
  EXPECT_EQ(code_of([&] { mgr.find("A"); }), OX_ERROR_NOT_FOUND);
  std::vector<software>& list = mgr.get_installed_product_list();
  mgr.set_installed_products({sw("ORQHOST_3000META", "1.0"), sw("B", "2.0"), sw("B", "1.5")});
  EXPECT_EQ(listed(list), (strings{"ORQHOST_3000META=1.0.0.0", "B=2.0.0.0", "B=1.5.0.0"}));
  EXPECT_EQ(mgr.find("B").version.getversion(), "2.0.0.0");
  for (const char* miss : {"b", "BB", "", "ORQHOST"}) {
    EXPECT_EQ(code_of([&] { mgr.find(miss); }), OX_ERROR_NOT_FOUND) << miss;
  }
  EXPECT_TRUE(host.records().empty());

  const auto source = ox_refhost::make_memory_source({{"KEPT", std::string("1.0")}});
  const ox_refhost::scoped_store_source scope(source);
  mgr.rescan();
  EXPECT_EQ(listed(list), strings{"KEPT=1.0.0.0"});    // the reference shows the new list
  EXPECT_EQ(list[0].name + list[0].version_text, "");  // only the id and the parsed version
  host.clear();
  for (const ox_error_e code : {OX_ERROR_IO, OX_ERROR_PARSE, static_cast<ox_error_e>(4711),
                                static_cast<ox_error_e>(-1), static_cast<ox_error_e>(INT_MIN)}) {
    source->set_applications({{"NEW", std::string("2.0")}});
    ox_refhost::fail_next_scan(*source, code, "store unavailable");
    const auto before = ox_refhost::store_calls_on_this_thread();
    EXPECT_EQ(code_of([&] { mgr.rescan(); }), code);
    EXPECT_EQ(ox_refhost::store_calls_on_this_thread().release_calls - before.release_calls, 1u);
    EXPECT_EQ(ox_refhost::last_store_error(), "store unavailable");
    EXPECT_EQ(listed(list), strings{"KEPT=1.0.0.0"});
  }
  ox_refhost::fail_next_store_create(OX_ERROR_OUT_OF_MEMORY);
  EXPECT_EQ(code_of([&] { mgr.rescan(); }), OX_ERROR_OUT_OF_MEMORY);
  EXPECT_TRUE(host.records().empty()) << "nothing is logged before a successful scan";
  EXPECT_STREQ(error_name(static_cast<ox_error_e>(-1)), "host error");
  EXPECT_STREQ(error_name(OX_ERROR_PARSE), "OX_ERROR_PARSE");

  // Without a logger, or a context, the rescan works the same.
  system_software_database_manager no_context(nullptr);
  no_context.rescan();
  EXPECT_EQ(listed(no_context.get_installed_product_list()), strings{"NEW=2.0.0.0"});
}

TEST(ConflictAndRepositoryApiTest, ConflictsAreOnlyQueriedAndTheRepositoryKeepsNothing) {
  ox_test::test_host host;
  software_conflict_manager conflicts(host.context());
  std::vector<installing_software> list = {entry("A", "1.0", SOFTWARE_STATE_INSTALLED),
                                           entry("B", "1.0")};
  list[0].failed_dependencies.push_back(sw("D", "1.0"));
  EXPECT_FALSE(conflicts.is_conflicted({}));
  EXPECT_FALSE(conflicts.is_conflicted(list));
  conflicts.check_conflict(list);
  conflicts.resolve(list);
  EXPECT_THAT(ox_test::describe(list), ElementsAre("A 1.0.0.0 2 dep[D 1.0.0.0 ]", "B 1.0.0.0 1"));
  list[1].detected_conflicts.push_back(conflict_info{"X", 0});
  EXPECT_TRUE(conflicts.is_conflicted(list));
  EXPECT_TRUE(host.records().empty());

  software_repo_manager repo(host.context());
  software_package package;
  package.id = "A";
  package.location = "/pkg/a";
  package.version = version("1.0.0.0");
  repo.add(package);
  repo.load();
  const software_package found = repo.find("A", "1.0.0.0");
  EXPECT_EQ(found.id + found.name + found.location, "");
  EXPECT_EQ(found.version.getversion(), version().getversion());
}

TEST(CoreApiTest, RecordsConvertByIdentityAndSplitCutsAtEverySeparator) {
  software named("A", version("1.0.0.0"), "1.0");
  named.set_name("Product A");
  installing_software wrapped(named, SOFTWARE_STATE_UNINSTALL);
  wrapped.failed_dependencies.push_back(sw("X", "1.0"));
  const software back = wrapped;
  EXPECT_EQ(back.id + " " + back.version.getversion() + " [" + back.name + back.version_text + "]",
            "A 1.0.0.0 []");
  EXPECT_EQ(static_cast<std::uint32_t>(installing_software(named).state), 1u);

  const std::vector<std::pair<std::string, strings>> rows = {
      {"", {}},
      {"abc", {"abc"}},
      {"a||b", {"a", "", "b"}},
      {"|a", {"", "a"}},
      {"a|", {"a", ""}},
      {"||", {"", "", ""}},
      {"a::b:c", {"a::b:c"}},
      {std::string("a\0b|c", 5), {std::string("a\0b", 3), "c"}}};
  for (const auto& row : rows) {
    EXPECT_EQ(split(row.first, "|"), row.second) << row.first;
  }
  EXPECT_EQ(split("a::b:c", "::"), (strings{"a", "b:c"}));
  EXPECT_EQ(split("a:::b", "::"), (strings{"a", ":b"}));
  EXPECT_EQ(split("separator", "separator"), (strings{"", ""}));
  EXPECT_EQ(split("abc", ""), strings{"abc"});
  EXPECT_EQ(split("", ""), strings{});
}

TEST(HostLayerApiTest, LogLinesFetchTheLoggerAnewWithServiceTagAndLine) {
  ox_test::test_host host;
  auto other_capture = std::make_shared<ox_refhost::capture_sink>();
  ox_refhost::logger other(other_capture);
  // clang-format off
  const int line = __LINE__; OX_LOG(host.context(), OX_LOG_SEVERITY_FAILURE, internal::kTagPackageManager, "resolve", "value %s and %d", "text", 42);
  // clang-format on
  OX_LOG_BLANK(host.context(), internal::kTagDependencyManager, "check");
  host.ctx.set_logger(&other);
  OX_LOG(host.context(), 5, internal::kTagSpecManager, "import", "second");
  host.ctx.set_logger(nullptr);
  OX_LOG(host.context(), 5, internal::kTagSpecManager, "import", "dropped");
  OX_LOG(nullptr, 5, internal::kTagSoftwareDatabase, "rescan", "dropped %s", "line");

  EXPECT_THAT(host.lines(),
              ElementsAre("2 pm_service ox_package_manager resolve: value text and 42",
                          "5 pm_service ox_software_dependency_manager check: "));
  EXPECT_EQ(host.records()[0].line, line);
  EXPECT_EQ(other_capture->messages(), strings{"second"});
}

TEST(HostLayerApiTest, XmlDocumentsAndNodes) {
  const std::string text =
      R"(<specs version="7"><softwares><software sref="A"/><other/></softwares></specs>)";
  const std::string with_tail = text + "<broken";
  oxxml doc;
  EXPECT_EQ(doc.root()->get(), nullptr);
  doc.parse(with_tail.data(), text.size());  // only the given bytes
  const std::shared_ptr<xml_node> softwares = doc.root()->search_by_path("specs/softwares");
  EXPECT_STREQ(softwares->find("software")->attribute_get("sref"), "A");
  EXPECT_STREQ(softwares->get_first_child()->get_next_sibling()->get_name(), "other");
  EXPECT_EQ(softwares->find("software")->attribute_get("missing"), nullptr);
  for (const auto& missing :
       {softwares->find("absent"), doc.root()->search_by_path("softwares"),
        softwares->find("software")->get_first_child(),
        softwares->get_first_child()->get_next_sibling()->get_next_sibling()}) {
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->get(), nullptr);
    EXPECT_EQ(missing->find("a")->get_first_child()->get_next_sibling()->get(), nullptr);
    EXPECT_EQ(missing->get_name(), nullptr);
    EXPECT_EQ(missing->attribute_get("version"), nullptr);
  }

  std::string deep;
  for (int i = 0; i < 1000; ++i) {
    deep += "<a>";
  }
  EXPECT_EQ(code_of([&] { doc.parse(deep.data(), deep.size()); }), OX_ERROR_LIMIT_EXCEEDED);
  EXPECT_EQ(doc.root()->get(), nullptr) << "a failed parse holds no document";
  EXPECT_EQ(code_of([&] { doc.parse(text.data(), text.size() - 1); }), OX_ERROR_PARSE);
  const std::string again = R"(<specs version="9"/>)";
  doc.parse(again.data(), again.size());
  EXPECT_STREQ(doc.root()->search_by_path("specs")->attribute_get("version"), "9");
}

TEST(HostLayerApiTest, RegistryStoreWalksReleasesAndReportsFailures) {
  const ox_refhost::scoped_store_source scope(ox_refhost::make_memory_source(
      {{"B", std::string("2.0")}, {"A", std::nullopt}, {"B", std::string("1.0.0.1")}}));
  strings walked;
  {
    registry_store store;
    store.scan();
    auto cursor = store.next_application(nullptr);
    for (; cursor->get_application() != nullptr; cursor = store.next_application(cursor)) {
      walked.push_back(cursor->get_software_id() + "=" + cursor->get_version());
    }
  }
  EXPECT_EQ(walked, (strings{"B=2.0", "A=", "B=1.0.0.1"}));
  const application none(nullptr);
  EXPECT_EQ(none.get_software_id() + none.get_version(), "");

  const auto before = ox_refhost::store_calls_on_this_thread();
  ox_refhost::fail_next_store_create(OX_ERROR_OUT_OF_MEMORY);
  {
    registry_store store;  // does not throw: the scan reports the creation's code
    EXPECT_EQ(code_of([&] { store.scan(); }), OX_ERROR_OUT_OF_MEMORY);
    EXPECT_EQ(store.next_application(nullptr)->get_application(), nullptr);
  }
  const auto after = ox_refhost::store_calls_on_this_thread();
  EXPECT_EQ(after.create_calls - before.create_calls, 1u);
  EXPECT_EQ(after.release_calls - before.release_calls, 1u);
  EXPECT_EQ(after.null_release_calls - before.null_release_calls, 1u);
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

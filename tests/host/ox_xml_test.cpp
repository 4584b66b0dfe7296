#include "tarvik/ox/xml.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {
namespace {

const char kDocument[] =
    R"(<specs version="7"><softwares><software sref="A" name="first"/>)"
    R"(<other/><software sref="B" name="second"><depends/></software></softwares></specs>)";

void parse_text(oxxml& doc, const std::string& text) {
  doc.parse(text.data(), text.size());
}

ox_error_e parse_error(const std::string& text) {
  oxxml doc;
  try {
    parse_text(doc, text);
  } catch (const pm_exception& e) {
    EXPECT_EQ(doc.root()->get(), nullptr) << "a failed parse holds no document";
    return e.error;
  }
  return OX_OK;
}

std::vector<std::string> child_names(const std::shared_ptr<xml_node>& parent) {
  std::vector<std::string> names;
  for (std::shared_ptr<xml_node> child = parent->get_first_child(); child->get() != nullptr;
       child = child->get_next_sibling()) {
    names.emplace_back(child->get_name());
  }
  return names;
}

TEST(OxXmlTest, WalksTheParsedDocument) {
  oxxml doc;
  parse_text(doc, kDocument);
  std::shared_ptr<xml_node> root = doc.root();
  ASSERT_NE(root, nullptr);
  ASSERT_NE(root->get(), nullptr);

  std::shared_ptr<xml_node> specs = root->search_by_path("specs");
  ASSERT_NE(specs->get(), nullptr);
  EXPECT_STREQ(specs->get_name(), "specs");
  EXPECT_STREQ(specs->attribute_get("version"), "7");
  EXPECT_EQ(specs->attribute_get("missing"), nullptr);

  std::shared_ptr<xml_node> softwares = root->search_by_path("specs/softwares");
  ASSERT_NE(softwares->get(), nullptr);
  EXPECT_EQ(softwares->get(), specs->find("softwares")->get());
  EXPECT_EQ(child_names(softwares), (std::vector<std::string>{"software", "other", "software"}));

  // find yields the first child of that name.
  std::shared_ptr<xml_node> first = softwares->find("software");
  EXPECT_STREQ(first->attribute_get("sref"), "A");
  EXPECT_EQ(first->get(), softwares->get_first_child()->get());

  std::shared_ptr<xml_node> second = first->get_next_sibling()->get_next_sibling();
  EXPECT_STREQ(second->attribute_get("name"), "second");
  EXPECT_NE(second->find("depends")->get(), nullptr);
}

TEST(OxXmlTest, MissingNodesAreNonEmptyPointersToNullNodes) {
  oxxml doc;
  parse_text(doc, kDocument);
  std::shared_ptr<xml_node> softwares = doc.root()->search_by_path("specs/softwares");
  std::shared_ptr<xml_node> leaf = softwares->find("software");

  const std::vector<std::shared_ptr<xml_node>> missing = {
      softwares->find("absent"),
      doc.root()->search_by_path("specs/absent"),
      doc.root()->search_by_path("softwares"),
      leaf->get_first_child(),
      softwares->find("depends"),
      softwares->get_first_child()->get_next_sibling()->get_next_sibling()->get_next_sibling(),
  };
  for (const std::shared_ptr<xml_node>& node : missing) {
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->get(), nullptr);
    EXPECT_EQ(node.use_count(), 1);
  }
}

TEST(OxXmlTest, NullNodePassesNullThroughEveryOperation) {
  xml_node none(nullptr);
  EXPECT_EQ(none.get(), nullptr);
  EXPECT_EQ(none.find("a")->get(), nullptr);
  EXPECT_EQ(none.search_by_path("specs")->get(), nullptr);
  EXPECT_EQ(none.get_first_child()->get(), nullptr);
  EXPECT_EQ(none.get_next_sibling()->get(), nullptr);
  EXPECT_EQ(none.get_name(), nullptr);
  EXPECT_EQ(none.attribute_get("version"), nullptr);
}

TEST(OxXmlTest, EmptyDocumentObjectHasNoRoot) {
  oxxml doc;
  EXPECT_EQ(doc.root()->get(), nullptr);
  EXPECT_EQ(doc.root()->search_by_path("specs")->attribute_get("version"), nullptr);
}

TEST(OxXmlTest, FailedLoadsCarryTheHostCodeUnchanged) {
  EXPECT_EQ(parse_error("<specs><softwares></specs>"), OX_ERROR_PARSE);
  EXPECT_EQ(parse_error("not xml at all"), OX_ERROR_PARSE);
  EXPECT_EQ(parse_error(""), OX_ERROR_PARSE);
  std::string deep;
  for (int i = 0; i < 1000; ++i) {
    deep += "<a>";
  }
  EXPECT_EQ(parse_error(deep), OX_ERROR_LIMIT_EXCEEDED);
  EXPECT_EQ(parse_error(kDocument), OX_OK);
}

TEST(OxXmlTest, ParseReadsOnlyTheGivenBytes) {
  // The bytes past `size` would make the text malformed.
  const std::string text = std::string(kDocument) + "<broken";
  oxxml doc;
  doc.parse(text.data(), std::strlen(kDocument));
  EXPECT_STREQ(doc.root()->search_by_path("specs")->attribute_get("version"), "7");

  oxxml cut;
  EXPECT_THROW(cut.parse(text.data(), std::strlen(kDocument) - 1), pm_exception);
}

TEST(OxXmlTest, ParsingAgainReplacesTheDocument) {
  oxxml doc;
  parse_text(doc, kDocument);
  parse_text(doc, R"(<specs version="8"/>)");
  EXPECT_STREQ(doc.root()->search_by_path("specs")->attribute_get("version"), "8");

  EXPECT_THROW(parse_text(doc, "<specs"), pm_exception);
  EXPECT_EQ(doc.root()->get(), nullptr);
  parse_text(doc, R"(<specs version="9"/>)");
  EXPECT_STREQ(doc.root()->search_by_path("specs")->attribute_get("version"), "9");
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

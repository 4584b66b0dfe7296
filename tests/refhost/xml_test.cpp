// The reference host's XML library on hostile and unusual input. Run under
// AddressSanitizer, the exact-size buffers also prove that nothing past the
// given bytes is read.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tarvik/ox/host/ox_xml.h"
#include "tarvik/ox_refhost/limits.hpp"

namespace tarvik {
namespace ox_refhost {
namespace {

struct document_release {
  void operator()(ox_xml_s* document) const { ox_xml_release(document); }
};
using document_ptr = std::unique_ptr<ox_xml_s, document_release>;

document_ptr create() {
  ox_xml_s* raw = nullptr;
  EXPECT_EQ(ox_xml_create(&raw), OX_OK);
  EXPECT_NE(raw, nullptr);
  return document_ptr(raw);
}

// Loads from a heap copy of exactly text.size() bytes: no NUL after them.
int load_exact(ox_xml_s* document, const std::string& text) {
  std::unique_ptr<char[]> buffer(new char[text.size() == 0 ? 1 : text.size()]);
  std::memcpy(buffer.get(), text.data(), text.size());
  return ox_xml_load_from_buffer(document, buffer.get(), text.size());
}

int load_code(const std::string& text) {
  document_ptr document = create();
  const int code = load_exact(document.get(), text);
  if (code != OX_OK) {
    EXPECT_EQ(ox_xml_get_node(document.get()), nullptr) << "failed load leaves a tree";
  }
  return code;
}

ox_xml_node_s* element(ox_xml_s* document, const char* path) {
  return ox_xml_node_search_by_path(ox_xml_get_node(document), path);
}

// The value of attribute `name` of the document element after loading text.
std::string attribute_after_load(const std::string& text, const char* name) {
  document_ptr document = create();
  EXPECT_EQ(load_exact(document.get(), text), OX_OK) << text;
  ox_xml_node_s* root = ox_xml_node_get_first_child(ox_xml_get_node(document.get()));
  const char* value = ox_xml_node_attribute_get(root, name);
  return value == nullptr ? std::string("(absent)") : std::string(value);
}

std::vector<std::string> child_names(ox_xml_node_s* parent) {
  std::vector<std::string> names;
  for (ox_xml_node_s* child = ox_xml_node_get_first_child(parent); child != nullptr;
       child = ox_xml_node_get_next_sibling(child)) {
    const char* name = ox_xml_node_get_name(child);
    EXPECT_NE(name, nullptr);
    names.emplace_back(name == nullptr ? "" : name);
  }
  return names;
}

std::string nested(std::size_t depth, const std::string& innermost = "") {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) {
    text += "<e>";
  }
  text += innermost;
  for (std::size_t i = 0; i < depth; ++i) {
    text += "</e>";
  }
  return text;
}

TEST(RefhostXmlTest, BufferWithoutFinalNul) {
  document_ptr document = create();
  const std::string text = R"(<specs version="1.2"><softwares/></specs>)";
  ASSERT_EQ(load_exact(document.get(), text), OX_OK);
  EXPECT_STREQ(ox_xml_node_attribute_get(element(document.get(), "specs"), "version"), "1.2");
  EXPECT_NE(element(document.get(), "specs/softwares"), nullptr);

  // Text that stops right at the end of the buffer, in every state the parser
  // can be in there.
  for (const char* cut :
       {"<specs", "<specs version=\"1", "<specs><!-- x", "<specs><![CDATA[x", "<specs>&#x4",
        "<!DOCTYPE specs [", "<specs a='1'>text&am", "<", "<specs/", "<?xml version='1.0'"}) {
    EXPECT_NE(load_code(cut), OX_OK) << cut;
  }
}

TEST(RefhostXmlTest, NulByteAnywhereIsAParseError) {
  using namespace std::string_literals;
  EXPECT_EQ(load_code("<specs/>\0<more/>"s), OX_ERROR_PARSE);
  EXPECT_EQ(load_code("<specs version=\"1\0\"/>"s), OX_ERROR_PARSE);
  EXPECT_EQ(load_code("<specs>\0</specs>"s), OX_ERROR_PARSE);
  EXPECT_EQ(load_code("<specs/>\0"s), OX_ERROR_PARSE);
  EXPECT_EQ(load_code("\0<specs/>"s), OX_ERROR_PARSE);
}

TEST(RefhostXmlTest, DoctypeIsNeverExpandedNorFollowed) {
  const std::string text =
      "<!DOCTYPE specs [\n"
      "  <!ENTITY a \"boom\">\n"
      "  <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
      "  <!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
      "  <!ENTITY ext SYSTEM \"file:///etc/passwd\">\n"
      "  <!-- a comment with a quote ' and a bracket ] -->\n"
      "]>\n"
      "<specs a=\"&a;\" c=\"&c;\" ext=\"&ext;\" mixed=\"x&amp;&a;y\"><e>&c;</e></specs>";
  EXPECT_EQ(attribute_after_load(text, "a"), "&a;");
  EXPECT_EQ(attribute_after_load(text, "c"), "&c;");
  EXPECT_EQ(attribute_after_load(text, "ext"), "&ext;");
  EXPECT_EQ(attribute_after_load(text, "mixed"), "x&&a;y");

  // An external DTD is not read either; the document stands alone.
  EXPECT_EQ(attribute_after_load(
                "<!DOCTYPE specs SYSTEM \"/nonexistent/specs.dtd\"><specs v=\"&x;\"/>", "v"),
            "&x;");
  // The doctype is no node of the tree.
  document_ptr document = create();
  ASSERT_EQ(load_exact(document.get(), text), OX_OK);
  EXPECT_EQ(child_names(ox_xml_get_node(document.get())), std::vector<std::string>{"specs"});
}

TEST(RefhostXmlTest, PredefinedEntitiesAndCharacterReferencesAreExpanded) {
  EXPECT_EQ(
      attribute_after_load(
          R"(<a v="&lt;&gt;&amp;&apos;&quot;&#65;&#x42;&#x63;&#xe9;&#x20AC;&#x1D11E;"/>)", "v"),
      "<>&'\"ABc\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E");
  EXPECT_EQ(attribute_after_load(R"(<a v="a &foo; &amp;lt; & b"/>)", "v"), "a &foo; &lt; & b");
  // A literal tab is normalised to a space, a referenced one is kept.
  EXPECT_EQ(attribute_after_load("<a v=\"x\ty&#9;z\"/>", "v"), "x y\tz");
  EXPECT_EQ(attribute_after_load(R"(<a v='single "quoted"'/>)", "v"), "single \"quoted\"");
}

TEST(RefhostXmlTest, ReferencesToNoCharacterAreParseErrors) {
  for (const char* reference : {"&#xD800;", "&#xDFFF;", "&#x110000;", "&#1114112;", "&#0;", "&#x0;",
                                "&#x00000;", "&#99999999999999999999;", "&#xFFFFFFFFFFFF;", "&#;",
                                "&#x;", "&#65", "&#X41;", "&#x4G;", "&#-1;", "&#12a;"}) {
    const std::string attribute = std::string("<a v=\"") + reference + "\"/>";
    EXPECT_EQ(load_code(attribute), OX_ERROR_PARSE) << attribute;
    const std::string text = std::string("<a>") + reference + "</a>";
    EXPECT_EQ(load_code(text), OX_ERROR_PARSE) << text;
  }
  EXPECT_EQ(load_code("<a v=\"&#x10FFFF;&#xD7FF;&#xE000;&#1;\"/>"), OX_OK);
}

TEST(RefhostXmlTest, TextMustBeUtf8) {
  for (const char* bad :
       {"\xC3", "\xC3(", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
        "\xF8\x88\x80\x80\x80", "\xFF", "\x80", "\xE2\x82", "\xF0\x9D\x84"}) {
    EXPECT_EQ(load_code(std::string("<a v=\"") + bad + "\"/>"), OX_ERROR_PARSE);
    EXPECT_EQ(load_code(std::string("<a>") + bad + "</a>"), OX_ERROR_PARSE);
    EXPECT_EQ(load_code(std::string("<a/><!--") + bad + "-->"), OX_ERROR_PARSE);
  }
  const std::string multibyte =
      "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80"
      "\xF4\x8F\xBF\xBF";
  EXPECT_EQ(attribute_after_load("<a v=\"" + multibyte + "\"/>", "v"), multibyte);
  // Read as UTF-8 whatever the declaration says.
  EXPECT_EQ(load_code("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a v=\"caf\xE9\"/>"),
            OX_ERROR_PARSE);
  EXPECT_EQ(load_code(std::string("\xFF\xFE<\0a\0/\0>\0", 10)), OX_ERROR_PARSE);
  EXPECT_EQ(attribute_after_load("\xEF\xBB\xBF<a v=\"bom\"/>", "v"), "bom");
}

TEST(RefhostXmlTest, DepthIsLimited) {
  EXPECT_EQ(load_code(nested(kMaxXmlElementDepth)), OX_OK);
  EXPECT_EQ(load_code(nested(kMaxXmlElementDepth - 1, "<leaf/>")), OX_OK);
  EXPECT_EQ(load_code(nested(kMaxXmlElementDepth + 1)), OX_ERROR_LIMIT_EXCEEDED);
  EXPECT_EQ(load_code(nested(kMaxXmlElementDepth, "<leaf/>")), OX_ERROR_LIMIT_EXCEEDED);
  // Far deeper, and never closed: refused before it is parsed, no crash.
  std::string deep;
  for (int i = 0; i < 1000000; ++i) {
    deep += "<e>";
  }
  EXPECT_EQ(load_code(deep), OX_ERROR_LIMIT_EXCEEDED);

  // Markup that only looks like elements does not count; what does count is
  // counted exactly.
  const std::string decoys = "<!DOCTYPE e [<!ENTITY x '<e><e><e>'> <!-- <e> ] ' --> ]>";
  std::string body;
  for (std::size_t i = 0; i < kMaxXmlElementDepth * 2; ++i) {
    body += "<!-- <e> --><![CDATA[<e>]]><?pi <e>?><s a='<' b=\"/>\"/><t x='a>b'></t>";
  }
  EXPECT_EQ(load_code(decoys + nested(kMaxXmlElementDepth - 1, body)), OX_OK);
  EXPECT_EQ(load_code(decoys + nested(kMaxXmlElementDepth, body)), OX_ERROR_LIMIT_EXCEEDED);
}

TEST(RefhostXmlTest, SizeIsLimitedBeforeParsing) {
  std::string big = "<a>";
  big.resize(kMaxXmlBufferBytes + 1 - 4, ' ');
  big += "</a>";
  ASSERT_EQ(big.size(), kMaxXmlBufferBytes + 1);
  document_ptr document = create();
  EXPECT_EQ(ox_xml_load_from_buffer(document.get(), big.data(), big.size()),
            OX_ERROR_LIMIT_EXCEEDED);
  // The size given counts, not the bytes behind it.
  EXPECT_EQ(ox_xml_load_from_buffer(document.get(), big.data(), 3), OX_ERROR_PARSE);
}

TEST(RefhostXmlTest, MalformedDocumentsAreParseErrors) {
  for (const char* text :
       {"", "   ", "text only", "<a>", "<a></b>", "<a><b></a></b>", "</a>", "<a/><b/>",
        "<a/>text<b/>", "<a x=\"1\" x=\"2\"/>", "<a x=1/>", "<a x=\"1/>", "<1a/>",
        "<a><!-- unclosed</a>", "<?xml version=\"1.0\"?>"}) {
    EXPECT_EQ(load_code(text), OX_ERROR_PARSE) << '"' << text << '"';
  }
  // A repeated attribute among many.
  std::string many = "<a";
  for (int i = 0; i < 100; ++i) {
    many += " k" + std::to_string(i) + "=\"v\"";
  }
  EXPECT_EQ(load_code(many + "/>"), OX_OK);
  EXPECT_EQ(load_code(many + " k42=\"again\"/>"), OX_ERROR_PARSE);
}

TEST(RefhostXmlTest, FailedLoadDropsTheEarlierTree) {
  document_ptr document = create();
  EXPECT_EQ(ox_xml_get_node(document.get()), nullptr) << "created, never loaded";
  ASSERT_EQ(load_exact(document.get(), "<specs v=\"1\"/>"), OX_OK);
  ASSERT_NE(element(document.get(), "specs"), nullptr);
  EXPECT_EQ(load_exact(document.get(), "<specs><softwares>"), OX_ERROR_PARSE);
  EXPECT_EQ(ox_xml_get_node(document.get()), nullptr);
  ASSERT_EQ(load_exact(document.get(), "<other/>"), OX_OK);
  EXPECT_EQ(element(document.get(), "specs"), nullptr);
  EXPECT_NE(element(document.get(), "other"), nullptr);
}

TEST(RefhostXmlTest, ChildWalkYieldsElementsOnly) {
  document_ptr document = create();
  ASSERT_EQ(load_exact(document.get(),
                       "<?xml version=\"1.0\"?><!-- lead --><?pi x?><!DOCTYPE r><r>text<!--c-->"
                       "<?pi y?><![CDATA[data]]><b/>  more <c><d/></c><b/>tail</r>"),
            OX_OK);
  ox_xml_node_s* top = ox_xml_get_node(document.get());
  EXPECT_STREQ(ox_xml_node_get_name(top), "");
  EXPECT_EQ(child_names(top), std::vector<std::string>{"r"});
  ox_xml_node_s* r = ox_xml_node_get_first_child(top);
  EXPECT_EQ(child_names(r), (std::vector<std::string>{"b", "c", "b"}));
  EXPECT_EQ(ox_xml_node_get_next_sibling(r), nullptr);
  EXPECT_EQ(ox_xml_node_get_first_child(ox_xml_node_search(r, "b")), nullptr);
  EXPECT_EQ(ox_xml_node_get_next_sibling(top), nullptr);
}

TEST(RefhostXmlTest, SearchFindsTheFirstDirectChildElement) {
  document_ptr document = create();
  ASSERT_EQ(load_exact(document.get(),
                       "<specs><x><softwares n=\"deep\"/></x><softwares n=\"1\"><software n=\"s\"/>"
                       "</softwares><softwares n=\"2\"/></specs>"),
            OX_OK);
  ox_xml_node_s* specs = element(document.get(), "specs");
  ASSERT_NE(specs, nullptr);
  EXPECT_STREQ(ox_xml_node_attribute_get(ox_xml_node_search(specs, "softwares"), "n"), "1");
  EXPECT_EQ(ox_xml_node_search(specs, "software"), nullptr) << "grandchildren are not searched";
  EXPECT_EQ(ox_xml_node_search(specs, "Softwares"), nullptr);
  EXPECT_EQ(ox_xml_node_search(specs, ""), nullptr);
  EXPECT_EQ(ox_xml_node_search(specs, nullptr), nullptr);

  ox_xml_node_s* top = ox_xml_get_node(document.get());
  EXPECT_STREQ(ox_xml_node_attribute_get(element(document.get(), "specs/softwares"), "n"), "1");
  EXPECT_STREQ(ox_xml_node_attribute_get(element(document.get(), "specs/softwares/software"), "n"),
               "s");
  EXPECT_STREQ(ox_xml_node_attribute_get(ox_xml_node_search_by_path(specs, "x/softwares"), "n"),
               "deep");
  for (const char* path : {"", "/", "/specs", "specs/", "specs//softwares", "softwares",
                           "specs/software", "specs/softwares/software/none"}) {
    EXPECT_EQ(ox_xml_node_search_by_path(top, path), nullptr) << '"' << path << '"';
  }
  EXPECT_EQ(ox_xml_node_search_by_path(top, nullptr), nullptr);
}

TEST(RefhostXmlTest, NullArgumentsAreAnsweredWithNull) {
  EXPECT_EQ(ox_xml_create(nullptr), OX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(ox_xml_load_from_buffer(nullptr, "<a/>", 4), OX_ERROR_INVALID_ARGUMENT);
  document_ptr document = create();
  EXPECT_EQ(ox_xml_load_from_buffer(document.get(), nullptr, 4), OX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(ox_xml_load_from_buffer(document.get(), nullptr, 0), OX_ERROR_PARSE);
  EXPECT_EQ(ox_xml_get_node(nullptr), nullptr);
  EXPECT_EQ(ox_xml_release(nullptr), OX_OK);
  EXPECT_EQ(ox_xml_node_search(nullptr, "a"), nullptr);
  EXPECT_EQ(ox_xml_node_search_by_path(nullptr, "a"), nullptr);
  EXPECT_EQ(ox_xml_node_get_first_child(nullptr), nullptr);
  EXPECT_EQ(ox_xml_node_get_next_sibling(nullptr), nullptr);
  EXPECT_EQ(ox_xml_node_get_name(nullptr), nullptr);
  EXPECT_EQ(ox_xml_node_attribute_get(nullptr, "a"), nullptr);

  ASSERT_EQ(load_exact(document.get(), "<a v=\"1\"/>"), OX_OK);
  ox_xml_node_s* a = element(document.get(), "a");
  EXPECT_EQ(ox_xml_node_attribute_get(a, nullptr), nullptr);
  EXPECT_EQ(ox_xml_node_attribute_get(ox_xml_get_node(document.get()), "v"), nullptr);
}

}  // namespace
}  // namespace ox_refhost
}  // namespace tarvik

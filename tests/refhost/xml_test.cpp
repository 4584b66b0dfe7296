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
#include "tarvik/ox_refhost/testing.hpp"

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

// Sends every load through the walk over the built tree while it lives.
class forced_tree_walk {
 public:
  forced_tree_walk() { set_xml_tree_walk_forced(true); }
  forced_tree_walk(const forced_tree_walk&) = delete;
  forced_tree_walk& operator=(const forced_tree_walk&) = delete;
  ~forced_tree_walk() { set_xml_tree_walk_forced(false); }
};

// The attribute names the tables below use; the host lists no attributes,
// so the tree is read through these.
std::vector<std::string> probed_names() {
  std::vector<std::string> names = {"a", "b", "c", "d", "v", "x", "a:c", "xmlns:a"};
  for (int i = 0; i < 40; ++i) {
    names.push_back("k" + std::to_string(i));
  }
  return names;
}

// Every element in document order with its depth, name and probed attributes.
std::string tree_text(ox_xml_s* document) {
  static const std::vector<std::string> names = probed_names();
  std::string text;
  std::vector<ox_xml_node_s*> pending = {ox_xml_node_get_first_child(ox_xml_get_node(document))};
  while (!pending.empty()) {
    ox_xml_node_s* node = pending.back();
    if (node == nullptr) {
      pending.pop_back();
      continue;
    }
    pending.back() = ox_xml_node_get_next_sibling(node);
    text += std::string(pending.size(), ' ') + ox_xml_node_get_name(node);
    for (const std::string& name : names) {
      if (const char* value = ox_xml_node_attribute_get(node, name.c_str())) {
        text += " " + name + "=[" + value + "]";
      }
    }
    text += "\n";
    pending.push_back(ox_xml_node_get_first_child(node));
  }
  return text;
}

struct outcome {
  int code;
  std::string tree;
};

outcome load_outcome(const std::string& text, bool walk_forced) {
  std::unique_ptr<forced_tree_walk> forced;
  if (walk_forced) {
    forced = std::make_unique<forced_tree_walk>();
  }
  document_ptr document = create();
  const int code = load_exact(document.get(), text);
  return {code, code == OX_OK ? tree_text(document.get()) : std::string()};
}

// Loads `text` both ways, by the scan of the raw text and by the forced walk
// over the tree: the same code and the same tree, and the code expected.
void expect_both_ways(const std::string& text, int expected) {
  const outcome scanned = load_outcome(text, false);
  const outcome walked = load_outcome(text, true);
  const std::string shown = text.size() > 120 ? text.substr(0, 120) + "..." : text;
  EXPECT_EQ(scanned.code, expected) << shown;
  EXPECT_EQ(walked.code, expected) << shown;
  EXPECT_EQ(scanned.tree, walked.tree) << shown;
}

std::string with_attributes(const std::string& element, const std::vector<std::string>& names) {
  std::string text = "<" + element;
  for (std::size_t i = 0; i < names.size(); ++i) {
    text += " " + names[i] + "=\"" + std::to_string(i) + "\"";
  }
  return text + "/>";
}

std::vector<std::string> numbered_names(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    names.push_back("k" + std::to_string(i));
  }
  return names;
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

// Documents whose markup a scan of the raw text could misread: both ways of
// checking a load must agree, on the code and on every value.
TEST(RefhostXmlTest, ScanAndTreeWalkAgreeOnTrickyDocuments) {
  const struct {
    std::string text;
    int code;
  } cases[] = {
      // Quoted values holding markup characters.
      {R"(<r a="x>y" b='/>' c="<e>" d='"' x="'"><e v="</r>"/></r>)", OX_OK},
      {R"(<r a="<!--" b="-->"><c v="<![CDATA[" x="]]>"/></r>)", OX_OK},
      {R"(<r><e a="1/"/><e a="/">text</e></r>)", OX_OK},
      // Comments, CDATA and processing instructions that look like elements.
      {"<!-- <x a='1' a='2'> --><r><!-- <e/><e/> --><![CDATA[<e a='1' a='1'>]]><?pi <e>?></r>",
       OX_OK},
      {"<?xml version=\"1.0\"?><!-- lead --><r/><!-- trail --><?pi tail?>", OX_OK},
      {"\xEF\xBB\xBF<r a=\"bom\"/>", OX_OK},
      // White space and odd names in tags.
      {"<r\n\ta = \"1\"\r\n b\t=\t'2' ></r >", OX_OK},
      {"<r xmlns:a=\"u\" a:c=\"1\" c=\"2\"/>", OX_OK},
      {"<r a:c=\"1\" a:c=\"2\"/>", OX_ERROR_PARSE},
      {"<r x.y-z_1=\"1\" x.y-z_2=\"2\"/>", OX_OK},
      {"<r \xC3\xA9=\"1\" \xC3\xA9=\"2\"/>", OX_ERROR_PARSE},
      {"<r a=\"1\" a =\"2\"/>", OX_ERROR_PARSE},
      {"<r\na='1'\nb='2'\na='3'/>", OX_ERROR_PARSE},
      // An element name may equal an attribute's; names repeat across elements.
      {"<a a=\"1\"><b a=\"2\" b=\"3\"/><b a=\"4\"/></a>", OX_OK},
      // Broken start tags the parser refuses.
      {"<r a='1'b='2'/>", OX_ERROR_PARSE},
      {"<r / >", OX_ERROR_PARSE},
      {"<r/ >", OX_ERROR_PARSE},
      {"<r a='1' / >", OX_ERROR_PARSE},
      {"<r a=\"1/>", OX_ERROR_PARSE},
      // Text and markup outside the document element.
      {"<r/>tail text", OX_OK},
      {"<r/>text<s/>", OX_ERROR_PARSE},
      {"<r/><!-- between --><r/>", OX_ERROR_PARSE},
      {"<r/><?pi?><s a='1' a='2'/>", OX_ERROR_PARSE},
      {"<r a='1' a='2'/><s/>", OX_ERROR_PARSE},
      // References: expanded, or a parse error when they name no character.
      {"<r><a v='&amp;'/><b v='x'/><c v='&#x41;&lt;'/><d v='&foo;'/></r>", OX_OK},
      {"<r><a v='1'/><b v='2'/><c v='&#xD800;'/></r>", OX_ERROR_PARSE},
      {"<r><a v='&#0;'/></r>", OX_ERROR_PARSE},
      {"<r><a>&#0;</a></r>", OX_ERROR_PARSE},
      {"<r><a>&lt;&#65;</a></r>", OX_OK},
      {"<r><!-- &#0; --><![CDATA[&#0;]]><?pi &#0;?></r>", OX_OK},
      {"<r/>&#0;", OX_OK},  // text outside the document element is dropped
      {"&#0;<r/>", OX_OK},
      {"<r a='&amp;' a='&amp;'/>", OX_ERROR_PARSE},
      {"<r v='&#0;'/><s/>", OX_ERROR_PARSE},
      // Declarations the scan reads differently from the parser: the walk
      // decides.
      {"<!DOCTYPE r [><r/><r/>", OX_ERROR_PARSE},
      {"<!DOCTYPE r [><r a='1' a='2'/>", OX_ERROR_PARSE},
      {"<!DOCTYPE r?%[>] <r/><r/>", OX_ERROR_PARSE},
      {"<!DOCTYPE r [><r a='&lt;'/>", OX_OK},
      {"<!DOCTYPE r [><r a='&#0;'/>", OX_ERROR_PARSE},
      {"<!DOCTYPE r [>" + nested(kMaxXmlElementDepth + 1), OX_ERROR_LIMIT_EXCEEDED},
      {"<!DOCTYPE r [>" + nested(kMaxXmlElementDepth), OX_OK},
      {"<!DOCTYPE r [<!ENTITY x '<r a=\"1\" a=\"2\">'> <!-- ]> --> ]><r a='&x;'/>", OX_OK},
      {"<!DOCTYPE r [ <!-- ]> --> ]><r/><r/>", OX_ERROR_PARSE},
      {"<r/><!DOCTYPE r>", OX_OK},
      {"<r><!DOCTYPE r></r>", OX_ERROR_PARSE},
  };
  for (const auto& c : cases) {
    expect_both_ways(c.text, c.code);
  }
}

// Pairwise below sixteen names, through a hash set from there on: a repeat
// is found wherever it sits.
TEST(RefhostXmlTest, RepeatedAttributeAmongManyIsFoundBothWays) {
  for (const int count : {2, 3, 15, 16, 17, 33}) {
    const std::vector<std::string> distinct = numbered_names(count);
    expect_both_ways(with_attributes("r", distinct), OX_OK);
    for (const int first : {0, count / 2, count - 2}) {
      for (const int second : {first + 1, count - 1}) {
        if (second <= first || second >= count) {
          continue;
        }
        std::vector<std::string> names = distinct;
        names[static_cast<std::size_t>(second)] = names[static_cast<std::size_t>(first)];
        expect_both_ways(with_attributes("r", names), OX_ERROR_PARSE);
        // The same element deeper in the document, after a clean one.
        expect_both_ways(
            "<s>" + with_attributes("r", distinct) + with_attributes("r", names) + "</s>",
            OX_ERROR_PARSE);
      }
    }
  }
  // Names of one length and first byte that differ later, and prefixes.
  expect_both_ways(with_attributes("r", {"name1", "name2", "nam", "name", "name12", "name21"}),
                   OX_OK);
  std::vector<std::string> many = numbered_names(20);
  many.push_back("k1");
  expect_both_ways(with_attributes("r", many), OX_ERROR_PARSE);
}

// The depth limit is decided before the parser runs, so it wins over what
// the parser or the walk would refuse later; broken UTF-8 anywhere wins over
// the depth.
TEST(RefhostXmlTest, DepthFailureComesBeforeLaterChecks) {
  expect_both_ways(nested(kMaxXmlElementDepth), OX_OK);
  expect_both_ways(nested(kMaxXmlElementDepth + 1), OX_ERROR_LIMIT_EXCEEDED);
  expect_both_ways(nested(kMaxXmlElementDepth - 1, "<l a='1' a='2'/>"), OX_ERROR_PARSE);
  expect_both_ways(nested(kMaxXmlElementDepth, "<l/>"), OX_ERROR_LIMIT_EXCEEDED);
  expect_both_ways("<a x='1' x='2'>" + nested(kMaxXmlElementDepth) + "</a>",
                   OX_ERROR_LIMIT_EXCEEDED);
  expect_both_ways("<a/><b/>" + nested(kMaxXmlElementDepth + 1), OX_ERROR_LIMIT_EXCEEDED);
  expect_both_ways("<a/><b/>" + nested(kMaxXmlElementDepth), OX_ERROR_PARSE);
  expect_both_ways(nested(kMaxXmlElementDepth + 1) + "<<<", OX_ERROR_LIMIT_EXCEEDED);
  expect_both_ways(nested(kMaxXmlElementDepth + 1, "&#0;"), OX_ERROR_LIMIT_EXCEEDED);
  expect_both_ways(nested(kMaxXmlElementDepth + 1) + "\xFF", OX_ERROR_PARSE);
  // Empty elements at the limit do not nest further.
  std::string siblings;
  for (int i = 0; i < 1000; ++i) {
    siblings += "<l/>";
  }
  expect_both_ways(nested(kMaxXmlElementDepth - 1, siblings), OX_OK);
}

TEST(RefhostXmlTest, OnlyOneDocumentElement) {
  expect_both_ways("<r/>", OX_OK);
  expect_both_ways("<!-- a --><?pi?>\n<r><s/><s/></r>\n<!-- b -->", OX_OK);
  for (const char* text : {"<r/><r/>", "<r></r><s/>", "<r/>\n<s></s>", "<r/><s a='1'/>"}) {
    expect_both_ways(text, OX_ERROR_PARSE);
  }
}

// The scan places every "&": the values of the elements holding one are
// expanded, the others are left as the parser read them.
TEST(RefhostXmlTest, ReferencesAreExpandedWhereverTheyAre) {
  std::string text = "<r>";
  for (int i = 0; i < 50; ++i) {
    text += "<e v=\"" + std::to_string(i) + (i % 7 == 3 ? "&amp;&#x41;" : "") + "\" x=\"\t\"/>";
  }
  text += "<e v=\"last\">a &lt; b</e></r>";
  expect_both_ways(text, OX_OK);
  document_ptr document = create();
  ASSERT_EQ(load_exact(document.get(), text), OX_OK);
  std::vector<std::string> values;
  for (ox_xml_node_s* e = ox_xml_node_get_first_child(element(document.get(), "r")); e != nullptr;
       e = ox_xml_node_get_next_sibling(e)) {
    values.emplace_back(ox_xml_node_attribute_get(e, "v"));
  }
  ASSERT_EQ(values.size(), 51u);
  EXPECT_EQ(values[2], "2");
  EXPECT_EQ(values[3], "3&A");
  EXPECT_EQ(values[10], "10&A");
  EXPECT_EQ(values[11], "11");
  EXPECT_EQ(values[50], "last");

  // A bad reference in the last element, or in text, still fails the load.
  expect_both_ways(text.substr(0, text.size() - 4) + "<e v='&#x110000;'/></r>", OX_ERROR_PARSE);
  expect_both_ways(text.substr(0, text.size() - 4) + "<e>&#xDFFF;</e></r>", OX_ERROR_PARSE);
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

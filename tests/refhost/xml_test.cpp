// The reference host's XML library: the document table
// (tests/refhost/data/xml.txt), each document loaded both by the scan of its
// raw text and by the forced walk over the built tree, and searched; then
// what only code reaches: generated attribute lists, the size limit, reloads
// and null arguments. Run under AddressSanitizer, the exact-size buffers also
// prove that nothing past the given bytes is read.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/table.hpp"
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
  return document_ptr(raw);
}

// Loads from a heap copy of exactly text.size() bytes: no NUL after them.
int load_exact(ox_xml_s* document, const std::string& text) {
  std::unique_ptr<char[]> buffer(new char[text.size() == 0 ? 1 : text.size()]);
  std::memcpy(buffer.get(), text.data(), text.size());
  return ox_xml_load_from_buffer(document, buffer.get(), text.size());
}

ox_xml_node_s* element(ox_xml_s* document, const char* path) {
  return ox_xml_node_search_by_path(ox_xml_get_node(document), path);
}

// Every element in document order: its depth in blanks, its name and the
// probed attributes that it has (the host lists no attributes).
std::string tree_text(ox_xml_s* document) {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> probed = {"a", "b", "c", "d", "v", "x", "a:c", "xmlns:a", "bomb"};
    for (int i = 0; i < 40; ++i) {
      probed.push_back("k" + std::to_string(i));
    }
    return probed;
  }();
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
  std::string root_value;  // of the attribute asked for
};

outcome load(const std::string& text, bool walk_forced, const std::string& attribute = "") {
  set_xml_tree_walk_forced(walk_forced);
  document_ptr document = create();
  const int code = load_exact(document.get(), text);
  set_xml_tree_walk_forced(false);
  if (code != OX_OK) {
    EXPECT_EQ(ox_xml_get_node(document.get()), nullptr) << "a failed load leaves a tree";
    return {code, "", ""};
  }
  const char* value = ox_xml_node_attribute_get(
      ox_xml_node_get_first_child(ox_xml_get_node(document.get())), attribute.c_str());
  return {code, tree_text(document.get()), value == nullptr ? "(absent)" : value};
}

// Both ways: the same code, tree and value; returns the scan's.
outcome load_both_ways(const std::string& text, const std::string& attribute = "") {
  const outcome scanned = load(text, false, attribute);
  const outcome walked = load(text, true, attribute);
  const std::string shown = text.size() > 120 ? text.substr(0, 120) + "..." : text;
  EXPECT_EQ(scanned.code, walked.code) << shown;
  EXPECT_EQ(scanned.tree, walked.tree) << shown;
  EXPECT_EQ(scanned.root_value, walked.root_value) << shown;
  return scanned;
}

TEST(RefhostXmlTest, DocumentTable) {
  const ox_test::table_names names = {{"depth", static_cast<long>(kMaxXmlElementDepth)}};
  for (const ox_test::table_row& row : ox_test::read_table("refhost/data/xml.txt", names)) {
    SCOPED_TRACE(row.where);
    const std::string& op = row.at(0);
    if (op == "load") {
      const int expected = row.at(1) == "ok"      ? OX_OK
                           : row.at(1) == "parse" ? OX_ERROR_PARSE
                                                  : OX_ERROR_LIMIT_EXCEEDED;
      for (std::size_t i = 2; i < row.fields.size(); ++i) {
        EXPECT_EQ(load_both_ways(row.fields[i]).code, expected) << "document " << i - 1;
      }
    } else if (op == "value") {
      EXPECT_EQ(load_both_ways(row.at(1), row.at(2)).root_value, row.at(3));
    } else if (op == "tree") {
      EXPECT_EQ(load_both_ways(row.at(1)).tree, row.at(2));
    } else if (op == "search" || op == "path") {
      document_ptr document = create();
      ASSERT_EQ(load_exact(document.get(), row.at(1)), OX_OK);
      ox_xml_node_s* top = ox_xml_get_node(document.get());
      const char* value = ox_xml_node_attribute_get(
          op == "path" ? ox_xml_node_search_by_path(top, row.at(2).c_str())
                       : ox_xml_node_search(ox_xml_node_get_first_child(top), row.at(2).c_str()),
          "n");
      EXPECT_EQ(value != nullptr ? value : "(none)", row.at(3));
    } else {
      ADD_FAILURE() << "unknown row " << op;
    }
  }
}

std::string with_attributes(const std::vector<std::string>& names) {
  std::string text = "<r";
  for (std::size_t i = 0; i < names.size(); ++i) {
    text += " " + names[i] + "=\"" + std::to_string(i) + "\"";
  }
  return text + "/>";
}

// Pairwise below sixteen names, through a hash set from there on: a repeat
// is found wherever it sits, also in an element after a clean one.
TEST(RefhostXmlTest, RepeatedAttributeAmongManyIsFoundBothWays) {
  for (const int count : {2, 3, 15, 16, 17, 33, 100}) {
    std::vector<std::string> distinct;
    for (int i = 0; i < count; ++i) {
      distinct.push_back("k" + std::to_string(i));
    }
    EXPECT_EQ(load_both_ways(with_attributes(distinct)).code, OX_OK) << count;
    for (const int first : {0, count / 2, count - 2}) {
      for (const int second : {first + 1, count - 1}) {
        if (second <= first || second >= count) {
          continue;
        }
        std::vector<std::string> names = distinct;
        names[static_cast<std::size_t>(second)] = names[static_cast<std::size_t>(first)];
        const std::string repeated = with_attributes(names);
        EXPECT_EQ(load_both_ways(repeated).code, OX_ERROR_PARSE) << count << " " << second;
        EXPECT_EQ(load_both_ways("<s>" + with_attributes(distinct) + repeated + "</s>").code,
                  OX_ERROR_PARSE);
      }
    }
  }
  const std::string prefixes = with_attributes({"name1", "name2", "nam", "name", "name12"});
  EXPECT_EQ(load_both_ways(prefixes).code, OX_OK);
}

TEST(RefhostXmlTest, SizeIsLimitedBeforeParsing) {
  std::string big = "<a>";
  big.resize(kMaxXmlBufferBytes + 1 - 4, ' ');
  big += "</a>";
  document_ptr document = create();
  EXPECT_EQ(ox_xml_load_from_buffer(document.get(), big.data(), big.size()),
            OX_ERROR_LIMIT_EXCEEDED);
  // The size given counts, not the bytes behind it.
  EXPECT_EQ(ox_xml_load_from_buffer(document.get(), big.data(), 3), OX_ERROR_PARSE);
  big.resize(kMaxXmlBufferBytes - 4);
  EXPECT_EQ(load_exact(document.get(), big + "</a>"), OX_OK);
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
  EXPECT_STREQ(ox_xml_node_get_name(ox_xml_get_node(document.get())), "");
  EXPECT_EQ(ox_xml_node_get_next_sibling(ox_xml_get_node(document.get())), nullptr);
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
  EXPECT_EQ(ox_xml_node_search(element(document.get(), "a"), nullptr), nullptr);
  EXPECT_EQ(ox_xml_node_search_by_path(ox_xml_get_node(document.get()), nullptr), nullptr);
  EXPECT_EQ(ox_xml_node_attribute_get(element(document.get(), "a"), nullptr), nullptr);
  EXPECT_EQ(ox_xml_node_attribute_get(ox_xml_get_node(document.get()), "v"), nullptr);
}

}  // namespace
}  // namespace ox_refhost
}  // namespace tarvik

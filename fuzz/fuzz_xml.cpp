// The reference host's XML load of the raw input, checked both ways: through
// the scan of the raw text, and through the walk over the built tree that a
// test hook forces for every load. Both give the same code and, after a
// successful load, the same tree: the same elements in the same order, with
// the same values for every name the input could use as an attribute.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "tarvik/ox/host/ox_xml.h"
#include "tarvik/ox_refhost/testing.hpp"

namespace {

using tarvik::ox_fuzz::require;

// Reading every element against every name is quadratic: enough of both to
// cover what the fuzzer writes, few enough to keep it fast.
constexpr std::size_t kMaxNames = 64;
constexpr std::size_t kMaxElements = 2000;

bool is_name_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == ':' || c == '-' || c == '.' || c >= 0x80;
}

// Every run of name bytes in the input: a superset of its attribute names.
std::set<std::string> candidate_names(const std::string& text) {
  std::set<std::string> names;
  std::size_t i = 0;
  while (i < text.size() && names.size() < kMaxNames) {
    if (!is_name_byte(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && is_name_byte(static_cast<unsigned char>(text[i]))) {
      ++i;
    }
    names.insert(text.substr(start, i - start));
  }
  return names;
}

std::string tree_text(ox_xml_s* document, const std::set<std::string>& names) {
  std::string text;
  std::size_t elements = 0;
  std::vector<ox_xml_node_s*> pending = {ox_xml_node_get_first_child(ox_xml_get_node(document))};
  while (!pending.empty() && elements < kMaxElements) {
    ox_xml_node_s* node = pending.back();
    if (node == nullptr) {
      pending.pop_back();
      text += ")";
      continue;
    }
    ++elements;
    pending.back() = ox_xml_node_get_next_sibling(node);
    text += "(";
    text += ox_xml_node_get_name(node);
    for (const std::string& name : names) {
      if (const char* value = ox_xml_node_attribute_get(node, name.c_str())) {
        text += " " + name + "=" + std::to_string(std::string_view(value).size()) + ":" + value;
      }
    }
    pending.push_back(ox_xml_node_get_first_child(node));
  }
  return text;
}

struct outcome {
  int code = OX_ERROR_UNEXPECTED;
  std::string tree;
};

outcome load(const std::vector<char>& buffer, const std::set<std::string>& names,
             bool walk_forced) {
  ox_xml_s* document = nullptr;
  require(ox_xml_create(&document) == OX_OK, "a document is created");
  tarvik::ox_refhost::set_xml_tree_walk_forced(walk_forced);
  outcome result;
  result.code = ox_xml_load_from_buffer(document, buffer.data(), buffer.size());
  tarvik::ox_refhost::set_xml_tree_walk_forced(false);
  if (result.code == OX_OK) {
    require(ox_xml_get_node(document) != nullptr, "a loaded document has a tree");
    result.tree = tree_text(document, names);
  } else {
    require(ox_xml_get_node(document) == nullptr, "a failed load leaves no tree");
  }
  ox_xml_release(document);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact copy, so that the sanitizers see any read past the given size.
  const std::vector<char> buffer(data, data + size);
  const std::set<std::string> names = candidate_names(tarvik::ox_fuzz::as_text(data, size));

  const outcome scanned = load(buffer, names, false);
  require(scanned.code == OX_OK || scanned.code == OX_ERROR_PARSE ||
              scanned.code == OX_ERROR_LIMIT_EXCEEDED,
          "a load succeeds or fails with a parse or limit code");
  const outcome walked = load(buffer, names, true);
  require(walked.code == scanned.code, "the scan and the tree walk give the same code");
  require(walked.tree == scanned.tree, "the scan and the tree walk leave the same tree");
  return 0;
}

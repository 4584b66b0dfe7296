// The reference host's XML library, on pugixml.
//
// The document comes from outside the process, so a load is guarded before
// pugixml sees the text and checked after it has built the tree:
//  - the buffer is bounded in size and must be UTF-8 without NUL bytes
//    (pugixml would stop at a NUL and silently drop the rest of the text);
//  - one scan of the raw text bounds the nesting depth before pugixml runs,
//    and reads what pugixml lets through but XML forbids and that would make
//    a lookup ambiguous: a second document element, a repeated attribute.
//    Either fails the load once pugixml has accepted the text;
//  - pugixml runs without its own reference expansion; we expand the five
//    predefined entities and character references ourselves, at the elements
//    the scan found holding a "&", so that a reference to no character (a
//    surrogate, a value past U+10FFFF, U+0000) fails the load instead of
//    putting broken UTF-8 or a truncating NUL into a value. Any other entity
//    stays as written: a DOCTYPE is skipped, never expanded, and nothing
//    outside the buffer is ever read;
//  - the scan reads a declaration (DOCTYPE) only approximately, so a text
//    with one is checked by a walk over the whole built tree instead, which
//    finds the same failures with the same codes. A test hook
//    (set_xml_tree_walk_forced) sends every load through that walk, so that
//    tests and fuzzers can compare the two.
// Node handles are pugixml's node pointers; the child walk yields elements
// only, so every node the callers meet has a name.
//
// The pieces of a load each have a file (xml_internal.hpp); this one is the
// C interface and the order of the checks.
#include "tarvik/ox_refhost/xml.hpp"

#include <pugixml.hpp>

#include <cstddef>
#include <new>
#include <string>
#include <string_view>

#include "tarvik/ox/host/ox_xml.h"
#include "tarvik/ox_refhost/limits.hpp"
#include "tarvik/ox_refhost/testing.hpp"
#include "xml_internal.hpp"

struct ox_xml_s {
  pugi::xml_document doc;
  // False until a load succeeds, and again after a failed one.
  bool loaded = false;
};

namespace {

pugi::xml_node from_handle(ox_xml_node_s* handle) {
  return pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(handle));
}

ox_xml_node_s* to_handle(pugi::xml_node node) {
  return reinterpret_cast<ox_xml_node_s*>(node.internal_object());
}

pugi::xml_node first_element(pugi::xml_node node) {
  while (node && node.type() != pugi::node_element) {
    node = node.next_sibling();
  }
  return node;
}

pugi::xml_node child_element(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_node child = first_element(node.first_child()); child;
       child = first_element(child.next_sibling())) {
    if (name == child.name()) {
      return child;
    }
  }
  return pugi::xml_node();
}

}  // namespace

namespace tarvik {
namespace ox_refhost {

namespace {

// No parse_escapes: the tree check expands references itself, with checks.
constexpr unsigned kParseOptions = pugi::parse_wconv_attribute | pugi::parse_eol;

int load(pugi::xml_document& document, const char* buffer, std::size_t size) {
  using namespace xml_internal;
  if (size > kMaxXmlBufferBytes) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  if (!is_utf8_without_nul(reinterpret_cast<const unsigned char*>(buffer), size)) {
    return OX_ERROR_PARSE;
  }
  repeated_name_finder names;
  const raw_findings found = scan_raw_text(buffer, size, kMaxXmlElementDepth, names);
  if (found.too_deep) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  const pugi::xml_parse_result result =
      document.load_buffer(buffer, size, kParseOptions, pugi::encoding_utf8);
  if (result.status == pugi::status_out_of_memory) {
    return OX_ERROR_OUT_OF_MEMORY;
  }
  if (!result || !document.document_element()) {
    return OX_ERROR_PARSE;
  }
  // Text the parser accepts is read whole; a declaration may mislead the
  // scan, and then only the walk over the built tree can tell.
  if (!found.read_whole_text || found.declaration || xml_tree_walk_forced()) {
    return check_tree(document, names, nullptr);
  }
  // Any failure the walk could still find is a parse error, whatever its place.
  if (found.repeated_attribute || found.document_elements > 1) {
    return OX_ERROR_PARSE;
  }
  if (found.elements_with_references.empty() && !found.text_references) {
    return OX_OK;
  }
  return check_tree(document, names, &found);
}

}  // namespace

unsigned xml_parse_options() {
  return kParseOptions;
}

int load_xml_document(pugi::xml_document& document, const char* buffer, std::size_t size) {
  document.reset();
  if (buffer == nullptr && size > 0) {
    return OX_ERROR_INVALID_ARGUMENT;
  }
  int status = OX_ERROR_UNEXPECTED;
  try {
    status = load(document, buffer == nullptr ? "" : buffer, size);
  } catch (const std::bad_alloc&) {
    status = OX_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    status = OX_ERROR_UNEXPECTED;
  }
  if (status != OX_OK) {
    // pugixml keeps what it built before the error; none of it may be seen.
    document.reset();
  }
  return status;
}

}  // namespace ox_refhost
}  // namespace tarvik

extern "C" {

int ox_xml_create(ox_xml_s** document) {
  if (document == nullptr) {
    return OX_ERROR_INVALID_ARGUMENT;
  }
  *document = new (std::nothrow) ox_xml_s;
  return *document == nullptr ? OX_ERROR_OUT_OF_MEMORY : OX_OK;
}

int ox_xml_load_from_buffer(ox_xml_s* document, const char* buffer, size_t size) {
  if (document == nullptr || (buffer == nullptr && size > 0)) {
    return OX_ERROR_INVALID_ARGUMENT;
  }
  document->loaded = false;
  const int status = tarvik::ox_refhost::load_xml_document(document->doc, buffer, size);
  if (status != OX_OK) {
    return status;
  }
  document->loaded = true;
  return OX_OK;
}

ox_xml_node_s* ox_xml_get_node(ox_xml_s* document) {
  if (document == nullptr || !document->loaded) {
    return nullptr;
  }
  return to_handle(document->doc);
}

int ox_xml_release(ox_xml_s* document) {
  delete document;
  return OX_OK;
}

ox_xml_node_s* ox_xml_node_search(ox_xml_node_s* node, const char* name) {
  if (node == nullptr || name == nullptr) {
    return nullptr;
  }
  return to_handle(child_element(from_handle(node), name));
}

ox_xml_node_s* ox_xml_node_search_by_path(ox_xml_node_s* node, const char* path) {
  if (node == nullptr || path == nullptr) {
    return nullptr;
  }
  pugi::xml_node current = from_handle(node);
  std::string_view rest(path);
  for (;;) {
    const std::size_t slash = rest.find('/');
    const std::string_view step = rest.substr(0, slash);
    // An empty step ("", "a//b", "/a", "a/") names no element.
    if (step.empty()) {
      return nullptr;
    }
    current = child_element(current, step);
    if (!current) {
      return nullptr;
    }
    if (slash == std::string_view::npos) {
      return to_handle(current);
    }
    rest.remove_prefix(slash + 1);
  }
}

ox_xml_node_s* ox_xml_node_get_first_child(ox_xml_node_s* node) {
  if (node == nullptr) {
    return nullptr;
  }
  return to_handle(first_element(from_handle(node).first_child()));
}

ox_xml_node_s* ox_xml_node_get_next_sibling(ox_xml_node_s* node) {
  if (node == nullptr) {
    return nullptr;
  }
  return to_handle(first_element(from_handle(node).next_sibling()));
}

const char* ox_xml_node_get_name(ox_xml_node_s* node) {
  if (node == nullptr) {
    return nullptr;
  }
  return from_handle(node).name();
}

const char* ox_xml_node_attribute_get(ox_xml_node_s* node, const char* name) {
  if (node == nullptr || name == nullptr) {
    return nullptr;
  }
  const pugi::xml_attribute attribute = from_handle(node).attribute(name);
  return attribute ? attribute.value() : nullptr;
}

}  // extern "C"

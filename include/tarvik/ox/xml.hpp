// Thin wrappers over the host XML library. An oxxml owns one parsed document;
// xml_node wraps one of its nodes without owning it and must not outlive the
// oxxml that produced it. Node-returning operations never return an empty
// shared pointer: a missing node is an xml_node whose get() is null.
// Threads: a document and its nodes belong to one thread at a time; separate
// documents are independent.
#ifndef TARVIK_OX_XML_HPP_
#define TARVIK_OX_XML_HPP_

#include <cstddef>
#include <memory>

#include "tarvik/ox/host/ox_xml.h"

namespace tarvik {
namespace ox {

class xml_node {
 public:
  explicit xml_node(ox_xml_node_s* host_node) : node(host_node) {}

  ox_xml_node_s* get() const { return node; }
  std::shared_ptr<xml_node> find(const char* name);
  std::shared_ptr<xml_node> search_by_path(const char* path);
  std::shared_ptr<xml_node> get_first_child();
  std::shared_ptr<xml_node> get_next_sibling();
  // Borrowed from the document.
  const char* get_name();
  // Borrowed from the document; null when absent or for a null node.
  const char* attribute_get(const char* name);

 private:
  ox_xml_node_s* node;
};

class oxxml {
 public:
  oxxml() = default;
  oxxml(const oxxml&) = delete;
  oxxml& operator=(const oxxml&) = delete;
  // Releases the document (also when none is held).
  ~oxxml();

  // Builds the document from the first `size` bytes of `buffer`. Throws
  // pm_exception with the host's code when the host cannot create or load it;
  // no document is held afterwards.
  void parse(const char* buffer, std::size_t size);
  std::shared_ptr<xml_node> root();

 private:
  ox_xml_s* document = nullptr;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_XML_HPP_

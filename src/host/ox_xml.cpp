// The wrappers pass the stored handle and the host's answer through
// unchanged, null included: a missing node is told by get() being null, and
// deciding what is required is the parsers' business.
#include "tarvik/ox/xml.hpp"

#include "core/failure.hpp"
#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {
namespace {

std::shared_ptr<xml_node> wrap(ox_xml_node_s* host_node) {
  return internal::only_pm_exception(
      [&] { return std::shared_ptr<xml_node>(new xml_node(host_node)); });
}

}  // namespace

std::shared_ptr<xml_node> xml_node::find(const char* name) {
  return wrap(ox_xml_node_search(node, name));
}

std::shared_ptr<xml_node> xml_node::search_by_path(const char* path) {
  return wrap(ox_xml_node_search_by_path(node, path));
}

std::shared_ptr<xml_node> xml_node::get_first_child() {
  return wrap(ox_xml_node_get_first_child(node));
}

std::shared_ptr<xml_node> xml_node::get_next_sibling() {
  return wrap(ox_xml_node_get_next_sibling(node));
}

const char* xml_node::get_name() {
  return ox_xml_node_get_name(node);
}

const char* xml_node::attribute_get(const char* name) {
  return ox_xml_node_attribute_get(node, name);
}

oxxml::~oxxml() {
  ox_xml_release(document);
}

void oxxml::parse(const char* buffer, std::size_t size) {
  // A second parse on the same object must not leak the first document.
  if (document != nullptr) {
    ox_xml_release(document);
    document = nullptr;
  }
  int code = ox_xml_create(&document);
  if (code == OX_OK) {
    code = ox_xml_load_from_buffer(document, buffer, size);
  }
  if (code == OX_OK) {
    return;
  }
  ox_xml_release(document);
  document = nullptr;
  throw pm_exception(static_cast<ox_error_e>(code));
}

std::shared_ptr<xml_node> oxxml::root() {
  return wrap(ox_xml_get_node(document));
}

}  // namespace ox
}  // namespace tarvik

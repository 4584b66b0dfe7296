// The walk over the tree pugixml built (xml_internal.hpp).
#include <cstddef>
#include <cstring>
#include <string>

#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox_refhost/limits.hpp"
#include "xml_internal.hpp"

namespace {

using tarvik::ox_refhost::kMaxXmlElementDepth;
using tarvik::ox_refhost::xml_internal::expand_references;
using tarvik::ox_refhost::xml_internal::raw_findings;
using tarvik::ox_refhost::xml_internal::repeated_name_finder;

// Checks the built tree and expands the references of its values. Walks the
// tree in document order without recursion, so depth costs no stack.
class tree_check {
 public:
  // Checks everything.
  explicit tree_check(repeated_name_finder& names) : names_(names) {}

  // Only expands the references `targets` located: the scan has settled
  // everything else, and the text has no declaration.
  tree_check(repeated_name_finder& names, const raw_findings& targets)
      : names_(names), targets_(&targets) {}

  int run(pugi::xml_document& doc) {
    std::size_t depth = 1;  // of the nodes directly below the document
    pugi::xml_node node = doc.first_child();
    while (node) {
      if (!visit(node, depth)) {
        return status_;
      }
      if (targets_ != nullptr && !targets_->text_references &&
          next_target_ == targets_->elements_with_references.size()) {
        return OX_OK;
      }
      pugi::xml_node child = node.first_child();
      if (child) {
        node = child;
        ++depth;
        continue;
      }
      while (node && !node.next_sibling()) {
        node = node.parent();
        --depth;
        if (depth == 0) {
          return OX_OK;
        }
      }
      node = node.next_sibling();
    }
    return OX_OK;
  }

 private:
  bool visit(pugi::xml_node node, std::size_t element_depth) {
    const pugi::xml_node_type type = node.type();
    if (type == pugi::node_pcdata) {
      if (targets_ != nullptr && !targets_->text_references) {
        return true;
      }
      // Text is never read, but it must still be a valid document.
      return accept(node.value(), nullptr);
    }
    if (type != pugi::node_element) {
      return true;
    }
    if (targets_ != nullptr) {
      const std::vector<std::size_t>& targets = targets_->elements_with_references;
      if (next_target_ == targets.size() || targets[next_target_] != elements_++) {
        return true;
      }
      ++next_target_;
      return accept_attributes(node);
    }
    if (element_depth > kMaxXmlElementDepth) {
      return fail(OX_ERROR_LIMIT_EXCEEDED);
    }
    if (element_depth == 1 && ++document_elements_ > 1) {
      return fail(OX_ERROR_PARSE);
    }
    if (has_repeated_attribute(node)) {
      return fail(OX_ERROR_PARSE);
    }
    return accept_attributes(node);
  }

  bool fail(int code) {
    status_ = code;
    return false;
  }

  bool accept_attributes(pugi::xml_node node) {
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
      if (!accept(attribute.value(), &attribute)) {
        return false;
      }
    }
    return true;
  }

  bool accept(const char* value, pugi::xml_attribute* attribute) {
    if (std::strchr(value, '&') == nullptr) {
      return true;
    }
    if (!expand_references(value, scratch_)) {
      return fail(OX_ERROR_PARSE);
    }
    if (attribute != nullptr && !attribute->set_value(scratch_.c_str())) {
      return fail(OX_ERROR_OUT_OF_MEMORY);
    }
    return true;
  }

  bool has_repeated_attribute(const pugi::xml_node& node) {
    names_.clear();
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      if (names_.add(a.name())) {
        return true;
      }
    }
    return false;
  }

  int status_ = OX_OK;
  std::size_t document_elements_ = 0;
  std::string scratch_;
  repeated_name_finder& names_;
  const raw_findings* targets_ = nullptr;
  std::size_t elements_ = 0;
  std::size_t next_target_ = 0;
};

}  // namespace

namespace tarvik {
namespace ox_refhost {
namespace xml_internal {

int check_tree(pugi::xml_document& document, repeated_name_finder& names,
               const raw_findings* targets) {
  if (targets == nullptr) {
    tree_check check(names);
    return check.run(document);
  }
  tree_check check(names, *targets);
  return check.run(document);
}

}  // namespace xml_internal
}  // namespace ox_refhost
}  // namespace tarvik

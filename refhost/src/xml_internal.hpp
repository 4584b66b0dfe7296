// The pieces of the reference host's XML load (xml.cpp), one file each:
//   xml_utf8.cpp        the UTF-8 check of the raw text (word scan)
//   xml_prescan.cpp     the one scan of the raw text before pugixml runs
//                       (word scan)
//   xml_references.cpp  the expansion of references in values
//   xml_tree_check.cpp  the walk over the built tree that checks it and
//                       expands its references
#ifndef TARVIK_OX_REFHOST_SRC_XML_INTERNAL_HPP_
#define TARVIK_OX_REFHOST_SRC_XML_INTERNAL_HPP_

#include <pugixml.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tarvik {
namespace ox_refhost {
namespace xml_internal {

// Most attribute names of one element differ in length or first byte.
inline bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.empty() || (a[0] == b[0] && a == b));
}

// Whether a name repeats among the attribute names of one element, fed one
// name at a time; the raw scan and the tree walk both decide through it. A
// few names are compared pairwise, more go through a hash set, so that an
// element with thousands of attributes still costs linear time.
class repeated_name_finder {
 public:
  void clear() {
    count_ = 0;
    if (!hashed_.empty()) {
      hashed_.clear();
    }
  }

  // True when `name` equals a name added since the last clear(). The text
  // behind every added name must outlive the next clear().
  [[gnu::always_inline]] bool add(std::string_view name) {
    if (count_ >= kPairwiseLimit) {
      return add_hashed(name);
    }
    for (std::size_t i = 0; i < count_; ++i) {
      if (same_name(names_[i], name)) {
        return true;
      }
    }
    names_[count_++] = name;
    return false;
  }

 private:
  [[gnu::noinline]] bool add_hashed(std::string_view name) {
    if (hashed_.empty()) {
      hashed_.insert(names_, names_ + count_);
    }
    return !hashed_.insert(name).second;
  }

  static constexpr std::size_t kPairwiseLimit = 16;
  std::string_view names_[kPairwiseLimit];
  std::size_t count_ = 0;
  std::unordered_set<std::string_view> hashed_;
};

// What one scan of the raw text finds.
struct raw_findings {
  // Elements nest deeper than the limit; the scan stopped there.
  bool too_deep = false;
  // The scan read the text to its end: every construct it met was closed.
  bool read_whole_text = false;
  // A "<!" that opens neither a comment nor CDATA (a DOCTYPE, or an error):
  // the scan reads declarations only approximately.
  bool declaration = false;
  // Some start tag repeats an attribute name.
  bool repeated_attribute = false;
  // Start tags at the top level.
  std::size_t document_elements = 0;
  // The start tags (numbered from 0 in document order) that hold a "&" in a
  // value, and whether text between tags holds one.
  std::vector<std::size_t> elements_with_references;
  bool text_references = false;
};

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF)
// and no NUL byte. first_invalid_utf8 gives the offset of the first byte
// that breaks it, `size` when none does.
bool is_utf8_without_nul(const unsigned char* text, std::size_t size);
std::size_t first_invalid_utf8(const unsigned char* text, std::size_t size);

// One pass over the raw text with a light tokenizer that knows comments,
// CDATA, processing instructions, declarations and quoted attribute values:
// the deepest nesting (stopping once `limit` is passed), the attribute names
// of every start tag, the top-level elements, and where the references are
// (xml_prescan.cpp says what it can be trusted with).
raw_findings scan_raw_text(const char* begin, std::size_t size, std::size_t limit,
                           repeated_name_finder& names);

// Expands the predefined entities and character references of a text as
// pugixml left it; any other "&" stays as written. False when a character
// reference is malformed or names no allowed character.
bool expand_references(const char* text, std::string& out);

// Checks the tree pugixml built and expands the references of its values;
// returns OX_OK or the load's error code. With `targets` (the scan's findings
// on a text without declaration) only the references they locate are
// expanded: the scan has settled everything else. Without, everything is
// checked.
int check_tree(pugi::xml_document& document, repeated_name_finder& names,
               const raw_findings* targets);

}  // namespace xml_internal
}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_SRC_XML_INTERNAL_HPP_

// The reference host's XML library, on pugixml.
//
// The document comes from outside the process, so a load is guarded before
// pugixml sees the text and checked after it has built the tree:
//  - the buffer is bounded in size and nesting depth, and must be UTF-8
//    without NUL bytes (pugixml would stop at a NUL and silently drop the
//    rest of the text);
//  - pugixml runs without its own reference expansion; we expand the five
//    predefined entities and character references ourselves, so that a
//    reference to no character (a surrogate, a value past U+10FFFF, U+0000)
//    fails the load instead of putting broken UTF-8 or a truncating NUL into a
//    value. Any other entity stays as written: a DOCTYPE is skipped, never
//    expanded, and nothing outside the buffer is ever read;
//  - what pugixml lets through but XML forbids and that would make a lookup
//    ambiguous (a second document element, a repeated attribute) is refused.
// Node handles are pugixml's node pointers; the child walk yields elements
// only, so every node the callers meet has a name.
#include <pugixml.hpp>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>

#include "tarvik/ox/host/ox_xml.h"
#include "tarvik/ox_refhost/limits.hpp"

struct ox_xml_s {
  pugi::xml_document doc;
  // False until a load succeeds, and again after a failed one.
  bool loaded = false;
};

namespace {

using tarvik::ox_refhost::kMaxXmlBufferBytes;
using tarvik::ox_refhost::kMaxXmlElementDepth;

// No parse_escapes: tree_check expands references itself, with checks.
constexpr unsigned kParseOptions = pugi::parse_wconv_attribute | pugi::parse_eol;

pugi::xml_node from_handle(ox_xml_node_s* handle) {
  return pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(handle));
}

ox_xml_node_s* to_handle(pugi::xml_node node) {
  return reinterpret_cast<ox_xml_node_s*>(node.internal_object());
}

bool is_continuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF)
// and no NUL byte.
bool is_utf8_without_nul(const unsigned char* text, std::size_t size) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  constexpr std::uint64_t kLowBits = 0x0101010101010101ull;
  std::size_t i = 0;
  while (i < size) {
    // Eight bytes at a time through the ASCII that makes up nearly all of a
    // catalog; the zero-byte test is exact for words without high bits.
    while (size - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, text + i, sizeof(word));
      if ((word & kHighBits) != 0) {
        break;
      }
      if (((word - kLowBits) & ~word & kHighBits) != 0) {
        return false;
      }
      i += 8;
    }
    if (i == size) {
      break;
    }
    const unsigned char c = text[i];
    if (c == 0) {
      return false;
    }
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char second_min = 0x80;
    unsigned char second_max = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) {
        second_min = 0xA0;
      } else if (c == 0xED) {
        second_max = 0x9F;
      }
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) {
        second_min = 0x90;
      } else if (c == 0xF4) {
        second_max = 0x8F;
      }
    } else {
      return false;
    }
    if (size - i < length) {
      return false;
    }
    if (text[i + 1] < second_min || text[i + 1] > second_max) {
      return false;
    }
    for (std::size_t k = 2; k < length; ++k) {
      if (!is_continuation(text[i + k])) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

// The deepest element nesting of the text, read by a light tokenizer that
// knows comments, CDATA, processing instructions, declarations and quoted
// attribute values. It only has to be exact for well-formed text; on broken
// text it may undercount, and the check on the built tree catches that (the
// parser rejects such text anyway). Stops early once `limit` is passed.
bool nesting_exceeds(std::string_view text, std::size_t limit) {
  constexpr std::size_t npos = std::string_view::npos;
  std::size_t depth = 0;
  std::size_t i = 0;
  auto skip_past = [&](std::size_t from, std::string_view end) {
    const std::size_t at = text.find(end, from);
    return at == npos ? npos : at + end.size();
  };
  while (i < text.size()) {
    const std::size_t lt = text.find('<', i);
    if (lt == npos || lt + 1 >= text.size()) {
      break;
    }
    const std::string_view rest = text.substr(lt + 1);
    if (rest.compare(0, 3, "!--") == 0) {
      i = skip_past(lt + 4, "-->");
    } else if (rest.compare(0, 8, "![CDATA[") == 0) {
      i = skip_past(lt + 9, "]]>");
    } else if (rest[0] == '?') {
      i = skip_past(lt + 2, "?>");
    } else if (rest[0] == '!') {
      // A declaration, possibly with an internal subset in brackets.
      std::size_t j = lt + 2;
      std::size_t brackets = 0;
      char quote = 0;
      i = npos;
      while (j < text.size()) {
        const char c = text[j];
        if (quote != 0) {
          quote = c == quote ? 0 : quote;
          ++j;
        } else if (text.compare(j, 4, "<!--") == 0) {
          j = skip_past(j + 4, "-->");
        } else if (text.compare(j, 2, "<?") == 0) {
          j = skip_past(j + 2, "?>");
        } else if (c == '"' || c == '\'') {
          quote = c;
          ++j;
        } else if (c == '[') {
          ++brackets;
          ++j;
        } else if (c == ']') {
          brackets -= brackets > 0 ? 1 : 0;
          ++j;
        } else if (c == '>' && brackets == 0) {
          i = j + 1;
          break;
        } else {
          ++j;
        }
      }
    } else if (rest[0] == '/') {
      depth -= depth > 0 ? 1 : 0;
      i = skip_past(lt + 2, ">");
    } else {
      // A start tag; quoted values may hold '>'. Values make up most of a
      // catalog's text, so they are skipped whole.
      std::size_t j = lt + 1;
      i = npos;
      while (j < text.size()) {
        const char c = text[j];
        if (c == '"' || c == '\'') {
          const std::size_t close = text.find(c, j + 1);
          if (close == npos) {
            break;
          }
          j = close + 1;
          continue;
        }
        if (c == '>') {
          i = j + 1;
          break;
        }
        ++j;
      }
      if (i == npos) {
        break;
      }
      const bool empty_element = text[i - 2] == '/';
      if (depth + 1 > limit) {
        return true;
      }
      if (!empty_element) {
        ++depth;
      }
    }
  }
  return false;
}

void append_utf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Reads the character reference that starts at text[0] == '&', text[1] == '#'.
// Sets *length to its length including ";" and returns its code point; false
// when it is malformed or names no character a value may hold (U+0000, a
// surrogate, anything past U+10FFFF).
bool read_character_reference(const char* text, std::size_t* length, std::uint32_t* code) {
  const bool hex = text[2] == 'x';
  const int base = hex ? 16 : 10;
  std::size_t i = hex ? 3 : 2;
  const std::size_t first_digit = i;
  std::uint32_t value = 0;
  bool too_big = false;
  for (;; ++i) {
    const int digit =
        hex ? hex_digit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) {
      break;
    }
    if (!too_big) {
      value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
      too_big = value > 0x10FFFF;
    }
  }
  if (i == first_digit || text[i] != ';' || too_big) {
    return false;
  }
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) {
    return false;
  }
  *length = i + 1;
  *code = value;
  return true;
}

// Expands the predefined entities and character references of a text as
// pugixml left it; any other "&" stays as written. False when a character
// reference is malformed or names no allowed character.
bool expand_references(const char* text, std::string& out) {
  static constexpr struct {
    const char* name;
    char value;
  } kPredefined[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
  out.clear();
  const char* p = text;
  while (*p != '\0') {
    const char* amp = std::strchr(p, '&');
    if (amp == nullptr) {
      out.append(p);
      break;
    }
    out.append(p, static_cast<std::size_t>(amp - p));
    p = amp;
    if (p[1] == '#') {
      std::size_t length = 0;
      std::uint32_t code = 0;
      if (!read_character_reference(p, &length, &code)) {
        return false;
      }
      append_utf8(out, code);
      p += length;
      continue;
    }
    bool expanded = false;
    for (const auto& entity : kPredefined) {
      const std::size_t length = std::strlen(entity.name);
      if (std::strncmp(p, entity.name, length) == 0) {
        out += entity.value;
        p += length;
        expanded = true;
        break;
      }
    }
    if (!expanded) {
      out += '&';
      ++p;
    }
  }
  return true;
}

// Checks the built tree and expands the references of its values. Walks the
// tree in document order without recursion, so depth costs no stack.
class tree_check {
 public:
  int run(pugi::xml_document& doc) {
    std::size_t depth = 1;  // of the nodes directly below the document
    pugi::xml_node node = doc.first_child();
    while (node) {
      if (!visit(node, depth)) {
        return status_;
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
      // Text is never read, but it must still be a valid document.
      return accept(node.value(), nullptr);
    }
    if (type != pugi::node_element) {
      return true;
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
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
      if (!accept(attribute.value(), &attribute)) {
        return false;
      }
    }
    return true;
  }

  bool fail(int code) {
    status_ = code;
    return false;
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
    constexpr std::size_t kPairwiseLimit = 16;
    std::size_t count = 0;
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      ++count;
    }
    if (count < 2) {
      return false;
    }
    if (count <= kPairwiseLimit) {
      for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute()) {
          if (std::strcmp(a.name(), b.name()) == 0) {
            return true;
          }
        }
      }
      return false;
    }
    names_.clear();
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      if (!names_.insert(std::string_view(a.name())).second) {
        return true;
      }
    }
    return false;
  }

  int status_ = OX_OK;
  std::size_t document_elements_ = 0;
  std::string scratch_;
  std::unordered_set<std::string_view> names_;
};

int load(ox_xml_s* document, const char* buffer, std::size_t size) {
  if (size > kMaxXmlBufferBytes) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  if (!is_utf8_without_nul(reinterpret_cast<const unsigned char*>(buffer), size)) {
    return OX_ERROR_PARSE;
  }
  if (nesting_exceeds(std::string_view(buffer, size), kMaxXmlElementDepth)) {
    return OX_ERROR_LIMIT_EXCEEDED;
  }
  const pugi::xml_parse_result result =
      document->doc.load_buffer(buffer, size, kParseOptions, pugi::encoding_utf8);
  if (result.status == pugi::status_out_of_memory) {
    return OX_ERROR_OUT_OF_MEMORY;
  }
  if (!result || !document->doc.document_element()) {
    return OX_ERROR_PARSE;
  }
  tree_check check;
  return check.run(document->doc);
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
  document->doc.reset();
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
    document->doc.reset();
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

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
#include <pugixml.hpp>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// The scans read several bytes at a time: SSE2 where the target has it,
// eight-byte words everywhere. Built with OX_REFHOST_BYTE_SCAN (the CMake
// option OX_REFHOST_WORD_SCAN=OFF) they read one byte at a time and leave
// the rest to memchr.
#if defined(__SSE2__) && !defined(OX_REFHOST_BYTE_SCAN)
#define OX_REFHOST_SSE2_SCAN 1
#include <emmintrin.h>
#endif

#include "tarvik/ox/host/ox_xml.h"
#include "tarvik/ox_refhost/limits.hpp"
#include "tarvik/ox_refhost/testing.hpp"

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

#ifdef OX_REFHOST_BYTE_SCAN
constexpr bool kWordScan = false;
#else
constexpr bool kWordScan = true;
#endif

// Eight bytes at a time: most of a catalog is ASCII in short runs.
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
constexpr std::uint64_t kLowBits = 0x0101010101010101ull;

// Eight bytes with the first one in the lowest bits, whatever the machine.
std::uint64_t load_word(const void* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof(word));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

// The high bit of the first zero byte of `word` is the lowest bit set; bytes
// after it may be flagged too. Zero when no byte is zero.
std::uint64_t zero_bytes(std::uint64_t word) {
  return (word - kLowBits) & ~word & kHighBits;
}

std::size_t first_flagged_byte(std::uint64_t flags) {
  return static_cast<std::size_t>(__builtin_ctzll(flags)) / 8;
}

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF)
// and no NUL byte.
bool is_utf8_without_nul(const unsigned char* text, std::size_t size) {
  std::size_t i = 0;
  while (i < size) {
#ifdef OX_REFHOST_SSE2_SCAN
    // Thirty-two bytes at a time while there is no high bit and no zero.
    const __m128i zero = _mm_setzero_si128();
    while (size - i >= 32) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 16));
      const __m128i special = _mm_or_si128(
          _mm_or_si128(a, b), _mm_or_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)));
      if (_mm_movemask_epi8(special) != 0) {
        break;
      }
      i += 32;
    }
#endif
    while (kWordScan && size - i >= 8) {
      const std::uint64_t word = load_word(text + i);
      if ((word & kHighBits) != 0) {
        break;
      }
      if (zero_bytes(word) != 0) {
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

// The byte classes of the raw scan inside a start tag. Name bytes are all
// those that can neither end a name nor start a value: on text the parser
// accepts, a run of them is exactly an element or attribute name (a name is
// followed by white space, "=", "/" or ">", never directly by a quote).
enum byte_class : unsigned char { kNameByte, kSpace, kQuote, kTagEnd, kOtherStop };

struct byte_classes {
  byte_class of[256];
};

constexpr byte_classes make_byte_classes() {
  byte_classes classes{};
  for (auto& c : classes.of) {
    c = kNameByte;
  }
  for (const unsigned char c : {' ', '\t', '\r', '\n'}) {
    classes.of[c] = kSpace;
  }
  classes.of[static_cast<unsigned char>('"')] = kQuote;
  classes.of[static_cast<unsigned char>('\'')] = kQuote;
  classes.of[static_cast<unsigned char>('>')] = kTagEnd;
  classes.of[static_cast<unsigned char>('/')] = kOtherStop;
  classes.of[static_cast<unsigned char>('=')] = kOtherStop;
  return classes;
}

constexpr byte_classes kByteClasses = make_byte_classes();

byte_class class_of(char c) {
  return kByteClasses.of[static_cast<unsigned char>(c)];
}

// Just past the run of name bytes that starts at `from`.
[[gnu::always_inline]] inline const char* skip_name(const char* from, const char* end) {
  const char* q = from;
  while (end - q >= 4) {
    if (class_of(q[0]) != kNameByte) {
      return q;
    }
    if (class_of(q[1]) != kNameByte) {
      return q + 1;
    }
    if (class_of(q[2]) != kNameByte) {
      return q + 2;
    }
    if (class_of(q[3]) != kNameByte) {
      return q + 3;
    }
    q += 4;
  }
  while (q < end && class_of(*q) == kNameByte) {
    ++q;
  }
  return q;
}

// Most attribute names of one element differ in length or first byte.
bool same_name(std::string_view a, std::string_view b) {
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

const char* find_byte_far(const char* from, const char* end, char c) {
  if (from >= end) {
    return nullptr;
  }
  return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
}

// The first `c` in [from, end), or null. What it looks through in a catalog
// (a value, an end tag, the line break between two tags) is mostly short:
// word by word through the first bytes, memchr past them.
[[gnu::always_inline]] inline const char* find_byte(const char* from, const char* end, char c) {
  const std::uint64_t pattern = kLowBits * static_cast<unsigned char>(c);
  for (int k = 0; kWordScan && k < 2 && end - from >= 8; ++k) {
    const std::uint64_t hits = zero_bytes(load_word(from) ^ pattern);
    if (hits != 0) {
      return from + first_flagged_byte(hits);
    }
    from += 8;
  }
  return find_byte_far(from, end, c);
}

// Just past the first `pattern` that starts at or after `from`, or null.
const char* skip_past(const char* from, const char* end, std::string_view pattern) {
  for (;;) {
    const char* at = find_byte(from, end, pattern[0]);
    if (at == nullptr || static_cast<std::size_t>(end - at) < pattern.size()) {
      return nullptr;
    }
    if (std::memcmp(at, pattern.data(), pattern.size()) == 0) {
      return at + pattern.size();
    }
    from = at + 1;
  }
}

// Just past the ">" that closes a declaration whose text starts at `from`
// (after "<!"), possibly with an internal subset in brackets; null when it
// is not closed.
const char* skip_declaration(const char* from, const char* end) {
  std::size_t brackets = 0;
  char quote = 0;
  const char* j = from;
  while (j != nullptr && j < end) {
    const char c = *j;
    const std::size_t left = static_cast<std::size_t>(end - j);
    if (quote != 0) {
      quote = c == quote ? 0 : quote;
      ++j;
    } else if (left >= 4 && std::memcmp(j, "<!--", 4) == 0) {
      j = skip_past(j + 4, end, "-->");
    } else if (left >= 2 && j[0] == '<' && j[1] == '?') {
      j = skip_past(j + 2, end, "?>");
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
      return j + 1;
    } else {
      ++j;
    }
  }
  return nullptr;
}

// One pass over the raw text with a light tokenizer that knows comments,
// CDATA, processing instructions, declarations and quoted attribute values:
// the deepest nesting (stopping once `limit` is passed), the attribute names
// of every start tag, the top-level elements, and where the references are.
//
// The nesting it finds decides the depth limit before the parser runs, on
// any text; on broken text it may be wrong, and the parser then rejects the
// text. On text the parser accepts and that holds no declaration it reads
// the same elements and attributes, in the same order, as the parser, so its
// findings are the answer the walk over the built tree would give. A
// declaration (DOCTYPE, with its internal subset) is skipped only
// approximately.
raw_findings scan_raw_text(const char* begin, std::size_t size, std::size_t limit,
                           repeated_name_finder& names) {
  raw_findings found;
  const char* const end = begin + size;
  // The next "&" not yet placed; `end` when there is none.
  const char* reference = end;
  const auto next_reference = [&](const char* from) {
    const char* const at = find_byte_far(from, end, '&');
    reference = at == nullptr ? end : at;
  };
  next_reference(begin);
  std::size_t depth = 0;
  std::size_t start_tags = 0;
  const char* p = begin;
  while (p < end) {
    // Catalog tags mostly follow one another directly.
    const char* const lt = *p == '<' ? p : find_byte(p, end, '<');
    if (lt == nullptr) {
      break;
    }
    if (end - lt < 2) {
      return found;
    }
    if (reference < lt) {
      found.text_references = true;
      next_reference(lt);
    }
    const char* const after = lt + 1;
    const std::size_t left = static_cast<std::size_t>(end - after);
    if (*after == '!') {
      if (left >= 3 && after[1] == '-' && after[2] == '-') {
        p = skip_past(lt + 4, end, "-->");
      } else if (left >= 8 && std::memcmp(after, "![CDATA[", 8) == 0) {
        p = skip_past(lt + 9, end, "]]>");
      } else {
        found.declaration = true;
        p = skip_declaration(lt + 2, end);
      }
    } else if (*after == '?') {
      p = skip_past(lt + 2, end, "?>");
    } else if (*after == '/') {
      depth -= depth > 0 ? 1 : 0;
      p = find_byte(lt + 2, end, '>');
      p = p == nullptr ? nullptr : p + 1;
    } else {
      // A start tag. Quoted values may hold '>'; they make up most of a
      // catalog's text and are skipped whole.
      const char* q = skip_name(after, end);
      names.clear();
      const char* close = nullptr;
      while (q < end) {
        const byte_class c = class_of(*q);
        if (c == kNameByte) {
          const char* const name = q;
          q = skip_name(q, end);
          if (!found.repeated_attribute &&
              names.add(std::string_view(name, static_cast<std::size_t>(q - name)))) {
            found.repeated_attribute = true;
          }
          // The usual shape, name="value", straight to the end of the value.
          if (end - q >= 2 && q[0] == '=' && class_of(q[1]) == kQuote) {
            q += 1;
          } else {
            continue;
          }
        } else if (c != kQuote) {
          if (c == kTagEnd) {
            close = q;
            break;
          }
          ++q;
          continue;
        }
        const char* const quote = find_byte(q + 1, end, *q);
        if (quote == nullptr) {
          break;
        }
        q = quote + 1;
        if (q < end && *q == ' ') {
          ++q;
        }
      }
      if (close == nullptr) {
        return found;
      }
      p = close + 1;
      if (depth + 1 > limit) {
        found.too_deep = true;
        return found;
      }
      if (depth == 0) {
        ++found.document_elements;
      }
      if (close[-1] != '/') {
        ++depth;
      }
      if (reference < p) {
        found.elements_with_references.push_back(start_tags);
        next_reference(p);
      }
      ++start_tags;
      continue;
    }
    if (p == nullptr) {
      return found;
    }
    // Comments, CDATA, processing instructions and declarations never reach
    // the tree; an end tag of accepted text holds no "&".
    if (reference < p) {
      next_reference(p);
    }
  }
  if (reference < end) {
    found.text_references = true;
  }
  found.read_whole_text = true;
  return found;
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

int load(ox_xml_s* document, const char* buffer, std::size_t size) {
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
      document->doc.load_buffer(buffer, size, kParseOptions, pugi::encoding_utf8);
  if (result.status == pugi::status_out_of_memory) {
    return OX_ERROR_OUT_OF_MEMORY;
  }
  if (!result || !document->doc.document_element()) {
    return OX_ERROR_PARSE;
  }
  // Text the parser accepts is read whole; a declaration may mislead the
  // scan, and then only the walk over the built tree can tell.
  if (!found.read_whole_text || found.declaration || tarvik::ox_refhost::xml_tree_walk_forced()) {
    tree_check check(names);
    return check.run(document->doc);
  }
  // Any failure the walk could still find is a parse error, whatever its place.
  if (found.repeated_attribute || found.document_elements > 1) {
    return OX_ERROR_PARSE;
  }
  if (found.elements_with_references.empty() && !found.text_references) {
    return OX_OK;
  }
  tree_check check(names, found);
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

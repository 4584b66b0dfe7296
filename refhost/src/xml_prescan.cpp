// The one scan of a document's raw text before pugixml runs
// (xml_internal.hpp).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "xml_internal.hpp"
#include "xml_word_scan.hpp"

namespace {

using tarvik::ox_refhost::xml_internal::raw_findings;
using tarvik::ox_refhost::xml_internal::repeated_name_finder;

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

}  // namespace

namespace tarvik {
namespace ox_refhost {
namespace xml_internal {

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

}  // namespace xml_internal
}  // namespace ox_refhost
}  // namespace tarvik

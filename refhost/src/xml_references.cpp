// The expansion of references in a document's values (xml_internal.hpp).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "tarvik/ox_refhost/xml.hpp"
#include "xml_internal.hpp"

namespace {

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
// Sets *length to its length (including ";" when the digits end with one)
// and returns its code point; false when it is malformed or names no
// character a value may hold (U+0000, a surrogate, anything past U+10FFFF).
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
  if (i == first_digit || text[i] != ';') {
    *length = i;
    return false;
  }
  *length = i + 1;
  if (too_big || value == 0 || (value >= 0xD800 && value <= 0xDFFF)) {
    return false;
  }
  *code = value;
  return true;
}

}  // namespace

namespace tarvik {
namespace ox_refhost {

std::string refused_character_reference(const char* value) {
  for (const char* amp = std::strstr(value, "&#"); amp != nullptr;
       amp = std::strstr(amp + 2, "&#")) {
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (!read_character_reference(amp, &length, &code)) {
      return std::string(amp, length);
    }
  }
  return {};
}

}  // namespace ox_refhost
}  // namespace tarvik

namespace tarvik {
namespace ox_refhost {
namespace xml_internal {

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

}  // namespace xml_internal
}  // namespace ox_refhost
}  // namespace tarvik

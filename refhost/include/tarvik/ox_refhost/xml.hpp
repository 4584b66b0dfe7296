// The reference host's reading of a catalog's bytes into a pugixml tree, the
// one behind ox_xml_load_from_buffer, for programs that walk the tree
// themselves and must read a catalog exactly as the import does (the tool's
// lint). pugixml itself is the caller's to include and link.
#ifndef TARVIK_OX_REFHOST_XML_HPP_
#define TARVIK_OX_REFHOST_XML_HPP_

#include <cstddef>
#include <string>

namespace pugi {
class xml_document;
}  // namespace pugi

namespace tarvik {
namespace ox_refhost {

// Replaces `document` with the tree of `size` bytes at `buffer` as
// ox_xml_load_from_buffer builds it: bounded in size and depth, UTF-8
// without NUL bytes, one document element, no repeated attribute, the five
// predefined entities and character references expanded (a reference to no
// character refused), any other entity left as written, a DOCTYPE never
// expanded. Returns OX_OK or the code ox_xml_load_from_buffer gives (the
// document is then empty). Throws nothing.
int load_xml_document(pugi::xml_document& document, const char* buffer, std::size_t size);

// The pugixml parse options of that load (references are left as written:
// the load expands them itself, with checks). For a program that explains
// why a text failed to load: parsed with these, the text reads as the load
// read it before its checks.
unsigned xml_parse_options();

// The offset of the first of `size` bytes at `text` that the load refuses as
// text: a NUL, or a byte that is not part of well-formed UTF-8 (no overlong
// forms, no surrogates, nothing past U+10FFFF); (std::size_t)-1 when there
// is none. Throws nothing.
std::size_t first_invalid_utf8_byte(const char* text, std::size_t size);

// The first character reference ("&#...;") in the NUL-terminated `value`
// that the load refuses (malformed, or naming U+0000, a surrogate or a code
// point past U+10FFFF), as written; empty when there is none. Throws
// std::bad_alloc only.
std::string refused_character_reference(const char* value);

}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_XML_HPP_

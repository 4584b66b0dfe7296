// Case files: one text file that reproduces one resolution (its catalogs byte
// for byte, the platform, the installed software as the store handed it to
// the library, the request) with what the tool answered (exit status, JSON,
// log lines, and optionally the text report, the graph, lint and show).
//
//   oxpm-case 1
//   # description lines
//   == settings            "key = value" lines (legacy-dependency-checks = on|off)
//   == platform            one line
//   == catalog NAME        a document's bytes; one section per document
//   == installed           [{"id": ..., "version": ...}...]
//   == request             {"install": [...], "uninstall": [...]}
//   == expect exit         one line: 0, 1, 2 or 3
//   == expect json | log | text | graph
//   == expect lint [exit=N]
//   == expect show ID [VERSION]
//
// A body is the lines between its header and the next one. A body line that
// begins with "== " or "\" is written with one "\" before it, and a body
// without final newline has " (no final newline)" after its header, so that
// every body comes back byte for byte. Sections come in the order above.
#ifndef TARVIK_OXPM_TOOLS_CASE_FILE_HPP_
#define TARVIK_OXPM_TOOLS_CASE_FILE_HPP_

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "inputs.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace oxpm {

// The first line of every case file.
inline constexpr char kCaseMagic[] = "oxpm-case 1";

struct case_section {
  std::string kind;      // "catalog", "expect json", ...
  std::string argument;  // the catalog's name, show's "ID [VERSION]", lint's "exit=N"
  std::string body;      // as the document holds it, unescaped
  std::size_t line = 0;  // of the header in the file read (0: built in memory)
};

// What one resolution starts from.
struct case_inputs {
  bool legacy_dependency_checks = false;
  std::string platform;
  std::vector<std::pair<std::string, std::string>> catalogs;  // name, bytes
  std::vector<ox_refhost::installed_application> installed;
  request asked;
};

struct case_file {
  std::string description;  // the "#" lines, each with its newline
  std::vector<case_section> sections;
  case_inputs inputs;  // read from the input sections
};

// Reads a case (the text of a file read with read_file, so at most
// kMaxInputSize bytes). Throws input_error "<source>:<line>: <reason>" for anything
// that is not a case file; the inputs are checked as the tool checks its
// other inputs.
case_file parse_case(const std::string& text, const std::string& source);

// The file's text: parse_case(write_case(c)) holds the same sections.
std::string write_case(const case_file& c);

// The input sections of `inputs`, in order (settings only when not default).
std::vector<case_section> input_sections(const case_inputs& inputs);

// The section of that kind (the first one), or null.
const case_section* find_section(const case_file& c, const std::string& kind);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_CASE_FILE_HPP_

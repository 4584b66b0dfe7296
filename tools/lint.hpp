// Tells a catalog's author everything that the import passes over in
// silence, with the line of the element: incomplete software, relation and
// "registry" elements, containers under a name the import does not read,
// version texts that hold no valid range, lose ranges or hold characters
// that are not read as numbers, softwareids patterns that do not compile or
// do not match their own sref, action texts read as "Ignore", relations
// naming an sref that no entry answers to, software that depends on itself,
// platform names that are part of others, and entries that an earlier entry
// shadows for every version. The rules are the import's and the look-ups';
// the documents are read as one import reads them, in order.
#ifndef TARVIK_OXPM_TOOLS_LINT_HPP_
#define TARVIK_OXPM_TOOLS_LINT_HPP_

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "style.hpp"

namespace tarvik {
namespace oxpm {

struct lint_document {
  std::string name;  // as given on the command line
  std::string content;
};

struct lint_finding {
  enum class severity_t { error, warning };
  std::string file;
  std::size_t line = 0;
  severity_t severity = severity_t::error;
  // A short, stable name of the kind of finding ("missing-attribute", ...).
  std::string check;
  std::string message;
  // One line that tells how to mend it.
  std::string fix;
};

struct lint_result {
  std::vector<lint_finding> findings;  // by document, then line
  std::size_t errors = 0;
  std::size_t warnings = 0;
  std::size_t entries = 0;  // software entries the import would keep
  std::size_t ignored = 0;  // findings left out by without_codes
};

// `platform` as set before the import: software elements for other
// platforms are still checked, but only the kept ones answer to relations.
lint_result lint_documents(const std::vector<lint_document>& documents,
                           const std::string& platform);

// Every code lint reports, with its severity, in the order the text report
// groups them.
struct lint_code {
  const char* code;
  lint_finding::severity_t severity;  // "shadowed" may also be a warning
  const char* fix;                    // unless the finding gives its own
};
const std::vector<lint_code>& lint_codes();

// The result without the findings of the given codes (their counts go to
// `ignored`).
lint_result without_codes(const lint_result& result, const std::vector<std::string>& codes);

// Grouped by code, errors first; each group with its fix when all its
// findings share one.
std::string render_lint_text(const lint_result& result, const style& look);
nlohmann::ordered_json lint_json(const lint_result& result);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_LINT_HPP_

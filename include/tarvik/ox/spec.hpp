// The package catalog's records: one software_spec per software
// element, with its relations, and the conflict checks a conflict carries.
// Plain values, copied out of the XML document: a record never points into it.
// A record may be read from any number of threads while none changes it.
#ifndef TARVIK_OX_SPEC_HPP_
#define TARVIK_OX_SPEC_HPP_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tarvik/ox/software.hpp"
#include "tarvik/ox/version.hpp"

namespace tarvik {
namespace ox {

// What to do when a conflict check finds a conflict.
typedef std::int32_t conflict_action;
enum : conflict_action {
  CONFLICT_ACTION_ERRORFAIL = 0,
  CONFLICT_ACTION_UNINSTALL = 1,
  CONFLICT_ACTION_IGNORE = 2,
};

enum conflict_check_type : std::int32_t {
  CONFLICT_CHECK_REGISTRY = 1,
};

// Polymorphic base of the conflict checks; the kind is told by `type`.
class conflict_check {
 public:
  explicit conflict_check(conflict_check_type check_type) : type(check_type) {}
  virtual ~conflict_check();

  const conflict_check_type type;
};

// A check against a registry value; the four texts are stored as read.
class conflict_check_registry : public conflict_check {
 public:
  conflict_check_registry() : conflict_check(CONFLICT_CHECK_REGISTRY) {}
  ~conflict_check_registry() override;

  std::string hkey;
  std::string path;
  std::string key;
  std::string match;
};

// A dependency on another software, in `versions`.
struct depend {
  std::string sref;
  version_ranges versions;
  // The "version" attribute as written.
  std::string version_text;
};

// Compatible with another software in `versions`.
struct compatible {
  std::string sref;
  version_ranges versions;
};

// A conflict check; copies share one check object.
struct conflict {
  std::string name;
  std::shared_ptr<conflict_check> check;
  conflict_action action = CONFLICT_ACTION_ERRORFAIL;
};

// One entry of the package catalog.
struct software_spec {
  std::string name;
  std::string sref;
  version_ranges versions;
  // A host regular expression; ids it matches select this entry too.
  std::string softwareids;
  std::vector<version_ranges> obsoletes;
  std::vector<software> uninstalls;
  std::vector<software> provides;
  std::vector<depend> depends;
  std::vector<compatible> compatibles;
  std::vector<conflict> conflicts;
};

// "ErrorFail" 0, "Uninstall" 1, "Ignore" and any other text 2 (exact, case
// sensitive). `text` must not be null.
conflict_action conflict_action_type(const char* text);

// Splits at every occurrence of the whole separator; empty pieces count, an
// empty text gives no piece. An empty separator yields the text as one piece
// (no piece for an empty text).
std::vector<std::string> split(std::string text, std::string separator);

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SPEC_HPP_

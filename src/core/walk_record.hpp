// What the install-order walk decided, and on what grounds, kept while a
// caller on the same thread asks for it. The tool explains a result with
// these decisions instead of working them out again, so its explanations
// cannot disagree with the walk. Not part of the public interface: nothing
// is kept, and nothing costs, unless a walk_recording is alive on the thread.
#ifndef TARVIK_OX_SRC_CORE_WALK_RECORD_HPP_
#define TARVIK_OX_SRC_CORE_WALK_RECORD_HPP_

#include <cstddef>
#include <string>
#include <vector>

#include "tarvik/ox/version.hpp"

namespace tarvik {
namespace ox {
namespace internal {

constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);

// One depends or compatibles relation of an examined entry, as the walk
// judged it. Positions are indexes in the resolved list.
struct relation_decision {
  enum class kind_t { depends, compatible };
  enum class outcome_t {
    met,            // depends: the first match that stays is in range
    missing,        // depends: nothing in the working list matches
    marked,         // depends: the matches seen are marked for removal
    wrong_version,  // depends: the first match that stays is outside the ranges
    unknown_sref,   // no catalog entry answers to the sref
    absent,         // compatible: no match that stays; passes
    in_range,       // compatible: the first match that stays is in range; passes
    out_of_range,   // compatible: the first match that stays is outside; fails
  };

  kind_t kind = kind_t::depends;
  std::string sref;
  // As written for a dependency; the ranges' text for a compatibility, whose
  // text the catalog does not keep.
  std::string version_text;
  version_ranges versions;
  // The pattern and name of the entry the sref names; empty when none does.
  std::string target_pattern;
  std::string target_name;
  outcome_t outcome = outcome_t::missing;
  // The entry that decided; for `marked`, the first match passed over.
  std::size_t candidate = kNoPosition;
  // Matches passed over because they are marked for removal, in list order.
  std::vector<std::size_t> passed_over;
  // `marked` under the legacy dependency checks: the first match decided,
  // marked as it was, and the matches after it were not looked at.
  bool first_match_decided = false;

  bool ok() const { return passes(kind, outcome); }

  // A dependency passes only when met; a compatibility fails only when out
  // of range.
  static bool passes(kind_t kind, outcome_t outcome) {
    return kind == kind_t::depends ? outcome == outcome_t::met : outcome != outcome_t::out_of_range;
  }
};

// An installed entry marked for removal, and what marked it.
struct mark_decision {
  enum class why_t {
    uninstall_request,  // `by` indexes the uninstall list
    replaced,           // `by` indexes the install list: same id or the entry's sref
    uninstalled,        // `by` indexes the install list: its uninstalls name `product`
  };
  std::size_t installed = 0;
  why_t why = why_t::uninstall_request;
  std::size_t by = 0;
  std::string product;
};

// An install entry the walk found in the catalog and examined.
struct entry_decision {
  std::size_t request = 0;  // index in the install list
  bool obsolete = false;
  // In the walk's order, depends first, up to and including the first
  // failure.
  std::vector<relation_decision> relations;
};

// Installed software that stays but loses a dependency met before the
// request: the dependency as judged after the request (`candidate`: the
// entry that answers to it, outside its ranges, or none), and the installed
// entry that met it before, now to be removed.
struct loss_decision {
  std::size_t record = 0;
  relation_decision check;
  std::size_t lost = 0;
};

struct walk_record {
  std::size_t installed_count = 0;
  std::vector<entry_decision> entries;  // in walk order
  std::vector<mark_decision> marks;     // in the order they were made
  std::vector<loss_decision> losses;    // in list order
};

// While alive, every install-order walk this thread runs writes its
// decisions into `record` (cleared at the start of each walk). Scopes nest:
// the innermost one records.
class walk_recording {
 public:
  explicit walk_recording(walk_record& record);
  ~walk_recording();
  walk_recording(const walk_recording&) = delete;
  walk_recording& operator=(const walk_recording&) = delete;

  // The record of the innermost live scope on this thread; null when none.
  static walk_record* current();

 private:
  walk_record* previous_;
};

}  // namespace internal
}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SRC_CORE_WALK_RECORD_HPP_

// What a resolved list means for the request behind it: which requested
// entries were resolved and which not (and why), why each installed software
// is removed, and for each examined install entry how its relations were
// judged. The resolved list and its findings are the library's; the reasons
// are worked out again from the catalog with the library's public
// look-ups, replaying the walk in request order.
#ifndef TARVIK_OXPM_TOOLS_ANALYSIS_HPP_
#define TARVIK_OXPM_TOOLS_ANALYSIS_HPP_

#include <cstddef>
#include <string>
#include <vector>

#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/software.hpp"
#include "tarvik/ox/spec.hpp"
#include "tarvik/ox/version.hpp"

namespace tarvik {
namespace oxpm {

enum class entry_status {
  passed,                // in the result, every check passed
  obsolete,              // in the result, its version is obsolete: the walk stopped here
  failed_dependency,     // in the result with an unmet dependency: the walk stopped here
  failed_compatibility,  // in the result with a failed compatibility: the walk stopped here
  no_spec_entry,         // left out: no catalog entry for its id and version
  not_examined,          // after the entry that stopped the walk
};

const char* status_name(entry_status status);
bool stops_walk(entry_status status);

// One depends or compatibles relation of an examined entry, as judged.
struct relation_check {
  enum class kind_t { depends, compatible };
  enum class outcome_t {
    met,            // depends: the first match is present, not marked, in range
    missing,        // depends: nothing in the working list matches
    marked,         // depends: every match is marked for removal
    wrong_version,  // depends: the first match is outside the ranges
    unknown_sref,   // no catalog entry answers to the sref
    absent,         // compatible: no unmarked match; passes
    in_range,       // compatible: the first unmarked match is in range; passes
    out_of_range,   // compatible: the first unmarked match is outside; fails
  };

  kind_t kind = kind_t::depends;
  std::string sref;
  // As written for a dependency; the ranges' text for a compatibility, whose
  // text the catalog does not keep.
  std::string version_text;
  ox::version_ranges versions;
  // The entry that the sref names (when known): its pattern decides which
  // entries of the working list are recognised.
  std::string target_pattern;
  std::string target_name;
  outcome_t outcome = outcome_t::missing;
  // Index in the resolved list of the entry that decided, -1 when none; for
  // a dependency whose every match is marked, the first of them.
  int candidate = -1;
  // Matching entries passed over because they are marked for removal.
  std::vector<int> passed_over;
  // For a relation that fails: the install-list entries (by index, in request
  // order, whatever their status) whose id the target pattern matches, so that
  // a hint can be checked against what the request already does.
  std::vector<std::size_t> requested_matches;

  bool ok() const;
};

// Why an installed software is to be removed.
struct removal {
  enum class why_t {
    uninstall_request,  // `by` indexes the uninstall list
    replaced,           // `by` indexes the install list: same id or the entry's sref
    uninstalled,        // `by` indexes the install list: its uninstalls name `product`
  };
  why_t why = why_t::uninstall_request;
  std::size_t by = 0;
  std::string product;
};

// One requested install entry.
struct entry_report {
  ox::software requested;
  entry_status status = entry_status::no_spec_entry;
  // Index in the resolved list, -1 when left out.
  int result_index = -1;
  bool has_spec = false;
  ox::software_spec spec;
  // No spec entry for the version: whether some entry answers to the id.
  bool id_known = false;
  // Indexes into spec.obsoletes of the ranges that hold the version.
  std::vector<std::size_t> obsolete_hits;
  // As the walk judged them: in document order, depends first, up to and
  // including the first failure. Empty for entries the walk did not examine,
  // and for passing entries when only the stopping entry is judged.
  std::vector<relation_check> relations;
};

// Installed software that stays but loses a dependency to the request (the
// library records it in the record's failed_dependencies).
struct broken_dependent {
  // Index in the resolved list of the installed record.
  std::size_t record = 0;
  // The dependency lost. `candidate`: the entry that answers to it after the
  // request (outside its ranges), -1 when none does.
  relation_check check;
  // The installed entry that met it before the request, now to be removed.
  std::size_t lost = 0;
};

struct analysis {
  std::size_t installed_count = 0;
  std::vector<entry_report> install;
  // Per installed entry of the resolved list (by index): why it is removed;
  // empty for software that stays.
  std::vector<std::vector<removal>> removals;
  // Uninstall-list entries that name no installed software.
  std::vector<std::size_t> uninstall_unmatched;
  // Index in the install list of the entry that stopped the walk, -1 if none.
  int stopped_at = -1;
  // In list order.
  std::vector<broken_dependent> broken;
  // False when replaying the walk did not reproduce the library's marks or
  // findings; the explanations are then incomplete.
  bool consistent = true;

  // The request can be carried out as asked.
  bool ok(bool incompatible, bool conflicted) const;
};

// Which examined entries get their relations judged (entry_report::relations).
enum class relation_scope {
  every_entry,    // for drawing every relation
  stopping_entry  // only the entry that stopped the walk: what the reports explain
};

// `resolved` is the library's result for the two lists. `literals`, the
// host's description of patterns (OX_OBJECT_REGEX_LITERALS of the context the
// catalog was imported with; may be null), narrows the entries each
// relation's pattern is tested against; the answers are the same without it.
analysis analyze(const ox::package_spec_manager& specs, const std::vector<ox::software>& uninstall,
                 const std::vector<ox::software>& install,
                 const std::vector<ox::installing_software>& resolved,
                 relation_scope scope = relation_scope::every_entry,
                 const ox_regex_literals_s* literals = nullptr);

bool same_version(const ox::version& a, const ox::version& b);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_ANALYSIS_HPP_

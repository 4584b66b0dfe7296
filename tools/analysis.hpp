// What a resolved list means for the request behind it: which requested
// entries were resolved and which not (and why), why each installed software
// is removed, and for each examined install entry how its relations were
// judged. The resolved list, its findings and the reasons are the library's:
// the reasons are the decisions its walk recorded.
#ifndef TARVIK_OXPM_TOOLS_ANALYSIS_HPP_
#define TARVIK_OXPM_TOOLS_ANALYSIS_HPP_

#include <cstddef>
#include <string>
#include <vector>

#include "core/walk_record.hpp"
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

// One depends or compatibles relation of an examined entry, as the walk
// judged it.
struct relation_check : ox::internal::relation_decision {
  // For a relation that fails: the install-list entries (by index, in request
  // order, whatever their status) whose id the target pattern matches, so that
  // a hint can be checked against what the request already does.
  std::vector<std::size_t> requested_matches;
};

using ox::internal::kNoPosition;

// A position in the resolved list as the reports hold one: -1 for none.
inline int index_of(std::size_t position) {
  return position == ox::internal::kNoPosition ? -1 : static_cast<int>(position);
}

// Why an installed software is to be removed.
struct removal {
  using why_t = ox::internal::mark_decision::why_t;
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
  // including the first failure. Empty for entries the walk did not examine.
  std::vector<relation_check> relations;
};

// Installed software that stays but loses a dependency to the request (the
// library records it in the record's failed_dependencies).
using broken_dependent = ox::internal::loss_decision;

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

  // The request can be carried out as asked.
  bool ok(bool incompatible, bool conflicted) const;
};

// `resolved` is the library's result for the two lists and `walk` what its
// walk recorded while producing it (ox::internal::walk_recording around the
// resolve call). Every examined entry's relations are as the walk judged
// them; the catalog is read only to describe the requested entries.
analysis analyze(const ox::package_spec_manager& specs, const std::vector<ox::software>& uninstall,
                 const std::vector<ox::software>& install,
                 const std::vector<ox::installing_software>& resolved,
                 const ox::internal::walk_record& walk);

bool same_version(const ox::version& a, const ox::version& b);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_ANALYSIS_HPP_

#include "tarvik/ox/software_dependency_manager.hpp"

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/failure.hpp"
#include "core/walk_record.hpp"
#include "host/log.hpp"
#include "host/regex.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"

namespace tarvik {
namespace ox {
namespace {

constexpr const char* kTag = internal::kTagDependencyManager;

const char* found_text(bool found, const char* yes, const char* no) {
  return found ? yes : no;
}

constexpr std::size_t kNoEntry = internal::kNoPosition;

using internal::mark_decision;
using internal::relation_decision;

// The record of the innermost walk_recording alive on this thread.
thread_local internal::walk_record* t_recording = nullptr;

// The walk in progress on this thread, when a recording wants it: where its
// decisions go, and the install entry being examined. Outside a walk (the
// single steps called on their own) nothing is recorded.
struct walk_in_progress {
  internal::walk_record* record = nullptr;
  internal::entry_decision* entry = nullptr;
};
thread_local walk_in_progress t_walk;

// Starts recording the walk of one check_installorder_compatibility, when a
// recording is alive, and ends it however the walk ends.
class walk_scope {
 public:
  explicit walk_scope(std::size_t installed_count) : saved_(t_walk) {
    t_walk = walk_in_progress{};
    if (t_recording != nullptr) {
      *t_recording = internal::walk_record{};
      t_recording->installed_count = installed_count;
      t_walk.record = t_recording;
    }
  }
  ~walk_scope() { t_walk = saved_; }
  walk_scope(const walk_scope&) = delete;
  walk_scope& operator=(const walk_scope&) = delete;

  void examine(std::size_t request) {
    if (t_walk.record != nullptr) {
      t_walk.record->entries.push_back({request, false, {}});
      t_walk.entry = &t_walk.record->entries.back();
    }
  }

 private:
  walk_in_progress saved_;
};

void record_mark(std::size_t installed, mark_decision::why_t why, std::size_t by,
                 const std::string& product = std::string()) {
  if (t_walk.record != nullptr) {
    t_walk.record->marks.push_back({installed, why, by, product});
  }
}

// The examined entry's next relation, to be filled in as it is judged; null
// when nothing records. It starts as judged against a sref no entry answers.
relation_decision* record_relation(relation_decision::kind_t kind, const std::string& sref,
                                   const std::string& version_text,
                                   const version_ranges& versions) {
  if (t_walk.entry == nullptr) {
    return nullptr;
  }
  relation_decision& judged = t_walk.entry->relations.emplace_back();
  judged.kind = kind;
  judged.sref = sref;
  judged.version_text = version_text;
  judged.versions = versions;
  judged.outcome = relation_decision::outcome_t::unknown_sref;
  return &judged;
}

void record_target(relation_decision* judged, const software_spec& target,
                   relation_decision::outcome_t until_a_match) {
  if (judged != nullptr) {
    judged->target_pattern = target.softwareids;
    judged->target_name = target.name;
    judged->outcome = until_a_match;
  }
}

// A pattern as the indexed scans use it: what the host tells of it, and the
// pattern compiled once for the entries the host has to decide.
struct scan_pattern {
  scan_pattern(const ox_regex_literals_s* capability, const std::string& text)
      : shape(internal::describe_pattern(capability, text)), compiled(text) {}

  bool matches(const std::string& id) {
    if (shape.what == internal::pattern_shape::kind::literals) {
      return internal::c_string_safe(id) &&
             std::find(shape.exact.begin(), shape.exact.end(), id) != shape.exact.end();
    }
    return compiled.matches(id);
  }

  internal::pattern_shape shape;
  internal::compiled_pattern compiled;
};

// The working list by id. During a walk the list only grows and ids never
// change, so the index follows it by adding what was appended since.
class working_index {
 public:
  void catch_up(const std::vector<installing_software>& list) {
    if (list.size() < indexed_) {
      by_id_.clear();
      indexed_ = 0;
    }
    for (; indexed_ < list.size(); ++indexed_) {
      by_id_[list[indexed_].id].push_back(indexed_);
    }
  }

  // The positions, ascending, of the entries with exactly this id.
  const std::vector<std::size_t>& with_id(const std::string& id) const {
    static const std::vector<std::size_t> kNothing;
    const auto it = by_id_.find(id);
    return it == by_id_.end() ? kNothing : it->second;
  }

  // The positions, ascending, of the entries whose id the pattern matches.
  std::vector<std::size_t> matching(scan_pattern& pattern) const {
    std::vector<std::size_t> out;
    auto take = [&](const std::string& id, const std::vector<std::size_t>& positions) {
      if (pattern.matches(id)) {
        out.insert(out.end(), positions.begin(), positions.end());
      }
    };
    const internal::pattern_shape& shape = pattern.shape;
    if (shape.what == internal::pattern_shape::kind::unknown) {
      for (const auto& item : by_id_) {
        take(item.first, item.second);
      }
    } else {
      for (const std::string& text : shape.exact) {
        const auto it = by_id_.find(text);
        if (it != by_id_.end()) {
          take(it->first, it->second);
        }
      }
      for (const std::string& prefix : shape.prefixes) {
        for (auto it = by_id_.lower_bound(prefix);
             it != by_id_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
          take(it->first, it->second);
        }
      }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
  }

 private:
  // Ordered, so that the ids beginning with a prefix are one range.
  std::map<std::string, std::vector<std::size_t>> by_id_;
  std::size_t indexed_ = 0;
};

}  // namespace

namespace internal {

walk_recording::walk_recording(walk_record& record) : previous_(t_recording) {
  t_recording = &record;
}

walk_recording::~walk_recording() {
  t_recording = previous_;
}

walk_record* walk_recording::current() {
  return t_recording;
}

}  // namespace internal

struct software_dependency_manager::scan_state {
  explicit scan_state(ox_context_s* context) : capability(internal::regex_literals(context)) {}

  scan_pattern& pattern(const std::string& text) {
    std::unique_ptr<scan_pattern>& slot = patterns[text];
    if (slot == nullptr) {
      slot = std::make_unique<scan_pattern>(capability, text);
    }
    return *slot;
  }

  const ox_regex_literals_s* capability;
  working_index index;
  std::unordered_map<std::string, std::unique_ptr<scan_pattern>> patterns;
};

namespace {

// The entries of the working list that a pattern recognises, in list order:
// each asked of the catalog manager in turn (the plain walk, without `pattern`),
// or through the index.
class candidate_finder {
 public:
  candidate_finder(const package_spec_manager& spec_mgr, const std::string& pattern_text,
                   const std::vector<installing_software>& list, scan_pattern* pattern,
                   working_index* index)
      : spec_mgr_(spec_mgr),
        pattern_text_(pattern_text),
        list_(list),
        pattern_(pattern),
        index_(index) {
    if (index_ != nullptr) {
      index_->catch_up(list);
    }
  }

  // The first position at or after `from` whose id the pattern matches.
  std::size_t next(std::size_t from) {
    if (pattern_ != nullptr && index_ != nullptr &&
        pattern_->shape.what != internal::pattern_shape::kind::unknown) {
      if (!positions_ready_) {
        positions_ = index_->matching(*pattern_);
        positions_ready_ = true;
      }
      const auto it = std::lower_bound(positions_.begin(), positions_.end(), from);
      return it == positions_.end() ? kNoEntry : *it;
    }
    for (std::size_t at = from; at < list_.size(); ++at) {
      const bool matches = pattern_ != nullptr
                               ? pattern_->matches(list_[at].id)
                               : spec_mgr_.find_software_id(pattern_text_, list_[at].id);
      if (matches) {
        return at;
      }
    }
    return kNoEntry;
  }

 private:
  const package_spec_manager& spec_mgr_;
  const std::string& pattern_text_;
  const std::vector<installing_software>& list_;
  scan_pattern* pattern_;
  working_index* index_;
  std::vector<std::size_t> positions_;
  bool positions_ready_ = false;
};

// What a null scan state (the plain walk) or a scan state gives the finders.
// Templates, so that the dependency manager's private state type is deduced,
// never named.
template <typename Scans>
working_index* index_of(Scans* scans) {
  return scans != nullptr ? &scans->index : nullptr;
}

template <typename Scans>
candidate_finder make_finder(const package_spec_manager& spec_mgr, const std::string& pattern,
                             const std::vector<installing_software>& list, Scans* scans) {
  return candidate_finder(spec_mgr, pattern, list,
                          scans != nullptr ? &scans->pattern(pattern) : nullptr, index_of(scans));
}

// The positions, ascending, of the entries of the list with exactly this id:
// through the index when there is one, else by walking the list.
std::vector<std::size_t> positions_with_id(const std::vector<installing_software>& list,
                                           const std::string& id, working_index* index) {
  if (index != nullptr) {
    index->catch_up(list);
    return index->with_id(id);
  }
  std::vector<std::size_t> out;
  for (std::size_t at = 0; at < list.size(); ++at) {
    if (list[at].id == id) {
      out.push_back(at);
    }
  }
  return out;
}

}  // namespace

software_dependency_manager::software_dependency_manager(ox_context_s* context)
    : context(context) {}

software_dependency_manager::~software_dependency_manager() = default;

void software_dependency_manager::set_spec_mgr(const std::shared_ptr<package_spec_manager>& mgr) {
  spec_mgr = mgr;
}

void software_dependency_manager::set_repo_manager(
    const std::shared_ptr<software_repo_manager>& mgr) {
  repo_manager = mgr;
}

void software_dependency_manager::set_softdb_manager(
    const std::shared_ptr<system_software_database_manager>& mgr) {
  softdb_manager = mgr;
}

std::vector<installing_software> software_dependency_manager::resolve_dependency(
    const std::vector<software>& list) try {
  std::vector<installing_software> result;
  result.reserve(list.size());
  for (const software& sw : list) {
    result.emplace_back(sw);
  }
  return result;
} catch (...) {
  internal::rethrow_as_pm_exception();
}

bool software_dependency_manager::is_incompatible(
    const std::vector<installing_software>& list) const {
  for (const installing_software& record : list) {
    if (!record.failed_dependencies.empty() || !record.failed_compatibilities.empty()) {
      return true;
    }
  }
  return false;
}

bool software_dependency_manager::is_incompatible_dependencies(
    const std::vector<installing_software>& list) const {
  for (const installing_software& record : list) {
    if (!record.failed_dependencies.empty()) {
      return true;
    }
  }
  return false;
}

bool software_dependency_manager::is_incompatible_product(
    const std::vector<installing_software>& list) const {
  for (const installing_software& record : list) {
    if (!record.failed_compatibilities.empty()) {
      return true;
    }
  }
  return false;
}

void software_dependency_manager::require_spec_mgr() const {
  if (spec_mgr == nullptr) {
    throw pm_exception(OX_ERROR_INVALID_ARGUMENT);
  }
}

// The one place where the indexed scans and the plain walk part: a null
// state makes every finder walk the list and ask the catalog manager.
std::unique_ptr<software_dependency_manager::scan_state> software_dependency_manager::make_scans()
    const {
  return indexed_scans ? std::make_unique<scan_state>(context) : nullptr;
}

std::vector<installing_software> software_dependency_manager::check_installorder_compatibility(
    const std::vector<installing_software>& uninstall_list,
    const std::vector<installing_software>& install_list) try {
  static const char kFunction[] = "check_installorder_compatibility";
  // Without either collaborator there is nothing to check against; say so
  // before anything is logged or built rather than resolving half a request.
  if (spec_mgr == nullptr || softdb_manager == nullptr) {
    throw pm_exception(OX_ERROR_INVALID_ARGUMENT);
  }

  const std::vector<software> installed = softdb_manager->get_installed_product_list();

  std::vector<installing_software> resolved;
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
         "checking install order compatibility");

  resolved.reserve(installed.size() + install_list.size());
  for (const software& sw : installed) {
    resolved.emplace_back(sw, SOFTWARE_STATE_INSTALLED);
  }

  // One index of the resolved list serves the whole walk: the list only
  // grows while it goes on.
  const std::unique_ptr<scan_state> scans = make_scans();
  walk_scope walk(installed.size());

  // Every installed entry whose id an uninstall entry names, whatever its
  // version.
  for (std::size_t removal = 0; removal < uninstall_list.size(); ++removal) {
    for (std::size_t at :
         positions_with_id(resolved, uninstall_list[removal].id, index_of(scans.get()))) {
      resolved[at].state |= SOFTWARE_STATE_MARKED_UNINSTALL;
      record_mark(at, mark_decision::why_t::uninstall_request, removal);
    }
  }

  bool walk_stopped = false;
  int counter = 0;
  for (const installing_software& requested : install_list) {
    installing_software working = requested;
    // A missing catalog entry drops this install entry and the walk
    // goes on. Only the library's own errors are findings of this kind: an
    // allocation failure must not pass for a missing entry (and silently
    // shorten the result), so it travels on to the caller.
    try {
      OX_LOG_BLANK(context, kTag, kFunction);
      ++counter;
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "[%d] checking install order compatibility for <%s>", counter, working.id.c_str());
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction, "getting spec entry for <%s>",
             working.id.c_str());

      // Entries are not added while a resolution runs: read in place.
      const software_spec& spec = spec_mgr->find_entry(working);
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "Entry found in spec file with id:<%s>, orqids:<%s>, name:<%s>", spec.sref.c_str(),
             spec.softwareids.c_str(), spec.name.c_str());
      walk.examine(static_cast<std::size_t>(counter - 1));

      if (resolve_obsoletes(working, spec)) {
        if (t_walk.entry != nullptr) {
          t_walk.entry->obsolete = true;
        }
        resolved.push_back(std::move(working));
        walk_stopped = true;
        break;
      }

      uninstalls_step(resolved, working, spec, scans.get());

      if (!dependency_step(resolved, working, spec, scans.get())) {
        OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "dependency fail for <%s>",
               working.id.c_str());
        resolved.push_back(std::move(working));
        walk_stopped = true;
        break;
      }
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "dependency check success for <%s>, now checking compatibility.", working.id.c_str());

      if (!compatibility_step(resolved, working, spec, scans.get())) {
        OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "compatibility fail for <%s>",
               working.id.c_str());
        resolved.push_back(std::move(working));
        walk_stopped = true;
        break;
      }
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction, "compatibility success for <%s>",
             working.id.c_str());
      resolved.push_back(std::move(working));
    } catch (const pm_exception& error) {
      internal::rethrow_unless_finding(error);
      OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "Entry not found in spec.");
    }
  }
  // A request stopped by one of its own entries already fails; only a request
  // that would be carried out is checked for what it breaks.
  if (!walk_stopped && !legacy_dependency_checks) {
    remaining_dependencies_step(resolved, installed.size(), scans.get());
  }
  return resolved;
} catch (...) {
  internal::rethrow_as_pm_exception();
}

std::vector<installing_software> software_dependency_manager::resolve_installorder_compatibility(
    const std::vector<installing_software>& list) try {
  return list;
} catch (...) {
  internal::rethrow_as_pm_exception();
}

bool software_dependency_manager::resolve_obsoletes(installing_software& entry,
                                                    const software_spec& spec) try {
  static const char kFunction[] = "resolve_obsoletes";
  const std::string version_text = entry.version.getversion();
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
         "step a). checking resolve obsoletes for <%s>, version: %s", entry.id.c_str(),
         version_text.c_str());
  bool obsolete = false;
  for (const version_ranges& ranges : spec.obsoletes) {
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction, "checking with versions range: %s",
           ranges.get().c_str());
    if (ranges.is_within(entry.version)) {
      obsolete = true;
      entry.state |= SOFTWARE_STATE_UNINSTALL;
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "This is an obsolete version <%s>.", version_text.c_str());
    }
  }
  return obsolete;
} catch (...) {
  internal::rethrow_as_pm_exception();
}

void software_dependency_manager::resolve_uninstalls(std::vector<installing_software>& working_list,
                                                     installing_software& entry,
                                                     const software_spec& spec) try {
  require_spec_mgr();
  const std::unique_ptr<scan_state> scans = make_scans();
  uninstalls_step(working_list, entry, spec, scans.get());
} catch (...) {
  internal::rethrow_as_pm_exception();
}

bool software_dependency_manager::check_product_dependency(
    std::vector<installing_software>& working_list, installing_software& entry,
    const software_spec& spec) try {
  require_spec_mgr();
  const std::unique_ptr<scan_state> scans = make_scans();
  return dependency_step(working_list, entry, spec, scans.get());
} catch (...) {
  internal::rethrow_as_pm_exception();
}

bool software_dependency_manager::check_product_compatibility(
    std::vector<installing_software>& working_list, installing_software& entry,
    const software_spec& spec, const std::vector<installing_software>& /*install_list*/) try {
  require_spec_mgr();
  const std::unique_ptr<scan_state> scans = make_scans();
  return compatibility_step(working_list, entry, spec, scans.get());
} catch (...) {
  internal::rethrow_as_pm_exception();
}

void software_dependency_manager::uninstalls_step(std::vector<installing_software>& working_list,
                                                  installing_software& entry,
                                                  const software_spec& spec, scan_state* scans) {
  static const char kFunction[] = "resolve_uninstalls";
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
         "step b). checking resolve uninstalls for <%s>", entry.id.c_str());

  // find_orqid_in_spec(candidate, product) is the product's entry's pattern
  // tested on the candidate: look each product's entry up once and find the
  // candidates its pattern recognises, then visit only the candidates that an
  // id or a pattern picks out, in list order.
  std::vector<std::vector<std::size_t>> product_matches(spec.uninstalls.size());
  std::vector<std::size_t> visit;
  for (std::size_t product = 0; product < spec.uninstalls.size(); ++product) {
    const software_spec* product_entry = nullptr;
    try {
      product_entry = &spec_mgr->find_id_entry(spec.uninstalls[product].id);
    } catch (const pm_exception& error) {
      internal::rethrow_unless_finding(error);
      continue;  // no entry: the product matches no candidate
    }
    candidate_finder finder =
        make_finder(*spec_mgr, product_entry->softwareids, working_list, scans);
    for (std::size_t at = finder.next(0); at != kNoEntry; at = finder.next(at + 1)) {
      product_matches[product].push_back(at);
    }
    visit.insert(visit.end(), product_matches[product].begin(), product_matches[product].end());
  }
  const std::string* const same_software[] = {&entry.id, &spec.sref};
  for (const std::string* id : same_software) {
    const std::vector<std::size_t> same = positions_with_id(working_list, *id, index_of(scans));
    visit.insert(visit.end(), same.begin(), same.end());
  }
  std::sort(visit.begin(), visit.end());
  visit.erase(std::unique(visit.begin(), visit.end()), visit.end());

  for (std::size_t at : visit) {
    installing_software& candidate = working_list[at];
    // Install entries accepted earlier in the walk are never replaced here.
    if (!has_state(candidate.state, SOFTWARE_STATE_INSTALLED)) {
      continue;
    }
    if (candidate.id == entry.id || candidate.id == spec.sref) {
      candidate.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
      if (t_walk.entry != nullptr) {
        record_mark(at, mark_decision::why_t::replaced, t_walk.entry->request);
      }
      continue;
    }
    for (std::size_t product = 0; product < spec.uninstalls.size(); ++product) {
      const std::vector<std::size_t>& matched = product_matches[product];
      if (std::binary_search(matched.begin(), matched.end(), at)) {
        OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
               "Found uninstall product <%s> and orqid: <%s> installed, marking this uninstall",
               spec.uninstalls[product].id.c_str(), candidate.id.c_str());
        candidate.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
        if (t_walk.entry != nullptr) {
          record_mark(at, mark_decision::why_t::uninstalled, t_walk.entry->request,
                      spec.uninstalls[product].id);
        }
      }
    }
  }
}

bool software_dependency_manager::dependency_step(std::vector<installing_software>& working_list,
                                                  installing_software& entry,
                                                  const software_spec& spec, scan_state* scans) {
  static const char kFunction[] = "check_product_dependency";
  bool result = true;
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
         "step c). checking dependency for <%s>", entry.id.c_str());

  for (const depend& dependency : spec.depends) {
    bool dependency_found = false;
    bool version_found = false;
    const software_spec* required = nullptr;
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
           "dependency check for <%s> against id <%s>, version: <%s>", entry.id.c_str(),
           dependency.sref.c_str(), dependency.versions.get().c_str());
    relation_decision* const judged =
        record_relation(relation_decision::kind_t::depends, dependency.sref,
                        dependency.version_text, dependency.versions);
    try {
      required = &spec_mgr->find_id_entry(dependency.sref);
      record_target(judged, *required, relation_decision::outcome_t::missing);
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "spec found for <%s>, orqid: <%s>, version: <%s>", dependency.sref.c_str(),
             required->softwareids.c_str(), required->versions.get().c_str());
      // The first entry the pattern recognises that stays decides: an entry
      // marked for removal is logged and passed over, so that software this
      // request installs satisfies what it installs later. The legacy checks
      // stop at the first entry recognised, marked or not.
      candidate_finder finder = make_finder(*spec_mgr, required->softwareids, working_list, scans);
      for (std::size_t at = finder.next(0); at != kNoEntry; at = finder.next(at + 1)) {
        const installing_software& candidate = working_list[at];
        const std::string candidate_version = candidate.version.getversion();
        OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
               "<%s> is installed in system, with version: <%s>", candidate.id.c_str(),
               candidate_version.c_str());
        if (has_state(candidate.state, SOFTWARE_STATE_MARKED_UNINSTALL)) {
          OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
                 "<%s> software with version: <%s> is marked as uninstall.", candidate.id.c_str(),
                 candidate_version.c_str());
          if (judged != nullptr) {
            judged->passed_over.push_back(at);
          }
          if (legacy_dependency_checks) {
            if (judged != nullptr) {
              judged->first_match_decided = true;
            }
            break;
          }
        } else {
          dependency_found = true;
          if (judged != nullptr) {
            judged->candidate = at;
            judged->outcome = relation_decision::outcome_t::wrong_version;
          }
          if (dependency.versions.is_within(candidate.version)) {
            if (judged != nullptr) {
              judged->outcome = relation_decision::outcome_t::met;
            }
            OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
                   "[pass]<%s> is installed in system, with version: <%s>, version check success.",
                   candidate.id.c_str(), candidate_version.c_str());
            version_found = true;
          } else {
            OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction,
                   "[fail]<%s> is installed in system, with version: <%s>, version check fail.",
                   candidate.id.c_str(), candidate_version.c_str());
          }
          break;
        }
      }
    } catch (const pm_exception& error) {
      internal::rethrow_unless_finding(error);
      OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "Entry not found in spec.");
    }

    if (judged != nullptr && !dependency_found && !judged->passed_over.empty()) {
      judged->outcome = relation_decision::outcome_t::marked;
      judged->candidate = judged->passed_over.front();
    }
    if (dependency_found && version_found) {
      continue;
    }
    result = false;
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
           "dependency check for <%s> against <%s> failed <reason: %s,%s >", entry.id.c_str(),
           dependency.sref.c_str(), found_text(dependency_found, "dep found", "dep not found"),
           found_text(version_found, "ver found", "ver not found"));
    record_unmet_dependency(entry, required, dependency);
    break;
  }
  return result;
}

namespace {

// Whether a dependency that installed software had before the request is
// still met after it. When it is not and `lost` is given, `lost` receives why:
// the installed entry that met it before, the matches passed over after it,
// and the first entry that stays, outside the ranges (none when every match
// is marked).
bool remaining_dependency_met(candidate_finder& finder,
                              const std::vector<installing_software>& resolved,
                              std::size_t installed_count, const depend& dependency,
                              internal::loss_decision* lost) {
  // Before the request: the first installed entry recognised decides, marks
  // aside. A dependency unmet already is not the request's doing.
  std::size_t at = finder.next(0);
  if (at == kNoEntry || at >= installed_count ||
      !dependency.versions.is_within(resolved[at].version)) {
    return true;
  }
  const std::size_t before = at;
  // After it: the first entry recognised that stays decides, as in step c).
  for (; at != kNoEntry; at = finder.next(at + 1)) {
    if (!has_state(resolved[at].state, SOFTWARE_STATE_MARKED_UNINSTALL)) {
      if (dependency.versions.is_within(resolved[at].version)) {
        return true;
      }
      break;
    }
    if (lost != nullptr) {
      lost->check.passed_over.push_back(at);
    }
  }
  if (lost != nullptr) {
    lost->lost = before;
    lost->check.candidate = at;
    lost->check.outcome = at == kNoEntry ? relation_decision::outcome_t::marked
                                         : relation_decision::outcome_t::wrong_version;
  }
  return false;
}

}  // namespace

void software_dependency_manager::remaining_dependencies_step(
    std::vector<installing_software>& resolved, std::size_t installed_count, scan_state* scans) {
  static const char kFunction[] = "check_remaining_dependencies";
  // A dependency met before the request is lost only when the installed
  // entry that met it is marked for removal: without any mark nothing breaks.
  const auto marked = [](const installing_software& record) {
    return has_state(record.state, SOFTWARE_STATE_MARKED_UNINSTALL);
  };
  if (std::none_of(resolved.begin(),
                   resolved.begin() + static_cast<std::ptrdiff_t>(installed_count), marked)) {
    return;
  }
  for (std::size_t position = 0; position < resolved.size(); ++position) {
    installing_software& record = resolved[position];
    if (!has_state(record.state, SOFTWARE_STATE_INSTALLED) || marked(record)) {
      continue;
    }
    const software_spec* spec = nullptr;
    try {
      spec = &spec_mgr->find_entry(record);
    } catch (const pm_exception& error) {
      internal::rethrow_unless_finding(error);
      continue;  // software the catalog does not describe has no known dependencies
    }
    for (const depend& dependency : spec->depends) {
      const software_spec* required = nullptr;
      try {
        required = &spec_mgr->find_id_entry(dependency.sref);
      } catch (const pm_exception& error) {
        internal::rethrow_unless_finding(error);
        continue;
      }
      candidate_finder finder = make_finder(*spec_mgr, required->softwareids, resolved, scans);
      internal::loss_decision lost;
      internal::loss_decision* const judged = t_walk.record != nullptr ? &lost : nullptr;
      if (remaining_dependency_met(finder, resolved, installed_count, dependency, judged)) {
        continue;
      }
      OX_LOG(
          context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction,
          "<%s> with version: <%s> stays installed, but its dependency on <%s> is no longer met.",
          record.id.c_str(), record.version.getversion().c_str(), dependency.sref.c_str());
      record_unmet_dependency(record, required, dependency);
      if (judged != nullptr) {
        lost.record = position;
        relation_decision& check = lost.check;
        check.kind = relation_decision::kind_t::depends;
        check.sref = dependency.sref;
        check.version_text = dependency.version_text;
        check.versions = dependency.versions;
        check.target_pattern = required->softwareids;
        check.target_name = required->name;
        t_walk.record->losses.push_back(std::move(lost));
      }
      break;
    }
  }
}

void software_dependency_manager::record_unmet_dependency(installing_software& record,
                                                          const software_spec* required,
                                                          const depend& dependency) {
  // The finding names the software by the pattern it is recognised by, and
  // the lowest version of the first required range.
  record.failed_dependencies.emplace_back(
      required != nullptr ? required->softwareids : std::string(),
      version(dependency.versions.get()), dependency.version_text);
}

bool software_dependency_manager::compatibility_step(std::vector<installing_software>& working_list,
                                                     installing_software& entry,
                                                     const software_spec& spec, scan_state* scans) {
  static const char kFunction[] = "check_product_compatibility";
  bool result = true;
  // The library's own errors inside a check end it with the result as it
  // stands; anything else (memory exhaustion) must reach the caller rather
  // than let an unchecked relation pass.
  try {
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
           "step d). checking compatibility for <%s>", entry.id.c_str());

    for (const compatible& relation : spec.compatibles) {
      bool installed = false;
      bool version_found = false;
      bool acceptable = true;
      const installing_software* current = nullptr;
      const std::string relation_versions = relation.versions.get();
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "compatibility check for <%s> against id <%s>, version <%s>", entry.id.c_str(),
             relation.sref.c_str(), relation_versions.c_str());
      relation_decision* const judged =
          record_relation(relation_decision::kind_t::compatible, relation.sref, relation_versions,
                          relation.versions);
      try {
        const software_spec& other = spec_mgr->find_id_entry(relation.sref);
        record_target(judged, other, relation_decision::outcome_t::absent);
        OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
               "spec found for <%s>, orqid: <%s>, version: <%s>", relation.sref.c_str(),
               other.softwareids.c_str(), relation_versions.c_str());
        // Entries marked for removal are passed over: the first present one
        // decides.
        candidate_finder finder = make_finder(*spec_mgr, other.softwareids, working_list, scans);
        for (std::size_t at = finder.next(0); at != kNoEntry; at = finder.next(at + 1)) {
          current = &working_list[at];
          if (has_state(current->state, SOFTWARE_STATE_MARKED_UNINSTALL)) {
            OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
                   "software id <%s> is marked as uninstall", current->id.c_str());
            if (judged != nullptr) {
              judged->passed_over.push_back(at);
            }
            continue;
          }
          installed = true;
          acceptable = false;
          if (relation.versions.is_within(current->version)) {
            version_found = true;
            acceptable = true;
          }
          if (judged != nullptr) {
            judged->candidate = at;
            judged->outcome = acceptable ? relation_decision::outcome_t::in_range
                                         : relation_decision::outcome_t::out_of_range;
          }
          break;
        }
      } catch (const pm_exception& error) {
        internal::rethrow_unless_finding(error);
        OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "Entry not found in spec.");
      }

      const char* installed_text =
          found_text(installed, "software installed", "software not installed or marked uninstall");
      const char* version_text = found_text(version_found, "ver found", "ver not found");
      if (acceptable) {
        OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
               "[pass] compatibility check for <%s> passed. %s, %s", entry.id.c_str(),
               installed_text, version_text);
        if (installed) {
          OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
                 "[pass] software id <%s>, installed version:%s ", current->id.c_str(),
                 current->version.getversion().c_str());
        }
        continue;
      }

      // Failing needs a present, unmarked candidate, so `current` is set.
      const std::string current_version = current->version.getversion();
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTag, kFunction,
             "[failed] compatibility check for <%s> software id <%s>,installed version:%s,  "
             "<reason: %s,%s >",
             entry.id.c_str(), current->id.c_str(), current_version.c_str(), installed_text,
             version_text);
      entry.failed_compatibilities.emplace_back(current->id, current->version, std::string());
      result = false;
      break;
    }
  } catch (const pm_exception& error) {
    internal::rethrow_unless_finding(error);
    // The line's spelling is part of the log contract that hosts match on.
    OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "excepetion occurred.");
  }
  return result;
}

}  // namespace ox
}  // namespace tarvik

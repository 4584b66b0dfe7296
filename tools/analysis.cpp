#include "analysis.hpp"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include "patterns.hpp"
#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace oxpm {
namespace {

using ox::installing_software;

bool is_installed(const installing_software& entry) {
  return ox::has_state(entry.state, ox::SOFTWARE_STATE_INSTALLED);
}

entry_status status_of(const installing_software& entry) {
  if (ox::has_state(entry.state, ox::SOFTWARE_STATE_UNINSTALL)) {
    return entry_status::obsolete;
  }
  if (!entry.failed_dependencies.empty()) {
    return entry_status::failed_dependency;
  }
  if (!entry.failed_compatibilities.empty()) {
    return entry_status::failed_compatibility;
  }
  return entry_status::passed;
}

// The entries of the resolved list that a relation's target pattern matches,
// in list order. Testing the pattern against every entry up to the one
// examined costs a pattern test per entry of the working list and relation:
// judging every relation of a large request that way took seconds. Where the
// host tells which ids a pattern can match (exactly, or beginning with a
// prefix), only the entries with those ids are tested, through the same
// look-up. The resolved list does not change, so each pattern's entries are
// worked out once.
class pattern_index {
 public:
  pattern_index(const ox::package_spec_manager& specs,
                const std::vector<installing_software>& resolved,
                const ox_regex_literals_s* literals)
      : specs_(specs), resolved_(resolved), literals_(literals) {}

  // The first position in [from, end) whose id the pattern matches, -1 if none.
  int next(const std::string& pattern, int from, int end) {
    const std::vector<int>* positions = matching(pattern);
    if (positions == nullptr) {
      for (int i = from; i < end; ++i) {
        if (specs_.find_software_id(pattern, resolved_[static_cast<std::size_t>(i)].id)) {
          return i;
        }
      }
      return -1;
    }
    const auto it = std::lower_bound(positions->begin(), positions->end(), from);
    return it != positions->end() && *it < end ? *it : -1;
  }

 private:
  // Ascending positions of the entries whose id the pattern matches; null
  // when the host cannot describe the pattern.
  const std::vector<int>* matching(const std::string& pattern) {
    const auto found = by_pattern_.find(pattern);
    if (found != by_pattern_.end()) {
      return found->second.get();
    }
    std::unique_ptr<std::vector<int>> positions;
    if (const std::optional<pattern_description> described = describe_pattern(literals_, pattern)) {
      if (by_id_.empty()) {
        for (std::size_t i = 0; i < resolved_.size(); ++i) {
          by_id_[resolved_[i].id].push_back(static_cast<int>(i));
        }
      }
      positions = std::make_unique<std::vector<int>>();
      const auto take = [&](const std::string& id, const std::vector<int>& at) {
        if (specs_.find_software_id(pattern, id)) {
          positions->insert(positions->end(), at.begin(), at.end());
        }
      };
      for (const std::string& text : described->exact) {
        const auto it = by_id_.find(text);
        if (it != by_id_.end()) {
          take(it->first, it->second);
        }
      }
      for (const std::string& prefix : described->prefixes) {
        for (auto it = by_id_.lower_bound(prefix);
             it != by_id_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
          take(it->first, it->second);
        }
      }
      std::sort(positions->begin(), positions->end());
      positions->erase(std::unique(positions->begin(), positions->end()), positions->end());
    }
    return by_pattern_.emplace(pattern, std::move(positions)).first->second.get();
  }

  const ox::package_spec_manager& specs_;
  const std::vector<installing_software>& resolved_;
  const ox_regex_literals_s* literals_;
  // Ordered, so that the ids beginning with a prefix are one range.
  std::map<std::string, std::vector<int>> by_id_;
  std::unordered_map<std::string, std::unique_ptr<std::vector<int>>> by_pattern_;
};

// The install-order walk as the dependency stage runs it, replayed with the
// catalog's look-ups so that each decision can be named.
class replay {
 public:
  replay(const ox::package_spec_manager& specs, const std::vector<installing_software>& resolved,
         const ox_regex_literals_s* literals, analysis& out)
      : specs_(specs), resolved_(resolved), out_(out), patterns_(specs, resolved, literals) {}

  void mark_uninstall_requests(const std::vector<ox::software>& uninstall) {
    for (std::size_t u = 0; u < uninstall.size(); ++u) {
      bool matched = false;
      for (std::size_t k = 0; k < out_.installed_count; ++k) {
        if (resolved_[k].id == uninstall[u].id) {
          out_.removals[k].push_back({removal::why_t::uninstall_request, u, {}});
          matched = true;
        }
      }
      if (!matched) {
        out_.uninstall_unmatched.push_back(u);
      }
    }
  }

  void examine(std::size_t request_index, entry_report& report, bool judge_relations) {
    if (!report.has_spec) {
      // The library found an entry where we find none.
      out_.consistent = false;
      return;
    }
    if (report.status == entry_status::obsolete) {
      out_.consistent = out_.consistent && !report.obsolete_hits.empty();
      return;
    }
    mark_replaced(request_index, report);
    if (!judge_relations) {
      return;
    }
    const int end = report.result_index;
    bool failed = false;
    for (const ox::depend& dep : report.spec.depends) {
      relation_check check = check_depend(dep, end);
      failed = !check.ok();
      report.relations.push_back(std::move(check));
      if (failed) {
        break;
      }
    }
    if (!failed) {
      for (const ox::compatible& comp : report.spec.compatibles) {
        relation_check check = check_compatible(comp, end);
        failed = !check.ok();
        report.relations.push_back(std::move(check));
        if (failed) {
          break;
        }
      }
    }
    if (failed && !report.relations.back().target_pattern.empty()) {
      relation_check& last = report.relations.back();
      for (std::size_t i = 0; i < out_.install.size(); ++i) {
        if (specs_.find_software_id(last.target_pattern, out_.install[i].requested.id)) {
          last.requested_matches.push_back(i);
        }
      }
    }
    const bool expect_failure = stops_walk(report.status);
    if (failed != expect_failure) {
      out_.consistent = false;
    } else if (failed) {
      const bool is_dependency = report.relations.back().kind == relation_check::kind_t::depends;
      if (is_dependency != (report.status == entry_status::failed_dependency)) {
        out_.consistent = false;
      }
    }
  }

 private:
  bool marked(int index) const {
    return static_cast<std::size_t>(index) < out_.installed_count &&
           !out_.removals[static_cast<std::size_t>(index)].empty();
  }

  // Step b): the installed copies of the same software, and the installed
  // software that the entry's uninstalls name through their patterns.
  void mark_replaced(std::size_t request_index, const entry_report& report) {
    if (report.spec.uninstalls.empty()) {
      // Only exact ids can match: look them up instead of comparing every
      // installed entry with every request.
      std::vector<std::size_t> hits = installed_with_id(report.requested.id);
      if (report.spec.sref != report.requested.id) {
        const std::vector<std::size_t> by_sref = installed_with_id(report.spec.sref);
        hits.insert(hits.end(), by_sref.begin(), by_sref.end());
        std::sort(hits.begin(), hits.end());
      }
      for (std::size_t k : hits) {
        out_.removals[k].push_back({removal::why_t::replaced, request_index, {}});
      }
      return;
    }
    for (std::size_t k = 0; k < out_.installed_count; ++k) {
      const std::string& id = resolved_[k].id;
      if (id == report.requested.id || id == report.spec.sref) {
        out_.removals[k].push_back({removal::why_t::replaced, request_index, {}});
        continue;
      }
      for (const ox::software& product : report.spec.uninstalls) {
        if (specs_.find_orqid_in_spec(id, product.id)) {
          out_.removals[k].push_back({removal::why_t::uninstalled, request_index, product.id});
        }
      }
    }
  }

  std::vector<std::size_t> installed_with_id(const std::string& id) {
    if (installed_by_id_.empty() && out_.installed_count > 0) {
      for (std::size_t k = 0; k < out_.installed_count; ++k) {
        installed_by_id_[resolved_[k].id].push_back(k);
      }
    }
    const auto found = installed_by_id_.find(id);
    return found == installed_by_id_.end() ? std::vector<std::size_t>() : found->second;
  }

  bool find_target(const std::string& sref, relation_check& check) const {
    try {
      const ox::software_spec target = specs_.find_id(sref);
      check.target_pattern = target.softwareids;
      check.target_name = target.name;
      return true;
    } catch (const ox::pm_exception&) {
      check.outcome = relation_check::outcome_t::unknown_sref;
      return false;
    }
  }

  // `end` bounds the working list: the installed entries and the install
  // entries accepted before the one being examined.
  relation_check check_depend(const ox::depend& dep, int end) {
    relation_check check;
    check.kind = relation_check::kind_t::depends;
    check.sref = dep.sref;
    check.version_text = dep.version_text;
    check.versions = dep.versions;
    if (!find_target(dep.sref, check)) {
      return check;
    }
    check.outcome = relation_check::outcome_t::missing;
    // The first match that stays decides; matches marked for removal are
    // passed over.
    for (int i = patterns_.next(check.target_pattern, 0, end); i >= 0;
         i = patterns_.next(check.target_pattern, i + 1, end)) {
      if (marked(i)) {
        check.passed_over.push_back(i);
        continue;
      }
      check.candidate = i;
      check.outcome = dep.versions.is_within(resolved_[static_cast<std::size_t>(i)].version)
                          ? relation_check::outcome_t::met
                          : relation_check::outcome_t::wrong_version;
      return check;
    }
    if (!check.passed_over.empty()) {
      check.candidate = check.passed_over.front();
      check.outcome = relation_check::outcome_t::marked;
    }
    return check;
  }

 public:
  // Installed software that stays and that the library found broken: which
  // dependency it lost, met before the request by an installed entry now to
  // be removed, and not met by the first entry that stays.
  void explain_broken(std::size_t k) {
    const installing_software& record = resolved_[k];
    const int all = static_cast<int>(resolved_.size());
    const int installed = static_cast<int>(out_.installed_count);
    try {
      const ox::software_spec& spec = specs_.find(record);
      for (const ox::depend& dep : spec.depends) {
        relation_check check = check_depend(dep, all);
        if (check.ok() || check.outcome == relation_check::outcome_t::unknown_sref) {
          continue;
        }
        const int before = patterns_.next(check.target_pattern, 0, installed);
        if (before < 0 || !marked(before) ||
            !dep.versions.is_within(resolved_[static_cast<std::size_t>(before)].version)) {
          continue;
        }
        if (check.outcome == relation_check::outcome_t::marked) {
          check.candidate = -1;
        }
        const bool agrees = record.failed_dependencies.size() == 1 &&
                            record.failed_dependencies[0].id == check.target_pattern &&
                            record.failed_dependencies[0].version_text == dep.version_text;
        out_.consistent = out_.consistent && agrees;
        out_.broken.push_back({k, std::move(check), static_cast<std::size_t>(before)});
        return;
      }
    } catch (const ox::pm_exception&) {
    }
    out_.consistent = false;  // the library saw a loss the replay does not
  }

 private:
  relation_check check_compatible(const ox::compatible& comp, int end) {
    relation_check check;
    check.kind = relation_check::kind_t::compatible;
    check.sref = comp.sref;
    check.version_text = comp.versions.get();
    check.versions = comp.versions;
    if (!find_target(comp.sref, check)) {
      return check;
    }
    check.outcome = relation_check::outcome_t::absent;
    for (int i = patterns_.next(check.target_pattern, 0, end); i >= 0;
         i = patterns_.next(check.target_pattern, i + 1, end)) {
      if (marked(i)) {
        check.passed_over.push_back(i);
        continue;
      }
      check.candidate = i;
      check.outcome = comp.versions.is_within(resolved_[static_cast<std::size_t>(i)].version)
                          ? relation_check::outcome_t::in_range
                          : relation_check::outcome_t::out_of_range;
      break;
    }
    return check;
  }

  const ox::package_spec_manager& specs_;
  const std::vector<installing_software>& resolved_;
  analysis& out_;
  std::unordered_map<std::string, std::vector<std::size_t>> installed_by_id_;
  pattern_index patterns_;
};

}  // namespace

const char* status_name(entry_status status) {
  switch (status) {
    case entry_status::passed:
      return "ok";
    case entry_status::obsolete:
      return "obsolete";
    case entry_status::failed_dependency:
      return "dependency not met";
    case entry_status::failed_compatibility:
      return "incompatible";
    case entry_status::no_spec_entry:
      return "no catalog entry";
    case entry_status::not_examined:
      return "not examined";
  }
  return "unknown";
}

bool stops_walk(entry_status status) {
  return status == entry_status::obsolete || status == entry_status::failed_dependency ||
         status == entry_status::failed_compatibility;
}

bool relation_check::ok() const {
  if (kind == kind_t::depends) {
    return outcome == outcome_t::met;
  }
  return outcome != outcome_t::out_of_range;
}

bool analysis::ok(bool incompatible, bool conflicted) const {
  if (incompatible || conflicted) {
    return false;
  }
  for (const entry_report& entry : install) {
    if (entry.status != entry_status::passed) {
      return false;
    }
  }
  return true;
}

bool same_version(const ox::version& a, const ox::version& b) {
  return a.components == b.components;
}

analysis analyze(const ox::package_spec_manager& specs, const std::vector<ox::software>& uninstall,
                 const std::vector<ox::software>& install,
                 const std::vector<installing_software>& resolved, relation_scope scope,
                 const ox_regex_literals_s* literals) {
  analysis out;
  while (out.installed_count < resolved.size() && is_installed(resolved[out.installed_count])) {
    ++out.installed_count;
  }
  out.removals.resize(out.installed_count);

  // The install entries of the result are the examined requests, in order:
  // entries left out before the one that stopped the walk had no
  // catalog entry, entries after it were not examined. Equal requests
  // (same id and version) are looked up alike, so matching each result entry
  // to the earliest equal request is exact.
  std::size_t next = out.installed_count;
  bool stopped = false;
  out.install.resize(install.size());
  for (std::size_t i = 0; i < install.size(); ++i) {
    entry_report& report = out.install[i];
    report.requested = install[i];
    if (stopped) {
      report.status = entry_status::not_examined;
      continue;
    }
    if (next < resolved.size() && resolved[next].id == install[i].id &&
        same_version(resolved[next].version, install[i].version)) {
      report.result_index = static_cast<int>(next);
      report.status = status_of(resolved[next]);
      ++next;
      if (stops_walk(report.status)) {
        stopped = true;
        out.stopped_at = static_cast<int>(i);
      }
    } else {
      report.status = entry_status::no_spec_entry;
    }
  }
  if (next != resolved.size()) {
    out.consistent = false;
  }

  for (entry_report& report : out.install) {
    try {
      report.spec = specs.find(report.requested);
      report.has_spec = true;
    } catch (const ox::pm_exception&) {
      report.has_spec = false;
    }
    if (!report.has_spec) {
      try {
        (void)specs.find_id(report.requested.id);
        report.id_known = true;
      } catch (const ox::pm_exception&) {
        report.id_known = false;
      }
    } else {
      for (std::size_t j = 0; j < report.spec.obsoletes.size(); ++j) {
        if (report.spec.obsoletes[j].is_within(report.requested.version)) {
          report.obsolete_hits.push_back(j);
        }
      }
    }
  }

  replay walk(specs, resolved, literals, out);
  walk.mark_uninstall_requests(uninstall);
  for (std::size_t i = 0; i < out.install.size(); ++i) {
    entry_report& report = out.install[i];
    if (report.result_index >= 0) {
      // Judging every relation again costs a pattern test per entry of the
      // working list; only the graph draws them all.
      const bool judge = scope == relation_scope::every_entry || stops_walk(report.status);
      walk.examine(i, report, judge);
    } else if (report.status == entry_status::no_spec_entry && report.has_spec) {
      out.consistent = false;
    }
  }
  for (std::size_t k = 0; k < out.installed_count; ++k) {
    const bool marked = ox::has_state(resolved[k].state, ox::SOFTWARE_STATE_MARKED_UNINSTALL);
    if (marked != !out.removals[k].empty()) {
      out.consistent = false;
    }
  }
  for (std::size_t k = 0; k < out.installed_count; ++k) {
    if (!resolved[k].failed_dependencies.empty()) {
      walk.explain_broken(k);
    }
  }
  return out;
}

}  // namespace oxpm
}  // namespace tarvik

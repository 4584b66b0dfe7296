#include "analysis.hpp"

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

relation_check check_of(const ox::internal::relation_decision& decided) {
  relation_check check;
  static_cast<ox::internal::relation_decision&>(check) = decided;
  return check;
}

// What the catalog says of a requested entry, for the reports: its entry,
// or whether any entry answers to the id, and which obsolete ranges hold
// the version.
void describe_request(const ox::package_spec_manager& specs, entry_report& report) {
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
    return;
  }
  for (std::size_t j = 0; j < report.spec.obsoletes.size(); ++j) {
    if (report.spec.obsoletes[j].is_within(report.requested.version)) {
      report.obsolete_hits.push_back(j);
    }
  }
}

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
                 const std::vector<installing_software>& resolved,
                 const ox::internal::walk_record& walk) {
  analysis out;
  while (out.installed_count < resolved.size() && is_installed(resolved[out.installed_count])) {
    ++out.installed_count;
  }
  out.removals.resize(out.installed_count);

  // Each entry the walk examined is appended to the resolved list in walk
  // order; the requests it never examined were either left out for want of
  // a catalog entry (before the entry that stopped it) or not reached.
  out.install.resize(install.size());
  for (std::size_t i = 0; i < install.size(); ++i) {
    out.install[i].requested = install[i];
  }
  std::size_t next_request = 0;
  for (std::size_t j = 0; j < walk.entries.size(); ++j) {
    const ox::internal::entry_decision& decided = walk.entries[j];
    const std::size_t at = out.installed_count + j;
    if (decided.request >= install.size() || at >= resolved.size()) {
      break;  // not the walk of this result
    }
    entry_report& report = out.install[decided.request];
    report.result_index = static_cast<int>(at);
    report.status = status_of(resolved[at]);
    for (const ox::internal::relation_decision& relation : decided.relations) {
      report.relations.push_back(check_of(relation));
    }
    next_request = decided.request + 1;
    if (stops_walk(report.status)) {
      out.stopped_at = static_cast<int>(decided.request);
      for (std::size_t i = next_request; i < install.size(); ++i) {
        out.install[i].status = entry_status::not_examined;
      }
      break;
    }
  }

  for (entry_report& report : out.install) {
    describe_request(specs, report);
  }
  // The hint for a failed relation names what the request already does
  // about the software it needs.
  if (out.stopped_at >= 0) {
    entry_report& stopping = out.install[static_cast<std::size_t>(out.stopped_at)];
    if (!stopping.relations.empty() && !stopping.relations.back().ok() &&
        !stopping.relations.back().target_pattern.empty()) {
      relation_check& last = stopping.relations.back();
      for (std::size_t i = 0; i < out.install.size(); ++i) {
        if (specs.find_software_id(last.target_pattern, out.install[i].requested.id)) {
          last.requested_matches.push_back(i);
        }
      }
    }
  }

  std::vector<bool> uninstall_matched(uninstall.size(), false);
  for (const ox::internal::mark_decision& mark : walk.marks) {
    if (mark.installed >= out.installed_count) {
      continue;
    }
    out.removals[mark.installed].push_back({mark.why, mark.by, mark.product});
    if (mark.why == removal::why_t::uninstall_request && mark.by < uninstall.size()) {
      uninstall_matched[mark.by] = true;
    }
  }
  for (std::size_t u = 0; u < uninstall.size(); ++u) {
    if (!uninstall_matched[u]) {
      out.uninstall_unmatched.push_back(u);
    }
  }

  for (const ox::internal::loss_decision& loss : walk.losses) {
    out.broken.push_back(loss);
  }
  return out;
}

}  // namespace oxpm
}  // namespace tarvik

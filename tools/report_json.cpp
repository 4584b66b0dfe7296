// The JSON report of a resolution: the library's resolved list as it is,
// with what a script needs beside it to act without the text report: a
// verdict, the catalog entry and the blocking software of each finding, and
// why each record is removed.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json_out.hpp"
#include "report.hpp"
#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace oxpm {
namespace {

using json = nlohmann::ordered_json;

json software_json(const std::string& id, const ox::version& v) {
  return object_builder(2).add("id", id).add("version", v.getversion()).take();
}

// What a finding refers to: the sref of the relation in the catalog, and the
// record of the resolved list that blocked it (-1 when nothing did, as for a
// dependency on software that is not there at all).
struct finding_note {
  std::string sref;
  bool sref_known = false;
  int blocker = -1;
};

class finding_notes {
 public:
  finding_notes(const resolution& result, const analysis& facts,
                const ox::package_spec_manager& specs)
      : result_(result), facts_(facts), specs_(specs) {}

  finding_note dependency(std::size_t r, const ox::software& failed) const {
    if (const relation_check* check = stopping_check(r, relation_check::kind_t::depends)) {
      return {check->sref, true, index_of(check->candidate)};
    }
    finding_note note;
    const std::optional<ox::software_spec> spec = entry_of(r);
    if (!spec) {
      return note;
    }
    for (const ox::depend& dep : spec->depends) {
      const std::optional<std::string> pattern = pattern_of(dep.sref);
      if (!pattern || *pattern != failed.id || dep.version_text != failed.version_text) {
        continue;
      }
      note.sref = dep.sref;
      note.sref_known = true;
      if (r < facts_.installed_count) {
        // Installed software that stays loses a dependency when the request
        // removes or replaces what met it: the first such record answering
        // to the required pattern.
        for (std::size_t k = 0; k < facts_.installed_count; ++k) {
          if (k != r && marked(k) && specs_.find_software_id(*pattern, result_.resolved[k].id)) {
            note.blocker = static_cast<int>(k);
            break;
          }
        }
      } else {
        // The walk judges the first match in the working list before the entry.
        for (std::size_t k = 0; k < r; ++k) {
          if (specs_.find_software_id(*pattern, result_.resolved[k].id)) {
            note.blocker = static_cast<int>(k);
            break;
          }
        }
      }
      break;
    }
    return note;
  }

  finding_note compatibility(std::size_t r, const ox::software& failed) const {
    if (const relation_check* check = stopping_check(r, relation_check::kind_t::compatible)) {
      return {check->sref, true, index_of(check->candidate)};
    }
    finding_note note;
    // The library records the software that was found outside the range.
    for (std::size_t k = 0; k < result_.resolved.size(); ++k) {
      if (k != r && result_.resolved[k].id == failed.id &&
          same_version(result_.resolved[k].version, failed.version)) {
        note.blocker = static_cast<int>(k);
        break;
      }
    }
    if (const std::optional<ox::software_spec> spec = entry_of(r)) {
      for (const ox::compatible& comp : spec->compatibles) {
        const std::optional<std::string> pattern = pattern_of(comp.sref);
        if (pattern && specs_.find_software_id(*pattern, failed.id)) {
          note.sref = comp.sref;
          note.sref_known = true;
          break;
        }
      }
    }
    return note;
  }

  json blocker(int index) const {
    if (index < 0) {
      return nullptr;
    }
    const std::size_t k = static_cast<std::size_t>(index);
    const ox::installing_software& record = result_.resolved[k];
    return object_builder(4)
        .add("id", record.id)
        .add("version", record.version.getversion())
        .add("installed", k < facts_.installed_count)
        .add("removed", marked(k))
        .take();
  }

 private:
  bool marked(std::size_t k) const {
    return ox::has_state(result_.resolved[k].state, ox::SOFTWARE_STATE_MARKED_UNINSTALL);
  }

  // The judged relation that stopped the walk at record `r`.
  const relation_check* stopping_check(std::size_t r, relation_check::kind_t kind) const {
    if (facts_.stopped_at < 0) {
      return nullptr;
    }
    const entry_report& entry = facts_.install[static_cast<std::size_t>(facts_.stopped_at)];
    if (entry.result_index != static_cast<int>(r) || entry.relations.empty() ||
        entry.relations.back().ok() || entry.relations.back().kind != kind) {
      return nullptr;
    }
    return &entry.relations.back();
  }

  std::optional<ox::software_spec> entry_of(std::size_t r) const {
    try {
      return specs_.find(result_.resolved[r]);
    } catch (const ox::pm_exception&) {
      return std::nullopt;
    }
  }

  std::optional<std::string> pattern_of(const std::string& sref) const {
    try {
      return specs_.find_id(sref).softwareids;
    } catch (const ox::pm_exception&) {
      return std::nullopt;
    }
  }

  const resolution& result_;
  const analysis& facts_;
  const ox::package_spec_manager& specs_;
};

json state_names_json(ox::software_state state) {
  const std::vector<std::string> names = state_names(state);
  json out = array_of(names.size());
  for (const std::string& name : names) {
    out.get_ref<json::array_t&>().emplace_back(name);
  }
  return out;
}

template <typename Note>
json findings_json(const std::vector<ox::software>& list, const finding_notes& notes,
                   Note&& note_of) {
  json out = array_of(list.size());
  for (const ox::software& sw : list) {
    const finding_note note = note_of(sw);
    out.get_ref<json::array_t&>().push_back(
        object_builder(5)
            .add("id", sw.id)
            .add("version", sw.version.getversion())
            .add("version_text", sw.version_text)
            .add("sref", note.sref_known ? json(note.sref) : json(nullptr))
            .add("blocker", notes.blocker(note.blocker))
            .take());
  }
  return out;
}

json removal_json(const resolution& result, const analysis& facts, std::size_t k) {
  json out = json::array();
  json::array_t& reasons = out.get_ref<json::array_t&>();
  const ox::installing_software& record = result.resolved[k];
  if (k >= facts.installed_count) {
    if (ox::has_state(record.state, ox::SOFTWARE_STATE_UNINSTALL)) {
      reasons.push_back(object_builder(1).add("reason", "obsolete").take());
    }
    return out;
  }
  if (!ox::has_state(record.state, ox::SOFTWARE_STATE_MARKED_UNINSTALL)) {
    return out;
  }
  for (const removal& r : facts.removals[k]) {
    json reason;
    switch (r.why) {
      case removal::why_t::uninstall_request:
        reason =
            object_builder(2)
                .add("reason", "uninstall_request")
                .add("by", software_json(result.uninstall[r.by].id, result.uninstall[r.by].version))
                .take();
        break;
      case removal::why_t::replaced:
        reason =
            object_builder(2)
                .add("reason", "replaced_by")
                .add("by", software_json(result.install[r.by].id, result.install[r.by].version))
                .take();
        break;
      case removal::why_t::uninstalled:
        reason =
            object_builder(3)
                .add("reason", "uninstalled_by")
                .add("by", software_json(result.install[r.by].id, result.install[r.by].version))
                .add("product", r.product)
                .take();
        break;
    }
    if (std::find(reasons.begin(), reasons.end(), reason) == reasons.end()) {
      reasons.push_back(std::move(reason));
    }
  }
  if (reasons.empty()) {
    // The replay did not find the library's reason.
    reasons.push_back(object_builder(1).add("reason", "unexplained").take());
  }
  return out;
}

}  // namespace

std::vector<std::string> state_names(ox::software_state state) {
  static const std::pair<ox::software_state, const char*> kBits[] = {
      {ox::SOFTWARE_STATE_INSTALL, "SOFTWARE_STATE_INSTALL"},
      {ox::SOFTWARE_STATE_INSTALLED, "SOFTWARE_STATE_INSTALLED"},
      {ox::SOFTWARE_STATE_UNINSTALL, "SOFTWARE_STATE_UNINSTALL"},
      {ox::SOFTWARE_STATE_MARKED_UNINSTALL, "SOFTWARE_STATE_MARKED_UNINSTALL"},
  };
  std::vector<std::string> names;
  for (const auto& bit : kBits) {
    if (ox::has_state(state, bit.first)) {
      names.emplace_back(bit.second);
    }
  }
  return names;
}

const char* outcome_of(const resolution& result, const analysis& facts) {
  if (facts.stopped_at >= 0) {
    switch (facts.install[static_cast<std::size_t>(facts.stopped_at)].status) {
      case entry_status::obsolete:
        return "obsolete";
      case entry_status::failed_dependency:
        return "unmet_dependency";
      case entry_status::failed_compatibility:
        return "incompatible";
      default:
        break;
    }
  }
  for (std::size_t k = 0; k < facts.installed_count; ++k) {
    const ox::installing_software& record = result.resolved[k];
    if (!ox::has_state(record.state, ox::SOFTWARE_STATE_MARKED_UNINSTALL) &&
        (!record.failed_dependencies.empty() || !record.failed_compatibilities.empty())) {
      return "broken_dependents";
    }
  }
  for (const entry_report& entry : facts.install) {
    if (entry.status != entry_status::passed) {
      return "not_resolved";
    }
  }
  if (result.conflicted) {
    return "conflicted";
  }
  if (result.incompatible) {
    return "incompatible";
  }
  return "ok";
}

json resolution_json(const resolution& result, const analysis& facts,
                     const ox::package_spec_manager& specs, const std::vector<bool>* touched) {
  const finding_notes notes(result, facts, specs);
  const auto kept = [touched](std::size_t k) {
    return touched == nullptr || k >= touched->size() || (*touched)[k];
  };
  std::size_t count = 0;
  for (std::size_t k = 0; k < result.resolved.size(); ++k) {
    count += kept(k) ? 1 : 0;
  }
  json resolved = array_of(count);
  json::array_t& records = resolved.get_ref<json::array_t&>();
  for (std::size_t k = 0; k < result.resolved.size(); ++k) {
    if (!kept(k)) {
      continue;
    }
    const ox::installing_software& entry = result.resolved[k];
    json conflicts = array_of(entry.detected_conflicts.size());
    for (const ox::conflict_info& found : entry.detected_conflicts) {
      conflicts.get_ref<json::array_t&>().push_back(
          object_builder(2).add("id", found.id).add("action", found.action).take());
    }
    records.push_back(
        object_builder(8)
            .add("id", entry.id)
            .add("version", entry.version.getversion())
            .add("state", static_cast<std::uint32_t>(entry.state))
            .add("states", state_names_json(entry.state))
            .add("failed_dependencies",
                 findings_json(entry.failed_dependencies, notes,
                               [&](const ox::software& sw) { return notes.dependency(k, sw); }))
            .add("failed_compatibilities",
                 findings_json(entry.failed_compatibilities, notes,
                               [&](const ox::software& sw) { return notes.compatibility(k, sw); }))
            .add("detected_conflicts", std::move(conflicts))
            .add("removed_because", removal_json(result, facts, k))
            .take());
  }
  json not_resolved = json::array();
  for (const entry_report& entry : facts.install) {
    if (entry.status == entry_status::no_spec_entry || entry.status == entry_status::not_examined) {
      const bool later = entry.status == entry_status::not_examined;
      not_resolved.get_ref<json::array_t&>().push_back(
          object_builder(4)
              .add("id", entry.requested.id)
              .add("version", entry.requested.version.getversion())
              .add("reason", later ? "not examined" : "no specification entry")
              .add("reason_code", later ? "not_examined" : "no_catalog_entry")
              .take());
    }
  }
  const char* outcome = outcome_of(result, facts);
  return object_builder(7)
      .add("schema_version", kJsonSchemaVersion)
      .add("outcome", outcome)
      .add("ok", std::string(outcome) == "ok")
      .add("resolved", std::move(resolved))
      .add("incompatible", result.incompatible)
      .add("conflicted", result.conflicted)
      .add("not_resolved", std::move(not_resolved))
      .take();
}

std::string render_json(const resolution& result, const analysis& facts,
                        const ox::package_spec_manager& specs) {
  return dump_json(resolution_json(result, facts, specs));
}

}  // namespace oxpm
}  // namespace tarvik

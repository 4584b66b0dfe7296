#include "report.hpp"

#include <algorithm>
#include <sstream>

#include "touched.hpp"

namespace tarvik {
namespace oxpm {
namespace {

std::string label(const std::string& id, const ox::version& v) {
  return shown_id(id) + " " + v.getversion();
}

std::string label(const ox::software& sw) {
  return label(sw.id, sw.version);
}

std::string pad(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

class text_report {
 public:
  text_report(const resolution& result, const analysis& facts,
              const ox::package_spec_manager& specs, const text_options& options)
      : result_(result),
        facts_(facts),
        specs_(specs),
        options_(options),
        look_(options.look),
        listed_(options.all ? std::vector<bool>(facts.installed_count, true)
                            : touched_installed(result, facts, specs)),
        version_column_(version_width()) {}

  std::string render() {
    header();
    installed_sections();
    install_section();
    explanations();
    verdict();
    // Columns are padded; a line ends with its last word.
    std::string text = out_.str();
    std::string trimmed;
    trimmed.reserve(text.size());
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      end = end == std::string::npos ? text.size() : end;
      std::size_t last = end;
      while (last > start && text[last - 1] == ' ') {
        --last;
      }
      trimmed.append(text, start, last - start);
      if (end < text.size()) {
        trimmed += '\n';
      }
      start = end + 1;
    }
    return trimmed;
  }

 private:
  void header() {
    const std::string platform = options_.platform.empty()
                                     ? std::string("no platform")
                                     : "platform \"" + printable(options_.platform) + "\"";
    out_ << look_.bold("oxpm resolve") << ", " << platform << ": " << facts_.installed_count
         << " installed, " << result_.install.size() << " to install, " << result_.uninstall.size()
         << " to uninstall\n";
  }

  std::size_t id_width() const {
    std::size_t width = 0;
    for (std::size_t k = 0; k < facts_.installed_count; ++k) {
      if (listed_[k]) {
        width = std::max(width, shown_id(result_.resolved[k].id).size());
      }
    }
    for (const ox::software& sw : result_.install) {
      width = std::max(width, shown_id(sw.id).size() + 3);
    }
    return std::min<std::size_t>(width, 40);
  }

  std::size_t version_width() const {
    std::size_t width = 0;
    for (std::size_t k = 0; k < facts_.installed_count; ++k) {
      if (listed_[k]) {
        width = std::max(width, result_.resolved[k].version.getversion().size());
      }
    }
    for (const ox::software& sw : result_.install) {
      width = std::max(width, sw.version.getversion().size());
    }
    return width;
  }

  std::string row(const std::string& id, const ox::version& v, std::size_t width) const {
    return "  " + pad(shown_id(id), width) + "  " + pad(v.getversion(), version_column_);
  }

  std::string removal_reasons(std::size_t k) const {
    std::vector<std::string> reasons;
    for (const removal& r : facts_.removals[k]) {
      std::string text;
      switch (r.why) {
        case removal::why_t::uninstall_request:
          text = "uninstall request";
          break;
        case removal::why_t::replaced:
          text = "replaced by " + label(result_.install[r.by]);
          break;
        case removal::why_t::uninstalled:
          text = "uninstalled by " + label(result_.install[r.by]);
          if (r.product != result_.resolved[k].id) {
            text += " (its uninstalls list " + shown_id(r.product) + ")";
          }
          break;
      }
      if (std::find(reasons.begin(), reasons.end(), text) == reasons.end()) {
        reasons.push_back(text);
      }
    }
    if (reasons.empty()) {
      return "marked for removal";
    }
    std::string joined;
    for (const std::string& text : reasons) {
      joined += (joined.empty() ? "" : "; ") + text;
    }
    return joined;
  }

  void installed_sections() {
    const std::size_t width = id_width();
    std::vector<std::size_t> stays;
    std::vector<std::size_t> removed;
    for (std::size_t k = 0; k < facts_.installed_count; ++k) {
      if (ox::has_state(result_.resolved[k].state, ox::SOFTWARE_STATE_MARKED_UNINSTALL)) {
        removed.push_back(k);
      } else {
        stays.push_back(k);
      }
    }
    out_ << "\n" << look_.bold("Stays installed (" + std::to_string(stays.size()) + "):") << "\n";
    if (stays.empty()) {
      out_ << "  (none)\n";
    }
    std::size_t untouched = 0;
    for (std::size_t k : stays) {
      if (!listed_[k]) {
        ++untouched;
        continue;
      }
      out_ << row(result_.resolved[k].id, result_.resolved[k].version, width);
      if (const broken_dependent* broken = broken_record(k)) {
        out_ << "  "
             << look_.red("BROKEN: loses its dependency on " + shown_id(broken->check.sref));
      }
      out_ << "\n";
    }
    if (untouched > 0) {
      out_ << "  "
           << look_.dim((untouched == stays.size() ? "" : "... and ") + std::to_string(untouched) +
                        (untouched == stays.size() ? "" : " more") +
                        " installed software untouched by the request; --all lists them")
           << "\n";
    }
    out_ << look_.bold("Removed (" + std::to_string(removed.size()) + "):") << "\n";
    if (removed.empty()) {
      out_ << "  (none)\n";
    }
    for (std::size_t k : removed) {
      out_ << row(result_.resolved[k].id, result_.resolved[k].version, width) << "  "
           << look_.yellow(removal_reasons(k)) << "\n";
    }
    if (!facts_.uninstall_unmatched.empty()) {
      out_ << look_.bold("Uninstall requests that name nothing installed:") << "\n";
      for (std::size_t u : facts_.uninstall_unmatched) {
        out_ << "  " << shown_id(result_.uninstall[u].id) << "  not installed, nothing to remove\n";
      }
    }
  }

  const broken_dependent* broken_record(std::size_t k) const {
    for (const broken_dependent& broken : facts_.broken) {
      if (broken.record == k) {
        return &broken;
      }
    }
    return nullptr;
  }

  std::string status_text(const entry_report& entry) const {
    switch (entry.status) {
      case entry_status::passed:
        return look_.green("ok");
      case entry_status::obsolete:
        return look_.red("FAILED: obsolete version");
      case entry_status::failed_dependency:
        return look_.red("FAILED: dependency not met");
      case entry_status::failed_compatibility:
        return look_.red("FAILED: incompatible");
      case entry_status::no_spec_entry:
        return look_.yellow("not resolved: no catalog entry");
      case entry_status::not_examined:
        return look_.dim("not examined: the walk stopped before it");
    }
    return {};
  }

  void install_section() {
    const std::size_t width = id_width();
    out_ << look_.bold("To install, in request order (" + std::to_string(facts_.install.size()) +
                       "):")
         << "\n";
    if (facts_.install.empty()) {
      out_ << "  (none)\n";
    }
    for (std::size_t i = 0; i < facts_.install.size(); ++i) {
      const entry_report& entry = facts_.install[i];
      const std::string number = std::to_string(i + 1) + ". ";
      out_ << "  " << number
           << pad(shown_id(entry.requested.id), width > number.size() ? width - number.size() : 0)
           << "  " << pad(entry.requested.version.getversion(), version_column_) << "  "
           << status_text(entry) << "\n";
    }
  }

  // Who answered a relation: "the installed halden-db 5.2.0.0" or "halden-db
  // 5.2.0.0, requested before it".
  std::string candidate_text(std::size_t index) const {
    const ox::installing_software& candidate = result_.resolved[index];
    if (index < facts_.installed_count) {
      return "the installed " + label(candidate.id, candidate.version);
    }
    return label(candidate.id, candidate.version) + ", requested before it,";
  }

  static std::string requirement(const ox::internal::relation_decision& check) {
    return "\"" + printable(check.version_text) + "\" (" + human_ranges(check.versions) + ")";
  }

  // What the request already holds of a relation's target: the first entry
  // whose id the target's pattern matches and whose version is in the
  // relation's ranges, accepted before the examined entry (`before`), or
  // requested after it (`after`); -1 when none.
  struct requested_target {
    int before = -1;
    int after = -1;
    int left_out = -1;  // in range, before it, but without catalog entry
  };

  requested_target find_requested(const relation_check& check) const {
    requested_target found;
    const auto at = static_cast<std::size_t>(facts_.stopped_at);
    for (std::size_t i : check.requested_matches) {
      const entry_report& match = facts_.install[i];
      if (i == at || !check.versions.is_within(match.requested.version)) {
        continue;
      }
      if (i < at && match.result_index >= 0 && found.before < 0) {
        found.before = static_cast<int>(i);
      } else if (i < at && match.status == entry_status::no_spec_entry && found.left_out < 0) {
        found.left_out = static_cast<int>(i);
      } else if (i > at && found.after < 0) {
        found.after = static_cast<int>(i);
      }
    }
    return found;
  }

  // The installed software that decided a relation, found before what the
  // request holds of the target; installing the target does not replace it,
  // because an install replaces only installed software with its own id or
  // catalog id (or what its uninstalls name).
  void explain_shadow(const relation_check& check, const ox::software& requested) {
    const ox::installing_software& candidate = result_.resolved[check.candidate];
    out_ << "  " << label(requested) << " is requested before it, but the installed "
         << label(candidate.id, candidate.version) << "\n  answers to " << shown_id(check.sref)
         << "'s ids (\"" << printable(check.target_pattern)
         << "\") and is found first: only the first match counts.\n";
    out_ << "  Installing " << label(requested) << " does not replace " << shown_id(candidate.id)
         << ": an install replaces only\n  installed software with the same id or catalog id.\n";
  }

  bool installed_candidate(const relation_check& check) const {
    return check.candidate != kNoPosition && check.candidate < facts_.installed_count;
  }

  const std::string& candidate_id(const relation_check& check) const {
    return result_.resolved[check.candidate].id;
  }

  // Every hint is checked against the request: it never proposes what the
  // request already does.
  void depends_hint(const entry_report& entry, const relation_check& check) {
    const std::string who = label(entry.requested);
    const std::string sref = shown_id(check.sref);
    const requested_target found = find_requested(check);
    if (found.left_out >= 0) {
      out_ << "  " << label(facts_.install[static_cast<std::size_t>(found.left_out)].requested)
           << " is requested before it, but left out: the catalog has no entry for that "
              "version.\n";
      out_ << "  Hint: request a version of " << sref
           << " in those versions that the catalog has, before " << who << ".\n";
      return;
    }
    // An installed match, not to be removed, that requesting the target
    // leaves in place.
    const bool shadowed = check.outcome == relation_check::outcome_t::wrong_version &&
                          installed_candidate(check) && candidate_id(check) != check.sref;
    if (found.before >= 0 && shadowed) {
      explain_shadow(check, facts_.install[static_cast<std::size_t>(found.before)].requested);
      out_ << "  Hint: uninstall " << shown_id(candidate_id(check)) << " in the same request.\n";
      return;
    }
    if (found.after >= 0) {
      const std::string later =
          label(facts_.install[static_cast<std::size_t>(found.after)].requested);
      out_ << "  " << later << " is requested, but after " << who << ".\n";
      out_ << "  Hint: ";
      if (shadowed) {
        out_ << "uninstall " << shown_id(candidate_id(check)) << " and ";
      }
      out_ << "request " << later << " before " << who << ".\n";
      return;
    }
    if (check.candidate != kNoPosition && !installed_candidate(check)) {
      const ox::installing_software& candidate = result_.resolved[check.candidate];
      out_ << "  Hint: request " << sref << " in those versions instead of "
           << label(candidate.id, candidate.version) << ".\n";
      return;
    }
    out_ << "  Hint: ";
    if (shadowed) {
      out_ << "uninstall " << shown_id(candidate_id(check)) << " and ";
    }
    out_ << "request " << sref << " in those versions before " << who
         << (shadowed ? ", in the same request" : "") << ".\n";
  }

  void compatible_hint(const entry_report& entry, const relation_check& check) {
    const std::string who = label(entry.requested);
    const std::string sref = shown_id(check.sref);
    const ox::installing_software& candidate = result_.resolved[check.candidate];
    const std::string other = "a version of " + shown_id(entry.requested.id) +
                              " that is compatible with " + label(candidate.id, candidate.version);
    const requested_target found = find_requested(check);
    const bool shadowed = installed_candidate(check) && candidate.id != check.sref;
    if (found.before >= 0 && shadowed) {
      explain_shadow(check, facts_.install[static_cast<std::size_t>(found.before)].requested);
      out_ << "  Hint: uninstall " << shown_id(candidate.id) << " in the same request, or request "
           << other << ".\n";
      return;
    }
    if (found.after >= 0) {
      const std::string later =
          label(facts_.install[static_cast<std::size_t>(found.after)].requested);
      out_ << "  " << later << " is requested, but after " << who << ".\n";
      out_ << "  Hint: " << (shadowed ? "uninstall " + shown_id(candidate.id) + " and " : "")
           << "request " << later << " before " << who << ", or request " << other << ".\n";
      return;
    }
    out_ << "  Hint: ";
    if (!installed_candidate(check)) {
      out_ << "request a version of " << sref << " in that range instead of "
           << label(candidate.id, candidate.version);
    } else {
      if (shadowed) {
        out_ << "uninstall " << shown_id(candidate.id) << " and ";
      }
      out_ << "request a version of " << sref << " in that range before " << who;
    }
    out_ << ", or " << other << ".\n";
  }

  void explain_relation(const entry_report& entry, const relation_check& check) {
    const std::string who = label(entry.requested);
    const std::string sref = shown_id(check.sref);
    if (check.kind == relation_check::kind_t::depends) {
      out_ << "  " << who << " depends on " << sref << " in versions " << requirement(check);
      switch (check.outcome) {
        case relation_check::outcome_t::unknown_sref:
          out_ << ",\n  but the catalog has no entry for " << sref
               << ", so this dependency can never be met.\n";
          return;
        case relation_check::outcome_t::missing:
          out_ << ",\n  but no software installed or requested before it is " << sref
               << " (ids matching \"" << printable(check.target_pattern) << "\").\n";
          depends_hint(entry, check);
          return;
        case relation_check::outcome_t::marked: {
          const std::size_t k = check.candidate;
          out_ << ",\n  but " << candidate_text(check.candidate) << " is marked for removal ("
               << removal_reasons(k) << ")";
          if (check.first_match_decided) {
            out_ << ",\n  and the legacy dependency checks stop at the first software that is "
                 << sref << ", marked or not.\n"
                 << "  Hint: without the legacy checks, software installed or requested after it "
                    "can meet the dependency.\n";
            return;
          }
          out_ << ",\n  and nothing else installed or requested before it is " << sref
               << " (ids matching \"" << printable(check.target_pattern) << "\").\n";
          depends_hint(entry, check);
          return;
        }
        case relation_check::outcome_t::wrong_version:
          out_ << ",\n  but " << candidate_text(check.candidate) << " is outside that range.\n";
          depends_hint(entry, check);
          return;
        default:
          out_ << ".\n";
          return;
      }
    }
    out_ << "  " << who << " is compatible with " << sref << " only in "
         << human_ranges(check.versions) << ",\n  but " << candidate_text(check.candidate)
         << " is outside that range.\n";
    compatible_hint(entry, check);
  }

  // The library's own findings, when no judged relation explains them (a
  // result the walk did not record).
  void explain_findings(const ox::installing_software& record) {
    for (const ox::software& failed : record.failed_dependencies) {
      out_ << "  A dependency is not met: it requires software matching \"" << printable(failed.id)
           << "\" in versions \"" << printable(failed.version_text) << "\".\n";
    }
    for (const ox::software& failed : record.failed_compatibilities) {
      out_ << "  It is not compatible with " << label(failed) << ".\n";
    }
  }

  void explain_stop(const entry_report& entry) {
    out_ << "\n" << look_.bold("Why " + label(entry.requested) + " cannot be installed:") << "\n";
    explain_stop_reason(entry);
    std::size_t skipped = 0;
    for (const entry_report& later : facts_.install) {
      skipped += later.status == entry_status::not_examined ? 1 : 0;
    }
    if (skipped > 0) {
      out_ << "  The walk stopped there: "
           << plural(skipped, "later entry was", "later entries were") << " not examined.\n";
    }
  }

  void explain_stop_reason(const entry_report& entry) {
    if (entry.status == entry_status::obsolete) {
      out_ << "  Version " << entry.requested.version.getversion() << " of "
           << shown_id(entry.requested.id) << " is obsolete: its catalog entry "
           << shown_id(entry.spec.sref);
      if (!entry.spec.name.empty()) {
        out_ << " (\"" << printable(entry.spec.name) << "\")";
      }
      out_ << " declares ";
      if (entry.obsolete_hits.empty()) {
        out_ << "it";
      }
      for (std::size_t n = 0; n < entry.obsolete_hits.size(); ++n) {
        out_ << (n == 0 ? "" : " and ")
             << human_ranges(entry.spec.obsoletes[entry.obsolete_hits[n]]);
      }
      out_ << " obsolete.\n";
      out_ << "  Hint: request a version of " << shown_id(entry.requested.id)
           << " that is not obsolete.\n";
      return;
    }
    const ox::installing_software& record =
        result_.resolved[static_cast<std::size_t>(entry.result_index)];
    if (!entry.relations.empty() && !entry.relations.back().ok()) {
      explain_relation(entry, entry.relations.back());
    } else {
      explain_findings(record);
    }
  }

  void explain_left_out(const entry_report& entry) {
    out_ << "\n" << look_.bold("Why " + label(entry.requested) + " was left out:") << "\n";
    if (!entry.id_known) {
      out_ << "  No catalog entry answers to the id " << shown_id(entry.requested.id);
      if (!options_.platform.empty()) {
        out_ << " for platform \"" << printable(options_.platform) << "\"";
      }
      out_ << ".\n";
      return;
    }
    std::vector<std::string> covered;
    for (const ox::software_spec& spec : specs_.get_specs()) {
      if (spec.sref == entry.requested.id ||
          specs_.find_software_id(spec.softwareids, entry.requested.id)) {
        covered.push_back(human_ranges(spec.versions));
      }
    }
    out_ << "  The catalog has entries for " << shown_id(entry.requested.id)
         << ", but none for version " << entry.requested.version.getversion();
    if (!covered.empty()) {
      out_ << "; they cover ";
      for (std::size_t n = 0; n < covered.size(); ++n) {
        out_ << (n == 0 ? "" : "; ") << covered[n];
      }
    }
    out_ << ".\n";
  }

  // "B 1.0 stays installed, but loses its dependency on A ...: the request
  // removes A 1.0" or "... replaces it with A 2.0, outside that range".
  void explain_broken(const broken_dependent& broken) {
    const ox::installing_software& record = result_.resolved[broken.record];
    const ox::installing_software& lost = result_.resolved[broken.lost];
    const ox::internal::relation_decision& check = broken.check;
    const std::string sref = shown_id(check.sref);
    out_ << "\n"
         << look_.bold("Why " + label(record.id, record.version) + " is left broken:") << "\n";
    out_ << "  " << label(record.id, record.version)
         << " stays installed, but loses its dependency on " << sref << " in versions "
         << requirement(check) << ":\n  the installed " << label(lost.id, lost.version)
         << " meets it today, and the request ";
    if (check.candidate != kNoPosition && check.candidate >= facts_.installed_count) {
      const ox::installing_software& after = result_.resolved[check.candidate];
      out_ << "replaces it with " << label(after.id, after.version) << ", outside that range.\n";
    } else if (check.candidate != kNoPosition) {
      out_ << "removes it (" << removal_reasons(broken.lost) << ");\n  then "
           << candidate_text(check.candidate) << " answers, outside that range.\n";
    } else {
      out_ << "removes it (" << removal_reasons(broken.lost)
           << "),\n  and nothing else that stays is " << sref << " (ids matching \""
           << printable(check.target_pattern) << "\").\n";
    }
    out_ << "  Hint: keep " << sref << " in those versions, or uninstall "
         << label(record.id, record.version) << " in the same request.\n";
  }

  void explanations() {
    for (const broken_dependent& broken : facts_.broken) {
      explain_broken(broken);
    }
    for (const entry_report& entry : facts_.install) {
      if (stops_walk(entry.status)) {
        explain_stop(entry);
      } else if (entry.status == entry_status::no_spec_entry) {
        explain_left_out(entry);
      }
    }
  }

  void verdict() {
    out_ << "\n";
    if (facts_.ok(result_.incompatible, result_.conflicted)) {
      out_ << look_.green("Result: the request can be carried out.") << "\n";
      return;
    }
    out_ << look_.red("Result: the request cannot be carried out as asked.") << "\n";
    for (const entry_report& entry : facts_.install) {
      if (stops_walk(entry.status)) {
        out_ << "  - " << label(entry.requested) << ": " << status_name(entry.status) << "\n";
      }
    }
    std::size_t left_out = 0;
    std::size_t not_examined = 0;
    for (const entry_report& entry : facts_.install) {
      left_out += entry.status == entry_status::no_spec_entry ? 1 : 0;
      not_examined += entry.status == entry_status::not_examined ? 1 : 0;
    }
    if (left_out > 0) {
      out_ << "  - " << plural(left_out, "requested entry", "requested entries")
           << " without catalog entry\n";
    }
    if (not_examined > 0) {
      out_ << "  - " << plural(not_examined, "requested entry", "requested entries")
           << " not examined\n";
    }
    for (const broken_dependent& broken : facts_.broken) {
      const ox::installing_software& record = result_.resolved[broken.record];
      out_ << "  - " << label(record.id, record.version)
           << ": stays installed, but loses its dependency on " << shown_id(broken.check.sref)
           << "\n";
    }
    if (result_.incompatible && facts_.stopped_at < 0 && facts_.broken.empty()) {
      out_ << "  - the resolved list is incompatible\n";
    }
    if (result_.conflicted) {
      out_ << "  - the resolved list holds detected conflicts\n";
    }
  }

  const resolution& result_;
  const analysis& facts_;
  const ox::package_spec_manager& specs_;
  const text_options& options_;
  const style& look_;
  // Per installed record: whether it has a row.
  const std::vector<bool> listed_;
  std::ostringstream out_;
  // The version column spans every row: its width is worked out once, not
  // per row (that is a version formatted per row and per entry).
  const std::size_t version_column_;
};

}  // namespace

std::string render_text(const resolution& result, const analysis& facts,
                        const ox::package_spec_manager& specs, const text_options& options) {
  return text_report(result, facts, specs, options).render();
}

}  // namespace oxpm
}  // namespace tarvik

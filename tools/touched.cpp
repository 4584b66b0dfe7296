#include "touched.hpp"

#include <algorithm>
#include <optional>

#include "patterns.hpp"
#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace oxpm {

int first_answering(const ox::package_spec_manager& specs,
                    const std::vector<ox::installing_software>& resolved, const std::string& sref,
                    bool& known) {
  ox::software_spec target;
  try {
    target = specs.find_id(sref);
  } catch (const ox::pm_exception&) {
    known = false;
    return -1;
  }
  known = true;
  for (std::size_t k = 0; k < resolved.size(); ++k) {
    if (specs.find_software_id(target.softwareids, resolved[k].id)) {
      return static_cast<int>(k);
    }
  }
  return -1;
}

namespace {

bool begins_with(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// first_answering, testing the pattern only against the records whose id the
// host's description of it admits. The first record is always tested, as
// first_answering tests it: a pattern that does not compile fails alike.
int first_answering_narrowed(const ox::package_spec_manager& specs,
                             const std::vector<ox::installing_software>& resolved,
                             const std::string& sref, const ox_regex_literals_s* literals) {
  ox::software_spec target;
  try {
    target = specs.find_id(sref);
  } catch (const ox::pm_exception&) {
    return -1;
  }
  const std::optional<pattern_description> described =
      describe_pattern(literals, target.softwareids);
  for (std::size_t k = 0; k < resolved.size(); ++k) {
    const std::string& id = resolved[k].id;
    const bool admitted =
        k == 0 || !described ||
        std::find(described->exact.begin(), described->exact.end(), id) != described->exact.end() ||
        std::any_of(described->prefixes.begin(), described->prefixes.end(),
                    [&id](const std::string& prefix) { return begins_with(id, prefix); });
    if (admitted && specs.find_software_id(target.softwareids, id)) {
      return static_cast<int>(k);
    }
  }
  return -1;
}

}  // namespace

std::vector<bool> touched_installed(const resolution& result, const analysis& facts,
                                    const ox::package_spec_manager& specs,
                                    const ox_regex_literals_s* literals) {
  std::vector<bool> touched(facts.installed_count, false);
  const auto touch = [&](int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < touched.size()) {
      touched[static_cast<std::size_t>(index)] = true;
    }
  };
  for (std::size_t k = 0; k < facts.installed_count && k < facts.removals.size(); ++k) {
    if (!facts.removals[k].empty() ||
        ox::has_state(result.resolved[k].state, ox::SOFTWARE_STATE_MARKED_UNINSTALL)) {
      touched[k] = true;
    }
  }
  for (const broken_dependent& broken : facts.broken) {
    touch(static_cast<int>(broken.record));
    touch(static_cast<int>(broken.lost));
    touch(index_of(broken.check.candidate));
  }
  for (const entry_report& entry : facts.install) {
    for (const relation_check& check : entry.relations) {
      touch(index_of(check.candidate));
      for (std::size_t passed : check.passed_over) {
        touch(static_cast<int>(passed));
      }
    }
    if (entry.status != entry_status::not_examined || !entry.has_spec) {
      continue;
    }
    for (const ox::depend& dep : entry.spec.depends) {
      touch(first_answering_narrowed(specs, result.resolved, dep.sref, literals));
    }
    for (const ox::compatible& comp : entry.spec.compatibles) {
      touch(first_answering_narrowed(specs, result.resolved, comp.sref, literals));
    }
  }
  return touched;
}

}  // namespace oxpm
}  // namespace tarvik

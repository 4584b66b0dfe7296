#include "touched.hpp"

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

std::vector<bool> touched_installed(const resolution& result, const analysis& facts,
                                    const ox::package_spec_manager& specs) {
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
    bool known = false;
    for (const ox::depend& dep : entry.spec.depends) {
      touch(first_answering(specs, result.resolved, dep.sref, known));
    }
    for (const ox::compatible& comp : entry.spec.compatibles) {
      touch(first_answering(specs, result.resolved, comp.sref, known));
    }
  }
  return touched;
}

}  // namespace oxpm
}  // namespace tarvik

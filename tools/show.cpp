#include "show.hpp"

#include <sstream>
#include <vector>

#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/software.hpp"
#include "tarvik/ox/version.hpp"

namespace tarvik {
namespace oxpm {
namespace {

std::string in_quotes(const std::string& text) {
  return "\"" + printable(text) + "\"";
}

void list(std::ostringstream& out, const style& look, const char* heading,
          const std::vector<std::string>& items) {
  out << "  " << look.bold(heading) << (items.empty() ? " (none)" : "") << "\n";
  for (const std::string& item : items) {
    out << "    " << item << "\n";
  }
}

std::string named(const ox::software& sw) {
  return printable(sw.id) + (sw.name.empty() ? std::string() : " (" + in_quotes(sw.name) + ")");
}

}  // namespace

const char* action_name(ox::conflict_action action) {
  switch (action) {
    case ox::CONFLICT_ACTION_ERRORFAIL:
      return "ErrorFail";
    case ox::CONFLICT_ACTION_UNINSTALL:
      return "Uninstall";
    case ox::CONFLICT_ACTION_IGNORE:
      return "Ignore";
    default:
      return "unknown";
  }
}

std::string render_spec(const ox::software_spec& spec, const style& look) {
  std::ostringstream out;
  out << look.bold(printable(spec.sref));
  if (!spec.name.empty()) {
    out << " (" << in_quotes(spec.name) << ")";
  }
  out << "\n";
  out << "  " << look.bold("versions:") << " " << human_ranges(spec.versions);
  if (!spec.versions.ranges.empty()) {
    out << "  [" << spec.versions.get() << "]";
  }
  out << "\n";
  out << "  " << look.bold("softwareids:") << " " << in_quotes(spec.softwareids) << "\n";

  std::vector<std::string> items;
  for (const ox::software& sw : spec.provides) {
    items.push_back(named(sw));
  }
  list(out, look, "provides:", items);

  items.clear();
  for (const ox::software& sw : spec.uninstalls) {
    items.push_back(named(sw));
  }
  list(out, look, "uninstalls:", items);

  items.clear();
  for (const ox::version_ranges& ranges : spec.obsoletes) {
    items.push_back(human_ranges(ranges));
  }
  list(out, look, "obsoletes:", items);

  items.clear();
  for (const ox::depend& dep : spec.depends) {
    items.push_back(printable(dep.sref) + " " + in_quotes(dep.version_text) + " (" +
                    human_ranges(dep.versions) + ")");
  }
  list(out, look, "depends:", items);

  items.clear();
  for (const ox::compatible& comp : spec.compatibles) {
    items.push_back(printable(comp.sref) + " " + human_ranges(comp.versions));
  }
  list(out, look, "compatibles:", items);

  items.clear();
  for (const ox::conflict& found : spec.conflicts) {
    std::string item = in_quotes(found.name) + ", action " + action_name(found.action);
    if (found.check != nullptr && found.check->type == ox::CONFLICT_CHECK_REGISTRY) {
      const auto* registry = static_cast<const ox::conflict_check_registry*>(found.check.get());
      item += ": registry hkey " + in_quotes(registry->hkey) + ", path " +
              in_quotes(registry->path) + ", key " + in_quotes(registry->key) + ", match " +
              in_quotes(registry->match);
    }
    items.push_back(item);
  }
  list(out, look, "conflicts:", items);
  return out.str();
}

show_result show_entry(const ox::package_spec_manager& specs, const std::string& id,
                       const std::optional<std::string>& version_text, const style& look) {
  show_result result;
  ox::software_spec spec;
  try {
    if (version_text.has_value()) {
      spec = specs.find(ox::software(id, ox::version(*version_text)));
    } else {
      spec = specs.find_id(id);
    }
    result.found = true;
  } catch (const ox::pm_exception&) {
    result.found = false;
  }
  std::ostringstream out;
  if (result.found) {
    out << render_spec(spec, look);
    out << "  " << look.bold("answers to:") << " " << in_quotes(id)
        << (spec.sref == id ? " (its sref)" : " (through its softwareids pattern)") << "\n";
    result.text = out.str();
    return result;
  }
  std::vector<std::string> covered;
  for (const ox::software_spec& entry : specs.get_specs()) {
    if (entry.sref == id || specs.find_software_id(entry.softwareids, id)) {
      covered.push_back(human_ranges(entry.versions));
    }
  }
  out << in_quotes(id);
  if (version_text.has_value()) {
    out << " version " << ox::version(*version_text).getversion();
  }
  out << ": " << look.red("not found") << "\n";
  if (version_text.has_value() && !covered.empty()) {
    out << "  Entries answer to " << in_quotes(id) << " for other versions:\n";
    for (const std::string& ranges : covered) {
      out << "    " << ranges << "\n";
    }
  } else {
    out << "  No specification entry answers to this id.\n";
  }
  result.text = out.str();
  return result;
}

}  // namespace oxpm
}  // namespace tarvik

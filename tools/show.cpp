#include "show.hpp"

#include <sstream>
#include <vector>

#include "json_out.hpp"
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
  return shown_id(sw.id) + (sw.name.empty() ? std::string() : " (" + in_quotes(sw.name) + ")");
}

using json = nlohmann::ordered_json;

// The entry a look-up returns, if any.
std::optional<ox::software_spec> look_up(const ox::package_spec_manager& specs,
                                         const std::string& id,
                                         const std::optional<std::string>& version_text) {
  try {
    if (version_text.has_value()) {
      return specs.find(ox::software(id, ox::version(*version_text)));
    }
    return specs.find_id(id);
  } catch (const ox::pm_exception&) {
    return std::nullopt;
  }
}

// The version ranges of every entry that answers to the id, in catalog order.
std::vector<ox::version_ranges> answering_versions(const ox::package_spec_manager& specs,
                                                   const std::string& id) {
  std::vector<ox::version_ranges> out;
  for (const ox::software_spec& entry : specs.get_specs()) {
    if (entry.sref == id || specs.find_software_id(entry.softwareids, id)) {
      out.push_back(entry.versions);
    }
  }
  return out;
}

json ranges_json(const ox::version_ranges& ranges) {
  json out = json::array();
  for (const ox::version_range& range : ranges.ranges) {
    out.push_back(object_builder(2)
                      .add("min", range.min.getversion())
                      .add("max", range.max.getversion())
                      .take());
  }
  return out;
}

json named_json(const std::vector<ox::software>& list) {
  json out = json::array();
  for (const ox::software& sw : list) {
    out.push_back(object_builder(2).add("id", sw.id).add("name", sw.name).take());
  }
  return out;
}

json entry_json(const ox::software_spec& spec) {
  json obsoletes = json::array();
  for (const ox::version_ranges& ranges : spec.obsoletes) {
    obsoletes.push_back(ranges_json(ranges));
  }
  json depends = json::array();
  for (const ox::depend& dep : spec.depends) {
    depends.push_back(object_builder(3)
                          .add("sref", dep.sref)
                          .add("version_text", dep.version_text)
                          .add("versions", ranges_json(dep.versions))
                          .take());
  }
  json compatibles = json::array();
  for (const ox::compatible& comp : spec.compatibles) {
    compatibles.push_back(object_builder(2)
                              .add("sref", comp.sref)
                              .add("versions", ranges_json(comp.versions))
                              .take());
  }
  json conflicts = json::array();
  for (const ox::conflict& found : spec.conflicts) {
    json registry = nullptr;
    if (found.check != nullptr && found.check->type == ox::CONFLICT_CHECK_REGISTRY) {
      const auto* check = static_cast<const ox::conflict_check_registry*>(found.check.get());
      registry = object_builder(4)
                     .add("hkey", check->hkey)
                     .add("path", check->path)
                     .add("key", check->key)
                     .add("match", check->match)
                     .take();
    }
    conflicts.push_back(object_builder(3)
                            .add("name", found.name)
                            .add("action", action_name(found.action))
                            .add("registry", std::move(registry))
                            .take());
  }
  return object_builder(11)
      .add("sref", spec.sref)
      .add("name", spec.name)
      .add("softwareids", spec.softwareids)
      .add("versions", ranges_json(spec.versions))
      .add("versions_text", spec.versions.get())
      .add("provides", named_json(spec.provides))
      .add("uninstalls", named_json(spec.uninstalls))
      .add("obsoletes", std::move(obsoletes))
      .add("depends", std::move(depends))
      .add("compatibles", std::move(compatibles))
      .add("conflicts", std::move(conflicts))
      .take();
}

}  // namespace

json show_json(const ox::package_spec_manager& specs, const std::string& id,
               const std::optional<std::string>& version_text) {
  const std::optional<ox::software_spec> spec = look_up(specs, id, version_text);
  json other_versions = json::array();
  if (!spec) {
    for (const ox::version_ranges& ranges : answering_versions(specs, id)) {
      other_versions.push_back(ranges_json(ranges));
    }
  }
  return object_builder(8)
      .add("schema_version", kJsonSchemaVersion)
      .add("found", spec.has_value())
      .add("id", id)
      .add("version",
           version_text.has_value() ? json(ox::version(*version_text).getversion()) : json(nullptr))
      .add("entry", spec ? entry_json(*spec) : json(nullptr))
      .add("answers_through",
           spec ? json(spec->sref == id ? "sref" : "softwareids") : json(nullptr))
      .add("answering_versions", std::move(other_versions))
      .take();
}

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
  out << look.bold(shown_id(spec.sref));
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
    items.push_back(shown_id(dep.sref) + " " + in_quotes(dep.version_text) + " (" +
                    human_ranges(dep.versions) + ")");
  }
  list(out, look, "depends:", items);

  items.clear();
  for (const ox::compatible& comp : spec.compatibles) {
    items.push_back(shown_id(comp.sref) + " " + human_ranges(comp.versions));
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
  const std::optional<ox::software_spec> found = look_up(specs, id, version_text);
  result.found = found.has_value();
  std::ostringstream out;
  if (result.found) {
    out << render_spec(*found, look);
    out << "  " << look.bold("answers to:") << " " << in_quotes(id)
        << (found->sref == id ? " (its sref)" : " (through its softwareids pattern)") << "\n";
    result.text = out.str();
    return result;
  }
  std::vector<std::string> covered;
  for (const ox::version_ranges& ranges : answering_versions(specs, id)) {
    covered.push_back(human_ranges(ranges));
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
    out << "  No catalog entry answers to this id.\n";
  }
  result.text = out.str();
  return result;
}

}  // namespace oxpm
}  // namespace tarvik

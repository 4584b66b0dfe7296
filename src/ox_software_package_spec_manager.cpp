// The package specification: its record types' out-of-line parts, the import
// of the host's XML document and the look-ups over the imported entries.
//
// The look-ups are deliberately plain: a linear walk in list order that
// compiles the entry's pattern afresh for every test. Keep them that way; any
// faster path must give the same answers as this one.
#include "tarvik/ox/package_spec_manager.hpp"

#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "host/log.hpp"
#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {
namespace {

using internal::kTagSpecManager;

// Only pm_exception leaves a public operation; anything else (in practice,
// exhausted memory) is reported as an unexpected failure.
template <typename Operation>
auto only_pm_exception(Operation&& operation) -> decltype(operation()) {
  try {
    return operation();
  } catch (const pm_exception&) {
    throw;
  } catch (...) {
    throw pm_exception(OX_ERROR_UNEXPECTED);
  }
}

// Walks the child elements of the container `name` below a software element
// and hands each to `read`. A missing container is no error. Exhausted memory
// leaves through here; the public parsers stop it, import undoes the document.
template <typename Read>
void for_each_child(std::shared_ptr<xml_node>& software_element, const char* name, Read&& read) {
  if (!software_element) {
    return;
  }
  std::shared_ptr<xml_node> container = software_element->find(name);
  if (container->get() == nullptr) {
    return;
  }
  for (std::shared_ptr<xml_node> child = container->get_first_child(); child->get() != nullptr;
       child = child->get_next_sibling()) {
    read(*child);
  }
}

void read_provides(std::shared_ptr<xml_node>& node, software_spec& spec) {
  for_each_child(node, "provides", [&spec](xml_node& child) {
    const char* id = child.attribute_get("id");
    const char* name = child.attribute_get("name");
    if (id == nullptr || name == nullptr) {
      return;
    }
    software record;
    record.set_id(id);
    record.set_name(name);
    spec.provides.push_back(std::move(record));
  });
}

void read_uninstalls(std::shared_ptr<xml_node>& node, software_spec& spec) {
  for_each_child(node, "uninstalls", [&spec](xml_node& child) {
    const char* sref = child.attribute_get("sref");
    const char* name = child.attribute_get("name");
    if (sref == nullptr || name == nullptr) {
      return;
    }
    software record;
    record.set_id(sref);
    record.set_name(name);
    spec.uninstalls.push_back(std::move(record));
  });
}

void read_obsoletes(std::shared_ptr<xml_node>& node, software_spec& spec) {
  for_each_child(node, "obsoletes", [&spec](xml_node& child) {
    const char* version_text = child.attribute_get("version");
    if (version_text == nullptr) {
      return;
    }
    version_ranges record;
    record.set(version_text);
    spec.obsoletes.push_back(std::move(record));
  });
}

void read_depends(std::shared_ptr<xml_node>& node, software_spec& spec) {
  for_each_child(node, "depends", [&spec](xml_node& child) {
    const char* sref = child.attribute_get("sref");
    const char* version_text = child.attribute_get("version");
    if (sref == nullptr || version_text == nullptr) {
      return;
    }
    depend record;
    record.sref = sref;
    record.versions.set(version_text);
    record.version_text = version_text;
    spec.depends.push_back(std::move(record));
  });
}

void read_compatibles(std::shared_ptr<xml_node>& node, software_spec& spec) {
  for_each_child(node, "compatibles", [&spec](xml_node& child) {
    const char* sref = child.attribute_get("sref");
    const char* version_text = child.attribute_get("version");
    if (sref == nullptr || version_text == nullptr) {
      return;
    }
    compatible record;
    record.sref = sref;
    record.versions.set(version_text);
    spec.compatibles.push_back(std::move(record));
  });
}

void read_conflicts(std::shared_ptr<xml_node>& node, software_spec& spec) {
  for_each_child(node, "conflicts", [&spec](xml_node& child) {
    const char* element_name = child.get_name();
    if (element_name == nullptr || std::strcmp(element_name, "registry") != 0) {
      return;
    }
    const char* name = child.attribute_get("name");
    const char* hkey = child.attribute_get("hkey");
    const char* path = child.attribute_get("path");
    const char* key = child.attribute_get("key");
    const char* match = child.attribute_get("match");
    const char* action = child.attribute_get("action");
    if (name == nullptr || hkey == nullptr || path == nullptr || key == nullptr ||
        match == nullptr || action == nullptr) {
      return;
    }
    conflict record;
    record.action = conflict_action_type(action);
    record.name = name;
    auto registry = std::make_shared<conflict_check_registry>();
    registry->hkey = hkey;
    registry->key = key;
    registry->path = path;
    registry->match = match;
    record.check = std::move(registry);
    spec.conflicts.push_back(std::move(record));
  });
}

// The public relation parsers throw nothing: a child that cannot be read for
// want of memory ends the walk, keeping what was appended before.
template <typename Read>
void without_exceptions(Read&& read) noexcept {
  try {
    read();
  } catch (...) {
  }
}

struct regex_release {
  void operator()(ox_regex_s* regex) const noexcept { ox_regex_release(regex); }
};

}  // namespace

conflict_check::~conflict_check() = default;

conflict_check_registry::~conflict_check_registry() = default;

conflict_action conflict_action_type(const char* text) {
  static const char* const kActions[] = {"ErrorFail", "Uninstall", "Ignore"};
  if (text != nullptr) {
    for (conflict_action action = 0; action < 3; ++action) {
      if (std::strcmp(text, kActions[action]) == 0) {
        return action;
      }
    }
  }
  return CONFLICT_ACTION_IGNORE;
}

std::vector<std::string> split(std::string text, std::string separator) {
  return only_pm_exception([&] {
    std::vector<std::string> pieces;
    if (separator.empty()) {
      // No separator can be found in anything: the text stays whole.
      if (!text.empty()) {
        pieces.push_back(std::move(text));
      }
      return pieces;
    }
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t at = text.find(separator, start);
      if (at == std::string::npos) {
        pieces.push_back(text.substr(start));
        break;
      }
      pieces.push_back(text.substr(start, at - start));
      start = at + separator.size();
      if (start == text.size()) {
        pieces.emplace_back();
      }
    }
    return pieces;
  });
}

package_spec_manager::package_spec_manager(ox_context_s* context) : context(context) {}

package_spec_manager::~package_spec_manager() = default;

void package_spec_manager::set_platform(const std::string& platform_name) {
  only_pm_exception([&] { platform = platform_name; });
}

std::string package_spec_manager::get_platform() const {
  return only_pm_exception([&] { return platform; });
}

void package_spec_manager::import(const char* buffer, std::size_t size) {
  // Declared first so that every node below goes before the document.
  oxxml document;
  document.parse(buffer, size);

  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTagSpecManager, "import", "importing spec content.");

  // A document is imported whole or not at all: should memory run out half
  // way, the entries read so far go again and the spec version is restored,
  // so the host never resolves against a silently shortened specification.
  const std::size_t previous_count = specs.size();
  std::string previous_version;
  try {
    previous_version = spec_version;
    std::shared_ptr<xml_node> root = document.root();
    std::shared_ptr<xml_node> specs_element = root->search_by_path("specs");
    const char* version_text = specs_element->attribute_get("version");
    if (version_text != nullptr) {
      OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTagSpecManager, "import", "Spec version: %s",
             version_text);
      spec_version = version_text;
    }

    std::shared_ptr<xml_node> softwares = root->search_by_path("specs/softwares");
    if (softwares->get() == nullptr) {
      return;
    }
    std::shared_ptr<xml_node> child = softwares->get_first_child();
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTagSpecManager, "import", "Parsing for platform=%s",
           platform.c_str());
    while (child->get() != nullptr) {
      parse_software(child);
      child = child->get_next_sibling();
    }
  } catch (...) {
    specs.erase(specs.begin() + static_cast<std::ptrdiff_t>(previous_count), specs.end());
    spec_version.swap(previous_version);
    throw pm_exception(OX_ERROR_OUT_OF_MEMORY);
  }
}

bool package_spec_manager::parse(std::shared_ptr<xml_node>& node) {
  try {
    parse_software(node);
  } catch (...) {
    // An entry that cannot be completed (memory exhausted) is not appended.
  }
  return true;
}

void package_spec_manager::parse_software(std::shared_ptr<xml_node>& node) {
  if (!node || node->get() == nullptr) {
    return;
  }
  const char* element_name = node->get_name();
  if (element_name == nullptr || std::strcmp(element_name, "software") != 0) {
    return;
  }
  const char* sref = node->attribute_get("sref");
  const char* name = node->attribute_get("name");
  const char* platforms = node->attribute_get("platforms");
  const char* version_text = node->attribute_get("version");
  const char* softwareids = node->attribute_get("softwareids");
  if (sref == nullptr || name == nullptr || platforms == nullptr || version_text == nullptr ||
      softwareids == nullptr) {
    return;
  }
  if (std::string_view(platforms).find(platform) == std::string_view::npos) {
    return;
  }
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTagSpecManager, "parse",
         "Parsing for software sref=%s, name=%s, platforms=%s, version=%s, softwareids=%s", sref,
         name, platforms, version_text, softwareids);

  software_spec spec;
  spec.sref = sref;
  spec.name = name;
  spec.softwareids = softwareids;
  spec.versions.set(version_text);
  read_provides(node, spec);
  read_uninstalls(node, spec);
  read_obsoletes(node, spec);
  read_depends(node, spec);
  read_compatibles(node, spec);
  read_conflicts(node, spec);
  specs.push_back(std::move(spec));
}

void package_spec_manager::parse_provides(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_provides(node, spec); });
}

void package_spec_manager::parse_uninstalls(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_uninstalls(node, spec); });
}

void package_spec_manager::parse_obsoletes(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_obsoletes(node, spec); });
}

void package_spec_manager::parse_depends(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_depends(node, spec); });
}

void package_spec_manager::parse_compatibles(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_compatibles(node, spec); });
}

void package_spec_manager::parse_conflicts(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_conflicts(node, spec); });
}

software_spec package_spec_manager::find(const software& sw) const {
  return only_pm_exception([&]() -> software_spec {
    for (const software_spec& entry : specs) {
      if ((entry.sref == sw.id || find_software_id(entry.softwareids, sw.id)) &&
          entry.versions.is_within(sw.version)) {
        return entry;
      }
    }
    throw pm_exception(OX_ERROR_NOT_FOUND);
  });
}

software_spec package_spec_manager::find_id(const std::string& id) const {
  return only_pm_exception([&]() -> software_spec {
    for (const software_spec& entry : specs) {
      if (entry.sref == id || find_software_id(entry.softwareids, id)) {
        return entry;
      }
    }
    throw pm_exception(OX_ERROR_NOT_FOUND);
  });
}

bool package_spec_manager::find_software_id(const std::string& pattern,
                                            const std::string& id) const {
  // The host takes C strings: a NUL byte would silently cut the pattern or the
  // id short and could make a different text match.
  if (pattern.find('\0') != std::string::npos || id.find('\0') != std::string::npos) {
    return false;
  }
  ox_regex_s* handle = nullptr;
  if (ox_regex_create(pattern.c_str(), &handle) != OX_OK) {
    return false;
  }
  const std::unique_ptr<ox_regex_s, regex_release> owner(handle);
  return ox_regex_match(handle, id.c_str()) != 0;
}

bool package_spec_manager::find_orqid_in_spec(std::string orqid, std::string software_id) const {
  try {
    const software_spec entry = find_id(software_id);
    return find_software_id(entry.softwareids, orqid);
  } catch (...) {
    return false;
  }
}

void package_spec_manager::add(const software_spec& spec) {
  only_pm_exception([&] { specs.push_back(spec); });
}

}  // namespace ox
}  // namespace tarvik

// The package catalog (package_spec_manager.hpp): its record types'
// out-of-line parts, the import of the host's XML document and the look-ups
// over the imported entries. The file's name is part of the interface: it is
// the source tag of its log lines, which hosts see.
//
// The look-ups answer as a linear walk in list order that compiles the
// entry's pattern afresh for every test would; that walk is kept as the
// reference (set_indexed_lookups(false)) and the indexed path must give the
// same answers.
#include "tarvik/ox/package_spec_manager.hpp"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "core/failure.hpp"
#include "core/version_text.hpp"
#include "host/log.hpp"
#include "host/regex.hpp"
#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {
namespace {

using internal::kTagSpecManager;

using internal::only_pm_exception;

// The relation containers of a software element: the first child element
// of each name, as a search for it finds it, all found in one walk over the
// element's children. The walk goes through the host's node handles
// directly: the shared wrappers of the public interface would cost an
// allocation per step, and the handles and answers are the same.
struct relation_containers {
  ox_xml_node_s* provides = nullptr;
  ox_xml_node_s* uninstalls = nullptr;
  ox_xml_node_s* obsoletes = nullptr;
  ox_xml_node_s* depends = nullptr;
  ox_xml_node_s* compatibles = nullptr;
  ox_xml_node_s* conflicts = nullptr;
};

relation_containers find_containers(ox_xml_node_s* software_element) {
  static constexpr struct {
    const char* name;
    ox_xml_node_s* relation_containers::*slot;
  } kContainers[] = {
      {"provides", &relation_containers::provides},
      {"uninstalls", &relation_containers::uninstalls},
      {"obsoletes", &relation_containers::obsoletes},
      {"depends", &relation_containers::depends},
      {"compatibles", &relation_containers::compatibles},
      {"conflicts", &relation_containers::conflicts},
  };
  relation_containers found;
  for (ox_xml_node_s* child = ox_xml_node_get_first_child(software_element); child != nullptr;
       child = ox_xml_node_get_next_sibling(child)) {
    const char* name = ox_xml_node_get_name(child);
    if (name == nullptr) {
      continue;
    }
    for (const auto& container : kContainers) {
      if (name[0] == container.name[0] && std::strcmp(name, container.name) == 0) {
        if (found.*container.slot == nullptr) {
          found.*container.slot = child;
        }
        break;
      }
    }
  }
  return found;
}

// Hands each child of `container` (may be null: no children) to `read`, with
// `records` sized once for all of them. Exhausted memory leaves through here;
// the public parsers stop it, import undoes the document.
template <typename Records, typename Read>
void read_children(ox_xml_node_s* container, Records& records, Read&& read) {
  if (container == nullptr) {
    return;
  }
  std::size_t count = 0;
  for (ox_xml_node_s* child = ox_xml_node_get_first_child(container); child != nullptr;
       child = ox_xml_node_get_next_sibling(child)) {
    ++count;
  }
  records.reserve(records.size() + count);
  for (ox_xml_node_s* child = ox_xml_node_get_first_child(container); child != nullptr;
       child = ox_xml_node_get_next_sibling(child)) {
    read(child);
  }
}

ox_xml_node_s* handle_of(const std::shared_ptr<xml_node>& node) {
  return node ? node->get() : nullptr;
}

// The container `name` of the software element behind `node`, as the public
// parsers are handed the element itself.
ox_xml_node_s* container_of(const std::shared_ptr<xml_node>& node, const char* name) {
  ox_xml_node_s* const element = handle_of(node);
  return element == nullptr ? nullptr : ox_xml_node_search(element, name);
}

void read_provides(ox_xml_node_s* container, software_spec& spec) {
  read_children(container, spec.provides, [&spec](ox_xml_node_s* child) {
    const char* id = ox_xml_node_attribute_get(child, "id");
    const char* name = ox_xml_node_attribute_get(child, "name");
    if (id == nullptr || name == nullptr) {
      return;
    }
    software record;
    record.set_id(id);
    record.set_name(name);
    spec.provides.push_back(std::move(record));
  });
}

void read_uninstalls(ox_xml_node_s* container, software_spec& spec) {
  read_children(container, spec.uninstalls, [&spec](ox_xml_node_s* child) {
    const char* sref = ox_xml_node_attribute_get(child, "sref");
    const char* name = ox_xml_node_attribute_get(child, "name");
    if (sref == nullptr || name == nullptr) {
      return;
    }
    software record;
    record.set_id(sref);
    record.set_name(name);
    spec.uninstalls.push_back(std::move(record));
  });
}

void read_obsoletes(ox_xml_node_s* container, software_spec& spec) {
  read_children(container, spec.obsoletes, [&spec](ox_xml_node_s* child) {
    const char* version_text = ox_xml_node_attribute_get(child, "version");
    if (version_text == nullptr) {
      return;
    }
    version_ranges record;
    internal::append_ranges(record.ranges, version_text, std::strlen(version_text));
    spec.obsoletes.push_back(std::move(record));
  });
}

void read_depends(ox_xml_node_s* container, software_spec& spec) {
  read_children(container, spec.depends, [&spec](ox_xml_node_s* child) {
    const char* sref = ox_xml_node_attribute_get(child, "sref");
    const char* version_text = ox_xml_node_attribute_get(child, "version");
    if (sref == nullptr || version_text == nullptr) {
      return;
    }
    const std::size_t version_size = std::strlen(version_text);
    depend record;
    record.sref = sref;
    internal::append_ranges(record.versions.ranges, version_text, version_size);
    record.version_text.assign(version_text, version_size);
    spec.depends.push_back(std::move(record));
  });
}

void read_compatibles(ox_xml_node_s* container, software_spec& spec) {
  read_children(container, spec.compatibles, [&spec](ox_xml_node_s* child) {
    const char* sref = ox_xml_node_attribute_get(child, "sref");
    const char* version_text = ox_xml_node_attribute_get(child, "version");
    if (sref == nullptr || version_text == nullptr) {
      return;
    }
    compatible record;
    record.sref = sref;
    internal::append_ranges(record.versions.ranges, version_text, std::strlen(version_text));
    spec.compatibles.push_back(std::move(record));
  });
}

void read_conflicts(ox_xml_node_s* container, software_spec& spec) {
  read_children(container, spec.conflicts, [&spec](ox_xml_node_s* child) {
    const char* element_name = ox_xml_node_get_name(child);
    if (element_name == nullptr || std::strcmp(element_name, "registry") != 0) {
      return;
    }
    const char* name = ox_xml_node_attribute_get(child, "name");
    const char* hkey = ox_xml_node_attribute_get(child, "hkey");
    const char* path = ox_xml_node_attribute_get(child, "path");
    const char* key = ox_xml_node_attribute_get(child, "key");
    const char* match = ox_xml_node_attribute_get(child, "match");
    const char* action = ox_xml_node_attribute_get(child, "action");
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
  // A document is imported whole or not at all: should memory run out half
  // way, the entries read so far go again and the catalog version is restored,
  // so the host never resolves against a silently shortened catalog.
  const std::size_t previous_count = specs.size();
  std::string previous_version;
  bool version_kept = false;
  auto undo = [&] {
    specs.erase(specs.begin() + static_cast<std::ptrdiff_t>(previous_count), specs.end());
    if (version_kept) {
      spec_version.swap(previous_version);
    }
  };
  {
    // Declared first so that every node below goes before the document. It
    // is released before the new entries are indexed, so that the index can
    // reuse the memory of its tree.
    oxxml document;
    document.parse(buffer, size);

    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTagSpecManager, "import", "importing spec content.");
    try {
      previous_version = spec_version;
      version_kept = true;
      if (!read_document(document)) {
        return;
      }
    } catch (...) {
      undo();
      throw pm_exception(OX_ERROR_OUT_OF_MEMORY);
    }
  }
  // Index the new entries now: look-ups then only read, so that threads may
  // share the catalog, and the first resolution costs what every later one
  // does.
  try {
    index_new_entries();
  } catch (...) {
    undo();
    reindex_after_failure();
    throw pm_exception(OX_ERROR_OUT_OF_MEMORY);
  }
}

bool package_spec_manager::read_document(oxxml& document) {
  ox_xml_node_s* const top = document.root()->get();
  ox_xml_node_s* const specs_element = ox_xml_node_search_by_path(top, "specs");
  const char* version_text = ox_xml_node_attribute_get(specs_element, "version");
  if (version_text != nullptr) {
    OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTagSpecManager, "import", "Spec version: %s",
           version_text);
    spec_version = version_text;
  }

  ox_xml_node_s* const softwares = ox_xml_node_search_by_path(top, "specs/softwares");
  if (softwares == nullptr) {
    return false;
  }
  ox_xml_node_s* const first = ox_xml_node_get_first_child(softwares);
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, kTagSpecManager, "import", "Parsing for platform=%s",
         platform.c_str());
  // Room for every child at once: the list is not copied as it grows, and
  // room a child does not take (another platform, an incomplete element)
  // is never touched.
  std::size_t children = 0;
  for (ox_xml_node_s* child = first; child != nullptr;
       child = ox_xml_node_get_next_sibling(child)) {
    ++children;
  }
  specs.reserve(specs.size() + children);
  for (ox_xml_node_s* child = first; child != nullptr;
       child = ox_xml_node_get_next_sibling(child)) {
    parse_software(child);
  }
  return true;
}

bool package_spec_manager::parse(std::shared_ptr<xml_node>& node) {
  try {
    parse_software(handle_of(node));
  } catch (...) {
    // An entry that cannot be completed (memory exhausted) is not appended.
  }
  return true;
}

void package_spec_manager::parse_software(ox_xml_node_s* node) {
  if (node == nullptr) {
    return;
  }
  const char* element_name = ox_xml_node_get_name(node);
  if (element_name == nullptr || std::strcmp(element_name, "software") != 0) {
    return;
  }
  const char* sref = ox_xml_node_attribute_get(node, "sref");
  const char* name = ox_xml_node_attribute_get(node, "name");
  const char* platforms = ox_xml_node_attribute_get(node, "platforms");
  const char* version_text = ox_xml_node_attribute_get(node, "version");
  const char* softwareids = ox_xml_node_attribute_get(node, "softwareids");
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
  internal::append_ranges(spec.versions.ranges, version_text, std::strlen(version_text));
  const relation_containers containers = find_containers(node);
  read_provides(containers.provides, spec);
  read_uninstalls(containers.uninstalls, spec);
  read_obsoletes(containers.obsoletes, spec);
  read_depends(containers.depends, spec);
  read_compatibles(containers.compatibles, spec);
  read_conflicts(containers.conflicts, spec);
  specs.push_back(std::move(spec));
}

void package_spec_manager::parse_provides(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_provides(container_of(node, "provides"), spec); });
}

void package_spec_manager::parse_uninstalls(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_uninstalls(container_of(node, "uninstalls"), spec); });
}

void package_spec_manager::parse_obsoletes(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_obsoletes(container_of(node, "obsoletes"), spec); });
}

void package_spec_manager::parse_depends(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_depends(container_of(node, "depends"), spec); });
}

void package_spec_manager::parse_compatibles(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_compatibles(container_of(node, "compatibles"), spec); });
}

void package_spec_manager::parse_conflicts(std::shared_ptr<xml_node>& node, software_spec& spec) {
  without_exceptions([&] { read_conflicts(container_of(node, "conflicts"), spec); });
}

// The indexes behind the look-ups. An entry answers to an id through its sref
// (by_sref) or its pattern. Patterns the host describes as a plain
// alternation of literals are indexed by those literals and never compiled;
// patterns it narrows down to some exact texts and prefixes are indexed by
// them and confirmed by the host; the others are tested in list order. Every
// answer is the first entry in list order, as the plain walk gives it.
//
// Entries are only ever appended (an import that fails takes back only what
// it appended), so each look-up indexes what was appended since the last
// one; a shorter list or another capability object rebuilds the index.
struct package_spec_manager::lookup_index {
  using positions = std::vector<std::size_t>;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // The entries indexed under one text: those whose sref it is, those whose
  // pattern has it among its literals, and those the host narrows down to it
  // as an exact text or a prefix. One map for all four, so that a look-up
  // hashes the id once, and an entry whose pattern is its own sref (the
  // usual catalog entry) adds one key, not two.
  struct keyed {
    positions by_sref;
    positions by_literal;
    positions narrowed_exact;
    positions narrowed_prefix;
  };

  const ox_regex_literals_s* capability = nullptr;
  std::size_t indexed = 0;
  std::unordered_map<std::string, keyed> keys;
  std::vector<std::size_t> prefix_lengths;  // of the narrowed prefixes, ascending
  positions undescribed;
  std::vector<internal::pattern_shape::kind> kinds;
  // One per entry, compiled on first use by any thread; a deque, so that
  // appending never moves the ones in use.
  std::deque<internal::shared_pattern> compiled;

  static void append(positions& list, std::size_t at) {
    if (list.empty() || list.back() != at) {
      list.push_back(at);
    }
  }

  const keyed* find_key(const std::string& key) const {
    const auto it = keys.find(key);
    return it == keys.end() ? nullptr : &it->second;
  }

  // The entries under `key` in one of the four lists, or null.
  template <typename List>
  const positions* lookup(const std::string& key, List list) const {
    const keyed* found = find_key(key);
    return found == nullptr ? nullptr : &(found->*list);
  }

  void clear() {
    indexed = 0;
    keys.clear();
    prefix_lengths.clear();
    undescribed.clear();
    kinds.clear();
    compiled.clear();
  }

  void catch_up(const std::vector<software_spec>& specs, const ox_regex_literals_s* host) {
    if (host != capability || specs.size() < indexed) {
      clear();
      capability = host;
    }
    if (indexed == specs.size()) {
      return;  // every look-up comes here; usually nothing is new
    }
    try {
      kinds.reserve(specs.size());
      internal::pattern_shape shape;
      for (std::size_t at = indexed; at < specs.size(); ++at) {
        const software_spec& entry = specs[at];
        // References into the map survive later insertions.
        keyed& own = keys[entry.sref];
        append(own.by_sref, at);
        auto under = [&](const std::string& text) -> keyed& {
          return text == entry.sref ? own : keys[text];
        };
        internal::describe_pattern(capability, entry.softwareids, shape);
        switch (shape.what) {
          case internal::pattern_shape::kind::literals:
            for (const std::string& text : shape.exact) {
              append(under(text).by_literal, at);
            }
            break;
          case internal::pattern_shape::kind::narrowed:
            for (const std::string& text : shape.exact) {
              append(under(text).narrowed_exact, at);
            }
            for (const std::string& prefix : shape.prefixes) {
              append(under(prefix).narrowed_prefix, at);
              const auto length =
                  std::lower_bound(prefix_lengths.begin(), prefix_lengths.end(), prefix.size());
              if (length == prefix_lengths.end() || *length != prefix.size()) {
                prefix_lengths.insert(length, prefix.size());
              }
            }
            break;
          case internal::pattern_shape::kind::unknown:
            undescribed.push_back(at);
            break;
        }
        kinds.push_back(shape.what);
        compiled.emplace_back();
        indexed = at + 1;
      }
    } catch (...) {
      // Half an entry indexed: start over at the next look-up.
      clear();
      throw;
    }
  }

  // The host's answer for the entry's pattern and the id; the pattern is
  // compiled on first use and kept for the life of the entry.
  bool host_matches(const std::vector<software_spec>& specs, std::size_t at,
                    const std::string& id) const {
    return compiled[at].matches(specs[at].softwareids, id);
  }

  // Whether the entry's pattern matches the id.
  bool pattern_matches(const std::vector<software_spec>& specs, std::size_t at,
                       const std::string& id) const {
    if (kinds[at] == internal::pattern_shape::kind::literals) {
      const positions* list =
          internal::c_string_safe(id) ? lookup(id, &keyed::by_literal) : nullptr;
      return list != nullptr && std::binary_search(list->begin(), list->end(), at);
    }
    return host_matches(specs, at, id);
  }

  // The first entry, in list order, that answers to the id and is
  // accepted; kNone when there is none.
  template <typename Accept>
  std::size_t first(const std::vector<software_spec>& specs, const std::string& id,
                    Accept&& accept) const {
    std::size_t best = kNone;
    // Entries that answer to the id for certain: the first accepted one.
    auto settle = [&](const positions* list) {
      if (list == nullptr) {
        return;
      }
      for (std::size_t at : *list) {
        if (at >= best) {
          return;
        }
        if (accept(at)) {
          best = at;
          return;
        }
      }
    };
    const keyed* const exact = find_key(id);
    settle(exact == nullptr ? nullptr : &exact->by_sref);
    if (!internal::c_string_safe(id)) {
      return best;  // no pattern matches it
    }
    settle(exact == nullptr ? nullptr : &exact->by_literal);

    // Entries the host has to decide, in list order, before the best so far.
    positions candidates;
    auto gather = [&](const positions* list) {
      if (list == nullptr) {
        return;
      }
      for (std::size_t at : *list) {
        if (at >= best) {
          break;
        }
        candidates.push_back(at);
      }
    };
    gather(exact == nullptr ? nullptr : &exact->narrowed_exact);
    for (std::size_t length : prefix_lengths) {
      if (length > id.size()) {
        break;
      }
      gather(lookup(id.substr(0, length), &keyed::narrowed_prefix));
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

    auto next_candidate = candidates.begin();
    auto next_undescribed = undescribed.begin();
    while (true) {
      std::size_t at = kNone;
      if (next_candidate != candidates.end()) {
        at = *next_candidate;
      }
      if (next_undescribed != undescribed.end() && *next_undescribed < at) {
        at = *next_undescribed++;
      } else if (at != kNone) {
        ++next_candidate;
      }
      if (at == kNone || at >= best) {
        return best;
      }
      if (accept(at) && host_matches(specs, at, id)) {
        return at;
      }
    }
  }
};

void package_spec_manager::index_new_entries() {
  if (lookup_state == nullptr) {
    lookup_state = std::make_unique<lookup_index>();
  }
  lookup_state->catch_up(specs, internal::regex_literals(context));
}

const package_spec_manager::lookup_index* package_spec_manager::lookups() const {
  // Incomplete only after memory ran out while entries were indexed: those
  // look-ups walk the list, and the next import or add indexes everything.
  if (lookup_state == nullptr || lookup_state->indexed != specs.size()) {
    return nullptr;
  }
  return lookup_state.get();
}

software_spec package_spec_manager::find(const software& sw) const {
  return only_pm_exception([&]() -> software_spec { return find_entry(sw); });
}

software_spec package_spec_manager::find_id(const std::string& id) const {
  return only_pm_exception([&]() -> software_spec { return find_id_entry(id); });
}

const software_spec& package_spec_manager::find_entry(const software& sw) const {
  return only_pm_exception([&]() -> const software_spec& {
    if (const lookup_index* index = indexed_lookups ? lookups() : nullptr) {
      const std::size_t at = index->first(specs, sw.id, [&](std::size_t candidate) {
        return specs[candidate].versions.is_within(sw.version);
      });
      if (at == lookup_index::kNone) {
        throw pm_exception(OX_ERROR_NOT_FOUND);
      }
      return specs[at];
    }
    for (const software_spec& entry : specs) {
      if ((entry.sref == sw.id || find_software_id(entry.softwareids, sw.id)) &&
          entry.versions.is_within(sw.version)) {
        return entry;
      }
    }
    throw pm_exception(OX_ERROR_NOT_FOUND);
  });
}

const software_spec& package_spec_manager::find_id_entry(const std::string& id) const {
  return only_pm_exception([&]() -> const software_spec& {
    if (const lookup_index* index = indexed_lookups ? lookups() : nullptr) {
      const std::size_t at = index->first(specs, id, [](std::size_t) { return true; });
      if (at == lookup_index::kNone) {
        throw pm_exception(OX_ERROR_NOT_FOUND);
      }
      return specs[at];
    }
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
  // Compiled afresh for every test: this is the look-up the indexes must
  // answer as. A pattern the host refuses matches nothing; exhausted memory is
  // no answer and fails the look-up.
  return only_pm_exception([&] { return internal::compiled_pattern(pattern).matches(id); });
}

bool package_spec_manager::find_orqid_in_spec(std::string orqid, std::string software_id) const {
  try {
    if (const lookup_index* index = indexed_lookups ? lookups() : nullptr) {
      // As find_id and find_software_id, without copying the entry.
      const std::size_t at = index->first(specs, software_id, [](std::size_t) { return true; });
      return at != lookup_index::kNone && index->pattern_matches(specs, at, orqid);
    }
    return find_software_id(find_id_entry(software_id).softwareids, orqid);
  } catch (const pm_exception& error) {
    // Only a missing entry is an answer ("no"); exhausted memory and the
    // host's own failures reach the caller.
    internal::rethrow_unless_finding(error);
    return false;
  } catch (const std::bad_alloc&) {
    throw pm_exception(OX_ERROR_UNEXPECTED);
  } catch (...) {
    return false;
  }
}

void package_spec_manager::add(const software_spec& spec) {
  only_pm_exception([&] {
    specs.push_back(spec);
    try {
      index_new_entries();
    } catch (...) {
      specs.pop_back();
      reindex_after_failure();
      throw;
    }
  });
}

void package_spec_manager::reindex_after_failure() noexcept {
  try {
    index_new_entries();
  } catch (...) {
    // Still no memory: look-ups walk the list until the next import or add.
  }
}

}  // namespace ox
}  // namespace tarvik

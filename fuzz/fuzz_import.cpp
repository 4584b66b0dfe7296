// package_spec_manager::import of the raw input, through the reference host's
// XML library: it either appends entries or throws pm_exception with one of
// the host's load codes and changes nothing. A second import of the same
// document appends the same entries again, and the look-ups find what was
// imported.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox_refhost/context.hpp"

namespace {

using tarvik::ox::pm_exception;
using tarvik::ox::software;
using tarvik::ox::software_spec;
using tarvik::ox::version_ranges;
using tarvik::ox_fuzz::require;

// Look-ups compile one pattern per entry they pass, so only the first
// entries are looked up: enough to reach every kind of entry, cheap enough
// to keep the fuzzer fast.
constexpr std::size_t kLookedUpEntries = 8;

bool same_ranges(const version_ranges& a, const version_ranges& b) {
  return a.get() == b.get();
}

bool same_software(const std::vector<software>& a, const std::vector<software>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].id != b[i].id || a[i].name != b[i].name || a[i].version_text != b[i].version_text ||
        a[i].version.getversion() != b[i].version.getversion()) {
      return false;
    }
  }
  return true;
}

// The document can only express registry checks.
bool same_registry_check(const tarvik::ox::conflict_check* a, const tarvik::ox::conflict_check* b) {
  if (a == nullptr || b == nullptr || a->type != tarvik::ox::CONFLICT_CHECK_REGISTRY ||
      b->type != tarvik::ox::CONFLICT_CHECK_REGISTRY) {
    return false;
  }
  const auto& x = static_cast<const tarvik::ox::conflict_check_registry&>(*a);
  const auto& y = static_cast<const tarvik::ox::conflict_check_registry&>(*b);
  return x.hkey == y.hkey && x.path == y.path && x.key == y.key && x.match == y.match;
}

bool same_entry(const software_spec& a, const software_spec& b) {
  if (a.name != b.name || a.sref != b.sref || a.softwareids != b.softwareids ||
      !same_ranges(a.versions, b.versions) || a.obsoletes.size() != b.obsoletes.size() ||
      a.depends.size() != b.depends.size() || a.compatibles.size() != b.compatibles.size() ||
      a.conflicts.size() != b.conflicts.size() || !same_software(a.uninstalls, b.uninstalls) ||
      !same_software(a.provides, b.provides)) {
    return false;
  }
  for (std::size_t i = 0; i < a.obsoletes.size(); ++i) {
    if (!same_ranges(a.obsoletes[i], b.obsoletes[i])) {
      return false;
    }
  }
  for (std::size_t i = 0; i < a.depends.size(); ++i) {
    if (a.depends[i].sref != b.depends[i].sref ||
        a.depends[i].version_text != b.depends[i].version_text ||
        !same_ranges(a.depends[i].versions, b.depends[i].versions)) {
      return false;
    }
  }
  for (std::size_t i = 0; i < a.compatibles.size(); ++i) {
    if (a.compatibles[i].sref != b.compatibles[i].sref ||
        !same_ranges(a.compatibles[i].versions, b.compatibles[i].versions)) {
      return false;
    }
  }
  for (std::size_t i = 0; i < a.conflicts.size(); ++i) {
    if (a.conflicts[i].name != b.conflicts[i].name ||
        a.conflicts[i].action != b.conflicts[i].action ||
        !same_registry_check(a.conflicts[i].check.get(), b.conflicts[i].check.get())) {
      return false;
    }
  }
  return true;
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// Every entry the manager returns for `id` answers to it.
bool answers_to(const tarvik::ox::package_spec_manager& manager, const software_spec& entry,
                const std::string& id) {
  return entry.sref == id || manager.find_software_id(entry.softwareids, id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // No logger is registered: the library's log calls cost nothing.
  tarvik::ox_refhost::context context;
  tarvik::ox::package_spec_manager manager(context.get());
  // An exact copy, so that the sanitizers see any read past the given size.
  const std::vector<char> buffer(data, data + size);

  try {
    manager.import(buffer.data(), buffer.size());
  } catch (const pm_exception& error) {
    require(error.code() == OX_ERROR_PARSE || error.code() == OX_ERROR_LIMIT_EXCEEDED,
            "a document that does not load fails with a load code");
    require(manager.get_specs().empty() && manager.get_spec_version().empty(),
            "a failed import changes nothing");
    return 0;
  }

  const std::vector<software_spec> first = manager.get_specs();
  const std::string spec_version = manager.get_spec_version();
  const std::string text = tarvik::ox_fuzz::as_text(data, size);
  // Every entry comes from one software element, written with that name:
  // references cannot make elements.
  require(first.size() <= count_of(text, "<software"), "one entry per software element at most");

  // The same document again: the same entries once more, after the first.
  try {
    manager.import(buffer.data(), buffer.size());
  } catch (const pm_exception&) {
    require(false, "a document that loaded once loads again");
  }
  const std::vector<software_spec>& both = manager.get_specs();
  require(both.size() == 2 * first.size(), "a second import appends");
  require(manager.get_spec_version() == spec_version, "the same spec version");
  for (std::size_t i = 0; i < first.size(); ++i) {
    require(same_entry(first[i], both[i]), "the first import's entries stay as they were");
    require(same_entry(first[i], both[first.size() + i]), "the second import reads the same");
  }

  for (std::size_t i = 0; i < std::min(first.size(), kLookedUpEntries); ++i) {
    const software_spec& entry = first[i];
    try {
      const software_spec by_id = manager.find_id(entry.sref);
      require(answers_to(manager, by_id, entry.sref), "find_id returns an entry for the id");
      if (!entry.versions.ranges.empty()) {
        const software wanted(entry.sref, entry.versions.ranges.front().min);
        const software_spec by_version = manager.find(wanted);
        require(answers_to(manager, by_version, entry.sref), "find returns an entry for the id");
        require(by_version.versions.is_within(wanted.version),
                "find returns an entry holding the version");
      }
    } catch (const pm_exception&) {
      require(false, "an imported entry is found by its sref");
    }
    // Never throws, whatever the ids.
    static_cast<void>(manager.find_orqid_in_spec(entry.softwareids, entry.sref));
    static_cast<void>(manager.find_orqid_in_spec(entry.sref, entry.name));
  }
  return 0;
}

// The package catalog: entries imported from the host's XML document,
// and the look-ups the dependency stage asks of them.
//
// Threads: import, add and set_platform change the manager and must run
// alone. Every const operation only reads (the index is complete after every
// import and add), so any number of threads may look up at once, and several
// sets of managers on different threads may share one catalog manager, while
// nothing changes it. The host must then allow ox_regex_match on one handle
// from several threads.
#ifndef TARVIK_OX_PACKAGE_SPEC_MANAGER_HPP_
#define TARVIK_OX_PACKAGE_SPEC_MANAGER_HPP_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox/software.hpp"
#include "tarvik/ox/spec.hpp"
#include "tarvik/ox/xml.hpp"

namespace tarvik {
namespace ox {

class package_spec_manager {
 public:
  // `context` is kept, not owned; it serves only to fetch the logger.
  explicit package_spec_manager(ox_context_s* context);
  package_spec_manager(const package_spec_manager&) = delete;
  package_spec_manager& operator=(const package_spec_manager&) = delete;
  ~package_spec_manager();

  // Software elements whose "platforms" attribute does not contain this text
  // are skipped by later imports. Throws nothing short of exhausted memory
  // (pm_exception with OX_ERROR_UNEXPECTED, as every operation here).
  void set_platform(const std::string& platform_name);
  std::string get_platform() const;

  // Reads the document in the first `size` bytes of `buffer` and appends its
  // entries. Throws pm_exception with the host XML library's code when the
  // document cannot be loaded; nothing is appended or logged then. Logs the
  // import ("importing spec content." and the lines that follow). All or
  // nothing: when memory runs out while the entries are read, none of this
  // document's entries is kept, the catalog version is restored and
  // pm_exception(OX_ERROR_OUT_OF_MEMORY) is thrown.
  void import(const char* buffer, std::size_t size);

  // Appends the entry of one child of "softwares" when it is a complete
  // software element for the platform; always true, throws nothing (an entry
  // that cannot be completed for want of memory is not appended).
  bool parse(std::shared_ptr<xml_node>& node);

  // Append the records of one relation container of a software element to the
  // entry; children missing a required attribute are skipped. Throw nothing,
  // log nothing.
  void parse_provides(std::shared_ptr<xml_node>& node, software_spec& spec);
  void parse_uninstalls(std::shared_ptr<xml_node>& node, software_spec& spec);
  void parse_obsoletes(std::shared_ptr<xml_node>& node, software_spec& spec);
  void parse_depends(std::shared_ptr<xml_node>& node, software_spec& spec);
  void parse_compatibles(std::shared_ptr<xml_node>& node, software_spec& spec);
  void parse_conflicts(std::shared_ptr<xml_node>& node, software_spec& spec);

  // The first entry (list order) whose sref equals the id or whose
  // softwareids pattern matches it, and whose versions hold the version.
  // Throws pm_exception(OX_ERROR_NOT_FOUND) when none does.
  software_spec find(const software& sw) const;
  // As find, versions not looked at.
  software_spec find_id(const std::string& id) const;
  // True when the host compiles the pattern and it matches the id; false
  // otherwise. Throws nothing short of exhausted memory (pm_exception with
  // OX_ERROR_UNEXPECTED, also when the host reports it while compiling): a
  // pattern that could not be tried is not taken for one that does not match.
  bool find_software_id(const std::string& pattern, const std::string& id) const;
  // True when the entry of `software_id` (as find_id finds it) has a
  // softwareids pattern matching `orqid`; false when there is no such entry.
  // Throws nothing short of exhausted memory (pm_exception with
  // OX_ERROR_UNEXPECTED) or a pm_exception the host raised during the
  // look-up, passed on with its code. The name ("orqid": a management id)
  // is part of the interface.
  bool find_orqid_in_spec(std::string orqid, std::string software_id) const;
  // Appends a copy; it is found after every entry before it.
  void add(const software_spec& spec);

  // The look-ups above answer through indexes of the entries by sref and,
  // where the host's optional OX_OBJECT_REGEX_LITERALS capability describes a
  // pattern, by the ids it can match; entries whose pattern the host cannot
  // describe are still tested in list order, each pattern compiled once for
  // the life of its entry. The answers are those of walking the list. For
  // testing and diagnosis, false switches to that walk itself: every entry in
  // list order, every pattern compiled afresh for every test. Default true.
  void set_indexed_lookups(bool enabled) { indexed_lookups = enabled; }
  bool get_indexed_lookups() const { return indexed_lookups; }

  // The entries in list order, and the "version" of the last imported "specs"
  // element that had one.
  const std::vector<software_spec>& get_specs() const { return specs; }
  const std::string& get_spec_version() const { return spec_version; }

 private:
  // The dependency stage reads the entries it looks up in place.
  friend class software_dependency_manager;

  // The entries find and find_id return, without the copy; they stay valid
  // until entries are added. Throw as find and find_id do.
  const software_spec& find_entry(const software& sw) const;
  const software_spec& find_id_entry(const std::string& id) const;

  // Reads the catalog version and the software elements of a loaded
  // document; false when it has no "specs/softwares". Lets exhausted memory
  // out so that import can undo itself.
  bool read_document(oxxml& document);
  // parse, letting exhausted memory out so that import can undo itself.
  void parse_software(ox_xml_node_s* node);

  // The indexes behind the look-ups, brought up to date by every import and
  // add (see the source); look-ups only read them.
  struct lookup_index;
  void index_new_entries();
  void reindex_after_failure() noexcept;
  // Null when the index does not cover every entry (memory ran out while it
  // was built): the look-up then walks the list.
  const lookup_index* lookups() const;

  std::string spec_version;
  std::string platform;
  std::vector<software_spec> specs;
  ox_context_s* context;
  bool indexed_lookups = true;
  std::unique_ptr<lookup_index> lookup_state;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_PACKAGE_SPEC_MANAGER_HPP_

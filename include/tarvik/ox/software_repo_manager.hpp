// The package repository the managers are wired to. It keeps nothing: load,
// add and clear return at once and find answers an empty package. No
// operation logs or throws. Threads: it keeps nothing; any operation may run
// on any thread at any time.
#ifndef TARVIK_OX_SOFTWARE_REPO_MANAGER_HPP_
#define TARVIK_OX_SOFTWARE_REPO_MANAGER_HPP_

#include <string>
#include <vector>

#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox/version.hpp"

namespace tarvik {
namespace ox {

// A package record: three texts whose meaning nothing in the library fixes,
// and a version (the greatest version in a new record).
struct software_package {
  software_package() = default;

  std::string id;
  std::string name;
  std::string location;
  tarvik::ox::version version;
};

class software_repo_manager {
 public:
  // `context` is kept, not owned, and never used.
  explicit software_repo_manager(ox_context_s* context);
  software_repo_manager(const software_repo_manager&) = delete;
  software_repo_manager& operator=(const software_repo_manager&) = delete;
  ~software_repo_manager();

  void load();
  // The package is not stored.
  void add(const software_package& package);
  void clear();
  // A new, empty package, whatever the texts.
  software_package find(const std::string& id, const std::string& version_text) const;

 private:
  // Never filled: the repository keeps nothing. The member (name and type)
  // is part of the interface: the class's layout.
  std::vector<software_package> packages;
  [[maybe_unused]] ox_context_s* context;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SOFTWARE_REPO_MANAGER_HPP_

// The software installed on the system, read from the host's
// installed-application store on demand.
//
// Threads: rescan and set_installed_products change the list and must run
// alone; the const operations only read it. Each manager scans through the
// host's store on the calling thread (the reference host lets each thread
// give its stores a source of its own).
#ifndef TARVIK_OX_SYSTEM_SOFTWARE_DATABASE_MANAGER_HPP_
#define TARVIK_OX_SYSTEM_SOFTWARE_DATABASE_MANAGER_HPP_

#include <string>
#include <vector>

#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox/software.hpp"

namespace tarvik {
namespace ox {

class system_software_database_manager {
 public:
  // `context` is kept, not owned; it serves only to fetch the logger.
  explicit system_software_database_manager(ox_context_s* context);
  system_software_database_manager(const system_software_database_manager&) = delete;
  system_software_database_manager& operator=(const system_software_database_manager&) = delete;
  ~system_software_database_manager();

  // Replaces the list with the store's applications, in store order, leaving
  // out those without a version and the ids "SHRSYNC_3000", "KLX_____1000"
  // and "ORQHOST_3000META". Throws pm_exception with the store's code when the
  // scan fails; the previous list is then kept. Logs each software taken in.
  void rescan();
  // The first entry with exactly this id. Throws
  // pm_exception(OX_ERROR_NOT_FOUND) when there is none.
  software find(const std::string& id) const;
  // The list itself, valid for the manager's life.
  std::vector<software>& get_installed_product_list() { return installed_products; }
  // Replaces the list; no filtering, no logging.
  void set_installed_products(std::vector<software> products);

 private:
  std::vector<software> installed_products;
  ox_context_s* context;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SYSTEM_SOFTWARE_DATABASE_MANAGER_HPP_

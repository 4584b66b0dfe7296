// Wrappers over the host's installed-application store. A registry_store owns
// one store handle for the span of one operation; application wraps a handle
// that the store owns and is valid only while that store lives. Threads: a
// store and its applications belong to the thread that made them.
#ifndef TARVIK_OX_REGISTRY_STORE_HPP_
#define TARVIK_OX_REGISTRY_STORE_HPP_

#include <memory>
#include <string>

#include "tarvik/ox/host/ox_registry_store.h"

namespace tarvik {
namespace ox {

class application {
 public:
  // `host_application` may be null: the end of a walk, or its start.
  explicit application(const ox_application_s* host_application) : handle(host_application) {}

  const ox_application_s* get_application() const { return handle; }
  // Copies of the host texts; "" when the host gives null.
  std::string get_software_id() const;
  std::string get_version() const;

 private:
  const ox_application_s* handle;
};

class registry_store {
 public:
  // Creates the host store; a failed creation is not reported here (the scan
  // decides).
  registry_store();
  registry_store(const registry_store&) = delete;
  registry_store& operator=(const registry_store&) = delete;
  // Releases the store, also when its creation failed.
  ~registry_store();

  // Throws pm_exception with the host's code when the scan fails.
  void scan();
  // The application after `previous` (which must hold an application, whose
  // handle may be null to get the first). Never an empty pointer: the end of
  // the walk is an application whose get_application() is null.
  std::shared_ptr<application> next_application(const std::shared_ptr<application>& previous);

 private:
  ox_registry_store_s* store_handle = nullptr;
};

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_REGISTRY_STORE_HPP_

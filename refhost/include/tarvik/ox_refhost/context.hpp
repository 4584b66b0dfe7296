// The reference host's context: the ox_context_s that a host hands to every
// manager. It holds objects by key; the library asks it for the logger under
// OX_OBJECT_LOGGER ("ox.object.logger") and for the regular-expression
// capability under OX_OBJECT_REGEX_LITERALS, which every context registers
// from the start (see regex.hpp).
#ifndef TARVIK_OX_REFHOST_CONTEXT_HPP_
#define TARVIK_OX_REFHOST_CONTEXT_HPP_

#include <memory>
#include <string>

#include "tarvik/ox/host/ox_host.h"

namespace tarvik {
namespace ox_refhost {

class logger;

class context {
 public:
  context();
  context(const context&) = delete;
  context& operator=(const context&) = delete;
  ~context();

  // The handle to give to the managers; valid for this object's life.
  ox_context_s* get() const { return handle_.get(); }

  // Registers `object` (not owned; null removes the key) under `key`.
  // Safe to call while other threads read the context.
  void set_object(const std::string& key, void* object);
  void* get_object(const std::string& key) const;

  // Registers the logger's handle under OX_OBJECT_LOGGER; null removes it.
  // The logger must outlive its registration.
  void set_logger(logger* log);

 private:
  std::unique_ptr<ox_context_s> handle_;
};

}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_CONTEXT_HPP_

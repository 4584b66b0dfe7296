#include "tarvik/ox_refhost/context.hpp"

#include <map>
#include <mutex>
#include <new>

#include "tarvik/ox/host/ox_utils.h"
#include "tarvik/ox_refhost/logger.hpp"

struct ox_context_s {
  mutable std::mutex mutex;
  std::map<std::string, void*, std::less<>> objects;
};

namespace tarvik {
namespace ox_refhost {

context::context() : handle_(new ox_context_s) {}

context::~context() = default;

void context::set_object(const std::string& key, void* object) {
  std::lock_guard<std::mutex> lock(handle_->mutex);
  if (object == nullptr) {
    handle_->objects.erase(key);
  } else {
    handle_->objects[key] = object;
  }
}

void* context::get_object(const std::string& key) const {
  return ox_context_get_object_info(handle_.get(), key.c_str());
}

void context::set_logger(logger* log) {
  set_object(OX_OBJECT_LOGGER, log == nullptr ? nullptr : log->handle());
}

}  // namespace ox_refhost
}  // namespace tarvik

extern "C" void* ox_context_get_object_info(ox_context_s* context, const char* key) {
  if (context == nullptr || key == nullptr) {
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(context->mutex);
  auto it = context->objects.find(std::string_view(key));
  return it == context->objects.end() ? nullptr : it->second;
}

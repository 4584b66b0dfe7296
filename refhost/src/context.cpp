#include "tarvik/ox_refhost/context.hpp"

#include <algorithm>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarvik/ox/host/ox_utils.h"
#include "tarvik/ox_refhost/logger.hpp"
#include "tarvik/ox_refhost/regex.hpp"

// A context holds a handful of objects and is asked for one before every
// log line: a short list searched in place beats a tree of nodes.
struct ox_context_s {
  mutable std::mutex mutex;
  std::vector<std::pair<std::string, void*>> objects;

  auto find(std::string_view key) {
    return std::find_if(
        objects.begin(), objects.end(),
        [key](const std::pair<std::string, void*>& item) { return item.first == key; });
  }
};

namespace tarvik {
namespace ox_refhost {

// The regular-expression capability describes the process-wide ox_regex_*
// functions, so every context offers it; a host that wants the library's
// plain walks removes it with set_object(OX_OBJECT_REGEX_LITERALS, nullptr).
context::context() : handle_(new ox_context_s) {
  // The object is constant; the library only reads it.
  set_object(OX_OBJECT_REGEX_LITERALS,
             const_cast<ox_regex_literals_s*>(regex_literals()));  // NOLINT
}

context::~context() = default;

void context::set_object(const std::string& key, void* object) {
  std::lock_guard<std::mutex> lock(handle_->mutex);
  const auto it = handle_->find(key);
  if (object == nullptr) {
    if (it != handle_->objects.end()) {
      handle_->objects.erase(it);
    }
  } else if (it != handle_->objects.end()) {
    it->second = object;
  } else {
    handle_->objects.emplace_back(key, object);
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
  const auto it = context->find(key);
  return it == context->objects.end() ? nullptr : it->second;
}

// The reference host's installed-application store: the C interface
// (ox_registry_store.h) over the sources of store.hpp.
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "store_internal.hpp"
#include "tarvik/ox/host/ox_registry_store.h"
#include "tarvik/ox_refhost/store.hpp"

// One application of a snapshot. It knows its place so that the next one can
// be found from the handle alone, and its store so that a handle of another
// store is not followed.
struct ox_application_s {
  const ox_registry_store_s* owner = nullptr;
  const std::vector<ox_application_s>* walk = nullptr;
  std::size_t index = 0;
  std::string id;
  std::string version;
  bool has_version = false;
};

struct ox_registry_store_s {
  std::shared_ptr<tarvik::ox_refhost::store_source> source;
  // Every successful scan adds one; older ones stay until the store is
  // released because their handles may still be in use.
  std::vector<std::unique_ptr<std::vector<ox_application_s>>> snapshots;
};

namespace {
using tarvik::ox_refhost::store_internal::set_last_error;
using tarvik::ox_refhost::store_internal::this_thread_state;
using tarvik::ox_refhost::store_internal::thread_store_state;
}  // namespace

using tarvik::ox_refhost::installed_application;

extern "C" int ox_registry_store_create(ox_registry_store_s** store) {
  thread_store_state& state = this_thread_state();
  ++state.counts.create_calls;
  state.last_create_failure = OX_ERROR_INVALID_ARGUMENT;
  if (store == nullptr) {
    return OX_ERROR_INVALID_ARGUMENT;
  }
  *store = nullptr;
  if (state.fail_next_create != OX_OK) {
    state.last_create_failure = state.fail_next_create;
    state.fail_next_create = OX_OK;
    return state.last_create_failure;
  }
  try {
    std::shared_ptr<tarvik::ox_refhost::store_source> source =
        tarvik::ox_refhost::current_store_source();
    std::unique_ptr<ox_registry_store_s> created(new ox_registry_store_s);
    created->source = std::move(source);
    *store = created.release();
    state.last_create_failure = OX_OK;
    return OX_OK;
  } catch (const std::bad_alloc&) {
    state.last_create_failure = OX_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    state.last_create_failure = OX_ERROR_UNEXPECTED;
  }
  return state.last_create_failure;
}

extern "C" int ox_registry_store_scan(ox_registry_store_s* store) {
  set_last_error(std::string());
  if (store == nullptr) {
    // The caller scans whatever handle the creation left; a creation that
    // failed for want of memory must not be reported as a bad argument.
    const ox_error_e failure = this_thread_state().last_create_failure;
    set_last_error("no store to scan: its creation failed");
    return failure != OX_OK ? failure : OX_ERROR_INVALID_ARGUMENT;
  }
  try {
    std::vector<installed_application> applications;
    std::string error;
    ox_error_e code = OX_OK;
    if (store->source != nullptr) {
      code = store->source->read(applications, error);
    }
    if (code != OX_OK) {
      if (error.empty()) {
        error = "the store's source failed with code " + std::to_string(static_cast<int>(code));
      }
      set_last_error(std::move(error));
      return code;
    }
    // A source of the embedding program's own may hand over anything; a text
    // with a NUL byte would reach the library cut short.
    for (std::size_t i = 0; i < applications.size(); ++i) {
      const installed_application& app = applications[i];
      const bool cut = app.id.find('\0') != std::string::npos ||
                       (app.version.has_value() && app.version->find('\0') != std::string::npos);
      if (cut) {
        set_last_error("store source: entry " + std::to_string(i + 1) +
                       ": id or version holds a NUL byte");
        return OX_ERROR_INVALID_ARGUMENT;
      }
    }
    auto walk = std::make_unique<std::vector<ox_application_s>>(applications.size());
    for (std::size_t i = 0; i < applications.size(); ++i) {
      ox_application_s& entry = (*walk)[i];
      entry.owner = store;
      entry.walk = walk.get();
      entry.index = i;
      entry.id = std::move(applications[i].id);
      entry.has_version = applications[i].version.has_value();
      if (entry.has_version) {
        entry.version = std::move(*applications[i].version);
      }
    }
    store->snapshots.push_back(std::move(walk));
    return OX_OK;
  } catch (const std::bad_alloc&) {
    set_last_error("out of memory while reading the installed applications");
    return OX_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    set_last_error("unexpected failure while reading the installed applications");
    return OX_ERROR_UNEXPECTED;
  }
}

extern "C" const ox_application_s* ox_registry_store_get_next_application(
    ox_registry_store_s* store, const ox_application_s* previous) {
  if (store == nullptr) {
    return nullptr;
  }
  if (previous == nullptr) {
    if (store->snapshots.empty() || store->snapshots.back()->empty()) {
      return nullptr;
    }
    return &store->snapshots.back()->front();
  }
  if (previous->owner != store) {
    return nullptr;
  }
  const std::size_t next = previous->index + 1;
  return next < previous->walk->size() ? &(*previous->walk)[next] : nullptr;
}

extern "C" int ox_registry_store_release(ox_registry_store_s* store) {
  thread_store_state& state = this_thread_state();
  ++state.counts.release_calls;
  if (store == nullptr) {
    ++state.counts.null_release_calls;
    return OX_OK;
  }
  delete store;
  return OX_OK;
}

extern "C" const char* ox_application_get_software_id(const ox_application_s* application) {
  return application != nullptr ? application->id.c_str() : nullptr;
}

extern "C" const char* ox_application_get_version(const ox_application_s* application) {
  return application != nullptr && application->has_version ? application->version.c_str()
                                                            : nullptr;
}

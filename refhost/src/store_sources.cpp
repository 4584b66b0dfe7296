// The store's sources and the choice of source (store.hpp), and each
// thread's scan state.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "store_internal.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace ox_refhost {

namespace store_internal {

thread_store_state& this_thread_state() {
  thread_local thread_store_state state;
  return state;
}

void set_last_error(std::string message) noexcept {
  this_thread_state().last_error = std::move(message);
}

void set_last_error(const char* message) noexcept {
  try {
    this_thread_state().last_error = message;
  } catch (...) {
    this_thread_state().last_error.clear();
  }
}

}  // namespace store_internal

namespace {

using store_internal::this_thread_state;
using store_internal::thread_store_state;

std::mutex& global_source_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<store_source>& global_source() {
  static std::shared_ptr<store_source> source;
  return source;
}

std::string errno_text(int error) {
  return std::error_code(error, std::generic_category()).message();
}

ox_error_e read_whole_file(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (file == nullptr) {
    error = path + ": cannot open: " + errno_text(errno);
    return OX_ERROR_IO;
  }
  char buffer[64 * 1024];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof(buffer), file.get());
    if (got > kMaxSourceBytes - text.size()) {
      error = path + ": larger than " + std::to_string(kMaxSourceBytes) + " bytes";
      text.clear();
      return OX_ERROR_LIMIT_EXCEEDED;
    }
    text.append(buffer, got);
    if (got < sizeof(buffer)) {
      break;
    }
  }
  if (std::ferror(file.get()) != 0) {
    error = path + ": cannot read: " + errno_text(errno);
    text.clear();
    return OX_ERROR_IO;
  }
  return OX_OK;
}

// ---------------------------------------------------------------------------
// File sources.

using text_parser = ox_error_e (*)(std::string_view, std::vector<installed_application>&,
                                   std::string&);

class file_source : public store_source {
 public:
  file_source(std::string path, text_parser parser) : path_(std::move(path)), parser_(parser) {}

  ox_error_e read(std::vector<installed_application>& out, std::string& error) override {
    std::string text;
    ox_error_e code = read_whole_file(path_, text, error);
    if (code != OX_OK) {
      return code;
    }
    std::string reason;
    code = parser_(text, out, reason);
    if (code != OX_OK) {
      error = path_ + ": " + reason;
    }
    return code;
  }

 private:
  const std::string path_;
  const text_parser parser_;
};

}  // namespace

bool operator==(const installed_application& a, const installed_application& b) {
  return a.id == b.id && a.version == b.version;
}

bool operator!=(const installed_application& a, const installed_application& b) {
  return !(a == b);
}

store_source::~store_source() = default;

memory_store_source::memory_store_source(std::vector<installed_application> applications)
    : applications_(std::move(applications)) {}

void memory_store_source::set_applications(std::vector<installed_application> applications) {
  std::lock_guard<std::mutex> lock(mutex_);
  applications_ = std::move(applications);
}

void memory_store_source::add(std::string id, std::optional<std::string> version) {
  std::lock_guard<std::mutex> lock(mutex_);
  applications_.push_back(installed_application{std::move(id), std::move(version)});
}

ox_error_e memory_store_source::read(std::vector<installed_application>& out, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fail_code_ != OX_OK) {
    const ox_error_e code = fail_code_;
    fail_code_ = OX_OK;
    error = fail_message_.empty() ? "in-memory store: scan made to fail with code " +
                                        std::to_string(static_cast<int>(code))
                                  : std::move(fail_message_);
    fail_message_.clear();
    return code;
  }
  out = applications_;
  return OX_OK;
}

std::shared_ptr<memory_store_source> make_memory_source(
    std::vector<installed_application> applications) {
  return std::make_shared<memory_store_source>(std::move(applications));
}

std::shared_ptr<store_source> make_inventory_source(std::string path) {
  return std::make_shared<file_source>(std::move(path), &parse_inventory_json);
}

std::shared_ptr<store_source> make_dpkg_status_source(std::string path) {
  return std::make_shared<file_source>(std::move(path), &parse_dpkg_status);
}

void set_store_source(std::shared_ptr<store_source> source) {
  std::lock_guard<std::mutex> lock(global_source_mutex());
  global_source().swap(source);
  // The previous source is released outside the lock (when `source` goes).
}

std::shared_ptr<store_source> current_store_source() {
  const thread_store_state& state = this_thread_state();
  if (state.override_active) {
    return state.override_source;
  }
  std::lock_guard<std::mutex> lock(global_source_mutex());
  return global_source();
}

scoped_store_source::scoped_store_source(std::shared_ptr<store_source> source) {
  thread_store_state& state = this_thread_state();
  previous_active_ = state.override_active;
  previous_ = std::move(state.override_source);
  state.override_active = true;
  state.override_source = std::move(source);
}

scoped_store_source::~scoped_store_source() {
  thread_store_state& state = this_thread_state();
  state.override_active = previous_active_;
  state.override_source = std::move(previous_);
}

std::string last_store_error() {
  return this_thread_state().last_error;
}

}  // namespace ox_refhost
}  // namespace tarvik

#include "tarvik/ox_refhost/logger.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "tarvik/ox/host/ox_logger.h"

namespace tarvik {
namespace ox_refhost {
namespace {

void append_escaped(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
  }
}

}  // namespace

std::string format_log_line(const log_record& record) {
  std::string line = std::to_string(record.severity);
  line += ' ';
  line += record.service;
  line += ' ';
  line += record.file;
  line += ':';
  line += std::to_string(record.line);
  line += ' ';
  line += record.function;
  line += ": ";
  append_escaped(line, record.message);
  return line;
}

log_sink::~log_sink() = default;

bool log_sink::accepts(int /*severity*/) const {
  return true;
}

stream_sink::stream_sink(std::ostream& out, int max_severity)
    : out_(out), max_severity_(max_severity) {}

void stream_sink::write(const log_record& record) {
  if (record.severity > max_severity_) {
    return;
  }
  std::string line = format_log_line(record);
  line += '\n';
  std::lock_guard<std::mutex> lock(mutex_);
  out_.write(line.data(), static_cast<std::streamsize>(line.size()));
  out_.flush();
}

std::unique_ptr<file_sink> file_sink::open(const std::string& path, int max_severity,
                                           std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    if (error != nullptr) {
      *error = path + ": " + std::strerror(errno);
    }
    return nullptr;
  }
  return std::unique_ptr<file_sink>(new file_sink(file, max_severity));
}

file_sink::~file_sink() {
  std::fclose(file_);
}

void file_sink::write(const log_record& record) {
  if (record.severity > max_severity_) {
    return;
  }
  std::string line = format_log_line(record);
  line += '\n';
  std::lock_guard<std::mutex> lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

void capture_sink::write(const log_record& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(record);
}

std::vector<log_record> capture_sink::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

std::vector<std::string> capture_sink::messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  out.reserve(records_.size());
  for (const log_record& record : records_) {
    out.push_back(record.message);
  }
  return out;
}

void capture_sink::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
}

logger::logger() = default;

logger::logger(std::shared_ptr<log_sink> sink) {
  add_sink(std::move(sink));
}

logger::~logger() = default;

void logger::add_sink(std::shared_ptr<log_sink> sink) {
  if (sink == nullptr) {
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  sinks_.push_back(std::move(sink));
  has_sinks_.store(true, std::memory_order_release);
}

bool logger::wants(int severity) noexcept {
  // Sinks are only ever added: a logger without any (the usual case when
  // nobody reads the log) answers without taking the lock.
  if (!has_sinks_.load(std::memory_order_acquire)) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::shared_ptr<log_sink>& sink : sinks_) {
    if (sink->accepts(severity)) {
      return true;
    }
  }
  return false;
}

void logger::dispatch(const log_record& record) noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::shared_ptr<log_sink>& sink : sinks_) {
    try {
      if (sink->accepts(record.severity)) {
        sink->write(record);
      }
    } catch (...) {
      // A failing sink must not disturb the writer or the other sinks.
    }
  }
}

}  // namespace ox_refhost
}  // namespace tarvik

extern "C" int ox_log(void* logger, int severity, const char* service, const char* file, int line,
                      const char* function, const char* format, ...) {
  if (logger == nullptr || format == nullptr) {
    return OX_ERROR_INVALID_ARGUMENT;
  }
  auto* target = static_cast<tarvik::ox_refhost::logger*>(logger);
  if (!target->wants(severity)) {
    return OX_OK;
  }
  try {
    tarvik::ox_refhost::log_record record;
    record.severity = severity;
    record.service = service != nullptr ? service : "";
    record.file = file != nullptr ? file : "";
    record.line = line;
    record.function = function != nullptr ? function : "";

    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char small[512];
    int needed = std::vsnprintf(small, sizeof(small), format, args);
    va_end(args);
    if (needed < 0) {
      va_end(again);
      return OX_ERROR_INVALID_ARGUMENT;
    }
    try {
      if (static_cast<std::size_t>(needed) < sizeof(small)) {
        record.message.assign(small, static_cast<std::size_t>(needed));
      } else {
        record.message.resize(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(&record.message[0], record.message.size(), format, again);
        record.message.resize(static_cast<std::size_t>(needed));
      }
    } catch (...) {
      va_end(again);
      throw;
    }
    va_end(again);

    target->dispatch(record);
    return OX_OK;
  } catch (const std::bad_alloc&) {
    return OX_ERROR_OUT_OF_MEMORY;
  } catch (...) {
    return OX_ERROR_UNEXPECTED;
  }
}

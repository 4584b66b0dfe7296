// The reference host's logger. ox_log expands each call printf-style and hands
// the record to the logger's sinks. A sink that fails (a full disk, an
// exception) is ignored: logging never disturbs the library.
#ifndef TARVIK_OX_REFHOST_LOGGER_HPP_
#define TARVIK_OX_REFHOST_LOGGER_HPP_

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace tarvik {
namespace ox_refhost {

struct log_record {
  int severity = 0;
  std::string service;
  std::string file;  // the writer's source tag
  int line = 0;
  std::string function;
  std::string message;  // the expanded format
};

// "<severity> <service> <file>:<line> <function>: <message>", with control
// characters of the message written as \xNN so that a record is one line.
std::string format_log_line(const log_record& record);

class log_sink {
 public:
  virtual ~log_sink();
  virtual void write(const log_record& record) = 0;
  // Whether a record of this severity would be kept. The logger formats a
  // line only when some sink accepts it, so filtering sinks make logging
  // that nobody reads cost next to nothing.
  virtual bool accepts(int severity) const;
};

// Writes records whose severity is at most `max_severity` (2 keeps failures
// only, 5 keeps progress too) as formatted lines. Thread-safe.
class stream_sink : public log_sink {
 public:
  // The stream is borrowed and must outlive the sink.
  explicit stream_sink(std::ostream& out, int max_severity = 5);
  void write(const log_record& record) override;
  bool accepts(int severity) const override { return severity <= max_severity_; }

 private:
  std::mutex mutex_;
  std::ostream& out_;
  int max_severity_;
};

// As stream_sink, into a file it opens and owns. Thread-safe.
class file_sink : public log_sink {
 public:
  // Opens (truncates) `path`; returns null and sets *error (when given) to a
  // message naming the file and the reason when it cannot.
  static std::unique_ptr<file_sink> open(const std::string& path, int max_severity,
                                         std::string* error);
  ~file_sink() override;
  void write(const log_record& record) override;
  bool accepts(int severity) const override { return severity <= max_severity_; }

 private:
  file_sink(std::FILE* file, int max_severity) : file_(file), max_severity_(max_severity) {}
  std::mutex mutex_;
  std::FILE* file_;
  int max_severity_;
};

// Records everything, for tests. Thread-safe.
class capture_sink : public log_sink {
 public:
  void write(const log_record& record) override;
  std::vector<log_record> records() const;
  // The expanded messages, in order.
  std::vector<std::string> messages() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<log_record> records_;
};

// The object behind the logger handle. Sinks are shared; add them before the
// logger is used (adding is thread-safe, but a line being written while a sink
// is added may miss it).
class logger {
 public:
  logger();
  explicit logger(std::shared_ptr<log_sink> sink);
  logger(const logger&) = delete;
  logger& operator=(const logger&) = delete;
  ~logger();

  void add_sink(std::shared_ptr<log_sink> sink);
  // The handle that ox_log accepts; valid for this object's life.
  void* handle() { return this; }

  // Whether some sink accepts records of this severity.
  bool wants(int severity) noexcept;
  // Hands the record to every sink that accepts it; exceptions from sinks
  // are swallowed.
  void dispatch(const log_record& record) noexcept;

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<log_sink>> sinks_;
  std::atomic<bool> has_sinks_{false};
};

}  // namespace ox_refhost
}  // namespace tarvik

#endif  // TARVIK_OX_REFHOST_LOGGER_HPP_

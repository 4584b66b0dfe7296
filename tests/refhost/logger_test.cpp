#include "tarvik/ox_refhost/logger.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

#include "tarvik/ox/host/ox_logger.h"
#include "tarvik/ox_refhost/context.hpp"

namespace tarvik {
namespace ox_refhost {
namespace {

class throwing_sink : public log_sink {
 public:
  void write(const log_record&) override { throw std::runtime_error("disk full"); }
};

TEST(RefhostLoggerTest, StreamSinkWritesOneFormattedLinePerCallUpToItsThreshold) {
  std::ostringstream progress_out;
  std::ostringstream failure_out;
  logger log;
  log.add_sink(std::make_shared<stream_sink>(progress_out, 5));
  log.add_sink(std::make_shared<stream_sink>(failure_out, 2));

  EXPECT_EQ(ox_log(log.handle(), 5, "pm_service", "ox_package_manager", 42, "resolve",
                   "resolving <%s>, %d", "A(1.0.0.0); ", 7),
            OX_OK);
  ox_log(log.handle(), 2, "pm_service", "ox_software_dependency_manager", 9,
         "check_installorder_compatibility", "%s", "Entry not found in spec.");

  EXPECT_EQ(progress_out.str(),
            "5 pm_service ox_package_manager:42 resolve: resolving <A(1.0.0.0); >, 7\n"
            "2 pm_service ox_software_dependency_manager:9 check_installorder_compatibility: "
            "Entry not found in spec.\n");
  EXPECT_EQ(failure_out.str(),
            "2 pm_service ox_software_dependency_manager:9 check_installorder_compatibility: "
            "Entry not found in spec.\n");
}

class counting_sink : public log_sink {
 public:
  explicit counting_sink(int max_severity) : max_severity_(max_severity) {}
  void write(const log_record&) override { ++writes; }
  bool accepts(int severity) const override { return severity <= max_severity_; }
  int writes = 0;

 private:
  int max_severity_;
};

TEST(RefhostLoggerTest, LinesNoSinkAcceptsAreNeitherFormattedNorWritten) {
  auto failures_only = std::make_shared<counting_sink>(2);
  logger log(failures_only);
  EXPECT_FALSE(log.wants(5));
  EXPECT_TRUE(log.wants(2));
  ox_log(log.handle(), 5, "pm_service", "tag", 1, "fn", "%s", "progress");
  ox_log(log.handle(), 2, "pm_service", "tag", 2, "fn", "%s", "failure");
  EXPECT_EQ(failures_only->writes, 1);

  auto everything = std::make_shared<counting_sink>(5);
  log.add_sink(everything);
  ox_log(log.handle(), 5, "pm_service", "tag", 3, "fn", "%s", "progress");
  EXPECT_EQ(failures_only->writes, 1);
  EXPECT_EQ(everything->writes, 1);

  logger silent;
  EXPECT_FALSE(silent.wants(2));
  EXPECT_EQ(ox_log(silent.handle(), 2, "pm_service", "tag", 4, "fn", "%s", "dropped"), OX_OK);
}

TEST(RefhostLoggerTest, ControlCharactersCannotSplitALine) {
  log_record record;
  record.severity = 5;
  record.service = "pm_service";
  record.file = "f";
  record.line = 1;
  record.function = "fn";
  record.message = "a\nb\x01\x7f";
  EXPECT_EQ(format_log_line(record), "5 pm_service f:1 fn: a\\x0ab\\x01\\x7f");
}

TEST(RefhostLoggerTest, CaptureSinkRecordsEveryField) {
  auto capture = std::make_shared<capture_sink>();
  logger log(capture);
  std::string long_value(2000, 'x');
  ox_log(log.handle(), 5, "pm_service", "tag", 3, "fn", "<%s>", long_value.c_str());
  auto records = capture->records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].severity, 5);
  EXPECT_EQ(records[0].service, "pm_service");
  EXPECT_EQ(records[0].file, "tag");
  EXPECT_EQ(records[0].line, 3);
  EXPECT_EQ(records[0].function, "fn");
  EXPECT_EQ(records[0].message, "<" + long_value + ">");
  capture->clear();
  EXPECT_TRUE(capture->messages().empty());
}

TEST(RefhostLoggerTest, FailingSinkAndNullLoggerNeverDisturbTheWriter) {
  auto capture = std::make_shared<capture_sink>();
  logger log;
  log.add_sink(std::make_shared<throwing_sink>());
  log.add_sink(capture);
  EXPECT_EQ(ox_log(log.handle(), 5, "pm_service", "tag", 1, "fn", "%s", "kept"), OX_OK);
  EXPECT_EQ(capture->messages(), std::vector<std::string>{"kept"});
  EXPECT_NE(ox_log(nullptr, 5, "pm_service", "tag", 1, "fn", "%s", "dropped"), OX_OK);
}

TEST(RefhostLoggerTest, FileSinkWritesAndReportsOpenFailures) {
  std::string error;
  EXPECT_EQ(file_sink::open("/nonexistent-dir/x.log", 5, &error), nullptr);
  EXPECT_NE(error.find("/nonexistent-dir/x.log"), std::string::npos);

  char path[] = "/tmp/ox_log_test_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    std::shared_ptr<log_sink> sink = file_sink::open(path, 2, &error);
    ASSERT_NE(sink, nullptr);
    logger log(sink);
    ox_log(log.handle(), 5, "pm_service", "tag", 1, "fn", "%s", "progress");
    ox_log(log.handle(), 2, "pm_service", "tag", 2, "fn", "%s", "failure");
  }
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "2 pm_service tag:2 fn: failure\n");
  std::remove(path);
}

TEST(RefhostContextTest, HoldsObjectsByKey) {
  context ctx;
  int value = 0;
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), "missing"), nullptr);
  ctx.set_object("k", &value);
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), "k"), &value);
  EXPECT_EQ(ctx.get_object("k"), &value);
  ctx.set_object("k", nullptr);
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), "k"), nullptr);
  EXPECT_EQ(ox_context_get_object_info(nullptr, "k"), nullptr);
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), nullptr), nullptr);

  logger log;
  ctx.set_logger(&log);
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), "ox.object.logger"), log.handle());
}

}  // namespace
}  // namespace ox_refhost
}  // namespace tarvik

// The reference host's logger and context: line format, sinks and their
// thresholds, a failing sink, the file sink, objects held by key.
#include "tarvik/ox_refhost/logger.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/temp_file.hpp"
#include "tarvik/ox/host/ox_logger.h"
#include "tarvik/ox_refhost/context.hpp"

namespace tarvik {
namespace ox_refhost {
namespace {

struct throwing_sink : log_sink {
  void write(const log_record&) override { throw std::runtime_error("disk full"); }
};

struct counting_sink : log_sink {
  explicit counting_sink(int max) : max_severity(max) {}
  void write(const log_record&) override { ++writes; }
  bool accepts(int severity) const override { return severity <= max_severity; }
  int max_severity;
  int writes = 0;
};

TEST(RefhostLoggerTest, SinksGetOneFormattedLinePerCallUpToTheirThreshold) {
  std::ostringstream progress_out;
  std::ostringstream failure_out;
  auto capture = std::make_shared<capture_sink>();
  logger log(std::make_shared<throwing_sink>());  // disturbs nobody after it
  log.add_sink(capture);
  log.add_sink(std::make_shared<stream_sink>(progress_out, 5));
  log.add_sink(std::make_shared<stream_sink>(failure_out, 2));
  const std::string long_value(2000, 'x');
  EXPECT_EQ(ox_log(log.handle(), 5, "pm_service", "ox_package_manager", 42, "resolve",
                   "resolving <%s>, %d", long_value.c_str(), 7),
            OX_OK);
  ox_log(log.handle(), 2, "pm_service", "ox_dep", 9, "check", "%s", "Entry\nnot found\x01\x7f");

  EXPECT_EQ(progress_out.str(), "5 pm_service ox_package_manager:42 resolve: resolving <" +
                                    long_value + ">, 7\n" +
                                    "2 pm_service ox_dep:9 check: Entry\\x0anot found\\x01\\x7f\n");
  EXPECT_EQ(failure_out.str(), "2 pm_service ox_dep:9 check: Entry\\x0anot found\\x01\\x7f\n");
  const std::vector<log_record> records = capture->records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].severity, 5);
  EXPECT_EQ(records[0].service, "pm_service");
  EXPECT_EQ(records[0].file, "ox_package_manager");
  EXPECT_EQ(records[0].line, 42);
  EXPECT_EQ(records[0].function, "resolve");
  EXPECT_EQ(records[1].message, "Entry\nnot found\x01\x7f");
  capture->clear();
  EXPECT_TRUE(capture->messages().empty());
  EXPECT_NE(ox_log(nullptr, 5, "pm_service", "tag", 1, "fn", "%s", "dropped"), OX_OK);
}

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

TEST(RefhostLoggerTest, FileSinkWritesAndReportsOpenFailures) {
  std::string error;
  EXPECT_EQ(file_sink::open("/nonexistent-dir/x.log", 5, &error), nullptr);
  EXPECT_NE(error.find("/nonexistent-dir/x.log"), std::string::npos);
  const ox_test::temp_file file;
  {
    logger log(file_sink::open(file.path(), 2, &error));
    ox_log(log.handle(), 5, "pm_service", "tag", 1, "fn", "%s", "progress");
    ox_log(log.handle(), 2, "pm_service", "tag", 2, "fn", "%s", "failure");
  }
  std::stringstream content;
  content << std::ifstream(file.path()).rdbuf();
  EXPECT_EQ(content.str(), "2 pm_service tag:2 fn: failure\n");
}

TEST(RefhostContextTest, HoldsObjectsByKey) {
  context ctx;
  logger log;
  ctx.set_logger(&log);
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), "ox.object.logger"), log.handle());
  int value = 0;
  ctx.set_object("k", &value);
  EXPECT_EQ(ox_context_get_object_info(ctx.get(), "k"), &value);
  ctx.set_object("k", nullptr);
  for (const char* key : {"k", "missing", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(ox_context_get_object_info(ctx.get(), key), nullptr);
  }
  EXPECT_EQ(ox_context_get_object_info(nullptr, "ox.object.logger"), nullptr);
}

}  // namespace
}  // namespace ox_refhost
}  // namespace tarvik

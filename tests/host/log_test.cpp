#include "host/log.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "support/test_host.hpp"

namespace tarvik {
namespace ox {
namespace {

using ox_test::test_host;

TEST(LogTest, WritesThroughTheContextLoggerWithServiceAndTag) {
  test_host host;
  // clang-format off
  const int line = __LINE__; OX_LOG(host.context(), OX_LOG_SEVERITY_FAILURE, internal::kTagPackageManager, "resolve", "value %s and %d", "text", 42);
  // clang-format on
  OX_LOG_BLANK(host.context(), internal::kTagDependencyManager, "check");

  const auto records = host.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].severity, 2);
  EXPECT_EQ(records[0].service, "pm_service");
  EXPECT_EQ(records[0].file, "ox_package_manager");
  EXPECT_EQ(records[0].line, line);
  EXPECT_EQ(records[0].function, "resolve");
  EXPECT_EQ(records[0].message, "value text and 42");
  EXPECT_EQ(records[1].severity, 5);
  EXPECT_EQ(records[1].file, "ox_software_dependency_manager");
  EXPECT_EQ(records[1].message, "");
}

TEST(LogTest, FetchesTheLoggerAnewForEveryLine) {
  test_host host;
  auto other_capture = std::make_shared<ox_refhost::capture_sink>();
  ox_refhost::logger other(other_capture);

  OX_LOG(host.context(), 5, internal::kTagSpecManager, "import", "first");
  host.ctx.set_logger(&other);
  OX_LOG(host.context(), 5, internal::kTagSpecManager, "import", "second");
  host.ctx.set_logger(nullptr);
  // No logger registered: the line is dropped, nothing fails.
  OX_LOG(host.context(), 5, internal::kTagSpecManager, "import", "third");

  EXPECT_EQ(host.messages(), std::vector<std::string>{"first"});
  EXPECT_EQ(other_capture->messages(), std::vector<std::string>{"second"});
}

TEST(LogTest, NullContextIsHarmless) {
  OX_LOG(nullptr, 5, internal::kTagSoftwareDatabase, "rescan", "dropped %s", "line");
  OX_LOG_BLANK(nullptr, internal::kTagSoftwareDatabase, "rescan");
  SUCCEED();
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

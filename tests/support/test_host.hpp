// A reference host set up for one test: a context whose logger captures every
// line.
#ifndef TARVIK_OX_TESTS_SUPPORT_TEST_HOST_HPP_
#define TARVIK_OX_TESTS_SUPPORT_TEST_HOST_HPP_

#include <memory>
#include <string>
#include <vector>

#include "support/describe.hpp"
#include "tarvik/ox_refhost/context.hpp"
#include "tarvik/ox_refhost/logger.hpp"

namespace tarvik {
namespace ox_test {

struct test_host {
  test_host() : capture(std::make_shared<ox_refhost::capture_sink>()), log(capture) {
    ctx.set_logger(&log);
  }

  ox_context_s* context() const { return ctx.get(); }
  std::vector<ox_refhost::log_record> records() const { return capture->records(); }
  std::vector<std::string> messages() const { return capture->messages(); }
  // The captured log as describe() prints it.
  std::vector<std::string> lines() const { return describe(capture->records()); }
  void clear() { capture->clear(); }

  std::shared_ptr<ox_refhost::capture_sink> capture;
  ox_refhost::logger log;
  ox_refhost::context ctx;
};

}  // namespace ox_test
}  // namespace tarvik

#endif  // TARVIK_OX_TESTS_SUPPORT_TEST_HOST_HPP_

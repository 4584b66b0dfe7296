#include "inputs.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/temp_file.hpp"

namespace tarvik {
namespace oxpm {
namespace {

// A request nested far deeper than any real one is refused before the
// parser recurses into it (the stack would not hold it).
TEST(RequestJsonTest, DeepNestingIsRefusedWithoutRecursing) {
  const std::string deep =
      "{\"install\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
  try {
    (void)parse_request_json(deep, "request r.json");
    ADD_FAILURE() << "accepted";
  } catch (const input_error& error) {
    EXPECT_NE(std::string(error.what()).find("nested more than"), std::string::npos)
        << error.what();
  }
}

// What read_file gives for `content` in a file, or in a pipe (no size:
// read until the writer closes, over as many reads as it takes, through
// /dev/fd as a path given on the command line would be).
std::string read_back(const std::string& content, std::size_t limit, bool pipe) {
  ox_test::temp_file file(pipe ? std::string() : content, "oxpm_inputs");
  int ends[2] = {-1, -1};
  if (pipe && ::pipe(ends) != 0) {
    return "no pipe";
  }
  std::thread writer([&] {
    for (std::size_t done = 0; pipe && done < content.size();) {
      const ssize_t put = ::write(ends[1], content.data() + done, content.size() - done);
      if (put <= 0) {
        break;  // the reader gave up (EPIPE) after an error
      }
      done += static_cast<std::size_t>(put);
    }
    if (pipe) {
      ::close(ends[1]);
    }
  });
  std::string result;
  try {
    result = read_file(pipe ? "/dev/fd/" + std::to_string(ends[0]) : file.path(), limit);
  } catch (const input_error& error) {
    const std::string what = error.what();
    result = what.substr(what.find(": ") + 2);
  }
  if (pipe) {
    ::close(ends[0]);
  }
  writer.join();
  return result;
}

TEST(ReadFileTest, AsLargeAsTheLimitIsReadAndOneByteMoreIsRefused) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::size_t cases[][2] = {{0, 0},           {0, 10},         {1, 0},         {10, 10},
                                  {11, 10},         {65536, 65536},  {65537, 65536}, {65537, 70000},
                                  {300001, 300001}, {300001, 300000}};
  for (const auto& c : cases) {
    std::string content(c[0], 'x');
    for (std::size_t i = 0; i < content.size(); i += 7) {
      content[i] = static_cast<char>(i % 3 == 0 ? '\0' : 'a' + i % 26);
    }
    const std::string expected =
        c[0] <= c[1] ? content : "larger than " + std::to_string(c[1]) + " bytes";
    for (const bool pipe : {false, true}) {
      EXPECT_EQ(read_back(content, c[1], pipe), expected)
          << c[0] << " bytes, limit " << c[1] << (pipe ? ", pipe" : ", file");
    }
  }
}

TEST(ReadFileSizeTest, ASizeThatDoesNotMatchTheContentIsNotTrusted) {
  // procfs reports 0 bytes for files that hold text; sysfs reports a page for
  // files that hold a line.
  for (const char* path : {"/proc/self/status", "/sys/kernel/mm/transparent_hugepage/enabled"}) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      continue;
    }
    std::ostringstream expected;
    expected << in.rdbuf();
    if (expected.str().empty()) {
      continue;
    }
    const std::string content = read_file(path);
    if (std::string(path) == "/proc/self/status") {
      // The process's own figures move between two reads; its name does not.
      EXPECT_EQ(content.rfind("Name:", 0), 0u) << content;
      EXPECT_EQ(content.back(), '\n');
    } else {
      EXPECT_EQ(content, expected.str()) << path;
    }
  }
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

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

class ReadFileTest : public ::testing::Test {
 protected:
  ox_test::temp_file file_{std::string(), "oxpm_inputs"};
  const std::string& path_ = file_.path();
};

std::string message_of(const std::string& path, std::size_t limit) {
  try {
    (void)read_file(path, limit);
  } catch (const input_error& error) {
    return error.what();
  }
  return "no error";
}

TEST_F(ReadFileTest, AFileAsLargeAsTheLimitIsReadAndOneByteMoreIsRefused) {
  struct size_case {
    std::size_t size;
    std::size_t limit;
    bool fits;
  };
  const size_case cases[] = {
      {0, 0, true},          {0, 10, true},          {1, 0, false},
      {10, 10, true},        {11, 10, false},        {65536, 65536, true},
      {65537, 65536, false}, {200000, 200000, true}, {200001, 200000, false},
  };
  for (const size_case& c : cases) {
    std::string content(c.size, 'x');
    for (std::size_t i = 0; i < content.size(); i += 7) {
      content[i] = static_cast<char>(i % 3 == 0 ? '\0' : 'a' + i % 26);
    }
    {
      std::ofstream out(path_, std::ios::binary | std::ios::trunc);
      out << content;
    }
    if (c.fits) {
      EXPECT_EQ(read_file(path_, c.limit), content) << c.size << " bytes, limit " << c.limit;
    } else {
      EXPECT_EQ(message_of(path_, c.limit),
                path_ + ": larger than " + std::to_string(c.limit) + " bytes")
          << c.size << " bytes, limit " << c.limit;
    }
  }
}

// Pipes have no size: the content is read until the writer closes, over as
// many reads as it takes.
class PipeReadTest : public ::testing::Test {
 protected:
  // Writes `content` into a pipe from another thread and reads it through
  // /dev/fd as a path given on the command line would be.
  std::string read_through_pipe(const std::string& content, std::size_t limit, std::string* error) {
    int ends[2];
    EXPECT_EQ(::pipe(ends), 0);
    std::thread writer([&] {
      std::size_t done = 0;
      while (done < content.size()) {
        const ssize_t put = ::write(ends[1], content.data() + done, content.size() - done);
        if (put <= 0) {
          break;  // the reader gave up (EPIPE) after an error
        }
        done += static_cast<std::size_t>(put);
      }
      ::close(ends[1]);
    });
    std::string result;
    try {
      result = read_file("/dev/fd/" + std::to_string(ends[0]), limit);
    } catch (const input_error& e) {
      *error = e.what();
    }
    ::close(ends[0]);
    writer.join();
    return result;
  }
};

TEST_F(PipeReadTest, ReadsEverythingAndKeepsTheLimit) {
  std::signal(SIGPIPE, SIG_IGN);
  for (const std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{65536},
                                 std::size_t{65537}, std::size_t{300001}}) {
    std::string content(size, 'p');
    for (std::size_t i = 0; i < content.size(); i += 11) {
      content[i] = static_cast<char>('0' + i % 10);
    }
    std::string error;
    EXPECT_EQ(read_through_pipe(content, kMaxInputSize, &error), content) << size;
    EXPECT_EQ(error, "") << size;
  }
  std::string error;
  (void)read_through_pipe(std::string(150000, 'q'), 100000, &error);
  EXPECT_NE(error.find(": larger than 100000 bytes"), std::string::npos) << error;
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

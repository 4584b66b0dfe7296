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

std::string error_of(const std::string& text) {
  try {
    (void)parse_request_json(text, "request r.json");
  } catch (const input_error& error) {
    return error.what();
  }
  return "no error";
}

TEST(RequestJsonTest, ReadsBothListsInOrder) {
  const request asked = parse_request_json(
      R"({"uninstall": [{"id": "U", "version": "1.0"}, {"id": "V"}],
          "install": [{"id": "B", "version": "2.0", "name": "Bee"}, {"id": "A", "version": "0.0.0.0"}]})",
      "r");
  ASSERT_EQ(asked.install.size(), 2u);
  EXPECT_EQ(asked.install[0].id, "B");
  EXPECT_EQ(asked.install[0].version_text, "2.0");
  EXPECT_EQ(asked.install[0].name, "Bee");
  EXPECT_EQ(asked.install[1].id, "A");
  EXPECT_EQ(asked.install[1].version_text, "0.0.0.0");
  ASSERT_EQ(asked.uninstall.size(), 2u);
  EXPECT_EQ(asked.uninstall[0].id, "U");
  EXPECT_TRUE(asked.uninstall[0].has_version);
  EXPECT_EQ(asked.uninstall[1].id, "V");
  EXPECT_FALSE(asked.uninstall[1].has_version);

  const request empty = parse_request_json("{}", "r");
  EXPECT_TRUE(empty.install.empty());
  EXPECT_TRUE(empty.uninstall.empty());
}

TEST(RequestJsonTest, RefusesMalformedAndMisshapenRequestsNamingTheSpot) {
  struct bad_case {
    const char* text;
    const char* expected;  // a part of the message
  };
  const bad_case cases[] = {
      {"", "request r.json: malformed JSON"},
      {"{\"install\": [", "request r.json: malformed JSON"},
      {"[]", "must be a JSON object"},
      {"{\"instal\": []}", "unknown key \"instal\""},
      {"{\"install\": {}}", "request r.json: install must be an array, not an object"},
      {"{\"install\": [1]}", "install[0] must be an object, not a number"},
      {"{\"install\": [{\"version\": \"1.0\"}]}", "install[0]: \"id\" is missing or empty"},
      {"{\"install\": [{\"id\": \"\", \"version\": \"1.0\"}]}", "\"id\" is missing or empty"},
      {"{\"install\": [{\"id\": \"A\"}]}", "install[0]: \"version\" is missing"},
      {"{\"uninstall\": [{\"id\": \"A\", \"version\": 1}]}",
       "uninstall[0]: \"version\" must be a string, not a number"},
      {"{\"install\": [{\"id\": 7, \"version\": \"1\"}]}", "\"id\" must be a string, not a number"},
      {"{\"install\": [{\"id\": \"A\\u0000B\", \"version\": \"1\"}]}", "contains a NUL character"},
      {"{\"install\": [{\"id\": \"A\", \"version\": \"1\", \"extra\": true}]}",
       "unknown key \"extra\""},
      {"{\"install\": [{\"id\": \"A\", \"version\": \"1.0\"}, {\"id\": \"B\"}]}",
       "install[1]: \"version\" is missing"},
      {"{\"uninstall\": [{\"id\": \"A\", \"version\": \"\"}]}",
       "uninstall[0]: the version \"\" is not a version"},
  };
  for (const bad_case& c : cases) {
    EXPECT_NE(error_of(c.text).find(c.expected), std::string::npos)
        << c.text << " gave: " << error_of(c.text);
  }
}

TEST(RequestJsonTest, DeepNestingIsRefusedWithoutRecursing) {
  const std::string deep =
      "{\"install\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
  EXPECT_NE(error_of(deep).find("nested more than"), std::string::npos);
}

TEST(AssignmentTest, SplitsAtTheLastEquals) {
  const request_entry plain = parse_assignment("halden-db=5.2", "--install");
  EXPECT_TRUE(plain.has_version);
  EXPECT_EQ(plain.id, "halden-db");
  EXPECT_EQ(plain.version_text, "5.2");
  const request_entry with_equals = parse_assignment("a=b=1.0", "--install");
  EXPECT_EQ(with_equals.id, "a=b");
  EXPECT_EQ(with_equals.version_text, "1.0");
  const request_entry id_only = parse_assignment("a", "--uninstall", version_need::optional);
  EXPECT_EQ(id_only.id, "a");
  EXPECT_FALSE(id_only.has_version);

  for (const char* bad : {"", "halden-db", "=1.0"}) {
    try {
      (void)parse_assignment(bad, "--install");
      ADD_FAILURE() << "accepted " << bad;
    } catch (const input_error& error) {
      EXPECT_NE(std::string(error.what()).find("--install"), std::string::npos);
      EXPECT_NE(std::string(error.what()).find("expected ID=VERSION"), std::string::npos);
    }
  }
  for (const char* bad : {"a=", "a=1", "a=1.2.3.4.5", "a=1.x", "a=.1", "a=1.", "a=+1.0",
                          "a=4294967296.0", "a= 1.0"}) {
    EXPECT_THROW((void)parse_assignment(bad, "--uninstall", version_need::optional), input_error)
        << bad;
  }
}

TEST(AssignmentTest, VersionsAreReadAsTheLibraryReadsThem) {
  const auto list = to_software({{"A", "1.2", "Ay"}, {"B", "7", ""}, {"C", "-1.0", ""}});
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].version.getversion(), "1.2.0.0");
  EXPECT_EQ(list[0].name, "Ay");
  EXPECT_EQ(list[1].version.getversion(), "0.0.0.0");
  EXPECT_EQ(list[2].version.getversion(), "4294967295.0.0.0");
}

class ReadFileTest : public ::testing::Test {
 protected:
  ox_test::temp_file file_{std::string(), "oxpm_inputs"};
  const std::string& path_ = file_.path();
};

TEST_F(ReadFileTest, ReadsWholeFilesAndNamesTheFileOnFailure) {
  {
    std::ofstream out(path_, std::ios::binary);
    out << std::string("a\0b", 3) << std::string(70000, 'x');
  }
  EXPECT_EQ(read_file(path_).size(), 70003u);

  const auto message = [](const std::string& path, std::size_t limit) {
    try {
      (void)read_file(path, limit);
    } catch (const input_error& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("/nonexistent/oxpm.xml", kMaxInputSize),
            "/nonexistent/oxpm.xml: No such file or directory");
  EXPECT_EQ(message("/tmp", kMaxInputSize), "/tmp: is a directory");
  EXPECT_EQ(message(path_, 1000), path_ + ": larger than 1000 bytes");
}

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
      content[i] = static_cast<char>('a' + i % 26);
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

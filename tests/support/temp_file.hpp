// A file in the test's temporary directory, removed with the object.
#ifndef TARVIK_OX_TESTS_SUPPORT_TEMP_FILE_HPP_
#define TARVIK_OX_TESTS_SUPPORT_TEMP_FILE_HPP_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace tarvik {
namespace ox_test {

class temp_file {
 public:
  explicit temp_file(const std::string& content = std::string(),
                     const std::string& prefix = "ox_test") {
    std::string pattern = ::testing::TempDir() + prefix + "_XXXXXX";
    const int fd = ::mkstemp(&pattern[0]);
    EXPECT_GE(fd, 0) << pattern;
    if (fd >= 0) {
      ::close(fd);
    }
    path_ = pattern;
    write(content);
  }
  temp_file(const temp_file&) = delete;
  temp_file& operator=(const temp_file&) = delete;
  ~temp_file() { std::remove(path_.c_str()); }

  // Replaces the whole content.
  void write(const std::string& content) const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace ox_test
}  // namespace tarvik

#endif  // TARVIK_OX_TESTS_SUPPORT_TEMP_FILE_HPP_

// Test tables kept in text files beside the tests (tests/<area>/data/*.txt),
// one row a line. Fields are separated by blanks; a line starting with '#' is
// a comment. A field is a bare word, or a quoted text with the escapes \\ \"
// \t \n \r \0 and \xHH; a quoted text may be repeated ("<e>"*N) and joined
// to the next one with '+'. N is a number or a name the runner defines
// (depth, depth+1, depth-1), so that rows can sit at a limit.
#ifndef TARVIK_OX_TESTS_SUPPORT_TABLE_HPP_
#define TARVIK_OX_TESTS_SUPPORT_TABLE_HPP_

#include <cctype>
#include <cstddef>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvik {
namespace ox_test {

struct table_row {
  std::string where;  // "file:line", for the failure messages
  std::vector<std::string> fields;

  const std::string& at(std::size_t i) const {
    if (i >= fields.size()) {
      throw std::runtime_error(where + ": field " + std::to_string(i + 1) + " is missing");
    }
    return fields[i];
  }
  bool yes(std::size_t i) const {
    if (at(i) != "yes" && at(i) != "no") {
      throw std::runtime_error(where + ": \"" + at(i) + "\" is neither yes nor no");
    }
    return at(i) == "yes";
  }
};

using table_names = std::map<std::string, long>;

namespace detail {
class field_reader {
 public:
  field_reader(const std::string& line, const table_names& names, const std::string& where)
      : line_(line), names_(names), where_(where) {}

  bool next(std::string& field) {
    skip_blanks();
    if (at_end()) {
      return false;
    }
    field.clear();
    if (line_[pos_] != '"') {
      while (!at_end() && !std::isspace(static_cast<unsigned char>(line_[pos_]))) {
        field += line_[pos_++];
      }
      return true;
    }
    for (;;) {
      const std::string piece = quoted();
      long count = 1;
      skip_blanks();
      if (!at_end() && line_[pos_] == '*') {
        ++pos_;
        skip_blanks();
        count = number();
      }
      for (long i = 0; i < count; ++i) {
        field += piece;
      }
      skip_blanks();
      if (at_end() || line_[pos_] != '+') {
        return true;
      }
      ++pos_;
      skip_blanks();
    }
  }

 private:
  bool at_end() const { return pos_ >= line_.size(); }
  void skip_blanks() {
    while (!at_end() && std::isspace(static_cast<unsigned char>(line_[pos_]))) {
      ++pos_;
    }
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(where_ + ": " + what + " at column " + std::to_string(pos_ + 1));
  }
  std::string quoted() {
    if (at_end() || line_[pos_] != '"') {
      fail("expected a quoted text");
    }
    std::string text;
    for (++pos_; !at_end() && line_[pos_] != '"'; ++pos_) {
      if (line_[pos_] != '\\') {
        text += line_[pos_];
        continue;
      }
      if (++pos_ >= line_.size()) {
        fail("escape at the end of the line");
      }
      const char c = line_[pos_];
      if (c == 'x' && pos_ + 2 < line_.size() && std::isxdigit(line_[pos_ + 1]) &&
          std::isxdigit(line_[pos_ + 2])) {
        text += static_cast<char>(std::stoi(line_.substr(pos_ + 1, 2), nullptr, 16));
        pos_ += 2;
      } else {
        const std::string from = "\\\"tnr0", to = std::string("\\\"\t\n\r\0", 6);
        if (from.find(c) == std::string::npos) {
          fail("unknown escape");
        }
        text += to[from.find(c)];
      }
    }
    if (at_end()) {
      fail("unterminated quoted text");
    }
    ++pos_;
    return text;
  }
  long number() {
    std::string word;
    while (!at_end() && (std::isalnum(static_cast<unsigned char>(line_[pos_])) ||
                         line_[pos_] == '_' || line_[pos_] == '+' || line_[pos_] == '-')) {
      word += line_[pos_++];
    }
    const std::size_t sign = word.find_first_of("+-", 1);
    const std::string name = word.substr(0, sign);
    const long offset = sign == std::string::npos ? 0 : std::stol(word.substr(sign));
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) {
      return std::stol(name) + offset;
    }
    const auto found = names_.find(name);
    if (found == names_.end()) {
      fail("unknown count \"" + name + "\"");
    }
    return found->second + offset;
  }

  const std::string& line_;
  const table_names& names_;
  const std::string& where_;
  std::size_t pos_ = 0;
};
}  // namespace detail

// The rows of tests/<relative>; throws with the file and line on a bad row.
inline std::vector<table_row> read_table(const std::string& relative,
                                         const table_names& names = {}) {
  const std::string path = std::string(OX_TESTS_DIR) + "/" + relative;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error(path + ": cannot be read");
  }
  std::vector<table_row> rows;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    table_row row{relative + ":" + std::to_string(number), {}};
    detail::field_reader reader(line, names, row.where);
    std::string field;
    while ((line.empty() || line[0] != '#') && reader.next(field)) {
      row.fields.push_back(field);
    }
    if (!row.fields.empty()) {
      rows.push_back(row);
    }
  }
  if (rows.empty()) {
    throw std::runtime_error(path + ": no rows");
  }
  return rows;
}

}  // namespace ox_test
}  // namespace tarvik

#endif  // TARVIK_OX_TESTS_SUPPORT_TABLE_HPP_

// Test tables kept in text files beside the tests (tests/<area>/data/*.txt),
// one row a line; a line ending in a backslash goes on over the next one, a
// line starting with '#' is a comment. Fields are separated by blanks. A field
// is a bare word, or a quoted text with the escapes \\ \" \t \n \r \0 and
// \xHH; a quoted text may be repeated ("<e>" * N) and joined to the next one
// (" + "). N is a number or a name the runner defines, with an offset:
// depth, depth+1, depth-1, so that rows can sit at a limit.
#ifndef TARVIK_OX_TESTS_SUPPORT_TABLE_HPP_
#define TARVIK_OX_TESTS_SUPPORT_TABLE_HPP_

#include <cctype>
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

// The fields of one row.
inline std::vector<std::string> table_fields(const std::string& line, const table_names& names,
                                             const std::string& where) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  const auto fail = [&](const std::string& what) -> long {
    throw std::runtime_error(where + ": " + what + " at column " + std::to_string(pos + 1));
  };
  const auto blank = [&] { return pos < line.size() && std::isspace(line[pos] & 0xFF); };
  const auto word = [&] {
    std::string text;
    while (pos < line.size() && !blank()) {
      text += line[pos++];
    }
    return text;
  };
  bool joined = false;  // the next quoted text goes on the last field
  for (;;) {
    while (blank()) {
      ++pos;
    }
    if (pos >= line.size() || line[pos] != '"') {
      if (joined) {
        fail("a quoted text must follow \"+\"");
      }
      if (pos >= line.size()) {
        return fields;
      }
      fields.push_back(word());
      continue;
    }
    std::string text;
    for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
      char c = line[pos];
      if (c == '\\' && ++pos < line.size()) {
        static const std::string from = "\\\"tnr0", to("\\\"\t\n\r\0", 6);
        if (line[pos] == 'x') {
          text += static_cast<char>(std::stoi(line.substr(pos + 1, 2), nullptr, 16));
          pos += 2;
          continue;
        }
        c = from.find(line[pos]) != std::string::npos ? to[from.find(line[pos])]
                                                      : static_cast<char>(fail("bad escape"));
      }
      text += c;
    }
    if (pos++ >= line.size()) {
      fail("unterminated quoted text");
    }
    const auto next_is = [&](char c) {
      while (blank()) {
        ++pos;
      }
      return pos < line.size() && line[pos] == c && ++pos;
    };
    long count = 1;
    if (next_is('*')) {
      while (blank()) {
        ++pos;
      }
      const std::string n = word();
      const std::size_t sign = n.find_first_of("+-", 1);
      const auto named = names.find(n.substr(0, sign));
      count = (!n.empty() && std::isdigit(n[0] & 0xFF) ? std::stol(n.substr(0, sign))
               : named != names.end()                  ? named->second
                                                       : fail("unknown count " + n)) +
              (sign == std::string::npos ? 0 : std::stol(n.substr(sign)));
    }
    std::string piece;
    while (count-- > 0) {
      piece += text;
    }
    joined ? fields.back() += piece : fields.emplace_back(piece);
    joined = next_is('+');
  }
}

// The rows of tests/<relative>; throws with the file and line on a bad row.
inline std::vector<table_row> read_table(const std::string& relative,
                                         const table_names& names = {}) {
  std::ifstream in(std::string(OX_TESTS_DIR) + "/" + relative, std::ios::binary);
  std::vector<table_row> rows;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string where = relative + ":" + std::to_string(number);
    for (std::string more; !line.empty() && line.back() == '\\' && std::getline(in, more);
         ++number) {
      line.back() = ' ';
      line += more;
    }
    if (line.empty() || line[0] != '#') {
      rows.push_back({where, table_fields(line, names, where)});
      if (rows.back().fields.empty()) {
        rows.pop_back();
      }
    }
  }
  if (rows.empty()) {
    throw std::runtime_error(relative + ": no rows (is it there?)");
  }
  return rows;
}

}  // namespace ox_test
}  // namespace tarvik

#endif  // TARVIK_OX_TESTS_SUPPORT_TABLE_HPP_

// The embedding documents describe contracts that live in the code: the log
// lines the library writes, the error codes a host can see and the host
// functions a host must provide. These tests read the sources and the
// documents and fail when the two disagree, so the documents cannot drift.
//
// The log lines are taken from the OX_LOG and OX_LOG_BLANK calls in the
// library's sources: severity, source tag, operation name and format, each
// resolved to its value (a named constant is looked up where it is defined).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#ifndef OX_SOURCE_DIR
#error "OX_SOURCE_DIR must name the source tree"
#endif

namespace tarvik {
namespace ox {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string());
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path source_dir() {
  return fs::path(OX_SOURCE_DIR);
}

// ---------------------------------------------------------------------------
// A small reader of C++ source text: enough to find the logging calls, split
// their arguments and resolve the named constants they use.

// Blanks out comments, keeping string and character literals and the length
// of the text (positions stay valid).
std::string strip_comments(const std::string& text) {
  std::string out = text;
  std::size_t i = 0;
  while (i < out.size()) {
    const char c = out[i];
    if (c == '"' || c == '\'') {
      const char quote = c;
      ++i;
      while (i < out.size() && out[i] != quote) {
        i += out[i] == '\\' ? 2 : 1;
      }
      ++i;
    } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '/') {
      while (i < out.size() && out[i] != '\n') {
        out[i++] = ' ';
      }
    } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '*') {
      while (i < out.size() && !(out[i] == '*' && i + 1 < out.size() && out[i + 1] == '/')) {
        if (out[i] != '\n') {
          out[i] = ' ';
        }
        ++i;
      }
      if (i < out.size()) {
        out[i] = ' ';
        out[i + 1] = ' ';
        i += 2;
      }
    } else {
      ++i;
    }
  }
  return out;
}

std::string trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])) != 0) {
    ++begin;
  }
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) {
    --end;
  }
  return text.substr(begin, end - begin);
}

bool is_identifier_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// The text between the parenthesis at `open` and its partner; `end` is set
// past the closing one.
std::string balanced(const std::string& text, std::size_t open, std::size_t* end) {
  int depth = 0;
  for (std::size_t i = open; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      const char quote = c;
      ++i;
      while (i < text.size() && text[i] != quote) {
        i += text[i] == '\\' ? 2 : 1;
      }
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      *end = i + 1;
      return text.substr(open + 1, i - open - 1);
    }
  }
  throw std::runtime_error("unbalanced parentheses");
}

// Splits at the commas that are not inside parentheses or literals.
std::vector<std::string> split_arguments(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  int depth = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      const std::size_t start = i;
      ++i;
      while (i < text.size() && text[i] != c) {
        i += text[i] == '\\' ? 2 : 1;
      }
      current += text.substr(start, i - start + 1);
      continue;
    }
    if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if (c == ')' || c == ']' || c == '}') {
      --depth;
    } else if (c == ',' && depth == 0) {
      out.push_back(trim(current));
      current.clear();
      continue;
    }
    current += c;
  }
  out.push_back(trim(current));
  return out;
}

// The value of one or more adjacent string literals; false when the text is
// anything else.
bool read_literals(const std::string& text, std::string* value) {
  value->clear();
  std::size_t i = 0;
  bool any = false;
  while (true) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
      ++i;
    }
    if (i == text.size()) {
      return any;
    }
    if (text[i] != '"') {
      return false;
    }
    any = true;
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (text[i] != '\\') {
        *value += text[i];
        continue;
      }
      const char escaped = text[++i];
      switch (escaped) {
        case 'n':
          *value += '\n';
          break;
        case 't':
          *value += '\t';
          break;
        default:
          *value += escaped;
      }
    }
    if (i == text.size()) {
      return false;
    }
    ++i;
  }
}

// A file and the named constants it (or a header it relies on) defines.
struct source_file {
  std::string name;
  std::string text;  // comments blanked
};

// Resolves an argument to its text: a literal, or a constant defined as
// "name = value;" or "name[] = value;" before `position` in the file (the
// nearest definition wins), else in one of the shared files.
std::string resolve(const std::string& expression, const source_file& file, std::size_t position,
                    const std::vector<source_file>& shared, int depth = 0) {
  if (depth > 8) {
    throw std::runtime_error("constant chain too long: " + expression);
  }
  std::string value;
  if (read_literals(expression, &value)) {
    return value;
  }
  std::string name = trim(expression);
  const std::size_t scope = name.rfind("::");
  if (scope != std::string::npos) {
    name = name.substr(scope + 2);
  }
  if (name.empty() || !std::all_of(name.begin(), name.end(), is_identifier_char)) {
    throw std::runtime_error("cannot resolve \"" + expression + "\" in " + file.name);
  }
  // The last "name = value;" or "name[] = value;" that starts before `limit`.
  auto search = [&](const source_file& in, std::size_t limit, std::string* rhs, std::size_t* at) {
    const std::string& text = in.text;
    bool found = false;
    for (std::size_t hit = text.find(name); hit != std::string::npos && hit < limit;
         hit = text.find(name, hit + 1)) {
      const std::size_t after = hit + name.size();
      if ((hit > 0 && is_identifier_char(text[hit - 1])) ||
          (after < text.size() && is_identifier_char(text[after]))) {
        continue;
      }
      std::size_t i = after;
      auto skip_space = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
          ++i;
        }
      };
      skip_space();
      if (text.compare(i, 1, "[") == 0) {
        ++i;
        skip_space();
        if (text.compare(i, 1, "]") != 0) {
          continue;
        }
        ++i;
        skip_space();
      }
      if (text.compare(i, 1, "=") != 0 || text.compare(i, 2, "==") == 0) {
        continue;
      }
      const std::size_t semicolon = text.find(';', i);
      if (semicolon == std::string::npos) {
        continue;
      }
      *rhs = text.substr(i + 1, semicolon - i - 1);
      *at = hit;
      found = true;
    }
    return found;
  };
  std::string rhs;
  std::size_t at = 0;
  if (search(file, position, &rhs, &at)) {
    return resolve(rhs, file, at, shared, depth + 1);
  }
  for (const source_file& other : shared) {
    if (search(other, other.text.size(), &rhs, &at)) {
      return resolve(rhs, other, at, shared, depth + 1);
    }
  }
  throw std::runtime_error("no definition of " + name + " for " + file.name);
}

// One kind of log line: what a host can filter and match on.
struct log_line {
  int severity = 0;
  std::string source_tag;
  std::string function;
  std::string format;

  bool operator<(const log_line& other) const {
    return std::tie(severity, source_tag, function, format) <
           std::tie(other.severity, other.source_tag, other.function, other.format);
  }
  bool operator==(const log_line& other) const { return !(*this < other) && !(other < *this); }
};

// The row as the document writes it, for messages.
std::string as_row(const log_line& line) {
  return "| " + std::to_string(line.severity) + " | `" + line.source_tag + "` | `" + line.function +
         "` | `\"" + line.format + "\"` |";
}

int severity_value(const std::string& expression, const std::map<std::string, int>& severities) {
  const std::string text = trim(expression);
  const auto it = severities.find(text);
  if (it != severities.end()) {
    return it->second;
  }
  if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    return std::stoi(text);
  }
  throw std::runtime_error("unknown severity " + text);
}

// The "#define OX_LOG_SEVERITY_... n" values of the logger header.
std::map<std::string, int> read_severities(const std::string& header) {
  std::map<std::string, int> out;
  const std::regex define("#define\\s+(OX_LOG_SEVERITY_\\w+)\\s+(\\d+)");
  for (auto it = std::sregex_iterator(header.begin(), header.end(), define);
       it != std::sregex_iterator(); ++it) {
    out[(*it)[1].str()] = std::stoi((*it)[2].str());
  }
  return out;
}

// Every log line that `file` writes. Direct ox_log calls are refused: every
// line must go through the macros so that it is seen here.
std::vector<log_line> extract_log_lines(const source_file& file,
                                        const std::vector<source_file>& shared,
                                        const std::map<std::string, int>& severities) {
  std::vector<log_line> out;
  const std::string& text = file.text;
  const std::regex call("\\b(OX_LOG|OX_LOG_BLANK|ox_log)\\s*\\(");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), call); it != std::sregex_iterator();
       ++it) {
    const std::string macro = (*it)[1].str();
    const std::size_t start = static_cast<std::size_t>(it->position(0));
    if (macro == "ox_log") {
      throw std::runtime_error(file.name + " calls ox_log directly; use OX_LOG");
    }
    std::size_t end = 0;
    const std::size_t open = start + static_cast<std::size_t>(it->length(0)) - 1;
    const std::vector<std::string> args = split_arguments(balanced(text, open, &end));
    log_line line;
    if (macro == "OX_LOG_BLANK") {
      if (args.size() != 3) {
        throw std::runtime_error(file.name + ": OX_LOG_BLANK takes three arguments");
      }
      line.severity = severities.at("OX_LOG_SEVERITY_PROGRESS");
      line.source_tag = resolve(args[1], file, start, shared);
      line.function = resolve(args[2], file, start, shared);
    } else {
      if (args.size() < 5) {
        throw std::runtime_error(file.name + ": OX_LOG needs a format");
      }
      line.severity = severity_value(args[1], severities);
      line.source_tag = resolve(args[2], file, start, shared);
      line.function = resolve(args[3], file, start, shared);
      if (!read_literals(args[4], &line.format)) {
        throw std::runtime_error(file.name + ": a format must be a literal: " + args[4]);
      }
    }
    out.push_back(line);
  }
  return out;
}

struct library_sources {
  std::vector<source_file> files;
  std::vector<source_file> shared;
  std::map<std::string, int> severities;
};

library_sources read_library_sources() {
  library_sources sources;
  const fs::path src = source_dir() / "src";
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    if (entry.is_regular_file() && entry.path().extension() == ".cpp") {
      sources.files.push_back({entry.path().lexically_relative(source_dir()).string(),
                               strip_comments(read_file(entry.path()))});
    }
  }
  std::sort(sources.files.begin(), sources.files.end(),
            [](const source_file& a, const source_file& b) { return a.name < b.name; });
  sources.shared.push_back({"src/host/log.hpp", strip_comments(read_file(src / "host/log.hpp"))});
  sources.severities =
      read_severities(read_file(source_dir() / "include/tarvik/ox/host/ox_logger.h"));
  return sources;
}

std::set<log_line> library_log_lines() {
  const library_sources sources = read_library_sources();
  std::set<log_line> out;
  for (const source_file& file : sources.files) {
    for (const log_line& line : extract_log_lines(file, sources.shared, sources.severities)) {
      out.insert(line);
    }
  }
  return out;
}

// The rows of the log-line table of a document: the lines between the
// begin and end markers that start with "|", header and rule excluded. The
// columns are severity, source tag, operation and format (a quoted literal in
// backticks); further columns are prose.
std::vector<log_line> document_log_lines(const std::string& document) {
  const std::string begin_marker = "<!-- log-lines:begin -->";
  const std::string end_marker = "<!-- log-lines:end -->";
  const std::size_t begin = document.find(begin_marker);
  const std::size_t end = document.find(end_marker);
  if (begin == std::string::npos || end == std::string::npos || end < begin) {
    throw std::runtime_error("the log-line table markers are missing");
  }
  std::istringstream table(document.substr(begin, end - begin));
  std::vector<log_line> out;
  std::string row;
  bool header_seen = false;
  while (std::getline(table, row)) {
    row = trim(row);
    if (row.empty() || row[0] != '|') {
      continue;
    }
    if (!header_seen) {
      header_seen = true;  // the column titles
      continue;
    }
    if (row.find("---") != std::string::npos && row.find('`') == std::string::npos) {
      continue;  // the rule under the titles
    }
    std::vector<std::string> cells;
    std::size_t at = 1;
    for (int i = 0; i < 3; ++i) {
      const std::size_t bar = row.find('|', at);
      if (bar == std::string::npos) {
        throw std::runtime_error("short row: " + row);
      }
      std::string cell = trim(row.substr(at, bar - at));
      cell.erase(std::remove(cell.begin(), cell.end(), '`'), cell.end());
      cells.push_back(cell);
      at = bar + 1;
    }
    const std::size_t open = row.find('`', at);
    const std::size_t close = open == std::string::npos ? open : row.find('`', open + 1);
    if (close == std::string::npos) {
      throw std::runtime_error("the format is not in backticks: " + row);
    }
    log_line line;
    line.severity = std::stoi(cells[0]);
    line.source_tag = cells[1];
    line.function = cells[2];
    if (!read_literals(row.substr(open + 1, close - open - 1), &line.format)) {
      throw std::runtime_error("the format is not a quoted literal: " + row);
    }
    out.push_back(line);
  }
  return out;
}

// A regular expression that matches exactly the lines a printf format can
// write with %s and %d.
std::regex format_pattern(const std::string& format) {
  std::string pattern;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '%' && i + 1 < format.size()) {
      const char conversion = format[++i];
      if (conversion == 's') {
        pattern += ".*";
      } else if (conversion == 'd') {
        pattern += "-?[0-9]+";
      } else {
        pattern += conversion;  // "%%"
      }
    } else if (std::string("^$\\.*+?()[]{}|/").find(c) != std::string::npos) {
      pattern += std::string("\\") + c;
    } else {
      pattern += c;
    }
  }
  return std::regex(pattern);
}

// One line of a logged example: "<severity> <operation>: <message>".
struct sample_line {
  int severity = 0;
  std::string function;
  std::string message;
};

// The lines of the log sample between its markers, code fences excluded.
std::vector<sample_line> document_log_sample(const std::string& document) {
  const std::string begin_marker = "<!-- log-sample:begin -->";
  const std::string end_marker = "<!-- log-sample:end -->";
  const std::size_t begin = document.find(begin_marker);
  const std::size_t end = document.find(end_marker);
  if (begin == std::string::npos || end == std::string::npos || end < begin) {
    throw std::runtime_error("the log sample markers are missing");
  }
  std::istringstream block(
      document.substr(begin + begin_marker.size(), end - begin - begin_marker.size()));
  std::vector<sample_line> out;
  std::string row;
  const std::regex shape("([0-9]+) ([A-Za-z_]+):(?: (.*))?");
  while (std::getline(block, row)) {
    if (trim(row).empty() || trim(row).rfind("```", 0) == 0) {
      continue;
    }
    std::smatch match;
    if (!std::regex_match(row, match, shape)) {
      throw std::runtime_error("not a sample line: " + row);
    }
    out.push_back({std::stoi(match[1].str()), match[2].str(), match[3].str()});
  }
  return out;
}

// ---------------------------------------------------------------------------
// The reader itself, on made-up sources, so that a broken reader cannot let a
// drifted document pass.

TEST(DocsSourceReaderTest, ResolvesConstantsLiteralsAndConcatenation) {
  const std::vector<source_file> shared = {
      {"log.hpp", "inline constexpr char kTagA[] = \"tag_a\";\n"}};
  const source_file file = {"a.cpp", strip_comments(R"src(
constexpr const char* kTag = internal::kTagA;
constexpr const char kRun[] = "run";
// OX_LOG(context, 2, kTag, kRun, "commented out");
/* OX_LOG(context, 2, kTag, kRun, "block comment"); */
void f() {
  static const char kFunction[] = "first";
  OX_LOG(context, OX_LOG_SEVERITY_FAILURE, kTag, kFunction, "a <%s>, %d",
         call(1, 2).c_str(), 3);
}
void g() {
  static const char kFunction[] = "second";
  OX_LOG(context, 5, internal::kTagA, kFunction, "split "
         "format, with (parens)");
  OX_LOG_BLANK(context, kTag, kRun);
  OX_LOG(context, OX_LOG_SEVERITY_PROGRESS, "literal_tag", "literal_fn", "quote \" and ,");
}
)src")};
  const std::map<std::string, int> severities = {{"OX_LOG_SEVERITY_FAILURE", 2},
                                                 {"OX_LOG_SEVERITY_PROGRESS", 5}};
  const std::vector<log_line> lines = extract_log_lines(file, shared, severities);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(as_row(lines[0]), "| 2 | `tag_a` | `first` | `\"a <%s>, %d\"` |");
  EXPECT_EQ(as_row(lines[1]), "| 5 | `tag_a` | `second` | `\"split format, with (parens)\"` |");
  EXPECT_EQ(as_row(lines[2]), "| 5 | `tag_a` | `run` | `\"\"` |");
  EXPECT_EQ(as_row(lines[3]), "| 5 | `literal_tag` | `literal_fn` | `\"quote \" and ,\"` |");
}  // namespace

TEST(DocsSourceReaderTest, RefusesWhatItCannotSee) {
  const std::map<std::string, int> severities = {{"OX_LOG_SEVERITY_PROGRESS", 5}};
  const source_file direct = {"d.cpp",
                              "void f() { ox_log(logger, 5, \"s\", \"t\", 1, \"f\", \"x\"); }"};
  EXPECT_THROW(extract_log_lines(direct, {}, severities), std::runtime_error);
  const source_file computed = {"c.cpp", "void f() { OX_LOG(c, 5, \"t\", \"f\", format); }"};
  EXPECT_THROW(extract_log_lines(computed, {}, severities), std::runtime_error);
  const source_file unknown = {"u.cpp", "void f() { OX_LOG(c, 5, kNowhere, \"f\", \"x\"); }"};
  EXPECT_THROW(extract_log_lines(unknown, {}, severities), std::runtime_error);
}

TEST(DocsSourceReaderTest, ReadsTheDocumentTableBetweenItsMarkers) {
  const std::string document = R"(
| 5 | `outside` | `table` | `"ignored"` |
<!-- log-lines:begin -->
| severity | source tag | operation | format | when |
|---|---|---|---|---|
| 5 | `tag` | `fn` | `"with trailing blank "` | prose, with `code` |
| 2 | tag | fn | `""` | |
<!-- log-lines:end -->
)";
  const std::vector<log_line> lines = document_log_lines(document);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].format, "with trailing blank ");
  EXPECT_EQ(lines[0].source_tag, "tag");
  EXPECT_EQ(lines[1].severity, 2);
  EXPECT_EQ(lines[1].format, "");
  EXPECT_THROW(document_log_lines("no markers"), std::runtime_error);
}

TEST(DocsSourceReaderTest, FormatPatternsMatchWhatTheFormatCanWrite) {
  const std::regex pattern = format_pattern("[%d] check <%s>, v%s. (x)|y ");
  EXPECT_TRUE(std::regex_match("[12] check <A.B>, v1.2. (x)|y ", pattern));
  EXPECT_TRUE(std::regex_match("[-1] check <>, v. (x)|y ", pattern));
  EXPECT_FALSE(std::regex_match("[a] check <A>, v1. (x)|y ", pattern));
  EXPECT_FALSE(std::regex_match("[1] check <A>, v1. (x)|y", pattern));
  EXPECT_FALSE(std::regex_match("[1] check <A>, v1! (x)|y ", pattern));
  EXPECT_TRUE(std::regex_match("", format_pattern("")));
  EXPECT_FALSE(std::regex_match("text", format_pattern("")));
}

TEST(DocsSourceReaderTest, ReadsTheLogSample) {
  const std::vector<sample_line> lines = document_log_sample(
      "<!-- log-sample:begin -->\n```\n5 resolve: a <b>\n5 resolve:\n2 check_x: c: d\n```\n"
      "<!-- log-sample:end -->\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].message, "a <b>");
  EXPECT_EQ(lines[1].message, "");
  EXPECT_EQ(lines[2].severity, 2);
  EXPECT_EQ(lines[2].function, "check_x");
  EXPECT_EQ(lines[2].message, "c: d");
}

// ---------------------------------------------------------------------------
// The documents against the sources.

TEST(DocsTest, EmbeddingGuideListsExactlyTheLibrarysLogLines) {
  const std::set<log_line> in_code = library_log_lines();
  // A reader that finds nothing would make the comparison meaningless.
  ASSERT_GT(in_code.size(), 30u);

  const std::vector<log_line> rows =
      document_log_lines(read_file(source_dir() / "docs/embedding.md"));
  std::set<log_line> in_document;
  for (const log_line& row : rows) {
    EXPECT_TRUE(in_document.insert(row).second) << "listed twice: " << as_row(row);
  }

  for (const log_line& line : in_code) {
    EXPECT_EQ(in_document.count(line), 1u)
        << "docs/embedding.md lacks a log line the library writes:\n"
        << as_row(line);
  }
  for (const log_line& line : in_document) {
    EXPECT_EQ(in_code.count(line), 1u)
        << "docs/embedding.md lists a log line the library does not write:\n"
        << as_row(line);
  }
}

TEST(DocsTest, EmbeddingGuideLogSampleUsesOnlyDocumentedLines) {
  const std::string guide = read_file(source_dir() / "docs/embedding.md");
  const std::vector<log_line> rows = document_log_lines(guide);
  const std::vector<sample_line> sample = document_log_sample(guide);
  ASSERT_GE(sample.size(), 10u);
  for (const sample_line& line : sample) {
    const bool documented = std::any_of(rows.begin(), rows.end(), [&](const log_line& row) {
      return row.severity == line.severity && row.function == line.function &&
             std::regex_match(line.message, format_pattern(row.format));
    });
    EXPECT_TRUE(documented) << "the log sample shows a line no table row describes: "
                            << line.severity << ' ' << line.function << ": " << line.message;
  }
}

TEST(DocsTest, EmbeddingGuideNamesEveryErrorCode) {
  const std::string header = read_file(source_dir() / "include/tarvik/ox/host/ox_host.h");
  const std::string guide = read_file(source_dir() / "docs/embedding.md");
  const std::regex enumerator("\\b(OX_(?:OK|ERROR_\\w+))\\s*=\\s*(\\d+)\\s*,");
  int seen = 0;
  for (auto it = std::sregex_iterator(header.begin(), header.end(), enumerator);
       it != std::sregex_iterator(); ++it) {
    ++seen;
    const std::string name = (*it)[1].str();
    const std::string value = (*it)[2].str();
    // The guide's error table gives each code as "| value | `NAME` |".
    const std::string row = "| " + value + " | `" + name + "` |";
    EXPECT_NE(guide.find(row), std::string::npos)
        << "docs/embedding.md has no error-table row starting " << row;
  }
  EXPECT_GE(seen, 8);
}

TEST(DocsTest, HostInterfaceReferenceDescribesEveryHostFunction) {
  const std::string reference = read_file(source_dir() / "docs/host-interface.md");
  const std::regex declaration("\\b(ox_\\w+)\\s*\\(");
  std::set<std::string> functions;
  for (const auto& entry : fs::directory_iterator(source_dir() / "include/tarvik/ox/host")) {
    if (entry.path().extension() != ".h") {
      continue;
    }
    const std::string header = strip_comments(read_file(entry.path()));
    for (auto it = std::sregex_iterator(header.begin(), header.end(), declaration);
         it != std::sregex_iterator(); ++it) {
      functions.insert((*it)[1].str());
    }
  }
  ASSERT_GE(functions.size(), 21u);
  for (const std::string& function : functions) {
    // Each function has a heading of its own: "### `ox_name`".
    EXPECT_NE(reference.find("### `" + function + "`"), std::string::npos)
        << "docs/host-interface.md has no section for " << function;
  }
}

TEST(DocsTest, HostInterfaceReferenceNamesEveryHostTypeAndContextKey) {
  const std::string reference = read_file(source_dir() / "docs/host-interface.md");
  // Handle and callback types ("ox_xml_s", "ox_regex_alternative_fn") and the
  // keys under which the library looks objects up in the context.
  const std::regex name("\\b(ox_\\w+_(?:s|fn)|OX_OBJECT_\\w+)\\b");
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(source_dir() / "include/tarvik/ox/host")) {
    if (entry.path().extension() != ".h") {
      continue;
    }
    const std::string header = strip_comments(read_file(entry.path()));
    for (auto it = std::sregex_iterator(header.begin(), header.end(), name);
         it != std::sregex_iterator(); ++it) {
      names.insert((*it)[1].str());
    }
  }
  ASSERT_GE(names.size(), 7u);
  for (const std::string& item : names) {
    EXPECT_NE(reference.find("`" + item + "`"), std::string::npos)
        << "docs/host-interface.md does not describe " << item;
  }
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

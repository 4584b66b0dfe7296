#include "session.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <pugixml.hpp>
#include <utility>

#include "style.hpp"
#include "tarvik/ox/host/ox_utils.h"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/registry_store.hpp"
#include "tarvik/ox_refhost/limits.hpp"
#include "tarvik/ox_refhost/xml.hpp"

namespace tarvik {
namespace oxpm {
namespace {

// The installed software as one run of the tool sees it: read once, at the
// first scan that succeeds, and handed out again at every later scan.
// use_installed scans before any resolution so that an unreadable source is
// reported as such, and the resolution rescans: reading the file again would
// cost as much as the first time and would find a pipe drained.
class read_once_source : public ox_refhost::store_source {
 public:
  explicit read_once_source(std::shared_ptr<ox_refhost::store_source> inner)
      : inner_(std::move(inner)) {}

  ox_error_e read(std::vector<ox_refhost::installed_application>& out,
                  std::string& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!read_) {
      const ox_error_e code = inner_->read(applications_, error);
      if (code != OX_OK) {
        return code;
      }
      read_ = true;
    }
    out = applications_;
    return OX_OK;
  }

 private:
  const std::shared_ptr<ox_refhost::store_source> inner_;
  std::mutex mutex_;
  bool read_ = false;
  std::vector<ox_refhost::installed_application> applications_;
};

}  // namespace

session::session() : managers_(ox::make_managers(context_.get(), std::string())) {
  context_.set_logger(&logger_);

  // Nothing is installed unless a source is chosen.
  store_source_.emplace(nullptr);
}

session::~session() {
  // The managers may still log while they go; the logger must outlive them.
  managers_ = ox::managers();
  context_.set_logger(nullptr);
}

void session::add_log_sink(std::shared_ptr<ox_refhost::log_sink> sink) {
  logger_.add_sink(std::move(sink));
}

namespace {

// The platform names that "platforms" attributes of the text hold, added to
// `names` in order of appearance. Read from the raw text: it only serves to
// tell a user which names the catalog uses.
void collect_platforms(const std::string& content, std::vector<std::string>& names) {
  static const std::string kAttribute = "platforms=";
  for (std::size_t at = content.find(kAttribute); at != std::string::npos;
       at = content.find(kAttribute, at + 1)) {
    const std::size_t open = at + kAttribute.size();
    if (open >= content.size() || (content[open] != '"' && content[open] != '\'')) {
      continue;
    }
    const std::size_t close = content.find(content[open], open + 1);
    if (close == std::string::npos) {
      return;
    }
    const std::string value = content.substr(open + 1, close - open - 1);
    std::size_t start = 0;
    while (start < value.size()) {
      const std::size_t end = std::min(value.find_first_of(" \t\r\n,;|", start), value.size());
      const std::string name = value.substr(start, end - start);
      if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(name);
      }
      start = end + 1;
    }
  }
}

}  // namespace

void session::load_specs(const std::vector<std::string>& files, const std::string& platform) {
  managers_.spec->set_platform(platform);
  std::vector<std::string> platforms;
  for (const std::string& file : files) {
    std::string content;
    try {
      content = read_file(file);
    } catch (const input_error& error) {
      throw input_error(std::string("catalog ") + error.what());
    }
    import_document(input_name(file), content, platform, platforms);
  }
  check_platform(platform, platforms);
}

void session::load_documents(const std::vector<std::pair<std::string, std::string>>& documents,
                             const std::string& platform) {
  managers_.spec->set_platform(platform);
  std::vector<std::string> platforms;
  for (const auto& document : documents) {
    import_document(document.first, document.second, platform, platforms);
  }
  check_platform(platform, platforms);
}

void session::import_document(const std::string& name, const std::string& content,
                              const std::string& platform, std::vector<std::string>& platforms) {
  try {
    managers_.spec->import(content.data(), content.size());
  } catch (const ox::pm_exception& error) {
    std::string message = "catalog " + name + ": cannot be loaded";
    const std::string detail = xml_diagnosis(content);
    if (!detail.empty()) {
      message += ": " + detail;
    }
    message += " (host error " + describe_code(error.code()) + ")";
    throw input_error(message);
  }
  if (!platform.empty()) {
    collect_platforms(content, platforms);
  }
}

void session::check_platform(const std::string& platform,
                             const std::vector<std::string>& platforms) const {
  // Nothing imported for a platform that the catalog names nowhere: most
  // likely a typing mistake, and every request would only find no entry.
  if (!platform.empty() && managers_.spec->get_specs().empty() && !platforms.empty()) {
    std::string names;
    for (std::size_t i = 0; i < platforms.size(); ++i) {
      names += (i == 0 ? "" : i + 1 == platforms.size() ? " and " : ", ") + quoted(platforms[i]);
    }
    throw input_error("--platform " + quoted(platform) +
                      ": no entry of the catalog is for this platform; the catalog names " + names);
  }
}

void session::use_installed(const installed_source& source) {
  std::shared_ptr<ox_refhost::store_source> store;
  const bool inventory = source.kind == installed_source::kind_t::inventory;
  const char* const what = inventory ? "inventory " : "dpkg status ";
  if (source.kind != installed_source::kind_t::none && source.path == kStandardInput) {
    // The host's file sources open a path; standard input is read here, once,
    // and parsed by the same parsers.
    std::string text;
    try {
      text = read_file(source.path, ox_refhost::kMaxSourceBytes);
    } catch (const input_error& error) {
      throw input_error(what + std::string(error.what()));
    }
    std::vector<ox_refhost::installed_application> applications;
    std::string reason;
    const ox_error_e code = inventory ? ox_refhost::parse_inventory_json(text, applications, reason)
                                      : ox_refhost::parse_dpkg_status(text, applications, reason);
    if (code != OX_OK) {
      throw input_error(what + input_name(source.path) + ": " + reason + " (host error " +
                        describe_code(code) + ")");
    }
    store = ox_refhost::make_memory_source(std::move(applications));
  } else if (source.kind != installed_source::kind_t::none) {
    store = std::make_shared<read_once_source>(
        inventory ? ox_refhost::make_inventory_source(source.path)
                  : ox_refhost::make_dpkg_status_source(source.path));
  }
  store_source_.reset();
  store_source_.emplace(store);
  installed_ = store;
  if (store == nullptr) {
    return;
  }
  try {
    ox::registry_store probe;
    probe.scan();
  } catch (const ox::pm_exception& error) {
    std::string message = ox_refhost::last_store_error();
    if (message.empty()) {
      message = source.path + ": cannot be read";
    }
    message = what + message;
    throw input_error(message + " (host error " + describe_code(error.code()) + ")");
  }
}

void session::use_applications(std::vector<ox_refhost::installed_application> applications) {
  installed_ = ox_refhost::make_memory_source(std::move(applications));
  store_source_.reset();
  store_source_.emplace(installed_);
}

std::vector<ox_refhost::installed_application> session::installed() const {
  std::vector<ox_refhost::installed_application> applications;
  std::string ignored;
  if (installed_ != nullptr && installed_->read(applications, ignored) != OX_OK) {
    applications.clear();
  }
  return applications;
}

resolution session::resolve(const std::vector<ox::software>& uninstall,
                            const std::vector<ox::software>& install) {
  resolution result;
  result.uninstall = uninstall;
  result.install = install;
  const ox::internal::walk_recording recording(result.walk);
  result.resolved = managers_.package->resolve(uninstall, install);
  result.incompatible = managers_.package->is_incompatible(result.resolved);
  result.conflicted = managers_.package->is_conflicted(result.resolved);
  return result;
}

const ox_regex_literals_s* session::regex_literals() const {
  return ox_regex_literals_get(context_.get());
}

std::string describe_code(ox_error_e code) {
  return std::to_string(static_cast<long long>(code)) + " (" + ox::error_name(code) + ")";
}

namespace {

std::size_t line_at(const std::string& content, std::size_t offset) {
  offset = std::min(offset, content.size());
  return 1 + static_cast<std::size_t>(std::count(
                 content.begin(), content.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

// The encoding a byte-order mark, or the first bytes of "<?", give away;
// empty when they say nothing or say UTF-8.
std::string encoding_by_first_bytes(const std::string& content) {
  const auto starts = [&](const char* bytes, std::size_t size) {
    return content.size() >= size && content.compare(0, size, bytes, size) == 0;
  };
  if (starts("\x00\x00\xfe\xff", 4) || starts("\x00\x00\x00<", 4)) {
    return "UTF-32 (big-endian)";
  }
  if (starts("\xff\xfe\x00\x00", 4) || starts("<\x00\x00\x00", 4)) {
    return "UTF-32 (little-endian)";
  }
  if (starts("\xfe\xff", 2) || starts("\x00<", 2)) {
    return "UTF-16 (big-endian)";
  }
  if (starts("\xff\xfe", 2) || starts("<\x00", 2)) {
    return "UTF-16 (little-endian)";
  }
  return {};
}

// The encoding that the XML declaration names, if any.
std::string declared_encoding(const std::string& content) {
  const std::size_t skip = content.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
  if (content.compare(skip, 5, "<?xml") != 0) {
    return {};
  }
  const std::size_t end = content.find("?>", skip);
  const std::size_t at = content.find("encoding", skip);
  if (end == std::string::npos || at == std::string::npos || at > end) {
    return {};
  }
  const std::size_t quote = content.find_first_of("\"'", at);
  if (quote == std::string::npos || quote > end) {
    return {};
  }
  const std::size_t close = content.find(content[quote], quote + 1);
  return close == std::string::npos || close > end ? std::string()
                                                   : content.substr(quote + 1, close - quote - 1);
}

// Where elements first nest deeper than the host allows, by a light scan of
// the raw text (the host bounds the depth before it parses, so a text too
// deep is refused for that even when it is broken further on); npos if never.
std::size_t too_deep_at(const std::string& content) {
  std::size_t depth = 0;
  for (std::size_t at = content.find('<'); at != std::string::npos;
       at = content.find('<', at + 1)) {
    const char next = at + 1 < content.size() ? content[at + 1] : '\0';
    if (next == '/') {
      depth -= depth > 0 ? 1 : 0;
    } else if (next != '!' && next != '?') {
      const std::size_t close = content.find('>', at);
      if (close == std::string::npos) {
        break;
      }
      if (content[close - 1] != '/' && ++depth > ox_refhost::kMaxXmlElementDepth) {
        return at;
      }
    }
  }
  return std::string::npos;
}

std::string hex_byte(unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[c >> 4] + kHex[c & 0xf];
}

}  // namespace

std::string xml_diagnosis(const std::string& content) {
  if (content.size() > ox_refhost::kMaxXmlBufferBytes) {
    return "larger than " + std::to_string(ox_refhost::kMaxXmlBufferBytes) + " bytes";
  }
  const std::string by_bytes = encoding_by_first_bytes(content);
  if (!by_bytes.empty()) {
    return "not UTF-8: the text is in " + by_bytes + "; a catalog must be UTF-8";
  }
  const std::size_t bad = ox_refhost::first_invalid_utf8_byte(content.data(), content.size());
  if (bad != std::string::npos) {
    const auto byte = static_cast<unsigned char>(content[bad]);
    const std::string line = "line " + std::to_string(line_at(content, bad)) + ": ";
    if (byte == 0) {
      return line + "a NUL byte; a catalog is UTF-8 text without NUL";
    }
    std::string message =
        line + "not UTF-8: the byte " + hex_byte(byte) + " cannot stand there in UTF-8";
    const std::string declared = declared_encoding(content);
    if (!declared.empty()) {
      message += " (the XML declaration names the encoding " + quoted(declared) + ")";
    }
    return message + "; a catalog must be UTF-8";
  }
  const std::size_t deep = too_deep_at(content);
  if (deep != std::string::npos) {
    return "line " + std::to_string(line_at(content, deep)) + ": elements nest deeper than " +
           std::to_string(ox_refhost::kMaxXmlElementDepth) + " levels, the most allowed";
  }
  // Read as the load read it before its checks (references stay as written,
  // to be checked below).
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(
      content.data(), content.size(), ox_refhost::xml_parse_options(), pugi::encoding_utf8);
  if (!parsed) {
    const std::size_t offset = parsed.offset < 0 ? 0 : static_cast<std::size_t>(parsed.offset);
    return "line " + std::to_string(line_at(content, offset)) + ": " + parsed.description();
  }
  // What the parser lets through and the host refuses, in document order.
  std::size_t depth = 0;
  std::size_t top_level = 0;
  pugi::xml_node node = document.first_child();
  while (node) {
    const auto node_offset =
        static_cast<std::size_t>(std::max<std::ptrdiff_t>(node.offset_debug(), 0));
    // The line of a text found from the node on (a reference may sit on a
    // later line than the node begins).
    const auto line_of = [&](const std::string& text) {
      const std::size_t at = content.find(text, node_offset);
      return "line " +
             std::to_string(line_at(content, at == std::string::npos ? node_offset : at)) + ": ";
    };
    if (node.type() == pugi::node_element) {
      const std::string line = "line " + std::to_string(line_at(content, node_offset)) + ": ";
      if (depth == 0 && ++top_level > 1) {
        return line + "a second document element " + quoted(node.name()) + "; a document has one";
      }
      for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        const std::string reference = ox_refhost::refused_character_reference(a.value());
        if (!reference.empty()) {
          return line_of(reference) + "the character reference " + quoted(reference) +
                 " in the attribute " + quoted(a.name()) + " names no character";
        }
        for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute()) {
          if (std::strcmp(a.name(), b.name()) == 0) {
            return line + "the attribute " + quoted(a.name()) + " appears twice in " +
                   quoted(node.name());
          }
        }
      }
    }
    if (node.type() == pugi::node_pcdata) {
      const std::string reference = ox_refhost::refused_character_reference(node.value());
      if (!reference.empty()) {
        return line_of(reference) + "the character reference " + quoted(reference) +
               " names no character";
      }
    }
    if (node.first_child()) {
      node = node.first_child();
      ++depth;
      continue;
    }
    while (node && !node.next_sibling()) {
      node = node.parent();
      depth -= depth > 0 ? 1 : 0;
    }
    node = node ? node.next_sibling() : node;
  }
  if (!document.document_element()) {
    return "no document element";
  }
  return {};
}

}  // namespace oxpm
}  // namespace tarvik

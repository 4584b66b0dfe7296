#include "lint.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <map>
#include <optional>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <unordered_map>

#include "host/regex.hpp"
#include "json_out.hpp"
#include "patterns.hpp"
#include "session.hpp"
#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/spec.hpp"
#include "tarvik/ox/version.hpp"
#include "tarvik/ox_refhost/regex.hpp"
#include "tarvik/ox_refhost/xml.hpp"

namespace tarvik {
namespace oxpm {
namespace {

using severity_t = lint_finding::severity_t;

// The five containers of relations and what each child needs.
struct container_rule {
  const char* name;
  std::vector<const char*> attributes;
  const char* lost;  // what skipping a child loses
};

const std::vector<container_rule>& container_rules() {
  static const std::vector<container_rule> kRules = {
      {"provides", {"id", "name"}, "the provided software is lost"},
      {"uninstalls", {"sref", "name"}, "the software is never uninstalled"},
      {"obsoletes", {"version"}, "no version is made obsolete by it"},
      {"depends", {"sref", "version"}, "the dependency is never checked"},
      {"compatibles", {"sref", "version"}, "the compatibility is never checked"},
  };
  return kRules;
}

// The children of a software element that the import reads.
constexpr std::array<const char*, 6> kContainers = {"provides",  "depends",     "uninstalls",
                                                    "obsoletes", "compatibles", "conflicts"};

constexpr std::array<const char*, 5> kSoftwareAttributes = {"sref", "name", "platforms", "version",
                                                            "softwareids"};
constexpr std::array<const char*, 6> kRegistryAttributes = {"name", "hkey",  "path",
                                                            "key",  "match", "action"};

std::string in_quotes(const std::string& text) {
  return "\"" + printable(text) + "\"";
}

std::vector<pugi::xml_node> element_children(const pugi::xml_node& node) {
  std::vector<pugi::xml_node> out;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) {
      out.push_back(child);
    }
  }
  return out;
}

// A relation whose sref must be answered by some entry.
struct pending_relation {
  std::size_t document = 0;
  std::size_t line = 0;
  std::string container;
  std::string sref;
};

// A software element that the import keeps.
struct kept_entry {
  std::size_t document = 0;
  std::size_t line = 0;
  std::string platforms;
  ox::software_spec spec;
};

using version_key = std::array<std::uint32_t, 4>;

// The version after `v`; false when `v` is the greatest.
bool next_version(version_key& v) {
  for (std::size_t i = v.size(); i-- > 0;) {
    if (v[i] != ox::version::kMaxComponent) {
      ++v[i];
      for (std::size_t k = i + 1; k < v.size(); ++k) {
        v[k] = 0;
      }
      return true;
    }
  }
  return false;
}

// True when every version of `range` lies in one of `cover`.
bool covered(const ox::version_range& range, std::vector<ox::version_range> cover) {
  std::sort(cover.begin(), cover.end(), [](const ox::version_range& a, const ox::version_range& b) {
    return a.min.components < b.min.components;
  });
  version_key low = range.min.components;
  const version_key high = range.max.components;
  for (const ox::version_range& piece : cover) {
    if (piece.min.components > low) {
      return false;
    }
    if (piece.max.components < low) {
      continue;
    }
    if (piece.max.components >= high) {
      return true;
    }
    low = piece.max.components;
    if (!next_version(low)) {
      return true;
    }
  }
  return false;
}

// The softwareids patterns, each compiled once by the host's regular
// expressions and tested as the look-ups test them: a pattern that does not
// compile matches nothing.
class pattern_cache {
 public:
  bool matches(const std::string& pattern, const std::string& id) {
    std::unique_ptr<ox::internal::compiled_pattern>& compiled = compiled_[pattern];
    if (compiled == nullptr) {
      compiled = std::make_unique<ox::internal::compiled_pattern>(pattern);
    }
    return compiled->matches(id);
  }

 private:
  std::map<std::string, std::unique_ptr<ox::internal::compiled_pattern>> compiled_;
};

std::string default_fix(const std::string& code) {
  for (const lint_code& known : lint_codes()) {
    if (code == known.code) {
      return known.fix;
    }
  }
  return std::string();
}

// Edit distance, for naming the container a misspelt one was meant to be.
std::size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// A platform name is a run of letters, digits and "-_.+"; anything else in
// a "platforms" value separates names.
std::vector<std::string> platform_names(const std::string& platforms) {
  std::vector<std::string> names;
  std::string current;
  for (char c : platforms) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0 || std::strchr("-_.+", c) != nullptr) {
      current += c;
    } else if (!current.empty()) {
      names.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) {
    names.push_back(current);
  }
  return names;
}

class linter {
 public:
  linter(const std::vector<lint_document>& documents, const std::string& platform)
      : documents_(documents), platform_(platform) {}

  lint_result run() {
    for (std::size_t d = 0; d < documents_.size(); ++d) {
      lint_document_at(d);
    }
    check_srefs();
    check_shadowing();
    check_platform_names();
    if (!platform_.empty() && kept_.empty() && loaded_any_) {
      add(0, 1, severity_t::warning, "no-entry",
          "no software element is for platform " + in_quotes(platform_) + ": nothing is imported");
    }
    std::stable_sort(result_.findings.begin(), result_.findings.end(),
                     [this](const lint_finding& a, const lint_finding& b) {
                       const std::size_t da = document_index(a.file);
                       const std::size_t db = document_index(b.file);
                       return da != db ? da < db : a.line < b.line;
                     });
    result_.entries = kept_.size();
    return result_;
  }

 private:
  std::size_t document_index(const std::string& name) const {
    for (std::size_t d = 0; d < documents_.size(); ++d) {
      if (documents_[d].name == name) {
        return d;
      }
    }
    return documents_.size();
  }

  void add(std::size_t document, std::size_t line, severity_t severity, const char* check,
           const std::string& message, const std::string& fix = std::string()) {
    lint_finding finding;
    finding.file = documents_[document].name;
    finding.line = line;
    finding.severity = severity;
    finding.check = check;
    finding.message = message;
    finding.fix = fix.empty() ? default_fix(check) : fix;
    result_.findings.push_back(finding);
    if (severity == severity_t::error) {
      ++result_.errors;
    } else {
      ++result_.warnings;
    }
  }

  std::size_t line_of(const pugi::xml_node& node) const {
    const std::ptrdiff_t offset = node.offset_debug();
    if (offset < 0) {
      return 0;
    }
    const auto at = std::upper_bound(line_starts_.begin(), line_starts_.end(),
                                     static_cast<std::size_t>(offset));
    return static_cast<std::size_t>(at - line_starts_.begin());
  }

  void lint_document_at(std::size_t d) {
    const std::string& content = documents_[d].content;
    line_starts_.assign(1, 0);
    for (std::size_t i = 0; i < content.size(); ++i) {
      if (content[i] == '\n') {
        line_starts_.push_back(i + 1);
      }
    }
    // Read as the import reads it: the same loader decides whether the
    // document loads at all and builds the tree walked below.
    pugi::xml_document document;
    const int loaded = ox_refhost::load_xml_document(document, content.data(), content.size());
    if (loaded != OX_OK) {
      std::string detail = xml_diagnosis(content);
      add(d, 1, severity_t::error, "unloadable",
          "the document cannot be loaded" + (detail.empty() ? std::string() : ": " + detail) +
              " (host error " + describe_code(static_cast<ox_error_e>(loaded)) +
              "); nothing of it is imported");
      return;
    }
    loaded_any_ = true;
    const pugi::xml_node specs = document.child("specs");
    if (!specs) {
      const pugi::xml_node root = document.document_element();
      add(d, root ? line_of(root) : 1, severity_t::error, "no-softwares",
          std::string("the document element is ") +
              (root ? in_quotes(root.name()) : std::string("missing")) +
              ", not \"specs\": nothing is imported");
      return;
    }
    const pugi::xml_node softwares = specs.child("softwares");
    if (!softwares) {
      add(d, line_of(specs), severity_t::error, "no-softwares",
          "\"specs\" has no \"softwares\" element: nothing is imported");
      return;
    }
    bool first = true;
    for (const pugi::xml_node& list : element_children(specs)) {
      if (std::strcmp(list.name(), "softwares") == 0) {
        if (!first) {
          add(d, line_of(list), severity_t::error, "duplicate-container",
              "a second \"softwares\" element is never read: its software is lost");
        }
        first = false;
      }
    }
    for (const pugi::xml_node& child : element_children(softwares)) {
      if (std::strcmp(child.name(), "software") != 0) {
        add(d, line_of(child), severity_t::warning, "skipped-element",
            "element " + in_quotes(child.name()) +
                " in \"softwares\" is not a \"software\" element: the import skips it");
        continue;
      }
      lint_software(d, child);
    }
  }

  void lint_software(std::size_t d, const pugi::xml_node& node) {
    const std::size_t line = line_of(node);
    std::vector<std::string> missing;
    for (const char* name : kSoftwareAttributes) {
      if (!node.attribute(name)) {
        missing.emplace_back(name);
      }
    }
    const std::string sref = node.attribute("sref").value();
    const std::string who = node.attribute("sref") ? "software " + in_quotes(sref) : "software";
    if (!missing.empty()) {
      std::string names;
      for (const std::string& name : missing) {
        names += (names.empty() ? "\"" : ", \"") + name + "\"";
      }
      add(d, line, severity_t::error, "missing-attribute",
          who + " lacks " + names + ": the import skips the element and all its relations");
    }
    const bool complete = missing.empty();
    const bool kept =
        complete &&
        std::string(node.attribute("platforms").value()).find(platform_) != std::string::npos;

    if (node.attribute("version")) {
      check_version_text(d, line, who, node.attribute("version").value(),
                         "the entry is never found for a version");
    }
    if (node.attribute("softwareids")) {
      check_pattern(d, line, who, node.attribute("softwareids").value(),
                    node.attribute("sref") ? &sref : nullptr);
    }
    for (const std::string& name : platform_names(node.attribute("platforms").value())) {
      platforms_.emplace(name, std::make_pair(d, line));
    }
    check_container_names(d, node, who);

    kept_entry entry;
    entry.document = d;
    entry.line = line;
    if (complete) {
      entry.spec.sref = sref;
      entry.spec.name = node.attribute("name").value();
      entry.spec.softwareids = node.attribute("softwareids").value();
      entry.spec.versions.set(node.attribute("version").value());
      entry.platforms = node.attribute("platforms").value();
    }

    for (const container_rule& rule : container_rules()) {
      lint_container(d, node, who, rule, kept);
    }
    lint_conflicts(d, node, who);
    if (kept) {
      kept_.push_back(std::move(entry));
    }
  }

  // The first container of that name is read; later ones are lost.
  pugi::xml_node first_container(std::size_t d, const pugi::xml_node& node, const char* name,
                                 const std::string& who) {
    pugi::xml_node first;
    for (const pugi::xml_node& child : element_children(node)) {
      if (std::strcmp(child.name(), name) != 0) {
        continue;
      }
      if (!first) {
        first = child;
      } else {
        add(d, line_of(child), severity_t::error, "duplicate-container",
            "a second " + in_quotes(name) + " element of " + who +
                " is never read: its children are lost");
      }
    }
    return first;
  }

  void lint_container(std::size_t d, const pugi::xml_node& node, const std::string& who,
                      const container_rule& rule, bool kept) {
    const pugi::xml_node container = first_container(d, node, rule.name, who);
    if (!container) {
      return;
    }
    for (const pugi::xml_node& child : element_children(container)) {
      const std::size_t line = line_of(child);
      std::string names;
      for (const char* name : rule.attributes) {
        if (!child.attribute(name)) {
          names += (names.empty() ? "\"" : ", \"") + std::string(name) + "\"";
        }
      }
      if (!names.empty()) {
        add(d, line, severity_t::error, "missing-attribute",
            in_quotes(child.name()) + " in " + in_quotes(rule.name) + " of " + who + " lacks " +
                names + ": the import skips it and " + rule.lost);
        continue;
      }
      const std::string container_name = rule.name;
      if (child.attribute("version")) {
        const char* consequence = container_name == "depends" ? "the dependency is never met"
                                  : container_name == "compatibles"
                                      ? "the relation fails whenever the software is present"
                                      : "it makes no version obsolete";
        check_version_text(d, line,
                           in_quotes(child.name()) + " in " + in_quotes(rule.name) + " of " + who,
                           child.attribute("version").value(), consequence);
      }
      if (container_name == "depends" && node.attribute("sref") && node.attribute("softwareids")) {
        check_self_dependency(d, line, who, node, child.attribute("sref").value());
      }
      if (kept && (container_name == "depends" || container_name == "compatibles" ||
                   container_name == "uninstalls")) {
        pending_.push_back({d, line, container_name, child.attribute("sref").value()});
      }
    }
  }

  void lint_conflicts(std::size_t d, const pugi::xml_node& node, const std::string& who) {
    const pugi::xml_node container = first_container(d, node, "conflicts", who);
    if (!container) {
      return;
    }
    for (const pugi::xml_node& child : element_children(container)) {
      const std::size_t line = line_of(child);
      if (std::strcmp(child.name(), "registry") != 0) {
        add(d, line, severity_t::warning, "skipped-element",
            "element " + in_quotes(child.name()) + " in \"conflicts\" of " + who +
                " is not a \"registry\" element: the import skips it");
        continue;
      }
      std::string names;
      for (const char* name : kRegistryAttributes) {
        if (!child.attribute(name)) {
          names += (names.empty() ? "\"" : ", \"") + std::string(name) + "\"";
        }
      }
      if (!names.empty()) {
        add(d, line, severity_t::error, "missing-attribute",
            "\"registry\" in \"conflicts\" of " + who + " lacks " + names +
                ": the import skips the conflict");
        continue;
      }
      const std::string action = child.attribute("action").value();
      if (action != "Ignore" &&
          ox::conflict_action_type(action.c_str()) == ox::CONFLICT_ACTION_IGNORE) {
        add(d, line, severity_t::warning, "ignored-action",
            "action " + in_quotes(action) + " of conflict " +
                in_quotes(child.attribute("name").value()) +
                " is read as \"Ignore\" (the actions are \"ErrorFail\", \"Uninstall\" and "
                "\"Ignore\", spelt exactly)");
      }
    }
  }

  // `sref`, when the element has one: the pattern should answer to it, since
  // relations recognise installed and requested software through the
  // pattern alone.
  void check_pattern(std::size_t d, std::size_t line, const std::string& who,
                     const std::string& pattern, const std::string* sref) {
    ox_regex_s* regex = nullptr;
    const int code = ox_regex_create(pattern.c_str(), &regex);
    const ox::internal::regex_ptr release(regex);
    if (code != OX_OK || pattern.find('\0') != std::string::npos) {
      add(d, line, severity_t::error, "bad-pattern",
          "softwareids pattern " + in_quotes(pattern) + " of " + who +
              " does not compile (host error " + describe_code(static_cast<ox_error_e>(code)) +
              "): it never matches, the entry answers to its sref only");
      return;
    }
    if (sref == nullptr || sref->find('\0') != std::string::npos) {
      return;
    }
    // The pattern compiles (checked above): it just does not answer to the sref.
    if (!patterns_.matches(pattern, *sref)) {
      add(d, line, severity_t::warning, "pattern-misses-sref",
          "softwareids pattern " + in_quotes(pattern) + " of " + who +
              " does not match its own sref: software installed or requested as " +
              in_quotes(*sref) + " does not meet the relations that name it",
          "add the sref to the pattern: softwareids=\"" + printable(*sref) +
              (pattern.empty() ? std::string() : "|" + printable(pattern)) + "\"");
    }
  }

  // Any other child element of a software element is passed over: a
  // misspelt container loses every relation in it.
  void check_container_names(std::size_t d, const pugi::xml_node& node, const std::string& who) {
    for (const pugi::xml_node& child : element_children(node)) {
      const std::string name = child.name();
      if (std::find(kContainers.begin(), kContainers.end(), name) != kContainers.end()) {
        continue;
      }
      const char* nearest = kContainers[0];
      for (const char* candidate : kContainers) {
        if (distance(name, candidate) < distance(name, nearest)) {
          nearest = candidate;
        }
      }
      const bool close = distance(name, nearest) <= 3;
      add(d, line_of(child), severity_t::error, "unknown-container",
          "element " + in_quotes(name) + " in " + who +
              " is not a container the import reads: everything in it is lost",
          close ? "rename it to \"" + std::string(nearest) + "\""
                : std::string("rename it to one of provides, uninstalls, obsoletes, depends, "
                              "compatibles, conflicts, or remove it"));
    }
  }

  // Two names of which one is part of the other: the import's platform test
  // is a substring test, so importing for the shorter name also imports the
  // elements meant for the longer one.
  void check_platform_names() {
    // Every pair is compared. Real catalogs name a handful of platforms; one
    // that names thousands is not checked rather than compared for minutes.
    constexpr std::size_t kMostNames = 1000;
    if (platforms_.size() > kMostNames) {
      return;
    }
    for (const auto& shorter : platforms_) {
      for (const auto& longer : platforms_) {
        if (shorter.first == longer.first ||
            longer.first.find(shorter.first) == std::string::npos) {
          continue;
        }
        add(longer.second.first, longer.second.second, severity_t::warning, "platform-substring",
            "platform " + in_quotes(shorter.first) + " is part of platform " +
                in_quotes(longer.first) + ": --platform " + printable(shorter.first) +
                " also imports the elements meant for " + in_quotes(longer.first),
            "rename " + in_quotes(shorter.first) + " or " + in_quotes(longer.first) +
                " so that neither is part of the other");
      }
    }
  }

  // A dependency on the entry itself cannot be met by a first install, nor
  // by the installed copy that the install replaces.
  void check_self_dependency(std::size_t d, std::size_t line, const std::string& who,
                             const pugi::xml_node& node, const std::string& sref) {
    const std::string own = node.attribute("sref").value();
    bool self = sref == own;
    if (!self && sref.find('\0') == std::string::npos) {
      self = patterns_.matches(node.attribute("softwareids").value(), sref);
    }
    if (self) {
      add(d, line, severity_t::error, "self-dependency",
          who + " depends on " + in_quotes(sref) +
              ", which is itself: a first install cannot meet it, and an installed copy that the "
              "install replaces does not count");
    }
  }

  // A version text as the import reads it: ranges separated by "|", each
  // kept only when valid.
  void check_version_text(std::size_t d, std::size_t line, const std::string& what,
                          const std::string& text, const char* consequence) {
    check_version_characters(d, line, what, text);
    std::vector<std::string> pieces;
    std::string rest = text;
    for (;;) {
      const std::size_t bar = rest.find('|');
      if (bar == std::string::npos) {
        pieces.push_back(rest);
        break;
      }
      pieces.push_back(rest.substr(0, bar));
      rest = rest.substr(bar + 1);
    }
    std::vector<std::string> dropped;
    std::size_t valid = 0;
    for (const std::string& piece : pieces) {
      ox::version_range range;
      range.set(piece);
      if (!range.is_valid()) {
        dropped.push_back(piece);
        continue;
      }
      ++valid;
      warn_without_dot(d, line, what, piece, range);
    }
    if (valid == 0) {
      add(d, line, severity_t::error, "invalid-version",
          what + ": version " + in_quotes(text) + " holds no valid range: " + consequence);
      return;
    }
    for (const std::string& piece : dropped) {
      add(d, line, severity_t::error, "dropped-range",
          what + ": in version " + in_quotes(text) + " the range " + in_quotes(piece) +
              " is invalid (its lower bound exceeds its upper bound) and is dropped");
    }
  }

  // Each piece of a version is read as a number up to its first non-digit:
  // "v1.0" reads as 0.0, "1.0b" as 1.0. Blanks are skipped.
  void check_version_characters(std::size_t d, std::size_t line, const std::string& what,
                                const std::string& text) {
    std::string numeric;
    bool odd = false;
    for (char c : text) {
      if (std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '.' || c == ':' || c == '|') {
        numeric += c;
      } else if (c != ' ' && c != '\t') {
        odd = true;
      }
    }
    if (!odd) {
      return;
    }
    ox::version_ranges read;
    read.set(text);
    add(d, line, severity_t::error, "non-numeric-version",
        what + ": version " + in_quotes(text) +
            " holds characters other than digits, \".\", \":\" and \"|\": it reads as " +
            (read.ranges.empty() ? std::string("no version") : human_ranges(read)),
        "write numbers only, for example \"" + numeric + "\"");
  }

  // A bound without "." names no component, which surprises: "5" is every
  // version, not 5.0.0.0.
  void warn_without_dot(std::size_t d, std::size_t line, const std::string& what,
                        const std::string& piece, const ox::version_range& range) {
    const std::size_t colon = piece.find(':');
    std::vector<std::string> bounds;
    if (colon == std::string::npos) {
      if (piece != "0") {
        bounds.push_back(piece);
      }
    } else {
      bounds.push_back(piece.substr(0, colon));
      bounds.push_back(piece.substr(colon + 1));
    }
    for (const std::string& bound : bounds) {
      if (!bound.empty() && bound.find('.') == std::string::npos) {
        add(d, line, severity_t::warning, "version-without-dot",
            what + ": in version " + in_quotes(piece) + ", " + in_quotes(bound) +
                " has no \".\" and so names no component: the range reads as " +
                human_range(range));
        return;
      }
    }
  }

  // The look-ups' rule: the sref equals the id, or the pattern matches it.
  bool pattern_matches(std::size_t index, const std::string& id) {
    if (id.find('\0') != std::string::npos) {
      return false;
    }
    return patterns_.matches(kept_[index].spec.softwareids, id);
  }

  // Every kept entry that answers to `id`, ascending. Asking each entry in
  // turn would make the checks below grow with the square of the entries;
  // instead entries are indexed by sref and by what the host tells of their
  // patterns, and only patterns it cannot describe are tried one by one.
  const std::vector<std::size_t>& answering(const std::string& id) {
    build_answer_index();
    auto cached = answering_.find(id);
    if (cached != answering_.end()) {
      return cached->second;
    }
    std::vector<std::size_t> found;
    auto take_all = [&](const std::vector<std::size_t>& entries) {
      found.insert(found.end(), entries.begin(), entries.end());
    };
    auto take_confirmed = [&](const std::vector<std::size_t>& entries) {
      for (std::size_t index : entries) {
        if (pattern_matches(index, id)) {
          found.push_back(index);
        }
      }
    };
    if (auto it = by_sref_.find(id); it != by_sref_.end()) {
      take_all(it->second);
    }
    if (auto it = by_literal_.find(id); it != by_literal_.end()) {
      take_all(it->second);
    }
    if (auto it = by_narrowed_exact_.find(id); it != by_narrowed_exact_.end()) {
      take_confirmed(it->second);
    }
    for (std::size_t length : prefix_lengths_) {
      if (length > id.size()) {
        break;
      }
      if (auto it = by_prefix_.find(id.substr(0, length)); it != by_prefix_.end()) {
        take_confirmed(it->second);
      }
    }
    take_confirmed(undescribed_);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return answering_.emplace(id, std::move(found)).first->second;
  }

  void build_answer_index() {
    if (answer_index_built_) {
      return;
    }
    answer_index_built_ = true;
    const ox_regex_literals_s* literals = ox_refhost::regex_literals();
    for (std::size_t index = 0; index < kept_.size(); ++index) {
      const ox::software_spec& spec = kept_[index].spec;
      by_sref_[spec.sref].push_back(index);
      const std::optional<pattern_description> shape = describe_pattern(literals, spec.softwareids);
      if (!shape) {
        undescribed_.push_back(index);
      } else if (shape->prefixes.empty()) {
        // A plain alternation of literals matches exactly those texts.
        for (const std::string& text : shape->exact) {
          by_literal_[text].push_back(index);
        }
      } else {
        for (const std::string& text : shape->exact) {
          by_narrowed_exact_[text].push_back(index);
        }
        for (const std::string& prefix : shape->prefixes) {
          by_prefix_[prefix].push_back(index);
          prefix_lengths_.insert(prefix.size());
        }
      }
    }
  }

  void check_srefs() {
    std::map<std::string, bool> known;
    for (const pending_relation& relation : pending_) {
      auto found = known.find(relation.sref);
      if (found == known.end()) {
        found = known.emplace(relation.sref, !answering(relation.sref).empty()).first;
      }
      if (found->second) {
        continue;
      }
      const char* consequence = relation.container == "depends" ? "the dependency is never met"
                                : relation.container == "compatibles"
                                    ? "the relation always passes"
                                    : "nothing is ever uninstalled by it";
      std::string message = "sref " + in_quotes(relation.sref) + " in " +
                            in_quotes(relation.container) + " names no entry";
      if (!platform_.empty()) {
        message += " for platform " + in_quotes(platform_);
      }
      add(relation.document, relation.line, severity_t::error, "unknown-sref",
          message + ": " + consequence);
    }
  }

  // Among `candidates` (earlier entries that answer to the later one's
  // sref), those that together cover all its versions, or none when some
  // version stays reachable. With `same_platforms`, only entries meant for
  // exactly the same platforms count.
  std::vector<std::size_t> shadowing(std::size_t b, const std::vector<std::size_t>& candidates,
                                     bool same_platforms) const {
    const kept_entry& later = kept_[b];
    std::vector<ox::version_range> cover;
    std::vector<std::size_t> by;
    for (std::size_t a : candidates) {
      const kept_entry& earlier = kept_[a];
      if (same_platforms && earlier.platforms != later.platforms) {
        continue;
      }
      cover.insert(cover.end(), earlier.spec.versions.ranges.begin(),
                   earlier.spec.versions.ranges.end());
      by.push_back(a);
    }
    const bool all =
        !cover.empty() &&
        std::all_of(later.spec.versions.ranges.begin(), later.spec.versions.ranges.end(),
                    [&](const ox::version_range& range) { return covered(range, cover); });
    return all ? by : std::vector<std::size_t>{};
  }

  void check_shadowing() {
    for (std::size_t b = 0; b < kept_.size(); ++b) {
      const ox::software_spec& later = kept_[b].spec;
      if (later.versions.ranges.empty()) {
        continue;
      }
      std::vector<std::size_t> candidates;
      for (std::size_t a : answering(later.sref)) {
        if (a >= b) {
          break;
        }
        if (!kept_[a].spec.versions.ranges.empty()) {
          candidates.push_back(a);
        }
      }
      std::vector<std::size_t> by = shadowing(b, candidates, true);
      bool across_platforms = false;
      if (by.empty() && platform_.empty()) {
        by = shadowing(b, candidates, false);
        across_platforms = !by.empty();
      }
      if (by.empty()) {
        continue;
      }
      std::string where;
      for (std::size_t a : by) {
        where += (where.empty() ? "" : ", ") + documents_[kept_[a].document].name + ":" +
                 std::to_string(kept_[a].line);
      }
      std::string message = "software " + in_quotes(later.sref) + " (" +
                            human_ranges(later.versions) + ") is shadowed for every version by " +
                            (by.size() == 1 ? "the earlier entry at " : "the earlier entries at ") +
                            where + ": a look-up of " + in_quotes(later.sref) + " never returns it";
      if (across_platforms) {
        add(kept_[b].document, kept_[b].line, severity_t::warning, "shadowed",
            message +
                " when every platform is imported (no --platform); its \"platforms\" differ, "
                "so lint with --platform to check one platform");
      } else {
        add(kept_[b].document, kept_[b].line, severity_t::error, "shadowed", message);
      }
    }
  }

  const std::vector<lint_document>& documents_;
  std::string platform_;
  std::vector<std::size_t> line_starts_;
  std::vector<kept_entry> kept_;
  std::vector<pending_relation> pending_;
  lint_result result_;
  pattern_cache patterns_;
  bool answer_index_built_ = false;
  std::unordered_map<std::string, std::vector<std::size_t>> by_sref_;
  std::unordered_map<std::string, std::vector<std::size_t>> by_literal_;
  std::unordered_map<std::string, std::vector<std::size_t>> by_narrowed_exact_;
  std::unordered_map<std::string, std::vector<std::size_t>> by_prefix_;
  std::set<std::size_t> prefix_lengths_;
  std::vector<std::size_t> undescribed_;
  std::unordered_map<std::string, std::vector<std::size_t>> answering_;
  bool loaded_any_ = false;
  // Each platform name, with the first element that names it.
  std::map<std::string, std::pair<std::size_t, std::size_t>> platforms_;
};

}  // namespace

lint_result lint_documents(const std::vector<lint_document>& documents,
                           const std::string& platform) {
  return linter(documents, platform).run();
}

const std::vector<lint_code>& lint_codes() {
  using s = severity_t;
  static const std::vector<lint_code> kCodes = {
      {"unloadable", s::error, "make the document well-formed XML at the place named"},
      {"no-softwares", s::error,
       "put the software elements in <specs><softwares>...</softwares></specs>"},
      {"missing-attribute", s::error,
       "add the attributes named (an empty value counts as present)"},
      {"duplicate-container", s::error,
       "move the children into the first element of that name and remove this one"},
      {"unknown-container", s::error,
       "rename it to one of provides, uninstalls, obsoletes, depends, compatibles, conflicts"},
      {"invalid-version", s::error,
       "write each range as MIN:MAX with MIN at most MAX, for example \"1.0:1.9\""},
      {"dropped-range", s::error,
       "write each range as MIN:MAX with MIN at most MAX, for example \"1.0:1.9\""},
      {"non-numeric-version", s::error, "write the versions with digits and dots only"},
      {"bad-pattern", s::error,
       "correct the regular expression (RE2 syntax, matched against the whole id)"},
      {"self-dependency", s::error, "remove the dependency on the software itself"},
      {"unknown-sref", s::error,
       "name the sref of an entry of the catalog (for this platform), or add that entry"},
      {"shadowed", s::error,
       "narrow the versions of the earlier entry, or remove or merge this one"},
      {"skipped-element", s::warning,
       "rename the element (\"software\" in softwares, \"registry\" in conflicts) or remove "
       "it"},
      {"version-without-dot", s::warning,
       "write the version with a dot: \"5.0\" for 5.0.0.0, \"5.0:5.9\" for every 5.x"},
      {"pattern-misses-sref", s::warning, "add the sref to the softwareids pattern"},
      {"ignored-action", s::warning, "spell the action exactly: ErrorFail, Uninstall or Ignore"},
      {"platform-substring", s::warning, "rename one platform so that neither contains the other"},
      {"no-entry", s::warning, "check the --platform name against the \"platforms\" attributes"},
  };
  return kCodes;
}

lint_result without_codes(const lint_result& result, const std::vector<std::string>& codes) {
  lint_result out;
  out.entries = result.entries;
  out.ignored = result.ignored;
  for (const lint_finding& finding : result.findings) {
    if (std::find(codes.begin(), codes.end(), finding.check) != codes.end()) {
      ++out.ignored;
      continue;
    }
    out.findings.push_back(finding);
    ++(finding.severity == severity_t::error ? out.errors : out.warnings);
  }
  return out;
}

std::string render_lint_text(const lint_result& result, const style& look) {
  std::ostringstream out;
  // Errors first, then the codes in table order, then any other.
  std::vector<std::pair<std::string, severity_t>> groups;
  for (const severity_t severity : {severity_t::error, severity_t::warning}) {
    for (const lint_code& known : lint_codes()) {
      groups.emplace_back(known.code, severity);
    }
  }
  for (const lint_finding& finding : result.findings) {
    const std::pair<std::string, severity_t> key(finding.check, finding.severity);
    if (std::find(groups.begin(), groups.end(), key) == groups.end()) {
      groups.push_back(key);
    }
  }
  for (const auto& group : groups) {
    std::vector<const lint_finding*> members;
    for (const lint_finding& finding : result.findings) {
      if (finding.check == group.first && finding.severity == group.second) {
        members.push_back(&finding);
      }
    }
    if (members.empty()) {
      continue;
    }
    const bool error = group.second == severity_t::error;
    bool one_fix = true;
    for (const lint_finding* finding : members) {
      one_fix = one_fix && finding->fix == members.front()->fix;
    }
    out << look.bold(group.first) << " ("
        << (error ? look.red(plural(members.size(), "error", "errors"))
                  : look.yellow(plural(members.size(), "warning", "warnings")))
        << ")";
    if (one_fix && !members.front()->fix.empty()) {
      out << ": fix: " << members.front()->fix;
    }
    out << "\n";
    for (const lint_finding* finding : members) {
      out << "  " << printable(finding->file) << ":" << finding->line << ": " << finding->message
          << "\n";
      if (!one_fix && !finding->fix.empty()) {
        out << "    fix: " << finding->fix << "\n";
      }
    }
    out << "\n";
  }
  out << plural(result.errors, "error", "errors") << ", "
      << plural(result.warnings, "warning", "warnings");
  if (result.ignored > 0) {
    out << " (" << result.ignored << " ignored)";
  }
  out << "; " << plural(result.entries, "software entry", "software entries") << " imported\n";
  return out.str();
}

nlohmann::ordered_json lint_json(const lint_result& result) {
  nlohmann::ordered_json findings = nlohmann::ordered_json::array();
  for (const lint_finding& finding : result.findings) {
    findings.push_back({{"file", finding.file},
                        {"line", finding.line},
                        {"severity", finding.severity == severity_t::error ? "error" : "warning"},
                        {"check", finding.check},
                        {"code", finding.check},
                        {"message", finding.message},
                        {"fix", finding.fix}});
  }
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  out["schema_version"] = kJsonSchemaVersion;
  out["findings"] = std::move(findings);
  out["errors"] = result.errors;
  out["warnings"] = result.warnings;
  out["ignored"] = result.ignored;
  out["entries"] = result.entries;
  return out;
}

}  // namespace oxpm
}  // namespace tarvik

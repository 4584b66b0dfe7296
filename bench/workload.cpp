#include "workload.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace tarvik {
namespace ox_bench {
namespace {

constexpr int kVersionsPerName = 4;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

enum class role { other, installed, requested };

struct dependency {
  std::size_t target = 0;
  int low = 0;    // index of the lower bound's version
  int high = -1;  // index of the upper bound's version; -1: open at the top
};

struct compatibility {
  std::size_t target = 0;
  bool from = true;  // "LO:" when true, ":HI" otherwise
  int bound = 0;     // index of the version of LO or HI
};

struct element {
  std::size_t name = 0;
  int version = 0;
  std::string softwareids;
  std::vector<dependency> depends;
  std::vector<compatibility> compatibles;
};

struct catalog {
  std::vector<std::string> names;
  // Minor number of each version; the major of version index j is j + 1.
  std::vector<std::array<int, kVersionsPerName>> minors;

  std::string full(std::size_t name, int index) const {
    return std::to_string(index + 1) + "." + std::to_string(minors[name][index]) + ".0.0";
  }
  // The upper bound text of a closed range: "MAJOR.MINOR", which reads as
  // MAJOR.MINOR.4294967295.4294967295 and so holds that version.
  std::string upper(std::size_t name, int index) const {
    return std::to_string(index + 1) + "." + std::to_string(minors[name][index]);
  }
  // The first version above every version that `upper` holds.
  std::string above_upper(std::size_t name, int index) const {
    return std::to_string(index + 1) + "." + std::to_string(minors[name][index] + 1) + ".0.0";
  }
};

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
    }
    out += c;
  }
  out += '"';
  return out;
}

std::string json_list(const std::vector<package_version>& list, const char* indent) {
  std::string out = "[";
  for (std::size_t i = 0; i < list.size(); ++i) {
    out += i == 0 ? "\n" : ",\n";
    out += indent;
    out +=
        "{\"id\": " + json_text(list[i].id) + ", \"version\": " + json_text(list[i].version) + "}";
  }
  out += list.empty() ? "]" : "\n" + std::string(indent).substr(2) + "]";
  return out;
}

}  // namespace

workload generate(const workload_options& options) {
  const std::size_t name_count = options.size.elements / kVersionsPerName;
  if (name_count == 0 || options.size.installed + options.size.requested > name_count) {
    throw std::invalid_argument("workload: sizes do not fit");
  }
  rng random(options.seed);
  workload out;
  out.options = options;

  catalog cat;
  cat.names.reserve(name_count);
  cat.minors.resize(name_count);
  // Names of one width: "NAME.*" must not recognise a longer name.
  const std::size_t width = std::max<std::size_t>(6, std::to_string(name_count - 1).size());
  for (std::size_t n = 0; n < name_count; ++n) {
    const std::string digits = std::to_string(n);
    cat.names.push_back("p" + std::string(width - digits.size(), '0') + digits);
    for (int v = 0; v < kVersionsPerName; ++v) {
      cat.minors[n][v] = static_cast<int>(random.below(10));
    }
  }
  out.names = cat.names;
  out.versions.resize(name_count);
  out.needs.resize(name_count);
  for (std::size_t n = 0; n < name_count; ++n) {
    for (int v = 0; v < kVersionsPerName; ++v) {
      out.versions[n].push_back(cat.full(n, v));
    }
  }

  // Roles: a random choice of installed names, then of requested ones.
  std::vector<std::size_t> order(name_count);
  for (std::size_t n = 0; n < name_count; ++n) {
    order[n] = n;
  }
  random.shuffle(order);
  std::vector<role> roles(name_count, role::other);
  std::vector<int> chosen(name_count, -1);
  std::vector<std::size_t> request_position(name_count, kNone);
  const std::size_t m = options.size.installed;
  const std::size_t k = options.size.requested;
  std::vector<std::size_t> others;
  for (std::size_t i = 0; i < name_count; ++i) {
    const std::size_t n = order[i];
    chosen[n] = static_cast<int>(random.below(kVersionsPerName));
    if (i < m) {
      roles[n] = role::installed;
      out.installed.push_back({cat.names[n], cat.full(n, chosen[n])});
    } else if (i < m + k) {
      roles[n] = role::requested;
      request_position[n] = i - m;
      out.request.push_back({cat.names[n], cat.full(n, chosen[n])});
    } else {
      others.push_back(n);
    }
  }

  // The elements and their relations.
  std::vector<element> elements;
  elements.reserve(name_count * kVersionsPerName);
  for (std::size_t n = 0; n < name_count; ++n) {
    for (int v = 0; v < kVersionsPerName; ++v) {
      element e;
      e.name = n;
      e.version = v;
      const bool fixed = roles[n] != role::other && chosen[n] == v;
      // Which names a relation of this element may name so that the request
      // still passes: installed names (the installed element), installed
      // names and names earlier in the request (the requested element, whose
      // compatibles may also name software that is never there), any other
      // name (the rest, which nothing installs).
      const std::size_t earlier = roles[n] == role::requested ? request_position[n] : 0;
      auto pick_present = [&]() -> std::size_t {
        const std::size_t pool = m + earlier;
        if (pool == 0) {
          return kNone;
        }
        // order[0, m) are the installed names, order[m, m + k) the
        // requested ones in request order.
        return order[random.below(pool)];
      };
      auto pick_any = [&]() { return random.below(name_count); };

      const std::size_t depend_count = random.below(6);
      for (std::size_t d = 0; d < depend_count; ++d) {
        const std::size_t target = fixed ? pick_present() : pick_any();
        if (target == kNone || target == n) {
          continue;
        }
        dependency dep;
        dep.target = target;
        const bool present = fixed;
        const int pivot = present ? chosen[target] : static_cast<int>(random.below(4));
        dep.low = static_cast<int>(random.below(static_cast<std::size_t>(pivot) + 1));
        if (random.below(3) == 0) {
          dep.high = -1;
        } else {
          dep.high = pivot + static_cast<int>(
                                 random.below(static_cast<std::size_t>(kVersionsPerName - pivot)));
        }
        e.depends.push_back(dep);
      }

      const std::size_t compatible_count = random.below(4);
      for (std::size_t c = 0; c < compatible_count; ++c) {
        std::size_t target;
        bool present = false;
        if (!fixed) {
          target = pick_any();
        } else if (!others.empty() && random.below(3) == 0) {
          target = others[random.below(others.size())];
        } else {
          target = pick_present();
          present = true;
        }
        if (target == kNone || target == n) {
          continue;
        }
        compatibility compat;
        compat.target = target;
        compat.from = random.below(2) == 0;
        if (present) {
          // The range must hold the version that is there.
          const int there = chosen[target];
          compat.bound = compat.from
                             ? static_cast<int>(random.below(static_cast<std::size_t>(there) + 1))
                             : there + static_cast<int>(random.below(
                                           static_cast<std::size_t>(kVersionsPerName - there)));
        } else {
          compat.bound = static_cast<int>(random.below(kVersionsPerName));
        }
        e.compatibles.push_back(compat);
      }

      e.softwareids = cat.names[n];
      if (options.patterns && random.below(3) == 0) {
        switch (random.below(3)) {
          case 0:
            e.softwareids = cat.names[n] + "|" + cat.names[n] + "_LEGACY";
            break;
          case 1:
            e.softwareids = cat.names[n] + ".*";
            break;
          default:
            e.softwareids = cat.names[n] + "|" + cat.names[n] + "-[0-9]+";
            break;
        }
      }
      if (fixed) {
        for (const dependency& d : e.depends) {
          out.needs[n].push_back(cat.names[d.target]);
        }
      }
      elements.push_back(std::move(e));
    }
  }
  random.shuffle(elements);

  // The catalog document, one element per line.
  std::string& xml = out.spec_xml;
  xml.reserve(elements.size() * 300);
  xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<specs version=\"bench-";
  xml += std::to_string(options.seed);
  xml += "\">\n<softwares>\n";
  for (const element& e : elements) {
    const std::string& name = cat.names[e.name];
    xml += "<software sref=\"" + name + "\" name=\"" + name + "\" platforms=\"" + options.platform +
           "\" version=\"" + cat.full(e.name, e.version) + "\" softwareids=\"" + e.softwareids +
           "\">";
    if (!e.depends.empty()) {
      xml += "<depends>";
      for (const dependency& d : e.depends) {
        xml += "<item sref=\"" + cat.names[d.target] + "\" version=\"" + cat.full(d.target, d.low) +
               ":" + (d.high < 0 ? std::string() : cat.upper(d.target, d.high)) + "\"/>";
      }
      xml += "</depends>";
    }
    if (!e.compatibles.empty()) {
      xml += "<compatibles>";
      for (const compatibility& c : e.compatibles) {
        const std::string bound = cat.full(c.target, c.bound);
        xml += "<item sref=\"" + cat.names[c.target] + "\" version=\"" +
               (c.from ? bound + ":" : ":" + bound) + "\"/>";
      }
      xml += "</compatibles>";
    }
    xml += "</software>\n";
  }
  xml += "</softwares>\n</specs>\n";

  // The testsolv testcase: a dependency range is a pair of requirements, a
  // compatible range conflicts with what it leaves out.
  std::string& ts = out.testsolv;
  ts.reserve(elements.size() * 120);
  auto write_package = [&](const element& e) {
    ts += "#>=Pkg: " + cat.names[e.name] + " " + cat.full(e.name, e.version) + " 1 x86_64\n";
    for (const dependency& d : e.depends) {
      ts += "#>=Req: " + cat.names[d.target] + " >= " + cat.full(d.target, d.low) + "\n";
      if (d.high >= 0) {
        ts += "#>=Req: " + cat.names[d.target] + " < " + cat.above_upper(d.target, d.high) + "\n";
      }
    }
    for (const compatibility& c : e.compatibles) {
      ts += "#>=Con: " + cat.names[c.target] + (c.from ? " < " : " > ") +
            cat.full(c.target, c.bound) + "\n";
    }
  };
  ts += "repo system 0 testtags <inline>\n";
  for (const element& e : elements) {
    if (roles[e.name] == role::installed && chosen[e.name] == e.version) {
      write_package(e);
    }
  }
  ts += "repo available 0 testtags <inline>\n";
  for (const element& e : elements) {
    write_package(e);
  }
  ts += "system x86_64 rpm system\n";
  for (const package_version& p : out.request) {
    ts += "job install name " + p.id + " = " + p.version + "\n";
  }
  return out;
}

std::string inventory_json(const std::vector<package_version>& list) {
  return json_list(list, "  ") + "\n";
}

std::string request_json(const std::vector<package_version>& install) {
  return "{\n  \"install\": " + json_list(install, "    ") + "\n}\n";
}

bool size_by_name(const std::string& name, workload_size* size) {
  if (name == "small") {
    *size = kSmall;
  } else if (name == "large") {
    *size = kLarge;
  } else if (name == "huge") {
    *size = kHuge;
  } else {
    return false;
  }
  return true;
}

bool read_count(const char* text, std::size_t* out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*text < '0' || *text > '9' || errno != 0 || *end != '\0') {
    return false;
  }
  *out = static_cast<std::size_t>(value);
  return true;
}

file_writer::file_writer(const char* program, const std::string& path)
    : program_(program), path_(path), file_(std::fopen(path.c_str(), "wb")) {
  if (file_ == nullptr) {
    std::fprintf(stderr, "%s: %s: %s\n", program_, path_.c_str(), std::strerror(errno));
  }
}

bool file_writer::close() {
  const bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!ok) {
    std::fprintf(stderr, "%s: %s: %s\n", program_, path_.c_str(), std::strerror(errno));
  }
  return ok;
}

bool write_file(const char* program, const std::string& path, const std::string& content) {
  file_writer file(program, path);
  return file.open() && file.write(content) && file.close();
}

}  // namespace ox_bench
}  // namespace tarvik

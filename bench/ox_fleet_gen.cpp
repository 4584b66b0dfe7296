// Writes a generated fleet to a directory: spec.xml (the benchmark catalog
// of ox_bench_gen for the same size and seed), machines.jsonl (one machine a
// line, as `oxpm fleet --machines` reads it) and request.json (the request
// for every machine that carries none of its own).
//
//   ox_fleet_gen (--size small|large|huge | --elements N) [--machines N]
//                [--installed M] [--request-entries K] [--own-requests]
//                [--stragglers PCT] [--upgrades PCT] [--skew S] [--patterns]
//                [--seed N] [--platform TEXT] --out DIR
//
// Each machine has M names of the catalog's installed pool, drawn without
// replacement with a skewed popularity (the name of rank r weighs
// 1/(r+1)^S), so that a few names are on nearly every machine and most on a
// few; a name comes with the names it depends on directly, and on most
// machines (all but 15%) what the request depends on is there first. A name
// is at the pool's version, except on stragglers (PCT of the
// machines), which keep half their names at an older version, and on
// upgraded machines (PCT), which run one name in twenty at the next version.
// The request is the first K entries of the workload's request; with
// --own-requests every machine carries its own of 1 to 5 entries drawn from
// its first twenty. The same options and seed give the same files.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "workload.hpp"

namespace {

using tarvik::ox_bench::file_writer;
using tarvik::ox_bench::package_version;
using tarvik::ox_bench::read_count;
using tarvik::ox_bench::rng;
using tarvik::ox_bench::workload_options;

struct fleet_options {
  std::size_t machines = 1000;
  std::size_t installed = 300;
  std::size_t request_entries = 3;
  bool own_requests = false;
  std::size_t stragglers = 8;  // percent of the machines
  std::size_t upgrades = 30;   // percent of the machines
  double skew = 0.8;
};

// Request entries a machine's own request is drawn from.
constexpr std::size_t kOwnRequestPool = 20;
constexpr std::size_t kOwnRequestMost = 5;
// Machines whose names are drawn without regard to what the request needs.
constexpr std::size_t kUnpreparedPercent = 15;

int usage() {
  std::fprintf(stderr,
               "usage: ox_fleet_gen (--size small|large|huge | --elements N) [--machines N] "
               "[--installed M] [--request-entries K] [--own-requests] [--stragglers PCT] "
               "[--upgrades PCT] [--skew S] [--patterns] [--seed N] [--platform TEXT] --out DIR\n");
  return 2;
}

bool read_real(const char* text, double* out) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(value >= 0.0)) {
    return false;
  }
  *out = value;
  return true;
}

// A uniform number in (0, 1].
double unit(rng& random) {
  return (static_cast<double>(random.next() >> 11) + 1.0) / 9007199254740992.0;
}

void append_entry(std::string& out, const package_version& entry) {
  out += "{\"id\": \"" + entry.id + "\", \"version\": \"" + entry.version + "\"}";
}

void append_list(std::string& out, const std::vector<package_version>& list) {
  out += '[';
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i != 0) {
      out += ", ";
    }
    append_entry(out, list[i]);
  }
  out += ']';
}

}  // namespace

int main(int argc, char** argv) {
  workload_options options;
  fleet_options fleet;
  std::string out_dir;
  bool sized = false;
  bool pool_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    bool ok = true;
    if (arg == "--patterns") {
      options.patterns = true;
    } else if (arg == "--own-requests") {
      fleet.own_requests = true;
    } else if (arg == "--size" && has_value) {
      ok = tarvik::ox_bench::size_by_name(argv[++i], &options.size);
      sized = pool_given = true;
    } else if (arg == "--elements" && has_value) {
      ok = read_count(argv[++i], &options.size.elements);
      sized = true;
    } else if (arg == "--machines" && has_value) {
      ok = read_count(argv[++i], &fleet.machines);
    } else if (arg == "--installed" && has_value) {
      ok = read_count(argv[++i], &fleet.installed);
    } else if (arg == "--request-entries" && has_value) {
      ok = read_count(argv[++i], &fleet.request_entries);
    } else if (arg == "--stragglers" && has_value) {
      ok = read_count(argv[++i], &fleet.stragglers) && fleet.stragglers <= 100;
    } else if (arg == "--upgrades" && has_value) {
      ok = read_count(argv[++i], &fleet.upgrades) && fleet.upgrades <= 100;
    } else if (arg == "--skew" && has_value) {
      ok = read_real(argv[++i], &fleet.skew);
    } else if (arg == "--seed" && has_value) {
      std::size_t seed = 0;
      ok = read_count(argv[++i], &seed);
      options.seed = seed;
    } else if (arg == "--platform" && has_value) {
      options.platform = argv[++i];
    } else if (arg == "--out" && has_value) {
      out_dir = argv[++i];
    } else {
      ok = false;
    }
    if (!ok) {
      return usage();
    }
  }
  if (!sized || out_dir.empty()) {
    return usage();
  }
  if (!pool_given) {
    // A tenth of the names installed somewhere, fifty requestable.
    const std::size_t names = options.size.elements / 4;
    options.size.installed = std::max(fleet.installed, names / 10);
    options.size.requested = std::min<std::size_t>(
        50, names > options.size.installed ? names - options.size.installed : 0);
  }
  try {
    const tarvik::ox_bench::workload w = tarvik::ox_bench::generate(options);
    const std::vector<package_version>& pool = w.installed;
    if (fleet.installed > pool.size()) {
      std::fprintf(stderr, "ox_fleet_gen: --installed %zu: the catalog installs %zu names\n",
                   fleet.installed, pool.size());
      return 2;
    }
    if (fleet.request_entries == 0 || fleet.request_entries > w.request.size()) {
      std::fprintf(stderr, "ox_fleet_gen: --request-entries must be 1 to %zu\n", w.request.size());
      return 2;
    }
    std::unordered_map<std::string, std::size_t> name_index;
    for (std::size_t n = 0; n < w.names.size(); ++n) {
      name_index.emplace(w.names[n], n);
    }
    // Each pool name's versions and where the pool's version is among them.
    std::vector<const std::vector<std::string>*> versions(pool.size());
    std::vector<std::size_t> current(pool.size());
    for (std::size_t r = 0; r < pool.size(); ++r) {
      versions[r] = &w.versions[name_index.at(pool[r].id)];
      current[r] = static_cast<std::size_t>(
          std::find(versions[r]->begin(), versions[r]->end(), pool[r].version) -
          versions[r]->begin());
    }
    std::vector<double> weight(pool.size());
    for (std::size_t r = 0; r < pool.size(); ++r) {
      weight[r] = std::pow(static_cast<double>(r + 1), -fleet.skew);
    }

    ::mkdir(out_dir.c_str(), 0777);
    const std::vector<package_version> common(w.request.begin(),
                                              w.request.begin() + fleet.request_entries);
    if (!tarvik::ox_bench::write_file("ox_fleet_gen", out_dir + "/spec.xml", w.spec_xml) ||
        !tarvik::ox_bench::write_file("ox_fleet_gen", out_dir + "/request.json",
                                      tarvik::ox_bench::request_json(common))) {
      return 1;
    }
    file_writer machines("ox_fleet_gen", out_dir + "/machines.jsonl");
    if (!machines.open()) {
      return 1;
    }
    // The fleet has a stream of its own, so that the catalog is the same as
    // ox_bench_gen's for the same seed.
    rng random(options.seed * 0x2545F4914F6CDD1DULL + 7);
    const std::size_t width = std::max<std::size_t>(6, std::to_string(fleet.machines).size());
    std::vector<std::pair<double, std::size_t>> keys(pool.size());
    std::vector<package_version> installed;
    std::vector<package_version> own;
    std::string line;
    std::size_t stragglers = 0;
    std::size_t upgraded = 0;
    std::unordered_map<std::string, std::size_t> pool_rank;
    for (std::size_t r = 0; r < pool.size(); ++r) {
      pool_rank.emplace(pool[r].id, r);
    }
    std::vector<char> taken(pool.size());
    std::vector<std::size_t> ranks;
    std::vector<std::size_t> pending;
    // Adds pool name `r` with the pool names it needs directly, when they
    // all fit in the machine's M names.
    const auto take = [&](std::size_t r) {
      if (taken[r] != 0) {
        return;
      }
      pending.clear();
      pending.push_back(r);
      for (const std::string& need : w.needs[name_index.at(pool[r].id)]) {
        const auto found = pool_rank.find(need);
        if (found != pool_rank.end() && taken[found->second] == 0 &&
            std::find(pending.begin(), pending.end(), found->second) == pending.end()) {
          pending.push_back(found->second);
        }
      }
      if (ranks.size() + pending.size() > fleet.installed) {
        return;
      }
      for (const std::size_t at : pending) {
        taken[at] = 1;
        ranks.push_back(at);
      }
    };
    for (std::size_t m = 0; m < fleet.machines; ++m) {
      own.clear();
      if (fleet.own_requests) {
        const std::size_t from = std::min(kOwnRequestPool, w.request.size());
        const std::size_t count = std::min(from, 1 + random.below(kOwnRequestMost));
        std::vector<std::size_t> picked(from);
        for (std::size_t i = 0; i < from; ++i) {
          picked[i] = i;
        }
        random.shuffle(picked);
        picked.resize(count);
        std::sort(picked.begin(), picked.end());
        for (const std::size_t i : picked) {
          own.push_back(w.request[i]);
        }
      }
      const std::vector<package_version>& asked = fleet.own_requests ? own : common;
      std::fill(taken.begin(), taken.end(), 0);
      ranks.clear();
      // Most machines are ready for the request: what it needs is there.
      if (random.below(100) >= kUnpreparedPercent) {
        for (const package_version& entry : asked) {
          for (const std::string& need : w.needs[name_index.at(entry.id)]) {
            const auto found = pool_rank.find(need);
            if (found != pool_rank.end()) {
              take(found->second);
            }
          }
        }
      }
      // Weighted sampling without replacement: the largest u^(1/w) first.
      for (std::size_t r = 0; r < pool.size(); ++r) {
        keys[r] = {std::log(unit(random)) / weight[r], r};
      }
      std::sort(keys.begin(), keys.end(),
                [](const auto& a, const auto& b) { return a.first > b.first; });
      for (std::size_t i = 0; i < keys.size() && ranks.size() < fleet.installed; ++i) {
        take(keys[i].second);
      }
      std::sort(ranks.begin(), ranks.end());

      const bool straggler = random.below(100) < fleet.stragglers;
      const bool upgrade = !straggler && random.below(100) < fleet.upgrades;
      stragglers += straggler ? 1 : 0;
      upgraded += upgrade ? 1 : 0;
      installed.clear();
      for (const std::size_t r : ranks) {
        std::size_t at = current[r];
        if (straggler && at > 0 && random.below(2) == 0) {
          at -= 1 + random.below(at);
        } else if (upgrade && at + 1 < versions[r]->size() && random.below(20) == 0) {
          at += 1;
        }
        installed.push_back({pool[r].id, (*versions[r])[at]});
      }

      const std::string digits = std::to_string(m + 1);
      line = "{\"machine\": \"m" + std::string(width - digits.size(), '0') + digits +
             "\", \"installed\": ";
      append_list(line, installed);
      if (fleet.own_requests) {
        line += ", \"request\": {\"install\": ";
        append_list(line, own);
        line += '}';
      }
      line += "}\n";
      if (!machines.write(line)) {
        std::fprintf(stderr, "ox_fleet_gen: %s/machines.jsonl: %s\n", out_dir.c_str(),
                     std::strerror(errno));
        return 1;
      }
    }
    if (!machines.close()) {
      return 1;
    }
    std::printf(
        "%s: %zu elements (%zu bytes of XML), %zu machines of %zu installed (%zu stragglers, "
        "%zu upgraded), %s\n",
        out_dir.c_str(), options.size.elements / 4 * 4, w.spec_xml.size(), fleet.machines,
        fleet.installed, stragglers, upgraded,
        fleet.own_requests ? "own requests of 1 to 5 entries"
                           : (std::to_string(fleet.request_entries) + " requested").c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ox_fleet_gen: %s\n", error.what());
    return 1;
  }
  return 0;
}

// The indexed look-ups and scans against the plain walks they replace:
// random catalogs, installed lists and requests, resolved once through
// the indexes (with and without the host's pattern capability) and once
// through the plain linear walks, must give the same resolved lists, the same
// look-up answers and the same log lines, line for line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/walk_record.hpp"
#include "support/describe.hpp"
#include "support/table.hpp"
#include "support/test_host.hpp"
#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox/ox.hpp"
#include "tarvik/ox_refhost/regex.hpp"

namespace tarvik {
namespace ox {
namespace {

class rng {
 public:
  explicit rng(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  std::size_t below(std::size_t n) {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return static_cast<std::size_t>((z ^ (z >> 31)) % n);
  }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }
  bool chance(std::size_t one_in) { return below(one_in) == 0; }

 private:
  std::uint64_t state_;
};

// Ids that the patterns below recognise in overlapping ways: prefixes of one
// another, case variants, an empty id, and one with a NUL byte.
const std::vector<std::string> kIds = {
    "a",        "b",   "ab", "abc", "A",   "a-1", "a-22",
    "a_LEGACY", "b.x", "c",  "",    "cab", "b|a", std::string("a\0b", 3)};

// Literal alternations (described exactly), patterns the host narrows down
// to prefixes, patterns it cannot describe, refused patterns, and one with a
// NUL byte.
const std::vector<std::string> kPatterns = {
    "a",     "b",     "a|b", "ab|abc",      "a|a_LEGACY", "A",
    "a|",    "",      "a.*", "ab.*",        "a-.*",       "a|a-[0-9]+",
    "b\\.x", "b\\|a", "b.x", "a-[0-9]",     ".*",         "(a|b)",
    "[ab]",  "(?i)a", ".*b", "c|.*ab",      "a(",         "x{2000}",
    "a\\d+", "ab?c?", "^a$", "[[:alpha:]]", "\\Qa\\E",    std::string("a\0", 2)};

const std::vector<std::string> kVersions = {"1.0.0.0", "1.5.0.0", "2.0.0.0",
                                            "2.5.0.0", "3.0.0.0", "0.0.0.0"};

const std::vector<std::string> kRanges = {"1.0:2.0", "2.0:", ":1.5.0.0", "1.5.0.0",
                                          "1.0|3.0", "",     "2.0:1.0",  "0"};

software_spec random_entry(rng& r) {
  software_spec spec;
  spec.sref = r.pick(kIds);
  spec.name = "name of " + spec.sref;
  spec.softwareids = r.pick(kPatterns);
  spec.versions.set(r.pick(kRanges));
  for (std::size_t i = r.below(3); i > 0; --i) {
    version_ranges obsolete;
    obsolete.set(r.pick(kRanges));
    if (r.chance(3)) {
      spec.obsoletes.push_back(obsolete);
    }
  }
  for (std::size_t i = r.below(3); i > 0; --i) {
    software product;
    product.set_id(r.pick(kIds));
    spec.uninstalls.push_back(product);
  }
  for (std::size_t i = r.below(4); i > 0; --i) {
    depend dep;
    dep.sref = r.pick(kIds);
    dep.version_text = r.pick(kRanges);
    dep.versions.set(dep.version_text);
    spec.depends.push_back(dep);
  }
  for (std::size_t i = r.below(4); i > 0; --i) {
    compatible comp;
    comp.sref = r.pick(kIds);
    comp.versions.set(r.pick(kRanges));
    spec.compatibles.push_back(comp);
  }
  return spec;
}

std::vector<installing_software> random_list(rng& r, std::size_t max_size) {
  std::vector<installing_software> list;
  for (std::size_t i = r.below(max_size + 1); i > 0; --i) {
    list.emplace_back(software(r.pick(kIds), version(r.pick(kVersions))));
  }
  return list;
}

// One wired set of managers on its own capturing host.
struct resolver {
  // indexed_with_foreign_object: the host answers the capability's key with
  // something else, which the library must not take for the capability.
  enum class mode { plain, indexed, indexed_without_capability, indexed_with_foreign_object };

  explicit resolver(mode m)
      : spec(std::make_shared<package_spec_manager>(host.context())),
        softdb(std::make_shared<system_software_database_manager>(host.context())),
        dependency(host.context()) {
    if (m == mode::indexed_without_capability) {
      host.ctx.set_object(OX_OBJECT_REGEX_LITERALS, nullptr);
    }
    if (m == mode::indexed_with_foreign_object) {
      // A capability of another tag or an older, smaller layout, and text.
      static ox_regex_literals_s wrong_tag = [] {
        ox_regex_literals_s capability = *ox_refhost::regex_literals();
        capability.tag ^= 1U;
        return capability;
      }();
      static ox_regex_literals_s too_small = [] {
        ox_regex_literals_s capability = *ox_refhost::regex_literals();
        capability.size = sizeof(ox_regex_literals_s) - 1;
        return capability;
      }();
      static char text[] = "a host's own object of another kind";
      void* const foreign[] = {&wrong_tag, &too_small, text};
      static std::size_t next = 0;
      host.ctx.set_object(OX_OBJECT_REGEX_LITERALS, foreign[next++ % 3]);
    }
    spec->set_indexed_lookups(m != mode::plain);
    dependency.set_indexed_scans(m != mode::plain);
    dependency.set_spec_mgr(spec);
    dependency.set_repo_manager(std::make_shared<software_repo_manager>(host.context()));
    dependency.set_softdb_manager(softdb);
  }

  // Every record as "severity|source:line|function|message".
  std::vector<std::string> log() const {
    std::vector<std::string> out;
    for (const ox_refhost::log_record& r : host.records()) {
      out.push_back(std::to_string(r.severity) + "|" + r.file + ":" + std::to_string(r.line) + "|" +
                    r.function + "|" + r.message);
    }
    return out;
  }

  ox_test::test_host host;
  std::shared_ptr<package_spec_manager> spec;
  std::shared_ptr<system_software_database_manager> softdb;
  software_dependency_manager dependency;
};

using ox_test::describe;

std::string describe(const ox::internal::relation_decision& judged) {
  std::string line = std::to_string(static_cast<int>(judged.kind)) + " " + judged.sref + " " +
                     judged.version_text + " -> " + judged.target_pattern + " " +
                     std::to_string(static_cast<int>(judged.outcome)) + " at " +
                     std::to_string(static_cast<long long>(judged.candidate)) + " over";
  for (std::size_t at : judged.passed_over) {
    line += " " + std::to_string(at);
  }
  return line + (judged.first_match_decided ? " first" : "");
}

// What the walk recorded: the explanations the tool gives, which must not
// depend on how the entries were found.
std::vector<std::string> describe(const ox::internal::walk_record& walk) {
  std::vector<std::string> out{"installed " + std::to_string(walk.installed_count)};
  for (const ox::internal::entry_decision& entry : walk.entries) {
    out.push_back("entry " + std::to_string(entry.request) + (entry.obsolete ? " obsolete" : ""));
    for (const ox::internal::relation_decision& judged : entry.relations) {
      out.push_back("  " + describe(judged));
    }
  }
  for (const ox::internal::mark_decision& mark : walk.marks) {
    out.push_back("mark " + std::to_string(mark.installed) + " " +
                  std::to_string(static_cast<int>(mark.why)) + " by " + std::to_string(mark.by) +
                  " " + mark.product);
  }
  for (const ox::internal::loss_decision& loss : walk.losses) {
    out.push_back("loss " + std::to_string(loss.record) + " of " + std::to_string(loss.lost) +
                  ": " + describe(loss.check));
  }
  return out;
}

// What a look-up answers: the entry's identity, or the error code.
template <typename Lookup>
std::string answer(Lookup&& lookup) {
  try {
    const software_spec found = lookup();
    return found.sref + "/" + found.softwareids + "/" + found.versions.get() + "/" + found.name;
  } catch (const pm_exception& e) {
    return "error " + std::to_string(static_cast<int>(e.error));
  }
}

// Runs `run` over the plain walks, then over the indexes in every way the
// host may offer them: the same output and the same log, line for line.
// Returns the plain walk's output.
template <typename Run>
std::vector<std::string> expect_indexes_match(Run run, std::uint64_t seed) {
  resolver plain(resolver::mode::plain);
  const std::vector<std::string> expected = run(plain);
  for (resolver::mode m : {resolver::mode::indexed, resolver::mode::indexed_without_capability,
                           resolver::mode::indexed_with_foreign_object}) {
    resolver fast(m);
    EXPECT_EQ(run(fast), expected) << "seed " << seed;
    EXPECT_EQ(fast.log(), plain.log()) << "seed " << seed;
  }
  return expected;
}

TEST(DifferentialTest, ResolutionsMatchThePlainWalkLineForLine) {
  std::size_t passed = 0;
  std::size_t stopped = 0;
  std::size_t broken_dependents = 0;
  for (std::uint64_t seed = 1; seed <= 300 && !HasFailure(); ++seed) {
    rng r(seed);
    std::vector<software_spec> entries;
    for (std::size_t i = 1 + r.below(25); i > 0; --i) {
      entries.push_back(random_entry(r));
    }
    // Every third request only uninstalls, which most often leaves installed
    // software without what it depends on.
    const bool uninstall_only = seed % 3 == 1;
    const std::vector<installing_software> installed_entries =
        random_list(r, uninstall_only ? 14 : 8);
    std::vector<software> installed(installed_entries.begin(), installed_entries.end());
    const std::vector<installing_software> uninstall = random_list(r, uninstall_only ? 5 : 2);
    const std::vector<installing_software> install =
        uninstall_only ? std::vector<installing_software>() : random_list(r, 6);
    const std::vector<std::string> expected = expect_indexes_match(
        [&](resolver& x) {
          // Every fourth problem with the legacy dependency checks.
          x.dependency.set_legacy_dependency_checks(seed % 4 == 0);
          // Half the entries before a first look-up, half after: the indexes
          // must follow entries appended after they were built.
          for (std::size_t i = 0; i < entries.size(); ++i) {
            if (i == entries.size() / 2) {
              (void)answer([&] { return x.spec->find_id("a"); });
            }
            x.spec->add(entries[i]);
          }
          x.softdb->set_installed_products(installed);
          ox::internal::walk_record walk;
          const ox::internal::walk_recording recording(walk);
          std::vector<std::string> out =
              describe(x.dependency.check_installorder_compatibility(uninstall, install));
          const std::vector<std::string> decisions = describe(walk);
          out.insert(out.end(), decisions.begin(), decisions.end());
          return out;
        },
        seed);
    // The resolved list, then what the walk recorded.
    const std::size_t resolved =
        static_cast<std::size_t>(std::find(expected.begin(), expected.end(),
                                           "installed " + std::to_string(installed.size())) -
                                 expected.begin());
    (resolved == installed.size() + install.size() ? passed : stopped) += 1;
    for (std::size_t at = 0; at < installed.size(); ++at) {
      broken_dependents += expected.at(at).find(" dep[") != std::string::npos ? 1 : 0;
    }
  }
  // The random requests reach both outcomes, and software left broken.
  EXPECT_GT(passed, 20u);
  EXPECT_GT(stopped, 20u);
  EXPECT_GT(broken_dependents, 4u);
}

TEST(DifferentialTest, LookUpsMatchThePlainWalk) {
  for (std::uint64_t seed = 1; seed <= 200; ++seed) {
    rng r(seed);
    resolver plain(resolver::mode::plain);
    resolver indexed(resolver::mode::indexed);
    resolver uncapable(resolver::mode::indexed_without_capability);
    resolver* const all[] = {&plain, &indexed, &uncapable};
    for (int round = 0; round < 3; ++round) {
      for (std::size_t i = 1 + r.below(12); i > 0; --i) {
        const software_spec e = random_entry(r);
        for (resolver* x : all) {
          x->spec->add(e);
        }
      }
      for (const std::string& id : kIds) {
        const std::string v = r.pick(kVersions);
        const software sw(id, version(v));
        const std::string expected_find = answer([&] { return plain.spec->find(sw); });
        const std::string expected_find_id = answer([&] { return plain.spec->find_id(id); });
        for (resolver* x : {&indexed, &uncapable}) {
          EXPECT_EQ(answer([&] { return x->spec->find(sw); }), expected_find)
              << "seed " << seed << " id " << id << " version " << v;
          EXPECT_EQ(answer([&] { return x->spec->find_id(id); }), expected_find_id)
              << "seed " << seed << " id " << id;
        }
        for (const std::string& orqid : kIds) {
          for (resolver* x : {&indexed, &uncapable}) {
            EXPECT_EQ(x->spec->find_orqid_in_spec(orqid, id),
                      plain.spec->find_orqid_in_spec(orqid, id))
                << "seed " << seed << " orqid " << orqid << " id " << id;
          }
        }
      }
    }
    EXPECT_TRUE(indexed.host.records().empty());
  }
}

// The steps a host may run one by one take the indexed scans too.
TEST(DifferentialTest, SingleStepsMatchThePlainWalk) {
  for (std::uint64_t seed = 1; seed <= 200 && !HasFailure(); ++seed) {
    rng r(seed);
    std::vector<software_spec> entries;
    for (std::size_t i = 1 + r.below(20); i > 0; --i) {
      entries.push_back(random_entry(r));
    }
    std::vector<installing_software> working = random_list(r, 10);
    for (installing_software& e : working) {
      if (r.chance(2)) {
        e.state = SOFTWARE_STATE_INSTALLED;
      }
      if (r.chance(3)) {
        e.state |= SOFTWARE_STATE_MARKED_UNINSTALL;
      }
    }
    const software_spec spec = random_entry(r);
    const installing_software entry(software(r.pick(kIds), version(r.pick(kVersions))));

    expect_indexes_match(
        [&](resolver& x) {
          for (const software_spec& e : entries) {
            x.spec->add(e);
          }
          std::vector<installing_software> list = working;
          installing_software e = entry;
          x.dependency.resolve_uninstalls(list, e, spec);
          const bool dependencies = x.dependency.check_product_dependency(list, e, spec);
          const bool compatibilities = x.dependency.check_product_compatibility(list, e, spec, {});
          std::vector<std::string> out = describe(list);
          out.push_back(std::to_string(dependencies) + std::to_string(compatibilities));
          out.push_back(describe(std::vector<installing_software>{e}).front());
          return out;
        },
        seed);
  }
}

// Cases a plausible index would get wrong (tests/data/lookup_order.txt).
TEST(DifferentialTest, TheFirstEntryInListOrderWinsOverAnIndexedLaterOne) {
  for (const ox_test::table_row& row : ox_test::read_table("data/lookup_order.txt")) {
    SCOPED_TRACE(row.where);
    resolver plain(resolver::mode::plain);
    resolver indexed(resolver::mode::indexed);
    for (resolver* x : {&plain, &indexed}) {
      for (std::size_t i = 3; i + 1 < row.fields.size(); i += 2) {
        software_spec e;
        e.sref = row.fields[i];
        e.softwareids = row.fields[i + 1];
        e.name = std::to_string(i / 2 - 1);
        e.versions.set("");
        x->spec->add(e);
      }
      const std::string found = answer([&] { return x->spec->find_id(row.at(1)); });
      // The entry's name ends the answer; "none" is not found.
      EXPECT_EQ(found.substr(found.rfind('/') + 1), row.at(2) == "none" ? "error 12" : row.at(2));
    }
    EXPECT_EQ(answer([&] { return indexed.spec->find_id(row.at(1)); }),
              answer([&] { return plain.spec->find_id(row.at(1)); }));
  }
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

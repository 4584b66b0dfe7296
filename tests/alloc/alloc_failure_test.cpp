// Exhausted memory at every allocation of an import and of whole
// resolutions: for every n, the n-th allocation fails (once, or from then on)
// and the operation either gives exactly the result it gives with enough
// memory, or throws pm_exception with the promised code, keeping the state
// that is promised to survive; afterwards the managers work as before, and
// nothing is leaked.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "alloc/failing_allocator.hpp"
#include "support/test_host.hpp"
#include "support/wired_managers.hpp"
#include "tarvik/ox_refhost/regex.hpp"
#include "tarvik/ox_refhost/store.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox_test {
namespace {

using ox::installing_software;
using ox::pm_exception;
using ox::software;
using ox::version;
using ox_refhost::installed_application;

// tests/alloc/data/catalog.xml has every kind of element and relation,
// references that the host expands, an entry for another platform and a child
// that is no software element.
const std::string& catalog() {
  static const std::string text = [] {
    std::ostringstream out;
    out << std::ifstream(OX_TESTS_DIR "/alloc/data/catalog.xml", std::ios::binary).rdbuf();
    return out.str();
  }();
  return text;
}

// The installed list before the resolution, and what the store holds when it
// runs (read from tests/alloc/data/inventory.json).
const std::vector<installed_application> kInstalledBefore = {{"old-a", "1.0.0.0"},
                                                             {"old-b", "2.0"}};
const std::string kInventory = OX_TESTS_DIR "/alloc/data/inventory.json";

struct request {
  std::vector<software> uninstall;
  std::vector<software> install;
};

// The first passes, is not found, then fails its compatibility; the second
// is obsolete.
std::vector<request> requests() {
  return {
      {{software("tools-old", version("1.0"))},
       {software("agent", version("4.2.0.0")), software("unknown", version("1.0")),
        software("backup", version("2.0"))}},
      {{}, {software("RT_7", version("2.1.0.0")), software("agent", version("4.3"))}},
  };
}

// A source the test switches between a list in memory and an inventory file.
class switchable_source : public ox_refhost::store_source {
 public:
  std::shared_ptr<ox_refhost::store_source> current;
  ox_error_e read(std::vector<installed_application>& out, std::string& error) override {
    return current->read(out, error);
  }
};

std::string render(const std::vector<software>& list) {
  std::ostringstream out;
  for (const software& sw : list) {
    out << "[" << sw.id << " " << sw.version.getversion() << " '" << sw.name << "' '"
        << sw.version_text << "']";
  }
  return out.str();
}

std::string render(const std::vector<installing_software>& list) {
  std::ostringstream out;
  for (const installing_software& entry : list) {
    out << entry.id << " " << entry.version.getversion() << " state " << entry.state << " reserved "
        << entry.reserved << " deps " << render(entry.failed_dependencies) << " compat "
        << render(entry.failed_compatibilities) << " conflicts " << entry.detected_conflicts.size()
        << "\n";
  }
  return out.str();
}

std::string render(const ox::package_spec_manager& manager) {
  std::ostringstream out;
  out << "version " << manager.get_spec_version() << "\n";
  for (const ox::software_spec& spec : manager.get_specs()) {
    out << spec.sref << " '" << spec.name << "' ids " << spec.softwareids << " versions "
        << spec.versions.get() << "\n  provides " << render(spec.provides) << "\n  uninstalls "
        << render(spec.uninstalls) << "\n  obsoletes";
    for (const ox::version_ranges& ranges : spec.obsoletes) {
      out << " " << ranges.get();
    }
    out << "\n  depends";
    for (const ox::depend& dependency : spec.depends) {
      out << " " << dependency.sref << "@" << dependency.versions.get() << "/"
          << dependency.version_text;
    }
    out << "\n  compatibles";
    for (const ox::compatible& relation : spec.compatibles) {
      out << " " << relation.sref << "@" << relation.versions.get();
    }
    out << "\n  conflicts";
    for (const ox::conflict& c : spec.conflicts) {
      const auto* check = static_cast<const ox::conflict_check_registry*>(c.check.get());
      out << " " << c.name << ":" << c.action << ":" << check->hkey << ":" << check->path << ":"
          << check->key << ":" << check->match;
    }
    out << "\n";
  }
  return out.str();
}

// What one attempt under injection came to.
struct attempt {
  bool fired = false;
  bool threw = false;
  ox_error_e code = OX_OK;
  bool foreign_exception = false;  // something other than pm_exception left
  std::string state;               // the result, or what had to survive
  std::string after_recovery;      // the same operation again with memory enough
  long leaked = 0;                 // allocations left behind by all of it
};

// The six managers over one reference host, wired as a host wires them, the
// store reading kInstalledBefore until switched to the inventory.
struct host_setup {
  explicit host_setup(bool indexed)
      : source(std::make_shared<switchable_source>()), scoped(source), wired(host.context()) {
    source->current = ox_refhost::make_memory_source(kInstalledBefore);
    wired.spec->set_platform("linux-x64");
    wired.spec->set_indexed_lookups(indexed);
    wired.dependency->set_indexed_scans(indexed);
  }
  void import() { wired.spec->import(catalog().data(), catalog().size()); }
  void use_inventory() { source->current = ox_refhost::make_inventory_source(kInventory); }

  test_host host;
  std::shared_ptr<switchable_source> source;
  ox_refhost::scoped_store_source scoped;
  wired_managers wired;
};

// Runs `body` on a fresh attempt and counts the allocations it leaves
// behind. The attempt's texts hold one buffer each before and after, so the
// count sees only what the operations keep.
template <typename Body>
attempt measured(Body body) {
  attempt result;
  result.state.reserve(64 * 1024);
  result.after_recovery.reserve(64 * 1024);
  const long before = live_allocations();
  body(result);
  // The compiled patterns a host keeps for later are no leak.
  ox_refhost::clear_regex_cache();
  result.leaked = live_allocations() - before;
  return result;
}

// Runs `operation` with the nth allocation failing (none for 0), and records
// what left it.
template <typename Operation>
void inject(std::size_t nth, failure_mode mode, attempt& result, Operation operation) {
  allocation_failure injection(nth, mode);
  try {
    operation();
  } catch (const pm_exception& error) {
    result.threw = true;
    result.code = error.code();
  } catch (...) {
    result.foreign_exception = true;
  }
  result.fired = injection.fired();
}

// Imports the catalog a second time under injection, over a manager that
// already holds it once.
attempt import_with_failure(std::size_t nth, failure_mode mode, bool indexed) {
  return measured([&](attempt& result) {
    host_setup setup(indexed);
    setup.import();
    // A later document with no entries gives the catalog another version,
    // which a failed import must leave as it found it.
    const std::string older = R"(<specs version="7.0"><softwares/></specs>)";
    setup.wired.spec->import(older.data(), older.size());
    const std::string before = render(*setup.wired.spec);
    inject(nth, mode, result, [&] { setup.import(); });
    const std::string after = render(*setup.wired.spec);
    if (result.threw) {
      // What had to survive: the entries of the first import, unchanged.
      result.state.assign(after == before ? "kept" : "changed:\n" + after);
      setup.import();
    } else {
      result.state.assign(after);
    }
    result.after_recovery.assign(render(*setup.wired.spec));
  });
}

// Runs every request under injection; stops at the first that throws.
attempt resolve_with_failure(std::size_t nth, failure_mode mode, bool indexed) {
  return measured([&](attempt& result) {
    host_setup setup(indexed);
    setup.import();
    setup.wired.softdb->rescan();
    const std::string installed_before = render(setup.wired.softdb->get_installed_product_list());
    setup.use_inventory();
    const std::string specs_before = render(*setup.wired.spec);
    // Only the library runs while the injection is armed.
    const std::vector<request> asked = requests();
    std::vector<std::vector<installing_software>> resolved;
    resolved.reserve(asked.size());
    inject(nth, mode, result, [&] {
      for (const request& r : asked) {
        resolved.push_back(setup.wired.package->resolve(r.uninstall, r.install));
      }
    });
    if (result.threw) {
      // The installed list is the one before or the one of the store: never
      // a part of either. The catalog is untouched.
      const std::string installed = render(setup.wired.softdb->get_installed_product_list());
      result.state.assign(installed == installed_before ? "installed: before"
                                                        : "installed: " + installed);
      result.state.append(render(*setup.wired.spec) == specs_before ? ", specs kept"
                                                                    : ", specs changed");
    } else {
      for (const std::vector<installing_software>& list : resolved) {
        result.state.append(render(list)).append("--\n");
      }
    }
    for (const request& r : asked) {
      result.after_recovery.append(render(setup.wired.package->resolve(r.uninstall, r.install)))
          .append("--\n");
    }
  });
}

// Every public operation of the managers, called directly as a host may call
// it, each guarded on its own: whatever allocation fails, only pm_exception
// leaves.
attempt direct_calls_with_failure(std::size_t nth, failure_mode mode, bool indexed) {
  return measured([&](attempt& result) {
    host_setup setup(indexed);
    setup.import();
    setup.use_inventory();
    setup.wired.softdb->rescan();
    ox::software_dependency_manager& dm = *setup.wired.dependency;
    ox::package_spec_manager& sm = *setup.wired.spec;
    const std::vector<installing_software> installed = dm.check_installorder_compatibility({}, {});
    const request asked = requests().front();
    const std::vector<installing_software> install = dm.resolve_dependency(asked.install);
    const ox::software_spec agent = sm.find_id("agent");
    const ox::software_spec backup = sm.find_id("backup");
    const software wanted("console", version("4.0"));
    const std::string pattern = "console|CONSOLE_[0-9]+", id = "CONSOLE_7";
    const std::string orqid = "LEGACY_AGENT", product = "legacy";
    ox::software_spec added = backup;
    std::vector<installing_software> working = installed;
    working.reserve(working.size() + 4);
    installing_software entry = install.front();
    entry.failed_dependencies.reserve(2);
    entry.failed_compatibilities.reserve(2);
    std::vector<std::vector<installing_software>> lists;
    lists.reserve(8);
    int foreign = 0;
    auto guarded = [&](auto&& operation) {
      try {
        operation();
      } catch (const pm_exception&) {
      } catch (...) {
        ++foreign;
      }
    };
    inject(nth, mode, result, [&] {
      guarded([&] { lists.push_back(dm.check_installorder_compatibility(install, install)); });
      guarded([&] { lists.push_back(dm.resolve_dependency(asked.install)); });
      guarded([&] { lists.push_back(dm.resolve_installorder_compatibility(install)); });
      guarded([&] { dm.resolve_obsoletes(entry, agent); });
      guarded([&] { dm.resolve_uninstalls(working, entry, agent); });
      guarded([&] { dm.check_product_dependency(working, entry, backup); });
      guarded([&] { dm.check_product_compatibility(working, entry, backup, install); });
      guarded([&] { static_cast<void>(sm.find(wanted)); });
      guarded([&] { static_cast<void>(sm.find_id(id)); });
      guarded([&] { static_cast<void>(sm.find_software_id(pattern, id)); });
      guarded([&] { static_cast<void>(sm.find_orqid_in_spec(orqid, product)); });
      guarded([&] { sm.add(added); });
      guarded([&] { sm.set_platform(pattern); });
      guarded([&] { static_cast<void>(sm.get_platform()); });
      guarded([&] { setup.wired.softdb->rescan(); });
      guarded([&] { static_cast<void>(setup.wired.softdb->find(orqid)); });
      guarded(
          [&] { lists.push_back(setup.wired.package->resolve(asked.uninstall, asked.install)); });
    });
    result.foreign_exception = foreign > 0;
    if (foreign > 0) {
      result.state.assign(std::to_string(foreign) + " operations let another exception out");
    }
  });
}

// The failure mode, and whether the look-ups and scans use their indexes or
// the plain walks.
class AllocationFailureTest : public ::testing::TestWithParam<std::tuple<failure_mode, bool>> {
 protected:
  static void SetUpTestSuite() {
    install_failing_allocator();
    ASSERT_NE(catalog().find("</specs>"), std::string::npos);
    // A failed scan keeps its message for this thread; make that text's
    // buffer as large as any later message needs, so that keeping one is not
    // counted as a leak.
    auto failing = ox_refhost::make_memory_source();
    fail_next_scan(*failing, OX_ERROR_IO, std::string(512, 'x'));
    const ox_refhost::scoped_store_source scoped(failing);
    test_host host;
    ox::system_software_database_manager softdb(host.context());
    EXPECT_THROW(softdb.rescan(), pm_exception);
  }

  // Runs `run` (one of the above) for n = 1, 2, ... until an attempt no
  // longer reaches the n-th allocation, checking each with `check`, and the
  // live allocations before and after each attempt; at least `at_least`
  // allocations must have failed.
  template <typename Run, typename Check>
  void for_every_allocation(Run run, Check check, std::size_t at_least = 20) {
    const failure_mode mode = std::get<0>(GetParam());
    const bool indexed = std::get<1>(GetParam());
    // Warm up: process-wide caches reach their size before anything is
    // counted.
    const attempt reference = run(0, mode, indexed);
    ASSERT_FALSE(reference.threw);
    ASSERT_FALSE(reference.foreign_exception) << reference.state;
    std::size_t attempts = 0;
    for (std::size_t n = 1;; ++n) {
      const attempt outcome = run(n, mode, indexed);
      ASSERT_FALSE(outcome.foreign_exception)
          << "allocation " << n << ": not a pm_exception " << outcome.state;
      ASSERT_EQ(outcome.leaked, 0) << "allocation " << n << ": leaked";
      ASSERT_EQ(outcome.after_recovery, reference.state)
          << "allocation " << n << ": not the same result afterwards";
      check(n, outcome, reference);
      if (::testing::Test::HasFatalFailure()) {
        return;
      }
      if (!outcome.fired) {
        EXPECT_EQ(outcome.state, reference.state);
        break;
      }
      attempts = n;
    }
    // The operations allocate; a run that never failed one tested nothing.
    EXPECT_GT(attempts, at_least);
    std::printf("[          ] failed each of %zu allocations\n", attempts);
  }
};

TEST_P(AllocationFailureTest, ImportIsWholeOrNothing) {
  for_every_allocation(
      &import_with_failure, [](std::size_t n, const attempt& outcome, const attempt& reference) {
        if (outcome.threw) {
          EXPECT_EQ(outcome.code, OX_ERROR_OUT_OF_MEMORY) << "allocation " << n;
          EXPECT_EQ(outcome.state, "kept") << "allocation " << n;
        } else {
          EXPECT_EQ(outcome.state, reference.state) << "allocation " << n << ": entries lost";
        }
      });
}

TEST_P(AllocationFailureTest, ResolutionFailsWithCode3OrGivesTheSameResult) {
  const std::string installed_from_store =
      "installed: [RT_2 2.4.0.0 '' ''][agent 3.1.0.0 '' ''][LEGACY_AGENT 1.9.2.0 '' '']"
      "[console 4.0.1.0 '' ''][tools-old 1.0.0.0 '' '']";
  for_every_allocation(
      &resolve_with_failure, [&](std::size_t n, const attempt& outcome, const attempt& reference) {
        if (outcome.threw) {
          // 3 for the library's failure; the store's own code when its scan is
          // what ran out of memory.
          EXPECT_TRUE(outcome.code == OX_ERROR_UNEXPECTED || outcome.code == OX_ERROR_OUT_OF_MEMORY)
              << "allocation " << n << ": code " << outcome.code;
          EXPECT_TRUE(outcome.state == "installed: before, specs kept" ||
                      outcome.state == installed_from_store + ", specs kept")
              << "allocation " << n << ": " << outcome.state;
        } else {
          EXPECT_EQ(outcome.state, reference.state) << "allocation " << n << ": a different result";
        }
      });
}

TEST_P(AllocationFailureTest, DirectCallsLetOnlyPmExceptionOut) {
  for_every_allocation(
      &direct_calls_with_failure, [](std::size_t, const attempt&, const attempt&) {}, 100);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AllocationFailureTest,
    ::testing::Combine(::testing::Values(failure_mode::once, failure_mode::from_then),
                       ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<failure_mode, bool>>& info) {
      return std::string(std::get<0>(info.param) == failure_mode::once ? "Once" : "FromThen") +
             (std::get<1>(info.param) ? "Indexed" : "PlainWalks");
    });

// The harness itself. Explicit calls: a compiler may leave out the allocation
// of a new-expression whose result is not needed. Nothing but these runs
// while an injection is armed.
TEST(FailingAllocatorTest, FailsTheNthAllocationAndPausesInsideTheRegexEngine) {
  install_failing_allocator();
  bool threw[2] = {false, false};
  bool fired[2] = {false, true};
  std::size_t attempts = 0;
  void* nothrow[2] = {&attempts, &attempts};
  {
    allocation_failure injection(2, failure_mode::once);
    void* first = ::operator new(16);
    try {
      ::operator delete(::operator new(16));
    } catch (const std::bad_alloc&) {
      threw[0] = true;
    }
    ::operator delete[](::operator new[](16));
    fired[0] = injection.fired();
    attempts = injection.attempts();
    ::operator delete(first);
  }
  {
    allocation_failure injection(1, failure_mode::from_then);
    {
      const ox_refhost::regex_engine_call inside;
      ::operator delete(::operator new(16));
      fired[1] = injection.fired();
    }
    nothrow[0] = ::operator new(16, std::nothrow);
    nothrow[1] = ::operator new[](16, std::align_val_t{64}, std::nothrow);
    try {
      ::operator delete (::operator new (16, std::align_val_t{64}), std::align_val_t{64});
    } catch (const std::bad_alloc&) {
      threw[1] = true;
    }
  }
  EXPECT_TRUE(threw[0] && fired[0] && threw[1]);
  EXPECT_EQ(attempts, 3u);
  EXPECT_FALSE(fired[1]) << "paused inside the regex engine";
  EXPECT_EQ(nothrow[0], nullptr);
  EXPECT_EQ(nothrow[1], nullptr);
  const long live = live_allocations();
  void* block = ::operator new[](64, std::align_val_t{128});
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 128, 0u);
  EXPECT_EQ(live_allocations(), live + 1);
  ::operator delete[](block, std::align_val_t{128});
  EXPECT_EQ(live_allocations(), live);
}

}  // namespace
}  // namespace ox_test
}  // namespace tarvik

// Exhausted memory at every allocation of an import and of whole
// resolutions: for every n, the n-th allocation fails (once, or from then on)
// and the operation either gives exactly the result it gives with enough
// memory, or throws pm_exception with the promised code, keeping the state
// that is promised to survive; afterwards the managers work as before, and
// nothing is leaked.
#include <gtest/gtest.h>
#include <unistd.h>

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
#include "tarvik/ox/package_manager.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox/software_conflict_manager.hpp"
#include "tarvik/ox/software_dependency_manager.hpp"
#include "tarvik/ox/software_repo_manager.hpp"
#include "tarvik/ox/system_software_database_manager.hpp"
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

// Every kind of element and relation, references that the host expands, an
// entry for another platform and a child that is no software element.
constexpr char kCatalog[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE specs [<!ENTITY unused "never expanded">]>
<specs version="7.1">
  <softwares>
    <software sref="runtime" name="Runtime &amp; tools" platforms="linux-x64"
              version="2.0:2.9|3.0" softwareids="runtime|RT_[0-9]+">
      <provides><item id="crypto" name="Crypto"/></provides>
      <obsoletes><range version="2.0:2.2"/><range version="&#x32;.1"/></obsoletes>
    </software>
    <software sref="agent" name="Agent" platforms="linux-x64" version="4.0:4.9"
              softwareids="agent|AGENT_4[0-9]*">
      <uninstalls><item sref="legacy" name="Legacy"/></uninstalls>
      <depends><item sref="runtime" version="2.3:3.9"/></depends>
      <compatibles><item sref="console" version="3.0:"/></compatibles>
      <conflicts>
        <registry name="foreign" hkey="HKLM" path="/etc/foreign" key="k" match="&#x2A;"
                  action="ErrorFail"/>
        <registry name="incomplete" hkey="HKLM"/>
      </conflicts>
    </software>
    <software sref="legacy" name="Legacy" platforms="linux-x64" version="1.0:1.9"
              softwareids="legacy|LEGACY_AGENT"/>
    <software sref="console" name="Console" platforms="linux-x64" version="3.0:4.9"
              softwareids="console">
      <depends><item sref="agent" version="4.0:4.9"/></depends>
    </software>
    <software sref="backup" name="Backup" platforms="linux-x64 windows-x64" version="1.0:9.9"
              softwareids="backup">
      <depends><item sref="console" version="4.0:4.9"/></depends>
      <compatibles><item sref="runtime" version="3.0:3.9"/></compatibles>
    </software>
    <software sref="winonly" name="Windows only" platforms="windows-x64" version="1.0"
              softwareids="winonly"/>
    <notsoftware sref="x"/>
  </softwares>
</specs>
)";

// The installed list before the resolution, and what the store holds when it
// runs (read from a JSON inventory).
const std::vector<installed_application> kInstalledBefore = {{"old-a", "1.0.0.0"},
                                                             {"old-b", "2.0"}};
constexpr char kInventory[] = R"([
  {"id": "RT_2", "version": "2.4.0.0"},
  {"id": "agent", "version": "3.1.0.0"},
  {"id": "LEGACY_AGENT", "version": "1.9.2.0"},
  {"id": "console", "version": "4.0.1.0"},
  {"id": "tools-old", "version": "1.0"},
  {"id": "SHRSYNC_3000", "version": "5.0"},
  {"id": "noversion"}
])";

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

std::string render(const version& v) {
  return v.getversion();
}

std::string render(const std::vector<software>& list) {
  std::ostringstream out;
  for (const software& sw : list) {
    out << "[" << sw.id << " " << render(sw.version) << " '" << sw.name << "' '" << sw.version_text
        << "']";
  }
  return out.str();
}

std::string render(const std::vector<installing_software>& list) {
  std::ostringstream out;
  for (const installing_software& entry : list) {
    out << entry.id << " " << render(entry.version) << " state " << entry.state << " reserved "
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
  std::size_t allocations = 0;
  bool threw = false;
  ox_error_e code = OX_OK;
  bool foreign_exception = false;  // something other than pm_exception left
  std::string state;               // the result, or what had to survive
  std::string after_recovery;      // the same operation again with memory enough
  long leaked = 0;                 // allocations left behind by all of it
};

// The six managers over one reference host, wired as a host wires them.
struct host_setup {
  host_setup(const std::string& inventory_path, bool indexed)
      : source(std::make_shared<switchable_source>()), scoped(source) {
    source->current = ox_refhost::make_memory_source(kInstalledBefore);
    const ox_test::wired_managers wired(host.context());
    spec_mgr = wired.spec;
    repo_mgr = wired.repo;
    softdb_mgr = wired.softdb;
    dependency_mgr = wired.dependency;
    conflict_mgr = wired.conflicts;
    package_mgr = wired.package;
    spec_mgr->set_platform("linux-x64");
    spec_mgr->set_indexed_lookups(indexed);
    dependency_mgr->set_indexed_scans(indexed);
    inventory = ox_refhost::make_inventory_source(inventory_path);
  }

  void import() { spec_mgr->import(kCatalog, sizeof(kCatalog) - 1); }

  test_host host;
  std::shared_ptr<switchable_source> source;
  ox_refhost::scoped_store_source scoped;
  std::shared_ptr<ox_refhost::store_source> inventory;
  std::shared_ptr<ox::package_spec_manager> spec_mgr;
  std::shared_ptr<ox::software_repo_manager> repo_mgr;
  std::shared_ptr<ox::system_software_database_manager> softdb_mgr;
  std::shared_ptr<ox::software_dependency_manager> dependency_mgr;
  std::shared_ptr<ox::software_conflict_manager> conflict_mgr;
  std::shared_ptr<ox::package_manager> package_mgr;
};

std::string inventory_path() {
  static const std::string path = [] {
    // One per process: the test cases may run in parallel processes.
    const std::string file =
        ::testing::TempDir() + "alloc_failure_inventory_" + std::to_string(::getpid()) + ".json";
    std::ofstream(file) << kInventory;
    return file;
  }();
  return path;
}

// Runs `body` on a fresh attempt and counts the allocations it leaves
// behind. The attempt's texts hold one buffer each before and after, so the
// count sees only what the operations keep.
template <typename Body>
attempt measured(Body body) {
  constexpr std::size_t kTextCapacity = 64 * 1024;
  attempt result;
  result.state.reserve(kTextCapacity);
  result.after_recovery.reserve(kTextCapacity);
  const long before = live_allocations();
  body(result);
  // The compiled patterns a host keeps for later are no leak.
  ox_refhost::clear_regex_cache();
  result.leaked = live_allocations() - before;
  return result;
}

// Imports the catalog a second time under injection, over a manager
// that already holds it once.
attempt import_with_failure(std::size_t nth, failure_mode mode, bool indexed) {
  return measured([&](attempt& result) {
    host_setup setup(inventory_path(), indexed);
    setup.import();
    const std::string before = render(*setup.spec_mgr);
    {
      allocation_failure injection(nth, mode);
      try {
        setup.import();
      } catch (const pm_exception& error) {
        result.threw = true;
        result.code = error.code();
      } catch (...) {
        result.foreign_exception = true;
      }
      result.fired = injection.fired();
      result.allocations = injection.attempts();
    }
    const std::string after = render(*setup.spec_mgr);
    if (result.threw) {
      // What had to survive: the entries of the first import, unchanged.
      result.state.assign(after == before ? "kept" : "changed:\n" + after);
      setup.import();
    } else {
      result.state.assign(after);
    }
    result.after_recovery.assign(render(*setup.spec_mgr));
  });
}

// Runs every request under injection; stops at the first that throws.
attempt resolve_with_failure(std::size_t nth, failure_mode mode, bool indexed) {
  return measured([&](attempt& result) {
    host_setup setup(inventory_path(), indexed);
    setup.import();
    setup.softdb_mgr->rescan();
    const std::string installed_before = render(setup.softdb_mgr->get_installed_product_list());
    setup.source->current = setup.inventory;
    const std::string specs_before = render(*setup.spec_mgr);

    // Only the library runs while the injection is armed.
    const std::vector<request> asked = requests();
    std::vector<std::vector<installing_software>> resolved;
    resolved.reserve(asked.size());
    {
      allocation_failure injection(nth, mode);
      try {
        for (const request& r : asked) {
          resolved.push_back(setup.package_mgr->resolve(r.uninstall, r.install));
        }
      } catch (const pm_exception& error) {
        result.threw = true;
        result.code = error.code();
      } catch (...) {
        result.foreign_exception = true;
      }
      result.fired = injection.fired();
      result.allocations = injection.attempts();
    }
    if (result.threw) {
      // The installed list is the one before or the one of the store: never
      // a part of either. The catalog is untouched.
      const std::string installed = render(setup.softdb_mgr->get_installed_product_list());
      result.state.assign(installed == installed_before ? "installed: before"
                                                        : "installed: " + installed);
      result.state.append(render(*setup.spec_mgr) == specs_before ? ", specs kept"
                                                                  : ", specs changed");
    } else {
      for (const std::vector<installing_software>& list : resolved) {
        result.state.append(render(list)).append("--\n");
      }
    }
    for (const request& r : asked) {
      result.after_recovery.append(render(setup.package_mgr->resolve(r.uninstall, r.install)))
          .append("--\n");
    }
  });
}

// The failure mode, and whether the look-ups and scans use their indexes or
// the plain walks.
class AllocationFailureTest : public ::testing::TestWithParam<std::tuple<failure_mode, bool>> {
 protected:
  static void SetUpTestSuite() {
    install_failing_allocator();
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
  static void TearDownTestSuite() { std::remove(inventory_path().c_str()); }

  // Runs `run` for n = 1, 2, ... until an attempt no longer reaches the n-th
  // allocation, checking each with `check`, and the live allocations before
  // and after each attempt.
  template <typename Run, typename Check>
  void for_every_allocation(Run run, Check check) {
    // Warm up: process-wide caches reach their size before anything is
    // counted.
    const attempt reference = run(0);
    ASSERT_FALSE(reference.threw);
    ASSERT_FALSE(reference.foreign_exception);
    std::size_t attempts = 0;
    for (std::size_t n = 1;; ++n) {
      const attempt outcome = run(n);
      ASSERT_FALSE(outcome.foreign_exception) << "allocation " << n << ": not a pm_exception";
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
    EXPECT_GT(attempts, 20u);
    std::printf("[          ] failed each of %zu allocations\n", attempts);
  }
};

TEST_P(AllocationFailureTest, ImportIsWholeOrNothing) {
  const failure_mode mode = std::get<0>(GetParam());
  const bool indexed = std::get<1>(GetParam());
  for_every_allocation([=](std::size_t n) { return import_with_failure(n, mode, indexed); },
                       [](std::size_t n, const attempt& outcome, const attempt& reference) {
                         if (outcome.threw) {
                           EXPECT_EQ(outcome.code, OX_ERROR_OUT_OF_MEMORY) << "allocation " << n;
                           EXPECT_EQ(outcome.state, "kept") << "allocation " << n;
                         } else {
                           EXPECT_EQ(outcome.state, reference.state)
                               << "allocation " << n << ": entries lost";
                         }
                       });
}

TEST_P(AllocationFailureTest, ResolutionFailsWithCode3OrGivesTheSameResult) {
  const std::string installed_from_store =
      "installed: [RT_2 2.4.0.0 '' ''][agent 3.1.0.0 '' ''][LEGACY_AGENT 1.9.2.0 '' '']"
      "[console 4.0.1.0 '' ''][tools-old 1.0.0.0 '' '']";
  const failure_mode mode = std::get<0>(GetParam());
  const bool indexed = std::get<1>(GetParam());
  for_every_allocation(
      [=](std::size_t n) { return resolve_with_failure(n, mode, indexed); },
      [&](std::size_t n, const attempt& outcome, const attempt& reference) {
        if (outcome.threw) {
          // 3 for the library's failure; the store's own code when its scan
          // is what ran out of memory.
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

// Every public operation of the managers, called directly as a host may call
// it: whatever allocation fails, only pm_exception leaves.
TEST_P(AllocationFailureTest, DirectCallsLetOnlyPmExceptionOut) {
  const failure_mode mode = std::get<0>(GetParam());
  const bool indexed = std::get<1>(GetParam());
  // The operations, each guarded on its own; returns the number of
  // operations that let something other than pm_exception out.
  auto run = [&](std::size_t nth) {
    return measured([&](attempt& result) {
      host_setup setup(inventory_path(), indexed);
      setup.import();
      setup.source->current = setup.inventory;
      setup.softdb_mgr->rescan();
      const std::vector<installing_software> installed =
          setup.dependency_mgr->check_installorder_compatibility({}, {});
      const request asked = requests().front();
      const std::vector<installing_software> install =
          setup.dependency_mgr->resolve_dependency(asked.install);
      const ox::software_spec agent = setup.spec_mgr->find_id("agent");
      const ox::software_spec backup = setup.spec_mgr->find_id("backup");
      const software wanted("console", version("4.0"));
      const std::string pattern = "console|CONSOLE_[0-9]+";
      const std::string id = "CONSOLE_7";
      const std::string orqid = "LEGACY_AGENT";
      const std::string product = "legacy";
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
      {
        allocation_failure injection(nth, mode);
        ox::software_dependency_manager& dm = *setup.dependency_mgr;
        guarded([&] { lists.push_back(dm.check_installorder_compatibility(install, install)); });
        guarded([&] { lists.push_back(dm.resolve_dependency(asked.install)); });
        guarded([&] { lists.push_back(dm.resolve_installorder_compatibility(install)); });
        guarded([&] { dm.resolve_obsoletes(entry, agent); });
        guarded([&] { dm.resolve_uninstalls(working, entry, agent); });
        guarded([&] { dm.check_product_dependency(working, entry, backup); });
        guarded([&] { dm.check_product_compatibility(working, entry, backup, install); });
        ox::package_spec_manager& sm = *setup.spec_mgr;
        guarded([&] { static_cast<void>(sm.find(wanted)); });
        guarded([&] { static_cast<void>(sm.find_id(id)); });
        guarded([&] { static_cast<void>(sm.find_software_id(pattern, id)); });
        guarded([&] { static_cast<void>(sm.find_orqid_in_spec(orqid, product)); });
        guarded([&] { sm.add(added); });
        guarded([&] { sm.set_platform(pattern); });
        guarded([&] { static_cast<void>(sm.get_platform()); });
        guarded([&] { setup.softdb_mgr->rescan(); });
        guarded([&] { static_cast<void>(setup.softdb_mgr->find(orqid)); });
        guarded(
            [&] { lists.push_back(setup.package_mgr->resolve(asked.uninstall, asked.install)); });
        result.fired = injection.fired();
        result.allocations = injection.attempts();
      }
      result.foreign_exception = foreign > 0;
      if (foreign > 0) {
        result.state.assign(std::to_string(foreign) + " operations let another exception out");
      }
    });
  };
  const attempt reference = run(0);
  ASSERT_FALSE(reference.foreign_exception) << reference.state;
  std::size_t attempts = 0;
  for (std::size_t n = 1;; ++n) {
    const attempt outcome = run(n);
    ASSERT_FALSE(outcome.foreign_exception) << "allocation " << n << ": " << outcome.state;
    ASSERT_EQ(outcome.leaked, 0) << "allocation " << n << ": leaked";
    if (!outcome.fired) {
      break;
    }
    attempts = n;
  }
  EXPECT_GT(attempts, 100u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AllocationFailureTest,
    ::testing::Combine(::testing::Values(failure_mode::once, failure_mode::from_then),
                       ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<failure_mode, bool>>& info) {
      return std::string(std::get<0>(info.param) == failure_mode::once ? "Once" : "FromThen") +
             (std::get<1>(info.param) ? "Indexed" : "PlainWalks");
    });

TEST(FailingAllocatorTest, FailsTheNthAllocationAndPausesInsideTheRegexEngine) {
  install_failing_allocator();
  // Explicit calls: a compiler may leave out the allocation of a
  // new-expression whose result is not needed. Nothing but these runs while
  // an injection is armed.
  bool threw = false;
  bool fired = false;
  std::size_t attempts = 0;
  {
    allocation_failure injection(2, failure_mode::once);
    void* first = ::operator new(16);
    try {
      ::operator delete(::operator new(16));
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    void* third = ::operator new[](16);
    fired = injection.fired();
    attempts = injection.attempts();
    ::operator delete(first);
    ::operator delete[](third);
  }
  EXPECT_TRUE(threw);
  EXPECT_TRUE(fired);
  EXPECT_EQ(attempts, 3u);

  bool paused_fired = true;
  void* nothrow_single = &threw;
  void* nothrow_aligned = &threw;
  threw = false;
  {
    allocation_failure injection(1, failure_mode::from_then);
    {
      const ox_refhost::regex_engine_call inside;
      ::operator delete(::operator new(16));
      paused_fired = injection.fired();
    }
    nothrow_single = ::operator new(16, std::nothrow);
    nothrow_aligned = ::operator new[](16, std::align_val_t{64}, std::nothrow);
    try {
      ::operator delete (::operator new (16, std::align_val_t{64}), std::align_val_t{64});
    } catch (const std::bad_alloc&) {
      threw = true;
    }
  }
  EXPECT_FALSE(paused_fired);
  EXPECT_EQ(nothrow_single, nullptr);
  EXPECT_EQ(nothrow_aligned, nullptr);
  EXPECT_TRUE(threw);

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

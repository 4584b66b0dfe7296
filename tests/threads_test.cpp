// Independent sets of managers on several threads at once. The library keeps
// no global mutable state, so each thread, with its own managers over the
// shared reference host (its regular-expression cache and store sources
// included), must get exactly what the same work gives on one thread: the
// same resolved lists and the same log lines. Built with ThreadSanitizer by
// `make tsan`.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/describe.hpp"
#include "support/test_host.hpp"
#include "support/wired_managers.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace ox_test {
namespace {

using ox::installing_software;
using ox::software;
using ox::version;
using ox_refhost::installed_application;

constexpr int kThreads = 4;
constexpr int kRounds = 20;
constexpr int kPackages = 24;

// tests/data/threads_catalog.xml: a chain of packages pkg-0 to pkg-23, each
// depending on the one before it (1.x) and compatible with the one before
// that up to 2.x; every third uninstalls its predecessor's old id; every fifth
// has obsolete versions. Ids are matched through patterns.
std::string catalog_document() {
  std::ostringstream out;
  out << std::ifstream(OX_TESTS_DIR "/data/threads_catalog.xml", std::ios::binary).rdbuf();
  return out.str();
}

// What thread `t` finds installed: a different part of the chain each.
std::vector<installed_application> installed_for(int t) {
  std::vector<installed_application> apps;
  for (int i = 0; i < kPackages; ++i) {
    if ((i + t) % 4 != 0) {
      apps.push_back({"PKG_" + std::to_string(i) + "_" + std::to_string(t),
                      "1." + std::to_string((i + t) % 10) + ".0.0"});
    }
    if (i % 3 == 1) {
      apps.push_back({"OLD_" + std::to_string(i), std::string("0.5")});
    }
  }
  apps.push_back({"no-version", std::nullopt});
  return apps;
}

struct request {
  std::vector<software> uninstall;
  std::vector<software> install;
};

std::vector<request> requests_for(int t) {
  std::vector<request> out;
  for (int k = 0; k < 3; ++k) {
    request r;
    const int first = (t * 5 + k * 7) % (kPackages - 4);
    for (int i = first; i < first + 4; ++i) {
      r.install.emplace_back("pkg-" + std::to_string(i), version("1." + std::to_string(i % 3)));
    }
    r.install.emplace_back("unknown-" + std::to_string(k), version("1.0"));
    r.uninstall.emplace_back("PKG_" + std::to_string(first) + "_" + std::to_string(t),
                             version("1.0"));
    out.push_back(r);
  }
  // Uninstalling what an installed package depends on leaves that package
  // broken: PKG_a_t and PKG_(a+1)_t are both installed for every thread.
  const int a = (4 - t % 4) % 4 + 1;
  request breaking;
  breaking.uninstall.emplace_back("PKG_" + std::to_string(a) + "_" + std::to_string(t),
                                  version("1.0"));
  out.push_back(breaking);
  return out;
}

// The requests of thread `t` on a wired set, whose catalog may be shared.
std::string run_requests(int t, const ox::managers& wired,
                         const std::shared_ptr<ox_refhost::store_source>& source) {
  const ox_refhost::scoped_store_source scoped(source);
  std::string out = "thread " + std::to_string(t) + ": " +
                    std::to_string(wired.spec->get_specs().size()) + " entries\n";
  for (const request& r : requests_for(t)) {
    const std::vector<installing_software> resolved =
        wired.package->resolve(r.uninstall, r.install);
    for (const std::string& line : describe(resolved)) {
      out += line + "\n";
    }
    out += wired.package->is_incompatible(resolved) ? "incompatible\n" : "compatible\n";
    out += wired.package->is_conflicted(resolved) ? "conflicted\n" : "no conflict\n";
  }
  for (int i = 0; i < kPackages; i += 5) {
    out += wired.spec->find_id("PKG_" + std::to_string(i) + "_7").sref + " ";
    out += wired.spec->find_orqid_in_spec("OLD_" + std::to_string(i), "old-" + std::to_string(i))
               ? "orqid\n"
               : "no orqid\n";
  }
  return out;
}

// The work of one thread, from a fresh set of managers to the rendered
// results of every request.
std::string run_scenario(int t, ox_context_s* context,
                         const std::shared_ptr<ox_refhost::store_source>& source,
                         const std::string& document) {
  const ox_test::wired_managers wired(context, "linux-x64");
  wired.spec->import(document.data(), document.size());
  return run_requests(t, wired, source);
}

struct thread_result {
  std::vector<std::string> outputs;  // one a round
  std::vector<std::string> lines;    // the log of the first round, when kept
  std::string error;
};

// Runs `work(t, host)` kRounds times on each of kThreads threads at once,
// each round on a fresh host unless `shared` is given.
template <typename Work>
std::vector<thread_result> on_threads(Work work, test_host* shared = nullptr) {
  std::vector<thread_result> results(kThreads);
  std::atomic<int> waiting{kThreads};  // all start at once, so that they overlap
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (--waiting; waiting.load() > 0;) {
        std::this_thread::yield();
      }
      try {
        for (int round = 0; round < kRounds; ++round) {
          test_host own;
          results[t].outputs.push_back(work(t, shared != nullptr ? *shared : own));
          if (round == 0 && shared == nullptr) {
            results[t].lines = own.lines();
          }
        }
      } catch (const std::exception& error) {
        results[t].error = error.what();
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(results[t].error, "") << "thread " << t;
    EXPECT_EQ(results[t].outputs.size(), static_cast<std::size_t>(kRounds)) << "thread " << t;
  }
  return results;
}

// Runs `work` for each thread index on this thread, then kRounds times on
// every thread at once: each round gives what this thread got, the same
// output and the same log. Returns the outputs of this thread.
template <typename Work>
std::vector<std::string> expect_as_on_one_thread(Work work) {
  std::vector<std::string> expected(kThreads);
  std::vector<std::vector<std::string>> expected_lines(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    test_host host;
    expected[t] = work(t, host);
    expected_lines[t] = host.lines();
  }
  const std::vector<thread_result> results = on_threads(work);
  for (int t = 0; t < kThreads; ++t) {
    for (const std::string& output : results[t].outputs) {
      EXPECT_EQ(output, expected[t]) << "thread " << t;
    }
    EXPECT_EQ(results[t].lines, expected_lines[t]) << "thread " << t;
  }
  return expected;
}

class ThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    document_ = catalog_document();
    ASSERT_NE(document_.find("pkg-23"), std::string::npos);
    for (int t = 0; t < kThreads; ++t) {
      sources_.push_back(ox_refhost::make_memory_source(installed_for(t)));
    }
  }

  std::string document_;
  std::vector<std::shared_ptr<ox_refhost::memory_store_source>> sources_;
};

TEST_F(ThreadsTest, EachThreadWithItsOwnHostGetsTheSingleThreadedResultAndLog) {
  const std::vector<std::string> expected = expect_as_on_one_thread([&](int t, test_host& host) {
    return run_scenario(t, host.context(), sources_[t], document_);
  });
  for (int t = 1; t < kThreads; ++t) {
    EXPECT_NE(expected[t], expected[0]) << "the threads must do different work";
  }
  EXPECT_NE(expected[0].find("incompatible"), std::string::npos);
  EXPECT_NE(expected[0].find("\ncompatible"), std::string::npos);
}

TEST_F(ThreadsTest, ThreadsSharingOneContextLoggerAndStoreSourceGetTheSameResults) {
  // One host for everybody: the context, its logger and one store source are
  // shared; each thread still has managers of its own.
  test_host shared;
  const std::shared_ptr<ox_refhost::store_source> one_source = sources_[1];
  const std::string expected = run_scenario(1, shared.context(), one_source, document_);
  const std::size_t lines_per_run = shared.records().size();
  shared.clear();

  const std::vector<thread_result> results = on_threads(
      [&](int, test_host& host) { return run_scenario(1, host.context(), one_source, document_); },
      &shared);
  for (int t = 0; t < kThreads; ++t) {
    for (const std::string& output : results[t].outputs) {
      EXPECT_EQ(output, expected) << "thread " << t;
    }
  }
  // Every line of every run reached the shared logger, whole.
  const std::vector<ox_refhost::log_record> records = shared.records();
  EXPECT_EQ(records.size(), lines_per_run * kThreads * kRounds);
  for (const ox_refhost::log_record& record : records) {
    EXPECT_EQ(record.service, "pm_service");
  }
}

TEST_F(ThreadsTest, ThreadsSharingOneImportedCatalogGetTheirOwnResults) {
  // The catalog is imported once; every thread wires a set of its own (own
  // host, logger, store source, database and dependency manager) around it.
  test_host importer;
  auto catalog = std::make_shared<ox::package_spec_manager>(importer.context());
  catalog->set_platform("linux-x64");
  catalog->import(document_.data(), document_.size());

  for (int t = 0; t < kThreads; ++t) {
    test_host own;
    test_host host;
    ASSERT_EQ(run_scenario(t, own.context(), sources_[t], document_),
              run_requests(t, ox_test::wired_managers(host.context(), catalog), sources_[t]))
        << "a shared catalog answers as an own one";
  }
  expect_as_on_one_thread([&](int t, test_host& host) {
    return run_requests(t, ox_test::wired_managers(host.context(), catalog), sources_[t]);
  });
}

}  // namespace
}  // namespace ox_test
}  // namespace tarvik

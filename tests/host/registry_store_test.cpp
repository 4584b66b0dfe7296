#include "tarvik/ox/registry_store.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tarvik/ox/pm_exception.hpp"
#include "tarvik/ox_refhost/store.hpp"
#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox {
namespace {

using ox_refhost::installed_application;
using ox_refhost::make_memory_source;
using ox_refhost::scoped_store_source;
using ox_refhost::store_calls_on_this_thread;

struct walked {
  std::string id;
  std::string version;
  bool operator==(const walked& other) const { return id == other.id && version == other.version; }
};

std::vector<walked> walk(registry_store& store) {
  std::vector<walked> out;
  std::shared_ptr<application> cursor = std::make_shared<application>(nullptr);
  for (cursor = store.next_application(cursor); cursor->get_application() != nullptr;
       cursor = store.next_application(cursor)) {
    out.push_back(walked{cursor->get_software_id(), cursor->get_version()});
  }
  return out;
}

TEST(RegistryStoreTest, AnEmptyStoreEndsTheWalkAtOnceWithAnApplicationWithoutHandle) {
  scoped_store_source scope(make_memory_source());
  registry_store store;
  store.scan();
  const std::shared_ptr<application> start = std::make_shared<application>(nullptr);
  const std::shared_ptr<application> first = store.next_application(start);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, start);
  EXPECT_EQ(first->get_application(), nullptr);
  // Asking again past the end stays at the end.
  const std::shared_ptr<application> again = store.next_application(first);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->get_application(), nullptr);
}

TEST(RegistryStoreTest, WalksInStoreOrderAndGivesEmptyTextForAMissingVersion) {
  scoped_store_source scope(make_memory_source({{"B", std::string("2.0")},
                                                {"A", std::nullopt},
                                                {"B", std::string("1.0.0.1")},
                                                {"C", std::string("")}}));
  registry_store store;
  store.scan();
  const std::vector<walked> expected = {{"B", "2.0"}, {"A", ""}, {"B", "1.0.0.1"}, {"C", ""}};
  EXPECT_EQ(walk(store), expected);
}

TEST(RegistryStoreTest, ApplicationsWrapTheHostHandleWithoutOwningIt) {
  scoped_store_source scope(make_memory_source({{"A", std::string("1.0")}}));
  registry_store store;
  store.scan();
  std::shared_ptr<application> first =
      store.next_application(std::make_shared<application>(nullptr));
  const ox_application_s* handle = first->get_application();
  ASSERT_NE(handle, nullptr);
  // Dropping the wrapper releases nothing: the handle still answers.
  first.reset();
  const application again(handle);
  EXPECT_EQ(again.get_application(), handle);
  EXPECT_EQ(again.get_software_id(), "A");
  EXPECT_EQ(again.get_version(), "1.0");

  const application none(nullptr);
  EXPECT_EQ(none.get_software_id(), "");
  EXPECT_EQ(none.get_version(), "");
}

TEST(RegistryStoreTest, AFailedScanThrowsTheHostsCodeUnchangedAndTheStoreIsStillReleased) {
  for (const ox_error_e code : {OX_ERROR_IO, OX_ERROR_PARSE, static_cast<ox_error_e>(4711)}) {
    auto source = make_memory_source({{"A", std::string("1.0")}});
    fail_next_scan(*source, code);
    scoped_store_source scope(source);
    const auto before = store_calls_on_this_thread();
    try {
      registry_store store;
      store.scan();
      ADD_FAILURE() << "scan did not throw for code " << code;
    } catch (const pm_exception& e) {
      EXPECT_EQ(e.error, code);
    }
    const auto after = store_calls_on_this_thread();
    EXPECT_EQ(after.create_calls - before.create_calls, 1u);
    EXPECT_EQ(after.release_calls - before.release_calls, 1u);
    EXPECT_EQ(after.null_release_calls - before.null_release_calls, 0u);
  }
}

TEST(RegistryStoreTest, AFailedCreationIsReportedByTheScanAndReleasedOnce) {
  scoped_store_source scope(make_memory_source({{"A", std::string("1.0")}}));
  const auto before = store_calls_on_this_thread();
  ox_refhost::fail_next_store_create(OX_ERROR_OUT_OF_MEMORY);
  {
    registry_store store;  // does not throw
    try {
      store.scan();
      ADD_FAILURE() << "scan of a store that was never created succeeded";
    } catch (const pm_exception& e) {
      // The reference host reports the failed creation's own code.
      EXPECT_EQ(e.error, OX_ERROR_OUT_OF_MEMORY);
    }
    // The walk of a store without handle ends at once.
    EXPECT_EQ(store.next_application(std::make_shared<application>(nullptr))->get_application(),
              nullptr);
  }
  const auto after = store_calls_on_this_thread();
  EXPECT_EQ(after.create_calls - before.create_calls, 1u);
  EXPECT_EQ(after.release_calls - before.release_calls, 1u);
  EXPECT_EQ(after.null_release_calls - before.null_release_calls, 1u);
}

TEST(RegistryStoreTest, AnEmptyPreviousPointerStartsTheWalk) {
  scoped_store_source scope(make_memory_source({{"A", std::string("1.0")}}));
  registry_store store;
  store.scan();
  const std::shared_ptr<application> first = store.next_application(nullptr);
  ASSERT_NE(first->get_application(), nullptr);
  EXPECT_EQ(first->get_software_id(), "A");
}

}  // namespace
}  // namespace ox
}  // namespace tarvik

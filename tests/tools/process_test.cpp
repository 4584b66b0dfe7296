#include "process.hpp"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

// Sanitizers bring an allocator of their own, which takes no part in this.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OXPM_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define OXPM_OWN_ALLOCATOR 1
#endif
#endif

namespace tarvik {
namespace oxpm {
namespace {

// The "VmFlags" line of the mapping of /proc/self/smaps that holds `address`;
// empty when there is none.
std::string vm_flags_at(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t from = 0;
    std::uintptr_t to = 0;
    char dash = 0;
    std::istringstream header(line);
    if (header >> std::hex >> from >> dash >> to && dash == '-') {
      inside = from <= at && at < to;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return {};
}

// One test, since the set-up is process-wide and meant to run once.
TEST(PrepareHeapTest, LargeBlocksComeFromAHeapAdvisedForHugePages) {
  ::unsetenv(kPlainMallocVariable);
  const heap_setup setup = prepare_heap(std::size_t{16} * 1024 * 1024);

  // A block of a few MiB is carved from the heap rather than mapped.
  const std::size_t mapped_before = mallinfo2().hblks;
  void* volatile block = std::malloc(std::size_t{3} * 1024 * 1024);
  ASSERT_NE(block, nullptr);
  const std::size_t mapped_with_block = mallinfo2().hblks;
  std::free(block);
#ifdef OXPM_OWN_ALLOCATOR
  EXPECT_EQ(setup.huge_bytes, 0u);
  GTEST_SKIP() << "the sanitizer's allocator does not grow malloc's heap";
#endif
  if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled")) {
    GTEST_SKIP() << "the kernel has no transparent huge pages";
  }
  EXPECT_EQ(mapped_with_block, mapped_before);
  ASSERT_GT(setup.huge_bytes, 0u);

  const auto begin = reinterpret_cast<std::uintptr_t>(setup.huge_begin);
  const std::uintptr_t huge_page = std::uintptr_t{2} * 1024 * 1024;
  EXPECT_EQ(begin % huge_page, 0u);
  EXPECT_EQ(setup.huge_bytes % huge_page, 0u);
  EXPECT_GE(setup.huge_bytes, std::size_t{14} * 1024 * 1024);
  // The whole range is advised ("hg"), first page and last.
  const std::string first = vm_flags_at(setup.huge_begin);
  const std::string last = vm_flags_at(reinterpret_cast<const void*>(begin + setup.huge_bytes - 1));
  EXPECT_NE(first.find(" hg"), std::string::npos) << first;
  EXPECT_NE(last.find(" hg"), std::string::npos) << last;
}

// With OXPM_PLAIN_MALLOC malloc keeps its defaults: a block of a few MiB is
// mapped on its own, and no heap is advised. In a process of its own, since
// the set-up cannot be undone.
TEST(PrepareHeapTest, PlainMallocLeavesMallocAsItIs) {
#ifdef OXPM_OWN_ALLOCATOR
  GTEST_SKIP() << "the sanitizer's allocator does not grow malloc's heap";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::setenv(kPlainMallocVariable, "1", 1);
        const heap_setup setup = prepare_heap(std::size_t{16} * 1024 * 1024);
        const std::size_t mapped_before = mallinfo2().hblks;
        void* volatile block = std::malloc(std::size_t{3} * 1024 * 1024);
        const bool mapped = mallinfo2().hblks == mapped_before + 1;
        std::free(block);
        if (setup.huge_bytes != 0 || !mapped) {
          std::fprintf(stderr, "advised %zu bytes, block %s\n", setup.huge_bytes,
                       mapped ? "mapped" : "from the heap");
          std::exit(1);
        }
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

struct flagged {
  explicit flagged(bool& destroyed) : destroyed_(destroyed) {}
  ~flagged() { destroyed_ = true; }
  bool& destroyed_;
};

// Under sanitizers everything is freed before exit, so that leak checking
// covers the session; elsewhere the session is left to the exit, unless
// OXPM_FREE_AT_EXIT is set (not "0" nor ""), for leak checkers outside the
// sanitizers.
TEST(LeaveToExitTest, DestroysOnlyWhereLeakCheckingNeedsIt) {
#ifdef OXPM_OWN_ALLOCATOR
  const bool by_default = true;
#else
  const bool by_default = false;
#endif
  for (const char* value : {static_cast<const char*>(nullptr), "0", "", "1"}) {
    if (value == nullptr) {
      ::unsetenv(kFreeAtExitVariable);
    } else {
      ::setenv(kFreeAtExitVariable, value, 1);
    }
    const bool frees = by_default || (value != nullptr && std::string(value) == "1");
    EXPECT_EQ(frees_before_exit(), frees) << (value == nullptr ? "unset" : value);
    bool destroyed = false;
    leave_to_exit(std::make_unique<flagged>(destroyed));
    EXPECT_EQ(destroyed, frees) << (value == nullptr ? "unset" : value);
  }
  ::unsetenv(kFreeAtExitVariable);
}

}  // namespace
}  // namespace oxpm
}  // namespace tarvik

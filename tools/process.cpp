#include "process.hpp"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tarvik {
namespace oxpm {
namespace {

// The largest mmap threshold malloc accepts (4 Mi longs).
constexpr int kMaxMmapThreshold = 32 * 1024 * 1024;
// malloc's default top pad, restored once the heap is grown.
constexpr int kDefaultTopPad = 128 * 1024;
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} * 1024 * 1024;
// More than the heap has free after start-up (malloc grows it by its top pad,
// 128 KiB, beyond each request).
constexpr std::size_t kProbe = std::size_t{1024} * 1024;

// The block below the advised range; volatile, so that it is allocated.
void* volatile covered = nullptr;

// What keep_until_exit keeps: reachable for leak checkers, never freed.
constexpr std::size_t kKeptMost = 8;
const void* volatile kept[kKeptMost] = {};
std::size_t kept_count = 0;

// True when the environment variable is set to anything but "" or "0".
bool switched_on(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

heap_setup prepare_heap(std::size_t huge_heap) {
  heap_setup setup;
  if (switched_on(kPlainMallocVariable)) {
    return setup;
  }
  // A run allocates a few large blocks that live for one phase: the catalog
  // text and the XML tree during the import, vectors of records as they
  // grow. Above the default threshold (128 KiB, raised as mapped blocks are
  // freed) each is a mapping of its own, fresh when touched and unmapped
  // when freed. From the heap, freed blocks are reused.
  (void)mallopt(M_MMAP_THRESHOLD, kMaxMmapThreshold);
  // Trimming would hand the advised heap back, and the heap would grow again
  // without the advice.
  (void)mallopt(M_TRIM_THRESHOLD, INT_MAX);
  if (huge_heap == 0 || huge_heap > static_cast<std::size_t>(INT_MAX)) {
    return setup;
  }
#ifdef MADV_HUGEPAGE
  // Each page fault costs far more than the page's share of zeroing a huge
  // page (2 us per 4 KiB page on the virtual machines we measure): grow the
  // heap once by the whole reserve, then advise it. malloc grows the heap by
  // the request and the top pad; the probe is larger than whatever the heap
  // has left since start-up, so that it has to grow.
  const auto before = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  (void)mallopt(M_TOP_PAD, static_cast<int>(huge_heap));
  // Through a volatile pointer: a compiler may drop a malloc and free pair.
  void* volatile probe = std::malloc(kProbe);
  // malloc wrote the header of the heap's free rest just past the probe. The
  // 2 MiB range around that touched page could no longer take a huge page:
  // the advised range begins after it.
  const std::uintptr_t touched = reinterpret_cast<std::uintptr_t>(probe) + kProbe + 64;
  const bool grown = probe != nullptr;
  std::free(probe);
  (void)mallopt(M_TOP_PAD, kDefaultTopPad);
  const auto after = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  const std::uintptr_t begin = (std::max(before, touched) + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = after & ~(kHugePage - 1);
  if (!grown || after <= before || end <= begin ||
      ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE) != 0) {
    return setup;
  }
  setup.huge_begin = reinterpret_cast<const void*>(begin);
  setup.huge_bytes = end - begin;
  // The heap's free top (up to the break) begins below the advised range:
  // what is allocated there first would take ordinary pages, up to 512 page
  // faults per 2 MiB. A block that covers it, kept for the run, makes the
  // next allocations start on the advised range; only its first page is
  // touched.
  const std::uintptr_t top_begin = after - mallinfo2().keepcost;
  if (top_begin < begin) {
    covered = std::malloc(begin - top_begin - sizeof(std::size_t));
  }
#endif
  return setup;
}

bool frees_before_exit() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer) || __has_feature(leak_sanitizer)
  return true;
#else
  return switched_on(kFreeAtExitVariable);
#endif
#else
  return switched_on(kFreeAtExitVariable);
#endif
}

void keep_until_exit(const void* object) {
  if (kept_count < kKeptMost) {
    kept[kept_count++] = object;
  }
}

}  // namespace oxpm
}  // namespace tarvik

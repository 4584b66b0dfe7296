// How an oxpm process sets up memory allocation for its one run.
#ifndef TARVIK_OXPM_TOOLS_PROCESS_HPP_
#define TARVIK_OXPM_TOOLS_PROCESS_HPP_

#include <cstddef>
#include <memory>

namespace tarvik {
namespace oxpm {

// Environment variables that turn the run's memory shortcuts off, for when
// they get in the way (set to anything but "" or "0"): OXPM_PLAIN_MALLOC
// leaves malloc as it is (prepare_heap does nothing), OXPM_FREE_AT_EXIT
// frees everything before exit, for leak checkers in builds without
// sanitizers (frees_before_exit is true).
inline constexpr const char* kPlainMallocVariable = "OXPM_PLAIN_MALLOC";
inline constexpr const char* kFreeAtExitVariable = "OXPM_FREE_AT_EXIT";

// Heap set aside at the start of a run for transparent huge pages: about what
// a resolution over a catalog of 20000 elements needs. A run that needs more
// goes on in ordinary pages.
inline constexpr std::size_t kHugePageHeap = std::size_t{64} * 1024 * 1024;

struct heap_setup {
  // The part of the heap advised for transparent huge pages (MADV_HUGEPAGE),
  // 2 MiB aligned; empty when malloc's heap did not grow by brk (another
  // allocator, as under sanitizers) or the kernel refused the advice.
  const void* huge_begin = nullptr;
  std::size_t huge_bytes = 0;
};

// Sets malloc up for one short run: blocks up to 32 MiB come from the heap,
// which is never trimmed, so that what one phase frees serves the next; and
// the heap is grown by `huge_heap` bytes of address space at once and advised
// for transparent huge pages. Only what is touched becomes resident, in 2 MiB
// pages: one page fault where there were 512. Where the kernel compacts
// memory to find a huge page for an advised range (defrag "madvise", the
// default), the odd fault waits a few milliseconds; on average the run is
// still much faster. Call first thing in main. Nothing is changed when
// OXPM_PLAIN_MALLOC is set.
heap_setup prepare_heap(std::size_t huge_heap = kHugePageHeap);

// True in builds with sanitizers, and when OXPM_FREE_AT_EXIT is set: then
// everything is freed before exit, so that leak checking covers it.
bool frees_before_exit();

// Keeps `object` reachable, unfreed, until the process exits (a few objects
// at most; from the main thread).
void keep_until_exit(const void* object);

// For a process that exits right after: the object's memory goes back with
// the process instead of block by block (handing a large catalog back to
// malloc takes milliseconds, most of them cache misses). With
// frees_before_exit() the object is destroyed here.
template <class T>
void leave_to_exit(std::unique_ptr<T> object) {
  if (!frees_before_exit()) {
    keep_until_exit(object.release());
  }
}

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_PROCESS_HPP_

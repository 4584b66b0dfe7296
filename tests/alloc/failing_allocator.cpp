#include "alloc/failing_allocator.hpp"

#include <pugixml.hpp>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tarvik/ox_refhost/testing.hpp"

namespace tarvik {
namespace ox_test {
namespace {

// Per thread, so that an injection on one thread never fails another's
// allocations. Trivial types only: these are read inside operator new.
struct injection_state {
  bool armed = false;
  bool fired = false;
  failure_mode mode = failure_mode::once;
  std::size_t remaining = 0;
  std::size_t attempts = 0;
  int paused = 0;
};

thread_local injection_state tl_state;

std::atomic<long> g_live{0};

bool should_fail() noexcept {
  injection_state& state = tl_state;
  if (!state.armed || state.paused > 0) {
    return false;
  }
  ++state.attempts;
  if (state.fired) {
    return state.mode == failure_mode::from_then;
  }
  if (--state.remaining == 0) {
    state.fired = true;
    return true;
  }
  return false;
}

void* allocate(std::size_t size) noexcept {
  if (should_fail()) {
    return nullptr;
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) {
    g_live.fetch_add(1, std::memory_order_relaxed);
  }
  return block;
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) noexcept {
  if (should_fail()) {
    return nullptr;
  }
  std::size_t align = static_cast<std::size_t>(alignment);
  if (align < sizeof(void*)) {
    align = sizeof(void*);
  }
  void* block = nullptr;
  if (posix_memalign(&block, align, size == 0 ? 1 : size) != 0) {
    return nullptr;
  }
  g_live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void release(void* block) noexcept {
  if (block != nullptr) {
    g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
  }
}

void* allocate_or_throw(std::size_t size) {
  void* block = allocate(size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void* allocate_aligned_or_throw(std::size_t size, std::align_val_t alignment) {
  void* block = allocate_aligned(size, alignment);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void pause_for_regex_engine(bool entering) noexcept {
  tl_state.paused += entering ? 1 : -1;
}

void* pugixml_allocate(std::size_t size) {
  return allocate(size);
}

void pugixml_deallocate(void* block) {
  release(block);
}

}  // namespace

allocation_failure::allocation_failure(std::size_t nth, failure_mode mode) {
  tl_state.fired = false;
  tl_state.mode = mode;
  tl_state.remaining = nth;
  tl_state.attempts = 0;
  tl_state.armed = nth > 0;
}

allocation_failure::~allocation_failure() {
  tl_state.armed = false;
}

bool allocation_failure::fired() const {
  return tl_state.fired;
}

std::size_t allocation_failure::attempts() const {
  return tl_state.attempts;
}

long live_allocations() {
  return g_live.load();
}

void install_failing_allocator() {
  pugi::set_memory_management_functions(&pugixml_allocate, &pugixml_deallocate);
  ox_refhost::set_regex_engine_hook(&pause_for_regex_engine);
}

}  // namespace ox_test
}  // namespace tarvik

// The replaced global allocation functions.

void* operator new(std::size_t size) {
  return tarvik::ox_test::allocate_or_throw(size);
}

void* operator new[](std::size_t size) {
  return tarvik::ox_test::allocate_or_throw(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return tarvik::ox_test::allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return tarvik::ox_test::allocate(size);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
  return tarvik::ox_test::allocate_aligned_or_throw(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
  return tarvik::ox_test::allocate_aligned_or_throw(size, alignment);
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return tarvik::ox_test::allocate_aligned(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return tarvik::ox_test::allocate_aligned(size, alignment);
}

void operator delete(void* block) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete[](void* block) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete(void* block, std::size_t) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete[](void* block, std::size_t) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete(void* block, std::align_val_t) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete[](void* block, std::align_val_t) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  tarvik::ox_test::release(block);
}

void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  tarvik::ox_test::release(block);
}

#include "alloc/failing_allocator.hpp"

#include <pugixml.hpp>

#include <algorithm>
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

void pause_for_regex_engine(bool entering) noexcept {
  tl_state.paused += entering ? 1 : -1;
}

// Null when the injection fails this allocation (or memory is out); an
// alignment of 0 is malloc's own.
void* allocate(std::size_t size, std::size_t alignment) noexcept {
  void* block = nullptr;
  if (should_fail()) {
    return nullptr;
  }
  if (alignment == 0) {
    block = std::malloc(size == 0 ? 1 : size);
  } else if (posix_memalign(&block, std::max(alignment, sizeof(void*)), size == 0 ? 1 : size) !=
             0) {
    block = nullptr;
  }
  if (block != nullptr) {
    g_live.fetch_add(1, std::memory_order_relaxed);
  }
  return block;
}

void* allocate_or_throw(std::size_t size, std::size_t alignment) {
  void* block = allocate(size, alignment);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void release(void* block) noexcept {
  if (block != nullptr) {
    g_live.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
  }
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
  pugi::set_memory_management_functions([](std::size_t size) { return allocate(size, 0); },
                                        [](void* block) { release(block); });
  ox_refhost::set_regex_engine_hook(&pause_for_regex_engine);
}

}  // namespace ox_test
}  // namespace tarvik

// The replaced global allocation functions, every variant.
namespace {
using std::align_val_t;
using std::nothrow_t;
using std::size_t;
namespace fa = tarvik::ox_test;
size_t align(align_val_t alignment) {
  return static_cast<size_t>(alignment);
}
}  // namespace

// clang-format off
void* operator new(size_t size) { return fa::allocate_or_throw(size, 0); }
void* operator new[](size_t size) { return fa::allocate_or_throw(size, 0); }
void* operator new(size_t size, const nothrow_t&) noexcept { return fa::allocate(size, 0); }
void* operator new[](size_t size, const nothrow_t&) noexcept { return fa::allocate(size, 0); }
void* operator new(size_t size, align_val_t a) { return fa::allocate_or_throw(size, align(a)); }
void* operator new[](size_t size, align_val_t a) { return fa::allocate_or_throw(size, align(a)); }
void* operator new(size_t size, align_val_t a, const nothrow_t&) noexcept { return fa::allocate(size, align(a)); }
void* operator new[](size_t size, align_val_t a, const nothrow_t&) noexcept { return fa::allocate(size, align(a)); }
void operator delete(void* block) noexcept { fa::release(block); }
void operator delete[](void* block) noexcept { fa::release(block); }
void operator delete(void* block, size_t) noexcept { fa::release(block); }
void operator delete[](void* block, size_t) noexcept { fa::release(block); }
void operator delete(void* block, const nothrow_t&) noexcept { fa::release(block); }
void operator delete[](void* block, const nothrow_t&) noexcept { fa::release(block); }
void operator delete(void* block, align_val_t) noexcept { fa::release(block); }
void operator delete[](void* block, align_val_t) noexcept { fa::release(block); }
void operator delete(void* block, size_t, align_val_t) noexcept { fa::release(block); }
void operator delete[](void* block, size_t, align_val_t) noexcept { fa::release(block); }
void operator delete(void* block, align_val_t, const nothrow_t&) noexcept { fa::release(block); }
void operator delete[](void* block, align_val_t, const nothrow_t&) noexcept { fa::release(block); }
// clang-format on

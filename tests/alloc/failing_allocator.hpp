// An allocator that fails on request: this test binary replaces the global
// operator new and delete (every variant) and pugixml's allocation functions
// with versions that count live allocations and, while an injection is armed
// on the calling thread, fail the n-th allocation from then on (only that one,
// or that one and every later one). Allocations inside RE2 are never failed:
// the reference host announces its calls into RE2 and the injection pauses
// for them.
#ifndef TARVIK_OX_TESTS_ALLOC_FAILING_ALLOCATOR_HPP_
#define TARVIK_OX_TESTS_ALLOC_FAILING_ALLOCATOR_HPP_

#include <cstddef>

namespace tarvik {
namespace ox_test {

enum class failure_mode {
  once,       // the n-th allocation fails, later ones succeed again
  from_then,  // the n-th and every later allocation fail
};

// Arms the injection on this thread for the object's life.
class allocation_failure {
 public:
  allocation_failure(std::size_t nth, failure_mode mode);
  allocation_failure(const allocation_failure&) = delete;
  allocation_failure& operator=(const allocation_failure&) = delete;
  ~allocation_failure();

  // Whether the n-th allocation was reached (and failed).
  bool fired() const;
  // Allocations attempted while armed, the failed ones included.
  std::size_t attempts() const;
};

// Allocations made and not yet freed, by every thread, through operator new
// and pugixml.
long live_allocations();

// Installs the pugixml functions and the reference host's RE2 hook. Call
// once before anything is parsed.
void install_failing_allocator();

}  // namespace ox_test
}  // namespace tarvik

#endif  // TARVIK_OX_TESTS_ALLOC_FAILING_ALLOCATOR_HPP_

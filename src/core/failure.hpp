// Failures that are no findings. The public operations report exhausted
// memory (and any other unexpected failure) as pm_exception with
// OX_ERROR_UNEXPECTED. Where the dependency stage turns a pm_exception into
// a finding ("Entry not found in spec.", a dependency not met), only the
// not-found error may become one; any other failure must travel on: the host
// then sees the resolution fail with its code rather than a result that
// silently differs from the true one.
#ifndef TARVIK_OX_SRC_CORE_FAILURE_HPP_
#define TARVIK_OX_SRC_CORE_FAILURE_HPP_

#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {
namespace internal {

// Call only inside a handler of `error`: rethrows it unless it is the
// not-found error, the one failure the dependency stage records as a finding.
inline void rethrow_unless_finding(const pm_exception& error) {
  if (error.code() != OX_ERROR_NOT_FOUND) {
    throw;
  }
}

// Call only inside a handler: rethrows a pm_exception as it is and anything
// else (in practice std::bad_alloc) as pm_exception(OX_ERROR_UNEXPECTED), so
// that only pm_exception leaves a public operation.
[[noreturn]] inline void rethrow_as_pm_exception() {
  try {
    throw;
  } catch (const pm_exception&) {
    throw;
  } catch (...) {
    throw pm_exception(OX_ERROR_UNEXPECTED);
  }
}

// The one translation every public operation applies: runs `operation` and
// lets only pm_exception out (see rethrow_as_pm_exception).
template <typename Operation>
auto only_pm_exception(Operation&& operation) -> decltype(operation()) {
  try {
    return operation();
  } catch (...) {
    rethrow_as_pm_exception();
  }
}

}  // namespace internal
}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_SRC_CORE_FAILURE_HPP_

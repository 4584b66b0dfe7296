// The library's one exception type. Public operations let nothing else
// escape; the code is the library's own (2 invalid argument, 3 unexpected
// failure such as exhausted memory, 12 not found, 102 an import out of
// memory) or the host's, passed on unchanged from a failed host call (any
// int, negative ones included).
#ifndef TARVIK_OX_PM_EXCEPTION_HPP_
#define TARVIK_OX_PM_EXCEPTION_HPP_

#include <exception>

#include "tarvik/ox/host/ox_host.h"

namespace tarvik {
namespace ox {

class pm_exception : public std::exception {
 public:
  explicit pm_exception(ox_error_e code) noexcept : error(code) {}
  pm_exception(const pm_exception&) noexcept = default;
  pm_exception& operator=(const pm_exception&) noexcept = default;
  ~pm_exception() override;

  ox_error_e code() const noexcept { return error; }

  ox_error_e error;
};

// A short name for a code: "OX_ERROR_NOT_FOUND" and the like, or
// "host error" for a code this library does not know. Never null.
const char* error_name(ox_error_e code) noexcept;

}  // namespace ox
}  // namespace tarvik

#endif  // TARVIK_OX_PM_EXCEPTION_HPP_

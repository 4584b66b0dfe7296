#include "tarvik/ox/pm_exception.hpp"

namespace tarvik {
namespace ox {

pm_exception::~pm_exception() = default;

const char* error_name(ox_error_e code) noexcept {
  switch (static_cast<int>(code)) {
    case OX_OK:
      return "OX_OK";
    case OX_ERROR_INVALID_ARGUMENT:
      return "OX_ERROR_INVALID_ARGUMENT";
    case OX_ERROR_UNEXPECTED:
      return "OX_ERROR_UNEXPECTED";
    case OX_ERROR_NOT_FOUND:
      return "OX_ERROR_NOT_FOUND";
    case OX_ERROR_IO:
      return "OX_ERROR_IO";
    case OX_ERROR_PARSE:
      return "OX_ERROR_PARSE";
    case OX_ERROR_OUT_OF_MEMORY:
      return "OX_ERROR_OUT_OF_MEMORY";
    case OX_ERROR_LIMIT_EXCEEDED:
      return "OX_ERROR_LIMIT_EXCEEDED";
  }
  return "host error";
}

}  // namespace ox
}  // namespace tarvik

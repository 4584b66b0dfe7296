// The six managers, wired as a host wires them, through the library's own
// helper; the members keep the names the tests use.
#ifndef TARVIK_OX_TESTS_SUPPORT_WIRED_MANAGERS_HPP_
#define TARVIK_OX_TESTS_SUPPORT_WIRED_MANAGERS_HPP_

#include <memory>
#include <string>
#include <utility>

#include "tarvik/ox/ox.hpp"

namespace tarvik {
namespace ox_test {

struct wired_managers : ox::managers {
  explicit wired_managers(ox_context_s* context, const std::string& platform = {})
      : ox::managers(ox::make_managers(context, platform)) {}
  wired_managers(ox_context_s* context, std::shared_ptr<ox::package_spec_manager> catalog)
      : ox::managers(ox::make_managers(context, std::move(catalog))) {}
};

}  // namespace ox_test
}  // namespace tarvik

#endif  // TARVIK_OX_TESTS_SUPPORT_WIRED_MANAGERS_HPP_

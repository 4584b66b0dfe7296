// The printers the C++ tests compare with. A resolved list: "id version
// state" per record, followed by its findings as " dep[id version
// version_text]" and " compat[id version version_text]". A log: one line per
// record as the case files write it, "<severity> <service> <source tag>
// <function>: <message>" (no line numbers).
#ifndef TARVIK_OX_TESTS_SUPPORT_DESCRIBE_HPP_
#define TARVIK_OX_TESTS_SUPPORT_DESCRIBE_HPP_

#include <cstdint>
#include <string>
#include <vector>

#include "tarvik/ox/software.hpp"
#include "tarvik/ox_refhost/logger.hpp"

namespace tarvik {
namespace ox_test {

inline std::vector<std::string> describe(const std::vector<ox::installing_software>& list) {
  std::vector<std::string> out;
  for (const ox::installing_software& r : list) {
    std::string line = r.id + " " + r.version.getversion() + " " +
                       std::to_string(static_cast<std::uint32_t>(r.state));
    for (const ox::software& f : r.failed_dependencies) {
      line += " dep[" + f.id + " " + f.version.getversion() + " " + f.version_text + "]";
    }
    for (const ox::software& f : r.failed_compatibilities) {
      line += " compat[" + f.id + " " + f.version.getversion() + " " + f.version_text + "]";
    }
    out.push_back(line);
  }
  return out;
}

inline std::vector<std::string> describe(const std::vector<ox_refhost::log_record>& log) {
  std::vector<std::string> out;
  for (const ox_refhost::log_record& r : log) {
    out.push_back(std::to_string(r.severity) + " " + r.service + " " + r.file + " " + r.function +
                  ": " + r.message);
  }
  return out;
}

}  // namespace ox_test
}  // namespace tarvik

#endif  // TARVIK_OX_TESTS_SUPPORT_DESCRIBE_HPP_

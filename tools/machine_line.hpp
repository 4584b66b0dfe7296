// One line of a machines file read into a machine: its id, its installed
// software and optionally its own request and platform, or why it cannot be
// read.
#ifndef TARVIK_OXPM_TOOLS_MACHINE_LINE_HPP_
#define TARVIK_OXPM_TOOLS_MACHINE_LINE_HPP_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "inputs.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace tarvik {
namespace oxpm {

// One machine as read: its id, its installed software and optionally its own
// request and platform; or why it could not be read.
struct machine_input {
  std::string id;
  std::vector<ox_refhost::installed_application> installed;
  std::optional<request> own_request;
  std::optional<std::string> platform;
  std::string error;  // non-empty: the machine is reported as unreadable
};

// One line of a machines file: {"machine": ID, "installed": [{"id",
// "version"}...], optionally "request" (as a request file) and "platform"}.
// `source` and `line_number` name it in messages (and the machine, "line N",
// when it has no id). A line that is no such object, or repeats a key in any
// of its objects, is a machine with its error set.
//
// A line of the common shape (a plain inventory, a request of strings) is
// read in one pass without building its document; any other line is read as
// read_machine_document reads it.
machine_input read_machine_line(const std::string& line, const std::string& source,
                                std::size_t line_number);

// The same line read as a whole document first, then checked key by key:
// what read_machine_line gives for every line (fuzz_fleet_line compares
// them), only slower.
machine_input read_machine_document(const std::string& line, const std::string& source,
                                    std::size_t line_number);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_MACHINE_LINE_HPP_

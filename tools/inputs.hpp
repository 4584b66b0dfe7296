// The tool's inputs: files read whole, the request (JSON file and
// ID=VERSION options). Every failure is an input_error whose message names
// the input and the reason, ready to be printed.
#ifndef TARVIK_OXPM_TOOLS_INPUTS_HPP_
#define TARVIK_OXPM_TOOLS_INPUTS_HPP_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "tarvik/ox/software.hpp"

namespace tarvik {
namespace oxpm {

class input_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Inputs larger than this are refused rather than read into memory.
inline constexpr std::size_t kMaxInputSize = 64u * 1024u * 1024u;
// Request documents nest two levels deep; anything far deeper is malformed.
inline constexpr int kMaxRequestDepth = 16;

// The whole content of `path`. Throws input_error "<path>: <reason>" when it
// cannot be read (missing, a directory, unreadable, larger than `max_size`).
std::string read_file(const std::string& path, std::size_t max_size = kMaxInputSize);

// One software named by the request. The version is kept as written; it is
// read as the library reads version texts only when handed over.
struct request_entry {
  std::string id;
  std::string version_text;
  std::string name;
};

struct request {
  std::vector<request_entry> install;
  std::vector<request_entry> uninstall;
};

// Reads {"install": [{"id": ..., "version": ...}...], "uninstall": [...]}.
// Both lists are optional; an entry needs a non-empty "id" and a "version"
// (strings) and may carry a "name"; other keys are refused so that a misspelt
// key is not silently ignored. `source` names the input in messages.
request parse_request_json(const std::string& text, const std::string& source);

// Reads "ID=VERSION" (split at the last "=": versions never hold one) as given
// to `option`. Throws input_error naming the option when it is malformed.
request_entry parse_assignment(const std::string& text, const std::string& option);

// The library's records of the entries, versions read from their texts.
std::vector<ox::software> to_software(const std::vector<request_entry>& entries);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_INPUTS_HPP_

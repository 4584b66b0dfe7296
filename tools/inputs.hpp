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

// The path that names standard input wherever the tool takes a file.
inline constexpr char kStandardInput[] = "-";

// How messages name an input: "standard input" for "-", else the path.
std::string input_name(const std::string& path);

// The whole content of `path` ("-": standard input). Throws input_error
// "<input name>: <reason>" when it cannot be read (missing, a directory,
// unreadable, larger than `max_size`).
std::string read_file(const std::string& path, std::size_t max_size = kMaxInputSize);

// What a version typed in a request must look like, for messages.
extern const char kVersionForm[];

// Whether `text` is a version as a request may give it: two to four
// dot-separated decimal pieces, each at most 4294967295. The catalog's
// version texts are read as the library reads them; what a person types is
// held to this form so that a typing mistake is not read as 0.0.0.0.
bool is_request_version(const std::string& text);

// One software named by the request. The version is kept as written (checked
// against the form above); it is read as the library reads version texts only
// when handed over. An uninstall entry may come without version.
struct request_entry {
  std::string id;
  std::string version_text;
  std::string name;
  bool has_version = true;
};

struct request {
  std::vector<request_entry> install;
  std::vector<request_entry> uninstall;
};

// Reads {"install": [{"id": ..., "version": ...}...], "uninstall": [...]}.
// Both lists are optional; an entry needs a non-empty "id" and may carry a
// "name"; an install entry needs a "version", an uninstall entry may omit it;
// every version must have the request form. Other keys are refused so that a
// misspelt key is not silently ignored. `source` names the input in messages.
request parse_request_json(const std::string& text, const std::string& source);

// How an option takes its entries.
enum class version_need { required, optional };

// Reads "ID=VERSION" (split at the last "=": versions never hold one) as given
// to `option`, or "ID" alone when the version is optional. Throws input_error
// quoting the text and naming the option when it is malformed.
request_entry parse_assignment(const std::string& text, const std::string& option,
                               version_need need = version_need::required);

// The request a command line asks for: the entries of the request file (none
// when `file` is empty; "-" reads standard input), then the --install
// assignments (ID=VERSION), then the --uninstall ones (ID or ID=VERSION), in
// that order. Throws input_error naming the input; an empty request is left
// for the caller to judge.
request read_request(const std::string& file, const std::vector<std::string>& installs,
                     const std::vector<std::string>& uninstalls);

// The library's records of the entries, versions read from their texts (an
// entry without version gets an empty text).
std::vector<ox::software> to_software(const std::vector<request_entry>& entries);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_INPUTS_HPP_

// A line of an `oxpm fleet` machines file on any bytes: the single pass that
// reads the common lines and the document reader that every other line goes
// to give the same machine (id, inventory, request, platform, or the same
// message), so that the pass changes nothing but the time a line takes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "machine_line.hpp"

namespace {

using tarvik::ox_fuzz::require;
using tarvik::oxpm::machine_input;
using tarvik::oxpm::request_entry;

bool same_entries(const std::vector<request_entry>& a, const std::vector<request_entry>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].id != b[i].id || a[i].version_text != b[i].version_text || a[i].name != b[i].name ||
        a[i].has_version != b[i].has_version) {
      return false;
    }
  }
  return true;
}

bool same(const machine_input& a, const machine_input& b) {
  if (a.id != b.id || a.error != b.error || a.platform != b.platform ||
      a.own_request.has_value() != b.own_request.has_value()) {
    return false;
  }
  if (a.installed != b.installed) {
    return false;
  }
  return !a.own_request || (same_entries(a.own_request->install, b.own_request->install) &&
                            same_entries(a.own_request->uninstall, b.own_request->uninstall));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line = tarvik::ox_fuzz::as_text(data, size);
  const machine_input fast = tarvik::oxpm::read_machine_line(line, "m.jsonl", 7);
  const machine_input whole = tarvik::oxpm::read_machine_document(line, "m.jsonl", 7);
  require(same(fast, whole), "both readings of a machine line give the same machine");
  require(!fast.id.empty(), "a machine always has a name");
  return 0;
}

// The case-file reader on any bytes: it either refuses them with a message
// that names the file and a line, or reads a case that, written back, reads
// back the same and is written the same again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "case_file.hpp"
#include "fuzz_support.hpp"

namespace {

using tarvik::ox_fuzz::require;
using tarvik::oxpm::case_file;

bool same(const case_file& a, const case_file& b) {
  if (a.description != b.description || a.sections.size() != b.sections.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.sections.size(); ++i) {
    if (a.sections[i].kind != b.sections[i].kind ||
        a.sections[i].argument != b.sections[i].argument ||
        a.sections[i].body != b.sections[i].body) {
      return false;
    }
  }
  return a.inputs.platform == b.inputs.platform && a.inputs.catalogs == b.inputs.catalogs &&
         a.inputs.installed == b.inputs.installed &&
         a.inputs.legacy_dependency_checks == b.inputs.legacy_dependency_checks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = tarvik::ox_fuzz::as_text(data, size);
  case_file c;
  try {
    c = tarvik::oxpm::parse_case(text, "f.case");
  } catch (const tarvik::oxpm::input_error& error) {
    const std::string message = error.what();
    require(message.compare(0, 7, "f.case:") == 0 && message.size() > 7 && message[7] >= '0' &&
                message[7] <= '9',
            "a refusal names the file and the line");
    return 0;
  }
  const std::string written = tarvik::oxpm::write_case(c);
  case_file again;
  try {
    again = tarvik::oxpm::parse_case(written, "f.case");
  } catch (const tarvik::oxpm::input_error&) {
    require(false, "a case written back reads again");
  }
  require(same(c, again), "a case written back reads the same");
  require(tarvik::oxpm::write_case(again) == written, "a case is written the same again");
  return 0;
}

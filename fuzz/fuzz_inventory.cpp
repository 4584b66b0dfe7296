// The reference host's inventory readers, the JSON inventory and the dpkg
// status database, on the same input: each either reads a list whose texts
// can pass through the C interface whole, or fails with a parse or limit code,
// a message and an empty list. A list that was read, written back in the
// reader's own format, reads back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace {

using tarvik::ox_fuzz::require;
using tarvik::ox_refhost::installed_application;

bool has_control(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      return true;
    }
  }
  return false;
}

void check_outcome(ox_error_e code, const std::vector<installed_application>& applications,
                   const std::string& error) {
  if (code != OX_OK) {
    require(code == OX_ERROR_PARSE || code == OX_ERROR_LIMIT_EXCEEDED,
            "a reader fails with a parse or limit code");
    require(applications.empty(), "a failed read yields no application");
    require(!error.empty(), "a failed read says why");
    return;
  }
  for (const installed_application& application : applications) {
    require(!application.id.empty(), "every application has an id");
    require(!has_control(application.id), "no control character in an id");
    require(!application.version.has_value() || !has_control(*application.version),
            "no control character in a version");
  }
}

void append_json_string(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += c;
    }
  }
  out += '"';
}

std::string as_inventory_json(const std::vector<installed_application>& applications) {
  std::string out = "[";
  for (std::size_t i = 0; i < applications.size(); ++i) {
    out += i == 0 ? "" : ",";
    out += "{\"id\":";
    append_json_string(out, applications[i].id);
    out += ",\"version\":";
    if (applications[i].version.has_value()) {
      append_json_string(out, *applications[i].version);
    } else {
      out += "null";
    }
    out += '}';
  }
  out += ']';
  return out;
}

std::string as_dpkg_status(const std::vector<installed_application>& applications) {
  std::string out;
  for (const installed_application& application : applications) {
    out += "Package: " + application.id + "\nStatus: install ok installed\n";
    if (application.version.has_value()) {
      out += "Version: " + *application.version + "\n";
    }
    out += "\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = tarvik::ox_fuzz::as_text(data, size);

  {
    std::vector<installed_application> applications;
    std::string error;
    const ox_error_e code = tarvik::ox_refhost::parse_inventory_json(text, applications, error);
    check_outcome(code, applications, error);
    if (code == OX_OK) {
      std::vector<installed_application> again;
      require(tarvik::ox_refhost::parse_inventory_json(as_inventory_json(applications), again,
                                                       error) == OX_OK,
              "an inventory written back reads again");
      require(again == applications, "an inventory written back reads the same");
    }
  }

  {
    std::vector<installed_application> applications;
    std::string error;
    const ox_error_e code = tarvik::ox_refhost::parse_dpkg_status(text, applications, error);
    check_outcome(code, applications, error);
    if (code == OX_OK) {
      for (const installed_application& application : applications) {
        require(application.id.front() != ' ' && application.id.back() != ' ',
                "values are read without surrounding blanks");
      }
      std::vector<installed_application> again;
      require(tarvik::ox_refhost::parse_dpkg_status(as_dpkg_status(applications), again, error) ==
                  OX_OK,
              "a status database written back reads again");
      require(again == applications, "a status database written back reads the same");
    }
  }
  return 0;
}

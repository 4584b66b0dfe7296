// The Python module `oxpm`: what a fleet job on a distributed engine needs
// from the tool, in one process that loads the catalog once and resolves
// machine after machine against it. The lines and the summary are those of
// `oxpm fleet --format json`, made by the same code.
//
//   catalog = oxpm.Catalog(["catalog.xml"], platform="linux-x64")
//   line = catalog.resolve(installed, request)         # one machine's JSON line
//   line = catalog.resolve_line(text, request=common)  # a machines file's line
//   summary = oxpm.Summary(); summary.add(line); summary.json()
//
// Everything runs with the interpreter's lock held: one resolution at a time
// in a process, as a Dask worker process with one thread runs its tasks.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fleet.hpp"
#include "inputs.hpp"
#include "tarvik/ox_refhost/store.hpp"

namespace py = pybind11;
using tarvik::oxpm::catalogs;
using tarvik::oxpm::fleet_summary;
using tarvik::oxpm::input_error;
using tarvik::oxpm::machine_input;
using tarvik::oxpm::machine_resolver;
using tarvik::oxpm::request;
using json = nlohmann::ordered_json;

namespace {

// A JSON document given as its text or as Python objects (dicts, lists, str).
std::string json_text(const py::handle& value) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value)) {
    return value.cast<std::string>();
  }
  return py::module_::import("json").attr("dumps")(value).cast<std::string>();
}

json json_value(const py::handle& value, const char* what) {
  try {
    return json::parse(json_text(value));
  } catch (const json::exception& error) {
    throw py::value_error(std::string(what) + ": not JSON: " + error.what());
  }
}

std::optional<request> read_request(const py::object& value, const std::string& source) {
  if (value.is_none()) {
    return std::nullopt;
  }
  try {
    return tarvik::oxpm::parse_request_json(json_text(value), source);
  } catch (const input_error& error) {
    throw py::value_error(error.what());
  }
}

class catalog {
 public:
  catalog(const std::vector<std::string>& files, const std::string& platform) {
    std::vector<std::pair<std::string, std::string>> documents;
    for (const std::string& file : files) {
      try {
        documents.emplace_back(file, tarvik::oxpm::read_file(file));
      } catch (const input_error& error) {
        throw py::value_error(std::string("catalog ") + error.what());
      }
    }
    if (documents.empty()) {
      throw py::value_error("a catalog needs at least one document");
    }
    catalogs_ = std::make_unique<catalogs>(std::move(documents), platform);
    load(std::string());  // the default platform's catalog, now
  }

  std::string platform() const { return catalogs_->default_platform(); }

  std::string resolve(const py::object& installed, const py::object& asked,
                      const std::optional<std::string>& platform, const std::string& machine,
                      bool all) {
    machine_input input;
    input.id = machine;
    std::string error;
    if (tarvik::ox_refhost::parse_inventory_json(json_text(installed), input.installed, error) !=
        OX_OK) {
      throw py::value_error("installed: " + error);
    }
    input.own_request = read_request(asked, "request");
    input.platform = platform;
    load(platform.value_or(std::string()));
    return line(std::move(input), std::nullopt, all);
  }

  std::string resolve_line(const std::string& text, const py::object& common,
                           const std::string& source, std::size_t line_number, bool all) {
    machine_input input = tarvik::oxpm::read_machine_line(text, source, line_number);
    if (input.error.empty()) {
      load(input.platform.value_or(std::string()));
    }
    // The common request is the same for every line of a fleet: read once.
    const std::optional<std::string> common_text =
        common.is_none() ? std::nullopt : std::optional<std::string>(json_text(common));
    if (common_text != common_text_) {
      common_ = std::nullopt;
      common_text_ = std::nullopt;
      if (common_text) {
        common_ = read_request(py::str(*common_text), "request");
      }
      common_text_ = common_text;
    }
    return line(std::move(input), common_, all);
  }

 private:
  void load(const std::string& platform) {
    try {
      catalogs_->get(platform);
    } catch (const input_error& error) {
      throw py::value_error(error.what());
    }
  }

  std::string line(machine_input input, const std::optional<request>& common, bool all) {
    // A machine id that is not UTF-8 is written with replacement characters,
    // as oxpm fleet writes it, rather than raising.
    return tarvik::oxpm::fleet_line(resolver_, *catalogs_, std::move(input), common, all)
        .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }

  std::unique_ptr<catalogs> catalogs_;
  machine_resolver resolver_;
  std::optional<std::string> common_text_;
  std::optional<request> common_;
};

}  // namespace

PYBIND11_MODULE(oxpm, m) {
  m.doc() =
      "Resolve machines against a catalog loaded once, as `oxpm fleet` does, and summarise them.";

  py::class_<catalog>(m, "Catalog")
      .def(py::init<const std::vector<std::string>&, const std::string&>(), py::arg("files"),
           py::arg("platform") = std::string(),
           "Loads the catalog documents (in order) for `platform`. Raises ValueError when a "
           "document cannot be read or loaded.")
      .def_property_readonly("platform", &catalog::platform)
      .def("resolve", &catalog::resolve, py::arg("installed"), py::arg("request"),
           py::arg("platform") = py::none(), py::arg("machine") = std::string("machine"),
           py::arg("all") = false,
           "The JSON line of one machine as `oxpm fleet --format json` writes it. `installed` "
           "is [{\"id\", \"version\"}...] and `request` {\"install\": [...], \"uninstall\": "
           "[...]}, as Python objects or JSON text. Raises ValueError on malformed input.")
      .def("resolve_line", &catalog::resolve_line, py::arg("line"), py::arg("request") = py::none(),
           py::arg("source") = std::string("machines"), py::arg("line_number") = 1,
           py::arg("all") = false,
           "The JSON line `oxpm fleet --format json` writes for one line of a machines file; "
           "`request` is for a machine without its own. A broken line gives an input_error "
           "line, as in the tool.");

  py::class_<fleet_summary>(m, "Summary")
      .def(py::init<>())
      .def(
          "add",
          [](fleet_summary& summary, const py::object& line) {
            summary.add(json_value(line, "line"));
          },
          py::arg("line"), "Adds one machine's line (JSON text or dict), in input order.")
      .def_property_readonly("machines", &fleet_summary::machines)
      .def_property_readonly("ok", &fleet_summary::ok)
      .def(
          "json", [](const fleet_summary& summary) { return summary.to_json().dump(); },
          "The summary line of `oxpm fleet --format json`.")
      .def("text", &fleet_summary::to_text, "The summary of `oxpm fleet` in text.");

  m.def(
      "check_request",
      [](const py::object& value, const std::string& source) { read_request(value, source); },
      py::arg("request"), py::arg("source") = std::string("request"),
      "Raises ValueError, naming `source`, when `request` is not a request as the tool reads "
      "it.");
  m.def(
      "text_line",
      [](const py::object& line) {
        return tarvik::oxpm::fleet_text_line(json_value(line, "line"));
      },
      py::arg("line"), "A machine's line as `oxpm fleet` writes it in text.");
}

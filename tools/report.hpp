// The two renderings of a resolution: a JSON object for programs, and a
// report that a person reads at once.
#ifndef TARVIK_OXPM_TOOLS_REPORT_HPP_
#define TARVIK_OXPM_TOOLS_REPORT_HPP_

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analysis.hpp"
#include "session.hpp"
#include "style.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/software.hpp"

namespace tarvik {
namespace oxpm {

// The names of the state bits that are set, lowest bit first.
std::vector<std::string> state_names(ox::software_state state);

// The verdict on a resolution, for scripts: "ok", or what keeps the request
// from being carried out as asked: "obsolete", "unmet_dependency" or
// "incompatible" (the install entry that stopped the walk), then
// "broken_dependents" (installed software that stays but loses a
// dependency), "not_resolved" (requested entries without catalog entry),
// "conflicted", and "incompatible" when the library says so for another
// reason. "ok" exactly when the exit status is 0.
const char* outcome_of(const resolution& result, const analysis& facts);

// {"schema_version": n, "outcome": ..., "ok": b, "resolved": [...],
//  "incompatible": b, "conflicted": b, "not_resolved": [...]}; the fields are
// described by docs/schema/resolve.schema.json. `specs` is the catalog the
// resolution ran against: it names the catalog entry of each finding. With
// `touched` (touched_installed's answer), "resolved" holds only the records
// the request touches, as the compact report lists them: the installed
// records it marks, and every record past its end.
nlohmann::ordered_json resolution_json(const resolution& result, const analysis& facts,
                                       const ox::package_spec_manager& specs,
                                       const std::vector<bool>* touched = nullptr);
// The object as text (dump_json).
std::string render_json(const resolution& result, const analysis& facts,
                        const ox::package_spec_manager& specs);

struct text_options {
  std::string platform;
  style look;
  // List every installed software that stays; otherwise only what the
  // request touches (touched_installed), and a count for the rest.
  bool all = false;
};

std::string render_text(const resolution& result, const analysis& facts,
                        const ox::package_spec_manager& specs, const text_options& options);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_REPORT_HPP_

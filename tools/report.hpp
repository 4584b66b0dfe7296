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

// {"resolved": [...], "incompatible": b, "conflicted": b, "not_resolved": [...]}
nlohmann::ordered_json resolution_json(const resolution& result, const analysis& facts);
// The object as text, with a final newline; bytes that are not UTF-8 are
// replaced, so the output is always valid JSON.
std::string render_json(const resolution& result, const analysis& facts);

struct text_options {
  std::string platform;
  style look;
};

std::string render_text(const resolution& result, const analysis& facts,
                        const ox::package_spec_manager& specs, const text_options& options);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_REPORT_HPP_

// The catalog entry that the look-ups return for an id (and a
// version), with its relations.
#ifndef TARVIK_OXPM_TOOLS_SHOW_HPP_
#define TARVIK_OXPM_TOOLS_SHOW_HPP_

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "style.hpp"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/spec.hpp"

namespace tarvik {
namespace oxpm {

struct show_result {
  bool found = false;
  std::string text;
};

// With a version, the entry that find returns for the id and version;
// without, the one find_id returns. Not found: a message that says so and,
// when entries answer to the id for other versions, which versions they cover.
show_result show_entry(const ox::package_spec_manager& specs, const std::string& id,
                       const std::optional<std::string>& version_text, const style& look);

// The same answer as a JSON document (docs/schema/show.schema.json).
nlohmann::ordered_json show_json(const ox::package_spec_manager& specs, const std::string& id,
                                 const std::optional<std::string>& version_text);

// One entry and its relations, as show prints it.
std::string render_spec(const ox::software_spec& spec, const style& look);

const char* action_name(ox::conflict_action action);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_SHOW_HPP_

// A resolution as a Graphviz DOT graph: the installed software and the
// install request as nodes, the relations that the walk judged as edges, the
// failed ones highlighted, so that a person can see why a request fails.
#ifndef TARVIK_OXPM_TOOLS_GRAPH_HPP_
#define TARVIK_OXPM_TOOLS_GRAPH_HPP_

#include <string>

#include "analysis.hpp"
#include "session.hpp"
#include "tarvik/ox/package_spec_manager.hpp"

namespace tarvik {
namespace oxpm {

// Installed software that the request does not touch (touched_installed)
// is drawn only with `every_installed`; otherwise one node counts it.
std::string render_dot(const resolution& result, const analysis& facts,
                       const ox::package_spec_manager& specs, const std::string& platform,
                       bool every_installed = false);

// The text as the body of a DOT quoted string: quotes and backslashes
// escaped, control characters written as \xNN, bytes that are not UTF-8
// replaced by "?".
std::string dot_escape(const std::string& text);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_GRAPH_HPP_

// Which installed software a request touches. On a real machine a request
// involves a handful of the hundreds of packages installed; the text report
// and the graph show those, and a count stands for the rest.
#ifndef TARVIK_OXPM_TOOLS_TOUCHED_HPP_
#define TARVIK_OXPM_TOOLS_TOUCHED_HPP_

#include <cstddef>
#include <string>
#include <vector>

#include "analysis.hpp"
#include "session.hpp"
#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox/package_spec_manager.hpp"
#include "tarvik/ox/software.hpp"

namespace tarvik {
namespace oxpm {

// Per installed record of the resolved list (by index): whether the request
// touches it. It does when it removes or replaces the record, when it leaves
// it broken, and when a relation of a requested entry reaches it: as the
// walk judged it (the entry that decided, and the entries passed over as
// marked for removal), or, for an entry the walk did not examine, the first
// record that answers to the relation. The relations of the requested
// entries reach what earlier requested entries bring, so what they reach
// through the request is reached as well; the relations of installed
// software are not followed, as the walk does not follow them either.
//
// `literals`, the host's description of patterns (may be null), narrows the
// records a relation's pattern is tested against; the answer is the same
// without it.
std::vector<bool> touched_installed(const resolution& result, const analysis& facts,
                                    const ox::package_spec_manager& specs,
                                    const ox_regex_literals_s* literals = nullptr);

// The index in `resolved` of the first record that answers to `sref` (its
// catalog entry's softwareids pattern matches the record's id), -1 when
// none does. `known` tells whether a catalog entry answers to `sref` at all.
int first_answering(const ox::package_spec_manager& specs,
                    const std::vector<ox::installing_software>& resolved, const std::string& sref,
                    bool& known);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_TOUCHED_HPP_

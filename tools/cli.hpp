// The oxpm command line: resolve, graph, lint, show and fleet.
#ifndef TARVIK_OXPM_TOOLS_CLI_HPP_
#define TARVIK_OXPM_TOOLS_CLI_HPP_

#include <ostream>

namespace tarvik {
namespace oxpm {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitProblem = 1;  // the request, or the catalog, has a problem
inline constexpr int kExitUsage = 2;    // bad arguments or an input that cannot be read
inline constexpr int kExitLibrary = 3;  // the library threw pm_exception

// What the tool needs to know about where it runs.
struct environment {
  bool stdout_is_terminal = false;
  // fleet draws its progress bar on a terminal only.
  bool stderr_is_terminal = false;
  const char* no_color = nullptr;  // NO_COLOR's value, null when unset
  // The process exits when run returns: the catalog and the managers are
  // left to the exit (see leave_to_exit) rather than freed.
  bool exits_after_run = false;
};

// Runs one command line; reports go to `out`, messages and --log - to `err`.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
        const environment& env);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_CLI_HPP_

// One resolution as `oxpm resolve` runs it, from inputs held in memory, and
// the replay of case files: run again, compare with what the case expects,
// or rewrite the expectations.
#ifndef TARVIK_OXPM_TOOLS_REPLAY_HPP_
#define TARVIK_OXPM_TOOLS_REPLAY_HPP_

#include <string>
#include <vector>

#include "case_file.hpp"
#include "session.hpp"
#include "style.hpp"
#include "tarvik/ox_refhost/logger.hpp"

namespace tarvik {
namespace oxpm {

enum class report_kind { json, text, graph };

// What resolve (json, text) or graph writes for a resolution of `host`.
// `all`: every installed software, not only what the request touches.
// `exit_status`, when given, receives kExitOk or kExitProblem as the outcome
// says (the JSON verdict and the exit status come from the one judgement).
std::string render_report(const session& host, const resolution& result, report_kind kind,
                          const std::string& platform, const style& look, bool all,
                          int* exit_status = nullptr);

// Resolves the request on a session whose catalog and installed software are
// loaded. Returns kExitOk, or kExitLibrary with `message` saying why when the
// library throws.
int resolve_request(session& host, const request& asked, resolution& result, std::string& message);

// A log record as a case file holds it: format_log_line without the line.
std::string case_log_line(const ox_refhost::log_record& record);

// What a case's run gives, as the tool would write it.
struct case_run {
  int exit = 0;
  std::string message;  // why, for the exit statuses 2 and 3
  std::string json;
  std::string log;
  std::string text;   // when asked for
  std::string graph;  // when asked for
};

struct case_run_options {
  // false: the catalog manager's and the dependency manager's plain walks.
  bool indexed = true;
  bool text = false;
  bool graph = false;
};

case_run run_case(const case_inputs& inputs, const case_run_options& options);

// The expect sections of the case as this run gives them: exit, json and log,
// then text, graph, lint and each show that the case holds (text and graph
// from `run`, lint and show run here).
std::vector<case_section> expectations(const case_file& c, const case_run& run);

// Replays the case and compares every expect section present: empty when all
// match, else one paragraph per differing section, naming `name`, the
// section, and the first differing record or line with both sides.
std::string compare_case(const case_file& c, const std::string& name,
                         const case_run_options& options = case_run_options());

// The case with its expect sections as this replay gives them; description
// and inputs as they are.
case_file updated_case(const case_file& c);

}  // namespace oxpm
}  // namespace tarvik

#endif  // TARVIK_OXPM_TOOLS_REPLAY_HPP_

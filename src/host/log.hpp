// How the library writes a log line: the logger is fetched from the context
// anew for every line and handed to the host's ox_log with the service
// "pm_service". Neither result is tested, so logging never changes the course
// of an operation. Formats are always the library's own literals.
#ifndef TARVIK_OX_SRC_HOST_LOG_HPP_
#define TARVIK_OX_SRC_HOST_LOG_HPP_

#include "tarvik/ox/host/ox_logger.h"
#include "tarvik/ox/host/ox_utils.h"

namespace tarvik {
namespace ox {
namespace internal {

inline constexpr char kService[] = "pm_service";

// The source tags of the four writers.
inline constexpr char kTagPackageManager[] = "ox_package_manager";
inline constexpr char kTagDependencyManager[] = "ox_software_dependency_manager";
inline constexpr char kTagSpecManager[] = "ox_software_package_spec_manager";
inline constexpr char kTagSoftwareDatabase[] = "ox_system_software_database_manager";

// The blank separator line: ox_log with the empty format.
inline void log_blank(ox_context_s* context, const char* source_tag, int line,
                      const char* function) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
  ox_log(ox_context_get_object_info(context, OX_OBJECT_LOGGER), OX_LOG_SEVERITY_PROGRESS, kService,
         source_tag, line, function, "");
#pragma GCC diagnostic pop
}

}  // namespace internal
}  // namespace ox
}  // namespace tarvik

// OX_LOG(context, severity, source_tag, function, format, values...)
#define OX_LOG(context, severity, source_tag, function, ...)                      \
  ::ox_log(::ox_context_get_object_info((context), OX_OBJECT_LOGGER), (severity), \
           ::tarvik::ox::internal::kService, (source_tag), __LINE__, (function), __VA_ARGS__)

#define OX_LOG_BLANK(context, source_tag, function) \
  ::tarvik::ox::internal::log_blank((context), (source_tag), __LINE__, (function))

#endif  // TARVIK_OX_SRC_HOST_LOG_HPP_

/* Host logger (host library libox_logger). See ox_host.h for the conventions
 * of the family. */
#ifndef TARVIK_OX_HOST_OX_LOGGER_H_
#define TARVIK_OX_HOST_OX_LOGGER_H_

#include "tarvik/ox/host/ox_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The two severities the library writes. Lower is more severe. */
#define OX_LOG_SEVERITY_FAILURE 2
#define OX_LOG_SEVERITY_PROGRESS 5

#if defined(__GNUC__) || defined(__clang__)
#define OX_PRINTF_FORMAT(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define OX_PRINTF_FORMAT(fmt_index, first_arg)
#endif

/* Writes one log line. `logger` is the handle fetched from the context under
 * OX_OBJECT_LOGGER and may be null (the line is then dropped). `service` is
 * the writing service ("pm_service"), `file` the writer's source tag, `line`
 * and `function` where the line was written, `format` a printf-style format
 * whose values follow; the library only ever passes its own formats, never
 * data as a format. Returns OX_OK when the line was accepted; the library
 * ignores the result, so a failing logger never disturbs it.
 *
 * - **Passed**, in this order: the logger handle just fetched from the context
 *   (may be null); the severity, 2 (`OX_LOG_SEVERITY_FAILURE`) or 5
 *   (`OX_LOG_SEVERITY_PROGRESS`); the service `"pm_service"`; the writer's
 *   source tag (`"ox_package_manager"`, `"ox_software_dependency_manager"`,
 *   `"ox_software_package_spec_manager"`, `"ox_system_software_database_manager"`);
 *   the line of the logging statement in the library's source; the operation
 *   name (`"resolve"`, `"rescan"`, `"import"`, ...); a printf-style format and
 *   its values. Formats are the library's own literals, with `%s` (a non-null,
 *   NUL-terminated text) and `%d` (an `int`) only; the empty format `""` asks
 *   for a blank separator line. The values are ids, names, patterns and version
 *   texts from the request, the store and the catalog: any bytes but NUL,
 *   control characters included.
 * - **Relied on:** nothing. The result is ignored and a failed or dropped line
 *   changes nothing. The function must accept a null logger (no logger
 *   registered). It must not keep any of the pointers after it returns.
 *
 * Every line the library writes is listed in [embedding.md](embedding.md),
 * section 8. */
int ox_log(void* logger, int severity, const char* service, const char* file, int line,
           const char* function, const char* format, ...) OX_PRINTF_FORMAT(7, 8);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_LOGGER_H_ */

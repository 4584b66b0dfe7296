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
 * ignores the result, so a failing logger never disturbs it. */
int ox_log(void* logger, int severity, const char* service, const char* file, int line,
           const char* function, const char* format, ...) OX_PRINTF_FORMAT(7, 8);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_LOGGER_H_ */

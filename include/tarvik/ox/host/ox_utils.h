/* Host context services (host library libox_utils). See ox_host.h for the
 * conventions of the family. */
#ifndef TARVIK_OX_HOST_OX_UTILS_H_
#define TARVIK_OX_HOST_OX_UTILS_H_

#include "tarvik/ox/host/ox_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Key under which the host keeps its logger handle in the context. */
#define OX_OBJECT_LOGGER "ox.object.logger"

/* Returns the object that the host registered in `context` under `key`, or
 * null when there is none. `context` may be null (answer: null). The object
 * stays owned by the host; the library fetches it anew for every use and
 * never caches it.
 *
 * - **Passed:** the context handle exactly as the host gave it to the manager's
 *   constructor (null if the host gave null), and a key:
 *   - `OX_OBJECT_LOGGER` (`"ox.object.logger"`): before every log line, anew
 *     each time (the library never caches the logger);
 *   - `OX_OBJECT_REGEX_LITERALS` (`"ox.object.regex_literals"`): at the start
 *     of a catalog look-up and of an install-order check (or of a single
 *     step b) to d) called directly), to find the optional regular-expression
 *     capability (see `ox_regex_literals_s` below).
 * - **Relied on:** the object registered under the key, or null when there is
 *   none (or for a null context). The object stays the host's. The logger
 *   handle is passed to `ox_log` unchanged, null included. The function is
 *   called for every log line, several dozen times per resolution: keep it
 *   cheap. */
void* ox_context_get_object_info(ox_context_s* context, const char* key);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_UTILS_H_ */

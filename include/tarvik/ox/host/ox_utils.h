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
 * never caches it. */
void* ox_context_get_object_info(ox_context_s* context, const char* key);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_UTILS_H_ */

/* Host installed-application store (host library libox_configurator). See
 * ox_host.h for the conventions of the family. */
#ifndef TARVIK_OX_HOST_OX_REGISTRY_STORE_H_
#define TARVIK_OX_HOST_OX_REGISTRY_STORE_H_

#include "tarvik/ox/host/ox_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A store of installed applications, and one application it hands out.
 * Application handles belong to their store. */
typedef struct ox_registry_store_s ox_registry_store_s;
typedef struct ox_application_s ox_application_s;

/* Creates a store in *store (which must not be null). Returns OX_OK, or an
 * error code with *store left null. Where the store reads from is the host's
 * business.
 *
 * - **Passed:** the address of the library's store pointer, which is null.
 * - **Relied on:** nothing: the result is ignored, and the following
 *   `ox_registry_store_scan` gets whatever `*store` then holds and decides. Leave
 *   it null on failure and make the scan of a null store fail. The function takes
 *   no argument that says where to read: that is the host's business (the
 *   reference host's store sources, below). */
int ox_registry_store_create(ox_registry_store_s** store);

/* Reads the installed applications. Returns OX_OK, or the host's failure code
 * (for a null store: OX_ERROR_INVALID_ARGUMENT).
 *
 * - **Passed:** the store just created (null if the creation failed); called
 *   once.
 * - **Relied on:** `OX_OK` when the installed applications have been read. Any
 *   other code makes `rescan` (and `resolve`) throw `pm_exception` with it; the
 *   installed list of the database stays as it was, and nothing is logged. */
int ox_registry_store_scan(ox_registry_store_s* store);

/* The application after `previous` (null: the first), or null when there is
 * none left. The handle stays valid until the store is released. `store` may
 * be null (answer: null).
 *
 * - **Passed:** the scanned store and the previous answer (null for the first
 *   call).
 * - **Relied on:** the next application, or null when none is left. The order
 *   is the host's and becomes the order of the installed software in every
 *   result. An application listed twice gives two entries. Application handles
 *   stay valid until the store is released. */
const ox_application_s* ox_registry_store_get_next_application(ox_registry_store_s* store,
                                                               const ox_application_s* previous);

/* Frees the store and every application it handed out. `store` may be null.
 *
 * - **Passed:** the store, also when its creation failed (null then); called
 *   exactly once per `rescan`, also when the scan failed.
 * - **Relied on:** it frees the store and every application it handed out. The
 *   result is ignored. */
int ox_registry_store_release(ox_registry_store_s* store);

/* The application's software id, or null for a null application.
 *
 * - **Passed:** an application handle.
 * - **Relied on:** the software id, borrowed from the store. It is compared
 *   exactly (case-sensitive) with the ids of the request and the `sref` of the
 *   catalog, and matched against `softwareids` patterns. Null reads as the
 *   empty id. The ids `SHRSYNC_3000`, `KLX_____1000` and `ORQHOST_3000META` are
 *   always left out. */
const char* ox_application_get_software_id(const ox_application_s* application);

/* The application's version text, or null when it has none (or for a null
 * application).
 *
 * - **Passed:** an application handle.
 * - **Relied on:** the version text (`a.b.c.d`; read as [embedding.md](embedding.md)
 *   section 3 describes), borrowed from the store, or null when the application
 *   has none. An application whose version is null or empty is left out of the
 *   installed list. */
const char* ox_application_get_version(const ox_application_s* application);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_REGISTRY_STORE_H_ */

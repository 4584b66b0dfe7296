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
 * business. */
int ox_registry_store_create(ox_registry_store_s** store);

/* Reads the installed applications. Returns OX_OK, or the host's failure code
 * (for a null store: OX_ERROR_INVALID_ARGUMENT). */
int ox_registry_store_scan(ox_registry_store_s* store);

/* The application after `previous` (null: the first), or null when there is
 * none left. The handle stays valid until the store is released. `store` may
 * be null (answer: null). */
const ox_application_s* ox_registry_store_get_next_application(ox_registry_store_s* store,
                                                               const ox_application_s* previous);

/* Frees the store and every application it handed out. `store` may be null. */
int ox_registry_store_release(ox_registry_store_s* store);

/* The application's software id, or null for a null application. */
const char* ox_application_get_software_id(const ox_application_s* application);

/* The application's version text, or null when it has none (or for a null
 * application). */
const char* ox_application_get_version(const ox_application_s* application);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_REGISTRY_STORE_H_ */

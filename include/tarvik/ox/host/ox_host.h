/*
 * The host interface: the C functions that the host runtime provides and
 * that the oxpm library calls. The library reaches its platform only through
 * the functions declared in this header family; a host agent links its own
 * implementation, our tools and tests link the reference host runtime.
 *
 * Conventions, for every function of the family:
 *
 *  - Handles (ox_context_s, ox_xml_s, ox_xml_node_s, ox_regex_s,
 *    ox_registry_store_s, ox_application_s) are opaque. A handle is owned by
 *    whoever created it with an ox_*_create function and is freed with the
 *    matching ox_*_release function. Node handles belong to their document,
 *    application handles to their store: they are never released one by one
 *    and stay valid until their owner is released.
 *  - Strings passed in are NUL-terminated and borrowed for the duration of the
 *    call; the host copies what it keeps. Strings returned are owned by the
 *    handle they were read from and stay valid as long as that handle; the
 *    caller copies what it keeps.
 *  - A null handle is accepted wherever this header says "may be null"; the
 *    function then answers null, false or an error code and touches nothing.
 *    Release functions always accept null.
 *  - Functions that can fail return an ox_error_e: OX_OK (0) on success, any
 *    other value names the failure. The library passes host codes on to its
 *    caller unchanged, so a host may add codes of its own.
 *  - No function throws (these are C functions) and none keeps a pointer to
 *    caller memory after it returns, except where a function says so.
 *  - Every function may be called from any thread for handles that thread
 *    owns; the reference host additionally allows independent handles to be
 *    used on different threads at the same time.
 */
#ifndef TARVIK_OX_HOST_OX_HOST_H_
#define TARVIK_OX_HOST_OX_HOST_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Error codes. 0, 2, 3 and 12 are the codes the library itself produces, and
 * 102 when an import runs out of memory; the others are the reference host's
 * own and reach the caller unchanged through pm_exception when a host call
 * fails. A host may answer any other int, negative ones included. */
typedef enum ox_error_e {
  OX_OK = 0,
  OX_ERROR_INVALID_ARGUMENT = 2,
  OX_ERROR_UNEXPECTED = 3,
  OX_ERROR_NOT_FOUND = 12,
  /* a file or other input source could not be read */
  OX_ERROR_IO = 100,
  /* an input could be read but is malformed (bad XML, bad JSON, wrong shape) */
  OX_ERROR_PARSE = 101,
  /* the host ran out of memory */
  OX_ERROR_OUT_OF_MEMORY = 102,
  /* an input exceeds a limit the host states (size, depth, pattern length) */
  OX_ERROR_LIMIT_EXCEEDED = 103,
  /* with OX_ERROR_MIN_CODE_, make the enumeration hold every int a host may
   * return (C hosts commonly answer -1): a code outside an enumeration's
   * range would be undefined behaviour in C++ */
  OX_ERROR_MAX_CODE_ = 0x7FFFFFFF,
  OX_ERROR_MIN_CODE_ = -0x7FFFFFFF - 1
} ox_error_e;

/* The host context: the object registry a host hands to every manager. */
typedef struct ox_context_s ox_context_s;

#ifdef __cplusplus
} /* extern "C" */
#endif

#include "tarvik/ox/host/ox_logger.h"
#include "tarvik/ox/host/ox_regex.h"
#include "tarvik/ox/host/ox_registry_store.h"
#include "tarvik/ox/host/ox_utils.h"
#include "tarvik/ox/host/ox_xml.h"

#endif /* TARVIK_OX_HOST_OX_HOST_H_ */

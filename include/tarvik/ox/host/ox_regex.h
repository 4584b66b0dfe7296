/* Host regular-expression service (host library libox_msgbus). See ox_host.h
 * for the conventions of the family. */
#ifndef TARVIK_OX_HOST_OX_REGEX_H_
#define TARVIK_OX_HOST_OX_REGEX_H_

#include "tarvik/ox/host/ox_host.h"
#include "tarvik/ox/host/ox_utils.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One compiled pattern. */
typedef struct ox_regex_s ox_regex_s;

/* Compiles `pattern` into *regex (which must not be null and should be null
 * on entry). Returns OX_OK with *regex set, or an error code with *regex left
 * null when the pattern does not compile or exceeds the host's limits.
 *
 * - **Passed:** the pattern and the address of a handle variable set to null.
 * - **Relied on:** `OX_OK` with the handle set, or any other code with no
 *   handle (the library then releases nothing). A pattern that does not compile
 *   is no error for the library: it matches no id, and the entry can still be
 *   found by its `sref`. `OX_ERROR_OUT_OF_MEMORY` is no answer about the
 *   pattern: the look-up fails (`pm_exception` with `OX_ERROR_UNEXPECTED`, so
 *   a resolution fails with code 3) rather than miss an entry.
 *   `OX_ERROR_UNEXPECTED` is taken as passing trouble: the pattern matches
 *   nothing this time and is compiled again at the next test. Any other code is
 *   taken as final for that pattern. Refuse
 *   patterns that would cost unbounded time or memory. */
int ox_regex_create(const char* pattern, ox_regex_s** regex);

/* Non-zero when `text` matches the compiled pattern. The syntax and whether a
 * match must cover the whole text are the host's; the reference host requires
 * a match of the whole text, and answers 0 for a text past its stated length
 * limit. `regex` may be null (answer: 0).
 *
 * - **Passed:** a compiled pattern and an id.
 * - **Relied on:** non-zero when the id matches. The answer must be the same
 *   every time for the same pattern and text, since the library keeps answers in
 *   its indexes. Whether a match must cover the whole id is the host's choice,
 *   and it changes results: with partial matching the pattern `AGENT` also
 *   selects the ids `AGENT_OLD` and `MYAGENT`. The reference host requires a
 *   match of the whole id. */
uint8_t ox_regex_match(ox_regex_s* regex, const char* text);

/* Frees the compiled pattern. `regex` may be null.
 *
 * - **Passed:** a handle from `ox_regex_create`, once.
 * - **Relied on:** it frees the compiled pattern; the result is ignored. */
int ox_regex_release(ox_regex_s* regex);

/* Optional capability: what a pattern can match, told from its text alone.
 * A host that can tell registers an ox_regex_literals_s in the context under
 * OX_OBJECT_REGEX_LITERALS; the library then finds the entries that answer to
 * an id through indexes instead of testing every pattern in turn. Without it
 * every pattern is compiled and tested. The object stays owned by the host
 * and must stay valid, and its answers unchanged, while it is registered. */
#define OX_OBJECT_REGEX_LITERALS "ox.object.regex_literals"

/* Receives one top-level alternative of a described pattern: `length` bytes
 * at `text` (not NUL-terminated, holding no NUL). `exact` non-zero: the
 * alternative matches this text and nothing else; zero: every text the
 * alternative matches begins with this text. */
typedef void (*ox_regex_alternative_fn)(void* user, const char* text, size_t length, int exact);

/* The first field of an ox_regex_literals_s ("OXRL"). */
#define OX_REGEX_LITERALS_TAG 0x4F58524CU

typedef struct ox_regex_literals_s ox_regex_literals_s;
struct ox_regex_literals_s {
  /* OX_REGEX_LITERALS_TAG, and sizeof(ox_regex_literals_s) as the host was
   * compiled: the library uses the object only when both are right, so that
   * whatever else a host answers under this key is never called. */
  uint32_t tag;
  uint32_t size;
  /* Describes `pattern` as ox_regex_create and ox_regex_match treat it.
   * Returns non-zero when it could, having called `emit` once per
   * alternative: a text can then match only if it equals an exact
   * alternative or begins with one of the others. When every alternative is
   * exact (a plain alternation of literals), the pattern compiles and
   * ox_regex_match answers non-zero for exactly those texts. Returns 0 when
   * it cannot tell; alternatives emitted before are then void. Must be
   * callable from any thread. */
  int (*describe)(const ox_regex_literals_s* self, const char* pattern,
                  ox_regex_alternative_fn emit, void* user);
};

/* The capability registered in `context`, or null when there is none or the
 * object found under the key is not one (wrong tag, or smaller than this
 * interface's ox_regex_literals_s).
 *
 * Defined in `ox_regex.h` itself: nothing for a host to implement. The library
 * fetches the capability through it (with `ox_context_get_object_info`), and so
 * does `oxpm`. It answers the registered object only when its `tag` is
 * `OX_REGEX_LITERALS_TAG`, its `size` at least this interface's
 * `sizeof(ox_regex_literals_s)` and its `describe` not null; null otherwise. A
 * host whose context answers something else under this key (an object of its
 * own, or anything non-null for keys it does not know) is thus treated as a
 * host without the capability and never called through a wrong pointer. */
static inline const ox_regex_literals_s* ox_regex_literals_get(ox_context_s* context) {
  const ox_regex_literals_s* found =
      (const ox_regex_literals_s*)ox_context_get_object_info(context, OX_OBJECT_REGEX_LITERALS);
  if (found == NULL || found->tag != OX_REGEX_LITERALS_TAG ||
      found->size < sizeof(ox_regex_literals_s) || found->describe == NULL) {
    return NULL;
  }
  return found;
}

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_REGEX_H_ */

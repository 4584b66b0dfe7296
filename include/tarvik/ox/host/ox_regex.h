/* Host regular-expression service (host library libox_msgbus). See ox_host.h
 * for the conventions of the family. */
#ifndef TARVIK_OX_HOST_OX_REGEX_H_
#define TARVIK_OX_HOST_OX_REGEX_H_

#include "tarvik/ox/host/ox_host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One compiled pattern. */
typedef struct ox_regex_s ox_regex_s;

/* Compiles `pattern` into *regex (which must not be null and should be null
 * on entry). Returns OX_OK with *regex set, or an error code with *regex left
 * null when the pattern does not compile or exceeds the host's limits. */
int ox_regex_create(const char* pattern, ox_regex_s** regex);

/* Non-zero when `text` matches the compiled pattern. The syntax and whether a
 * match must cover the whole text are the host's; the reference host requires
 * a match of the whole text, and answers 0 for a text past its stated length
 * limit. `regex` may be null (answer: 0). */
uint8_t ox_regex_match(ox_regex_s* regex, const char* text);

/* Frees the compiled pattern. `regex` may be null. */
int ox_regex_release(ox_regex_s* regex);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TARVIK_OX_HOST_OX_REGEX_H_ */

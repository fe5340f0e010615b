/*
 * A stand-in for the invocation entry points a host will call: it takes a host value through
 * the Lean side the way a call would (host value to wire bytes, bytes to the Lean object the
 * compiled program receives, that object back to bytes, bytes to a new host value). Used by
 * examples/host_values.c until hosts can call compiled programs. C and C++.
 */
#ifndef QUARN_HOST_SHIM_H
#define QUARN_HOST_SHIM_H

#include <stddef.h>

#include "quarn/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Takes `value` of `type` through a Lean object and back. Returns a new host value, or null
 * with the reason in `message` (at most `size` bytes, NUL-terminated). Writes a short
 * description of the Lean object ("constructor tag 1 with 2 object fields and 0 scalar
 * bytes", "the scalar 2", ...) into `lean_form`. Borrows value and type.
 */
quarn_value *kit_through_lean(const quarn_value *value, const quarn_type *type, char *lean_form,
                              size_t lean_form_size, char *message, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_HOST_SHIM_H */

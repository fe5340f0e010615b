/*
 * quarn/startup.h: program start-up, initialization, panics and debugging.
 * Compiles as C11 and as C++.
 */
#ifndef QUARN_STARTUP_H
#define QUARN_STARTUP_H

#include "object.h"

QUARN_BEGIN_DECLS

/*
 * The Lean-level panic: prints the message string (and a backtrace unless LEAN_BACKTRACE
 * is "0") on the program's standard error and returns the default value, so that execution
 * goes on; aborts instead when LEAN_ABORT_ON_PANIC is set. Borrows default_value; consumes
 * message. Returns an owned reference to default_value.
 */
QUARN_API quarn_object *quarn_lean_panic_fn_borrowed(quarn_object *default_value,
                                                     quarn_object *message) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_STARTUP_H */

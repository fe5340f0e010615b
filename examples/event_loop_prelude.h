/*
 * What the event-loop examples share, as the compiled Lean prelude and `IO` would give it:
 * the value of an IO result (a failure ends the program with a message), the value an
 * event-loop promise was resolved with (IO.wait on its result, then Except.ok), and the
 * bytes of a string.
 */
#ifndef EXAMPLES_EVENT_LOOP_PRELUDE_H
#define EXAMPLES_EVENT_LOOP_PRELUDE_H

#include <stdio.h>
#include <stdlib.h>

#include <quarn/quarn.h>

/* The value of an ok IO result; the result is released. */
static inline quarn_object *prelude_io_value(quarn_object *result, const char *what) {
    if (quarn_obj_tag(result) != 0) {
        fprintf(stderr, "%s failed\n", what);
        exit(1);
    }
    quarn_object *v = quarn_ctor_get(result, 0);
    quarn_inc(v);
    quarn_dec(result);
    return v;
}

/* let r ← IO.wait promise.result?; r.get! then Except.ok v = r: the value an event-loop
 * promise was resolved with. Consumes promise. */
static inline quarn_object *prelude_await(quarn_object *promise, const char *what) {
    quarn_object *result = quarn_lean_io_promise_result_opt(promise);
    quarn_dec(promise);
    quarn_object *except = quarn_lean_option_get_or_block(quarn_lean_io_wait(result));
    if (quarn_obj_tag(except) != 1) {
        fprintf(stderr, "%s failed\n", what);
        exit(1);
    }
    quarn_object *v = quarn_ctor_get(except, 0);
    quarn_inc(v);
    quarn_dec(except);
    return v;
}

/* The NUL-terminated bytes of a string. Borrows s. */
static inline const char *prelude_text(quarn_object *s) { return ((quarn_string_object *)s)->data; }

/* The IP address of a socket address as text (ntop): an owned string. Borrows address. */
static inline quarn_object *prelude_address_text(quarn_object *address) {
    quarn_object *ip = quarn_ctor_get(quarn_ctor_get(address, 0), 0);
    quarn_object *text = quarn_obj_tag(address) == 0 ? quarn_lean_uv_ntop_v4(ip) : quarn_lean_uv_ntop_v6(ip);
    return prelude_io_value(text, "ntop");
}

#endif /* EXAMPLES_EVENT_LOOP_PRELUDE_H */

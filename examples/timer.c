/*
 * Timers as compiled code uses them: a repeating timer ticks five times (its first tick
 * comes at once), is stopped, and its next promise then reads as dropped; a one-shot timer
 * fires once and keeps handing out the same resolved promise.
 */
#include <stdio.h>
#include <stdlib.h>

#include <quarn/quarn.h>

#include "io_error_prelude.h"

static quarn_object *io_value(quarn_object *result) {
    if (quarn_obj_tag(result) != 0) {
        fprintf(stderr, "a timer operation failed\n");
        exit(1);
    }
    quarn_object *v = quarn_ctor_get(result, 0);
    quarn_inc(v);
    quarn_dec(result);
    return v;
}

static quarn_object *io_ok(quarn_object *v) {
    quarn_object *r = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(r, 0, v);
    return r;
}

/* IO.wait promise.result?: `some ()` when the timer fired, none when the promise was
 * dropped. Consumes promise. */
static int fired(quarn_object *promise) {
    quarn_object *result = quarn_lean_io_promise_result_opt(promise);
    quarn_dec(promise);
    quarn_object *option = quarn_lean_io_wait(result);
    int some = !quarn_is_scalar(option);
    quarn_dec(option);
    return some;
}

static quarn_object *lean_main(quarn_object *args) {
    quarn_dec(args);
    quarn_object *ticker = io_value(quarn_lean_uv_timer_mk(50, 1));
    quarn_object *start = io_value(quarn_lean_uv_hrtime());
    uint64_t started = quarn_unbox_uint64(start);
    quarn_dec(start);
    for (int tick = 1; tick <= 5; ++tick) {
        if (!fired(io_value(quarn_lean_uv_timer_next(ticker)))) return io_ok(quarn_box(1));
        printf("tick %d\n", tick);
    }
    quarn_object *now = io_value(quarn_lean_uv_hrtime());
    /* Four full periods separate the first tick from the fifth. */
    int long_enough = quarn_unbox_uint64(now) - started >= 4 * 50 * 1000000ull;
    quarn_dec(now);
    printf("five ticks took at least four periods: %s\n", long_enough ? "yes" : "no");
    quarn_object *pending = io_value(quarn_lean_uv_timer_next(ticker));
    quarn_dec(io_value(quarn_lean_uv_timer_stop(ticker)));
    printf("after stop the pending tick reads as %s\n", fired(pending) ? "fired" : "dropped");
    quarn_dec(ticker);

    quarn_object *once = io_value(quarn_lean_uv_timer_mk(30, 0));
    quarn_object *first = io_value(quarn_lean_uv_timer_next(once));
    quarn_object *again = io_value(quarn_lean_uv_timer_next(once));
    printf("one-shot: same promise twice: %s\n", first == again ? "yes" : "no");
    quarn_dec(again);
    printf("one-shot: %s\n", fired(first) ? "fired" : "dropped");
    quarn_dec(once);
    return io_ok(quarn_box(long_enough ? 0 : 1));
}

int main(int argc, char **argv) {
    prelude_register_io_errors();
    return (int)quarn_run_main(NULL, (void *)lean_main, 1, 1, argc - 1, argv + 1);
}

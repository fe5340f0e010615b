/*
 * Timers as compiled code uses them: a repeating timer ticks five times (its first tick
 * comes at once), is stopped, and its next promise then reads as dropped; a one-shot timer
 * fires once and keeps handing out the same resolved promise.
 */
#include <stdio.h>
#include <stdlib.h>

#include <quarn/quarn.h>

#include "event_loop_prelude.h"
#include "io_error_prelude.h"

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
    quarn_object *ticker = prelude_io_value(quarn_lean_uv_timer_mk(50, 1), "a timer operation");
    quarn_object *start = prelude_io_value(quarn_lean_uv_hrtime(), "a timer operation");
    uint64_t started = quarn_unbox_uint64(start);
    quarn_dec(start);
    for (int tick = 1; tick <= 5; ++tick) {
        if (!fired(prelude_io_value(quarn_lean_uv_timer_next(ticker), "a timer operation"))) return prelude_io_ok(quarn_box(1));
        printf("tick %d\n", tick);
    }
    quarn_object *now = prelude_io_value(quarn_lean_uv_hrtime(), "a timer operation");
    /* Four full periods separate the first tick from the fifth. */
    int long_enough = quarn_unbox_uint64(now) - started >= 4 * 50 * 1000000ull;
    quarn_dec(now);
    printf("five ticks took at least four periods: %s\n", long_enough ? "yes" : "no");
    quarn_object *pending = prelude_io_value(quarn_lean_uv_timer_next(ticker), "a timer operation");
    quarn_dec(prelude_io_value(quarn_lean_uv_timer_stop(ticker), "a timer operation"));
    printf("after stop the pending tick reads as %s\n", fired(pending) ? "fired" : "dropped");
    quarn_dec(ticker);

    quarn_object *once = prelude_io_value(quarn_lean_uv_timer_mk(30, 0), "a timer operation");
    quarn_object *first = prelude_io_value(quarn_lean_uv_timer_next(once), "a timer operation");
    quarn_object *again = prelude_io_value(quarn_lean_uv_timer_next(once), "a timer operation");
    printf("one-shot: same promise twice: %s\n", first == again ? "yes" : "no");
    quarn_dec(again);
    printf("one-shot: %s\n", fired(first) ? "fired" : "dropped");
    quarn_dec(once);
    return prelude_io_ok(quarn_box(long_enough ? 0 : 1));
}

int main(int argc, char **argv) {
    prelude_register_io_errors();
    return (int)quarn_run_main(NULL, (void *)lean_main, 1, 1, argc - 1, argv + 1);
}

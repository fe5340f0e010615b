/*
 * What the compiled Lean prelude contributes to the examples that print: IO.FS.Stream and
 * IO.FS.Stream.ofHandle, which the program exports to the runtime as lean_stream_of_handle.
 *
 * A stream is a tag-0 constructor of six closures: flush, read, write, getLine, putStr,
 * isTty. An IO action is a closure waiting for one more argument (the scalar 0) that runs
 * it. Each closure of a handle's stream holds the handle.
 */
#ifndef EXAMPLES_STREAM_PRELUDE_H
#define EXAMPLES_STREAM_PRELUDE_H

#include <quarn/quarn.h>

static inline quarn_object *prelude_io_ok(quarn_object *value) {
    quarn_object *r = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(r, 0, value);
    return r;
}

static inline quarn_object *prelude_flush(quarn_object *h, quarn_object *run) {
    (void)run;
    quarn_object *r = quarn_lean_io_prim_handle_flush(h);
    quarn_dec(h);
    return r;
}

static inline quarn_object *prelude_read(quarn_object *h, quarn_object *count) {
    quarn_object *r = quarn_lean_io_prim_handle_read(h, quarn_unbox_usize(count));
    quarn_dec(count);
    quarn_dec(h);
    return r;
}

static inline quarn_object *prelude_write(quarn_object *h, quarn_object *bytes) {
    quarn_object *r = quarn_lean_io_prim_handle_write(h, bytes);
    quarn_dec(h);
    return r;
}

static inline quarn_object *prelude_get_line(quarn_object *h, quarn_object *run) {
    (void)run;
    quarn_object *r = quarn_lean_io_prim_handle_get_line(h);
    quarn_dec(h);
    return r;
}

static inline quarn_object *prelude_put_str(quarn_object *h, quarn_object *text) {
    quarn_object *r = quarn_lean_io_prim_handle_put_str(h, text);
    quarn_dec(h);
    return r;
}

static inline quarn_object *prelude_is_tty(quarn_object *h, quarn_object *run) {
    (void)run;
    uint8_t tty = quarn_lean_io_prim_handle_is_tty(h);
    quarn_dec(h);
    return quarn_box(tty);
}

/* IO.FS.Stream.ofHandle, exported as lean_stream_of_handle. Consumes handle. */
static inline quarn_object *prelude_stream_of_handle(quarn_object *handle) {
    void *const code[6] = {(void *)prelude_flush,    (void *)prelude_read,
                           (void *)prelude_write,    (void *)prelude_get_line,
                           (void *)prelude_put_str,  (void *)prelude_is_tty};
    quarn_object *stream = quarn_alloc_ctor(0, 6, 0);
    quarn_inc_n(handle, 5);
    for (unsigned i = 0; i < 6; ++i) {
        quarn_object *action = quarn_alloc_closure(code[i], 2, 1);
        quarn_closure_set(action, 0, handle);
        quarn_ctor_set(stream, i, action);
    }
    return stream;
}

enum { PRELUDE_FLUSH, PRELUDE_READ, PRELUDE_WRITE, PRELUDE_GET_LINE, PRELUDE_PUT_STR, PRELUDE_IS_TTY };

/* Runs one action of a stream. Borrows stream; consumes argument. */
static inline quarn_object *prelude_stream_call(quarn_object *stream, unsigned action, quarn_object *argument) {
    quarn_object *f = quarn_ctor_get(stream, action);
    quarn_inc(f);
    return quarn_apply_1(f, argument);
}

/* IO.print. Consumes text. */
static inline quarn_object *prelude_print(quarn_object *text) {
    quarn_object *out = quarn_lean_get_stdout();
    quarn_object *r = prelude_stream_call(out, PRELUDE_PUT_STR, text);
    quarn_dec(out);
    return r;
}

#endif /* EXAMPLES_STREAM_PRELUDE_H */

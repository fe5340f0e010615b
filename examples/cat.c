/*
 * cat: copies a file given as argument, or standard input, to standard output line by
 * line. Lines are Lean strings, so bytes that are not UTF-8 come out as U+FFFD.
 *
 * Lean source, in spirit:
 *   partial def copy (from : IO.FS.Stream) : IO Unit := do
 *     let line ← from.getLine
 *     if line.isEmpty then return
 *     (← IO.getStdout).putStr line
 *     copy from
 *
 *   def main (args : List String) : IO UInt32 := do
 *     match args with
 *     | [] => copy (← IO.getStdin); return 0
 *     | [file] => copy (IO.FS.Stream.ofHandle (← IO.FS.Handle.mk file .read)); return 0
 *     | _ => IO.eprintln "usage: cat [FILE]"; return 2
 */
#include <stdio.h>
#include <string.h>

#include <quarn/quarn.h>

#include "io_error_prelude.h"

/* Copies until getLine returns the empty string. Borrows from. Returns the IO result. */
static quarn_object *copy(quarn_object *from) {
    quarn_object *out = quarn_lean_get_stdout();
    for (;;) {
        quarn_object *got = prelude_stream_call(from, PRELUDE_GET_LINE, quarn_box(0));
        if (!quarn_io_result_is_ok(got)) {
            quarn_dec(out);
            return got;
        }
        quarn_object *line = quarn_io_result_get(got);
        if (((quarn_string_object *)line)->size == 1) { /* the empty string: end of input */
            quarn_dec(got);
            quarn_dec(out);
            return prelude_io_ok(quarn_box(0));
        }
        quarn_inc(line);
        quarn_dec(got);
        quarn_object *written = prelude_stream_call(out, PRELUDE_PUT_STR, line);
        if (!quarn_io_result_is_ok(written)) {
            quarn_dec(out);
            return written;
        }
        quarn_dec(written);
    }
}

/* The result of main: ok(code) when copying succeeded, else its error. Consumes copied. */
static quarn_object *exit_code_after(quarn_object *copied, uint32_t code) {
    if (!quarn_io_result_is_ok(copied)) return copied;
    quarn_dec(copied);
    return prelude_io_ok(quarn_box(code));
}

static quarn_object *lean_main(quarn_object *args) {
    if (quarn_is_scalar(args)) {
        quarn_object *in = quarn_lean_get_stdin();
        quarn_object *copied = copy(in);
        quarn_dec(in);
        return exit_code_after(copied, 0);
    }
    if (!quarn_is_scalar(quarn_ctor_get(args, 1))) {
        quarn_dec(args);
        fputs("usage: cat [FILE]\n", stderr);
        return prelude_io_ok(quarn_box(2));
    }
    quarn_object *file = quarn_ctor_get(args, 0);
    quarn_inc(file);
    quarn_dec(args);
    quarn_object *opened = quarn_lean_io_prim_handle_mk(file, QUARN_MODE_READ);
    if (!quarn_io_result_is_ok(opened)) return opened;
    quarn_object *handle = quarn_io_result_get(opened);
    quarn_inc(handle);
    quarn_dec(opened);
    quarn_object *from = prelude_stream_of_handle(handle);
    quarn_object *copied = copy(from);
    quarn_dec(from);
    return exit_code_after(copied, 0);
}

int main(int argc, char **argv) {
    prelude_register_io_errors();
    return (int)quarn_run_main(NULL, (void *)lean_main, 1, 1, argc - 1, argv + 1);
}

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

#include "stream_prelude.h"

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

/* What an uncaught error prints: its text, as the program's IO.Error.toString makes it.
 * This program's IO.Error is a constructor holding the error number and the details. */
static quarn_object *make_error(quarn_object *file, uint32_t number, quarn_object *details) {
    quarn_object *e = quarn_alloc_ctor(0, 3, 0);
    quarn_ctor_set(e, 0, file);
    quarn_ctor_set(e, 1, quarn_box(number));
    quarn_ctor_set(e, 2, details);
    return e;
}
static quarn_object *error_with_file(quarn_object *file, uint32_t number, quarn_object *details) {
    return make_error(file, number, details);
}
static quarn_object *error_without_file(uint32_t number, quarn_object *details) {
    return make_error(quarn_box(0), number, details);
}
/* "details" or "file: details". */
static quarn_object *io_error_to_string(quarn_object *error) {
    quarn_object *file = quarn_ctor_get(error, 0);
    quarn_object *details = quarn_ctor_get(error, 2);
    quarn_object *text;
    if (quarn_is_scalar(file)) {
        quarn_inc(details);
        text = details;
    } else {
        quarn_object *colon = quarn_mk_string_unchecked(": ", 2, 2);
        quarn_inc(file);
        text = quarn_lean_string_append(quarn_lean_string_append(file, colon), details);
        quarn_dec(colon);
    }
    quarn_dec(error);
    return text;
}

int main(int argc, char **argv) {
    static const char *const with_file[] = {
        "lean_mk_io_error_already_exists_file", "lean_mk_io_error_inappropriate_type_file",
        "lean_mk_io_error_interrupted", "lean_mk_io_error_invalid_argument_file",
        "lean_mk_io_error_no_file_or_directory", "lean_mk_io_error_no_such_thing_file",
        "lean_mk_io_error_permission_denied_file", "lean_mk_io_error_resource_exhausted_file"};
    static const char *const without_file[] = {
        "lean_mk_io_error_already_exists", "lean_mk_io_error_hardware_fault",
        "lean_mk_io_error_illegal_operation", "lean_mk_io_error_inappropriate_type",
        "lean_mk_io_error_invalid_argument", "lean_mk_io_error_no_such_thing",
        "lean_mk_io_error_other_error", "lean_mk_io_error_permission_denied",
        "lean_mk_io_error_protocol_error", "lean_mk_io_error_resource_busy",
        "lean_mk_io_error_resource_exhausted", "lean_mk_io_error_resource_vanished",
        "lean_mk_io_error_time_expired", "lean_mk_io_error_unsatisfied_constraints",
        "lean_mk_io_error_unsupported_operation"};
    for (size_t i = 0; i < sizeof with_file / sizeof *with_file; ++i)
        quarn_register_export(with_file[i], (void *)error_with_file);
    for (size_t i = 0; i < sizeof without_file / sizeof *without_file; ++i)
        quarn_register_export(without_file[i], (void *)error_without_file);
    quarn_register_export("lean_io_error_to_string", (void *)io_error_to_string);
    quarn_register_export("lean_stream_of_handle", (void *)prelude_stream_of_handle);
    return (int)quarn_run_main(NULL, (void *)lean_main, 1, 1, argc - 1, argv + 1);
}

/*
 * run: starts `sh -c` with piped standard input and output, writes a text to it, reads all
 * it prints, waits for it and prints the exit code.
 *
 * Lean source, in spirit:
 *   def main : IO UInt32 := do
 *     let child ← IO.Process.spawn { cmd := "sh", args := #["-c", "tr a-z A-Z; exit 3"],
 *                                    stdin := .piped, stdout := .piped }
 *     child.stdin.putStr "hello from a child process\n"
 *     let (_, child) ← child.takeStdin
 *     let out ← child.stdout.readToEnd
 *     let code ← child.wait
 *     IO.print s!"{out}exit code: {code}\n"
 *     return 0
 */
#include <stdio.h>
#include <string.h>

#include <quarn/quarn.h>

#include "io_error_prelude.h"

static quarn_object *text(const char *s) { return quarn_mk_string_unchecked(s, strlen(s), strlen(s)); }

static quarn_object *spawn_arguments(void) {
    quarn_object *stdio = quarn_alloc_ctor(0, 0, 3);
    quarn_ctor_scalar_area(stdio)[0] = QUARN_STDIO_PIPED;
    quarn_ctor_scalar_area(stdio)[1] = QUARN_STDIO_PIPED;
    quarn_ctor_scalar_area(stdio)[2] = QUARN_STDIO_INHERIT;
    quarn_object *arguments = quarn_lean_mk_empty_array_with_capacity(quarn_box(2));
    arguments = quarn_array_push(arguments, text("-c"));
    arguments = quarn_array_push(arguments, text("tr a-z A-Z; exit 3"));
    quarn_object *args = quarn_alloc_ctor(0, 5, 2);
    quarn_ctor_set(args, 0, stdio);
    quarn_ctor_set(args, 1, text("sh"));
    quarn_ctor_set(args, 2, arguments);
    quarn_ctor_set(args, 3, quarn_box(0));
    quarn_ctor_set(args, 4, quarn_lean_mk_empty_array_with_capacity(quarn_box(0)));
    quarn_ctor_scalar_area(args)[0] = 1; /* inherit the environment */
    quarn_ctor_scalar_area(args)[1] = 0; /* same session */
    return args;
}

static quarn_object *lean_main(quarn_object *args) {
    quarn_dec(args);
    quarn_object *error = NULL;
    quarn_object *child = prelude_take(quarn_lean_io_process_spawn(spawn_arguments()), &error);
    if (child == NULL) return error;

    /* Write, then give stdin up so that the child sees the end of its input. */
    quarn_object *written = quarn_lean_io_prim_handle_put_str(quarn_ctor_get(child, 0),
                                                               text("hello from a child process\n"));
    if (!quarn_io_result_is_ok(written)) {
        quarn_dec(child);
        return written;
    }
    quarn_dec(written);
    quarn_object *pair = prelude_take(quarn_lean_io_process_child_take_stdin(child), &error);
    if (pair == NULL) return error;
    child = quarn_ctor_get(pair, 1);
    quarn_inc(child);
    quarn_dec(pair); /* releases the stdin handle: its buffer is written and the pipe closed */

    /* Read to the end of the child's output. */
    quarn_object *out = text("");
    for (;;) {
        quarn_object *line = prelude_take(quarn_lean_io_prim_handle_get_line(quarn_ctor_get(child, 1)), &error);
        if (line == NULL) {
            quarn_dec(out);
            quarn_dec(child);
            return error;
        }
        if (((quarn_string_object *)line)->size == 1) {
            quarn_dec(line);
            break;
        }
        out = quarn_lean_string_append(out, line);
        quarn_dec(line);
    }
    quarn_object *code = prelude_take(quarn_lean_io_process_child_wait(child), &error);
    quarn_dec(child);
    if (code == NULL) {
        quarn_dec(out);
        return error;
    }
    char line[64];
    snprintf(line, sizeof line, "exit code: %u\n", (unsigned)quarn_unbox(code));
    quarn_object *printed = prelude_print(out);
    if (!quarn_io_result_is_ok(printed)) return printed;
    quarn_dec(printed);
    printed = prelude_print_text(line);
    if (!quarn_io_result_is_ok(printed)) return printed;
    quarn_dec(printed);
    return prelude_io_ok(quarn_box(0));
}

int main(int argc, char **argv) {
    prelude_register_io_errors();
    return (int)quarn_run_main(NULL, (void *)lean_main, 1, 1, argc - 1, argv + 1);
}

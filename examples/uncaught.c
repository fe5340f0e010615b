/*
 * A program whose Lean main fails: the uncaught error is printed as
 * "uncaught exception: ..." and the process ends with status 1.
 *
 * Lean source, in spirit:
 *   def main : IO Unit := throw (IO.userError "configuration file 'app.toml' is missing")
 */
#include <stdio.h>
#include <string.h>

#include <quarn/quarn.h>

static quarn_object *string_of(const char *text) {
    size_t n = strlen(text);
    return quarn_mk_string_unchecked(text, n, n); /* ASCII */
}

/* ---- the program's exports ------------------------------------------------------------ */

/* IO.Error.userError: a constructor of tag 7 with the message (tag chosen by the program). */
static quarn_object *mk_io_user_error(quarn_object *message) {
    quarn_object *e = quarn_alloc_ctor(7, 1, 0);
    quarn_ctor_set(e, 0, message);
    return e;
}

static quarn_object *io_error_to_string(quarn_object *error) {
    quarn_object *message = quarn_ctor_get(error, 0);
    quarn_inc(message);
    quarn_dec(error);
    return message;
}

/* ---- main ------------------------------------------------------------------------------- */

static quarn_object *lean_main(void) {
    quarn_object *error = mk_io_user_error(string_of("configuration file 'app.toml' is missing"));
    quarn_object *result = quarn_alloc_ctor(1, 1, 0); /* IO error result */
    quarn_ctor_set(result, 0, error);
    return result;
}

int main(int argc, char **argv) {
    quarn_register_export("lean_mk_io_user_error", (void *)mk_io_user_error);
    quarn_register_export("lean_io_error_to_string", (void *)io_error_to_string);
    uint32_t status = quarn_run_main(NULL, (void *)lean_main, 0, 0, argc - 1, argv + 1);
    fprintf(stderr, "(the program's C main returns %u)\n", status);
    return (int)status;
}

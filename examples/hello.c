/*
 * The smallest program that prints, as the compiler emits it: main hands over to
 * quarn_run_main, and the Lean main writes one line through the standard output stream.
 *
 * Lean source:
 *   def main : IO Unit := IO.println "Hello, world!"
 */
#include <string.h>

#include <quarn/quarn.h>

#include "stream_prelude.h"

static quarn_object *lean_main(void) {
    static const char text[] = "Hello, world!\n";
    return prelude_print(quarn_mk_string_unchecked(text, strlen(text), strlen(text)));
}

int main(int argc, char **argv) {
    quarn_register_export("lean_stream_of_handle", (void *)prelude_stream_of_handle);
    return (int)quarn_run_main(NULL, (void *)lean_main, 0, 0, argc - 1, argv + 1);
}

/*
 * A program as the compiler emits it: the C main registers the program's exports and hands
 * over to quarn_run_main; the module initializer fills initialization cells (a string and a
 * count), and the Lean main takes the command line and greets each argument.
 *
 * Lean source, in spirit:
 *   def greeting : String := "Hello"
 *   def maxGreetings : Nat := 3
 *   def main (args : List String) : IO Unit := ...
 */
#include <stdio.h>
#include <string.h>

#include <quarn/quarn.h>

/* ---- module Greet: declarations and their initializer ---------------------------------- */

static quarn_init_cell greeting_cell = {{0}, 0, "Greet.greeting"};
static quarn_init_cell max_greetings_cell = {{0}, 0, "Greet.maxGreetings"};

static quarn_object *io_ok(quarn_object *value) {
    quarn_object *r = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(r, 0, value);
    return r;
}

static quarn_object *initialize_Greet(void) {
    quarn_init_obj_set(&greeting_cell, quarn_mk_string_unchecked("Hello", 5, 5));
    quarn_init_bits_set(&max_greetings_cell, 3);
    return io_ok(quarn_box(0));
}

static quarn_object *greeting(void) {
    return quarn_init_obj_get(&greeting_cell); /* persistent: no counting needed */
}

/* ---- main --------------------------------------------------------------------------------- */

static const char *text_of(quarn_object *s) { return ((quarn_string_object *)s)->data; }

static quarn_object *lean_main(quarn_object *args) {
    uint64_t limit = quarn_init_bits_get(&max_greetings_cell);
    uint64_t n = 0;
    printf("still initializing? %s\n", quarn_lean_io_initializing() ? "yes" : "no");
    for (quarn_object *cell = args; !quarn_is_scalar(cell) && n < limit; cell = quarn_ctor_get(cell, 1), ++n) {
        quarn_object *name = quarn_ctor_get(cell, 0);
        printf("%s, %s! (%zu characters)\n", text_of(greeting()), text_of(name),
               ((quarn_string_object *)name)->length);
    }
    quarn_dec(args);
    return io_ok(quarn_box(0));
}

/* ---- the program's exports: what the runtime calls back ------------------------------- */

static quarn_object *io_eprintln(quarn_object *s) {
    fprintf(stderr, "%s\n", text_of(s));
    quarn_dec(s);
    return io_ok(quarn_box(0));
}

int main(int argc, char **argv) {
    quarn_register_export("lean_io_eprintln", (void *)io_eprintln);
    /* argv[0] is the program, not an argument of the Lean main */
    return (int)quarn_run_main(initialize_Greet, (void *)lean_main, 1, 0, argc - 1, argv + 1);
}

/*
 * The stand-in program's type table, as the compiler emits it, and the lookup of its
 * functions by name.
 *
 *   0 DivError   byZero | inexact (remainder : Nat)
 *   1 Point      mk (x : Nat) (y : Nat)
 *   2 Op         ask (question : String) | add (a b : Nat) | call (n : Nat)
 *                the operations of the program's async programs, answered by a String, a
 *                Nat and a function Nat -> Nat
 *   3 Secret     opaque: its values cross as handles
 */
#include <pthread.h>
#include <string.h>

#include "kit.h"
#include "program.h"

#define U32(v) (uint8_t)((v)&0xFF), (uint8_t)(((v) >> 8) & 0xFF), (uint8_t)(((v) >> 16) & 0xFF), \
               (uint8_t)(((v) >> 24) & 0xFF)

enum { NAT = 0, STRING = 16, OPAQUE_OBJECT = 7, NOT_SCALAR = 6, OBJECT_FIELD = 0 };

static const uint8_t table_bytes[] = {
    'Q', 'R', 'N', 'T', U32(2), U32(4),
    /* DivError: not opaque, no parameters, not a scalar, not trivial, 2 constructors */
    U32(8), 'D', 'i', 'v', 'E', 'r', 'r', 'o', 'r', 0, U32(0), NOT_SCALAR, 0, U32(2),
    /*   byZero: tag 0, no fields */
    U32(6), 'b', 'y', 'Z', 'e', 'r', 'o', U32(0), U32(0), U32(0), U32(0), U32(0),
    /*   inexact: tag 1, one object field */
    U32(7), 'i', 'n', 'e', 'x', 'a', 'c', 't', U32(1), U32(1), U32(0), U32(0), U32(1),
    U32(9), 'r', 'e', 'm', 'a', 'i', 'n', 'd', 'e', 'r', OBJECT_FIELD, U32(0), NAT,
    /* Point: one constructor */
    U32(5), 'P', 'o', 'i', 'n', 't', 0, U32(0), NOT_SCALAR, 0, U32(1),
    /*   mk: tag 0, two object fields */
    U32(2), 'm', 'k', U32(0), U32(2), U32(0), U32(0), U32(2),
    U32(1), 'x', OBJECT_FIELD, U32(0), NAT,
    U32(1), 'y', OBJECT_FIELD, U32(1), NAT,
    /* Op: three constructors */
    U32(2), 'O', 'p', 0, U32(0), NOT_SCALAR, 0, U32(3),
    /*   ask: tag 0 */
    U32(3), 'a', 's', 'k', U32(0), U32(1), U32(0), U32(0), U32(1),
    U32(8), 'q', 'u', 'e', 's', 't', 'i', 'o', 'n', OBJECT_FIELD, U32(0), STRING,
    /*   add: tag 1 */
    U32(3), 'a', 'd', 'd', U32(1), U32(2), U32(0), U32(0), U32(2),
    U32(1), 'a', OBJECT_FIELD, U32(0), NAT,
    U32(1), 'b', OBJECT_FIELD, U32(1), NAT,
    /*   call: tag 2 */
    U32(4), 'c', 'a', 'l', 'l', U32(2), U32(1), U32(0), U32(0), U32(1),
    U32(1), 'n', OBJECT_FIELD, U32(0), NAT,
    /* Secret: opaque, object representation, no constructors */
    U32(6), 'S', 'e', 'c', 'r', 'e', 't', 1, U32(0), OPAQUE_OBJECT, 0, U32(0),
};

const uint8_t *kit_program_table_bytes(size_t *length) {
    *length = sizeof table_bytes;
    return table_bytes;
}

static const quarn_types *types;
static pthread_once_t types_once = PTHREAD_ONCE_INIT;

/* The program's start-up: its exports first, then its table. */
static void start(void) {
    kit_register_exports();
    types = quarn_types_load(table_bytes, sizeof table_bytes);
}

const quarn_types *kit_program_types(void) {
    pthread_once(&types_once, start);
    return types;
}

static const kit_program_function *find(const kit_program_function *functions, size_t count,
                                        const char *name) {
    for (size_t i = 0; i < count; ++i)
        if (strcmp(functions[i].name, name) == 0) return &functions[i];
    return NULL;
}

const kit_program_function *kit_program_function_named(const char *name) {
    const kit_program_function *f = find(kit_program_calls, kit_program_call_count, name);
    return f != NULL ? f : find(kit_program_host_functions, kit_program_host_function_count, name);
}

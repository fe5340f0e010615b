/*
 * The program's functions that call the host: Lean externs the host implements, called
 * through host calls as compiled code calls them, and a function that takes a host function
 * as its argument.
 *
 *   extern host_double (n : Nat) : Nat
 *   extern host_log (line : String) : IO Unit
 *   extern host_check (n : Nat) : EIO String Nat
 *
 *   apply_twice (f : Nat -> Nat) (n : Nat) : Nat      f (f n)
 *   double_plus_one (n : Nat) : Nat                   host_double n + 1
 *   log_line (line : String) : IO Unit                host_log line
 *   check (n : Nat) : EIO String Nat                  host_check n
 */
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kit.h"
#include "program.h"
#include "quarn/entry.h"
#include "quarn/quarn.h"

#define U32(v) (uint8_t)((v)&0xFF), (uint8_t)(((v) >> 8) & 0xFF), (uint8_t)(((v) >> 16) & 0xFF), \
               (uint8_t)(((v) >> 24) & 0xFF)
#define BYTES(t) t, sizeof t

#define T_NAT 0
#define T_STRING 16
#define T_UNIT 17
#define T_FUNCTION 25
#define T_NAT_TO_NAT T_FUNCTION, U32(1), T_NAT, T_NAT
#define PURE 0
#define IO 1
#define EIO 2

static const uint8_t NAT[] = {T_NAT};
static const uint8_t STRING[] = {T_STRING};
static const uint8_t UNIT[] = {T_UNIT};
static const uint8_t NAT_TO_NAT[] = {T_NAT_TO_NAT};

/* ---- externs ------------------------------------------------------------------------ */

static const uint8_t host_double_signature[] = {U32(0), U32(1), T_NAT, PURE, T_NAT};
static const uint8_t host_log_signature[] = {U32(0), U32(1), T_STRING, IO, T_UNIT};
static const uint8_t host_check_signature[] = {U32(0), U32(1), T_NAT, EIO, T_STRING, T_NAT};

#define EXTERN(name) {#name, name##_signature, sizeof name##_signature}

const kit_program_extern kit_program_externs[] = {
    EXTERN(host_double),
    EXTERN(host_log),
    EXTERN(host_check),
};
const size_t kit_program_extern_count = sizeof kit_program_externs / sizeof kit_program_externs[0];

/* The host function number bound to each extern, 0 while unbound. */
static _Atomic uint64_t bound_numbers[sizeof kit_program_externs / sizeof kit_program_externs[0]];

static size_t extern_index(const char *name) {
    for (size_t i = 0; i < kit_program_extern_count; ++i)
        if (strcmp(kit_program_externs[i].name, name) == 0) return i;
    fprintf(stderr, "the program has no extern '%s'\n", name);
    abort();
}

const kit_program_extern *kit_program_extern_named(const char *name) {
    for (size_t i = 0; i < kit_program_extern_count; ++i)
        if (strcmp(kit_program_externs[i].name, name) == 0) return &kit_program_externs[i];
    return NULL;
}

void kit_program_bind_extern(const char *name, uint64_t number) {
    atomic_store(&bound_numbers[extern_index(name)], number);
}

static uint64_t bound(const char *name) {
    uint64_t number = atomic_load(&bound_numbers[extern_index(name)]);
    if (number == 0) {
        fprintf(stderr, "the extern '%s' is not bound to a host function\n", name);
        abort();
    }
    return number;
}

/* The externs as compiled code calls them: every argument owned, lent to the host call. */
static quarn_object *host_double(quarn_object *n) {
    quarn_hostcall *call = quarn_hostcall_begin(kit_program_types(), bound("host_double"), "host_double");
    quarn_hostcall_write(call, n, BYTES(NAT));
    quarn_dec(n);
    return quarn_hostcall_finish(call, BYTES(NAT));
}

static quarn_object *host_log(quarn_object *line) {
    quarn_hostcall *call = quarn_hostcall_begin(kit_program_types(), bound("host_log"), "host_log");
    quarn_hostcall_write(call, line, BYTES(STRING));
    quarn_dec(line);
    return quarn_hostcall_finish_io(call, BYTES(UNIT));
}

static quarn_object *host_check(quarn_object *n) {
    quarn_hostcall *call = quarn_hostcall_begin(kit_program_types(), bound("host_check"), "host_check");
    quarn_hostcall_write(call, n, BYTES(NAT));
    quarn_dec(n);
    return quarn_hostcall_finish_eio(call, BYTES(STRING), BYTES(NAT));
}

/* ---- the functions hosts call ------------------------------------------------------- */

static quarn_object *l_apply_twice(quarn_object *f, quarn_object *n) {
    quarn_inc(f);
    return quarn_apply_1(f, quarn_apply_1(f, n));
}

static quarn_object *l_double_plus_one(quarn_object *n) {
    return quarn_lean_nat_add(host_double(n), quarn_box(1));
}

static const uint8_t apply_twice_signature[] = {U32(0), U32(2), T_NAT_TO_NAT, T_NAT, PURE, T_NAT};
static const uint8_t double_plus_one_signature[] = {U32(0), U32(1), T_NAT, PURE, T_NAT};
static const uint8_t log_line_signature[] = {U32(0), U32(1), T_STRING, IO, T_UNIT};
static const uint8_t check_signature[] = {U32(0), U32(1), T_NAT, EIO, T_STRING, T_NAT};

static int apply_twice_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    quarn_call *call = quarn_call_begin(kit_program_types(), block, length);
    quarn_object *f = quarn_call_read(call, BYTES(NAT_TO_NAT));
    quarn_object *n = quarn_call_read(call, BYTES(NAT));
    if (quarn_call_complete(call)) {
        quarn_call_write(call, l_apply_twice(f, n), BYTES(NAT));
    } else {
        quarn_dec(f);
        quarn_dec(n);
    }
    return quarn_call_end(call, output);
}

static int double_plus_one_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    quarn_call *call = quarn_call_begin(kit_program_types(), block, length);
    quarn_object *n = quarn_call_read(call, BYTES(NAT));
    if (quarn_call_complete(call)) quarn_call_write(call, l_double_plus_one(n), BYTES(NAT));
    else quarn_dec(n);
    return quarn_call_end(call, output);
}

static int log_line_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    quarn_call *call = quarn_call_begin(kit_program_types(), block, length);
    quarn_object *line = quarn_call_read(call, BYTES(STRING));
    if (quarn_call_complete(call)) quarn_call_write_io(call, host_log(line), BYTES(UNIT));
    else quarn_dec(line);
    return quarn_call_end(call, output);
}

static int check_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    quarn_call *call = quarn_call_begin(kit_program_types(), block, length);
    quarn_object *n = quarn_call_read(call, BYTES(NAT));
    if (quarn_call_complete(call)) quarn_call_write_eio(call, host_check(n), BYTES(STRING), BYTES(NAT));
    else quarn_dec(n);
    return quarn_call_end(call, output);
}

#define FUNCTION(name) {#name, name##_entry, name##_signature, sizeof name##_signature}

const kit_program_function kit_program_host_functions[] = {
    FUNCTION(apply_twice),
    FUNCTION(double_plus_one),
    FUNCTION(log_line),
    FUNCTION(check),
};
const size_t kit_program_host_function_count =
    sizeof kit_program_host_functions / sizeof kit_program_host_functions[0];

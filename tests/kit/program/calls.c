/*
 * The stand-in program's functions that hosts call: for each, the Lean function as compiled
 * code (every argument owned), its generated signature and its generated entry point.
 *
 *   add (a b : Nat) : Nat
 *   zero : Nat                                        no parameters
 *   greet (name : String) : IO String                 an empty name is a user error
 *   parse_nat (text : String) : EIO String Nat
 *   divide (a b : Nat) : EIO DivError Nat             exact division
 *   first {a} (items : List a) : Option a
 *   point_sum (p : Point) : Nat
 *   make_adder (n : Nat) : Nat -> Nat                 a Lean closure
 *   seal (n : Nat) : Secret, unseal (s : Secret) : Nat
 *   conversation (n : Nat) : AsyncProgram Op String   asks a name, then n + 10
 *   apply_answer (n : Nat) : AsyncProgram Op Nat      asks a function, applies it to n
 *   tally (n : Nat) : AsyncProgram Op Nat             asks add n 1 with each answer until
 *                                                     the answer is 0
 */
#include <stdio.h>
#include <string.h>

#include "kit.h"
#include "program.h"
#include "quarn/entry.h"
#include "quarn/quarn.h"

#define U32(v) (uint8_t)((v)&0xFF), (uint8_t)(((v) >> 8) & 0xFF), (uint8_t)(((v) >> 16) & 0xFF), \
               (uint8_t)(((v) >> 24) & 0xFF)

/* Type expressions. */
#define T_NAT 0
#define T_STRING 16
#define T_OPTION 20
#define T_LIST 21
#define T_FUNCTION 25
#define T_PARAM 26
#define T_INDUCTIVE 27
#define T_DIV_ERROR T_INDUCTIVE, U32(0), U32(0)
#define T_POINT T_INDUCTIVE, U32(1), U32(0)
#define T_SECRET T_INDUCTIVE, U32(3), U32(0)
#define T_NAT_TO_NAT T_FUNCTION, U32(1), T_NAT, T_NAT

/* Result descriptions. */
#define PURE 0
#define IO 1
#define EIO 2
#define ASYNC 3
/* An async program over Op (definition 2): answers String, Nat, Nat -> Nat, then the result. */
#define ASYNC_OVER_OP ASYNC, U32(2), U32(3), T_STRING, T_NAT, T_NAT_TO_NAT

static const uint8_t NAT[] = {T_NAT};
static const uint8_t STRING[] = {T_STRING};
static const uint8_t DIV_ERROR[] = {T_DIV_ERROR};
static const uint8_t POINT[] = {T_POINT};
static const uint8_t SECRET[] = {T_SECRET};
static const uint8_t NAT_TO_NAT[] = {T_NAT_TO_NAT};
static const uint8_t LIST_OF_A[] = {T_LIST, T_PARAM, U32(0)};
static const uint8_t OPTION_OF_A[] = {T_OPTION, T_PARAM, U32(0)};

static const uint8_t add_signature[] = {U32(0), U32(2), T_NAT, T_NAT, PURE, T_NAT};
static const uint8_t zero_signature[] = {U32(0), U32(0), PURE, T_NAT};
static const uint8_t greet_signature[] = {U32(0), U32(1), T_STRING, IO, T_STRING};
static const uint8_t parse_nat_signature[] = {U32(0), U32(1), T_STRING, EIO, T_STRING, T_NAT};
static const uint8_t divide_signature[] = {U32(0), U32(2), T_NAT, T_NAT, EIO, T_DIV_ERROR, T_NAT};
static const uint8_t first_signature[] = {U32(1), U32(1), T_LIST, T_PARAM, U32(0),
                                          PURE, T_OPTION, T_PARAM, U32(0)};
static const uint8_t point_sum_signature[] = {U32(0), U32(1), T_POINT, PURE, T_NAT};
static const uint8_t make_adder_signature[] = {U32(0), U32(1), T_NAT, PURE, T_NAT_TO_NAT};
static const uint8_t seal_signature[] = {U32(0), U32(1), T_NAT, PURE, T_SECRET};
static const uint8_t unseal_signature[] = {U32(0), U32(1), T_SECRET, PURE, T_NAT};
static const uint8_t conversation_signature[] = {U32(0), U32(1), T_NAT, ASYNC_OVER_OP, T_STRING};
static const uint8_t async_string_description[] = {ASYNC_OVER_OP, T_STRING};
static const uint8_t apply_answer_signature[] = {U32(0), U32(1), T_NAT, ASYNC_OVER_OP, T_NAT};
static const uint8_t async_nat_description[] = {ASYNC_OVER_OP, T_NAT};
static const uint8_t tally_signature[] = {U32(0), U32(1), T_NAT, ASYNC_OVER_OP, T_NAT};

/* ---- values the compiled code builds ------------------------------------------------ */

static quarn_object *ctor1(unsigned tag, quarn_object *field) {
    quarn_object *o = quarn_alloc_ctor(tag, 1, 0);
    quarn_ctor_set(o, 0, field);
    return o;
}

static quarn_object *ctor2(unsigned tag, quarn_object *first, quarn_object *second) {
    quarn_object *o = quarn_alloc_ctor(tag, 2, 0);
    quarn_ctor_set(o, 0, first);
    quarn_ctor_set(o, 1, second);
    return o;
}

/* IO and EIO results: tag 0 holds the value, tag 1 the error. */
static quarn_object *result_ok(quarn_object *value) { return ctor1(0, value); }
static quarn_object *result_error(quarn_object *error) { return ctor1(1, error); }

/* IO.userError through the program's own export. */
static quarn_object *user_error(const char *message) {
    typedef quarn_object *(*make_user_error)(quarn_object *);
    for (size_t i = 0; i < 28; ++i)
        if (strcmp(kit_exports[i].name, "lean_mk_io_user_error") == 0)
            return ((make_user_error)kit_exports[i].function)(kit_string(message));
    return NULL;
}

/* A closure of `code` over `fixed` values, waiting for one more. Consumes the values. */
static quarn_object *closure(void *code, unsigned fixed, quarn_object *a, quarn_object *b) {
    quarn_object *c = quarn_alloc_closure(code, fixed + 1, fixed);
    if (fixed > 0) quarn_closure_set(c, 0, a);
    if (fixed > 1) quarn_closure_set(c, 1, b);
    return c;
}

/* Async programs: done (tag 0, the result) or an operation (tag 1, the operation and the
 * continuation that takes the answer). */
static quarn_object *program_done(quarn_object *result) { return ctor1(0, result); }
static quarn_object *program_ask(quarn_object *operation, quarn_object *continuation) {
    return ctor2(1, operation, continuation);
}

/* The decimal text of a Nat (small ones; big ones print as such). Borrows n. */
static void nat_text(const quarn_object *n, char *out, size_t size) {
    if (quarn_is_scalar(n)) snprintf(out, size, "%zu", quarn_unbox(n));
    else snprintf(out, size, "a big number");
}

/* ---- the Lean functions ------------------------------------------------------------- */

static quarn_object *l_add(quarn_object *a, quarn_object *b) {
    quarn_object *r = quarn_nat_add(a, b);
    quarn_dec(a);
    quarn_dec(b);
    return r;
}

static quarn_object *l_greet(quarn_object *name) {
    if (quarn_string_size(name) == 1) {
        quarn_dec(name);
        return result_error(user_error("greet: the name is empty"));
    }
    quarn_object *hello = kit_string("Hello, ");
    quarn_object *bang = kit_string("!");
    quarn_object *text = quarn_lean_string_append(quarn_lean_string_append(hello, name), bang);
    quarn_dec(name);
    quarn_dec(bang);
    return result_ok(text);
}

static quarn_object *l_parse_nat(quarn_object *text) {
    const char *s = kit_cstr(text);
    int digits = s[0] != '\0';
    for (const char *p = s; *p != '\0'; ++p) digits = digits && *p >= '0' && *p <= '9';
    quarn_object *r;
    if (digits) {
        r = result_ok(quarn_cstr_to_nat(s));
    } else {
        char message[256];
        snprintf(message, sizeof message, "not a natural number: '%s'", s);
        r = result_error(kit_string(message));
    }
    quarn_dec(text);
    return r;
}

static quarn_object *l_divide(quarn_object *a, quarn_object *b) {
    quarn_object *r;
    if (quarn_is_scalar(b) && quarn_unbox(b) == 0) {
        r = result_error(quarn_box(0)); /* DivError.byZero */
    } else {
        quarn_object *remainder = quarn_lean_nat_mod(a, b);
        if (quarn_is_scalar(remainder) && quarn_unbox(remainder) == 0)
            r = result_ok(quarn_lean_nat_div(a, b));
        else
            r = result_error(ctor1(1, remainder)); /* DivError.inexact */
        if (quarn_is_scalar(remainder) && quarn_unbox(remainder) == 0) quarn_dec(remainder);
    }
    quarn_dec(a);
    quarn_dec(b);
    return r;
}

static quarn_object *l_first(quarn_object *items) {
    quarn_object *r = quarn_box(0);
    if (!quarn_is_scalar(items)) {
        quarn_object *head = quarn_ctor_get(items, 0);
        quarn_inc(head);
        r = kit_some(head);
    }
    quarn_dec(items);
    return r;
}

static quarn_object *l_point_sum(quarn_object *p) {
    quarn_object *r = quarn_nat_add(quarn_ctor_get(p, 0), quarn_ctor_get(p, 1));
    quarn_dec(p);
    return r;
}

static quarn_object *l_adder(quarn_object *n, quarn_object *m) { return l_add(n, m); }

static quarn_object *l_make_adder(quarn_object *n) { return closure((void *)l_adder, 1, n, NULL); }

static quarn_object *l_seal(quarn_object *n) { return ctor1(0, n); }

static quarn_object *l_unseal(quarn_object *secret) {
    quarn_object *n = quarn_ctor_get(secret, 0);
    quarn_inc(n);
    quarn_dec(secret);
    return n;
}

/* conversation: ask a name, then n + 10, then finish with "<name> has <sum>". */
static quarn_object *conversation_after_sum(quarn_object *name, quarn_object *sum) {
    char digits[32], text[512];
    nat_text(sum, digits, sizeof digits);
    snprintf(text, sizeof text, "%s has %s", kit_cstr(name), digits);
    quarn_dec(name);
    quarn_dec(sum);
    return program_done(kit_string(text));
}

static quarn_object *conversation_after_name(quarn_object *n, quarn_object *name) {
    quarn_object *operation = ctor2(1, n, quarn_box(10)); /* Op.add n 10 */
    return program_ask(operation, closure((void *)conversation_after_sum, 1, name, NULL));
}

static quarn_object *l_conversation(quarn_object *n) {
    quarn_object *operation = ctor1(0, kit_string("What is your name?")); /* Op.ask */
    return program_ask(operation, closure((void *)conversation_after_name, 1, n, NULL));
}

/* apply_answer: ask for a function, apply it to n and finish with the result. */
static quarn_object *apply_answer_after(quarn_object *n, quarn_object *f) {
    return program_done(quarn_apply_1(f, n));
}

static quarn_object *l_apply_answer(quarn_object *n) {
    quarn_inc(n);
    quarn_object *operation = ctor1(2, n); /* Op.call n */
    return program_ask(operation, closure((void *)apply_answer_after, 1, n, NULL));
}

/* tally: each answer n asks add n 1 again; the answer 0 finishes. */
static quarn_object *l_tally(quarn_object *n) {
    if (quarn_is_scalar(n) && quarn_unbox(n) == 0) return program_done(n);
    quarn_object *operation = ctor2(1, n, quarn_box(1)); /* Op.add n 1 */
    return program_ask(operation, closure((void *)l_tally, 0, NULL, NULL));
}

/* ---- generated entry points ---------------------------------------------------------- */

#define BYTES(t) t, sizeof t

static int add_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    quarn_call *call = quarn_call_begin(kit_program_types(), block, length);
    quarn_object *a = quarn_call_read(call, BYTES(NAT));
    quarn_object *b = quarn_call_read(call, BYTES(NAT));
    if (quarn_call_complete(call)) {
        quarn_call_write(call, l_add(a, b), BYTES(NAT));
    } else {
        quarn_dec(a);
        quarn_dec(b);
    }
    return quarn_call_end(call, output);
}

static int zero_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    quarn_call *call = quarn_call_begin(kit_program_types(), block, length);
    if (quarn_call_complete(call)) quarn_call_write(call, quarn_box(0), BYTES(NAT));
    return quarn_call_end(call, output);
}

/* The entry points of the one-argument functions differ only in the types and the
 * function; the compiler writes each out, this file shares the body. */
typedef quarn_object *(*unary)(quarn_object *);
typedef void (*writer)(quarn_call *, quarn_object *);

static int unary_entry(const uint8_t *block, size_t length, quarn_buffer *output,
                       const uint8_t *type, size_t type_length, unary f, writer write) {
    quarn_call *call = quarn_call_begin(kit_program_types(), block, length);
    quarn_object *x = quarn_call_read(call, type, type_length);
    if (quarn_call_complete(call)) write(call, f(x));
    else quarn_dec(x);
    return quarn_call_end(call, output);
}

static void write_nat(quarn_call *call, quarn_object *r) { quarn_call_write(call, r, BYTES(NAT)); }
static void write_string_io(quarn_call *call, quarn_object *r) {
    quarn_call_write_io(call, r, BYTES(STRING));
}
static void write_parse_nat(quarn_call *call, quarn_object *r) {
    quarn_call_write_eio(call, r, BYTES(STRING), BYTES(NAT));
}
static void write_option_of_a(quarn_call *call, quarn_object *r) {
    quarn_call_write(call, r, BYTES(OPTION_OF_A));
}
static void write_nat_to_nat(quarn_call *call, quarn_object *r) {
    quarn_call_write(call, r, BYTES(NAT_TO_NAT));
}
static void write_secret(quarn_call *call, quarn_object *r) { quarn_call_write(call, r, BYTES(SECRET)); }
static void write_async_string(quarn_call *call, quarn_object *r) {
    quarn_call_write_async(call, r, BYTES(async_string_description));
}
static void write_async_nat(quarn_call *call, quarn_object *r) {
    quarn_call_write_async(call, r, BYTES(async_nat_description));
}

static int greet_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(STRING), l_greet, write_string_io);
}
static int parse_nat_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(STRING), l_parse_nat, write_parse_nat);
}
static int first_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(LIST_OF_A), l_first, write_option_of_a);
}
static int point_sum_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(POINT), l_point_sum, write_nat);
}
static int make_adder_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(NAT), l_make_adder, write_nat_to_nat);
}
static int seal_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(NAT), l_seal, write_secret);
}
static int unseal_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(SECRET), l_unseal, write_nat);
}
static int conversation_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(NAT), l_conversation, write_async_string);
}
static int apply_answer_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(NAT), l_apply_answer, write_async_nat);
}

static int tally_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    return unary_entry(block, length, output, BYTES(NAT), l_tally, write_async_nat);
}

static int divide_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    quarn_call *call = quarn_call_begin(kit_program_types(), block, length);
    quarn_object *a = quarn_call_read(call, BYTES(NAT));
    quarn_object *b = quarn_call_read(call, BYTES(NAT));
    if (quarn_call_complete(call)) {
        quarn_call_write_eio(call, l_divide(a, b), BYTES(DIV_ERROR), BYTES(NAT));
    } else {
        quarn_dec(a);
        quarn_dec(b);
    }
    return quarn_call_end(call, output);
}

#define FUNCTION(name) {#name, name##_entry, name##_signature, sizeof name##_signature}

const kit_program_function kit_program_calls[] = {
    FUNCTION(add),       FUNCTION(zero),       FUNCTION(greet),        FUNCTION(parse_nat),
    FUNCTION(divide),    FUNCTION(first),      FUNCTION(point_sum),    FUNCTION(make_adder),
    FUNCTION(seal),      FUNCTION(unseal),     FUNCTION(conversation), FUNCTION(apply_answer),
    FUNCTION(tally),
};
const size_t kit_program_call_count = sizeof kit_program_calls / sizeof kit_program_calls[0];

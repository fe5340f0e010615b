/*
 * quarn/nat.h: natural numbers (`Nat`) and integers (`Int`) of any size.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * Representation, kept normal by every producer:
 *   Nat  n < 2^63               the scalar word 2n + 1 (quarn_box)
 *   Nat  n >= 2^63              a big-number object (tag 250, quarn_bignum_object)
 *   Int  -2^31 <= v < 2^31      the scalar word of v's 32-bit two's-complement pattern,
 *                               zero-extended: 5 is 11, -1 is 0x1FFFFFFFF (quarn_box_int)
 *   Int  any other v            a big-number object
 * A non-negative small Int has the same word as the equal Nat; a big Nat object is also a
 * valid Int object, but 2^40 is a boxed Nat and a big Int. Because of normalisation two
 * values are equal exactly when their words are identical or both are objects with the same
 * sign and digits.
 *
 * Every primitive borrows its arguments unless it says otherwise and returns an owned
 * reference. Any thread: the primitives have no shared state and never modify an argument.
 * Division and remainder by zero are defined (quotient 0, remainder the dividend); the
 * exponent and shift limits of quarn_lean_nat_pow, quarn_lean_nat_shiftl and
 * quarn_lean_nat_shiftr end the process with "<operation> exponent is too big".
 */
#ifndef QUARN_NAT_H
#define QUARN_NAT_H

#include "object.h"

QUARN_BEGIN_DECLS

/* ------------------------------------------------------------------------------------------ */
/* Natural numbers                                                                           */
/* ------------------------------------------------------------------------------------------ */

/* a + b. Borrows `a` and `b`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_add(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* a - b, or 0 when a < b. Borrows `a` and `b`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_sub(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* a * b. Borrows `a` and `b`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_mul(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* a - 1, or 0 for 0. Borrows `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_pred(quarn_object *a) QUARN_NOEXCEPT;

/* floor(a / b), or 0 when b = 0 (quarn_lean_nat_div_exact is the same function).
 * Borrows `a` and `b`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_div(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_nat_div_exact(quarn_object *a, quarn_object *b)
    QUARN_NOEXCEPT;

/* a mod b, or a when b = 0. Borrows `a` and `b`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_mod(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* The greatest common divisor; gcd(a, 0) = a. Borrows `a` and `b`. Returns an owned
 * reference. */
QUARN_API quarn_object *quarn_lean_nat_gcd(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* floor(log2 a), or 0 for 0. Borrows `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_log2(quarn_object *a) QUARN_NOEXCEPT;

/* a^e. The exponent must be a scalar below 2^32, else the process ends with
 * "Nat.pow exponent is too big". Borrows `a` and `e`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_pow(quarn_object *a, quarn_object *e) QUARN_NOEXCEPT;

/* a * 2^s. For a != 0, s must be a scalar below 2^32, else the process ends with
 * "Nat.shiftl exponent is too big". Borrows `a` and `s`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_shiftl(quarn_object *a, quarn_object *s) QUARN_NOEXCEPT;

/* floor(a / 2^s). A shift of 2^32 or more is accepted only when it clears every bit of a;
 * otherwise the process ends with "Nat.shiftr exponent is too big". Borrows `a` and `s`.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_shiftr(quarn_object *a, quarn_object *s) QUARN_NOEXCEPT;

/* Bitwise and, or, exclusive or. Borrows `a` and `b`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_land(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_nat_lor(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_nat_lxor(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* 1 if a = b, else 0, for two Nats or two Ints (quarn_lean_int_dec_eq is the same
 * function). Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_nat_dec_eq(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_int_dec_eq(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* 1 if a <= b (a < b), else 0. Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_nat_dec_le(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_nat_dec_lt(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* The Nat n, as an Int. Consumes `n`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_to_int(quarn_object *n) QUARN_NOEXCEPT;

/* |a| of an Int, as a Nat. Borrows `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_nat_abs(quarn_object *a) QUARN_NOEXCEPT;

/* The Nat n (boxed below 2^63). Returns an owned reference. */
QUARN_API quarn_object *quarn_usize_to_nat(size_t n) QUARN_NOEXCEPT;

/* The Nat written in decimal in the NUL-terminated `text` (a literal of compiled code).
 * Text that is not valid UTF-8 ends the process with "a Nat literal is not ASCII"; text
 * that is not a decimal numeral ends it with "a Nat literal is not a decimal numeral".
 * Borrows `text`. Returns an owned reference. */
QUARN_API quarn_object *quarn_cstr_to_nat(const char *text) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Integers                                                                                  */
/* ------------------------------------------------------------------------------------------ */

/* a + b, a - b, a * b. Borrows `a` and `b`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_int_add(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_int_sub(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_int_mul(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* -a. Borrows `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_int_neg(quarn_object *a) QUARN_NOEXCEPT;

/* -(n + 1) of a Nat n, as an Int. Borrows `n`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_int_neg_succ_of_nat(quarn_object *n) QUARN_NOEXCEPT;

/* The quotient rounded toward zero, or 0 when b = 0 (quarn_lean_int_div_exact is the same
 * function). Borrows `a` and `b`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_int_div(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_int_div_exact(quarn_object *a, quarn_object *b)
    QUARN_NOEXCEPT;

/* a - b * div(a, b), with the sign of a; a when b = 0. Borrows `a` and `b`. Returns an
 * owned reference. */
QUARN_API quarn_object *quarn_lean_int_mod(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* The Euclidean quotient (0 when b = 0) and remainder (always >= 0; a when b = 0).
 * Borrows `a` and `b`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_int_ediv(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_int_emod(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* 1 if a <= b (a < b), else 0. Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_int_dec_le(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_int_dec_lt(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* 1 if a >= 0, else 0. Borrows `a`. */
QUARN_API uint8_t quarn_lean_int_dec_nonneg(quarn_object *a) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Inline fast paths                                                                         */
/* ------------------------------------------------------------------------------------------ */

/* The scalar word of a small Int (-2^31 <= v < 2^31). */
static inline quarn_object *quarn_box_int(int32_t v) {
    return (quarn_object *)(((uintptr_t)(uint32_t)v << 1) | 1);
}

/* The value of a small Int's word. */
static inline int32_t quarn_unbox_int(const quarn_object *v) {
    return (int32_t)(uint32_t)((uintptr_t)v >> 1);
}

static inline int quarn_both_scalar(const quarn_object *a, const quarn_object *b) {
    return ((uintptr_t)a & (uintptr_t)b & 1) != 0;
}

/* The primitives above with their scalar cases inline: one test, then the call. Borrow
 * `a` and `b`; return an owned reference (the comparisons return 1 or 0). */
static inline quarn_object *quarn_nat_add(quarn_object *a, quarn_object *b) {
    if (quarn_both_scalar(a, b)) {
        size_t sum = quarn_unbox(a) + quarn_unbox(b); /* both below 2^63: no wrap */
        if ((sum >> 63) == 0) return quarn_box(sum);
    }
    return quarn_lean_nat_add(a, b);
}

static inline quarn_object *quarn_nat_sub(quarn_object *a, quarn_object *b) {
    if (quarn_both_scalar(a, b)) {
        size_t x = quarn_unbox(a), y = quarn_unbox(b);
        return quarn_box(x < y ? 0 : x - y);
    }
    return quarn_lean_nat_sub(a, b);
}

static inline uint8_t quarn_nat_dec_eq(quarn_object *a, quarn_object *b) {
    if (quarn_is_scalar(a)) return a == b;
    return quarn_lean_nat_dec_eq(a, b);
}

static inline uint8_t quarn_nat_dec_lt(quarn_object *a, quarn_object *b) {
    if (quarn_both_scalar(a, b)) return (uintptr_t)a < (uintptr_t)b;
    return quarn_lean_nat_dec_lt(a, b);
}

static inline uint8_t quarn_nat_dec_le(quarn_object *a, quarn_object *b) {
    if (quarn_both_scalar(a, b)) return (uintptr_t)a <= (uintptr_t)b;
    return quarn_lean_nat_dec_le(a, b);
}

static inline quarn_object *quarn_int_add(quarn_object *a, quarn_object *b) {
    if (quarn_both_scalar(a, b)) {
        int64_t sum = (int64_t)quarn_unbox_int(a) + quarn_unbox_int(b);
        if (sum >= INT32_MIN && sum <= INT32_MAX) return quarn_box_int((int32_t)sum);
    }
    return quarn_lean_int_add(a, b);
}

static inline quarn_object *quarn_int_sub(quarn_object *a, quarn_object *b) {
    if (quarn_both_scalar(a, b)) {
        int64_t difference = (int64_t)quarn_unbox_int(a) - quarn_unbox_int(b);
        if (difference >= INT32_MIN && difference <= INT32_MAX)
            return quarn_box_int((int32_t)difference);
    }
    return quarn_lean_int_sub(a, b);
}

static inline uint8_t quarn_int_dec_lt(quarn_object *a, quarn_object *b) {
    if (quarn_both_scalar(a, b)) return quarn_unbox_int(a) < quarn_unbox_int(b);
    return quarn_lean_int_dec_lt(a, b);
}

static inline uint8_t quarn_int_dec_le(quarn_object *a, quarn_object *b) {
    if (quarn_both_scalar(a, b)) return quarn_unbox_int(a) <= quarn_unbox_int(b);
    return quarn_lean_int_dec_le(a, b);
}

QUARN_END_DECLS

#endif /* QUARN_NAT_H */

/*
 * quarn/fixed.h: fixed-width integers, Bool, Float and Float32, and the mathematics wrappers.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * The ten integer types are UInt8, UInt16, UInt32, UInt64, USize and Int8, Int16, Int32,
 * Int64, ISize; USize and ISize are 64 bits wide and behave exactly as UInt64 and Int64.
 * Signed types are two's complement; "wrapping" means modulo 2^n for width n. Bool is a
 * byte, 0 or 1. Float is IEEE-754 binary64, Float32 binary32.
 *
 * Ownership. Integers, Bool and floats are passed and returned unboxed, in registers, and
 * own nothing. The only object arguments are `Nat` and `Int` values (boxed or big number):
 * every one is borrowed, except the one argument of `quarn_lean_<type>_of_nat_mk`, which is
 * consumed. Every object result (a `Nat`, an `Int`, a pair, a String) is an owned reference.
 * Thread safety: any thread; nothing here has shared state.
 *
 * Most families have one member per integer type. They are declared below through the type
 * lists `QUARN_UNSIGNED_TYPES` and `QUARN_SIGNED_TYPES`: each family's block says its rule
 * once and shows the names it produces, `quarn_lean_<type>_<operation>` with <type> one of
 * uint8 uint16 uint32 uint64 usize int8 int16 int32 int64 isize, as in
 * `quarn_lean_int16_div` or `quarn_lean_usize_shift_right`.
 *
 * Some names are one function (one body, several symbols): the signed and unsigned names of
 * one width for the families whose result depends only on the bits (add, sub, mul, neg,
 * complement, land, lor, xor, shift_left, dec_eq, of_nat, and of_int up to 32 bits); every
 * usize and isize name with its 64-bit twin; the zero-extensions of a byte with the Bool
 * conversions of the same width; the float conversions to uint64/usize and int64/isize.
 */
#ifndef QUARN_FIXED_H
#define QUARN_FIXED_H

#include "object.h"

QUARN_BEGIN_DECLS

/* X(name, C type) for each integer type. */
#define QUARN_UNSIGNED_TYPES(X) \
    X(uint8, uint8_t) X(uint16, uint16_t) X(uint32, uint32_t) X(uint64, uint64_t) X(usize, size_t)
#define QUARN_SIGNED_TYPES(X) \
    X(int8, int8_t) X(int16, int16_t) X(int32, int32_t) X(int64, int64_t) X(isize, ptrdiff_t)
#define QUARN_INTEGER_TYPES(X) QUARN_UNSIGNED_TYPES(X) QUARN_SIGNED_TYPES(X)

/* ------------------------------------------------------------------------------------------ */
/* Integer families, every type                                                              */
/* ------------------------------------------------------------------------------------------ */

/*
 * Wrapping arithmetic: a + b, a - b, a * b and 0 - a, modulo 2^n; bitwise not, and, or,
 * exclusive or.
 */
#define QUARN_DECLARE_WRAPPING(type, T)                             \
    QUARN_API T quarn_lean_##type##_add(T a, T b) QUARN_NOEXCEPT;   \
    QUARN_API T quarn_lean_##type##_sub(T a, T b) QUARN_NOEXCEPT;   \
    QUARN_API T quarn_lean_##type##_mul(T a, T b) QUARN_NOEXCEPT;   \
    QUARN_API T quarn_lean_##type##_neg(T a) QUARN_NOEXCEPT;        \
    QUARN_API T quarn_lean_##type##_complement(T a) QUARN_NOEXCEPT; \
    QUARN_API T quarn_lean_##type##_land(T a, T b) QUARN_NOEXCEPT;  \
    QUARN_API T quarn_lean_##type##_lor(T a, T b) QUARN_NOEXCEPT;   \
    QUARN_API T quarn_lean_##type##_xor(T a, T b) QUARN_NOEXCEPT;
QUARN_INTEGER_TYPES(QUARN_DECLARE_WRAPPING)

/*
 * Division never traps. Unsigned: a / b, and a mod b; b = 0 gives 0 and a.
 * Signed: the quotient rounded toward zero and the remainder with the sign of a;
 * b = 0 gives 0 and a; b = -1 gives -a (wrapping: MIN / -1 = MIN) and 0.
 */
#define QUARN_DECLARE_DIVISION(type, T)                           \
    QUARN_API T quarn_lean_##type##_div(T a, T b) QUARN_NOEXCEPT; \
    QUARN_API T quarn_lean_##type##_mod(T a, T b) QUARN_NOEXCEPT;
QUARN_INTEGER_TYPES(QUARN_DECLARE_DIVISION)

/*
 * Shifts by b mod n, where b is read as unsigned (so a count of -1 shifts by n - 1).
 * The right shift is logical for unsigned types and arithmetic for signed ones.
 */
#define QUARN_DECLARE_SHIFTS(type, T)                                    \
    QUARN_API T quarn_lean_##type##_shift_left(T a, T b) QUARN_NOEXCEPT; \
    QUARN_API T quarn_lean_##type##_shift_right(T a, T b) QUARN_NOEXCEPT;
QUARN_INTEGER_TYPES(QUARN_DECLARE_SHIFTS)

/* a = b, a <= b, a < b (signed or unsigned by type), as a Bool. */
#define QUARN_DECLARE_COMPARISONS(type, T)                                 \
    QUARN_API uint8_t quarn_lean_##type##_dec_eq(T a, T b) QUARN_NOEXCEPT; \
    QUARN_API uint8_t quarn_lean_##type##_dec_le(T a, T b) QUARN_NOEXCEPT; \
    QUARN_API uint8_t quarn_lean_##type##_dec_lt(T a, T b) QUARN_NOEXCEPT;
QUARN_INTEGER_TYPES(QUARN_DECLARE_COMPARISONS)

/*
 * Conversions that every type has:
 *   of_nat      a `Nat` modulo 2^n: a boxed value, or a big number's lowest digit (negated
 *               modulo 2^64 when negative). Borrows `n`.
 *   to_float    the nearest binary64 value; to_float32 the nearest binary32 value.
 *   bool_to_    0 or 1.
 */
#define QUARN_DECLARE_CONVERSIONS(type, T)                                  \
    QUARN_API T quarn_lean_##type##_of_nat(quarn_object *n) QUARN_NOEXCEPT; \
    QUARN_API double quarn_lean_##type##_to_float(T a) QUARN_NOEXCEPT;      \
    QUARN_API float quarn_lean_##type##_to_float32(T a) QUARN_NOEXCEPT;     \
    QUARN_API T quarn_lean_bool_to_##type(uint8_t b) QUARN_NOEXCEPT;
QUARN_INTEGER_TYPES(QUARN_DECLARE_CONVERSIONS)

/* ------------------------------------------------------------------------------------------ */
/* Integer families of one signedness                                                        */
/* ------------------------------------------------------------------------------------------ */

/*
 * Unsigned types:
 *   log2        the index of the highest set bit; log2 0 = 0.
 *   of_nat_mk   as of_nat. Consumes `n`.
 *   to_nat      the value as a `Nat`: boxed below 2^63, a big number from 2^63 on.
 *               Returns an owned reference.
 */
#define QUARN_DECLARE_UNSIGNED_ONLY(type, T)                                   \
    QUARN_API T quarn_lean_##type##_log2(T a) QUARN_NOEXCEPT;                  \
    QUARN_API T quarn_lean_##type##_of_nat_mk(quarn_object *n) QUARN_NOEXCEPT; \
    QUARN_API quarn_object *quarn_lean_##type##_to_nat(T a) QUARN_NOEXCEPT;
QUARN_UNSIGNED_TYPES(QUARN_DECLARE_UNSIGNED_ONLY)

/*
 * Signed types:
 *   abs         |a|, wrapping: abs MIN = MIN.
 *   of_int      an `Int` modulo 2^n, read back as signed: a boxed `Int` gives its 32-bit
 *               value sign-extended, a big number its lowest digit, negated modulo 2^64
 *               when negative. Borrows `i`.
 */
#define QUARN_DECLARE_SIGNED_ONLY(type, T)                   \
    QUARN_API T quarn_lean_##type##_abs(T a) QUARN_NOEXCEPT; \
    QUARN_API T quarn_lean_##type##_of_int(quarn_object *i) QUARN_NOEXCEPT;
QUARN_SIGNED_TYPES(QUARN_DECLARE_SIGNED_ONLY)

/* The value as an `Int`: always a boxed (small) `Int` for 8, 16 and 32 bits; for Int64 and
 * ISize boxed in [-2^31, 2^31 - 1] and a big number otherwise. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_int8_to_int(int8_t a) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_int16_to_int(int16_t a) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_int32_to_int(int32_t a) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_int64_to_int_sint(int64_t a) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_isize_to_int(ptrdiff_t a) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Width conversions                                                                         */
/* ------------------------------------------------------------------------------------------ */

/*
 * quarn_lean_<from>_to_<to> for every pair of distinct types of the same signedness:
 * narrowing keeps the low bits; widening zero-extends an unsigned source and sign-extends
 * a signed one. X(from, From, to, To).
 */
#define QUARN_WIDTH_CONVERSIONS(X)                                            \
    X(uint8, uint8_t, uint16, uint16_t) X(uint8, uint8_t, uint32, uint32_t)   \
    X(uint8, uint8_t, uint64, uint64_t) X(uint8, uint8_t, usize, size_t)      \
    X(uint16, uint16_t, uint8, uint8_t) X(uint16, uint16_t, uint32, uint32_t) \
    X(uint16, uint16_t, uint64, uint64_t) X(uint16, uint16_t, usize, size_t)  \
    X(uint32, uint32_t, uint8, uint8_t) X(uint32, uint32_t, uint16, uint16_t) \
    X(uint32, uint32_t, uint64, uint64_t) X(uint32, uint32_t, usize, size_t)  \
    X(uint64, uint64_t, uint8, uint8_t) X(uint64, uint64_t, uint16, uint16_t) \
    X(uint64, uint64_t, uint32, uint32_t) X(uint64, uint64_t, usize, size_t)  \
    X(usize, size_t, uint8, uint8_t) X(usize, size_t, uint16, uint16_t)       \
    X(usize, size_t, uint32, uint32_t) X(usize, size_t, uint64, uint64_t)     \
    X(int8, int8_t, int16, int16_t) X(int8, int8_t, int32, int32_t)           \
    X(int8, int8_t, int64, int64_t) X(int8, int8_t, isize, ptrdiff_t)         \
    X(int16, int16_t, int8, int8_t) X(int16, int16_t, int32, int32_t)         \
    X(int16, int16_t, int64, int64_t) X(int16, int16_t, isize, ptrdiff_t)     \
    X(int32, int32_t, int8, int8_t) X(int32, int32_t, int16, int16_t)         \
    X(int32, int32_t, int64, int64_t) X(int32, int32_t, isize, ptrdiff_t)     \
    X(int64, int64_t, int8, int8_t) X(int64, int64_t, int16, int16_t)         \
    X(int64, int64_t, int32, int32_t) X(int64, int64_t, isize, ptrdiff_t)     \
    X(isize, ptrdiff_t, int8, int8_t) X(isize, ptrdiff_t, int16, int16_t)     \
    X(isize, ptrdiff_t, int32, int32_t) X(isize, ptrdiff_t, int64, int64_t)

#define QUARN_DECLARE_WIDTH_CONVERSION(from, From, to, To) \
    QUARN_API To quarn_lean_##from##_to_##to(From a) QUARN_NOEXCEPT;
QUARN_WIDTH_CONVERSIONS(QUARN_DECLARE_WIDTH_CONVERSION)

/* ------------------------------------------------------------------------------------------ */
/* Hashing and Bool                                                                          */
/* ------------------------------------------------------------------------------------------ */

/* Combines the hash h with k (m = 0xC6A4A7935BD1E995, modulo 2^64):
 * a = k * m; a ^= a >> 47; a ^= m; h ^= a; returns h * m. */
QUARN_API uint64_t quarn_lean_uint64_mix_hash(uint64_t h, uint64_t k) QUARN_NOEXCEPT;

/* a and b, a or b, for two Bool bytes that the caller has both evaluated. */
QUARN_API uint8_t quarn_lean_strict_and(uint8_t a, uint8_t b) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_strict_or(uint8_t a, uint8_t b) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Float and Float32                                                                         */
/* ------------------------------------------------------------------------------------------ */

/* X(name, C type, bit pattern type): float is binary64, float32 binary32. */
#define QUARN_FLOAT_TYPES(X) X(float, double, uint64_t) X(float32, float, uint32_t)

/*
 *   add, sub, mul, div   IEEE-754 in the type's precision, rounding to nearest.
 *   negate               flips the sign bit (of NaN and zero too).
 *   beq                  IEEE equality: NaN equals nothing, +0 equals -0.
 *   decLe, decLt         a <= b, a < b; false when either is NaN.
 *   isnan, isinf, isfinite  classification; isinf only for the infinities, isfinite when the
 *                        exponent field is not all ones.
 *   to_bits              the bit pattern; every NaN gives the canonical quiet NaN
 *                        (0x7FF8000000000000 / 0x7FC00000).
 *   of_bits              the value with that pattern; any NaN pattern gives the canonical NaN.
 *   frexp                the pair (mantissa, exponent) of C frexp: a constructor of tag 0 with
 *                        a new boxed float of the mantissa and the exponent as a small `Int`
 *                        (0 for infinities and NaN). Returns an owned reference.
 *   scaleb               x * 2^e for an `Int` e: C scalbn for a boxed e; for a big e, +0.0
 *                        when x is zero or e negative, else x * +inf. Borrows `e`.
 *   to_string            exactly printf's "%.6f" text of the exact value (rounded to nearest,
 *                        ties to even); "NaN", "inf", "-inf". Float32 is widened first.
 *                        Returns an owned reference to a new String.
 */
#define QUARN_DECLARE_FLOAT(name, F, Bits)                                       \
    QUARN_API F quarn_lean_##name##_add(F a, F b) QUARN_NOEXCEPT;                \
    QUARN_API F quarn_lean_##name##_sub(F a, F b) QUARN_NOEXCEPT;                \
    QUARN_API F quarn_lean_##name##_mul(F a, F b) QUARN_NOEXCEPT;                \
    QUARN_API F quarn_lean_##name##_div(F a, F b) QUARN_NOEXCEPT;                \
    QUARN_API F quarn_lean_##name##_negate(F a) QUARN_NOEXCEPT;                  \
    QUARN_API uint8_t quarn_lean_##name##_beq(F a, F b) QUARN_NOEXCEPT;          \
    QUARN_API uint8_t quarn_lean_##name##_decLe(F a, F b) QUARN_NOEXCEPT;        \
    QUARN_API uint8_t quarn_lean_##name##_decLt(F a, F b) QUARN_NOEXCEPT;        \
    QUARN_API uint8_t quarn_lean_##name##_isnan(F a) QUARN_NOEXCEPT;             \
    QUARN_API uint8_t quarn_lean_##name##_isinf(F a) QUARN_NOEXCEPT;             \
    QUARN_API uint8_t quarn_lean_##name##_isfinite(F a) QUARN_NOEXCEPT;          \
    QUARN_API Bits quarn_lean_##name##_to_bits(F a) QUARN_NOEXCEPT;              \
    QUARN_API F quarn_lean_##name##_of_bits(Bits bits) QUARN_NOEXCEPT;           \
    QUARN_API quarn_object *quarn_lean_##name##_frexp(F x) QUARN_NOEXCEPT;       \
    QUARN_API F quarn_lean_##name##_scaleb(F x, quarn_object *e) QUARN_NOEXCEPT; \
    QUARN_API quarn_object *quarn_lean_##name##_to_string(F x) QUARN_NOEXCEPT;
QUARN_FLOAT_TYPES(QUARN_DECLARE_FLOAT)

/*
 * quarn_lean_float_to_<type> and quarn_lean_float32_to_<type>: saturating truncation.
 * NaN gives 0; a value at or above 2^n (unsigned) or 2^(n-1) (signed) gives MAX; a value
 * below 0 (unsigned) or at or below -2^(n-1) - 1 (signed) gives MIN; anything else is
 * truncated toward zero.
 */
#define QUARN_DECLARE_FLOAT_TO_INTEGER(type, T)                      \
    QUARN_API T quarn_lean_float_to_##type(double x) QUARN_NOEXCEPT; \
    QUARN_API T quarn_lean_float32_to_##type(float x) QUARN_NOEXCEPT;
QUARN_INTEGER_TYPES(QUARN_DECLARE_FLOAT_TO_INTEGER)

/* Rounding to the nearest binary32 value; exact widening to binary64. */
QUARN_API float quarn_lean_float_to_float32(double x) QUARN_NOEXCEPT;
QUARN_API double quarn_lean_float32_to_float(float x) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Mathematics library                                                                       */
/* ------------------------------------------------------------------------------------------ */

/*
 * quarn_<f> and quarn_<f>f return exactly what the C library's <f> and <f>f return (round
 * rounds halves away from zero; fabs clears the sign bit; sqrt is the hardware square root).
 */
#define QUARN_MATH_UNARY(X)                                                                  \
    X(acos) X(acosh) X(asin) X(asinh) X(atan) X(atanh) X(cbrt) X(ceil) X(cos) X(cosh) X(exp) \
    X(exp2) X(fabs) X(floor) X(log) X(log10) X(log2) X(round) X(sin) X(sinh) X(sqrt) X(tan)  \
    X(tanh)
#define QUARN_MATH_BINARY(X) X(atan2) X(pow)

#define QUARN_DECLARE_MATH_UNARY(name)                      \
    QUARN_API double quarn_##name(double x) QUARN_NOEXCEPT; \
    QUARN_API float quarn_##name##f(float x) QUARN_NOEXCEPT;
#define QUARN_DECLARE_MATH_BINARY(name)                               \
    QUARN_API double quarn_##name(double x, double y) QUARN_NOEXCEPT; \
    QUARN_API float quarn_##name##f(float x, float y) QUARN_NOEXCEPT;
QUARN_MATH_UNARY(QUARN_DECLARE_MATH_UNARY)
QUARN_MATH_BINARY(QUARN_DECLARE_MATH_BINARY)

#undef QUARN_DECLARE_WRAPPING
#undef QUARN_DECLARE_DIVISION
#undef QUARN_DECLARE_SHIFTS
#undef QUARN_DECLARE_COMPARISONS
#undef QUARN_DECLARE_CONVERSIONS
#undef QUARN_DECLARE_UNSIGNED_ONLY
#undef QUARN_DECLARE_SIGNED_ONLY
#undef QUARN_DECLARE_WIDTH_CONVERSION
#undef QUARN_DECLARE_FLOAT
#undef QUARN_DECLARE_FLOAT_TO_INTEGER
#undef QUARN_DECLARE_MATH_UNARY
#undef QUARN_DECLARE_MATH_BINARY

QUARN_END_DECLS

#endif /* QUARN_FIXED_H */

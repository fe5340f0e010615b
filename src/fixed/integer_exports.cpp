// The exported fixed-width integer primitives: every family of integer_rules.h under its
// names, for the ten types.
//
// Where several names are one function, the body is defined once and the other names are
// aliases of it (QUARN_EXPORT_ALIAS), each declared with its own name's signature from
// quarn/fixed.h. The signatures differ only in the signedness of same-width integers, which
// travel in the same registers; the compiler's warning about that is silenced here.
#include "fixed/integer_rules.h"
#include "number/nat.h"
#include "object/export.h"
#include "quarn/fixed.h"

#pragma GCC diagnostic ignored "-Wattribute-alias"

namespace fixed = quarn::fixed;

#define EXPORT extern "C"

// ---- families decided by the bits alone: one body per width ------------------------------
// The body is exported under the unsigned name; the signed name of the same width, and usize
// and isize for 64 bits, are aliases.

#define PER_WIDTH_BODIES(type, T)                                                                  \
    EXPORT T quarn_lean_##type##_add(T a, T b) noexcept { return fixed::add(a, b); }               \
    EXPORT T quarn_lean_##type##_sub(T a, T b) noexcept { return fixed::sub(a, b); }               \
    EXPORT T quarn_lean_##type##_mul(T a, T b) noexcept { return fixed::mul(a, b); }               \
    EXPORT T quarn_lean_##type##_neg(T a) noexcept { return fixed::neg(a); }                       \
    EXPORT T quarn_lean_##type##_complement(T a) noexcept { return fixed::complement(a); }         \
    EXPORT T quarn_lean_##type##_land(T a, T b) noexcept { return fixed::land(a, b); }             \
    EXPORT T quarn_lean_##type##_lor(T a, T b) noexcept { return fixed::lor(a, b); }               \
    EXPORT T quarn_lean_##type##_xor(T a, T b) noexcept { return fixed::lxor(a, b); }              \
    EXPORT T quarn_lean_##type##_shift_left(T a, T b) noexcept { return fixed::shift_left(a, b); } \
    EXPORT uint8_t quarn_lean_##type##_dec_eq(T a, T b) noexcept { return fixed::dec_eq(a, b); }   \
    EXPORT T quarn_lean_##type##_of_nat(quarn_object *n) noexcept {                                \
        return T(quarn::number::nat_low_bits(n));                                                  \
    }

#define PER_WIDTH_ALIASES(type, T, body)                                                           \
    EXPORT T quarn_lean_##type##_add(T, T) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body##_add);   \
    EXPORT T quarn_lean_##type##_sub(T, T) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body##_sub);   \
    EXPORT T quarn_lean_##type##_mul(T, T) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body##_mul);   \
    EXPORT T quarn_lean_##type##_neg(T) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body##_neg);      \
    EXPORT T quarn_lean_##type##_complement(T) noexcept                                            \
        QUARN_EXPORT_ALIAS(quarn_lean_##body##_complement);                                        \
    EXPORT T quarn_lean_##type##_land(T, T) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body##_land); \
    EXPORT T quarn_lean_##type##_lor(T, T) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body##_lor);   \
    EXPORT T quarn_lean_##type##_xor(T, T) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body##_xor);   \
    EXPORT T quarn_lean_##type##_shift_left(T, T) noexcept                                         \
        QUARN_EXPORT_ALIAS(quarn_lean_##body##_shift_left);                                        \
    EXPORT uint8_t quarn_lean_##type##_dec_eq(T, T) noexcept                                       \
        QUARN_EXPORT_ALIAS(quarn_lean_##body##_dec_eq);                                            \
    EXPORT T quarn_lean_##type##_of_nat(quarn_object *) noexcept                                   \
        QUARN_EXPORT_ALIAS(quarn_lean_##body##_of_nat);

PER_WIDTH_BODIES(uint8, uint8_t)
PER_WIDTH_BODIES(uint16, uint16_t)
PER_WIDTH_BODIES(uint32, uint32_t)
PER_WIDTH_BODIES(uint64, uint64_t)
PER_WIDTH_ALIASES(int8, int8_t, uint8)
PER_WIDTH_ALIASES(int16, int16_t, uint16)
PER_WIDTH_ALIASES(int32, int32_t, uint32)
PER_WIDTH_ALIASES(int64, int64_t, uint64)
PER_WIDTH_ALIASES(usize, size_t, uint64)
PER_WIDTH_ALIASES(isize, ptrdiff_t, uint64)

// Up to 32 bits a boxed `Int` and a boxed `Nat` agree modulo 2^n (the low bits of the word
// are the same), so of_int is of_nat. At 64 bits a boxed `Int` is sign-extended from 32.
EXPORT int8_t quarn_lean_int8_of_int(quarn_object *) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_uint8_of_nat);
EXPORT int16_t quarn_lean_int16_of_int(quarn_object *) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_uint16_of_nat);
EXPORT int32_t quarn_lean_int32_of_int(quarn_object *) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_uint32_of_nat);
EXPORT int64_t quarn_lean_int64_of_int(quarn_object *i) noexcept {
    return int64_t(quarn::number::int_low_bits(i));
}
EXPORT ptrdiff_t quarn_lean_isize_of_int(quarn_object *) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_int64_of_int);

// ---- families decided by the signedness: one body per type -------------------------------
// USize and ISize are aliases of UInt64 and Int64.

#define PER_TYPE_BODIES(type, T)                                                                     \
    EXPORT T quarn_lean_##type##_div(T a, T b) noexcept { return fixed::div(a, b); }                 \
    EXPORT T quarn_lean_##type##_mod(T a, T b) noexcept { return fixed::mod(a, b); }                 \
    EXPORT T quarn_lean_##type##_shift_right(T a, T b) noexcept { return fixed::shift_right(a, b); } \
    EXPORT uint8_t quarn_lean_##type##_dec_le(T a, T b) noexcept { return fixed::dec_le(a, b); }     \
    EXPORT uint8_t quarn_lean_##type##_dec_lt(T a, T b) noexcept { return fixed::dec_lt(a, b); }     \
    EXPORT double quarn_lean_##type##_to_float(T a) noexcept { return double(a); }                   \
    EXPORT float quarn_lean_##type##_to_float32(T a) noexcept { return float(a); }

#define PER_TYPE_ALIASES(type, T, body)                                                          \
    EXPORT T quarn_lean_##type##_div(T, T) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body##_div); \
    EXPORT T quarn_lean_##type##_mod(T, T) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body##_mod); \
    EXPORT T quarn_lean_##type##_shift_right(T, T) noexcept                                      \
        QUARN_EXPORT_ALIAS(quarn_lean_##body##_shift_right);                                     \
    EXPORT uint8_t quarn_lean_##type##_dec_le(T, T) noexcept                                     \
        QUARN_EXPORT_ALIAS(quarn_lean_##body##_dec_le);                                          \
    EXPORT uint8_t quarn_lean_##type##_dec_lt(T, T) noexcept                                     \
        QUARN_EXPORT_ALIAS(quarn_lean_##body##_dec_lt);                                          \
    EXPORT double quarn_lean_##type##_to_float(T) noexcept                                       \
        QUARN_EXPORT_ALIAS(quarn_lean_##body##_to_float);                                        \
    EXPORT float quarn_lean_##type##_to_float32(T) noexcept                                      \
        QUARN_EXPORT_ALIAS(quarn_lean_##body##_to_float32);

PER_TYPE_BODIES(uint8, uint8_t)
PER_TYPE_BODIES(uint16, uint16_t)
PER_TYPE_BODIES(uint32, uint32_t)
PER_TYPE_BODIES(uint64, uint64_t)
PER_TYPE_BODIES(int8, int8_t)
PER_TYPE_BODIES(int16, int16_t)
PER_TYPE_BODIES(int32, int32_t)
PER_TYPE_BODIES(int64, int64_t)
PER_TYPE_ALIASES(usize, size_t, uint64)
PER_TYPE_ALIASES(isize, ptrdiff_t, int64)

// ---- unsigned only ------------------------------------------------------------------------

#define UNSIGNED_ONLY(type, T)                                                 \
    EXPORT T quarn_lean_##type##_log2(T a) noexcept { return fixed::log2(a); } \
    EXPORT T quarn_lean_##type##_of_nat_mk(quarn_object *n) noexcept {         \
        T value = T(quarn::number::nat_low_bits(n));                           \
        quarn_dec(n);                                                          \
        return value;                                                          \
    }                                                                          \
    EXPORT quarn_object *quarn_lean_##type##_to_nat(T a) noexcept {            \
        return quarn::number::nat_of_uint64(a);                                \
    }

UNSIGNED_ONLY(uint8, uint8_t)
UNSIGNED_ONLY(uint16, uint16_t)
UNSIGNED_ONLY(uint32, uint32_t)
UNSIGNED_ONLY(uint64, uint64_t)
EXPORT size_t quarn_lean_usize_log2(size_t) noexcept QUARN_EXPORT_ALIAS(quarn_lean_uint64_log2);
EXPORT size_t quarn_lean_usize_of_nat_mk(quarn_object *) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_uint64_of_nat_mk);
EXPORT quarn_object *quarn_lean_usize_to_nat(size_t) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_uint64_to_nat);

// ---- signed only --------------------------------------------------------------------------

EXPORT int8_t quarn_lean_int8_abs(int8_t a) noexcept { return fixed::abs(a); }
EXPORT int16_t quarn_lean_int16_abs(int16_t a) noexcept { return fixed::abs(a); }
EXPORT int32_t quarn_lean_int32_abs(int32_t a) noexcept { return fixed::abs(a); }
EXPORT int64_t quarn_lean_int64_abs(int64_t a) noexcept { return fixed::abs(a); }
EXPORT ptrdiff_t quarn_lean_isize_abs(ptrdiff_t) noexcept QUARN_EXPORT_ALIAS(quarn_lean_int64_abs);

EXPORT quarn_object *quarn_lean_int8_to_int(int8_t a) noexcept { return quarn::number::box_int(a); }
EXPORT quarn_object *quarn_lean_int16_to_int(int16_t a) noexcept { return quarn::number::box_int(a); }
EXPORT quarn_object *quarn_lean_int32_to_int(int32_t a) noexcept { return quarn::number::box_int(a); }
EXPORT quarn_object *quarn_lean_int64_to_int_sint(int64_t a) noexcept {
    return quarn::number::int_of_int64(a);
}
EXPORT quarn_object *quarn_lean_isize_to_int(ptrdiff_t) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_int64_to_int_sint);

// ---- width conversions and Bool ----------------------------------------------------------
// Bodies between the four widths of each signedness; usize and isize names are aliases of
// their 64-bit twins, and a Bool converts as the zero-extension of its byte.

#define CONVERSION(from, From, to, To) \
    EXPORT To quarn_lean_##from##_to_##to(From a) noexcept { return fixed::convert<To>(a); }
#define CONVERSION_ALIAS(name, From, To, body) \
    EXPORT To quarn_lean_##name(From) noexcept QUARN_EXPORT_ALIAS(quarn_lean_##body);

CONVERSION(uint8, uint8_t, uint16, uint16_t)
CONVERSION(uint8, uint8_t, uint32, uint32_t)
CONVERSION(uint8, uint8_t, uint64, uint64_t)
CONVERSION(uint16, uint16_t, uint8, uint8_t)
CONVERSION(uint16, uint16_t, uint32, uint32_t)
CONVERSION(uint16, uint16_t, uint64, uint64_t)
CONVERSION(uint32, uint32_t, uint8, uint8_t)
CONVERSION(uint32, uint32_t, uint16, uint16_t)
CONVERSION(uint32, uint32_t, uint64, uint64_t)
CONVERSION(uint64, uint64_t, uint8, uint8_t)
CONVERSION(uint64, uint64_t, uint16, uint16_t)
CONVERSION(uint64, uint64_t, uint32, uint32_t)
CONVERSION(uint64, uint64_t, usize, size_t)
CONVERSION_ALIAS(uint8_to_usize, uint8_t, size_t, uint8_to_uint64)
CONVERSION_ALIAS(uint16_to_usize, uint16_t, size_t, uint16_to_uint64)
CONVERSION_ALIAS(uint32_to_usize, uint32_t, size_t, uint32_to_uint64)
CONVERSION_ALIAS(usize_to_uint8, size_t, uint8_t, uint64_to_uint8)
CONVERSION_ALIAS(usize_to_uint16, size_t, uint16_t, uint64_to_uint16)
CONVERSION_ALIAS(usize_to_uint32, size_t, uint32_t, uint64_to_uint32)
CONVERSION_ALIAS(usize_to_uint64, size_t, uint64_t, uint64_to_usize)

CONVERSION(int8, int8_t, int16, int16_t)
CONVERSION(int8, int8_t, int32, int32_t)
CONVERSION(int8, int8_t, int64, int64_t)
CONVERSION(int16, int16_t, int8, int8_t)
CONVERSION(int16, int16_t, int32, int32_t)
CONVERSION(int16, int16_t, int64, int64_t)
CONVERSION(int32, int32_t, int8, int8_t)
CONVERSION(int32, int32_t, int16, int16_t)
CONVERSION(int32, int32_t, int64, int64_t)
CONVERSION(int64, int64_t, int8, int8_t)
CONVERSION(int64, int64_t, int16, int16_t)
CONVERSION(int64, int64_t, int32, int32_t)
CONVERSION(int64, int64_t, isize, ptrdiff_t)
CONVERSION_ALIAS(int8_to_isize, int8_t, ptrdiff_t, int8_to_int64)
CONVERSION_ALIAS(int16_to_isize, int16_t, ptrdiff_t, int16_to_int64)
CONVERSION_ALIAS(int32_to_isize, int32_t, ptrdiff_t, int32_to_int64)
CONVERSION_ALIAS(isize_to_int8, ptrdiff_t, int8_t, int64_to_int8)
CONVERSION_ALIAS(isize_to_int16, ptrdiff_t, int16_t, int64_to_int16)
CONVERSION_ALIAS(isize_to_int32, ptrdiff_t, int32_t, int64_to_int32)
CONVERSION_ALIAS(isize_to_int64, ptrdiff_t, int64_t, int64_to_isize)

EXPORT uint8_t quarn_lean_bool_to_uint8(uint8_t b) noexcept { return b; }
CONVERSION_ALIAS(bool_to_int8, uint8_t, int8_t, bool_to_uint8)
CONVERSION_ALIAS(bool_to_uint16, uint8_t, uint16_t, uint8_to_uint16)
CONVERSION_ALIAS(bool_to_int16, uint8_t, int16_t, uint8_to_uint16)
CONVERSION_ALIAS(bool_to_uint32, uint8_t, uint32_t, uint8_to_uint32)
CONVERSION_ALIAS(bool_to_int32, uint8_t, int32_t, uint8_to_uint32)
CONVERSION_ALIAS(bool_to_uint64, uint8_t, uint64_t, uint8_to_uint64)
CONVERSION_ALIAS(bool_to_int64, uint8_t, int64_t, uint8_to_uint64)
CONVERSION_ALIAS(bool_to_usize, uint8_t, size_t, uint8_to_uint64)
CONVERSION_ALIAS(bool_to_isize, uint8_t, ptrdiff_t, uint8_to_uint64)

// ---- hashing and strict Bool operations ---------------------------------------------------

EXPORT uint64_t quarn_lean_uint64_mix_hash(uint64_t h, uint64_t k) noexcept {
    return fixed::mix_hash(h, k);
}
EXPORT uint8_t quarn_lean_strict_and(uint8_t a, uint8_t b) noexcept { return a && b; }
EXPORT uint8_t quarn_lean_strict_or(uint8_t a, uint8_t b) noexcept { return a || b; }

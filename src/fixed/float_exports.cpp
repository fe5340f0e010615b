// The exported Float and Float32 primitives: the families of float_rules.h for both
// precisions, conversions to the integer types, decomposition, scaling and text.
#include <cmath>
#include <limits>

#include "fixed/float_rules.h"
#include "fixed/float_to_string.h"
#include "number/nat.h"
#include "object/export.h"
#include "quarn/fixed.h"
#include "string/string_alloc.h"

#pragma GCC diagnostic ignored "-Wattribute-alias"  // see integer_exports.cpp

namespace fixed = quarn::fixed;

namespace {

inline quarn_object *box(double x) noexcept { return quarn_box_float(x); }
inline quarn_object *box(float x) noexcept { return quarn_box_float32(x); }

// The pair (mantissa, exponent) of C frexp; the exponent is 0 for infinities and NaN.
// Two allocations: the pair, then the boxed mantissa.
template <std::floating_point F>
quarn_object *frexp_pair(F x) noexcept {
    int exponent = 0;
    F mantissa = std::frexp(x, &exponent);
    if (!std::isfinite(x)) exponent = 0;
    quarn_object *pair = quarn_alloc_ctor(0, 2, 0);
    quarn_ctor_set(pair, 0, box(mantissa));
    quarn_ctor_set(pair, 1, quarn::number::box_int(exponent));
    return pair;
}

// x * 2^e. A boxed e fits an int and goes to scalbn. A big e is beyond every exponent:
// zero stays +0.0, a negative e gives +0.0 and a positive one x * +inf (NaN stays NaN).
template <std::floating_point F>
F scale_by_power_of_two(F x, const quarn_object *e) noexcept {
    if (quarn_is_scalar(e)) return std::scalbn(x, quarn::number::unbox_int(e));
    if (x == 0) return F(0);
    switch (reinterpret_cast<const quarn_bignum_object *>(e)->sign) {
        case QUARN_SIGN_NEGATIVE: return F(0);
        case QUARN_SIGN_POSITIVE: return x * std::numeric_limits<F>::infinity();
        default: return x;  // a big zero is not a normalised value; it scales by 2^0
    }
}

quarn_object *float_to_string(double x) noexcept {
    char text[fixed::kFixed6Capacity];
    size_t n = fixed::format_fixed6(x, text);
    return quarn::string::make_string(text, n, n);  // ASCII: one code point per byte
}

}  // namespace

#define EXPORT extern "C"

#define FLOAT_FAMILIES(name, F, Bits)                                                            \
    EXPORT F quarn_lean_##name##_add(F a, F b) noexcept { return a + b; }                        \
    EXPORT F quarn_lean_##name##_sub(F a, F b) noexcept { return a - b; }                        \
    EXPORT F quarn_lean_##name##_mul(F a, F b) noexcept { return a * b; }                        \
    EXPORT F quarn_lean_##name##_div(F a, F b) noexcept { return a / b; }                        \
    EXPORT F quarn_lean_##name##_negate(F a) noexcept { return -a; }                             \
    EXPORT uint8_t quarn_lean_##name##_beq(F a, F b) noexcept { return a == b; }                 \
    EXPORT uint8_t quarn_lean_##name##_decLe(F a, F b) noexcept { return a <= b; }               \
    EXPORT uint8_t quarn_lean_##name##_decLt(F a, F b) noexcept { return a < b; }                \
    EXPORT uint8_t quarn_lean_##name##_isnan(F a) noexcept { return std::isnan(a); }             \
    EXPORT uint8_t quarn_lean_##name##_isinf(F a) noexcept { return std::isinf(a); }             \
    EXPORT uint8_t quarn_lean_##name##_isfinite(F a) noexcept { return std::isfinite(a); }       \
    EXPORT Bits quarn_lean_##name##_to_bits(F a) noexcept { return fixed::to_bits(a); }          \
    EXPORT F quarn_lean_##name##_of_bits(Bits bits) noexcept { return fixed::of_bits<F>(bits); } \
    EXPORT quarn_object *quarn_lean_##name##_frexp(F x) noexcept { return frexp_pair(x); }       \
    EXPORT F quarn_lean_##name##_scaleb(F x, quarn_object *e) noexcept {                         \
        return scale_by_power_of_two(x, e);                                                      \
    }                                                                                            \
    EXPORT quarn_object *quarn_lean_##name##_to_string(F x) noexcept { return float_to_string(x); }
QUARN_FLOAT_TYPES(FLOAT_FAMILIES)

EXPORT float quarn_lean_float_to_float32(double x) noexcept { return float(x); }
EXPORT double quarn_lean_float32_to_float(float x) noexcept { return double(x); }

// Saturating conversions to the eight integer types; usize and isize are the 64-bit bodies.
#define FLOAT_TO_INTEGER(type, T)                             \
    EXPORT T quarn_lean_float_to_##type(double x) noexcept {  \
        return fixed::saturating_truncate<T>(x);              \
    }                                                         \
    EXPORT T quarn_lean_float32_to_##type(float x) noexcept { \
        return fixed::saturating_truncate<T>(x);              \
    }
FLOAT_TO_INTEGER(uint8, uint8_t)
FLOAT_TO_INTEGER(uint16, uint16_t)
FLOAT_TO_INTEGER(uint32, uint32_t)
FLOAT_TO_INTEGER(uint64, uint64_t)
FLOAT_TO_INTEGER(int8, int8_t)
FLOAT_TO_INTEGER(int16, int16_t)
FLOAT_TO_INTEGER(int32, int32_t)
FLOAT_TO_INTEGER(int64, int64_t)
EXPORT size_t quarn_lean_float_to_usize(double) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_float_to_uint64);
EXPORT ptrdiff_t quarn_lean_float_to_isize(double) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_float_to_int64);
EXPORT size_t quarn_lean_float32_to_usize(float) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_float32_to_uint64);
EXPORT ptrdiff_t quarn_lean_float32_to_isize(float) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_float32_to_int64);

// Reading `Nat` and `Int` arguments as fixed-width integers, and making `Nat` and `Int`
// results from them.
#pragma once

#include <cstdint>

#include "number/bignum.h"
#include "quarn/object.h"

namespace quarn::fixed {

// A big number's value modulo 2^64: its lowest digit (0 for zero), negated when negative.
inline uint64_t big_low_bits(const quarn_object *o) noexcept {
    auto *big = reinterpret_cast<const quarn_bignum_object *>(o);
    number::DigitView magnitude = number::magnitude_of(big);
    uint64_t low = magnitude.count == 0 ? 0 : magnitude.digits[0];
    return big->sign == QUARN_SIGN_NEGATIVE ? 0 - low : low;
}

// A `Nat` modulo 2^64. Borrows n.
inline uint64_t nat_low_bits(const quarn_object *n) noexcept {
    return quarn_is_scalar(n) ? quarn_unbox(n) : big_low_bits(n);
}

// The value of a boxed `Int`: the 32-bit pattern in bits 1 to 32 of the word.
inline int32_t small_int_value(const quarn_object *i) noexcept {
    return static_cast<int32_t>(static_cast<uint32_t>(quarn_unbox(i)));
}

// An `Int` modulo 2^64. Borrows i.
inline uint64_t int_low_bits(const quarn_object *i) noexcept {
    if (!quarn_is_scalar(i)) return big_low_bits(i);
    return static_cast<uint64_t>(int64_t{small_int_value(i)});
}

// The boxed `Int` of a value in [-2^31, 2^31 - 1]: its 32-bit pattern, zero-extended.
inline quarn_object *box_small_int(int32_t v) noexcept {
    return quarn_box(static_cast<uint32_t>(v));
}

// The `Nat` of a 64-bit value: boxed below 2^63, a one-digit big number from there on.
inline quarn_object *nat_of_uint64(uint64_t v) noexcept {
    if (v >> 63 == 0) return quarn_box(v);
    return number::make_one_digit(v, QUARN_SIGN_POSITIVE);
}

// The `Int` of a 64-bit signed value: boxed in the 32-bit range, else a one-digit big
// number holding the magnitude (2^63 for MIN) and the sign.
inline quarn_object *int_of_int64(int64_t v) noexcept {
    if (v == static_cast<int32_t>(v)) return box_small_int(static_cast<int32_t>(v));
    if (v < 0) return number::make_one_digit(0 - static_cast<uint64_t>(v), QUARN_SIGN_NEGATIVE);
    return number::make_one_digit(static_cast<uint64_t>(v), QUARN_SIGN_POSITIVE);
}

}  // namespace quarn::fixed

// `Nat` and `Int` values for the rest of the runtime: the boxed ranges, normalisation of a
// computed Integer into a value word, reading a value word into an Integer, and the small
// conversions other areas need.
//
// A `Nat` below 2^63 is the scalar word 2n + 1; from 2^63 on it is a big-number object. An
// `Int` in [-2^31, 2^31 - 1] is the scalar word of its 32-bit two's-complement pattern
// (zero-extended, so -1 is 0x1FFFFFFFF); outside that range it is a big-number object. So a
// non-negative small Int has the same word as the equal Nat, and 2^40 is a boxed Nat but a
// big Int.
#pragma once

#include <cstdint>
#include <utility>

#include "number/bignum.h"
#include "number/integer.h"
#include "quarn/nat.h"

namespace quarn::number {

// The first `Nat` that is not boxed.
inline constexpr uint64_t kFirstBigNat = uint64_t{1} << 63;

inline bool is_small_int(int64_t v) noexcept { return v >= INT32_MIN && v <= INT32_MAX; }

// The scalar word of a small Int.
inline quarn_object *box_int(int32_t v) noexcept { return quarn_box_int(v); }

// The value of a small Int's word: bits 1 to 32, as a signed 32-bit number.
inline int32_t unbox_int(const quarn_object *v) noexcept { return quarn_unbox_int(v); }

// Nat normalisation: zero and values below 2^63 become scalars (a digit array is freed),
// anything else a big-number object that takes over v's digits. A negative v ends the
// process with "negative value converted to Nat". Returns an owned reference.
inline quarn_object *to_nat(Integer &&v) noexcept;

// Int normalisation: values in [-2^31, 2^31 - 1] become scalars, anything else a
// big-number object. Returns an owned reference.
inline quarn_object *to_int(Integer &&v) noexcept;

// The value of a Nat or Int word, read in place. A scalar's digit is written into
// `scratch`, so the view lives no longer than it; an object's view borrows its digits.
inline IntegerView view_nat(const quarn_object *v, uint64_t &scratch) noexcept {
    if (quarn_is_scalar(v)) {
        scratch = quarn_unbox(v);
        return {&scratch, scratch != 0, false};
    }
    return view_of(as_bignum(v));
}

inline IntegerView view_int(const quarn_object *v, uint64_t &scratch) noexcept {
    if (quarn_is_scalar(v)) {
        int64_t value = unbox_int(v);
        scratch = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        return {&scratch, value != 0, value < 0};
    }
    return view_of(as_bignum(v));
}

// A copy of the value of a Nat or Int word. Borrows v.
inline Integer read_nat(const quarn_object *v) noexcept {
    uint64_t scratch;
    return Integer::copy_of(view_nat(v, scratch));
}
inline Integer read_int(const quarn_object *v) noexcept {
    uint64_t scratch;
    return Integer::copy_of(view_int(v, scratch));
}

// The Nat n: a scalar below 2^63, else a one-digit big number. Returns an owned reference.
inline quarn_object *nat_of_uint64(uint64_t n) noexcept {
    return n < kFirstBigNat ? quarn_box(n) : make_one_digit(n, QUARN_SIGN_POSITIVE);
}

// The Int v. Returns an owned reference.
inline quarn_object *int_of_int64(int64_t v) noexcept {
    if (is_small_int(v)) return box_int(static_cast<int32_t>(v));
    uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    return make_one_digit(magnitude, v < 0 ? QUARN_SIGN_NEGATIVE : QUARN_SIGN_POSITIVE);
}

// A Nat or Int modulo 2^64: a scalar's value (sign-extended for an Int), or a big number's
// lowest digit (0 for zero), negated when the number is negative. Borrow v.
inline uint64_t big_low_bits(const quarn_object *v) noexcept {
    const quarn_bignum_object *big = as_bignum(v);
    DigitView magnitude = magnitude_of(big);
    uint64_t low = magnitude.count == 0 ? 0 : magnitude.digits[0];
    return big->sign == QUARN_SIGN_NEGATIVE ? 0 - low : low;
}
inline uint64_t nat_low_bits(const quarn_object *v) noexcept {
    return quarn_is_scalar(v) ? quarn_unbox(v) : big_low_bits(v);
}
inline uint64_t int_low_bits(const quarn_object *v) noexcept {
    return quarn_is_scalar(v) ? static_cast<uint64_t>(int64_t{unbox_int(v)}) : big_low_bits(v);
}

// n + 1 and n - 1 (0 for 0) of a Nat, for positions and counters that step past the boxed
// range. Borrow n; return an owned reference.
quarn_object *nat_succ(const quarn_object *n) noexcept;
quarn_object *nat_pred(const quarn_object *n) noexcept;

// ---- inline definitions ---------------------------------------------------------------------

[[noreturn]] void negative_to_nat() noexcept;

inline quarn_object *to_nat(Integer &&v) noexcept {
    if (v.is_negative()) [[unlikely]] negative_to_nat();
    if (v.size() <= 1) {
        uint64_t n = v.size() == 0 ? 0 : v.digits()[0];
        if (n < kFirstBigNat) {
            Integer dropped = std::move(v);  // frees an array the value may have had
            return quarn_box(n);
        }
    }
    return make_bignum(std::move(v));
}

inline quarn_object *to_int(Integer &&v) noexcept {
    if (v.size() <= 1) {
        uint64_t magnitude = v.size() == 0 ? 0 : v.digits()[0];
        bool negative = v.is_negative();
        if (magnitude <= (negative ? uint64_t{1} << 31 : INT32_MAX)) {
            Integer dropped = std::move(v);
            auto value = static_cast<int64_t>(magnitude);
            return box_int(static_cast<int32_t>(negative ? -value : value));
        }
    }
    return make_bignum(std::move(v));
}

}  // namespace quarn::number

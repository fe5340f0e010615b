// The rules of the fixed-width integer families, one template each, for every integer type.
// integer_exports.cpp instantiates them under the exported names.
//
// Arithmetic is done on unsigned bits, so nothing overflows in C++ terms: types narrower
// than `unsigned` are widened to `unsigned` first (not promoted to `int`, where a product of
// two UInt16 could overflow), and the result is reduced modulo 2^n by the conversion back.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace quarn::fixed {

template <std::integral T>
using Bits = std::conditional_t<(sizeof(T) < sizeof(unsigned)), unsigned, std::make_unsigned_t<T>>;

template <std::integral T>
inline constexpr unsigned kWidth = std::numeric_limits<std::make_unsigned_t<T>>::digits;

// ---- wrapping arithmetic and bitwise operations (the bits decide, not the sign) ----------

template <std::integral T> constexpr T add(T a, T b) noexcept { return T(Bits<T>(a) + Bits<T>(b)); }
template <std::integral T> constexpr T sub(T a, T b) noexcept { return T(Bits<T>(a) - Bits<T>(b)); }
template <std::integral T> constexpr T mul(T a, T b) noexcept { return T(Bits<T>(a) * Bits<T>(b)); }
template <std::integral T> constexpr T neg(T a) noexcept { return T(Bits<T>(0) - Bits<T>(a)); }
template <std::integral T> constexpr T complement(T a) noexcept { return T(~Bits<T>(a)); }
template <std::integral T> constexpr T land(T a, T b) noexcept { return T(a & b); }
template <std::integral T> constexpr T lor(T a, T b) noexcept { return T(a | b); }
template <std::integral T> constexpr T lxor(T a, T b) noexcept { return T(a ^ b); }

// ---- shifts: the count is b mod n, b read as unsigned --------------------------------------

template <std::integral T>
constexpr unsigned shift_count(T b) noexcept {
    return unsigned(std::make_unsigned_t<T>(b) % kWidth<T>);
}

template <std::integral T>
constexpr T shift_left(T a, T b) noexcept { return T(Bits<T>(a) << shift_count(b)); }

// Logical for unsigned types, arithmetic for signed ones (C++20 defines both).
template <std::integral T>
constexpr T shift_right(T a, T b) noexcept { return T(a >> shift_count(b)); }

// ---- comparisons, as Bool bytes ------------------------------------------------------------

template <std::integral T> constexpr uint8_t dec_eq(T a, T b) noexcept { return a == b; }
template <std::integral T> constexpr uint8_t dec_le(T a, T b) noexcept { return a <= b; }
template <std::integral T> constexpr uint8_t dec_lt(T a, T b) noexcept { return a < b; }

// ---- division: never traps ----------------------------------------------------------------

// 64-bit division is done with a 32-bit divide when both operands fit 32 bits unsigned
// (a much shorter instruction on many processors); the result is the same.
template <std::integral T>
constexpr bool both_fit_32_bits(T a, T b) noexcept {
    return sizeof(T) == 8 && ((uint64_t(a) | uint64_t(b)) >> 32) == 0;
}

// a / b; b = 0 gives 0. Signed: rounded toward zero, and b = -1 gives the wrapping -a, so
// MIN / -1 = MIN instead of a trap.
template <std::integral T>
constexpr T div(T a, T b) noexcept {
    if (b == 0) return 0;
    if constexpr (std::is_signed_v<T>)
        if (b == -1) return neg(a);
    if (both_fit_32_bits(a, b)) return T(uint32_t(a) / uint32_t(b));
    return T(a / b);
}

// a mod b; b = 0 gives a. Signed: the sign of a, and b = -1 gives 0 (MIN mod -1 would trap).
template <std::integral T>
constexpr T mod(T a, T b) noexcept {
    if (b == 0) return a;
    if constexpr (std::is_signed_v<T>)
        if (b == -1) return 0;
    if (both_fit_32_bits(a, b)) return T(uint32_t(a) % uint32_t(b));
    return T(a % b);
}

// ---- one signedness -----------------------------------------------------------------------

// |a|, wrapping: abs MIN = MIN.
template <std::signed_integral T>
constexpr T abs(T a) noexcept { return a < 0 ? neg(a) : a; }

// The index of the highest set bit; log2 0 = 0.
template <std::unsigned_integral T>
constexpr T log2(T a) noexcept { return T(kWidth<T> - 1 - std::countl_zero(T(a | 1u))); }

// ---- conversions --------------------------------------------------------------------------

// Narrowing keeps the low bits; widening extends by the source's signedness.
template <std::integral To, std::integral From>
constexpr To convert(From a) noexcept { return To(a); }

// 64-bit hash combination with the multiplier 0xC6A4A7935BD1E995.
constexpr uint64_t mix_hash(uint64_t h, uint64_t k) noexcept {
    constexpr uint64_t m = 0xC6A4A7935BD1E995u;
    uint64_t a = k * m;
    a ^= a >> 47;
    a ^= m;
    h ^= a;
    return h * m;
}

}  // namespace quarn::fixed

// The rules of the Float and Float32 families, one template each for both precisions.
// float_exports.cpp instantiates them under the exported names.
#pragma once

#include <bit>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>

namespace quarn::fixed {

template <std::floating_point F> struct FloatBits;
template <> struct FloatBits<double> {
    using Type = uint64_t;
    static constexpr Type kCanonicalNaN = 0x7FF8000000000000u;
};
template <> struct FloatBits<float> {
    using Type = uint32_t;
    static constexpr Type kCanonicalNaN = 0x7FC00000u;
};

// The bit pattern of x; every NaN gives the canonical quiet NaN.
template <std::floating_point F>
constexpr typename FloatBits<F>::Type to_bits(F x) noexcept {
    using Bits = typename FloatBits<F>::Type;
    return std::isnan(x) ? FloatBits<F>::kCanonicalNaN : std::bit_cast<Bits>(x);
}

// The value with the bit pattern; every NaN pattern (signalling ones too) gives the
// canonical quiet NaN.
template <std::floating_point F>
constexpr F of_bits(typename FloatBits<F>::Type bits) noexcept {
    F x = std::bit_cast<F>(bits);
    return std::isnan(x) ? std::bit_cast<F>(FloatBits<F>::kCanonicalNaN) : x;
}

// Saturating truncation toward zero: NaN gives 0, values past either end of I's range give
// its MIN or MAX. The bounds are powers of two, exact in either precision, so the tests are
// exact: x < 2^n (unsigned) or 2^(n-1) (signed) fits after truncation, and so does
// x >= MIN. A value between MIN - 1 and MIN truncates to MIN, which the last line returns.
template <std::integral I, std::floating_point F>
constexpr I saturating_truncate(F x) noexcept {
    constexpr F lowest = F(std::numeric_limits<I>::min());
    constexpr F limit = F(std::numeric_limits<I>::max() / 2 + 1) * 2;
    if (x >= limit) return std::numeric_limits<I>::max();
    if (x >= lowest) return static_cast<I>(x);
    return std::isnan(x) ? I{0} : std::numeric_limits<I>::min();
}

}  // namespace quarn::fixed

// The text of a binary64 value in fixed notation with six decimals.
#pragma once

#include <cstddef>

namespace quarn::fixed {

// Room for the longest text: a sign, 309 integer digits, the point and six decimals.
inline constexpr size_t kFixed6Capacity = 320;

// Writes what printf's "%.6f" writes for x (the exact binary value rounded to six decimals,
// to nearest with ties to even; a "-" for every negative value, -0.0 and values that round
// to zero included), except that every NaN is "NaN" and the infinities are "inf" and
// "-inf". Returns the number of bytes written to out (no terminator).
size_t format_fixed6(double x, char *out) noexcept;

}  // namespace quarn::fixed

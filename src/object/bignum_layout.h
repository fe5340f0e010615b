// Reading the value of a big-number object (tag 250) in place, whichever of its two forms
// it is in. Only the layout is needed, so names and numbers alike use this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quarn/object.h"

namespace quarn::object {

// The digits of a big number, least significant first, without leading zero digits.
struct DigitView {
    const uint64_t *digits;
    size_t count;
};

inline bool is_inline_form(const quarn_bignum_object *big) noexcept { return big->capacity == -1; }

inline DigitView magnitude_of(const quarn_bignum_object *big) noexcept {
    if (is_inline_form(big)) {
        // Only the low 32 bits of the presence word count.
        bool present = static_cast<uint32_t>(big->magnitude.inline_present) != 0;
        return {&big->used.inline_digit, present ? size_t{1} : size_t{0}};
    }
    return {big->magnitude.digits, static_cast<size_t>(big->used.count)};
}

// Equal values: the same sign and, unless zero, the same digits.
inline bool equal_values(const quarn_bignum_object *a, const quarn_bignum_object *b) noexcept {
    if (a->sign != b->sign) return false;
    if (a->sign == QUARN_SIGN_ZERO) return true;
    DigitView x = magnitude_of(a), y = magnitude_of(b);
    return x.count == y.count && std::memcmp(x.digits, y.digits, x.count * sizeof(uint64_t)) == 0;
}

}  // namespace quarn::object

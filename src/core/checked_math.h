// Size arithmetic that must not wrap: capacities and byte counts computed from values that
// compiled code or Lean programs supply.
#pragma once

#include <cstddef>

#include "core/panic.h"

namespace quarn {

// a + b, or the "integer overflow in runtime computation" panic when it does not fit.
inline size_t checked_add(size_t a, size_t b) noexcept {
    size_t sum;
    if (__builtin_add_overflow(a, b, &sum)) [[unlikely]]
        internal_panic(kIntegerOverflow);
    return sum;
}

// a * b, or the "integer overflow in runtime computation" panic when it does not fit.
inline size_t checked_mul(size_t a, size_t b) noexcept {
    size_t product;
    if (__builtin_mul_overflow(a, b, &product)) [[unlikely]]
        internal_panic(kIntegerOverflow);
    return product;
}

}  // namespace quarn

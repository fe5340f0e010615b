// Reading the Nat arguments of the array primitives: capacities, counts, offsets, lengths.
#pragma once

#include <cstddef>
#include <optional>

#include "number/bignum.h"
#include "core/panic.h"
#include "quarn/object.h"

namespace quarn::array::detail {

// A boxed Nat below `bound`, or nothing (a big Nat or a value at or above the bound): the
// range test of every checked index.
inline std::optional<size_t> index_below(const quarn_object *i, size_t bound) noexcept {
    if (!quarn_is_scalar(i) || quarn_unbox(i) >= bound) return std::nullopt;
    return quarn_unbox(i);
}

// A capacity that must be boxed: a big Nat asks for more memory than can exist.
inline size_t boxed_capacity(const quarn_object *n) noexcept {
    if (!quarn_is_scalar(n)) [[unlikely]]
        internal_panic(kOutOfMemory);
    return quarn_unbox(n);
}

// A Nat read as a machine word: boxed values and big values of one digit have one; a big
// value of more digits (or a negative one, which no Nat is) ends the process with "out of
// memory". Borrows n.
inline size_t machine_word(const quarn_object *n) noexcept {
    if (quarn_is_scalar(n)) return quarn_unbox(n);
    auto *big = reinterpret_cast<const quarn_bignum_object *>(n);
    number::DigitView magnitude = number::magnitude_of(big);
    if (big->sign == QUARN_SIGN_NEGATIVE || magnitude.count > 1) [[unlikely]]
        internal_panic(kOutOfMemory);
    return magnitude.count == 0 ? 0 : magnitude.digits[0];
}

}  // namespace quarn::array::detail

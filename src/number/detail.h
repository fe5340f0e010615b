// Helpers shared by the Nat and Int primitives.
#pragma once

#include <cstdint>

#include "number/integer.h"
#include "quarn/nat.h"

namespace quarn::number::detail {

inline bool both_scalar(const quarn_object *a, const quarn_object *b) noexcept {
    return quarn_both_scalar(a, b);
}

// Zero, in either type: the scalar word 1.
inline bool is_zero(const quarn_object *v) noexcept { return v == quarn_box(0); }

// A new reference to a borrowed argument, to be returned as the result.
inline quarn_object *share(quarn_object *v) noexcept {
    quarn_inc(v);
    return v;
}

inline constexpr uint64_t kOne = 1;
inline constexpr IntegerView kOneView = {&kOne, 1, false};

}  // namespace quarn::number::detail

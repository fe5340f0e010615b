// The big-number object (tag 250): reading its value, whichever form it is in, and making
// new ones. A big number holds a `Nat` of at least 2^63 or an `Int` outside the 32-bit range;
// values with a boxed form never live here (nat.h has the normalisation that keeps it so).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "number/integer.h"
#include "object/bignum_layout.h"
#include "object/header.h"
#include "object/heartbeat.h"
#include "quarn/object.h"

namespace quarn::number {

using object::DigitView;
using object::equal_values;
using object::is_inline_form;
using object::magnitude_of;

// The signed value of a big number, read in place: the view borrows the object's digits.
inline IntegerView view_of(const quarn_bignum_object *big) noexcept {
    DigitView m = magnitude_of(big);
    return {m.digits, m.count, big->sign == QUARN_SIGN_NEGATIVE};
}

inline const quarn_bignum_object *as_bignum(const quarn_object *o) noexcept {
    return reinterpret_cast<const quarn_bignum_object *>(o);
}

// A new big number holding v, which it takes over. v must have no boxed form in the type
// it stands for (normalisation decides that). Counts a heartbeat. Returns an owned
// reference.
inline quarn_object *make_bignum(Integer &&v) noexcept;

// A new big number holding |x| + |y| with the given sign, for sums known to have no boxed
// form (x and y not zero). The digits are added straight into the object's array.
// Returns an owned reference.
quarn_object *make_sum_of_magnitudes(IntegerView x, IntegerView y, uint8_t sign) noexcept;

// A new big number in the inline form holding one non-zero digit, with the given sign.
// Counts a heartbeat. Returns an owned reference.
quarn_object *make_one_digit(uint64_t digit, uint8_t sign) noexcept;

// A new tag-250 object of `size` bytes (room for digits after the body when larger than
// the body), body not written. Counts a heartbeat.
inline quarn_bignum_object *allocate_bignum(size_t size = sizeof(quarn_bignum_object)) noexcept {
    object::count_heartbeat();
    return reinterpret_cast<quarn_bignum_object *>(object::allocate_object(size, QUARN_TAG_BIGNUM));
}

inline quarn_object *make_bignum(Integer &&v) noexcept {
    quarn_bignum_object *big = allocate_bignum(v.object_size());
    v.move_into(big);
    return &big->header;
}

}  // namespace quarn::number

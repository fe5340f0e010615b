#include "number/bignum.h"

#include "object/header.h"
#include "object/heartbeat.h"

namespace quarn::number {

namespace {

// A new tag-250 object, body not written. Counts a heartbeat.
quarn_bignum_object *allocate_bignum() noexcept {
    object::count_heartbeat();
    return reinterpret_cast<quarn_bignum_object *>(
        object::allocate_object(sizeof(quarn_bignum_object), QUARN_TAG_BIGNUM));
}

}  // namespace

quarn_object *make_one_digit(uint64_t digit, uint8_t sign) noexcept {
    quarn_bignum_object *big = allocate_bignum();
    big->capacity = -1;
    big->magnitude.inline_present = 1;
    big->used.inline_digit = digit;
    big->sign = sign;
    return &big->header;
}

quarn_object *make_bignum(Integer &&v) noexcept {
    quarn_bignum_object *big = allocate_bignum();
    v.move_into(big);
    return &big->header;
}

}  // namespace quarn::number

#include "number/bignum.h"

#include "object/header.h"
#include "object/heartbeat.h"

namespace quarn::number {

quarn_object *make_one_digit(uint64_t digit, uint8_t sign) noexcept {
    object::count_heartbeat();
    auto *big = reinterpret_cast<quarn_bignum_object *>(
        object::allocate_object(sizeof(quarn_bignum_object), QUARN_TAG_BIGNUM));
    big->capacity = -1;
    big->magnitude.inline_present = 1;
    big->used.inline_digit = digit;
    big->sign = sign;
    return &big->header;
}

}  // namespace quarn::number

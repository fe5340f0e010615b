#include "number/bignum.h"

#include <gmp.h>
#include <utility>

namespace quarn::number {

quarn_object *make_one_digit(uint64_t digit, uint8_t sign) noexcept {
    quarn_bignum_object *big = allocate_bignum();
    big->capacity = -1;
    big->magnitude.inline_present = 1;
    big->used.inline_digit = digit;
    big->sign = sign;
    return &big->header;
}

quarn_object *make_sum_of_magnitudes(IntegerView x, IntegerView y, uint8_t sign) noexcept {
    if (x.size < y.size) std::swap(x, y);
    if (x.size == 1) {
        uint64_t sum;
        if (!__builtin_add_overflow(x.digits[0], y.digits[0], &sum))
            return make_one_digit(sum, sign);
    }
    // The sum of the two views is the one place besides Integer that fills a digit array:
    // compiled code adds small big numbers often enough for the Integer step to show. A
    // short sum is written straight into the object's own block.
    size_t room = x.size + 1;
    auto limbs = [](const uint64_t *d) { return reinterpret_cast<const mp_limb_t *>(d); };
    quarn_bignum_object *big;
    uint64_t *digits;
    if (room <= kInlineDigits) {
        big = allocate_bignum(sizeof(quarn_bignum_object) + room * sizeof(uint64_t));
        digits = reinterpret_cast<uint64_t *>(big + 1);
        big->capacity = 0;
    } else {
        if (room > kMaxDigits) internal_panic(kOutOfMemory);
        digits = static_cast<uint64_t *>(object::allocate_bytes(room * sizeof(uint64_t)));
        big = allocate_bignum();
        big->capacity = static_cast<int64_t>(room);
    }
    mp_limb_t carry = mpn_add(reinterpret_cast<mp_limb_t *>(digits),
                              limbs(x.digits), static_cast<mp_size_t>(x.size),
                              limbs(y.digits), static_cast<mp_size_t>(y.size));
    digits[x.size] = carry;
    big->magnitude.digits = digits;
    big->used.count = x.size + carry;
    big->sign = sign;
    return &big->header;
}

}  // namespace quarn::number

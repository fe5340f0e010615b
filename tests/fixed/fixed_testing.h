// Nat and Int values for the tests of the fixed-width conversions: built in their
// normalised representation the way the natural-number code makes them, and read back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "number/bignum.h"
#include "object/header.h"
#include "object/heap.h"
#include "quarn/object.h"

namespace fixed_testing {

// A signed integer of any size: 64-bit digits, least significant first, no leading zeros.
struct Number {
    bool negative = false;
    std::vector<uint64_t> digits;
};

// "-0x1f", "0x10000000000000005".
inline Number parse_signed_hex(const std::string &text) {
    Number n;
    n.negative = text[0] == '-';
    std::string hex = text.substr(n.negative ? 3 : 2);
    for (size_t end = hex.size(); end > 0; end = end > 16 ? end - 16 : 0) {
        size_t begin = end > 16 ? end - 16 : 0;
        n.digits.push_back(std::stoull(hex.substr(begin, end - begin), nullptr, 16));
    }
    while (!n.digits.empty() && n.digits.back() == 0) n.digits.pop_back();
    if (n.digits.empty()) n.negative = false;
    return n;
}

// A big number in the heap form (digit array), whatever its digit count.
inline quarn_object *make_heap_bignum(const Number &n) {
    auto *big = reinterpret_cast<quarn_bignum_object *>(
        quarn::object::allocate_object(sizeof(quarn_bignum_object), QUARN_TAG_BIGNUM));
    auto *digits =
        static_cast<uint64_t *>(quarn::object::allocate_bytes(n.digits.size() * sizeof(uint64_t)));
    std::copy(n.digits.begin(), n.digits.end(), digits);
    big->capacity = static_cast<int64_t>(n.digits.size());
    big->magnitude.digits = digits;
    big->used.count = n.digits.size();
    big->sign = n.negative ? QUARN_SIGN_NEGATIVE : QUARN_SIGN_POSITIVE;
    return &big->header;
}

// The normalised `Nat` or `Int` of n: boxed in the type's small range (below 2^63 for a
// Nat, the 32-bit range for an Int), else a big number, inline when it has one digit.
// Returns an owned reference.
inline quarn_object *make_number(const Number &n, bool is_int) {
    if (n.digits.empty()) return quarn_box(0);
    if (n.digits.size() == 1) {
        uint64_t d = n.digits[0];
        if (!is_int && !n.negative && d < (uint64_t{1} << 63)) return quarn_box(d);
        bool small = n.negative ? d <= (uint64_t{1} << 31) : d < (uint64_t{1} << 31);
        if (is_int && small) return quarn_box(static_cast<uint32_t>(n.negative ? 0 - d : d));
        return quarn::number::make_one_digit(d, n.negative ? QUARN_SIGN_NEGATIVE : QUARN_SIGN_POSITIVE);
    }
    return make_heap_bignum(n);
}

// The decimal text of a magnitude.
inline std::string decimal(std::vector<uint64_t> digits) {
    std::string text;
    while (!digits.empty()) {
        unsigned __int128 rest = 0;
        for (size_t i = digits.size(); i-- > 0;) {
            unsigned __int128 v = (rest << 64) | digits[i];
            digits[i] = static_cast<uint64_t>(v / 10);
            rest = v % 10;
        }
        text += static_cast<char>('0' + static_cast<int>(rest));
        while (!digits.empty() && digits.back() == 0) digits.pop_back();
    }
    if (text.empty()) text = "0";
    return {text.rbegin(), text.rend()};
}

// "boxed:<value>" or "big:<value>" for a `Nat` or `Int`. Borrows o.
inline std::string number_text(const quarn_object *o, bool is_int) {
    if (quarn_is_scalar(o)) {
        if (!is_int) return "boxed:" + std::to_string(quarn_unbox(o));
        return "boxed:" + std::to_string(static_cast<int32_t>(static_cast<uint32_t>(quarn_unbox(o))));
    }
    auto *big = reinterpret_cast<const quarn_bignum_object *>(o);
    quarn::number::DigitView m = quarn::number::magnitude_of(big);
    std::string sign = big->sign == QUARN_SIGN_NEGATIVE ? "-" : "";
    return "big:" + sign + decimal({m.digits, m.digits + m.count});
}

}  // namespace fixed_testing

// Building Nat and Int values by hand and checking results: value *and* normal form.
// Values are built here without the code under test, so the checks do not trust it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "object/header.h"
#include "quarn/nat.h"

namespace numbers {

// A signed value: digits least significant first, no leading zero digit; zero is empty.
struct Value {
    bool negative = false;
    std::vector<uint64_t> digits;

    static Value of_unsigned(uint64_t v) { return v == 0 ? Value{} : Value{false, {v}}; }

    static Value of(int64_t v) {
        Value r = of_unsigned(v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
        r.negative = v < 0;
        return r;
    }

    static Value power_of_two(unsigned k, bool negative = false) {
        Value r{negative, std::vector<uint64_t>(k / 64 + 1, 0)};
        r.digits.back() = uint64_t{1} << (k % 64);
        return r;
    }

    // Hexadecimal digits with an optional leading '-'.
    static Value hex(std::string_view text) {
        Value r;
        if (!text.empty() && text[0] == '-') {
            r.negative = true;
            text.remove_prefix(1);
        }
        for (size_t end = text.size(); end > 0;) {
            size_t begin = end >= 16 ? end - 16 : 0;
            std::string part(text.substr(begin, end - begin));
            r.digits.push_back(std::stoull(part, nullptr, 16));
            end = begin;
        }
        while (!r.digits.empty() && r.digits.back() == 0) r.digits.pop_back();
        if (r.digits.empty()) r.negative = false;
        return r;
    }

    Value operator-() const { return digits.empty() ? *this : Value{!negative, digits}; }
    bool operator==(const Value &) const = default;

    std::string to_hex() const {
        if (digits.empty()) return "0";
        std::string out = negative ? "-" : "";
        char buffer[17];
        std::snprintf(buffer, sizeof buffer, "%" PRIx64, digits.back());
        out += buffer;
        for (size_t i = digits.size() - 1; i-- > 0;) {
            std::snprintf(buffer, sizeof buffer, "%016" PRIx64, digits[i]);
            out += buffer;
        }
        return out;
    }
};

inline std::ostream &operator<<(std::ostream &os, const Value &v) { return os << v.to_hex(); }

constexpr uint64_t kFirstBigNat = uint64_t{1} << 63;

// Whether v has a boxed form as a Nat (below 2^63) and as an Int (the 32-bit range).
inline bool boxed_as_nat(const Value &v) {
    return v.digits.empty() || (v.digits.size() == 1 && v.digits[0] < kFirstBigNat);
}
inline bool boxed_as_int(const Value &v) {
    if (v.digits.empty()) return true;
    return v.digits.size() == 1 && v.digits[0] <= (v.negative ? uint64_t{1} << 31 : INT32_MAX);
}

// A big-number object holding v as it is, even where the type would box it: inline form
// for one digit, a runtime-allocated digit array with one spare digit otherwise.
inline quarn_object *make_bignum_object(const Value &v) {
    auto *big = reinterpret_cast<quarn_bignum_object *>(
        quarn::object::allocate_object(sizeof(quarn_bignum_object), QUARN_TAG_BIGNUM));
    big->sign = v.digits.empty() ? QUARN_SIGN_ZERO
                : v.negative     ? QUARN_SIGN_NEGATIVE
                                 : QUARN_SIGN_POSITIVE;
    if (v.digits.size() <= 1) {
        big->capacity = -1;
        big->magnitude.inline_present = v.digits.size();
        big->used.inline_digit = v.digits.empty() ? 0 : v.digits[0];
    } else {
        size_t capacity = v.digits.size() + 1;
        big->capacity = static_cast<int64_t>(capacity);
        big->magnitude.digits =
            static_cast<uint64_t *>(quarn::object::allocate_bytes(capacity * sizeof(uint64_t)));
        std::copy(v.digits.begin(), v.digits.end(), big->magnitude.digits);
        big->magnitude.digits[v.digits.size()] = 0xBADBADBADBADBADBu;  // beyond the count
        big->used.count = v.digits.size();
    }
    return &big->header;
}

// The Nat or Int v as the word compiled code would hold: a scalar where the type has one,
// else a new big-number object. Returns an owned reference.
inline quarn_object *make_nat(const Value &v) {
    if (boxed_as_nat(v)) return quarn_box(v.digits.empty() ? 0 : v.digits[0]);
    return make_bignum_object(v);
}
inline quarn_object *make_int(const Value &v) {
    if (!boxed_as_int(v)) return make_bignum_object(v);
    int64_t magnitude = v.digits.empty() ? 0 : static_cast<int64_t>(v.digits[0]);
    return quarn_box_int(static_cast<int32_t>(v.negative ? -magnitude : magnitude));
}

namespace detail {

// Checks the object form; fills `value`.
inline ::testing::AssertionResult object_form(const quarn_object *word, int32_t rc, Value &value) {
    if (word->tag != QUARN_TAG_BIGNUM)
        return ::testing::AssertionFailure() << "tag " << int{word->tag} << ", not a big number";
    auto *body = reinterpret_cast<const quarn_bignum_object *>(word);
    // Up to four digits live in the object's own block, after the 40-byte body.
    size_t in_block = body->capacity == 0 ? body->used.count : 0;
    if (in_block > 4 || quarn::object::object_size(word) < 40 + 8 * in_block ||
        quarn::object::object_size(word) > 40 + 8 * (in_block + 1) ||
        (in_block == 0 && quarn::object::object_size(word) != 40))
        return ::testing::AssertionFailure() << "size word " << quarn::object::object_size(word);
    if (body->capacity == 0 && body->magnitude.digits != reinterpret_cast<const uint64_t *>(body + 1))
        return ::testing::AssertionFailure() << "digits of the one-block form outside the block";
    if (word->rc != rc || word->other != 0 || word->cs_sz != 0)
        return ::testing::AssertionFailure() << "header rc " << word->rc << " (expected " << rc
                                             << "), other " << int{word->other};
    auto *big = reinterpret_cast<const quarn_bignum_object *>(word);
    if (big->sign > QUARN_SIGN_POSITIVE)
        return ::testing::AssertionFailure() << "sign byte " << int{big->sign};
    if (big->capacity == -1) {
        if (big->magnitude.inline_present != 1)
            return ::testing::AssertionFailure() << "inline form without its digit";
        value.digits = {big->used.inline_digit};
    } else {
        if (big->used.count < 2)
            return ::testing::AssertionFailure() << "heap form for " << big->used.count
                                                 << " digit(s)";
        if (big->capacity != 0 && big->capacity < static_cast<int64_t>(big->used.count))
            return ::testing::AssertionFailure() << "capacity " << big->capacity << " below count";
        value.digits.assign(big->magnitude.digits, big->magnitude.digits + big->used.count);
    }
    if (value.digits.back() == 0) return ::testing::AssertionFailure() << "leading zero digit";
    if (big->sign == QUARN_SIGN_ZERO) return ::testing::AssertionFailure() << "zero in an object";
    value.negative = big->sign == QUARN_SIGN_NEGATIVE;
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult matches(const Value &got, const Value &expected) {
    if (got == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "value " << got << ", expected " << expected;
}

}  // namespace detail

// Success when `word` is `expected` in the normal form of its type: boxed exactly when the
// value has a boxed form, otherwise a tag-250 object of size 40 (more with its digits in
// its own block) with a sign, no leading zero
// digit, the inline form for one digit, and the count `rc`.
inline ::testing::AssertionResult is_nat(quarn_object *word, const Value &expected,
                                         int32_t rc = 1) {
    if (quarn_is_scalar(word)) {
        if (!boxed_as_nat(expected))
            return ::testing::AssertionFailure() << "boxed " << quarn_unbox(word) << ", expected "
                                                 << expected;
        return detail::matches(Value::of_unsigned(quarn_unbox(word)), expected);
    }
    Value got;
    if (auto form = detail::object_form(word, rc, got); !form) return form;
    if (got.negative) return ::testing::AssertionFailure() << "negative Nat object " << got;
    if (boxed_as_nat(got)) return ::testing::AssertionFailure() << "not boxed: " << got;
    return detail::matches(got, expected);
}

inline ::testing::AssertionResult is_int(quarn_object *word, const Value &expected,
                                         int32_t rc = 1) {
    if (quarn_is_scalar(word)) {
        if (reinterpret_cast<uintptr_t>(word) >> 33 != 0)
            return ::testing::AssertionFailure() << "boxed Int word " << std::hex
                                                 << reinterpret_cast<uintptr_t>(word)
                                                 << " not zero-extended";
        if (!boxed_as_int(expected))
            return ::testing::AssertionFailure() << "boxed, expected " << expected;
        return detail::matches(Value::of(quarn_unbox_int(word)), expected);
    }
    Value got;
    if (auto form = detail::object_form(word, rc, got); !form) return form;
    if (boxed_as_int(got)) return ::testing::AssertionFailure() << "not boxed: " << got;
    return detail::matches(got, expected);
}

// The value of a well-formed Nat or Int word.
inline Value nat_value(const quarn_object *word) {
    if (quarn_is_scalar(word)) return Value::of_unsigned(quarn_unbox(word));
    Value v;
    (void)detail::object_form(word, word->rc, v);
    return v;
}
inline Value int_value(const quarn_object *word) {
    if (quarn_is_scalar(word)) return Value::of(quarn_unbox_int(word));
    Value v;
    (void)detail::object_form(word, word->rc, v);
    return v;
}

}  // namespace numbers

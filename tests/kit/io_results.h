// Reading the IO results that primitives return, for tests: the value of an ok result, and
// an error result checked field by field.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "kit.h"
#include "quarn/object.h"

namespace kit {

// A new string of ASCII or UTF-8 bytes (not checked). Returns an owned reference.
inline quarn_object *text(std::string_view s) {
    return quarn_mk_string_unchecked(s.data(), s.size(), s.size());
}

// The bytes of a string object (without its terminator). Borrows s.
inline std::string string_value(const quarn_object *s) {
    auto *str = reinterpret_cast<const quarn_string_object *>(s);
    return std::string(str->data, str->size - 1);
}

// The value of an ok result (owned), the result released.
inline quarn_object *ok(quarn_object *result) {
    EXPECT_EQ(result->tag, 0) << "expected ok";
    quarn_object *v = quarn_ctor_get(result, 0);
    quarn_inc(v);
    quarn_dec(result);
    return v;
}

// The error of an error result, checked against kind, number, file (null: none) and, when
// given, details. Consumes result.
inline void expect_error(quarn_object *result, unsigned kind, uint32_t number, const char *file,
                         const char *details = nullptr) {
    ASSERT_EQ(result->tag, 1) << "expected an error";
    quarn_object *e = quarn_ctor_get(result, 0);
    EXPECT_EQ(kit_error_kind(e), kind);
    EXPECT_EQ(kit_error_number(e), number);
    if (file == nullptr) {
        EXPECT_EQ(kit_error_file(e), nullptr);
    } else {
        EXPECT_STREQ(kit_error_file(e), file);
    }
    if (details != nullptr) {
        EXPECT_STREQ(kit_error_details(e), details);
    }
    quarn_dec(result);
}

}  // namespace kit

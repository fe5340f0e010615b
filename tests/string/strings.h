// Helpers for the string tests: building strings and byte arrays from bytes, reading them.
#pragma once

#include <string>
#include <string_view>

#include "array/sarray_alloc.h"
#include "quarn/string.h"
#include "string/string_alloc.h"
#include "testing.h"

namespace test_strings {

// A new string of the bytes, trusted: code points counted by lead bytes. Owned.
inline quarn_object *str(std::string_view bytes) {
    return quarn::string::make_string_from_utf8(bytes.data(), bytes.size());
}

// The text bytes of a string (terminator excluded). Borrows s.
inline std::string_view text(const quarn_object *s) {
    auto *o = quarn::string::as_string(s);
    return {o->data, o->size - 1};
}

inline const quarn_string_object *fields(const quarn_object *s) {
    return quarn::string::as_string(s);
}

// A new byte array of the bytes. Owned.
inline quarn_object *byte_array(std::string_view bytes) {
    return quarn::array::make_byte_array(bytes.data(), bytes.size());
}

// A String.Slice over s (consumed) from start to end (consumed).
inline quarn_object *slice(quarn_object *s, quarn_object *start, quarn_object *end) {
    quarn_object *o = quarn_alloc_ctor(0, 3, 0);
    quarn_ctor_set(o, 0, s);
    quarn_ctor_set(o, 1, start);
    quarn_ctor_set(o, 2, end);
    return o;
}

// The bytes written as lowercase hex, for readable failures.
inline std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

inline std::string from_hex(std::string_view h) {
    std::string out;
    if (h == "-") return out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16));
    return out;
}

}  // namespace test_strings

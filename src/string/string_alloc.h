// Allocating and growing string objects.
#pragma once

#include <cstddef>

#include "quarn/object.h"

namespace quarn::string {

inline quarn_string_object *as_string(quarn_object *o) noexcept {
    return reinterpret_cast<quarn_string_object *>(o);
}
inline const quarn_string_object *as_string(const quarn_object *o) noexcept {
    return reinterpret_cast<const quarn_string_object *>(o);
}

// A new string object with rc 1 and room for `capacity` bytes (terminator included); size,
// length and the bytes are left for the caller to write. Ends the process with "out of
// memory" when the object could not be represented.
quarn_string_object *allocate_string(size_t capacity) noexcept;

// A new string holding a copy of n bytes and a terminator, size = capacity = n + 1, with
// the given code-point count. The bytes are trusted, not validated.
quarn_object *make_string(const char *bytes, size_t n, size_t length) noexcept;

// A new string holding a copy of n bytes known to be well-formed UTF-8, its code points
// counted by their lead bytes.
quarn_object *make_string_from_utf8(const char *bytes, size_t n) noexcept;

// Room for `extra` more bytes after the size bytes in use, in a string the caller owns.
// An exclusive string is kept when its capacity allows, else moved into a new object of
// capacity size + extra + old capacity and freed directly. A shared string is copied into
// a new object of capacity 2 * (size + extra) and released. Size, length and bytes carry
// over. Consumes s; returns the string to write into. Capacity arithmetic that overflows
// ends the process with "integer overflow in runtime computation".
quarn_string_object *string_grow(quarn_string_object *s, size_t extra) noexcept;

}  // namespace quarn::string

// Allocating string objects.
#pragma once

#include <cstddef>

#include "quarn/object.h"

namespace quarn::string {

// A new string object with rc 1 and room for `capacity` bytes (terminator included); size
// and length are left for the caller to write. Ends the process with "out of memory" when
// the object could not be represented.
quarn_string_object *allocate_string(size_t capacity) noexcept;

// A new string holding a copy of n bytes and a terminator, size = capacity = n + 1, with
// the given code-point count. The bytes are trusted, not validated.
quarn_object *make_string(const char *bytes, size_t n, size_t length) noexcept;

// A new string holding a copy of n bytes known to be well-formed UTF-8, its code points
// counted by their lead bytes.
quarn_object *make_string_from_utf8(const char *bytes, size_t n) noexcept;

}  // namespace quarn::string

// UTF-8 well-formedness and counting of code points.
#pragma once

#include <cstddef>

namespace quarn::string {

// Whether the n bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated or stray continuation bytes.
bool is_valid_utf8(const char *bytes, size_t n) noexcept;

// The number of characters in n bytes known to be UTF-8, counted by their lead bytes.
size_t count_code_points(const char *bytes, size_t n) noexcept;

}  // namespace quarn::string

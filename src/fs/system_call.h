// What every file-system and process primitive shares: the retry of system calls cut short
// by a signal, and reading a Lean string as a path for the system.
#pragma once

#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/retry.h"
#include "quarn/object.h"
#include "string/string_alloc.h"

namespace quarn::fs {

using quarn::retry_interrupted;

// The bytes of a string, without the terminator. Borrows s.
inline std::string_view bytes_of(const quarn_object *s) noexcept {
    const quarn_string_object *str = string::as_string(s);
    return {str->data, str->size - 1};
}

// The string's text as a NUL-terminated path, or null when a zero byte inside it means the
// system would read a different path. Borrows s.
inline const char *path_of(const quarn_object *s) noexcept {
    std::string_view bytes = bytes_of(s);
    return std::memchr(bytes.data(), '\0', bytes.size()) == nullptr ? bytes.data() : nullptr;
}

}  // namespace quarn::fs

// What the system-information primitives share: their IO results and reading small files.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/allocator.h"
#include "fs/path_errors.h"
#include "fs/system_call.h"
#include "io/io_error.h"
#include "io/io_result.h"
#include "string/lossy.h"

namespace quarn::system {

using fs::bytes_of;
using fs::path_of;

// ok(a boxed 64-bit number).
inline quarn_object *ok_number(uint64_t n) noexcept { return io::io_ok(quarn_box_uint64(n)); }

// A string from the system's bytes, invalid UTF-8 dropped. Returns an owned reference.
inline quarn_object *text(std::string_view bytes) noexcept {
    return string::decode_lossy(bytes.data(), bytes.size());
}
inline quarn_object *ok_text(std::string_view bytes) noexcept { return io::io_ok(text(bytes)); }

// The error result of error number e with no file to name (e is neither ENOENT nor EINTR,
// whose errors need one).
inline quarn_object *error_number(int e) noexcept { return io::io_error(io::error_from_code(-e, nullptr)); }

// The whole of a small file of the system (/proc, /sys), or false when it cannot be read.
bool read_small_file(const char *path, Text &into) noexcept;

}  // namespace quarn::system

// IO.Error values: from operating-system error numbers, from the event loop's negative
// codes, for user errors and for paths that hold a NUL byte; and back to text.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "core/allocator.h"
#include "quarn/object.h"

namespace quarn::io {

// The IO.Error for a positive operating-system error number `e` (Linux numbering). A few
// numbers are folded into a representative that decides the constructor and the details
// text; the number handed to Lean stays e. `file` is the file name (consumed) or null;
// constructors without a file variant drop it. EINTR and ENOENT need a file name: without
// one the process stops. Returns an owned reference.
quarn_object *error_from_errno(int e, quarn_object *file) noexcept;

// The IO.Error for a negative code -e reported by the event loop, name resolution and a
// few file-system calls: no folding, so e is its own representative. `file` as above.
quarn_object *error_from_code(int negative_code, quarn_object *file) noexcept;

// The IO.Error for an event-loop code, as error_from_code without a file name, with the
// given details text in place of the code's standard one.
quarn_object *error_from_code_with_details(int negative_code, std::string_view details) noexcept;

// An error result holding error_from_errno(e, file).
quarn_object *error_result_from_errno(int e, quarn_object *file) noexcept;

// An error result for a failed call whose error code must carry an operating-system error
// number; any other failure stops the process with "I/O error without an OS error code: "
// and its description.
quarn_object *error_result_from_failure(const std::error_code &failure, quarn_object *file) noexcept;

// An error result holding a user error with the given message.
quarn_object *user_error_result(std::string_view message) noexcept;

// The IO.Error invalid_argument(EINVAL, details), for arguments that no system call saw.
// Returns an owned reference.
quarn_object *invalid_argument_error(std::string_view details) noexcept;

// The error result for a path that contains a NUL byte. Consumes path.
quarn_object *nul_path_error_result(quarn_object *path) noexcept;

// The text of an IO.Error, as the program's lean_io_error_to_string writes it. Borrows
// error.
Text error_to_text(quarn_object *error) noexcept;

}  // namespace quarn::io

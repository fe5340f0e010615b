// IO results for the file-system primitives: unit, and the errors that name their paths.
#pragma once

#include "io/io_error.h"
#include "io/io_result.h"
#include "quarn/object.h"

namespace quarn::fs {

// The error result for error number e, naming `path` (borrowed).
inline quarn_object *errno_naming(int e, quarn_object *path) noexcept {
    quarn_inc(path);
    return io::error_result_from_errno(e, path);
}

// The same without the folding of error numbers, for the primitives that report the
// system's code as it is.
inline quarn_object *code_naming(int e, quarn_object *path) noexcept {
    quarn_inc(path);
    return io::io_error(io::error_from_code(-e, path));
}

// The error result for a path holding a zero byte. Borrows path.
inline quarn_object *nul_path(quarn_object *path) noexcept {
    quarn_inc(path);
    return io::nul_path_error_result(path);
}

}  // namespace quarn::fs

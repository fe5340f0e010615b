// The process's working directory, read and changed.
#include <unistd.h>

#include "fs/system_call.h"
#include "fs/process_paths.h"
#include "io/io_error.h"
#include "io/io_result.h"
#include "quarn/process.h"
#include "string/lossy.h"
#include "string/string_alloc.h"

extern "C" quarn_object *quarn_lean_io_process_get_current_dir(void) noexcept {
    quarn::Text directory;
    if (int error = quarn::fs::read_working_directory(directory)) {
        // A deleted working directory reports ENOENT, whose IO.Error must name a file:
        // it names the working directory as "."
        return quarn::io::error_result_from_errno(error, quarn::string::make_string(".", 1, 1));
    }
    return quarn::io::io_ok(quarn::string::decode_lossy(directory.data(), directory.size()));
}

extern "C" quarn_object *quarn_lean_io_process_set_current_dir(quarn_object *path) noexcept {
    // The system reads the path up to its first zero byte.
    const char *text = quarn::fs::bytes_of(path).data();
    if (quarn::fs::retry_interrupted([&] { return ::chdir(text); }) < 0) {
        quarn_inc(path);
        return quarn::io::error_result_from_errno(errno, path);
    }
    return quarn::io::io_ok_unit();
}

// The environment, the working directory and the program's own path.
#include <stdlib.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

#include "fs/system_call.h"
#include "fs/process_paths.h"
#include "io/io_error.h"
#include "io/io_result.h"
#include "quarn/fs.h"
#include "string/lossy.h"

using namespace quarn::fs;

extern "C" quarn_object *quarn_lean_io_current_dir(void) noexcept {
    quarn::Text directory;
    if (read_working_directory(directory) != 0)
        return quarn::io::user_error_result("failed to retrieve current working directory");
    return quarn::io::io_ok(quarn::string::decode_lossy(directory.data(), directory.size()));
}

extern "C" quarn_object *quarn_lean_io_app_path(void) noexcept {
    quarn::Text path;
    if (read_executable_path(path) != 0) return quarn::io::user_error_result("failed to locate application");
    return quarn::io::io_ok(quarn::string::decode_lossy(path.data(), path.size()));
}

extern "C" quarn_object *quarn_lean_io_getenv(quarn_object *name) noexcept {
    std::string_view bytes = bytes_of(name);
    if (bytes.empty() || bytes.find('=') != std::string_view::npos || bytes.find('\0') != std::string_view::npos)
        return quarn::io::io_ok(quarn_box(0));
    const char *value = ::getenv(bytes.data());
    if (value == nullptr) return quarn::io::io_ok(quarn_box(0));
    quarn_object *some = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(some, 0, quarn::string::decode_lossy(value, std::strlen(value)));
    return quarn::io::io_ok(some);
}

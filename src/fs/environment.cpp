// The environment, the working directory and the program's own path.
#include <stdlib.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

#include "fs/system_call.h"
#include "fs/working_directory.h"
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
    char link[32] = "/proc/";
    char *end = std::to_chars(link + 6, link + sizeof link - 5, ::getpid()).ptr;
    std::memcpy(end, "/exe", 5);
    quarn::Text target(256, '\0');
    for (;;) {
        ssize_t n = ::readlink(link, target.data(), target.size());
        if (n < 0) return quarn::io::user_error_result("failed to locate application");
        if (static_cast<size_t>(n) < target.size())
            return quarn::io::io_ok(quarn::string::decode_lossy(target.data(), static_cast<size_t>(n)));
        target.resize(target.size() * 2);  // possibly cut: read again with more room
    }
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

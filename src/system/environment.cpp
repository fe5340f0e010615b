// Environment variables.
#include <stdlib.h>
#include <unistd.h>

#include "array/array_alloc.h"
#include "quarn/system.h"
#include "system/results.h"

using namespace quarn::system;

extern "C" char **environ;

namespace {

bool holds_nul(std::string_view bytes) noexcept { return bytes.find('\0') != std::string_view::npos; }

// A name the environment can hold: not empty, no "=".
bool valid_name(std::string_view name) noexcept {
    return !name.empty() && name.find('=') == std::string_view::npos;
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_os_getenv(quarn_object *name) noexcept {
    std::string_view bytes = bytes_of(name);
    if (holds_nul(bytes)) return quarn::fs::nul_path(name);
    const char *value = valid_name(bytes) ? ::getenv(bytes.data()) : nullptr;
    if (value == nullptr) return quarn::io::io_ok(quarn_box(0));
    quarn_object *some = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(some, 0, text(value));
    return quarn::io::io_ok(some);
}

extern "C" quarn_object *quarn_lean_uv_os_setenv(quarn_object *name, quarn_object *value) noexcept {
    std::string_view name_bytes = bytes_of(name);
    if (holds_nul(name_bytes)) return quarn::fs::nul_path(name);
    if (holds_nul(bytes_of(value))) return quarn::fs::nul_path(value);
    if (!valid_name(name_bytes)) return error_number(EINVAL);
    if (::setenv(name_bytes.data(), bytes_of(value).data(), 1) != 0) return error_number(errno);
    return quarn::io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_os_unsetenv(quarn_object *name) noexcept {
    std::string_view bytes = bytes_of(name);
    if (holds_nul(bytes)) return quarn::fs::nul_path(name);
    if (!valid_name(bytes)) return error_number(EINVAL);
    if (::unsetenv(bytes.data()) != 0) return error_number(errno);
    return quarn::io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_os_environ(void) noexcept {
    size_t count = 0;
    for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) ++count;
    quarn_array_object *pairs = quarn::array::allocate_array(0, count);
    for (size_t i = 0; i < count; ++i) {
        std::string_view entry = environ[i];
        size_t equals = entry.find('=');
        if (equals == std::string_view::npos) continue;  // not a variable: skipped
        quarn_object *pair = quarn_alloc_ctor(0, 2, 0);
        quarn_ctor_set(pair, 0, text(entry.substr(0, equals)));
        quarn_ctor_set(pair, 1, text(entry.substr(equals + 1)));
        pairs->data[pairs->size++] = pair;
    }
    return quarn::io::io_ok(&pairs->header);
}

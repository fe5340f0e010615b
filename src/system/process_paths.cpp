// The working directory, its change, and the path of the running executable.
#include <unistd.h>

#include "core/retry.h"
#include "fs/process_paths.h"
#include "quarn/system.h"
#include "system/results.h"

using namespace quarn::system;

extern "C" quarn_object *quarn_lean_uv_cwd(void) noexcept {
    quarn::Text directory;
    if (int e = quarn::fs::read_working_directory(directory)) {
        // A working directory that was removed is ENOENT, whose error names a file.
        if (e == ENOENT) return quarn::io::error_result_from_errno(e, text("."));
        return error_number(e);
    }
    return ok_text(directory);
}

extern "C" quarn_object *quarn_lean_uv_chdir(quarn_object *path) noexcept {
    const char *name = path_of(path);
    if (name == nullptr) return quarn::fs::nul_path(path);
    if (quarn::retry_interrupted([&] { return ::chdir(name); }) != 0)
        return quarn::fs::code_naming(errno, path);
    return quarn::io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_exepath(void) noexcept {
    quarn::Text path;
    if (int e = quarn::fs::read_executable_path(path)) {
        if (e == ENOENT) return quarn::io::error_result_from_errno(e, text("/proc/self/exe"));
        return error_number(e);
    }
    return ok_text(path);
}

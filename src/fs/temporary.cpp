// Temporary files and directories, under the folder the environment names.
#include <fcntl.h>
#include <stdlib.h>

#include <cstring>

#include "fs/path_errors.h"
#include "fs/system_call.h"
#include "io/export_table.h"
#include "io/handle_object.h"
#include "io/handle_registry.h"
#include "quarn/fs.h"
#include "string/lossy.h"
#include "string/string_alloc.h"

namespace quarn::fs {

namespace {

constexpr const char *kFolderVariables[] = {"TMPDIR", "TMP", "TEMP", "TEMPDIR"};
constexpr std::string_view kTemplate = "tmp.XXXXXXXX";

// The folder's text with invalid UTF-8 replaced, as an owned string.
quarn_object *temporary_folder() noexcept {
    for (const char *variable : kFolderVariables) {
        const char *value = ::getenv(variable);
        if (value != nullptr && value[0] != '\0') return string::decode_lossy(value, std::strlen(value));
    }
    return string::make_string("/tmp", 4, 4);
}

// Fills the template under the folder with `create`, which returns a negative value and
// sets errno on failure. On success `path` holds the filled template.
template <typename Create>
quarn_object *create_temporary(Text &path, Create create) noexcept {
    quarn_object *folder = temporary_folder();
    std::string_view base = bytes_of(folder);
    if (base.size() >= 2 && base.back() == '/') base.remove_suffix(1);
    if (base.empty()) {
        quarn_dec(folder);
        return io::io_error(io::call_export(io::Export::no_file_or_directory, string::make_string("", 0, 0), 2,
                                            string::make_string("no such file or directory", 25, 25)));
    }
    path.assign(base);
    if (path.back() != '/') path += '/';
    path += kTemplate;
    if (create(path.data()) < 0) {
        int error = errno;
        // A folder that is missing (ENOENT) or an interrupted call (EINTR) needs a file name
        // in its IO.Error: the folder is named. Other failures name none.
        if (error == ENOENT || error == EINTR) return io::io_error(io::error_from_code(-error, folder));
        quarn_dec(folder);
        return io::io_error(io::error_from_code(-error, nullptr));
    }
    quarn_dec(folder);
    return nullptr;
}

}  // namespace

}  // namespace quarn::fs

using namespace quarn::fs;

extern "C" quarn_object *quarn_lean_io_create_tempfile(void) noexcept {
    quarn::Text path;
    int fd = -1;
    quarn_object *failure = create_temporary(path, [&](char *t) {
        fd = retry_interrupted([&] { return ::mkostemp(t, O_CLOEXEC); });
        return fd;
    });
    if (failure != nullptr) return failure;
    quarn::io::HandleRef record = quarn::io::make_handle_record(
        fd, quarn::io::HandleKind::opened_file, true, true, quarn::io::BufferMode::full, quarn::io::kNotStandard);
    quarn::io::register_handle(record);
    quarn_object *pair = quarn_alloc_ctor(0, 2, 0);
    quarn_ctor_set(pair, 0, quarn::io::make_handle_object(std::move(record)));
    quarn_ctor_set(pair, 1, quarn::string::make_string_from_utf8(path.data(), path.size()));
    return quarn::io::io_ok(pair);
}

extern "C" quarn_object *quarn_lean_io_create_tempdir(void) noexcept {
    quarn::Text path;
    quarn_object *failure = create_temporary(path, [](char *t) { return ::mkdtemp(t) == nullptr ? -1 : 0; });
    if (failure != nullptr) return failure;
    return quarn::io::io_ok(quarn::string::make_string_from_utf8(path.data(), path.size()));
}

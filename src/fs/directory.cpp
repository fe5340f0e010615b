// Directories, links, renames, permissions and canonical paths: one system call each.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "array/array_alloc.h"
#include "fs/path_errors.h"
#include "fs/system_call.h"
#include "io/export_table.h"
#include "quarn/fs.h"
#include "string/lossy.h"
#include "string/string_alloc.h"

namespace quarn::fs {

namespace {

struct CloseDirectory {
    void operator()(DIR *d) const noexcept { ::closedir(d); }
};
using DirectoryStream = std::unique_ptr<DIR, CloseDirectory>;

struct FreeBlock {
    void operator()(char *p) const noexcept { ::free(p); }
};

bool is_dot_or_dot_dot(const char *name) noexcept {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// A directory entry record: the directory as given (one more reference) and the name.
quarn_object *directory_entry(quarn_object *directory, const char *name) noexcept {
    quarn_object *entry = quarn_alloc_ctor(0, 2, 0);
    quarn_inc_ref(directory);
    quarn_ctor_set(entry, 0, directory);
    quarn_ctor_set(entry, 1, string::decode_lossy(name, std::strlen(name)));
    return entry;
}

// A one-path primitive whose failure names the path, with the error numbers folded.
template <typename Call>
quarn_object *unit_call(quarn_object *path, Call call) noexcept {
    const char *text = path_of(path);
    if (text == nullptr) return nul_path(path);
    if (retry_interrupted([&] { return call(text); }) < 0) return errno_naming(errno, path);
    return io::io_ok_unit();
}

}  // namespace

}  // namespace quarn::fs

using namespace quarn::fs;

extern "C" quarn_object *quarn_lean_io_read_dir(quarn_object *path) noexcept {
    const char *text = path_of(path);
    if (text == nullptr) return nul_path(path);
    int fd = retry_interrupted([&] { return ::open(text, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return errno_naming(errno, path);
    DirectoryStream directory(::fdopendir(fd));
    if (!directory) {
        int error = errno;
        ::close(fd);
        return errno_naming(error, path);
    }
    quarn::Vector<quarn_object *> entries;
    // A failure while reading ends the listing with what was read so far.
    while (const struct dirent *d = ::readdir(directory.get())) {
        if (is_dot_or_dot_dot(d->d_name)) continue;
        entries.push_back(directory_entry(path, d->d_name));
    }
    quarn_array_object *array = quarn::array::allocate_array(entries.size(), entries.size());
    std::copy(entries.begin(), entries.end(), array->data);
    return quarn::io::io_ok(reinterpret_cast<quarn_object *>(array));
}

extern "C" quarn_object *quarn_lean_io_create_dir(quarn_object *path) noexcept {
    return unit_call(path, [](const char *p) { return ::mkdir(p, 0777); });
}

extern "C" quarn_object *quarn_lean_io_remove_dir(quarn_object *path) noexcept {
    return unit_call(path, [](const char *p) { return ::rmdir(p); });
}

extern "C" quarn_object *quarn_lean_io_remove_file(quarn_object *path) noexcept {
    const char *text = path_of(path);
    if (text == nullptr) return nul_path(path);
    if (retry_interrupted([&] { return ::unlink(text); }) < 0) return code_naming(errno, path);
    return quarn::io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_chmod(quarn_object *path, uint32_t mode) noexcept {
    return unit_call(path, [mode](const char *p) { return ::chmod(p, static_cast<mode_t>(mode)); });
}

extern "C" quarn_object *quarn_lean_io_rename(quarn_object *from, quarn_object *to) noexcept {
    const char *old_text = path_of(from);
    if (old_text == nullptr) return nul_path(from);
    const char *new_text = path_of(to);
    if (new_text == nullptr) return nul_path(to);
    if (retry_interrupted([&] { return ::rename(old_text, new_text); }) < 0) {
        int error = errno;
        std::string_view a = bytes_of(from), b = bytes_of(to);
        quarn::Text both(a);
        both += " and/or ";
        both += b;
        // Both texts are strings already, so their joining is well-formed.
        return quarn::io::error_result_from_errno(
            error, quarn::string::make_string_from_utf8(both.data(), both.size()));
    }
    return quarn::io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_io_hard_link(quarn_object *existing, quarn_object *link) noexcept {
    const char *old_text = path_of(existing);
    if (old_text == nullptr) return nul_path(existing);
    const char *new_text = path_of(link);
    if (new_text == nullptr) return nul_path(link);
    if (retry_interrupted([&] { return ::linkat(AT_FDCWD, old_text, AT_FDCWD, new_text, 0); }) < 0)
        return code_naming(errno, existing);
    return quarn::io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_io_realpath(quarn_object *path) noexcept {
    // Every failure, a zero byte in the path included, is no_file_or_directory(path, 2, "").
    const char *text = path_of(path);
    std::unique_ptr<char, FreeBlock> resolved(text == nullptr ? nullptr : ::realpath(text, nullptr));
    if (!resolved) {
        quarn_object *error = quarn::io::call_export(quarn::io::Export::no_file_or_directory, path, 2,
                                                     quarn::string::make_string("", 0, 0));
        return quarn::io::io_error(error);
    }
    quarn_dec(path);
    return quarn::io::io_ok(quarn::string::decode_lossy(resolved.get(), std::strlen(resolved.get())));
}

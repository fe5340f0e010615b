// Metadata records of files, following symbolic links or not.
#include <sys/stat.h>

#include "fs/path_errors.h"
#include "fs/system_call.h"
#include "number/nat.h"
#include "quarn/fs.h"

namespace quarn::fs {

namespace {

enum FileType : uint8_t { kDirectory = 0, kRegularFile = 1, kSymbolicLink = 2, kOther = 3 };

// A system time value: the seconds as an Int, then the nanoseconds as a 32-bit scalar.
quarn_object *system_time(const struct timespec &t) noexcept {
    quarn_object *time = quarn_alloc_ctor(0, 1, sizeof(uint32_t));
    quarn_ctor_set(time, 0, number::int_of_int64(t.tv_sec));
    uint32_t nanos = static_cast<uint32_t>(t.tv_nsec);
    std::memcpy(quarn_ctor_scalar_area(time), &nanos, sizeof nanos);
    return time;
}

FileType file_type(mode_t mode) noexcept {
    if (S_ISDIR(mode)) return kDirectory;
    if (S_ISREG(mode)) return kRegularFile;
    if (S_ISLNK(mode)) return kSymbolicLink;
    return kOther;
}

quarn_object *metadata_record(const struct stat &st) noexcept {
    quarn_object *record = quarn_alloc_ctor(0, 2, 2 * sizeof(uint64_t) + 1);
    quarn_ctor_set(record, 0, system_time(st.st_atim));
    quarn_ctor_set(record, 1, system_time(st.st_mtim));
    quarn_ctor_set_uint64(record, 2 * sizeof(quarn_object *), static_cast<uint64_t>(st.st_size));
    quarn_ctor_set_uint64(record, 2 * sizeof(quarn_object *) + 8, static_cast<uint64_t>(st.st_nlink));
    quarn_ctor_scalar_area(record)[16] = file_type(st.st_mode);
    return record;
}

template <typename StatCall>
quarn_object *metadata(quarn_object *path, StatCall stat_call) noexcept {
    const char *text = path_of(path);
    if (text == nullptr) return nul_path(path);
    struct stat st;
    if (retry_interrupted([&] { return stat_call(text, &st); }) < 0) return code_naming(errno, path);
    return io::io_ok(metadata_record(st));
}

}  // namespace

}  // namespace quarn::fs

extern "C" quarn_object *quarn_lean_io_metadata(quarn_object *path) noexcept {
    return quarn::fs::metadata(path, [](const char *p, struct stat *st) { return ::stat(p, st); });
}

extern "C" quarn_object *quarn_lean_io_symlink_metadata(quarn_object *path) noexcept {
    return quarn::fs::metadata(path, [](const char *p, struct stat *st) { return ::lstat(p, st); });
}

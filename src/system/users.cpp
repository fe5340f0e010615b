// Users, groups, and the home and temporary directories.
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include "array/array_alloc.h"
#include "quarn/system.h"
#include "system/results.h"

using namespace quarn::system;

namespace {

// Runs a reentrant lookup (getpwuid_r, getgrgid_r) with a buffer that grows while the
// system says it is too small. Returns the lookup's error number; `found` is null when
// there is no such entry.
template <typename Entry, typename Lookup>
int look_up(Lookup lookup, Entry &entry, Entry *&found, quarn::Text &buffer) noexcept {
    buffer.resize(1024);
    for (;;) {
        int e = lookup(&entry, buffer.data(), buffer.size(), &found);
        if (e == EINTR) continue;
        if (e != ERANGE) return e;
        if (buffer.size() >= (size_t{1} << 26)) return ENOMEM;
        buffer.resize(buffer.size() * 2);
    }
}

// The error of a user without a password entry: ENOENT, naming what was looked for.
quarn_object *no_password_entry(uid_t uid) noexcept {
    quarn::Text what = "password entry of user ";
    what.append(quarn::decimal(uid));
    return quarn::io::error_result_from_errno(ENOENT, text(what));
}

// The effective user's password entry and the storage its texts point into.
struct UserEntry {
    passwd entry{};
    quarn::Text buffer;
};

// Fills `user`; null on success, else the error result to return.
quarn_object *find_effective_user(UserEntry &user) noexcept {
    uid_t uid = ::geteuid();
    passwd *found = nullptr;
    int e = look_up([&](passwd *p, char *b, size_t n, passwd **r) { return ::getpwuid_r(uid, p, b, n, r); },
                    user.entry, found, user.buffer);
    if (e != 0 && e != ENOENT) return error_number(e);
    if (found == nullptr) return no_password_entry(uid);
    return nullptr;
}

quarn_object *option_of_text(const char *s) noexcept {
    if (s == nullptr || *s == '\0') return quarn_box(0);
    quarn_object *some = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(some, 0, text(s));
    return some;
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_os_tmpdir(void) noexcept {
    for (const char *name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
        const char *value = ::getenv(name);
        if (value == nullptr) continue;
        std::string_view dir = value;
        if (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
        return ok_text(dir);
    }
    return ok_text("/tmp");
}

extern "C" quarn_object *quarn_lean_uv_os_homedir(void) noexcept {
    if (const char *home = ::getenv("HOME")) return ok_text(home);
    UserEntry user;
    if (quarn_object *error = find_effective_user(user)) return error;
    return ok_text(user.entry.pw_dir != nullptr ? user.entry.pw_dir : "");
}

extern "C" quarn_object *quarn_lean_uv_os_get_passwd(void) noexcept {
    UserEntry user;
    if (quarn_object *error = find_effective_user(user)) return error;
    const passwd &entry = user.entry;
    quarn_object *result = quarn_alloc_ctor(0, 3, 16);
    quarn_ctor_set(result, 0, text(entry.pw_name != nullptr ? entry.pw_name : ""));
    quarn_ctor_set(result, 1, option_of_text(entry.pw_shell));
    quarn_ctor_set(result, 2, text(entry.pw_dir != nullptr ? entry.pw_dir : ""));
    quarn_ctor_set_uint64(result, 3 * 8, entry.pw_uid);
    quarn_ctor_set_uint64(result, 4 * 8, entry.pw_gid);
    return quarn::io::io_ok(result);
}

extern "C" quarn_object *quarn_lean_uv_os_get_group(uint64_t gid) noexcept {
    if (gid > UINT32_MAX) return quarn::io::io_ok(quarn_box(0));  // no such group id exists
    group entry{};
    group *found = nullptr;
    quarn::Text buffer;
    int e = look_up([&](group *g, char *b, size_t n, group **r) {
                        return ::getgrgid_r(static_cast<gid_t>(gid), g, b, n, r);
                    },
                    entry, found, buffer);
    if (e != 0 && e != ENOENT) return error_number(e);
    if (found == nullptr) return quarn::io::io_ok(quarn_box(0));
    size_t count = 0;
    while (entry.gr_mem != nullptr && entry.gr_mem[count] != nullptr) ++count;
    quarn_array_object *members = quarn::array::allocate_array(count, count);
    for (size_t i = 0; i < count; ++i) members->data[i] = text(entry.gr_mem[i]);
    quarn_object *record = quarn_alloc_ctor(0, 2, 8);
    quarn_ctor_set(record, 0, text(entry.gr_name != nullptr ? entry.gr_name : ""));
    quarn_ctor_set(record, 1, &members->header);
    quarn_ctor_set_uint64(record, 2 * 8, entry.gr_gid);
    quarn_object *some = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(some, 0, record);
    return quarn::io::io_ok(some);
}

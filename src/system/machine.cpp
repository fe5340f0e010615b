// Identifiers of the process and facts about the machine: uptime, process ids, host name,
// priority, kernel identification and resource usage.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <climits>

#include "quarn/system.h"
#include "system/results.h"

using namespace quarn::system;

namespace {

// The text of a fixed-size field of the system, up to its first NUL.
template <size_t N>
std::string_view field_text(const char (&field)[N]) noexcept {
    return {field, ::strnlen(field, N)};
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_uptime(void) noexcept {
    timespec now{};
    if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0) return error_number(errno);
    return ok_number(static_cast<uint64_t>(now.tv_sec));
}

extern "C" quarn_object *quarn_lean_uv_os_getpid(void) noexcept {
    return ok_number(static_cast<uint64_t>(::getpid()));
}

extern "C" quarn_object *quarn_lean_uv_os_getppid(void) noexcept {
    return ok_number(static_cast<uint64_t>(::getppid()));
}

extern "C" quarn_object *quarn_lean_uv_os_gethostname(void) noexcept {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return error_number(errno);
    return ok_text(field_text(name));
}

extern "C" quarn_object *quarn_lean_uv_os_getpriority(uint64_t pid) noexcept {
    if (pid > static_cast<uint64_t>(INT_MAX)) return error_number(EINVAL);
    errno = 0;  // -1 is a legitimate priority: only errno tells a failure
    int priority = ::getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
    if (priority == -1 && errno != 0) return error_number(errno);
    return ok_number(static_cast<uint64_t>(static_cast<int64_t>(priority)));
}

extern "C" quarn_object *quarn_lean_uv_os_setpriority(uint64_t pid, int64_t priority) noexcept {
    // The system clamps priorities outside -20..19 without a word; a program asking for one
    // is told instead.
    if (pid > static_cast<uint64_t>(INT_MAX) || priority < -20 || priority > 19)
        return error_number(EINVAL);
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), static_cast<int>(priority)) != 0)
        return error_number(errno);
    return quarn::io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_os_uname(void) noexcept {
    utsname names{};
    if (::uname(&names) != 0) return error_number(errno);
    quarn_object *result = quarn_alloc_ctor(0, 4, 0);
    quarn_ctor_set(result, 0, text(field_text(names.sysname)));
    quarn_ctor_set(result, 1, text(field_text(names.release)));
    quarn_ctor_set(result, 2, text(field_text(names.version)));
    quarn_ctor_set(result, 3, text(field_text(names.machine)));
    return quarn::io::io_ok(result);
}

extern "C" quarn_object *quarn_lean_uv_getrusage(void) noexcept {
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) return error_number(errno);
    auto milliseconds = [](const timeval &t) {
        return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_usec) / 1000;
    };
    const uint64_t figures[16] = {
        milliseconds(usage.ru_utime), milliseconds(usage.ru_stime),
        static_cast<uint64_t>(usage.ru_maxrss), static_cast<uint64_t>(usage.ru_ixrss),
        static_cast<uint64_t>(usage.ru_idrss), static_cast<uint64_t>(usage.ru_isrss),
        static_cast<uint64_t>(usage.ru_minflt), static_cast<uint64_t>(usage.ru_majflt),
        static_cast<uint64_t>(usage.ru_nswap), static_cast<uint64_t>(usage.ru_inblock),
        static_cast<uint64_t>(usage.ru_oublock), static_cast<uint64_t>(usage.ru_msgsnd),
        static_cast<uint64_t>(usage.ru_msgrcv), static_cast<uint64_t>(usage.ru_nsignals),
        static_cast<uint64_t>(usage.ru_nvcsw), static_cast<uint64_t>(usage.ru_nivcsw),
    };
    quarn_object *result = quarn_alloc_ctor(0, 0, sizeof figures);
    for (size_t i = 0; i < 16; ++i) quarn_ctor_set_uint64(result, i * 8, figures[i]);
    return quarn::io::io_ok(result);
}

#include "fs/process_paths.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quarn::fs {

int read_working_directory(Text &into) noexcept {
    // A path longer than PATH_MAX is possible; the buffer doubles until it fits.
    into.resize(PATH_MAX);
    for (;;) {
        if (::getcwd(into.data(), into.size()) != nullptr) {
            into.resize(std::strlen(into.data()));
            return 0;
        }
        if (errno != ERANGE) return errno;
        into.resize(into.size() * 2);
    }
}

}  // namespace quarn::fs

namespace quarn::fs {

int read_executable_path(Text &into) noexcept {
    into.resize(256);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", into.data(), into.size());
        if (n < 0) return errno;
        if (static_cast<size_t>(n) < into.size()) {
            into.resize(static_cast<size_t>(n));
            return 0;
        }
        into.resize(into.size() * 2);  // possibly cut: read again with more room
    }
}

}  // namespace quarn::fs

#include "fs/working_directory.h"

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

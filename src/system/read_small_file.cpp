#include <fcntl.h>
#include <unistd.h>

#include "core/retry.h"
#include "io/unique_fd.h"
#include "system/results.h"

namespace quarn::system {

bool read_small_file(const char *path, Text &into) noexcept {
    io::UniqueFd fd(retry_interrupted([&] { return ::open(path, O_RDONLY | O_CLOEXEC); }));
    if (!fd) return false;
    into.clear();
    char chunk[4096];
    for (;;) {
        ssize_t n = retry_interrupted([&] { return ::read(fd.get(), chunk, sizeof chunk); });
        if (n < 0) return false;
        if (n == 0) return true;
        into.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace quarn::system

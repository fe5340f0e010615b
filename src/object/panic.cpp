#include "object/panic.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quarn {

namespace {

// Writes the pieces with writev, resuming after partial writes and interruptions. Builds
// no string, so it works when memory is exhausted.
void write_to_stderr(std::string_view message) {
    static constexpr std::string_view kPrefix = "INTERNAL PANIC: ";
    iovec pieces[3] = {
        {const_cast<char *>(kPrefix.data()), kPrefix.size()},
        {const_cast<char *>(message.data()), message.size()},
        {const_cast<char *>("\n"), 1},
    };
    iovec *next = pieces;
    int left = 3;
    while (left > 0) {
        ssize_t written = ::writev(STDERR_FILENO, next, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        auto remaining = static_cast<size_t>(written);
        while (left > 0 && remaining >= next->iov_len) {
            remaining -= next->iov_len;
            ++next;
            --left;
        }
        if (left > 0) {
            next->iov_base = static_cast<char *>(next->iov_base) + remaining;
            next->iov_len -= remaining;
        }
    }
}

}  // namespace

void internal_panic(std::string_view message) noexcept {
    write_to_stderr(message);
    if (std::getenv("LEAN_ABORT_ON_PANIC") != nullptr) std::abort();
    std::exit(1);
}

}  // namespace quarn

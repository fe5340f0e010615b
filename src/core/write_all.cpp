#include "core/write_all.h"

#include <sys/uio.h>

#include <cerrno>

namespace quarn {

bool write_all(int fd, std::initializer_list<std::string_view> pieces) noexcept {
    return write_all(fd, std::span<const std::string_view>(pieces.begin(), pieces.size()));
}

bool write_all(int fd, std::span<const std::string_view> pieces) noexcept {
    iovec vectors[kMaxPieces];
    int left = 0;
    for (std::string_view piece : pieces) {
        if (piece.empty()) continue;
        if (left == static_cast<int>(kMaxPieces)) return false;
        vectors[left++] = {const_cast<char *>(piece.data()), piece.size()};
    }
    iovec *next = vectors;
    while (left > 0) {
        ssize_t written = ::writev(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
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
    return true;
}

}  // namespace quarn

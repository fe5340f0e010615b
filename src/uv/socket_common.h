// What TCP and UDP sockets share: socket options, would-block outcomes, the promises an
// operation records and settles, and reading a socket's own or peer address.
#pragma once

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "io/io_result.h"
#include "uv/address.h"
#include "uv/promises.h"
#include "uv/record.h"

namespace quarn::uv {

inline bool would_block(int error) noexcept { return error == EAGAIN || error == EWOULDBLOCK; }

// setsockopt of an int option: 0 or the negated error number.
inline int set_option(int fd, int level, int name, int value) noexcept {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0 ? 0 : -errno;
}

// Resolves a promise taken out of a record and releases the record's reference to it.
// Consumes promise and except.
inline void settle(quarn_object *promise, quarn_object *except) noexcept {
    resolve_promise(promise, except);
    quarn_dec(promise);
}

// A new promise stored into `slot` (the record's reference), with one more reference for
// the caller. Returns an owned reference.
inline quarn_object *record_promise(quarn_object *&slot) noexcept {
    slot = new_promise();
    quarn_inc(slot);
    return slot;
}

// ok(a promise already resolved with ok unit). Returns an owned reference.
inline quarn_object *ok_promise_resolved_with_unit() noexcept {
    quarn_object *promise = new_promise();
    resolve_promise(promise, except_ok(quarn_box(0)));
    return io::io_ok(promise);
}

// A socket's pending receive or wait for readability: its promise (the record's reference),
// the byte array a receive fills, and, while it is pending, one reference to the socket
// object. Read and written under the event loop lock.
struct PendingRead {
    enum class Mode : std::uint8_t { None, Receive, WaitReadable };

    Mode mode = Mode::None;
    quarn_object *promise = nullptr;
    quarn_object *buffer = nullptr;

    bool pending() const noexcept { return mode != Mode::None; }

    // Starts a read that keeps `owner` alive; `buffer` (consumed) is null for a wait.
    // Returns the promise for the caller (an owned reference).
    quarn_object *start(Mode how, quarn_object *into, quarn_object *owner) noexcept {
        mode = how;
        buffer = into;
        quarn_inc(owner);
        return record_promise(promise);
    }

    // Ends the read with `except` (consumed) and lets go of the buffer and of the socket.
    void complete(quarn_object *except, quarn_object *owner) noexcept {
        mode = Mode::None;
        if (quarn_object *b = std::exchange(buffer, nullptr)) quarn_dec(b);
        settle(std::exchange(promise, nullptr), except);
        quarn_dec(owner);
    }

    // Drops a pending read unresolved; what it held goes once the lock is let go.
    void cancel(ReleaseAfterUnlock &releases, quarn_object *owner) noexcept {
        if (!pending()) return;
        mode = Mode::None;
        releases.add(std::exchange(promise, nullptr));
        releases.add(std::exchange(buffer, nullptr));
        releases.add(owner);
    }
};

// The IO result of getsockname or getpeername on a descriptor: ok(socket address) or the
// error; -EBADF without a descriptor. Call under the event loop lock.
inline quarn_object *query_address(int fd, int (*query)(int, sockaddr *, socklen_t *)) noexcept {
    if (fd < 0) return io_error_of_code(-EBADF);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (query(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) return io_error_of_code(-errno);
    quarn_object *lean = lean_from_system(address);
    return lean != nullptr ? io::io_ok(lean) : io_error_of_code(-EAFNOSUPPORT);
}

}  // namespace quarn::uv

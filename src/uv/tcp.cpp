// TCP sockets: external objects wrapping a record that is also a reactor source. The
// descriptor is made when bind or connect first learns the address family. Operations that
// wait record their promise in the record and hold one reference to the socket object
// until the reactor thread resolves it; every field is read and written under the event
// loop lock.
//
// Before a promise is resolved its operation is cleared from the record: a synchronous
// continuation may run at once, on this thread, and start the next operation.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <string_view>

#include "array/sarray_alloc.h"
#include "core/retry.h"
#include "io/io_result.h"
#include "io/unique_fd.h"
#include "object/external_class.h"
#include "quarn/array.h"
#include "quarn/uv.h"
#include "uv/address.h"
#include "uv/promises.h"
#include "uv/reactor.h"
#include "uv/record.h"
#include "uv/socket_common.h"

namespace quarn::uv {

namespace {

using Value = quarn_object *;

constexpr int kEBADF = -EBADF;
constexpr int kEINVAL = -EINVAL;
constexpr int kEPIPE = -EPIPE;
constexpr int kEADDRINUSE = -EADDRINUSE;
constexpr int kENOBUFS = -ENOBUFS;
constexpr int kENOTCONN = -ENOTCONN;
constexpr int kECONNREFUSED = -ECONNREFUSED;
constexpr int kEALREADY = -EALREADY;
constexpr int kECANCELED = -ECANCELED;
constexpr int kEAFNOSUPPORT = -EAFNOSUPPORT;

constexpr std::string_view kParallelAccept =
    "parallel accept is not allowed! consider binding multiple sockets to the same address and "
    "accepting on them instead";
constexpr std::string_view kShutdownInProgress = "shutdown already in progress";

// The keep-alive idle time of a socket whose keep-alive was asked for before it existed.
constexpr uint32_t kDefaultKeepAliveSeconds = 60;
// Byte arrays gathered into one sendmsg at most.
constexpr int kMaxGather = 64;

int set_keep_alive(int fd, bool enable, uint32_t idle_seconds) noexcept {
    if (int r = set_option(fd, SOL_SOCKET, SO_KEEPALIVE, enable ? 1 : 0)) return r;
    if (!enable) return 0;
    if (int r = set_option(fd, IPPROTO_TCP, TCP_KEEPIDLE, static_cast<int>(idle_seconds))) return r;
    if (int r = set_option(fd, IPPROTO_TCP, TCP_KEEPINTVL, 1)) return r;
    return set_option(fd, IPPROTO_TCP, TCP_KEEPCNT, 10);
}

// One queued send: the byte arrays and how far they are sent.
struct WriteEntry {
    Value promise;
    Value buffers;
    size_t index;
    size_t offset;
};

using ReadMode = PendingRead::Mode;

class TcpSocket final : public Source {
public:
    Value owner = nullptr;
    uint64_t id = 0;

    std::deque<WriteEntry, PanicAllocator<WriteEntry>> writes;
    io::UniqueFd fd;
    Family family = Family::None;
    io::UniqueFd stashed;
    Family stashed_family = Family::None;
    Value connect_promise = nullptr;
    Value accept_promise = nullptr;
    Value accept_target = nullptr;
    PendingRead read;
    Value shutdown_promise = nullptr;
    int delayed_error = 0;
    bool readable = false;
    bool writable = false;
    bool listening = false;
    bool no_delay_wanted = false;
    bool keep_alive_wanted = false;
    bool shutdown_requested = false;
    bool shutdown_done = false;

    bool has_pending_operation() const noexcept {
        return connect_promise != nullptr || accept_promise != nullptr || read.pending() ||
               shutdown_promise != nullptr || !writes.empty();
    }

    // Makes the descriptor for the family unless one exists; 0 or a negative error code.
    int create_descriptor(Family wanted) noexcept {
        if (fd) return 0;
        int domain = wanted == Family::IPv6 ? AF_INET6 : AF_INET;
        io::UniqueFd made(::socket(domain, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!made) return -errno;
        if (no_delay_wanted) {
            if (int r = set_option(made.get(), IPPROTO_TCP, TCP_NODELAY, 1)) return r;
        }
        if (keep_alive_wanted) {
            if (int r = set_keep_alive(made.get(), true, kDefaultKeepAliveSeconds)) return r;
        }
        fd = std::move(made);
        family = wanted;
        return 0;
    }

    // Moves the stashed connection into a fresh socket.
    void hand_stash_to(TcpSocket &target) noexcept {
        target.fd = std::move(stashed);
        target.family = std::exchange(stashed_family, Family::None);
        target.readable = true;
        target.writable = true;
    }

    Interest interest() noexcept override {
        if (!fd) return {};
        bool want_read = (listening && !stashed) || read.pending();
        bool want_write = connect_promise != nullptr || !writes.empty() || (shutdown_requested && !shutdown_done);
        return {fd.get(), want_read, want_write};
    }

    void ready(bool can_read, bool can_write) noexcept override {
        // Resolutions below may release the last other reference.
        quarn_inc(owner);
        if (can_write) complete_connect(true);
        if (can_read && listening) accept_ready();
        if (can_read && read.pending()) read_ready();
        if (can_write && connect_promise == nullptr && !writes.empty()) write_ready();
        if (can_write) shutdown_ready();
        quarn_dec(owner);
    }

    // Finishes a pending connect: with the delayed error if one is stored, else (on
    // writability only) with the socket's pending error.
    void complete_connect(bool on_writable) noexcept {
        if (connect_promise == nullptr) return;
        int error;
        if (delayed_error != 0) {
            error = std::exchange(delayed_error, 0);
        } else if (on_writable) {
            if (!fd) internal_panic("pending TCP connect without a socket");
            int pending = 0;
            socklen_t length = sizeof pending;
            if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &pending, &length) != 0) pending = errno;
            if (pending == EINPROGRESS) return;
            error = -pending;
        } else {
            return;
        }
        if (error != 0) fail_writes(kECANCELED);
        settle(std::exchange(connect_promise, nullptr), error != 0 ? except_error(error) : except_ok(quarn_box(0)));
        quarn_dec(owner);
    }

    void fail_writes(int error) noexcept {
        while (!writes.empty()) {
            WriteEntry entry = writes.front();
            writes.pop_front();
            quarn_dec(entry.buffers);
            settle(entry.promise, except_error(error));
            quarn_dec(owner);
        }
    }

    void accept_ready() noexcept;

    void read_ready() noexcept {
        if (!fd) internal_panic("pending TCP read without a socket");
        if (read.mode == ReadMode::WaitReadable) return complete_read(except_ok(quarn_box(1)));
        auto *buffer = reinterpret_cast<quarn_sarray_object *>(read.buffer);
        if (buffer->capacity == 0) return complete_read(except_error(kENOBUFS));
        ssize_t n = retry_interrupted([&] { return ::recv(fd.get(), buffer->data, buffer->capacity, 0); });
        if (n < 0) {
            if (would_block(errno)) return;
            return complete_read(except_error(-errno));
        }
        if (n == 0) return complete_read(except_ok(quarn_box(0)));
        buffer->size = static_cast<size_t>(n);
        Value some = quarn_alloc_ctor(1, 1, 0);
        quarn_ctor_set(some, 0, std::exchange(read.buffer, nullptr));
        complete_read(except_ok(some));
    }

    void complete_read(Value except) noexcept { read.complete(except, owner); }

    void write_ready() noexcept;

    void shutdown_ready() noexcept {
        if (!shutdown_requested || shutdown_done || !writes.empty()) return;
        shutdown_done = true;
        int result = kENOTCONN;
        if (fd) result = ::shutdown(fd.get(), SHUT_WR) == 0 ? 0 : -errno;
        settle(std::exchange(shutdown_promise, nullptr), result == 0 ? except_ok(quarn_box(0)) : except_error(result));
        quarn_dec(owner);
    }
};

void finalize_socket(void *data) {
    auto *socket = static_cast<TcpSocket *>(data);
    {
        LoopGuard guard(loop_lock());
        if (socket->has_pending_operation()) internal_panic("a TCP socket with pending operations was finalized");
        socket->fd.reset();
        socket->stashed.reset();
        // Wakes the reactor: a poll still watching the descriptor lets go of it, so the
        // port is free and no connection completes on it any more.
        remove_source(socket->id);
    }
    delete_record(socket);
}

constexpr quarn_external_class kTcpSocketClass = {finalize_socket, quarn::object::visit_nothing};

TcpSocket &socket_of(Value socket) noexcept {
    return record_of<TcpSocket>(socket, &kTcpSocketClass, "expected a TCP socket object");
}

TcpSocket &record_behind(Value object) noexcept {
    return *static_cast<TcpSocket *>(reinterpret_cast<quarn_external_object *>(object)->data);
}

// A new socket object, registered with the reactor. Returns an owned reference.
Value new_socket() noexcept {
    auto *socket = new_record<TcpSocket>();
    socket->owner = wrap_record(&kTcpSocketClass, socket);
    socket->id = register_source(socket);
    return socket->owner;
}

void TcpSocket::accept_ready() noexcept {
    while (listening && !stashed) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        int accepted = ::accept4(fd.get(), reinterpret_cast<sockaddr *>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (accepted < 0) {
            int error = errno;
            if (error == EINTR || error == ECONNABORTED) continue;
            if (would_block(error)) return;
            if (accept_promise != nullptr) {
                quarn_dec(std::exchange(accept_target, nullptr));
                settle(std::exchange(accept_promise, nullptr), except_error(-error));
                quarn_dec(owner);
            }
            return;
        }
        stashed.reset(accepted);
        stashed_family = family_of(peer);
        if (accept_promise != nullptr) {
            Value target = std::exchange(accept_target, nullptr);
            hand_stash_to(record_behind(target));
            settle(std::exchange(accept_promise, nullptr), except_ok(target));
            quarn_dec(owner);
        }
    }
}

// Moves the entry's position forward by `sent` bytes, past any empty byte arrays; true
// once every byte array is sent.
bool advance(WriteEntry &entry, size_t sent) noexcept {
    size_t count = quarn_array_size(entry.buffers);
    while (entry.index < count) {
        size_t size = quarn_sarray_size(quarn_array_uget_borrowed(entry.buffers, entry.index));
        size_t left = size - entry.offset;
        if (sent < left) {
            entry.offset += sent;
            return false;
        }
        sent -= left;
        ++entry.index;
        entry.offset = 0;
    }
    return true;
}

void TcpSocket::write_ready() noexcept {
    if (!fd) internal_panic("pending TCP write without a socket");
    while (!writes.empty()) {
        WriteEntry &entry = writes.front();
        iovec parts[kMaxGather];
        int gathered = 0;
        size_t count = quarn_array_size(entry.buffers);
        for (size_t i = entry.index, offset = entry.offset; i < count && gathered < kMaxGather; ++i, offset = 0) {
            auto *bytes = reinterpret_cast<quarn_sarray_object *>(quarn_array_uget_borrowed(entry.buffers, i));
            if (bytes->size > offset) parts[gathered++] = {static_cast<void *>(bytes->data + offset), bytes->size - offset};
        }
        bool done = gathered == 0;
        if (!done) {
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = static_cast<size_t>(gathered);
            ssize_t sent = retry_interrupted([&] { return ::sendmsg(fd.get(), &message, MSG_NOSIGNAL | MSG_DONTWAIT); });
            if (sent < 0) {
                if (would_block(errno)) return;
                int error = -errno;
                WriteEntry failed = entry;
                writes.pop_front();
                quarn_dec(failed.buffers);
                settle(failed.promise, except_error(error));
                quarn_dec(owner);
                continue;
            }
            done = advance(entry, static_cast<size_t>(sent));
            // A short send means the socket's buffer is full.
            if (!done) return;
        }
        WriteEntry finished = entry;
        writes.pop_front();
        quarn_dec(finished.buffers);
        settle(finished.promise, except_ok(quarn_box(0)));
        quarn_dec(owner);
    }
}

// The posted completion of a connect that failed before it started.
void complete_connect_posted(void *data) noexcept {
    auto *socket = static_cast<TcpSocket *>(data);
    quarn_inc(socket->owner);
    socket->complete_connect(false);
    quarn_dec(socket->owner);
}

}  // namespace

}  // namespace quarn::uv

using namespace quarn;
using namespace quarn::uv;

extern "C" quarn_object *quarn_lean_uv_tcp_new() noexcept { return io::io_ok(new_socket()); }

extern "C" quarn_object *quarn_lean_uv_tcp_bind(quarn_object *object, quarn_object *address) noexcept {
    TcpSocket &socket = socket_of(object);
    NativeAddress native;
    if (!native_from_lean(address, native)) return io_error_of_code(kEINVAL);
    SystemAddress system = system_from_native(native);
    LoopGuard guard(loop_lock());
    if (int r = socket.create_descriptor(native.family)) return io_error_of_code(r);
    if (int r = set_option(socket.fd.get(), SOL_SOCKET, SO_REUSEADDR, 1)) return io_error_of_code(r);
    if (socket.family == Family::IPv6) {
        if (int r = set_option(socket.fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, 0)) return io_error_of_code(r);
    }
    if (::bind(socket.fd.get(), system.get(), system.length) != 0) {
        int error = errno;
        if (error == EADDRINUSE) {
            socket.delayed_error = kEADDRINUSE;
            return io::io_ok_unit();
        }
        return io_error_of_code(error == EAFNOSUPPORT ? kEINVAL : -error);
    }
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_tcp_listen(quarn_object *object, uint32_t backlog) noexcept {
    TcpSocket &socket = socket_of(object);
    {
        LoopGuard guard(loop_lock());
        if (socket.delayed_error != 0) return io_error_of_code(socket.delayed_error);
        if (int r = socket.create_descriptor(Family::IPv4)) return io_error_of_code(r);
        if (::listen(socket.fd.get(), static_cast<int>(backlog)) != 0) return io_error_of_code(-errno);
        socket.listening = true;
    }
    wake();
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_tcp_connect(quarn_object *object, quarn_object *address) noexcept {
    TcpSocket &socket = socket_of(object);
    NativeAddress native;
    if (!native_from_lean(address, native)) return io_error_of_code(kEINVAL);
    SystemAddress system = system_from_native(native);
    Value promise;
    {
        LoopGuard guard(loop_lock());
        if (socket.connect_promise != nullptr) return io_error_of_code(kEALREADY);
        if (socket.delayed_error == 0) {
            if (int r = socket.create_descriptor(native.family)) return io_error_of_code(r);
            socket.readable = true;
            socket.writable = true;
            int r = retry_interrupted([&] { return ::connect(socket.fd.get(), system.get(), system.length); });
            if (r != 0 && errno != EINPROGRESS) {
                if (errno != ECONNREFUSED) return io_error_of_code(-errno);
                socket.delayed_error = kECONNREFUSED;
            }
        }
        promise = record_promise(socket.connect_promise);
        quarn_inc(socket.owner);
        if (socket.delayed_error != 0) post({complete_connect_posted, &socket});
    }
    wake();
    return io::io_ok(promise);
}

extern "C" quarn_object *quarn_lean_uv_tcp_accept(quarn_object *object) noexcept {
    TcpSocket &socket = socket_of(object);
    Value promise;
    {
        LoopGuard guard(loop_lock());
        if (socket.accept_promise != nullptr) return io_error_of_code(kEALREADY, kParallelAccept);
        Value target = new_socket();
        if (socket.stashed) {
            socket.hand_stash_to(record_behind(target));
            promise = new_promise();
            resolve_promise(promise, except_ok(target));
            // The listener asks for readability again.
            wake();
            return io::io_ok(promise);
        }
        promise = record_promise(socket.accept_promise);
        socket.accept_target = target;
        quarn_inc(socket.owner);
    }
    wake();
    return io::io_ok(promise);
}

extern "C" quarn_object *quarn_lean_uv_tcp_try_accept(quarn_object *object) noexcept {
    TcpSocket &socket = socket_of(object);
    LoopGuard guard(loop_lock());
    if (socket.accept_promise != nullptr) return io_error_of_code(kEALREADY, kParallelAccept);
    Value found = quarn_box(0);
    if (socket.stashed) {
        Value target = new_socket();
        socket.hand_stash_to(record_behind(target));
        found = quarn_alloc_ctor(1, 1, 0);
        quarn_ctor_set(found, 0, target);
        // The listener asks for readability again: wake the reactor to poll it.
        wake();
    }
    Value wrapper = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(wrapper, 0, found);
    return io::io_ok(wrapper);
}

extern "C" quarn_object *quarn_lean_uv_tcp_cancel_accept(quarn_object *object) noexcept {
    TcpSocket &socket = socket_of(object);
    ReleaseAfterUnlock releases;
    LoopGuard guard(loop_lock());
    if (socket.accept_promise != nullptr) {
        releases.add(std::exchange(socket.accept_promise, nullptr));
        releases.add(std::exchange(socket.accept_target, nullptr));
        releases.add(socket.owner);
    }
    return io::io_ok_unit();
}

namespace {

// Starts a receive (with a buffer) or a wait for readability.
quarn_object *start_read(quarn_object *object, ReadMode mode, uint64_t max_bytes) noexcept {
    TcpSocket &socket = socket_of(object);
    Value promise;
    {
        LoopGuard guard(loop_lock());
        if (socket.read.pending()) return io_error_of_code(kEALREADY);
        if (!socket.readable || !socket.fd) return io_error_of_code(kENOTCONN);
        Value buffer = mode == ReadMode::Receive ? &array::allocate_sarray(1, 0, max_bytes)->header : nullptr;
        promise = socket.read.start(mode, buffer, socket.owner);
        // Off the reactor thread, bytes already waiting are received at once and the
        // reactor waits only when there are none. On it, the poll that comes next finds
        // them at no extra cost. A zero-byte receive waits for readability before it fails.
        if (mode == ReadMode::Receive && max_bytes > 0 && !on_reactor_thread()) {
            socket.read_ready();
            if (!socket.read.pending()) return io::io_ok(promise);
        }
    }
    wake();
    return io::io_ok(promise);
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_tcp_recv(quarn_object *object, uint64_t max_bytes) noexcept {
    return start_read(object, ReadMode::Receive, max_bytes);
}

extern "C" quarn_object *quarn_lean_uv_tcp_wait_readable(quarn_object *object) noexcept {
    return start_read(object, ReadMode::WaitReadable, 0);
}

extern "C" quarn_object *quarn_lean_uv_tcp_cancel_recv(quarn_object *object) noexcept {
    TcpSocket &socket = socket_of(object);
    ReleaseAfterUnlock releases;
    LoopGuard guard(loop_lock());
    socket.read.cancel(releases, socket.owner);
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_tcp_send(quarn_object *object, quarn_object *buffers) noexcept {
    TcpSocket &socket = socket_of(object);
    if (quarn_array_size(buffers) == 0) {
        quarn_dec(buffers);
        return ok_promise_resolved_with_unit();
    }
    Value promise;
    {
        LoopGuard guard(loop_lock());
        int refused = !socket.fd ? kEBADF : !socket.writable ? kEPIPE : 0;
        if (refused != 0) {
            quarn_dec(buffers);
            return io_error_of_code(refused);
        }
        quarn_mark_mt(buffers);
        promise = new_promise();
        quarn_inc(promise);
        socket.writes.push_back({promise, buffers, 0, 0});
        quarn_inc(socket.owner);
        // With nothing queued before it, the bytes the socket takes now are sent at once
        // (the promise has no continuation yet); the reactor is asked only for the rest.
        if (socket.writes.size() == 1 && socket.connect_promise == nullptr) {
            socket.write_ready();
            if (socket.writes.empty()) return io::io_ok(promise);
        }
    }
    wake();
    return io::io_ok(promise);
}

extern "C" quarn_object *quarn_lean_uv_tcp_shutdown(quarn_object *object) noexcept {
    TcpSocket &socket = socket_of(object);
    Value promise;
    {
        LoopGuard guard(loop_lock());
        if (socket.shutdown_promise != nullptr) return io_error_of_code(kEALREADY, kShutdownInProgress);
        if (!socket.writable || socket.shutdown_requested || socket.shutdown_done) return io_error_of_code(kENOTCONN);
        promise = record_promise(socket.shutdown_promise);
        socket.shutdown_requested = true;
        socket.writable = false;
        quarn_inc(socket.owner);
    }
    wake();
    return io::io_ok(promise);
}

extern "C" quarn_object *quarn_lean_uv_tcp_keepalive(quarn_object *object, uint8_t enable,
                                                     uint32_t delay_seconds) noexcept {
    TcpSocket &socket = socket_of(object);
    LoopGuard guard(loop_lock());
    if (socket.fd) {
        if (int r = set_keep_alive(socket.fd.get(), enable != 0, delay_seconds)) return io_error_of_code(r);
    }
    socket.keep_alive_wanted = enable != 0;
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_tcp_nodelay(quarn_object *object) noexcept {
    TcpSocket &socket = socket_of(object);
    LoopGuard guard(loop_lock());
    if (socket.fd) {
        if (int r = set_option(socket.fd.get(), IPPROTO_TCP, TCP_NODELAY, 1)) return io_error_of_code(r);
    }
    socket.no_delay_wanted = true;
    return io::io_ok_unit();
}

namespace {

quarn_object *socket_address(quarn_object *object, int (*query)(int, sockaddr *, socklen_t *)) noexcept {
    TcpSocket &socket = socket_of(object);
    LoopGuard guard(loop_lock());
    return query_address(socket.fd ? socket.fd.get() : -1, query);
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_tcp_getpeername(quarn_object *object) noexcept {
    return socket_address(object, ::getpeername);
}

extern "C" quarn_object *quarn_lean_uv_tcp_getsockname(quarn_object *object) noexcept {
    return socket_address(object, ::getsockname);
}

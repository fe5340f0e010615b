// UDP sockets: external objects wrapping a record that is also a reactor source, like TCP
// sockets. The descriptor is made by bind, or by the first connect, send or receive, which
// bind it to the wildcard address of the family at port 0. A pending send or receive holds
// one reference to the socket object until the reactor thread resolves it; every field is
// read and written under the event loop lock.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>

#include "array/sarray_alloc.h"
#include "core/retry.h"
#include "fs/system_call.h"
#include "io/io_result.h"
#include "io/unique_fd.h"
#include "object/external_class.h"
#include "quarn/array.h"
#include "quarn/udp_dns_signal.h"
#include "quarn/uv.h"
#include "uv/address.h"
#include "uv/promises.h"
#include "uv/reactor.h"
#include "uv/record.h"
#include "uv/socket_common.h"

namespace quarn::uv {

namespace {

using Value = quarn_object *;

// No datagram is longer: a receive never needs a larger buffer, whatever size it asks for.
constexpr uint64_t kLargestDatagram = 65536;

struct SendEntry {
    std::optional<NativeAddress> destination;
    Value promise;
    Value buffers;
};

using ReadMode = PendingRead::Mode;

class UdpSocket final : public Source {
public:
    Value owner = nullptr;
    uint64_t id = 0;

    std::deque<SendEntry, PanicAllocator<SendEntry>> sends;
    io::UniqueFd fd;
    Family family = Family::None;
    PendingRead read;
    bool connected = false;

    bool has_pending_operation() const noexcept { return read.pending() || !sends.empty(); }

    // Makes the descriptor for the family unless one exists; 0 or a negative error code.
    int create_descriptor(Family wanted) noexcept {
        if (fd) return 0;
        int domain = wanted == Family::IPv6 ? AF_INET6 : AF_INET;
        io::UniqueFd made(::socket(domain, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!made) return -errno;
        fd = std::move(made);
        family = wanted;
        return 0;
    }

    // Binds to `address` on a new descriptor of its family; 0 or a negative error code.
    int bind_to(const NativeAddress &address) noexcept {
        if (int r = create_descriptor(address.family)) return r;
        if (int r = set_option(fd.get(), SOL_SOCKET, SO_REUSEADDR, 1)) return r;
        if (family == Family::IPv6) {
            if (int r = set_option(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, 0)) return r;
        }
        SystemAddress system = system_from_native(address);
        if (::bind(fd.get(), system.get(), system.length) != 0) return errno == EAFNOSUPPORT ? -EINVAL : -errno;
        return 0;
    }

    // The wildcard address of the family at port 0, unless the socket has a descriptor.
    int bind_implicitly(Family wanted) noexcept {
        if (fd) return 0;
        NativeAddress any;
        any.family = wanted;
        return bind_to(any);
    }

    Interest interest() noexcept override {
        if (!fd) return {};
        return {fd.get(), read.pending(), !sends.empty()};
    }

    void ready(bool can_read, bool can_write) noexcept override {
        // Resolutions below may release the last other reference.
        quarn_inc(owner);
        if (can_read && read.pending()) read_ready();
        if (can_write && !sends.empty()) send_ready();
        quarn_dec(owner);
    }

    void read_ready() noexcept {
        if (!fd) internal_panic("pending UDP read without a socket");
        if (read.mode == ReadMode::WaitReadable) return complete_read(except_ok(quarn_box(1)));
        auto *buffer = reinterpret_cast<quarn_sarray_object *>(read.buffer);
        if (buffer->capacity == 0) return complete_read(except_error(-ENOBUFS));
        sockaddr_storage sender{};
        socklen_t length = sizeof sender;
        ssize_t n = retry_interrupted([&] {
            return ::recvfrom(fd.get(), buffer->data, buffer->capacity, 0, reinterpret_cast<sockaddr *>(&sender),
                              &length);
        });
        if (n < 0) {
            // Woken with nothing to read (another reader took it, or a bad checksum): the
            // receive goes on waiting; an empty datagram is only one that was sent.
            if (would_block(errno)) return;
            return complete_read(except_error(-errno));
        }
        buffer->size = static_cast<size_t>(n);
        Value from = quarn_box(0);
        if (Value address = lean_from_system(sender)) {
            from = quarn_alloc_ctor(1, 1, 0);
            quarn_ctor_set(from, 0, address);
        }
        Value pair = quarn_alloc_ctor(0, 2, 0);
        quarn_ctor_set(pair, 0, std::exchange(read.buffer, nullptr));
        quarn_ctor_set(pair, 1, from);
        complete_read(except_ok(pair));
    }

    void complete_read(Value except) noexcept { read.complete(except, owner); }

    void send_ready() noexcept {
        if (!fd) internal_panic("pending UDP send without a socket");
        while (!sends.empty()) {
            SendEntry &entry = sends.front();
            // The byte arrays go out as one datagram holding their concatenation.
            Vector<uint8_t> datagram;
            size_t count = quarn_array_size(entry.buffers);
            for (size_t i = 0; i < count; ++i) {
                auto *bytes = reinterpret_cast<quarn_sarray_object *>(quarn_array_uget_borrowed(entry.buffers, i));
                datagram.insert(datagram.end(), bytes->data, bytes->data + bytes->size);
            }
            ssize_t sent;
            if (entry.destination) {
                SystemAddress to = system_from_native(*entry.destination);
                sent = retry_interrupted([&] {
                    return ::sendto(fd.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL, to.get(), to.length);
                });
            } else {
                sent = retry_interrupted([&] { return ::send(fd.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL); });
            }
            if (sent < 0 && would_block(errno)) return;
            Value except = sent < 0 ? except_error(-errno) : except_ok(quarn_box(0));
            SendEntry done = entry;
            sends.pop_front();
            quarn_dec(done.buffers);
            settle(done.promise, except);
            quarn_dec(owner);
        }
    }
};

void finalize_socket(void *data) {
    auto *socket = static_cast<UdpSocket *>(data);
    {
        LoopGuard guard(loop_lock());
        if (socket->has_pending_operation()) internal_panic("a UDP socket with pending operations was finalized");
        socket->fd.reset();
        remove_source(socket->id);
    }
    delete_record(socket);
}

constexpr quarn_external_class kUdpSocketClass = {finalize_socket, quarn::object::visit_nothing};

UdpSocket &socket_of(Value socket) noexcept {
    return record_of<UdpSocket>(socket, &kUdpSocketClass, "expected a UDP socket object");
}

quarn_object *start_read(quarn_object *object, ReadMode mode, uint64_t max_bytes) noexcept {
    UdpSocket &socket = socket_of(object);
    Value promise;
    {
        LoopGuard guard(loop_lock());
        if (socket.read.pending()) return io_error_of_code(-EALREADY);
        if (int r = socket.bind_implicitly(Family::IPv4)) return io_error_of_code(r);
        Value buffer = mode == ReadMode::Receive
                           ? &array::allocate_sarray(1, 0, std::min(max_bytes, kLargestDatagram))->header
                           : nullptr;
        promise = socket.read.start(mode, buffer, socket.owner);
        // Off the reactor thread, a datagram already waiting is received at once (a
        // loopback sender's datagram is there as soon as its send returns) and the reactor
        // waits only when there is none. On it, the poll that comes next finds it anyway.
        // A zero-byte receive waits for readability before it fails.
        if (mode == ReadMode::Receive && max_bytes > 0 && !on_reactor_thread()) {
            socket.read_ready();
            if (!socket.read.pending()) return io::io_ok(promise);
        }
    }
    wake();
    return io::io_ok(promise);
}

// An IPv4 or IPv6 address in text, for the multicast options: IPv6 text may end in
// "%interface" (a name or an index), which gives the interface index. False when the text
// is neither.
struct TextAddress {
    Family family = Family::None;
    uint8_t bytes[16] = {};
    unsigned interface_index = 0;
};

bool parse_text_address(std::string_view text, TextAddress &out) noexcept {
    if (text.find('\0') != std::string_view::npos || text.size() > 255) return false;
    char buffer[256];
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    if (::inet_pton(AF_INET, buffer, out.bytes) == 1) {
        out.family = Family::IPv4;
        return true;
    }
    if (char *percent = std::strchr(buffer, '%')) {
        *percent = '\0';
        const char *scope = percent + 1;
        char *end = nullptr;
        unsigned long index = std::strtoul(scope, &end, 10);
        out.interface_index = *scope != '\0' && *end == '\0' ? static_cast<unsigned>(index) : ::if_nametoindex(scope);
        if (out.interface_index == 0) return false;
    }
    if (::inet_pton(AF_INET6, buffer, out.bytes) != 1) return false;
    out.family = Family::IPv6;
    return true;
}

// Runs an option on the socket's descriptor under the lock: ok(unit) or the error.
template <typename Apply>
quarn_object *with_descriptor(quarn_object *object, Apply apply) noexcept {
    UdpSocket &socket = socket_of(object);
    LoopGuard guard(loop_lock());
    if (!socket.fd) return io_error_of_code(-EBADF);
    if (int r = apply(socket)) return io_error_of_code(r);
    return io::io_ok_unit();
}

}  // namespace

namespace detail {

void udp_ready(quarn_object *socket, bool readable, bool writable) noexcept {
    UdpSocket &record = socket_of(socket);
    LoopGuard guard(loop_lock());
    record.ready(readable, writable);
}

}  // namespace detail

}  // namespace quarn::uv

using namespace quarn;
using namespace quarn::uv;

extern "C" quarn_object *quarn_lean_uv_udp_new() noexcept {
    auto *socket = new_record<UdpSocket>();
    socket->owner = wrap_record(&kUdpSocketClass, socket);
    socket->id = register_source(socket);
    return io::io_ok(socket->owner);
}

extern "C" quarn_object *quarn_lean_uv_udp_bind(quarn_object *object, quarn_object *address) noexcept {
    UdpSocket &socket = socket_of(object);
    NativeAddress native;
    if (!native_from_lean(address, native)) return io_error_of_code(-EINVAL);
    LoopGuard guard(loop_lock());
    if (int r = socket.bind_to(native)) return io_error_of_code(r);
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_udp_connect(quarn_object *object, quarn_object *address) noexcept {
    UdpSocket &socket = socket_of(object);
    NativeAddress native;
    if (!native_from_lean(address, native)) return io_error_of_code(-EINVAL);
    LoopGuard guard(loop_lock());
    if (socket.connected) return io_error_of_code(-EISCONN);
    if (int r = socket.bind_implicitly(native.family)) return io_error_of_code(r);
    SystemAddress system = system_from_native(native);
    if (retry_interrupted([&] { return ::connect(socket.fd.get(), system.get(), system.length); }) != 0)
        return io_error_of_code(-errno);
    socket.connected = true;
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_udp_send(quarn_object *object, quarn_object *buffers,
                                                quarn_object *destination) noexcept {
    UdpSocket &socket = socket_of(object);
    if (quarn_array_size(buffers) == 0) {
        quarn_dec(buffers);
        return ok_promise_resolved_with_unit();
    }
    std::optional<NativeAddress> to;
    if (!quarn_is_scalar(destination)) {
        NativeAddress native;
        if (!native_from_lean(quarn_ctor_get(destination, 0), native)) {
            quarn_dec(buffers);
            return io_error_of_code(-EINVAL);
        }
        to = native;
    }
    Value promise;
    {
        LoopGuard guard(loop_lock());
        int refused = !to && !socket.connected ? -EDESTADDRREQ : to && socket.connected ? -EISCONN : 0;
        if (refused == 0) refused = socket.bind_implicitly(to ? to->family : socket.family);
        if (refused != 0) {
            quarn_dec(buffers);
            return io_error_of_code(refused);
        }
        quarn_mark_mt(buffers);
        promise = new_promise();
        quarn_inc(promise);
        socket.sends.push_back({to, promise, buffers});
        quarn_inc(socket.owner);
        // With nothing queued before it, the datagram goes out at once if the socket takes
        // it (the promise has no continuation yet); the reactor is asked only otherwise.
        if (socket.sends.size() == 1) {
            socket.send_ready();
            if (socket.sends.empty()) return io::io_ok(promise);
        }
    }
    wake();
    return io::io_ok(promise);
}

extern "C" quarn_object *quarn_lean_uv_udp_recv(quarn_object *object, uint64_t max_bytes) noexcept {
    return start_read(object, ReadMode::Receive, max_bytes);
}

extern "C" quarn_object *quarn_lean_uv_udp_wait_readable(quarn_object *object) noexcept {
    return start_read(object, ReadMode::WaitReadable, 0);
}

extern "C" quarn_object *quarn_lean_uv_udp_cancel_recv(quarn_object *object) noexcept {
    UdpSocket &socket = socket_of(object);
    ReleaseAfterUnlock releases;
    LoopGuard guard(loop_lock());
    socket.read.cancel(releases, socket.owner);
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_udp_set_broadcast(quarn_object *object, uint8_t enable) noexcept {
    return with_descriptor(object, [&](UdpSocket &s) { return set_option(s.fd.get(), SOL_SOCKET, SO_BROADCAST, enable != 0); });
}

extern "C" quarn_object *quarn_lean_uv_udp_set_multicast_loop(quarn_object *object, uint8_t enable) noexcept {
    return with_descriptor(object, [&](UdpSocket &s) {
        return s.family == Family::IPv6 ? set_option(s.fd.get(), IPPROTO_IPV6, IPV6_MULTICAST_LOOP, enable != 0)
                                        : set_option(s.fd.get(), IPPROTO_IP, IP_MULTICAST_LOOP, enable != 0);
    });
}

extern "C" quarn_object *quarn_lean_uv_udp_set_multicast_ttl(quarn_object *object, uint32_t ttl) noexcept {
    return with_descriptor(object, [&](UdpSocket &s) {
        if (ttl < 1 || ttl > 255) return -EINVAL;
        int value = static_cast<int>(ttl);
        return s.family == Family::IPv6 ? set_option(s.fd.get(), IPPROTO_IPV6, IPV6_MULTICAST_HOPS, value)
                                        : set_option(s.fd.get(), IPPROTO_IP, IP_MULTICAST_TTL, value);
    });
}

extern "C" quarn_object *quarn_lean_uv_udp_set_ttl(quarn_object *object, uint32_t ttl) noexcept {
    return with_descriptor(object, [&](UdpSocket &s) {
        if (ttl < 1 || ttl > 255) return -EINVAL;
        int value = static_cast<int>(ttl);
        return s.family == Family::IPv6 ? set_option(s.fd.get(), IPPROTO_IPV6, IPV6_UNICAST_HOPS, value)
                                        : set_option(s.fd.get(), IPPROTO_IP, IP_TTL, value);
    });
}

extern "C" quarn_object *quarn_lean_uv_udp_set_multicast_interface(quarn_object *object,
                                                                   quarn_object *interface) noexcept {
    return with_descriptor(object, [&](UdpSocket &s) {
        TextAddress parsed;
        if (!parse_text_address(fs::bytes_of(interface), parsed)) return -EINVAL;
        if (s.family == Family::IPv6) {
            if (parsed.family != Family::IPv6) return -EINVAL;
            return set_option(s.fd.get(), IPPROTO_IPV6, IPV6_MULTICAST_IF, static_cast<int>(parsed.interface_index));
        }
        if (parsed.family != Family::IPv4) return -EINVAL;
        in_addr address;
        std::memcpy(&address, parsed.bytes, 4);
        return ::setsockopt(s.fd.get(), IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) == 0 ? 0 : -errno;
    });
}

extern "C" quarn_object *quarn_lean_uv_udp_set_membership(quarn_object *object, quarn_object *multicast,
                                                          quarn_object *interface, uint8_t join) noexcept {
    return with_descriptor(object, [&](UdpSocket &s) {
        TextAddress group, local;
        if (!parse_text_address(fs::bytes_of(multicast), group)) return -EINVAL;
        std::string_view local_text = fs::bytes_of(interface);
        if (!local_text.empty() && !parse_text_address(local_text, local)) return -EINVAL;
        if (group.family != s.family) return -EINVAL;
        if (s.family == Family::IPv6) {
            ipv6_mreq request{};
            std::memcpy(&request.ipv6mr_multiaddr, group.bytes, 16);
            request.ipv6mr_interface = local.interface_index;
            int option = join != 0 ? IPV6_ADD_MEMBERSHIP : IPV6_DROP_MEMBERSHIP;
            return ::setsockopt(s.fd.get(), IPPROTO_IPV6, option, &request, sizeof request) == 0 ? 0 : -errno;
        }
        if (!local_text.empty() && local.family != Family::IPv4) return -EINVAL;
        ip_mreq request{};
        std::memcpy(&request.imr_multiaddr, group.bytes, 4);
        if (local.family == Family::IPv4) std::memcpy(&request.imr_interface, local.bytes, 4);
        int option = join != 0 ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP;
        return ::setsockopt(s.fd.get(), IPPROTO_IP, option, &request, sizeof request) == 0 ? 0 : -errno;
    });
}

extern "C" quarn_object *quarn_lean_uv_udp_getpeername(quarn_object *object) noexcept {
    UdpSocket &socket = socket_of(object);
    LoopGuard guard(loop_lock());
    return query_address(socket.fd ? socket.fd.get() : -1, ::getpeername);
}

extern "C" quarn_object *quarn_lean_uv_udp_getsockname(quarn_object *object) noexcept {
    UdpSocket &socket = socket_of(object);
    LoopGuard guard(loop_lock());
    return query_address(socket.fd ? socket.fd.get() : -1, ::getsockname);
}

// UDP sockets over the event loop: round trips on both families, datagrams made of several
// byte arrays or longer than the receive, connected and unconnected sends, implicit binding,
// cancellation, a dropped socket with a pending receive, and the errors of misuse.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "array/sarray_alloc.h"
#include "quarn/udp_dns_signal.h"
#include "uv/udp_testing.h"
#include "uv_testing.h"

namespace {

using namespace uv_testing;
using UdpTest = UvTest;

Value bytes_of(const std::string &text) { return quarn::array::make_byte_array(text.data(), text.size()); }

std::string text_of(Value bytes) {
    auto *array = reinterpret_cast<quarn_sarray_object *>(bytes);
    return std::string(reinterpret_cast<const char *>(array->data), array->size);
}

// An array of byte arrays. Returns an owned reference.
Value buffers(std::initializer_list<std::string> parts) {
    Value array = quarn_lean_mk_empty_array_with_capacity(quarn_box(parts.size()));
    for (const std::string &part : parts) array = quarn_lean_array_push(array, bytes_of(part));
    return array;
}

Value some(Value v) {
    Value o = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(o, 0, v);
    return o;
}

// Sends the parts as one datagram to `to` (an address, borrowed; null: no destination) and
// waits for the send to finish.
void send(Value socket, std::initializer_list<std::string> parts, Value to) {
    Value destination = quarn_box(0);
    if (to != nullptr) {
        quarn_inc(to);
        destination = some(to);
    }
    EXPECT_EQ(await_ok(ok(quarn_lean_uv_udp_send(socket, buffers(parts), destination))), quarn_box(0));
    quarn_dec(destination);
}

Value bound_socket(bool v6, uint16_t &port) {
    Value socket = ok(quarn_lean_uv_udp_new());
    Value address = v6 ? loopback_v6() : loopback_v4();
    EXPECT_EQ(ok(quarn_lean_uv_udp_bind(socket, address)), quarn_box(0));
    quarn_dec(address);
    Value own = ok(quarn_lean_uv_udp_getsockname(socket));
    port = port_of(own);
    quarn_dec(own);
    return socket;
}

// The datagram of a finished receive: its text and sender's port.
std::string receive(Value socket, uint64_t size, uint16_t *sender_port = nullptr) {
    Value pair = await_ok(ok(quarn_lean_uv_udp_recv(socket, size)));
    std::string text = text_of(quarn_ctor_get(pair, 0));
    Value from = quarn_ctor_get(pair, 1);
    EXPECT_FALSE(quarn_is_scalar(from)) << "no sender address";
    if (sender_port != nullptr && !quarn_is_scalar(from)) *sender_port = port_of(quarn_ctor_get(from, 0));
    quarn_dec(pair);
    return text;
}

TEST_F(UdpTest, DatagramsTravelOnBothFamiliesAsOneConcatenation) {
    for (bool v6 : {false, true}) {
        uint16_t port_a, port_b;
        Value a = bound_socket(v6, port_a);
        Value b = bound_socket(v6, port_b);
        Value to_b = v6 ? loopback_v6(port_b) : loopback_v4(port_b);
        Value pending = ok(quarn_lean_uv_udp_recv(b, 1500));
        send(a, {"one ", "", "datagram"}, to_b);
        Value pair = await_ok(pending);
        EXPECT_EQ(text_of(quarn_ctor_get(pair, 0)), "one datagram");
        Value from = quarn_ctor_get(quarn_ctor_get(pair, 1), 0);
        EXPECT_EQ(quarn_obj_tag(from), v6 ? 1u : 0u);
        EXPECT_EQ(port_of(from), port_a);
        quarn_dec(pair);
        quarn_dec(to_b);
        quarn_dec(a);
        quarn_dec(b);
    }
}

TEST_F(UdpTest, ALongerDatagramIsCutAndAnEmptyOneArrivesEmpty) {
    uint16_t port;
    Value receiver = bound_socket(false, port);
    Value sender = ok(quarn_lean_uv_udp_new());
    Value to = loopback_v4(port);
    send(sender, {"0123456789"}, to);
    EXPECT_EQ(receive(receiver, 4), "0123");
    // An empty datagram is a datagram: it is received as one, with its sender.
    send(sender, {""}, to);
    EXPECT_EQ(receive(receiver, 100), "");
    // A receive of 0 bytes fails with ENOBUFS once something can be read.
    send(sender, {"x"}, to);
    EXPECT_EQ(await_error(ok(quarn_lean_uv_udp_recv(receiver, 0))).number, uint32_t(ENOBUFS));
    quarn_dec(to);
    quarn_dec(sender);
    quarn_dec(receiver);
}

TEST_F(UdpTest, SendingFromAFreshSocketBindsItAndConnectedSocketsSendWithoutAddress) {
    uint16_t port;
    Value receiver = bound_socket(false, port);
    Value sender = ok(quarn_lean_uv_udp_new());
    // No descriptor yet: no address to report.
    EXPECT_EQ(error_of(quarn_lean_uv_udp_getsockname(sender)).number, uint32_t(EBADF));
    Value to = loopback_v4(port);
    EXPECT_EQ(ok(quarn_lean_uv_udp_connect(sender, to)), quarn_box(0));
    Value own = ok(quarn_lean_uv_udp_getsockname(sender));
    uint16_t sender_port = port_of(own);
    EXPECT_NE(sender_port, 0u);
    quarn_dec(own);
    Value peer = ok(quarn_lean_uv_udp_getpeername(sender));
    EXPECT_EQ(port_of(peer), port);
    quarn_dec(peer);

    send(sender, {"hi"}, nullptr);
    uint16_t seen_port = 0;
    EXPECT_EQ(receive(receiver, 10, &seen_port), "hi");
    EXPECT_EQ(seen_port, sender_port);

    // The misuses of a connected and of an unconnected socket.
    quarn_inc(to);
    Value some_to = some(to);
    EXPECT_EQ(error_of(quarn_lean_uv_udp_send(sender, buffers({"x"}), some_to)).number, uint32_t(EISCONN));
    quarn_dec(some_to);
    EXPECT_EQ(error_of(quarn_lean_uv_udp_connect(sender, to)).number, uint32_t(EISCONN));
    EXPECT_EQ(error_of(quarn_lean_uv_udp_send(receiver, buffers({"x"}), quarn_box(0))).number,
              uint32_t(EDESTADDRREQ));
    // Nothing to send: resolved at once, even without a destination.
    EXPECT_EQ(await_ok(ok(quarn_lean_uv_udp_send(receiver, buffers({}), quarn_box(0)))), quarn_box(0));
    quarn_dec(to);
    quarn_dec(sender);
    quarn_dec(receiver);
}

TEST_F(UdpTest, ReceivesAreOneAtATimeAndCanBeCancelled) {
    uint16_t port;
    Value socket = bound_socket(false, port);
    Value first = ok(quarn_lean_uv_udp_recv(socket, 100));
    EXPECT_EQ(error_of(quarn_lean_uv_udp_recv(socket, 100)).number, uint32_t(EALREADY));
    EXPECT_EQ(error_of(quarn_lean_uv_udp_wait_readable(socket)).number, uint32_t(EALREADY));
    EXPECT_EQ(ok(quarn_lean_uv_udp_cancel_recv(socket)), quarn_box(0));
    EXPECT_TRUE(reads_none_once_dropped(first));
    // After the cancel a new wait works, and sees a datagram.
    Value waiting = ok(quarn_lean_uv_udp_wait_readable(socket));
    Value sender = ok(quarn_lean_uv_udp_new());
    Value to = loopback_v4(port);
    send(sender, {"!"}, to);
    quarn_dec(to);
    EXPECT_EQ(await_ok(waiting), quarn_box(1));
    EXPECT_EQ(receive(socket, 10), "!");
    quarn_dec(sender);
    quarn_dec(socket);
}

// A wake-up that finds nothing to read leaves the receive waiting: only a datagram that was
// sent, empty or not, completes it.
TEST_F(UdpTest, AWakeUpWithNothingToReadKeepsTheReceiveWaiting) {
    uint16_t port;
    Value socket = bound_socket(false, port);
    Value pending = ok(quarn_lean_uv_udp_recv(socket, 100));
    quarn::uv::detail::udp_ready(socket, true, false);
    settle_reactor();
    EXPECT_FALSE(promise_resolved_now(pending));
    Value sender = ok(quarn_lean_uv_udp_new());
    Value to = loopback_v4(port);
    send(sender, {"real"}, to);
    Value pair = await_ok(pending);
    EXPECT_EQ(text_of(quarn_ctor_get(pair, 0)), "real");
    for (Value v : {pair, to, sender, socket}) quarn_dec(v);
}

// The program lets go of a socket whose receive is still pending: the receive keeps it
// alive, and a datagram arriving later still completes it.
TEST_F(UdpTest, APendingReceiveKeepsItsSocket) {
    uint16_t port;
    Value socket = bound_socket(false, port);
    Value pending = ok(quarn_lean_uv_udp_recv(socket, 100));
    quarn_dec(socket);
    Value sender = ok(quarn_lean_uv_udp_new());
    Value to = loopback_v4(port);
    send(sender, {"late"}, to);
    quarn_dec(to);
    Value pair = await_ok(pending);
    EXPECT_EQ(text_of(quarn_ctor_get(pair, 0)), "late");
    quarn_dec(pair);
    quarn_dec(sender);
}

TEST_F(UdpTest, OptionsNeedADescriptorAndCheckTheirRanges) {
    Value socket = ok(quarn_lean_uv_udp_new());
    EXPECT_EQ(error_of(quarn_lean_uv_udp_set_broadcast(socket, 1)).number, uint32_t(EBADF));
    uint16_t port;
    Value bound = bound_socket(false, port);
    EXPECT_EQ(ok(quarn_lean_uv_udp_set_broadcast(bound, 1)), quarn_box(0));
    EXPECT_EQ(ok(quarn_lean_uv_udp_set_ttl(bound, 64)), quarn_box(0));
    EXPECT_EQ(error_of(quarn_lean_uv_udp_set_ttl(bound, 256)).number, uint32_t(EINVAL));
    EXPECT_EQ(error_of(quarn_lean_uv_udp_set_multicast_ttl(bound, 0)).number, uint32_t(EINVAL));
    EXPECT_EQ(ok(quarn_lean_uv_udp_set_multicast_loop(bound, 0)), quarn_box(0));
    Value lo = quarn_mk_string_unchecked("127.0.0.1", 9, 9);
    EXPECT_EQ(ok(quarn_lean_uv_udp_set_multicast_interface(bound, lo)), quarn_box(0));
    Value group = quarn_mk_string_unchecked("239.1.2.3", 9, 9);
    Value bad = quarn_mk_string_unchecked("239.1.2", 7, 7);
    Value any = quarn_mk_string_unchecked("", 0, 0);
    EXPECT_EQ(error_of(quarn_lean_uv_udp_set_membership(bound, bad, any, 1)).number, uint32_t(EINVAL));
    EXPECT_EQ(error_of(quarn_lean_uv_udp_set_multicast_interface(bound, bad)).number, uint32_t(EINVAL));
    // Joining needs a multicast route, which a sandbox may lack; leaving what was joined
    // must then work.
    Value joined = quarn_lean_uv_udp_set_membership(bound, group, lo, 1);
    if (quarn_obj_tag(joined) == 0) {
        quarn_dec(joined);
        EXPECT_EQ(ok(quarn_lean_uv_udp_set_membership(bound, group, lo, 0)), quarn_box(0));
    } else {
        quarn_dec(joined);
    }
    for (Value v : {lo, group, bad, any, socket, bound}) quarn_dec(v);
}

}  // namespace

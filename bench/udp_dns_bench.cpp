// UDP and name resolution against the system's own calls in the same run: ping-pong of
// 64-byte datagrams on loopback (one thread awaiting each receive's promise, the reactor
// doing the socket work) against blocking sendto/recvfrom on two threads, and resolving
// "localhost" through the event loop against getaddrinfo called directly.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "event_loop_bench.h"

namespace {

using namespace event_loop_bench;

constexpr size_t kDatagram = 64;

Value bound_socket(uint16_t &port) {
    Value socket = io_value(quarn_lean_uv_udp_new(), "udp_new");
    Value address = loopback(0);
    quarn_dec(io_value(quarn_lean_uv_udp_bind(socket, address), "bind"));
    quarn_dec(address);
    Value own = io_value(quarn_lean_uv_udp_getsockname(socket), "getsockname");
    std::memcpy(&port, quarn_ctor_scalar_area(quarn_ctor_get(own, 0)), 2);
    quarn_dec(own);
    return socket;
}

// One datagram of kDatagram bytes as the array of byte arrays that send takes.
Value datagram() {
    Value bytes = quarn_lean_mk_empty_byte_array(quarn_box(kDatagram));
    for (size_t i = 0; i < kDatagram; ++i) bytes = quarn_byte_array_push(bytes, static_cast<uint8_t>(i));
    Value buffers = quarn_lean_mk_empty_array_with_capacity(quarn_box(1));
    return quarn_lean_array_push(buffers, bytes);
}

// Ping-pong between two connected sockets, as a task awaiting each step writes it: a sends,
// b receives and answers, a receives.
void BM_QuarnUdpPingPong(benchmark::State &state) {
    uint16_t port_a, port_b;
    Value a = bound_socket(port_a), b = bound_socket(port_b);
    Value to_b = loopback(port_b), to_a = loopback(port_a);
    quarn_dec(io_value(quarn_lean_uv_udp_connect(a, to_b), "connect"));
    quarn_dec(io_value(quarn_lean_uv_udp_connect(b, to_a), "connect"));
    for (auto _ : state) {
        quarn_dec(io_value(quarn_lean_uv_udp_send(a, datagram(), quarn_box(0)), "send"));
        quarn_dec(await(io_value(quarn_lean_uv_udp_recv(b, kDatagram), "recv"), "receive at b"));
        quarn_dec(io_value(quarn_lean_uv_udp_send(b, datagram(), quarn_box(0)), "send"));
        quarn_dec(await(io_value(quarn_lean_uv_udp_recv(a, kDatagram), "recv"), "receive at a"));
    }
    state.SetItemsProcessed(state.iterations());
    for (Value v : {a, b, to_a, to_b}) quarn_dec(v);
}
BENCHMARK(BM_QuarnUdpPingPong)->UseRealTime();

int blocking_socket(uint16_t &port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) fail("bind");
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

void connect_to(int fd, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) fail("connect");
}

// The peer: the same round trips with blocking send and recv, an echo thread answering.
void BM_BlockingUdpPingPong(benchmark::State &state) {
    uint16_t port_a, port_b;
    int a = blocking_socket(port_a), b = blocking_socket(port_b);
    connect_to(a, port_b);
    connect_to(b, port_a);
    std::thread echo([b] {
        char buffer[kDatagram];
        for (;;) {
            ssize_t n = ::recv(b, buffer, sizeof buffer, 0);
            if (n <= 1) return;  // a one-byte datagram ends the echo
            ::send(b, buffer, static_cast<size_t>(n), 0);
        }
    });
    char buffer[kDatagram] = {};
    for (auto _ : state) {
        ::send(a, buffer, sizeof buffer, 0);
        if (::recv(a, buffer, sizeof buffer, 0) != kDatagram) fail("recv");
    }
    ::send(a, buffer, 1, 0);
    echo.join();
    ::close(a);
    ::close(b);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BlockingUdpPingPong)->UseRealTime();

void BM_QuarnResolveLocalhost(benchmark::State &state) {
    Value host = quarn_mk_string_unchecked("localhost", 9, 9);
    Value service = quarn_mk_string_unchecked("", 0, 0);
    for (auto _ : state) {
        Value addresses = await(io_value(quarn_lean_uv_dns_get_info(host, service, 0), "dns_get_info"), "lookup");
        benchmark::DoNotOptimize(addresses);
        quarn_dec(addresses);
    }
    quarn_dec(host);
    quarn_dec(service);
}
BENCHMARK(BM_QuarnResolveLocalhost)->UseRealTime();

void BM_GetaddrinfoLocalhost(benchmark::State &state) {
    for (auto _ : state) {
        addrinfo hints{};
        addrinfo *found = nullptr;
        if (::getaddrinfo("localhost", nullptr, &hints, &found) != 0) fail("getaddrinfo");
        benchmark::DoNotOptimize(found);
        ::freeaddrinfo(found);
    }
}
BENCHMARK(BM_GetaddrinfoLocalhost)->UseRealTime();

}  // namespace

// The event loop against libuv in the same run: ping-pong of 64-byte messages on 1 and on
// 50 connections (both sides of every connection driven by the loop thread: synchronous
// continuations here, callbacks in libuv), a 256 MiB transfer (a thread awaiting each
// receive's promise) against blocking send and recv between two threads, and 100,000
// one-shot timers scheduled and fired.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <uv.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "event_loop_bench.h"

namespace {

using namespace event_loop_bench;

constexpr size_t kMessage = 64;
constexpr int kRoundTripsPerConnection = 2000;

// ---- quarn helpers ------------------------------------------------------------------------

struct QuarnPair {
    Value client;
    Value server;
};

std::vector<QuarnPair> quarn_pairs(int count) {
    Value listener = io_value(quarn_lean_uv_tcp_new(), "tcp_new");
    Value any = loopback(0);
    quarn_dec(io_value(quarn_lean_uv_tcp_bind(listener, any), "bind"));
    quarn_dec(any);
    quarn_dec(io_value(quarn_lean_uv_tcp_listen(listener, 128), "listen"));
    Value own = io_value(quarn_lean_uv_tcp_getsockname(listener), "getsockname");
    uint16_t port;
    std::memcpy(&port, quarn_ctor_scalar_area(quarn_ctor_get(own, 0)), 2);
    quarn_dec(own);
    std::vector<QuarnPair> pairs;
    for (int i = 0; i < count; ++i) {
        Value client = io_value(quarn_lean_uv_tcp_new(), "tcp_new");
        quarn_dec(io_value(quarn_lean_uv_tcp_nodelay(client), "nodelay"));
        Value address = loopback(port);
        Value connected = io_value(quarn_lean_uv_tcp_connect(client, address), "connect");
        quarn_dec(address);
        Value server = await(io_value(quarn_lean_uv_tcp_accept(listener), "accept"), "accept");
        quarn_dec(io_value(quarn_lean_uv_tcp_nodelay(server), "nodelay"));
        quarn_dec(await(connected, "connect"));
        pairs.push_back({client, server});
    }
    quarn_dec(listener);
    return pairs;
}

Value one_buffer(Value bytes) {
    Value buffers = quarn_lean_mk_empty_array_with_capacity(quarn_box(1));
    return quarn_lean_array_push(buffers, bytes);
}

// Runs `step` (an IO function of the fixed arguments and the promise's option) as a
// synchronous continuation of the promise: on the loop thread, when it is resolved.
void then(Value promise, Value step) {
    Value task = quarn_lean_io_promise_result_opt(promise);
    quarn_dec(promise);
    quarn_dec(quarn_lean_io_map_task(step, task, quarn_box(0), 1));
}

Value io_unit() {
    Value r = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(r, 0, quarn_box(0));
    return r;
}

// The server side: echo what arrives, then receive again.
Value echo_step(Value socket, Value option, Value) {
    Value except = quarn_is_scalar(option) ? nullptr : quarn_ctor_get(option, 0);
    if (except == nullptr || quarn_obj_tag(except) != 1 || quarn_is_scalar(quarn_ctor_get(except, 0))) {
        quarn_dec(option);
        quarn_dec(socket);
        return io_unit();
    }
    Value bytes = quarn_ctor_get(quarn_ctor_get(except, 0), 0);
    quarn_inc(bytes);
    quarn_dec(option);
    quarn_dec(io_value(quarn_lean_uv_tcp_send(socket, one_buffer(bytes)), "send"));
    Value step = quarn_alloc_closure(reinterpret_cast<void *>(echo_step), 3, 1);
    quarn_inc(socket);
    quarn_closure_set(step, 0, socket);
    then(io_value(quarn_lean_uv_tcp_recv(socket, 4096), "recv"), step);
    quarn_dec(socket);
    return io_unit();
}

void start_echo(Value server) {
    Value step = quarn_alloc_closure(reinterpret_cast<void *>(echo_step), 3, 1);
    quarn_inc(server);
    quarn_closure_set(step, 0, server);
    then(io_value(quarn_lean_uv_tcp_recv(server, 4096), "recv"), step);
}

// The client side of one connection: send a message, receive its echo, again.
struct ClientState {
    Value message;        // the 64-byte array, shared by every send
    size_t received;      // bytes of the current echo so far
    int round_trips_left;
    std::atomic<int> *connections_left;
};

void client_send_and_receive(Value socket, ClientState *state);

Value client_step(Value socket, Value state_word, Value option, Value) {
    auto *state = reinterpret_cast<ClientState *>(quarn_unbox(state_word));
    if (quarn_is_scalar(option)) fail("promise dropped");
    Value except = quarn_ctor_get(option, 0);
    if (quarn_obj_tag(except) != 1 || quarn_is_scalar(quarn_ctor_get(except, 0)))
        fail("echo lost");
    state->received += quarn_sarray_size(quarn_ctor_get(quarn_ctor_get(except, 0), 0));
    quarn_dec(option);
    if (state->received < kMessage) {
        Value step = quarn_alloc_closure(reinterpret_cast<void *>(client_step), 4, 2);
        quarn_closure_set(step, 0, socket);
        quarn_closure_set(step, 1, state_word);
        then(io_value(quarn_lean_uv_tcp_recv(socket, 4096), "recv"), step);
        return io_unit();
    }
    state->received = 0;
    if (--state->round_trips_left == 0) {
        if (state->connections_left->fetch_sub(1) == 1) state->connections_left->notify_all();
        quarn_dec(socket);
        return io_unit();
    }
    client_send_and_receive(socket, state);
    return io_unit();
}

// Consumes socket.
void client_send_and_receive(Value socket, ClientState *state) {
    quarn_inc(state->message);
    quarn_dec(io_value(quarn_lean_uv_tcp_send(socket, one_buffer(state->message)), "send"));
    Value step = quarn_alloc_closure(reinterpret_cast<void *>(client_step), 4, 2);
    quarn_closure_set(step, 0, socket);
    quarn_closure_set(step, 1, quarn_box(reinterpret_cast<size_t>(state)));
    then(io_value(quarn_lean_uv_tcp_recv(socket, 4096), "recv"), step);
}

void QuarnPingPong(benchmark::State &bench) {
    int connections = static_cast<int>(bench.range(0));
    std::vector<QuarnPair> pairs = quarn_pairs(connections);
    for (QuarnPair &pair : pairs) start_echo(pair.server);
    Value message = quarn_lean_mk_empty_byte_array(quarn_box(kMessage));
    for (size_t i = 0; i < kMessage; ++i) message = quarn_byte_array_push(message, static_cast<uint8_t>(i));
    quarn_mark_mt(message);
    std::vector<ClientState> states(connections);
    for (auto _ : bench) {
        std::atomic<int> left{connections};
        for (int i = 0; i < connections; ++i) {
            states[i] = {message, 0, kRoundTripsPerConnection, &left};
            quarn_inc(pairs[i].client);
            client_send_and_receive(pairs[i].client, &states[i]);
        }
        for (int now = left.load(); now != 0; now = left.load()) left.wait(now);
    }
    bench.SetItemsProcessed(bench.iterations() * connections * kRoundTripsPerConnection);
    bench.SetLabel("round trips");
    quarn_dec(message);
    for (QuarnPair &pair : pairs) {
        quarn_dec(io_value(quarn_lean_uv_tcp_shutdown(pair.client), "shutdown"));
        quarn_dec(pair.client);
        quarn_dec(pair.server);
    }
}
BENCHMARK(QuarnPingPong)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- libuv ----------------------------------------------------------------------------------

struct UvConnection {
    uv_tcp_t client;
    uv_tcp_t server;
    uv_connect_t connect;
    char client_buffer[4096];
    char server_buffer[4096];
    size_t received;
    int round_trips_left;
};

struct UvBench {
    uv_loop_t loop;
    uv_tcp_t listener;
    std::vector<UvConnection *> connections;
    int accepted = 0;
    int connected = 0;
    int target = 0;
    int connections_left = 0;
    char message[kMessage];
};

UvBench *uv_of(uv_handle_t *h) { return static_cast<UvBench *>(h->loop->data); }

void on_alloc_client(uv_handle_t *h, size_t, uv_buf_t *buf) {
    auto *c = static_cast<UvConnection *>(h->data);
    *buf = uv_buf_init(c->client_buffer, sizeof c->client_buffer);
}

void on_alloc_server(uv_handle_t *h, size_t, uv_buf_t *buf) {
    auto *c = static_cast<UvConnection *>(h->data);
    *buf = uv_buf_init(c->server_buffer, sizeof c->server_buffer);
}

struct UvWrite {
    uv_write_t request;
    char bytes[4096];
};

void on_written(uv_write_t *request, int status) {
    if (status != 0) fail("libuv write");
    delete reinterpret_cast<UvWrite *>(request);
}

void write_bytes(uv_tcp_t *tcp, const char *bytes, size_t n) {
    auto *w = new UvWrite;
    std::memcpy(w->bytes, bytes, n);
    uv_buf_t buf = uv_buf_init(w->bytes, static_cast<unsigned>(n));
    uv_write(&w->request, reinterpret_cast<uv_stream_t *>(tcp), &buf, 1, on_written);
}

void on_server_read(uv_stream_t *stream, ssize_t n, const uv_buf_t *buf) {
    if (n > 0) write_bytes(reinterpret_cast<uv_tcp_t *>(stream), buf->base, static_cast<size_t>(n));
}

void on_client_read(uv_stream_t *stream, ssize_t n, const uv_buf_t *) {
    if (n <= 0) return;
    auto *c = static_cast<UvConnection *>(stream->data);
    UvBench *b = uv_of(reinterpret_cast<uv_handle_t *>(stream));
    c->received += static_cast<size_t>(n);
    if (c->received < kMessage) return;
    c->received = 0;
    if (--c->round_trips_left == 0) {
        if (--b->connections_left == 0) uv_stop(&b->loop);
        return;
    }
    write_bytes(&c->client, b->message, kMessage);
}

void on_connection(uv_stream_t *listener, int status) {
    if (status != 0) fail("libuv accept");
    UvBench *b = uv_of(reinterpret_cast<uv_handle_t *>(listener));
    UvConnection *c = b->connections[b->accepted++];
    uv_tcp_init(&b->loop, &c->server);
    c->server.data = c;
    if (uv_accept(listener, reinterpret_cast<uv_stream_t *>(&c->server)) != 0) fail("libuv accept");
    uv_tcp_nodelay(&c->server, 1);
    uv_read_start(reinterpret_cast<uv_stream_t *>(&c->server), on_alloc_server, on_server_read);
    if (b->accepted == b->target && b->connected == b->target) uv_stop(&b->loop);
}

void on_connected(uv_connect_t *request, int status) {
    if (status != 0) fail("libuv connect");
    auto *c = static_cast<UvConnection *>(request->data);
    UvBench *b = uv_of(reinterpret_cast<uv_handle_t *>(&c->client));
    uv_read_start(reinterpret_cast<uv_stream_t *>(&c->client), on_alloc_client, on_client_read);
    if (++b->connected == b->target && b->accepted == b->target) uv_stop(&b->loop);
}

void LibuvPingPong(benchmark::State &bench) {
    int connections = static_cast<int>(bench.range(0));
    auto *b = new UvBench;
    uv_loop_init(&b->loop);
    b->loop.data = b;
    b->target = connections;
    std::memset(b->message, 7, kMessage);
    uv_tcp_init(&b->loop, &b->listener);
    sockaddr_in any{};
    uv_ip4_addr("127.0.0.1", 0, &any);
    uv_tcp_bind(&b->listener, reinterpret_cast<sockaddr *>(&any), 0);
    if (uv_listen(reinterpret_cast<uv_stream_t *>(&b->listener), 128, on_connection) != 0) fail("libuv listen");
    sockaddr_in own{};
    int length = sizeof own;
    uv_tcp_getsockname(&b->listener, reinterpret_cast<sockaddr *>(&own), &length);
    for (int i = 0; i < connections; ++i) {
        auto *c = new UvConnection{};
        b->connections.push_back(c);
        uv_tcp_init(&b->loop, &c->client);
        uv_tcp_nodelay(&c->client, 1);
        c->client.data = c;
        c->connect.data = c;
        uv_tcp_connect(&c->connect, &c->client, reinterpret_cast<sockaddr *>(&own), on_connected);
    }
    uv_run(&b->loop, UV_RUN_DEFAULT);
    for (auto _ : bench) {
        b->connections_left = connections;
        for (UvConnection *c : b->connections) {
            c->round_trips_left = kRoundTripsPerConnection;
            c->received = 0;
            write_bytes(&c->client, b->message, kMessage);
        }
        uv_run(&b->loop, UV_RUN_DEFAULT);
    }
    bench.SetItemsProcessed(bench.iterations() * connections * kRoundTripsPerConnection);
    bench.SetLabel("round trips");
    // The loop and its handles are left to the process's end.
}
BENCHMARK(LibuvPingPong)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- bulk transfer --------------------------------------------------------------------------

constexpr size_t kBulk = size_t{256} << 20;
constexpr size_t kChunk = size_t{4} << 20;

void QuarnBulkTransfer(benchmark::State &bench) {
    std::vector<QuarnPair> pairs = quarn_pairs(1);
    Value chunk = quarn_lean_mk_empty_byte_array(quarn_box(kChunk));
    for (size_t i = 0; i < kChunk; ++i) chunk = quarn_byte_array_push(chunk, static_cast<uint8_t>(i));
    quarn_mark_mt(chunk);
    for (auto _ : bench) {
        // The receiving side awaits each receive's promise, as a task would.
        std::thread receiver([&] {
            size_t got = 0;
            while (got < kBulk) {
                Value some = await(io_value(quarn_lean_uv_tcp_recv(pairs[0].server, 1 << 20), "recv"), "recv");
                if (quarn_is_scalar(some)) fail("bulk receive ended early");
                got += quarn_sarray_size(quarn_ctor_get(some, 0));
                quarn_dec(some);
            }
        });
        Value buffers = quarn_lean_mk_empty_array_with_capacity(quarn_box(kBulk / kChunk));
        for (size_t i = 0; i < kBulk / kChunk; ++i) {
            quarn_inc(chunk);
            buffers = quarn_lean_array_push(buffers, chunk);
        }
        quarn_dec(await(io_value(quarn_lean_uv_tcp_send(pairs[0].client, buffers), "send"), "send"));
        receiver.join();
    }
    bench.SetBytesProcessed(bench.iterations() * kBulk);
    quarn_dec(chunk);
    quarn_dec(pairs[0].client);
    quarn_dec(pairs[0].server);
}
BENCHMARK(QuarnBulkTransfer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Plain blocking sockets, a sending thread and a receiving thread.
void BlockingBulkTransfer(benchmark::State &bench) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(listener, 1);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    int client = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) fail("connect");
    int server = ::accept(listener, nullptr, nullptr);
    std::vector<char> chunk(kChunk, 3), sink(1 << 20);
    for (auto _ : bench) {
        std::thread receiver([&] {
            size_t got = 0;
            while (got < kBulk) {
                ssize_t n = ::recv(server, sink.data(), sink.size(), 0);
                if (n <= 0) fail("recv");
                got += static_cast<size_t>(n);
            }
        });
        for (size_t sent = 0; sent < kBulk; sent += kChunk) {
            for (size_t off = 0; off < kChunk;) {
                ssize_t n = ::send(client, chunk.data() + off, kChunk - off, MSG_NOSIGNAL);
                if (n <= 0) fail("send");
                off += static_cast<size_t>(n);
            }
        }
        receiver.join();
    }
    bench.SetBytesProcessed(bench.iterations() * kBulk);
    ::close(client);
    ::close(server);
    ::close(listener);
}
BENCHMARK(BlockingBulkTransfer)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- timers ---------------------------------------------------------------------------------

constexpr size_t kTimers = 100'000;

void QuarnOneShotTimers(benchmark::State &bench) {
    std::vector<Value> results(kTimers);
    for (auto _ : bench) {
        for (size_t i = 0; i < kTimers; ++i) {
            Value timer = io_value(quarn_lean_uv_timer_mk(0, 0), "timer_mk");
            Value promise = io_value(quarn_lean_uv_timer_next(timer), "timer_next");
            results[i] = quarn_lean_io_promise_result_opt(promise);
            quarn_dec(promise);
            quarn_dec(timer);
        }
        for (Value r : results) quarn_dec(quarn_lean_io_wait(r));
    }
    bench.SetItemsProcessed(bench.iterations() * kTimers);
}
BENCHMARK(QuarnOneShotTimers)->Unit(benchmark::kMillisecond)->UseRealTime();

void LibuvOneShotTimers(benchmark::State &bench) {
    uv_loop_t loop;
    uv_loop_init(&loop);
    std::vector<uv_timer_t> timers(kTimers);
    size_t fired = 0;
    loop.data = &fired;
    for (auto _ : bench) {
        for (uv_timer_t &t : timers) {
            uv_timer_init(&loop, &t);
            uv_timer_start(&t, [](uv_timer_t *h) { ++*static_cast<size_t *>(h->loop->data); }, 0, 0);
        }
        uv_run(&loop, UV_RUN_DEFAULT);
        for (uv_timer_t &t : timers) uv_close(reinterpret_cast<uv_handle_t *>(&t), nullptr);
        uv_run(&loop, UV_RUN_DEFAULT);
    }
    if (fired != bench.iterations() * kTimers) fail("libuv timers lost");
    bench.SetItemsProcessed(bench.iterations() * kTimers);
}
BENCHMARK(LibuvOneShotTimers)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

/*
 * A TCP echo server and its client as compiled code writes them. The server listens on
 * 127.0.0.1 with a port the system chooses; a task of dedicated priority accepts one
 * connection and sends back whatever it receives until the client shuts its side down.
 * The client (main) sends a few messages, awaits each echo, shuts down and reads the end
 * of the stream. Every wait is an IO.wait on the result of a promise the event loop
 * resolves.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <quarn/quarn.h>

#include "event_loop_prelude.h"
#include "io_error_prelude.h"

static quarn_object *bytes_of(const char *text) {
    size_t n = strlen(text);
    quarn_object *a = quarn_lean_mk_empty_byte_array(quarn_box(n));
    for (size_t i = 0; i < n; ++i) a = quarn_byte_array_push(a, (uint8_t)text[i]);
    return a;
}

/* #[bytes]: the array that tcp_send takes. Consumes bytes. */
static quarn_object *one_buffer(quarn_object *bytes) {
    quarn_object *buffers = quarn_lean_mk_empty_array_with_capacity(quarn_box(1));
    return quarn_lean_array_push(buffers, bytes);
}

/* The server task: accept one connection and echo it until the end of its stream. */
static quarn_object *serve(quarn_object *listener, quarn_object *world) {
    (void)world;
    quarn_object *connection = prelude_await(prelude_io_value(quarn_lean_uv_tcp_accept(listener), "accept"), "accept");
    for (;;) {
        quarn_object *received = prelude_await(prelude_io_value(quarn_lean_uv_tcp_recv(connection, 4096), "recv"), "recv");
        if (quarn_is_scalar(received)) break; /* none: the client shut down */
        quarn_object *bytes = quarn_ctor_get(received, 0);
        quarn_inc(bytes);
        quarn_dec(received);
        quarn_dec(prelude_await(prelude_io_value(quarn_lean_uv_tcp_send(connection, one_buffer(bytes)), "send"), "send"));
    }
    quarn_dec(prelude_await(prelude_io_value(quarn_lean_uv_tcp_shutdown(connection), "shutdown"), "shutdown"));
    quarn_dec(connection);
    quarn_dec(listener);
    return prelude_io_ok(quarn_box(0));
}

static quarn_object *loopback(uint16_t port) {
    quarn_object *ip = quarn_lean_mk_empty_array_with_capacity(quarn_box(4));
    ip = quarn_lean_array_push(ip, quarn_box(127));
    ip = quarn_lean_array_push(ip, quarn_box(0));
    ip = quarn_lean_array_push(ip, quarn_box(0));
    ip = quarn_lean_array_push(ip, quarn_box(1));
    quarn_object *v4 = quarn_alloc_ctor(0, 1, 2);
    quarn_ctor_set(v4, 0, ip);
    memcpy(quarn_ctor_scalar_area(v4), &port, 2);
    quarn_object *address = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(address, 0, v4);
    return address;
}

static uint16_t port_of(quarn_object *address) {
    uint16_t port;
    memcpy(&port, quarn_ctor_scalar_area(quarn_ctor_get(address, 0)), 2);
    return port;
}

static quarn_object *lean_main(quarn_object *args) {
    quarn_dec(args);
    static const char *const messages[] = {"hello", "echo, echo", "the last message"};
    quarn_object *listener = prelude_io_value(quarn_lean_uv_tcp_new(), "tcp_new");
    quarn_object *any_port = loopback(0);
    quarn_dec(prelude_io_value(quarn_lean_uv_tcp_bind(listener, any_port), "bind"));
    quarn_dec(any_port);
    quarn_dec(prelude_io_value(quarn_lean_uv_tcp_listen(listener, 16), "listen"));
    quarn_object *own = prelude_io_value(quarn_lean_uv_tcp_getsockname(listener), "getsockname");
    uint16_t port = port_of(own);
    quarn_dec(own);

    quarn_object *server = quarn_alloc_closure((void *)serve, 2, 1);
    quarn_closure_set(server, 0, listener);
    quarn_object *server_task = quarn_lean_io_as_task(server, quarn_box(9));

    quarn_object *client = prelude_io_value(quarn_lean_uv_tcp_new(), "tcp_new");
    quarn_object *address = loopback(port);
    quarn_dec(prelude_await(prelude_io_value(quarn_lean_uv_tcp_connect(client, address), "connect"), "connect"));
    quarn_dec(address);
    int failures = 0;
    for (size_t m = 0; m < sizeof messages / sizeof messages[0]; ++m) {
        const char *text = messages[m];
        quarn_dec(prelude_await(prelude_io_value(quarn_lean_uv_tcp_send(client, one_buffer(bytes_of(text))), "send"), "send"));
        char echoed[64] = {0};
        size_t got = 0;
        while (got < strlen(text)) {
            quarn_object *received = prelude_await(prelude_io_value(quarn_lean_uv_tcp_recv(client, 64), "recv"), "recv");
            if (quarn_is_scalar(received)) break;
            quarn_object *bytes = quarn_ctor_get(received, 0);
            size_t n = quarn_sarray_size(bytes);
            memcpy(echoed + got, ((quarn_sarray_object *)bytes)->data, n < 63 - got ? n : 63 - got);
            got += n;
            quarn_dec(received);
        }
        printf("sent \"%s\", echoed \"%s\"\n", text, echoed);
        failures += strcmp(text, echoed) != 0;
    }
    quarn_dec(prelude_await(prelude_io_value(quarn_lean_uv_tcp_shutdown(client), "shutdown"), "shutdown"));
    quarn_object *last = prelude_await(prelude_io_value(quarn_lean_uv_tcp_recv(client, 64), "recv"), "recv");
    printf("%s\n", quarn_is_scalar(last) ? "the server closed its side after the client's shutdown" : "unexpected bytes");
    quarn_dec(last);
    quarn_dec(client);
    quarn_dec(quarn_lean_io_wait(server_task));
    return prelude_io_ok(quarn_box(failures == 0 ? 0 : 1));
}

int main(int argc, char **argv) {
    prelude_register_io_errors();
    return (int)quarn_run_main(NULL, (void *)lean_main, 1, 1, argc - 1, argv + 1);
}

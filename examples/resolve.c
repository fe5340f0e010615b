/*
 * Name resolution as compiled code writes it: "localhost" resolved to its addresses, and
 * 127.0.0.1 resolved back to a name, each awaited through the promise the event loop
 * resolves when the look-up's thread is done.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <quarn/quarn.h>

#include "event_loop_prelude.h"
#include "io_error_prelude.h"

static quarn_object *string(const char *text) { return quarn_mk_string_unchecked(text, strlen(text), strlen(text)); }

/* The address part of a socket address as text. */
static void print_address(quarn_object *address) {
    quarn_object *text = prelude_address_text(address);
    printf("  %s\n", prelude_text(text));
    quarn_dec(text);
}

static quarn_object *lean_main(void) {
    quarn_object *host = string("localhost"), *service = string("");
    quarn_object *addresses = prelude_await(prelude_io_value(quarn_lean_uv_dns_get_info(host, service, 0), "dns_get_info"), "lookup");
    quarn_dec(host);
    quarn_dec(service);
    printf("localhost resolves to:\n");
    /* The resolver lists an address once per socket type: print each address once. */
    for (size_t i = 0; i < quarn_array_size(addresses); ++i) {
        quarn_object *address = quarn_array_uget_borrowed(addresses, i);
        int seen = 0;
        for (size_t j = 0; j < i && !seen; ++j) {
            quarn_object *earlier = quarn_array_uget_borrowed(addresses, j);
            quarn_object *a = quarn_ctor_get(quarn_ctor_get(address, 0), 0);
            quarn_object *b = quarn_ctor_get(quarn_ctor_get(earlier, 0), 0);
            seen = quarn_obj_tag(address) == quarn_obj_tag(earlier) && quarn_array_size(a) == quarn_array_size(b);
            for (size_t k = 0; seen && k < quarn_array_size(a); ++k)
                seen = quarn_array_uget_borrowed(a, k) == quarn_array_uget_borrowed(b, k);
        }
        if (!seen) print_address(address);
    }
    quarn_dec(addresses);

    quarn_object *text = string("127.0.0.1");
    quarn_object *ip = prelude_io_value(quarn_lean_uv_pton_v4(text), "pton");
    quarn_dec(text);
    quarn_object *inner = quarn_alloc_ctor(0, 1, 2);
    quarn_ctor_set(inner, 0, ip);
    memset(quarn_ctor_scalar_area(inner), 0, 2);
    quarn_object *address = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(address, 0, inner);
    quarn_object *names = prelude_await(prelude_io_value(quarn_lean_uv_dns_get_name(address), "dns_get_name"), "reverse lookup");
    printf("127.0.0.1 is %s\n", prelude_text(quarn_ctor_get(names, 0)));
    quarn_dec(names);
    quarn_dec(address);
    quarn_object *ok = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(ok, 0, quarn_box(0));
    return ok;
}

int main(int argc, char **argv) {
    prelude_register_io_errors();
    return (int)quarn_run_main(NULL, (void *)lean_main, 0, 0, argc - 1, argv + 1);
}

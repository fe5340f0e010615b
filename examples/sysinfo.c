/*
 * A small system-information tool as compiled code writes it: the host name, memory,
 * uptime, processors and the addresses of the network interfaces, each read through the
 * event loop's system primitives.
 */
#include <stdio.h>
#include <stdlib.h>

#include <quarn/quarn.h>

#include "io_error_prelude.h"

/* The value of an IO result; a failed one ends the program. */
static quarn_object *io_value(quarn_object *result, const char *what) {
    if (quarn_obj_tag(result) != 0) {
        fprintf(stderr, "%s failed\n", what);
        exit(1);
    }
    quarn_object *v = quarn_ctor_get(result, 0);
    quarn_inc(v);
    quarn_dec(result);
    return v;
}

static const char *text_of(quarn_object *s) { return ((quarn_string_object *)s)->data; }

static uint64_t number(quarn_object *result, const char *what) {
    quarn_object *box = io_value(result, what);
    uint64_t n = quarn_unbox_uint64(box);
    quarn_dec(box);
    return n;
}

static quarn_object *lean_main(void) {
    quarn_object *host = io_value(quarn_lean_uv_os_gethostname(), "gethostname");
    printf("host name: %s\n", text_of(host));
    quarn_dec(host);

    uint64_t total = number(quarn_lean_uv_get_total_memory(), "total memory");
    uint64_t available = number(quarn_lean_uv_get_available_memory(), "available memory");
    printf("memory: %llu MiB available of %llu MiB\n", (unsigned long long)(available >> 20),
           (unsigned long long)(total >> 20));
    uint64_t up = number(quarn_lean_uv_uptime(), "uptime");
    printf("uptime: %llu h %02llu min\n", (unsigned long long)(up / 3600), (unsigned long long)(up / 60 % 60));

    quarn_object *cpus = io_value(quarn_lean_uv_cpu_info(), "cpu_info");
    size_t count = quarn_array_size(cpus);
    printf("processors: %zu", count);
    if (count > 0) {
        quarn_object *first = quarn_array_uget_borrowed(cpus, 0);
        printf(", %s", text_of(quarn_ctor_get(first, 0)));
    }
    printf("\n");
    quarn_dec(cpus);

    quarn_object *interfaces = io_value(quarn_lean_uv_interface_addresses(), "interface_addresses");
    for (size_t i = 0; i < quarn_array_size(interfaces); ++i) {
        quarn_object *entry = quarn_array_uget_borrowed(interfaces, i);
        quarn_object *address = quarn_ctor_get(entry, 2);
        quarn_object *ip = quarn_ctor_get(quarn_ctor_get(address, 0), 0);
        quarn_inc(ip);
        quarn_object *text = io_value(quarn_obj_tag(address) == 0 ? quarn_lean_uv_ntop_v4(ip) : quarn_lean_uv_ntop_v6(ip),
                                      "ntop");
        printf("interface %s: %s%s\n", text_of(quarn_ctor_get(entry, 0)), text_of(text),
               quarn_ctor_scalar_area(entry)[0] ? " (internal)" : "");
        quarn_dec(text);
    }
    quarn_dec(interfaces);
    quarn_object *ok = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(ok, 0, quarn_box(0));
    return ok;
}

int main(int argc, char **argv) {
    prelude_register_io_errors();
    return (int)quarn_run_main(NULL, (void *)lean_main, 0, 0, argc - 1, argv + 1);
}

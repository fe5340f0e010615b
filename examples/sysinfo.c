/*
 * A small system-information tool as compiled code writes it: the host name, memory,
 * uptime, processors and the addresses of the network interfaces, each read through the
 * event loop's system primitives.
 */
#include <stdio.h>
#include <stdlib.h>

#include <quarn/quarn.h>

#include "event_loop_prelude.h"
#include "io_error_prelude.h"

static uint64_t number(quarn_object *result, const char *what) {
    quarn_object *box = prelude_io_value(result, what);
    uint64_t n = quarn_unbox_uint64(box);
    quarn_dec(box);
    return n;
}

static quarn_object *lean_main(void) {
    quarn_object *host = prelude_io_value(quarn_lean_uv_os_gethostname(), "gethostname");
    printf("host name: %s\n", prelude_text(host));
    quarn_dec(host);

    uint64_t total = number(quarn_lean_uv_get_total_memory(), "total memory");
    uint64_t available = number(quarn_lean_uv_get_available_memory(), "available memory");
    printf("memory: %llu MiB available of %llu MiB\n", (unsigned long long)(available >> 20),
           (unsigned long long)(total >> 20));
    uint64_t up = number(quarn_lean_uv_uptime(), "uptime");
    printf("uptime: %llu h %02llu min\n", (unsigned long long)(up / 3600), (unsigned long long)(up / 60 % 60));

    quarn_object *cpus = prelude_io_value(quarn_lean_uv_cpu_info(), "cpu_info");
    size_t count = quarn_array_size(cpus);
    printf("processors: %zu", count);
    if (count > 0) {
        quarn_object *first = quarn_array_uget_borrowed(cpus, 0);
        printf(", %s", prelude_text(quarn_ctor_get(first, 0)));
    }
    printf("\n");
    quarn_dec(cpus);

    quarn_object *interfaces = prelude_io_value(quarn_lean_uv_interface_addresses(), "interface_addresses");
    for (size_t i = 0; i < quarn_array_size(interfaces); ++i) {
        quarn_object *entry = quarn_array_uget_borrowed(interfaces, i);
        quarn_object *address = quarn_ctor_get(entry, 2);
        quarn_object *text = prelude_address_text(address);
        printf("interface %s: %s%s\n", prelude_text(quarn_ctor_get(entry, 0)), prelude_text(text),
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

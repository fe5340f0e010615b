// What the event-loop benchmarks share: a task manager started before any benchmark runs,
// and reading IO results and awaiting promises the way compiled code does.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <quarn/quarn.h>

namespace event_loop_bench {

using Value = quarn_object *;

inline const bool manager_started = [] {
    setenv("LEAN_NUM_THREADS", "2", 1);
    quarn_end_initialization();
    return true;
}();

[[noreturn]] inline void fail(const char *what) {
    std::fprintf(stderr, "benchmark: %s failed\n", what);
    std::exit(1);
}

// The value of an ok IO result (owned); an error ends the benchmark.
inline Value io_value(Value result, const char *what) {
    if (quarn_obj_tag(result) != 0) fail(what);
    Value v = quarn_ctor_get(result, 0);
    quarn_inc(v);
    quarn_dec(result);
    return v;
}

// The ok value an event-loop promise resolved with (blocking). Consumes promise.
inline Value await(Value promise, const char *what) {
    Value task = quarn_lean_io_promise_result_opt(promise);
    quarn_dec(promise);
    Value option = quarn_lean_io_wait(task);
    if (quarn_is_scalar(option) || quarn_obj_tag(quarn_ctor_get(option, 0)) != 1) fail(what);
    Value v = quarn_ctor_get(quarn_ctor_get(option, 0), 0);
    quarn_inc(v);
    quarn_dec(option);
    return v;
}

// The IPv4 loopback socket address with the port. Returns an owned reference.
inline Value loopback(uint16_t port) {
    Value ip = quarn_lean_mk_empty_array_with_capacity(quarn_box(4));
    for (size_t octet : {127, 0, 0, 1}) ip = quarn_lean_array_push(ip, quarn_box(octet));
    Value inner = quarn_alloc_ctor(0, 1, 2);
    quarn_ctor_set(inner, 0, ip);
    std::memcpy(quarn_ctor_scalar_area(inner), &port, 2);
    Value address = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(address, 0, inner);
    return address;
}

}  // namespace event_loop_bench

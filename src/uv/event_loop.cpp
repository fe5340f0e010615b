// The event loop's own primitives: starting it and reading the high-resolution clock.
#include <time.h>

#include <cstdint>

#include "io/io_result.h"
#include "quarn/uv.h"
#include "uv/reactor.h"

namespace {

int64_t monotonic_nanoseconds() noexcept {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

extern "C" quarn_object *quarn_lean_uv_event_loop_configure(quarn_object *options) noexcept {
    quarn_dec(options);
    quarn::uv::ensure_started();
    return quarn_box(0);
}

extern "C" uint8_t quarn_lean_uv_event_loop_alive() noexcept {
    quarn::uv::ensure_started();
    return 1;
}

extern "C" quarn_object *quarn_lean_uv_hrtime() noexcept {
    // The origin is fixed by the first reading; the first result is 1.
    static const int64_t origin = monotonic_nanoseconds();
    auto elapsed = static_cast<uint64_t>(monotonic_nanoseconds() - origin);
    return quarn::io::io_ok(quarn_box_uint64(elapsed + 1));
}

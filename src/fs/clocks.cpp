// Clocks, the thread id, heartbeats, and timing an action.
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "io/export_table.h"
#include "io/io_result.h"
#include "io/lean_print.h"
#include "number/nat.h"
#include "object/heartbeat.h"
#include "quarn/closure.h"
#include "quarn/fs.h"
#include "fs/system_call.h"
#include "fs/timeit_report.h"
#include "string/string_alloc.h"

namespace quarn::fs {

namespace {

constexpr uint64_t kNanosPerSecond = 1'000'000'000;

uint64_t monotonic_nanos() noexcept {
    struct timespec t;
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * kNanosPerSecond + static_cast<uint64_t>(t.tv_nsec);
}

// Runs the action on the IO world. Consumes action.
quarn_object *run_action(quarn_object *action) noexcept { return quarn_apply_1(action, quarn_box(0)); }

}  // namespace

Text timeit_report(std::string_view message, double seconds) noexcept {
    char number[32];
    bool below_one = seconds < 1;
    std::snprintf(number, sizeof number, "%.3g", below_one ? seconds * 1000 : seconds);
    Text report(message);
    report += ' ';
    report += number;
    report += below_one ? "ms" : "s";
    return report;
}

}  // namespace quarn::fs

using namespace quarn::fs;

extern "C" quarn_object *quarn_lean_io_mono_ms_now(void) noexcept {
    return quarn::io::io_ok(quarn::number::nat_of_uint64(monotonic_nanos() / 1'000'000));
}

extern "C" quarn_object *quarn_lean_io_mono_nanos_now(void) noexcept {
    return quarn::io::io_ok(quarn::number::nat_of_uint64(monotonic_nanos()));
}

extern "C" quarn_object *quarn_lean_get_current_time(void) noexcept {
    struct timespec t;
    ::clock_gettime(CLOCK_REALTIME, &t);
    // tv_nsec is already in [0, 10^9): before the epoch the seconds round down and the
    // nanoseconds stay non-negative.
    quarn_object *pair = quarn_alloc_ctor(0, 2, 0);
    quarn_ctor_set(pair, 0, quarn::number::int_of_int64(t.tv_sec));
    quarn_ctor_set(pair, 1, quarn_box(static_cast<size_t>(t.tv_nsec)));
    return quarn::io::io_ok(pair);
}

extern "C" uint64_t quarn_lean_io_get_tid(void) noexcept {
    return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(::gettid())));
}

extern "C" quarn_object *quarn_lean_io_get_num_heartbeats(void) noexcept {
    uint64_t count = quarn::object::heartbeats;
    return quarn::io::io_ok(quarn::number::nat_of_uint64(count));
}

extern "C" quarn_object *quarn_lean_io_set_heartbeats(quarn_object *count) noexcept {
    uint64_t value = quarn::number::nat_low_bits(count);
    quarn_dec(count);
    // The result is made first so that its own allocation is not counted after the set.
    quarn_object *result = quarn::io::io_ok_unit();
    quarn::object::heartbeats = value;
    return result;
}

extern "C" quarn_object *quarn_lean_io_timeit(quarn_object *message, quarn_object *action) noexcept {
    uint64_t start = monotonic_nanos();
    quarn_object *result = run_action(action);
    uint64_t end = monotonic_nanos();
    double seconds = static_cast<double>(end - start) / 1e9;
    quarn::io::lean_eprintln(timeit_report(bytes_of(message), seconds));
    quarn_dec(message);
    return result;
}

extern "C" quarn_object *quarn_lean_io_allocprof(quarn_object *message, quarn_object *action) noexcept {
    quarn_object *result = run_action(action);
    quarn::Text report(bytes_of(message));
    report += "\nAllocation profiling data is not available, compile lean using `-D RUNTIME_STATS=ON`\n";
    quarn::io::lean_eprintln(report);
    quarn_dec(message);
    return result;
}

namespace {
quarn_object *windows_only(std::string_view details) noexcept {
    return quarn::io::io_error(quarn::io::call_export(
        quarn::io::Export::invalid_argument, 22,
        quarn::string::make_string(details.data(), details.size(), details.size())));
}
}  // namespace

extern "C" quarn_object *quarn_lean_get_windows_local_timezone_id_at(int64_t) noexcept {
    return windows_only("timezone retrieval is Windows-only");
}

extern "C" quarn_object *quarn_lean_windows_get_next_transition(quarn_object *, int64_t) noexcept {
    return windows_only("failed to get timezone, its windows only.");
}

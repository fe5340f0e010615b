// Debugging primitives: tracing messages, sleeping and printing the stack, each followed by
// running the rest of the computation (a closure applied to the unit value).
#include <time.h>

#include <cerrno>

#include <string>

#include "io/export_table.h"
#include "io/lean_print.h"
#include "quarn/closure.h"
#include "quarn/startup.h"
#include "core/backtrace.h"

namespace {

quarn_object *continue_with(quarn_object *rest) { return quarn_apply_1(rest, quarn_box(0)); }

}  // namespace

extern "C" quarn_object *quarn_lean_dbg_trace(quarn_object *message, quarn_object *rest) noexcept {
    // The program's eprintln takes the message over.
    quarn_dec(quarn::io::call_export(quarn::io::Export::io_eprintln, message));
    return continue_with(rest);
}

extern "C" quarn_object *quarn_lean_dbg_trace_if_shared(quarn_object *message,
                                                       quarn_object *value) noexcept {
    if (!quarn_is_scalar(value) && quarn_rc_load(value) != 1) {
        auto *text = reinterpret_cast<quarn_string_object *>(message);
        quarn::Text line = "shared RC ";
        line.append(text->data, text->size - 1);
        quarn::io::lean_eprintln(line);
    }
    return value;
}

extern "C" quarn_object *quarn_lean_dbg_sleep(uint32_t milliseconds, quarn_object *rest) noexcept {
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000};
    while (nanosleep(&delay, &delay) == -1 && errno == EINTR) {
    }
    return continue_with(rest);
}

extern "C" quarn_object *quarn_lean_dbg_stack_trace(quarn_object *rest) noexcept {
    for (const quarn::Text &line : quarn::capture_backtrace()) quarn::io::lean_eprintln(line);
    return continue_with(rest);
}

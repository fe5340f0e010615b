#include "startup/lean_panic.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "io/lean_print.h"
#include "quarn/startup.h"
#include "startup/backtrace.h"
#include "sys/write_all.h"

namespace quarn::startup {

void report_lean_panic(std::string_view message) noexcept {
    bool abort_on_panic = std::getenv("LEAN_ABORT_ON_PANIC") != nullptr;
    auto print = [&](std::string_view line) {
        if (abort_on_panic)
            sys::write_all(STDERR_FILENO, {line, "\n"});
        else
            io::lean_eprintln(line);
    };
    print(message);
    const char *backtrace_setting = std::getenv("LEAN_BACKTRACE");
    if (backtrace_setting == nullptr || std::strcmp(backtrace_setting, "0") != 0) {
        print("backtrace:");
        for (const std::string &line : capture_backtrace()) print(line);
    }
    if (abort_on_panic) std::abort();
}

}  // namespace quarn::startup

extern "C" quarn_object *quarn_lean_panic_fn_borrowed(quarn_object *default_value,
                                                      quarn_object *message) noexcept {
    quarn_inc(default_value);
    auto *text = reinterpret_cast<quarn_string_object *>(message);
    quarn::startup::report_lean_panic(std::string_view(text->data, text->size - 1));
    quarn_dec(message);
    return default_value;
}

#include "core/lean_panic.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "quarn/startup.h"
#include "core/backtrace.h"
#include "core/write_all.h"

namespace quarn {

namespace {

void print_to_process_stderr(std::string_view line) noexcept { write_all(STDERR_FILENO, {line, "\n"}); }

constinit std::atomic<LeanLinePrinter> lean_stderr_printer{&print_to_process_stderr};

}  // namespace

void set_lean_stderr_printer(LeanLinePrinter printer) noexcept {
    lean_stderr_printer.store(printer, std::memory_order_release);
}

void report_lean_panic(std::string_view message) noexcept {
    bool abort_on_panic = std::getenv("LEAN_ABORT_ON_PANIC") != nullptr;
    LeanLinePrinter print = abort_on_panic ? &print_to_process_stderr
                                           : lean_stderr_printer.load(std::memory_order_acquire);
    print(message);
    const char *backtrace_setting = std::getenv("LEAN_BACKTRACE");
    if (backtrace_setting == nullptr || std::strcmp(backtrace_setting, "0") != 0) {
        print("backtrace:");
        for (const Text &line : capture_backtrace()) print(line);
    }
    if (abort_on_panic) std::abort();
}

}  // namespace quarn

extern "C" quarn_object *quarn_lean_panic_fn_borrowed(quarn_object *default_value,
                                                      quarn_object *message) noexcept {
    quarn_inc(default_value);
    auto *text = reinterpret_cast<quarn_string_object *>(message);
    quarn::report_lean_panic(std::string_view(text->data, text->size - 1));
    quarn_dec(message);
    return default_value;
}

// A Lean-level panic with its backtrace (what `get!` out of range costs a program that keeps
// going) against the C library's own backtrace with symbol names, in the same run. Standard
// error goes to /dev/null while they run.
#include <benchmark/benchmark.h>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "quarn/quarn.h"

namespace {

// Sends standard error to /dev/null for the life of the object.
class QuietStderr {
public:
    QuietStderr() : saved_(dup(STDERR_FILENO)) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~QuietStderr() {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

void BM_LeanPanicWithBacktrace(benchmark::State &state) {
    setenv("LEAN_BACKTRACE", "1", 1);
    QuietStderr quiet;
    quarn_object *message = quarn_mk_string_unchecked("index out of bounds", 19, 19);
    quarn_mark_persistent(message);
    for (auto _ : state) benchmark::DoNotOptimize(quarn_lean_panic_fn_borrowed(quarn_box(0), message));
}
BENCHMARK(BM_LeanPanicWithBacktrace)->Unit(benchmark::kMicrosecond);

// The peer: the C library captures the stack and names each frame from the dynamic symbol
// tables (no source lines), then the lines are written out.
void BM_LibcBacktraceSymbols(benchmark::State &state) {
    QuietStderr quiet;
    for (auto _ : state) {
        void *frames[64];
        int count = backtrace(frames, 64);
        backtrace_symbols_fd(frames, count, STDERR_FILENO);
    }
}
BENCHMARK(BM_LibcBacktraceSymbols)->Unit(benchmark::kMicrosecond);

}  // namespace

// The signal numbers a program may watch.
#pragma once

#include <cstdint>

namespace quarn::uv {

// The number a watcher of signal `n` uses: n itself for the signals that can be caught and
// mean the same on every Linux machine, 0 (no signal) for the others (SIGILL, SIGBUS, SIGFPE,
// SIGKILL, SIGSEGV, SIGPIPE, SIGSTKFLT, SIGSTOP, SIGPWR) and anything outside 1..31.
constexpr int accepted_signal_number(uint32_t n) noexcept {
    switch (n) {
        case 1: case 2: case 3: case 5: case 6: case 10: case 12: case 14: case 15: case 17:
        case 18: case 20: case 21: case 22: case 23: case 24: case 25: case 26: case 27:
        case 28: case 29: case 31:
            return static_cast<int>(n);
        default:
            return 0;
    }
}

}  // namespace quarn::uv

// The one retry of system calls that an interruption by a signal cut short.
#pragma once

#include <cerrno>

namespace quarn {

// Repeats call() while it fails with EINTR; returns its result (errno holds the failure
// when it is negative).
template <typename Call>
auto retry_interrupted(Call call) noexcept {
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

}  // namespace quarn

// Instants of the monotonic clock, as seconds and nanoseconds, and delays added to them.
#pragma once

#include <time.h>

#include <compare>
#include <cstdint>
#include <limits>

namespace quarn::uv {

struct Instant {
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;

    friend constexpr auto operator<=>(const Instant &, const Instant &) = default;
};

inline Instant monotonic_now() noexcept {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return {now.tv_sec, static_cast<uint32_t>(now.tv_nsec)};
}

// `from` plus a delay in milliseconds; the seconds saturate instead of wrapping.
constexpr Instant after(Instant from, uint64_t delay_ms) noexcept {
    constexpr int64_t kMaxSeconds = std::numeric_limits<int64_t>::max();
    uint64_t delay_seconds = delay_ms / 1000;
    uint32_t nanoseconds = from.nanoseconds + static_cast<uint32_t>(delay_ms % 1000) * 1'000'000u;
    int64_t carry = nanoseconds >= 1'000'000'000u ? 1 : 0;
    if (carry) nanoseconds -= 1'000'000'000u;
    uint64_t room = static_cast<uint64_t>(kMaxSeconds - from.seconds);
    if (delay_seconds + static_cast<uint64_t>(carry) > room) return {kMaxSeconds, 999'999'999u};
    return {from.seconds + static_cast<int64_t>(delay_seconds) + carry, nanoseconds};
}

// Milliseconds from `now` until `deadline`, rounded up: 0 if it is past, at most the
// largest timeout poll accepts.
constexpr int milliseconds_until(Instant now, Instant deadline) noexcept {
    constexpr int64_t kMaxTimeout = std::numeric_limits<int>::max();
    if (deadline <= now) return 0;
    int64_t seconds = deadline.seconds - now.seconds;
    int64_t nanoseconds = int64_t{deadline.nanoseconds} - int64_t{now.nanoseconds};
    if (seconds >= kMaxTimeout / 1000 + 1) return static_cast<int>(kMaxTimeout);
    int64_t total_ns = seconds * 1'000'000'000 + nanoseconds;
    int64_t ms = (total_ns + 999'999) / 1'000'000;
    return static_cast<int>(ms < kMaxTimeout ? ms : kMaxTimeout);
}

}  // namespace quarn::uv

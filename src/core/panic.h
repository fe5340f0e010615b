// The internal panic: the one way the runtime ends the process on a broken invariant or an
// exhausted resource.
#pragma once

#include <initializer_list>
#include <string_view>

namespace quarn {

// Writes "INTERNAL PANIC: " + message + "\n" to standard error, runs what is safe of the
// shutdown sequence (buffered output is flushed where no lock is in the way), then calls
// abort() when LEAN_ABORT_ON_PANIC is set (to any value, even empty) or exits with status 1
// otherwise. Only the first thread to panic prints and ends the process; a thread that
// panics meanwhile waits forever. Never returns. Any thread.
[[noreturn]] void internal_panic(std::string_view message) noexcept;

// The same with the message given as pieces written one after the other: nothing is built
// on the heap, so a message can name values even when memory is exhausted.
[[noreturn]] void internal_panic(std::initializer_list<std::string_view> message) noexcept;

// The fixed messages that several parts of the runtime raise.
inline constexpr std::string_view kOutOfMemory = "out of memory";
inline constexpr std::string_view kIntegerOverflow = "integer overflow in runtime computation";
inline constexpr std::string_view kUnreachable = "unreachable code has been reached";

}  // namespace quarn

// Threads that nobody joins: the event loop's helpers (name resolution, random bytes) and
// the reactor itself. Such a thread must touch only immortal state and what it owns, since
// the process may end while it runs.
#pragma once

namespace quarn {

// Starts a detached thread running body(argument), named `name` (at most 15 bytes);
// 0 or the system's error number.
int start_detached_thread(const char *name, void (*body)(void *), void *argument) noexcept;

}  // namespace quarn

// Every handle record ever created, observed through weak references, so that whatever
// the program wrote is on its way to the operating system before the process ends.
#pragma once

#include "core/shutdown.h"
#include "io/handle_record.h"

namespace quarn::io {

// Adds a new record, after dropping the entries whose records are gone. Any thread.
void register_handle(const HandleRef &record) noexcept;

// Flushes the write buffer of every live record under its lock, ignoring errors. When the
// process ends from a panic no lock is waited for: a busy handle is skipped. When it ends
// through lean_io_exit, a handle busy in another thread is waited for a short while only,
// since that thread may be blocked for good (in a read or a file lock). Any thread.
void flush_all_handles(shutdown::Reason reason) noexcept;

// The number of entries in the registry, live or not (for tests).
size_t registered_handle_count() noexcept;

}  // namespace quarn::io

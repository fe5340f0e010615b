// The process-wide handle table: numbers that keep Lean objects alive while a host holds
// them. Numbers are never reused and 0 is never a handle. One mutex, held only for the map
// operation. Any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "core/allocator.h"
#include "quarn/object.h"

namespace quarn::capi {

using Handle = std::uint64_t;

// Marks o multi-threaded and registers it under a new number. Consumes o.
Handle register_object(quarn_object *o) noexcept;

// A new reference to the handle's object; the handle stays live. Empty when the number is
// not live.
std::optional<quarn_object *> borrow_handle(Handle h) noexcept;

// The table's reference to the handle's object; the handle is no longer live. Empty when
// the number is not live.
std::optional<quarn_object *> adopt_handle(Handle h) noexcept;

// The number of live handles (for tests and diagnostics).
std::size_t live_handle_count() noexcept;

// "<h> is not a live handle", the detail every caller reports for a number not in the table.
Text not_live_message(Handle h);

}  // namespace quarn::capi

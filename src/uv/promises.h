// Promises as the event loop hands them out: created multi-threaded (the reactor thread
// resolves them) and resolved with Except values (error: tag 0, ok: tag 1).
#pragma once

#include <string_view>

#include "quarn/object.h"

namespace quarn::uv {

// A new unresolved promise, marked multi-threaded. Returns an owned reference.
quarn_object *new_promise() noexcept;

// Resolves the promise with `some value` unless it is resolved already; false then (and
// value is released). Consumes value; borrows promise.
bool resolve_promise(quarn_object *promise, quarn_object *value) noexcept;

// Whether the promise's task already has a value. Borrows promise.
bool promise_resolved(quarn_object *promise) noexcept;

// Except values. Consume value; return owned references.
quarn_object *except_ok(quarn_object *value) noexcept;
quarn_object *except_error(int negative_code) noexcept;

// IO results for the event loop's negative error codes; `details` replaces the code's
// standard text when given.
quarn_object *io_error_of_code(int negative_code) noexcept;
quarn_object *io_error_of_code(int negative_code, std::string_view details) noexcept;

}  // namespace quarn::uv

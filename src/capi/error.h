// The error records handed to hosts (quarn_error): a kind, a payload and a message. Shared by
// invocation, async programs and the C host.
#pragma once

#include <cstdint>
#include <string_view>

#include "capi/value.h"
#include "core/allocator.h"
#include "quarn/host.h"

struct quarn_error {
    int kind = QUARN_ERROR_FAILURE;
    // QUARN_ERROR_IO: the handle of the Lean IO error object, or 0 for none.
    std::uint64_t handle = 0;
    // QUARN_ERROR_VALUE: the Lean error value, owned.
    quarn_value *value = nullptr;
    // NUL-terminated UTF-8 from the C heap, owned; a NUL inside the text became U+FFFD.
    char *message = nullptr;
};

namespace quarn::capi {

// The text with a NUL byte, and every byte where no well-formed UTF-8 character starts,
// replaced by U+FFFD: how messages from outside (hosts, their buffers) become messages.
Text lossy_message(std::string_view text);

// A new QUARN_ERROR_FAILURE error with a copy of the message (UTF-8 is not checked here: the
// runtime's own messages are UTF-8; invalid sequences from elsewhere are replaced).
quarn_error *new_failure(std::string_view message) noexcept;

// A new QUARN_ERROR_IO error owning `handle` (0 for none). Invalid UTF-8 in the message is
// replaced.
quarn_error *new_io_error(std::uint64_t handle, std::string_view message) noexcept;

// A new QUARN_ERROR_VALUE error owning `value`, with the message the kind prescribes (the
// text of a String value, else "a Lean error value (see quarn_error_value)").
quarn_error *new_value_error(quarn_value *value) noexcept;

}  // namespace quarn::capi

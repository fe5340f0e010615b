// The standard streams: the records of descriptors 0, 1 and 2, the program's default
// streams made from them, and each thread's replacements.
#pragma once

#include "io/handle_record.h"

namespace quarn::io {

enum class StandardStream : uint8_t { in = 0, out = 1, err = 2 };

// The record of a standard descriptor, created with the two others on first need and
// kept for the life of the process. Any thread.
HandleRecord &standard_record(StandardStream which) noexcept;

}  // namespace quarn::io

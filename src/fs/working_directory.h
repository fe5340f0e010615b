// The process's working directory as the system reports it.
#pragma once

#include "core/allocator.h"

namespace quarn::fs {

// The working directory's bytes, or the error number of the failure (0 on success).
int read_working_directory(Text &into) noexcept;

}  // namespace quarn::fs

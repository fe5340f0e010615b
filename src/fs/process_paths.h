// The process's working directory and its executable, as the system reports them.
#pragma once

#include "core/allocator.h"

namespace quarn::fs {

// The working directory's bytes, or the error number of the failure (0 on success).
int read_working_directory(Text &into) noexcept;

// The path of the running executable (the target of /proc/self/exe), or the error number of
// the failure (0 on success).
int read_executable_path(Text &into) noexcept;

}  // namespace quarn::fs

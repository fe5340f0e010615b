// The stack size of the threads that run Lean code: the main thread and the task workers.
#pragma once

#include <cstddef>

namespace quarn::startup {

// From LEAN_STACK_SIZE_KB, read like the C library's atol: kibibytes, negative values as
// 0, rounded down to a multiple of 4096 bytes, plus 128 KiB of room; 1 GiB when the
// variable is unset, not UTF-8 text, or comes to 0.
size_t lean_thread_stack_size() noexcept;

}  // namespace quarn::startup

// The line lean_io_timeit prints.
#pragma once

#include <string_view>

#include "core/allocator.h"

namespace quarn::fs {

// The message, a space and the duration with three significant digits as %g writes them:
// in milliseconds ("ms") below one second, else in seconds ("s").
Text timeit_report(std::string_view message, double seconds) noexcept;

}  // namespace quarn::fs

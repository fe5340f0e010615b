// The Lean-level panic: a checked operation whose Lean definition allows a default reports
// the problem and goes on with that default.
#pragma once

#include <string_view>

namespace quarn::startup {

// Prints the message (and a backtrace unless LEAN_BACKTRACE is "0") through the program's
// standard error, or, when LEAN_ABORT_ON_PANIC is set, straight to the process's standard
// error and then aborts. Returns otherwise.
void report_lean_panic(std::string_view message) noexcept;

}  // namespace quarn::startup

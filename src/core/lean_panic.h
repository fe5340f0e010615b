// The Lean-level panic: a checked operation whose Lean definition allows a default reports
// the problem and goes on with that default.
#pragma once

#include <string_view>

namespace quarn {

// Prints the message (and a backtrace unless LEAN_BACKTRACE is "0") through the program's
// standard error, or, when LEAN_ABORT_ON_PANIC is set, straight to the process's standard
// error and then aborts. Returns otherwise. Any thread.
void report_lean_panic(std::string_view message) noexcept;

// A printer of one line to the Lean program's standard error (the line feed is added).
using LeanLinePrinter = void (*)(std::string_view line) noexcept;

// Installs the printer that reaches the program's standard error; the call-back table does
// this when it is loaded. Until then, panics print to the process's standard error.
void set_lean_stderr_printer(LeanLinePrinter printer) noexcept;

}  // namespace quarn

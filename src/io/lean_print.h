// Printing to the Lean program's standard error, which follows any redirection the program
// made, through its lean_io_eprintln export.
#pragma once

#include <string_view>

namespace quarn::io {

// Passes a new string of the text to lean_io_eprintln (which adds the line feed) and
// releases the IO result it returns.
void lean_eprintln(std::string_view text) noexcept;

}  // namespace quarn::io

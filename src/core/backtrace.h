// The calling thread's stack backtrace, as text lines for panic reports.
#pragma once

#include <string>
#include <vector>

namespace quarn {

// One line per frame, innermost first, without line feeds.
std::vector<std::string> capture_backtrace() noexcept;

}  // namespace quarn

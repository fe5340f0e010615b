#include "startup/backtrace.h"

#include <execinfo.h>

#include <cstdlib>

namespace quarn::startup {

std::vector<std::string> capture_backtrace() noexcept {
    void *frames[64];
    int count = ::backtrace(frames, 64);
    std::vector<std::string> lines;
    char **symbols = ::backtrace_symbols(frames, count);
    if (symbols == nullptr) return lines;
    // The first frame is this function.
    for (int i = 1; i < count; ++i) lines.emplace_back(symbols[i]);
    std::free(symbols);
    return lines;
}

}  // namespace quarn::startup

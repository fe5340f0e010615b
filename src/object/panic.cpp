#include "object/panic.h"

#include <unistd.h>

#include <cstdlib>

#include "sys/write_all.h"

namespace quarn {

void internal_panic(std::string_view message) noexcept {
    sys::write_all(STDERR_FILENO, {"INTERNAL PANIC: ", message, "\n"});
    if (std::getenv("LEAN_ABORT_ON_PANIC") != nullptr) std::abort();
    std::exit(1);
}

}  // namespace quarn

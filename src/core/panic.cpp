#include "core/panic.h"

#include <unistd.h>

#include <cstdlib>

#include "core/shutdown.h"
#include "core/write_all.h"

namespace quarn {

namespace {

// Set on the thread that won the end of the process, so that a panic raised while it runs
// the shutdown sequence ends the process at once instead of waiting for itself.
thread_local constinit bool ending_the_process = false;

}  // namespace

void internal_panic(std::string_view message) noexcept {
    bool abort_on_panic = std::getenv("LEAN_ABORT_ON_PANIC") != nullptr;
    if (ending_the_process) {
        write_all(STDERR_FILENO, {"INTERNAL PANIC: ", message, "\n"});
        if (abort_on_panic) std::abort();
        ::_exit(1);
    }
    // Exactly one thread prints and ends the process; any other that panics meanwhile
    // waits for the end.
    if (!shutdown::claim_process_end()) shutdown::park_forever();
    ending_the_process = true;
    write_all(STDERR_FILENO, {"INTERNAL PANIC: ", message, "\n"});
    shutdown::run(shutdown::Reason::Panic);
    if (abort_on_panic) std::abort();
    std::exit(1);
}

}  // namespace quarn

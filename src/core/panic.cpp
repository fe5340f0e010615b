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

// One write of the whole line, so that no other thread's output lands inside it.
void write_message(std::initializer_list<std::string_view> message) noexcept {
    std::string_view line[kMaxPieces];
    size_t count = 0;
    line[count++] = "INTERNAL PANIC: ";
    for (std::string_view piece : message)
        if (count < kMaxPieces - 1) line[count++] = piece;
    line[count++] = "\n";
    write_all(STDERR_FILENO, std::span<const std::string_view>(line, count));
}

}  // namespace

void internal_panic(std::string_view message) noexcept { internal_panic({message}); }

void internal_panic(std::initializer_list<std::string_view> message) noexcept {
    bool abort_on_panic = std::getenv("LEAN_ABORT_ON_PANIC") != nullptr;
    if (ending_the_process) {
        write_message(message);
        if (abort_on_panic) std::abort();
        ::_exit(1);
    }
    // Exactly one thread prints and ends the process; any other that panics meanwhile
    // waits for the end.
    if (!shutdown::claim_process_end()) shutdown::park_forever();
    ending_the_process = true;
    write_message(message);
    shutdown::run(shutdown::Reason::Panic);
    if (abort_on_panic) std::abort();
    std::exit(1);
}

}  // namespace quarn

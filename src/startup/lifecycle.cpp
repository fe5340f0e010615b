// The initializing flag, the end of initialization, and ending the process from Lean.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "core/shutdown.h"
#include "quarn/startup.h"

namespace {

// True from the moment the library is loaded until initialization ends.
constinit std::atomic<bool> initializing{true};
constinit std::atomic<bool> initialization_ended{false};

}  // namespace

extern "C" void quarn_end_initialization() noexcept {
    initializing.store(false, std::memory_order_release);
    // The actions (the task manager's start) run once, whichever caller comes first.
    if (!initialization_ended.exchange(true, std::memory_order_acq_rel))
        quarn::shutdown::run_end_of_initialization_actions();
}

extern "C" uint8_t quarn_lean_io_initializing() noexcept {
    return initializing.load(std::memory_order_acquire);
}

extern "C" void quarn_lean_io_exit(uint8_t status) noexcept {
    if (!quarn::shutdown::claim_process_end()) quarn::shutdown::park_forever();
    quarn::shutdown::run(quarn::shutdown::Reason::Exit);
    std::exit(status);
}

extern "C" void quarn_lean_io_force_exit(uint8_t status) noexcept { ::_exit(status); }

#include "startup/lifecycle.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include <unistd.h>

#include "quarn/startup.h"

namespace quarn::startup {

namespace {

// 1 from the moment the library is loaded until initialization ends.
std::atomic<bool> initializing{true};
std::once_flag end_of_initialization;

}  // namespace

LifecycleHooks &lifecycle_hooks() noexcept {
    static LifecycleHooks hooks;
    return hooks;
}

void end_initialization() noexcept {
    initializing.store(false, std::memory_order_release);
    std::call_once(end_of_initialization, [] {
        if (auto start = lifecycle_hooks().start_task_manager) start();
    });
}

bool is_initializing() noexcept { return initializing.load(std::memory_order_acquire); }

void finalize_task_manager() noexcept {
    if (auto finalize = lifecycle_hooks().finalize_task_manager) finalize();
}

void flush_all_handles() noexcept {
    if (auto flush = lifecycle_hooks().flush_all_handles) flush();
}

}  // namespace quarn::startup

extern "C" void quarn_end_initialization() noexcept { quarn::startup::end_initialization(); }

extern "C" uint8_t quarn_lean_io_initializing() noexcept {
    return quarn::startup::is_initializing();
}

extern "C" void quarn_lean_io_exit(uint8_t status) noexcept {
    quarn::startup::flush_all_handles();
    std::exit(status);
}

extern "C" void quarn_lean_io_force_exit(uint8_t status) noexcept { ::_exit(status); }

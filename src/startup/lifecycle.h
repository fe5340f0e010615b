// The phases of the process: initialization, running, shutting down. Later subsystems
// attach their start and stop work here, so that start-up does not depend on them.
#pragma once

namespace quarn::startup {

// Work other subsystems install once, before the program starts: the task manager installs
// its start (run when initialization ends) and finalisation (run when main returns); file
// handles install the flush of every open handle (run when main returns and at exit).
// Unset hooks do nothing.
struct LifecycleHooks {
    void (*start_task_manager)() noexcept = nullptr;
    void (*finalize_task_manager)() noexcept = nullptr;
    void (*flush_all_handles)() noexcept = nullptr;
};

LifecycleHooks &lifecycle_hooks() noexcept;

// Clears the initializing flag and runs the end-of-initialization action (the task
// manager's start) if it has not run yet in this process.
void end_initialization() noexcept;

bool is_initializing() noexcept;

void finalize_task_manager() noexcept;
void flush_all_handles() noexcept;

}  // namespace quarn::startup

// The ordered end of the process. Subsystems register the work they must do before the
// process ends (finalise the task manager, flush open file handles, ...) as steps of one
// sequence; every way the process ends runs that sequence, each step being told why so it
// can do only what is safe then.
//
// Registration is meant for start-up (a static registrar in the subsystem's own file) and
// never allocates; the registry is immortal, like every other runtime global, so a thread
// still running while the process ends never sees it torn down.
#pragma once

namespace quarn::shutdown {

// Why the sequence runs.
enum class Reason {
    MainReturned,  // the Lean main returned to quarn_run_main: drain tasks, then flush
    Exit,          // lean_io_exit: flush, but never wait for other threads' work
    Panic,         // the internal panic: only what cannot block on a lock this thread holds
};

// The stages, run in this order; steps of one stage run in the order they registered.
enum class Stage {
    StopHostCalls,  // refuse new calls from hosts
    FinishTasks,    // drain and join the task manager (MainReturned only)
    FlushHandles,   // write out every open file handle's buffered bytes
};

using Step = void (*)(Reason reason) noexcept;

// Adds a step to the sequence. Any thread; meant for static initialisation. More steps
// than the registry holds is an internal panic.
void at_shutdown(Stage stage, Step step) noexcept;

// Runs every registered step for the given reason, stage by stage. Each step decides
// what a second run means for it (a task manager already finalised has nothing to do).
void run(Reason reason) noexcept;

// Runs the steps of one stage only (the flush before an uncaught error is printed).
void run_stage(Stage stage, Reason reason) noexcept;

// Registers the action that runs once, when initialization ends (the task manager's
// start). Any thread; meant for static initialisation.
void at_end_of_initialization(void (*action)() noexcept) noexcept;

// Runs the end-of-initialization actions. Called once, by start-up.
void run_end_of_initialization_actions() noexcept;

// Claims the end of the process for the calling thread: true for the first caller only.
// Ending the process twice at once (two panics, an exit during a panic) is undefined in C,
// so every path that ends it claims first and a thread that loses calls park_forever.
bool claim_process_end() noexcept;

// Blocks the calling thread until the process ends. Never returns.
[[noreturn]] void park_forever() noexcept;

// Helper for a registrar: `const bool registered = shutdown::registered(Stage::X, step);`
inline bool registered(Stage stage, Step step) noexcept {
    at_shutdown(stage, step);
    return true;
}

}  // namespace quarn::shutdown

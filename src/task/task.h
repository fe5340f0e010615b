// Tasks and the task manager, as the rest of the runtime uses them: spawning a closure,
// resolving a task's value, waiting for it, and the task the calling thread is running.
//
// A task object (quarn_task_object) holds its value once finished and, while pending, an
// Execution record that the manager owns. One process-wide manager (one lock, nine
// priority queues, worker threads started on demand) runs pending tasks; without a running
// manager every task is born finished on the calling thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "quarn/object.h"

namespace quarn::task {

// Priorities 0 to 8 are queued; 9 and above run on a thread of their own.
inline constexpr uint32_t kMaxQueuedPriority = 8;
inline constexpr uint32_t kQueueCount = kMaxQueuedPriority + 1;
// The priority of a synchronous continuation: never queued, run by the resolving thread.
inline constexpr uint32_t kSyncPriority = 0xFFFFFFFFu;
// Priorities past the dedicated range's end are clamped here so none reads as kSyncPriority.
inline constexpr uint32_t kHighestDedicatedPriority = kSyncPriority - 1;

// What the manager keeps for a pending task. Guarded by the manager lock, except the
// fields that never change after creation (priority, keep_alive) and `canceled`, which is
// also read without it.
struct Execution {
    quarn_object *closure;               // to apply to the scalar 0; null while running
    quarn_task_object *first_dependent;  // tasks waiting for this one's value, newest first
    quarn_task_object *next_dependent;   // link in the list of the task this one waits for
    uint32_t priority;
    std::atomic<bool> canceled;
    bool keep_alive;   // the manager holds one reference until the closure has returned
    bool deactivated;  // the last reference is gone: whoever meets the task frees it
};

inline quarn_object *value_of(const quarn_task_object *task) noexcept {
    return __atomic_load_n(&task->value, __ATOMIC_ACQUIRE);
}

inline Execution *execution_of(const quarn_task_object *task) noexcept {
    return static_cast<Execution *>(__atomic_load_n(&task->exec, __ATOMIC_ACQUIRE));
}

// The task whose closure the calling thread is running, or null.
quarn_task_object *current_task() noexcept;

// Whether a manager runs now.
bool manager_running() noexcept;

// Starts the manager with this limit on busy workers (0 starts nothing). A manager already
// running is the internal panic "the Lean task manager is already running".
void start_manager(uint32_t limit) noexcept;

// The end of main: runs every queued task (and what they enqueue), joins the workers, waits
// for the dedicated threads, and leaves the process without a manager. Does nothing when
// no manager runs.
void finalize_manager() noexcept;

// The limit from a LEAN_NUM_THREADS setting: leading Unicode white space, an optional sign,
// decimal digits up to the first non-digit, saturating at the 64-bit signed limits; the
// low 32 bits of that. Null (unset) or text that is not UTF-8: the hardware's parallelism.
uint32_t thread_limit_from(const char *setting) noexcept;

// The number of threads the process may run in parallel, 1 if unknown.
uint32_t hardware_concurrency() noexcept;

// A finished task holding value, single-threaded. Consumes value.
quarn_task_object *finished_task(quarn_object *value) noexcept;

// A task that runs closure at the priority (kSyncPriority is not allowed here); without a
// manager, closure runs now and the task is born finished. Consumes closure.
quarn_task_object *spawn(quarn_object *closure, uint32_t priority, bool keep_alive) noexcept;

// A pending task with no closure, for a promise; a manager must run.
quarn_task_object *new_promise_task() noexcept;

// Gives the task its value unless it has one; returns false (and releases nothing) when it
// already had one. Consumes value only when it returns true.
bool resolve(quarn_task_object *task, quarn_object *value) noexcept;

// Blocks until the task has a value and returns it. Borrows task; returns a reference
// borrowed from task.
quarn_object *wait(quarn_task_object *task) noexcept;

// Makes dependent wait for task's value, or enqueues it if task is finished.
void add_dependent(quarn_task_object *task, quarn_task_object *dependent) noexcept;

// A new multi-threaded task for closure (marked multi-threaded here), not yet enqueued.
quarn_task_object *new_pending_task(quarn_object *closure, uint32_t priority, bool keep_alive) noexcept;

// Stores a closure to run when the current task is run again (a bind's second stage).
// Consumes closure.
void set_current_continuation(quarn_object *closure) noexcept;

namespace detail {

// The pieces of the exported operations that need the manager's lock.
bool shutting_down() noexcept;                     // false without a manager
void cancel(quarn_task_object *task) noexcept;     // task unfinished; borrows task
uint8_t state(quarn_task_object *task) noexcept;   // 0 waiting, 1 running, 2 finished
quarn_object *wait_any(quarn_object *list) noexcept;  // borrows list; owned result

}  // namespace detail

}  // namespace quarn::task

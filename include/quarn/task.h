/*
 * quarn/task.h: tasks, promises, mutexes and condition variables.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++. The layouts (quarn_task_object, quarn_promise_object,
 * quarn_external_object) are in quarn/object.h.
 *
 * Tasks. A task holds the value a closure computes, possibly on another thread; `value` is
 * null until the task finishes and never changes after. One task manager per process runs
 * pending tasks on worker threads: it starts when initialization ends (its limit on busy
 * workers comes from LEAN_NUM_THREADS, else the number of processors) and, when main
 * returns, runs what is still queued and joins its workers. Without a running manager every
 * task is computed at once on the calling thread and is born finished.
 *
 * Priorities arrive as boxed numbers: 0 to 8 are queued (8 first), 9 and above run on a
 * thread of their own. `sync` (a Bool) asks that a continuation run on the thread that
 * finishes the task it waits for instead of being queued. Closures and values handed to a
 * task are marked multi-threaded here.
 *
 * Promises. A promise is resolved once, by any thread; its result task finishes with the
 * option `some v` on resolution, or with `none` (the scalar 0) when the promise is dropped
 * unresolved. The first resolution wins.
 *
 * Mutexes and condition variables are external objects. A base mutex has no owner (any
 * thread may unlock it); a recursive mutex belongs to the thread that locked it; a shared
 * mutex admits many readers or one writer, without preference for writers. Unlocking what
 * is not locked, or passing an object of another kind, ends the process with an internal
 * panic.
 *
 * Every entry point here may be called from any thread. Results are owned by the caller.
 */
#ifndef QUARN_TASK_H
#define QUARN_TASK_H

#include "object.h"

QUARN_BEGIN_DECLS

/* ------------------------------------------------------------------------------------------ */
/* Tasks                                                                                     */
/* ------------------------------------------------------------------------------------------ */

/* A finished task holding value. Consumes value. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_task_pure(quarn_object *value) QUARN_NOEXCEPT;

/* A task that applies closure to the scalar 0. Consumes closure and priority. Returns an
 * owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_task_spawn(quarn_object *closure, quarn_object *priority)
    QUARN_NOEXCEPT;

/* A task that runs the IO action and holds the IO result it returns; it runs even if its
 * last reference is dropped first. Consumes action and priority. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_as_task(quarn_object *action, quarn_object *priority)
    QUARN_NOEXCEPT;

/* A task holding f applied to t's value. Consumes f, t and priority. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_task_map(quarn_object *f, quarn_object *t, quarn_object *priority,
                                            uint8_t sync) QUARN_NOEXCEPT;

/* As quarn_lean_task_map for an IO function (applied to the value and the world); runs
 * even if its last reference is dropped first. Consumes f, t and priority. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_map_task(quarn_object *f, quarn_object *t,
                                               quarn_object *priority, uint8_t sync) QUARN_NOEXCEPT;

/* A task holding the value of the task that f returns for x's value. Consumes x, f and
 * priority. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_task_bind(quarn_object *x, quarn_object *f, quarn_object *priority,
                                             uint8_t sync) QUARN_NOEXCEPT;

/* As quarn_lean_task_bind for an IO function (applied to the value and the world); runs
 * even if its last reference is dropped first. Consumes x, f and priority. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_bind_task(quarn_object *x, quarn_object *f,
                                                quarn_object *priority, uint8_t sync) QUARN_NOEXCEPT;

/* Blocks until t has finished and returns its value. quarn_lean_task_get_own is the same
 * function. Consumes t. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_wait(quarn_object *t) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_task_get_own(quarn_object *t) QUARN_NOEXCEPT;

/* Blocks until one task of the list has finished; returns the value of the first finished
 * task in list order. Borrows tasks. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_wait_any(quarn_object *tasks) QUARN_NOEXCEPT;

/* Asks an unfinished task to stop (it sees this through quarn_lean_io_check_canceled, and so
 * do the tasks waiting for it once it finishes). Borrows t. Returns the scalar 0. Any thread. */
QUARN_API quarn_object *quarn_lean_io_cancel(quarn_object *t) QUARN_NOEXCEPT;

/* Whether the task the calling thread runs was canceled, or the manager is finishing the
 * queued tasks at the end of main. 0 on a thread that runs no task. Any thread. */
QUARN_API uint8_t quarn_lean_io_check_canceled(void) QUARN_NOEXCEPT;

/* 0 waiting, 1 running, 2 finished. Borrows t. Any thread. */
QUARN_API uint8_t quarn_lean_io_get_task_state(quarn_object *t) QUARN_NOEXCEPT;

/* The number of threads the process may run in parallel; 1 if unknown. Any thread. */
QUARN_API uint32_t quarn_lean_internal_get_hardware_concurrency(void) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Promises                                                                                  */
/* ------------------------------------------------------------------------------------------ */

/* A new unresolved promise; the task manager must be running. Returns an owned reference.
 * Any thread. */
QUARN_API quarn_object *quarn_lean_io_promise_new(void) QUARN_NOEXCEPT;

/* Resolves the promise with `some value` unless it is resolved already. Consumes value;
 * borrows promise. Returns the scalar 0. Any thread. */
QUARN_API quarn_object *quarn_lean_io_promise_resolve(quarn_object *value, quarn_object *promise)
    QUARN_NOEXCEPT;

/* The promise's result task. Borrows promise. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_promise_result_opt(quarn_object *promise) QUARN_NOEXCEPT;

/* The v of `some v`; for `none` (a dropped promise) reports the Lean-level panic and blocks
 * the calling thread for good. Consumes option. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_option_get_or_block(quarn_object *option) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Mutexes and condition variables                                                           */
/* ------------------------------------------------------------------------------------------ */

/* New primitives, unlocked. Each returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_basemutex_new(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_baserecmutex_new(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_basesharedmutex_new(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_condvar_new(void) QUARN_NOEXCEPT;

/* Blocking acquisitions. Borrows m. Return the scalar 0. Any thread. */
QUARN_API quarn_object *quarn_lean_io_basemutex_lock(quarn_object *m) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_baserecmutex_lock(quarn_object *m) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_basesharedmutex_read(quarn_object *m) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_basesharedmutex_write(quarn_object *m) QUARN_NOEXCEPT;

/* Acquisitions that never block: 1 if acquired, else 0. Borrows m. Any thread. */
QUARN_API uint8_t quarn_lean_io_basemutex_try_lock(quarn_object *m) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_io_baserecmutex_try_lock(quarn_object *m) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_io_basesharedmutex_try_read(quarn_object *m) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_io_basesharedmutex_try_write(quarn_object *m) QUARN_NOEXCEPT;

/* Releases. Borrows m. Return the scalar 0. Any thread (a recursive mutex: its owner). */
QUARN_API quarn_object *quarn_lean_io_basemutex_unlock(quarn_object *m) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_baserecmutex_unlock(quarn_object *m) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_basesharedmutex_unlock_read(quarn_object *m) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_basesharedmutex_unlock_write(quarn_object *m) QUARN_NOEXCEPT;

/* Unlocks the base mutex m, waits for a notification of cv issued after that, and locks m
 * again. Borrows cv and m. Returns the scalar 0. Any thread. */
QUARN_API quarn_object *quarn_lean_io_condvar_wait(quarn_object *cv, quarn_object *m) QUARN_NOEXCEPT;

/* Wakes one / every thread waiting on cv. Borrows cv. Return the scalar 0. Any thread. */
QUARN_API quarn_object *quarn_lean_io_condvar_notify_one(quarn_object *cv) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_condvar_notify_all(quarn_object *cv) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_TASK_H */

/*
 * quarn/startup.h: program start-up, module initialization, consistency checks, panics,
 * debugging primitives, process exit and platform constants.
 *
 * A compiled program's C main registers its exports (quarn/io.h) and calls quarn_run_main.
 * Module initializers store declaration values into initialization cells; declarations
 * computed on first use live in lazy cells. Compiles as C11 and as C++.
 */
#ifndef QUARN_STARTUP_H
#define QUARN_STARTUP_H

#include "object.h"

QUARN_BEGIN_DECLS

#define QUARN_NORETURN __attribute__((noreturn))

/* ---- initialization cells -------------------------------------------------------------- */

/* One per module-level declaration that an initializer computes; allocated by compiled
 * code. `state` goes 0 (not set) -> 1 (being set) -> 2 (set), once. */
typedef struct {
    union {
        quarn_object *object; /* object cells: a persistent value */
        uint64_t bits;        /* scalar cells: the raw bits */
    } value;
    uint32_t state;
    const char *name; /* NUL-terminated UTF-8 name of the declaration, for messages */
} quarn_init_cell;

/* A declaration computed on first use; `state` is 0 until computed. */
typedef struct {
    union {
        quarn_object *object;
        uint64_t bits;
    } value;
    uint32_t state;
} quarn_lazy_cell;

static_assert(sizeof(quarn_init_cell) == 24 && offsetof(quarn_init_cell, state) == 8 &&
                  offsetof(quarn_init_cell, name) == 16,
              "initialization cell layout");
static_assert(sizeof(quarn_lazy_cell) == 16 && offsetof(quarn_lazy_cell, state) == 8,
              "lazy cell layout");

/* Stores raw bits into a cell that was not set yet; setting a cell twice ends the process.
 * Any thread. */
QUARN_API void quarn_init_bits_set(quarn_init_cell *cell, uint64_t value) QUARN_NOEXCEPT;

/* Marks the value persistent and stores it into a cell that was not set yet; setting a cell
 * twice ends the process. Consumes value. Any thread. */
QUARN_API void quarn_init_obj_set(quarn_init_cell *cell, quarn_object *value) QUARN_NOEXCEPT;

/* The value of an initializer's ok IO result; an error result ends the process, naming the
 * declaration and the error. Borrows name; consumes result. Returns an owned reference. */
QUARN_API quarn_object *quarn_check_initializer(const char *name, quarn_object *result) QUARN_NOEXCEPT;

/* The value of a lazy cell, computed by `compute` on first use; concurrent first uses share
 * one computation, different cells compute in parallel. Any thread. */
QUARN_API uint64_t quarn_lazy_bits_force(quarn_lazy_cell *cell, uint64_t (*compute)(void)) QUARN_NOEXCEPT;

/* As quarn_lazy_bits_force for an object, which is marked persistent before it is stored.
 * Returns a reference borrowed from the cell. */
QUARN_API quarn_object *quarn_lazy_obj_force(quarn_lazy_cell *cell, quarn_object *(*compute)(void))
    QUARN_NOEXCEPT;

/* The inline fast path of quarn_lazy_obj_force: one load and compare once computed.
 * Returns a reference borrowed from the cell. Any thread. */
static inline quarn_object *quarn_lazy_obj_get(quarn_lazy_cell *cell, quarn_object *(*compute)(void)) {
    if (__atomic_load_n(&cell->state, __ATOMIC_ACQUIRE) != 0) return cell->value.object;
    return quarn_lazy_obj_force(cell, compute);
}

/* The inline fast path of quarn_lazy_bits_force. Any thread. */
static inline uint64_t quarn_lazy_bits_get(quarn_lazy_cell *cell, uint64_t (*compute)(void)) {
    if (__atomic_load_n(&cell->state, __ATOMIC_ACQUIRE) != 0) return cell->value.bits;
    return quarn_lazy_bits_force(cell, compute);
}

/* Ends the process: the declaration was used before its module was initialized. */
QUARN_API QUARN_NORETURN void quarn_panic_uninitialized(const char *name) QUARN_NOEXCEPT;

/* Reading an initialization cell from compiled code: the state is loaded with acquire
 * ordering, so the value the initializer stored (and everything it points to) is seen
 * complete on any thread; a cell not set yet ends the process naming the declaration. */

/* The value of an object cell. Returns a reference borrowed from the cell (persistent).
 * Any thread. */
static inline quarn_object *quarn_init_obj_get(const quarn_init_cell *cell) {
    if (__atomic_load_n(&cell->state, __ATOMIC_ACQUIRE) != 2) quarn_panic_uninitialized(cell->name);
    return cell->value.object;
}

/* The raw bits of a scalar cell. Any thread. */
static inline uint64_t quarn_init_bits_get(const quarn_init_cell *cell) {
    if (__atomic_load_n(&cell->state, __ATOMIC_ACQUIRE) != 2) quarn_panic_uninitialized(cell->name);
    return cell->value.bits;
}

/* ---- start and stop -------------------------------------------------------------------- */

/* A program's initializer: runs every module initializer; returns an IO result. */
typedef quarn_object *(*quarn_initializer)(void);
/* The Lean main, with or without the command line. It returns an IO result. */
typedef quarn_object *(*quarn_main_with_args)(quarn_object *args);
typedef quarn_object *(*quarn_main_without_args)(void);

/*
 * Runs a compiled program and returns its exit code; the program's C main returns it.
 * Calls the initializer (when not null; its result is released), ends initialization, then
 * runs `main` on a new thread "lean-main" (stack size from LEAN_STACK_SIZE_KB, 1 GiB by
 * default) unless LEAN_MAIN_USE_THREAD is "0". `main` is a quarn_main_with_args when
 * main_takes_arguments is 1 (it receives the argc arguments of argv as a list of strings,
 * bad UTF-8 replaced by U+FFFD), a quarn_main_without_args otherwise. The exit code is 0, or
 * the UInt32 main returned when main_returns_uint32 is 1; an error result prints
 * "uncaught exception: " and the error's text on standard error and gives 1. Borrows argv.
 * Call once, from the process's main thread.
 */
QUARN_API uint32_t quarn_run_main(quarn_initializer initializer, void *main, uint8_t main_takes_arguments,
                                  uint8_t main_returns_uint32, int argc, char **argv) QUARN_NOEXCEPT;

/* Ends the initialization phase of a host that embeds the library without quarn_run_main:
 * clears the initializing flag and starts the task manager once. */
QUARN_API void quarn_end_initialization(void) QUARN_NOEXCEPT;

/* Whether the program is still initializing (Lean Bool). */
QUARN_API uint8_t quarn_lean_io_initializing(void) QUARN_NOEXCEPT;

/* Flushes every open file handle, then ends the process normally with the status. */
QUARN_API QUARN_NORETURN void quarn_lean_io_exit(uint8_t status) QUARN_NOEXCEPT;

/* Ends the process at once with the status, without flushing or exit handlers. */
QUARN_API QUARN_NORETURN void quarn_lean_io_force_exit(uint8_t status) QUARN_NOEXCEPT;

/* ---- consistency checks and fatal errors ----------------------------------------------- */

/* Compares two layout fingerprints byte for byte; returns 0 when they are equal and ends
 * the process naming both otherwise. Borrows every argument. */
QUARN_API int32_t quarn_check_layout(const char *what, const char *name, const char *expected,
                                     const char *actual) QUARN_NOEXCEPT;

/* Ends the process: the host did not provide a facility the program uses. */
QUARN_API QUARN_NORETURN void quarn_panic_facility_missing(const char *facility, const char *operation,
                                                           const char *extern_name) QUARN_NOEXCEPT;

/* Ends the process: "unreachable code has been reached". */
QUARN_API QUARN_NORETURN void quarn_panic_unreachable(void) QUARN_NOEXCEPT;

/* Ends the process: "executed 'sorry'". */
QUARN_API QUARN_NORETURN quarn_object *quarn_lean_sorry(uint8_t unused) QUARN_NOEXCEPT;

/*
 * The Lean-level panic: prints the message string (and a backtrace unless LEAN_BACKTRACE
 * is "0") on the program's standard error and returns the default value, so that execution
 * goes on; aborts instead when LEAN_ABORT_ON_PANIC is set. Borrows default_value; consumes
 * message. Returns an owned reference to default_value.
 */
QUARN_API quarn_object *quarn_lean_panic_fn_borrowed(quarn_object *default_value,
                                                     quarn_object *message) QUARN_NOEXCEPT;

/* ---- debugging --------------------------------------------------------------------------- */

/* Prints the message string through the program's lean_io_eprintln, then applies `rest` to
 * the scalar 0 and returns what it returns. Consumes message and rest. */
QUARN_API quarn_object *quarn_lean_dbg_trace(quarn_object *message, quarn_object *rest) QUARN_NOEXCEPT;

/* Prints "shared RC " and the message when value is an object that is not exclusive.
 * Borrows message; consumes value and returns it. */
QUARN_API quarn_object *quarn_lean_dbg_trace_if_shared(quarn_object *message, quarn_object *value)
    QUARN_NOEXCEPT;

/* Sleeps the given milliseconds, then applies `rest` to the scalar 0. Consumes rest. */
QUARN_API quarn_object *quarn_lean_dbg_sleep(uint32_t milliseconds, quarn_object *rest) QUARN_NOEXCEPT;

/* Prints the calling thread's stack, one line per lean_io_eprintln call, then applies `rest`
 * to the scalar 0. Consumes rest. */
QUARN_API quarn_object *quarn_lean_dbg_stack_trace(quarn_object *rest) QUARN_NOEXCEPT;

/* ---- platform and version -------------------------------------------------------------- */

/* ABI version marker: 2. */
QUARN_API uint32_t quarn_abi_v2(void) QUARN_NOEXCEPT;

/* Lean Bool results. */
QUARN_API uint8_t quarn_lean_system_platform_linux(void) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_system_platform_windows(void) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_system_platform_osx(void) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_system_platform_emscripten(void) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_internal_has_llvm_backend(void) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_internal_is_stage0(void) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_version_get_is_release(void) QUARN_NOEXCEPT;

/* Nat results (scalars). */
QUARN_API quarn_object *quarn_lean_system_platform_nbits(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_version_get_major(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_version_get_minor(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_version_get_patch(void) QUARN_NOEXCEPT;

/* New strings. Each returns an owned reference. */
QUARN_API quarn_object *quarn_lean_system_platform_target(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_version_get_special_desc(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_get_githash(void) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_STARTUP_H */

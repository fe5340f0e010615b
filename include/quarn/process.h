/*
 * quarn/process.h: child processes and the process's own id and working directory.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * A spawn forks and executes the command (searched in PATH). Between the fork and the exec
 * the child makes only async-signal-safe calls, everything it needs being prepared before
 * the fork: its environment (changes applied to a copy of the parent's, or to an empty one),
 * its standard streams (piped, inherited or /dev/null), its working directory and, when
 * asked, a new session. Every descriptor the runtime opens is close-on-exec, and the child
 * closes any other descriptor above 2 before it executes (ones the program inherited or
 * opened itself), so it keeps only its three standard streams. A child that cannot change to its directory or
 * execute its command writes "could not change directory to <dir>" or "could not execute
 * external process '<command>'" and a line feed to its standard error and exits with
 * status 255; the spawn itself succeeds. Texts handed to the system are cut at their first
 * zero byte.
 *
 * Exit codes: 128 + s for a child ended by signal s, else its exit status. A wait that a
 * signal interrupts is retried.
 */
#ifndef QUARN_PROCESS_H
#define QUARN_PROCESS_H

#include "object.h"

QUARN_BEGIN_DECLS

/* IO.Process.Stdio: how a standard stream of the child is set up. */
enum {
    QUARN_STDIO_PIPED = 0,   /* a pipe whose other end the parent gets as a file handle */
    QUARN_STDIO_INHERIT = 1, /* the parent's descriptor */
    QUARN_STDIO_NULL = 2     /* /dev/null */
};

/* Starts a child. `args` is the spawn-arguments constructor: object fields stdio
 * configuration (three scalar bytes: stdin, stdout, stderr modes), command (String),
 * arguments (Array String), working directory (Option String), environment changes (Array
 * of (name, Option value): some sets, none removes, in order); then the scalar bytes
 * inherit-environment (0: start from an empty environment) and new-session (non-zero: the
 * child calls setsid). Returns ok(child): a tag-0 constructor with the parent's ends of the
 * stdin, stdout and stderr pipes as file handles (the scalar 0 for a stream not piped), the
 * 32-bit pid and the new-session byte. A failing pipe or fork is the IO error for its
 * error number. A mode of 3 or more ends the process with "invalid IO.Process.Stdio value "
 * and the number. Consumes args. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_process_spawn(quarn_object *args) QUARN_NOEXCEPT;

/* Waits for the child to end: ok(boxed exit code). A child already reaped is the IO error
 * for ECHILD (no_such_thing). Blocks the calling thread only. Borrows child. Returns an
 * owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_process_child_wait(quarn_object *child) QUARN_NOEXCEPT;

/* ok(none) while the child runs, ok(some code) once it has ended (and is reaped). Borrows
 * child. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_process_child_try_wait(quarn_object *child) QUARN_NOEXCEPT;

/* Sends SIGKILL: to the process group of a child started in a new session, else to the
 * child. Returns ok(unit) or the IO error. Borrows child. Returns an owned reference. Any
 * thread. */
QUARN_API quarn_object *quarn_lean_io_process_child_kill(quarn_object *child) QUARN_NOEXCEPT;

/* ok((stdin, child')): the stdin handle (the scalar 0 when it was not piped) and a new child
 * object without it, the other fields shared. Consumes child. Returns an owned reference.
 * Any thread. */
QUARN_API quarn_object *quarn_lean_io_process_child_take_stdin(quarn_object *child) QUARN_NOEXCEPT;

/* The child's pid, not an IO result. Consumes child. Any thread. */
QUARN_API uint32_t quarn_lean_io_process_child_pid(quarn_object *child) QUARN_NOEXCEPT;

/* getpid() of this process, a plain value (not an IO result): it cannot fail. Any thread. */
QUARN_API uint32_t quarn_lean_io_process_get_pid(void) QUARN_NOEXCEPT;

/* ok(working directory), decoded lossily. A failure is the IO error for its error number;
 * a working directory that was removed (ENOENT) names the file ".". Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_process_get_current_dir(void) QUARN_NOEXCEPT;

/* Changes the working directory to the path cut at its first zero byte (the path is not
 * refused for holding one). Returns ok(unit) or the IO error naming the path. Borrows path.
 * Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_process_set_current_dir(quarn_object *path) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_PROCESS_H */

/*
 * quarn/fs.h: the file system, the environment, clocks, random bytes, the thread id and
 * the heartbeat counter.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * Paths are Lean strings handed to the system as their bytes. A path holding a zero byte is
 * refused without a system call: invalid_argument_file(path, 22, "string contains NUL
 * bytes") (the first such path of a two-path primitive). A failing call is the IO error for
 * its error number naming the path. Text from the system (entry names, variables, the
 * working directory, the program path, canonical paths) is decoded lossily: each ill-formed
 * run becomes one U+FFFD. Path arguments are borrowed unless said otherwise. Every
 * primitive returns an IO result except lean_io_get_tid. Any thread may call any of them.
 */
#ifndef QUARN_FS_H
#define QUARN_FS_H

#include "object.h"

QUARN_BEGIN_DECLS

/* File types in a metadata record. */
enum { QUARN_FILE_DIRECTORY = 0, QUARN_FILE_REGULAR = 1, QUARN_FILE_SYMLINK = 2, QUARN_FILE_OTHER = 3 };

/* ok(metadata): a tag-0 constructor with the last access and last modification times
 * (each a tag-0 constructor of the seconds as an Int and the 32-bit nanoseconds), then the
 * 64-bit byte size, the 64-bit number of links and the 8-bit file type. lean_io_metadata
 * follows symbolic links, lean_io_symlink_metadata does not. Errors keep the system's
 * number unfolded and name the path. Borrows path. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_io_metadata(quarn_object *path) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_symlink_metadata(quarn_object *path) QUARN_NOEXCEPT;

/* ok(array of entries) in the order the system returns them, without "." and "..": each a
 * tag-0 constructor of the very path object given and the entry's name. The array's
 * capacity equals its size. A failure while reading ends the listing with what was read.
 * Borrows path. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_io_read_dir(quarn_object *path) QUARN_NOEXCEPT;

/* mkdir with mode 0777 (before the umask), rmdir, unlink, chmod to `mode`: ok(unit) or the
 * error naming the path (unlink keeps the system's number unfolded). Borrows path. Return
 * an owned reference. */
QUARN_API quarn_object *quarn_lean_io_create_dir(quarn_object *path) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_remove_dir(quarn_object *path) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_remove_file(quarn_object *path) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_chmod(quarn_object *path, uint32_t mode) QUARN_NOEXCEPT;

/* rename(2), replacing an existing target: ok(unit) or the error naming "<from> and/or
 * <to>". Borrows from and to. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_io_rename(quarn_object *from, quarn_object *to) QUARN_NOEXCEPT;

/* A hard link `link` to `existing` (links not followed): ok(unit) or the error, unfolded,
 * naming `existing`. Borrows existing and link. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_io_hard_link(quarn_object *existing, quarn_object *link)
    QUARN_NOEXCEPT;

/* ok(canonical absolute path). Every failure, a path holding a zero byte included, is
 * no_file_or_directory(path, 2, ""). Consumes path. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_io_realpath(quarn_object *path) QUARN_NOEXCEPT;

/* A new temporary file (mode 0600, close-on-exec) or directory (mode 0700) named
 * "tmp.XXXXXXXX" under the first non-empty of TMPDIR, TMP, TEMP, TEMPDIR, else /tmp (one
 * trailing "/" dropped). The file gives ok((handle, path)), the handle readable and
 * writable; the directory ok(path). Errors keep the system's number unfolded; a missing
 * folder is no_file_or_directory naming the folder. Return an owned reference. */
QUARN_API quarn_object *quarn_lean_io_create_tempfile(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_create_tempdir(void) QUARN_NOEXCEPT;

/* ok(working directory), or the user error "failed to retrieve current working
 * directory". Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_io_current_dir(void) QUARN_NOEXCEPT;

/* ok(path of the running executable), or the user error "failed to locate application".
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_io_app_path(void) QUARN_NOEXCEPT;

/* ok(some value) of the variable; ok(none) when it is not set or the name is empty, holds
 * "=" or a zero byte. Borrows name. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_io_getenv(quarn_object *name) QUARN_NOEXCEPT;

/* ok(byte array of n bytes from /dev/urandom); n = 0 touches nothing. A count more than
 * the machine's memory and swap could hold is resource_exhausted(12), reported before
 * anything is allocated. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_io_get_random_bytes(uint64_t n) QUARN_NOEXCEPT;

/* ok(Nat): the monotonic clock in whole milliseconds / in nanoseconds. Return an owned
 * reference. */
QUARN_API quarn_object *quarn_lean_io_mono_ms_now(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_mono_nanos_now(void) QUARN_NOEXCEPT;

/* ok((seconds Int, nanoseconds Nat)) of the wall clock since the Unix epoch; before the
 * epoch the seconds round down and the nanoseconds stay in [0, 10^9). Returns an owned
 * reference. */
QUARN_API quarn_object *quarn_lean_get_current_time(void) QUARN_NOEXCEPT;

/* The calling thread's kernel id sign-extended from 32 bits: a plain value, not an IO
 * result, as it cannot fail. */
QUARN_API uint64_t quarn_lean_io_get_tid(void) QUARN_NOEXCEPT;

/* ok(Nat) of the calling thread's heartbeat counter; setting keeps the lowest 64 bits of
 * the Nat (consumed), the result's own allocation not counted. Return an owned reference. */
QUARN_API quarn_object *quarn_lean_io_get_num_heartbeats(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_set_heartbeats(quarn_object *count) QUARN_NOEXCEPT;

/* Runs the action (an IO closure, applied to the world) and returns its result unchanged.
 * timeit then prints "<message> <t>ms" (under a second) or "<message> <t>s", t with three
 * significant digits as %.3g writes it; allocprof prints the message, a line feed and
 * "Allocation profiling data is not available, compile lean using `-D RUNTIME_STATS=ON`"
 * and a line feed. Both print through the program's lean_io_eprintln. Consume message and
 * action. Return an owned reference. */
QUARN_API quarn_object *quarn_lean_io_timeit(quarn_object *message, quarn_object *action)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_io_allocprof(quarn_object *message, quarn_object *action)
    QUARN_NOEXCEPT;

/* Time zones are read this way on Windows only: invalid_argument(22, "timezone retrieval is
 * Windows-only") and invalid_argument(22, "failed to get timezone, its windows only.").
 * Borrows timezone_id. Return an owned reference. */
QUARN_API quarn_object *quarn_lean_get_windows_local_timezone_id_at(int64_t seconds) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_windows_get_next_transition(quarn_object *timezone_id,
                                                              int64_t seconds) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_FS_H */

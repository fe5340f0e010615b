/*
 * quarn/handle.h: file handles (IO.FS.Handle) and the standard streams.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * A handle is an external object over a file descriptor with the runtime's own buffering:
 * reads go through an 8192-byte read-ahead buffer; writes collect in an 8192-byte buffer
 * that is written out when it fills (full buffering, files and stdout when it is not a
 * terminal), at every line feed (line buffering, stdout on a terminal), or not at all (no
 * buffering, stderr). Whatever is still buffered is written when the last reference to the
 * handle goes, and for every open handle when the process ends through quarn_run_main,
 * lean_io_exit or the internal panic (lean_io_force_exit writes nothing).
 *
 * Every handle primitive takes the handle borrowed and ends the process with the internal
 * panic "expected an IO.FS.Handle object" when given anything else. Fallible primitives
 * return an IO result (quarn/io.h); operating-system failures become IO.Error values
 * through the program's constructors, with the file name only when opening. Each handle
 * has its own lock, held for the whole of every primitive: any thread may use a handle,
 * and operations on one handle happen one after the other.
 *
 * The standard streams are the program's own IO.FS.Stream values, made once from the
 * stdin, stdout and stderr handles by the program's export lean_stream_of_handle and kept
 * persistent. A thread may replace its own streams; other threads keep the defaults.
 */
#ifndef QUARN_HANDLE_H
#define QUARN_HANDLE_H

#include "object.h"

QUARN_BEGIN_DECLS

/* IO.FS.Mode, the way a file is opened. */
enum {
    QUARN_MODE_READ = 0,       /* read; the file must exist */
    QUARN_MODE_WRITE = 1,      /* write; created, or emptied when it exists */
    QUARN_MODE_WRITE_NEW = 2,  /* write; created, failing when it exists */
    QUARN_MODE_READ_WRITE = 3, /* read and write; the file must exist */
    QUARN_MODE_APPEND = 4      /* write at the end; created when missing */
};

/* Opens the file (new files get permission bits 0666 less the umask). Returns ok(handle)
 * or an error naming the file; a name holding a NUL byte is invalid_argument_file(name,
 * 22, "string contains NUL bytes"). A mode above 4 ends the process with "invalid
 * IO.FS.Mode " and the number. Consumes file_name. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_mk(quarn_object *file_name, uint8_t mode)
    QUARN_NOEXCEPT;

/* Reads up to `count` bytes, fewer only at end of file: ok(byte array), empty at end of
 * file. Memory grows with what is read, not with the count asked for; a count of
 * 0x7FFFFFFFFFFFFFC0 or more is resource_exhausted(12, "not enough memory"). A handle not
 * opened for reading gives invalid_argument(9, "bad file descriptor"). Borrows handle.
 * Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_read(quarn_object *handle, size_t count)
    QUARN_NOEXCEPT;

/* Writes the bytes of a byte array: ok(unit) or an error. Borrows handle. Consumes bytes.
 * Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_write(quarn_object *handle, quarn_object *bytes)
    QUARN_NOEXCEPT;

/* Writes the bytes of a string (without its terminating zero): ok(unit) or an error.
 * Borrows handle. Consumes text. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_put_str(quarn_object *handle, quarn_object *text)
    QUARN_NOEXCEPT;

/* Reads up to and including the next line feed, or to the end of the file: ok(string),
 * the empty string at end of file. Bytes that are not UTF-8 become U+FFFD. Borrows handle.
 * Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_get_line(quarn_object *handle) QUARN_NOEXCEPT;

/* Writes out the buffered bytes: ok(unit) or an error. Borrows handle. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_flush(quarn_object *handle) QUARN_NOEXCEPT;

/* Flushes, forgets the bytes read ahead and goes back to the start of the file. Borrows
 * handle. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_rewind(quarn_object *handle) QUARN_NOEXCEPT;

/* Flushes and cuts the file at the current position. Borrows handle. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_truncate(quarn_object *handle) QUARN_NOEXCEPT;

/* Takes the file lock (flock), exclusive when `exclusive` is 1, shared otherwise, waiting
 * until it is granted: ok(unit) or an error. Borrows handle. Returns an owned reference.
 * Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_lock(quarn_object *handle, uint8_t exclusive)
    QUARN_NOEXCEPT;

/* Takes the file lock if no one else holds it: ok(true), ok(false) when it is held
 * elsewhere, or an error. Borrows handle. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_try_lock(quarn_object *handle, uint8_t exclusive)
    QUARN_NOEXCEPT;

/* Gives the file lock back: ok(unit) or an error. Borrows handle. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_io_prim_handle_unlock(quarn_object *handle) QUARN_NOEXCEPT;

/* 1 when the handle's descriptor is a terminal, else 0. Borrows handle. Any thread. */
QUARN_API uint8_t quarn_lean_io_prim_handle_is_tty(quarn_object *handle) QUARN_NOEXCEPT;

/* The calling thread's standard stream: the one it set, else the process default (made on
 * first use). Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_get_stdin(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_get_stdout(void) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_get_stderr(void) QUARN_NOEXCEPT;

/* Makes `stream` the calling thread's standard stream and returns the one the thread saw
 * before (what it set, or the default). Only the calling thread sees the change; a stream
 * still set when its thread ends is never released. Consumes stream. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_get_set_stdin(quarn_object *stream) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_get_set_stdout(quarn_object *stream) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_get_set_stderr(quarn_object *stream) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_HANDLE_H */

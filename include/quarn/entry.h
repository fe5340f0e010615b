/*
 * quarn/entry.h: what the compiler's generated host entry points and host externs call.
 *
 * An entry point (quarn_entry_point in quarn/host.h) receives an argument block: the u32
 * count of type arguments and their type expressions, then each argument's wire bytes. It
 * reads the arguments with a call object, runs the Lean function and writes the result
 * block:
 *
 *     quarn_call *call = quarn_call_begin(table, block, length);
 *     quarn_object *a = quarn_call_read(call, NAT, sizeof NAT);
 *     quarn_object *b = quarn_call_read(call, NAT, sizeof NAT);
 *     if (quarn_call_complete(call)) quarn_call_write(call, add(a, b), NAT, sizeof NAT);
 *     else { quarn_dec(a); quarn_dec(b); }
 *     return quarn_call_end(call, output);
 *
 * A Lean extern that the host implements is compiled to a host call: begin, one write per
 * argument, and the finish that matches the extern's result (pure, IO or EIO).
 *
 * Types are given as the bytes of a type expression (the type table's encoding), checked
 * against the program's table: an invalid one is fatal ("a generated type expression is
 * invalid: ..."). Compiles as C11 and as C++.
 */
#ifndef QUARN_ENTRY_H
#define QUARN_ENTRY_H

#include "host.h"
#include "object.h"

QUARN_BEGIN_DECLS

/* ---- Entry-point calls -------------------------------------------------------------- */

/* One run of a generated entry point. Belongs to the thread that runs the entry point. */
typedef struct quarn_call quarn_call;

/* Starts a call: copies the argument block and reads its type arguments (a failure is
 * recorded as the call's error). A null table is fatal: "a quarn type table is a null
 * pointer". Borrows `table` and `block`. Returns a new call, freed by quarn_call_end. */
QUARN_API quarn_call *quarn_call_begin(const quarn_types *table, const uint8_t *block,
                                       size_t length) QUARN_NOEXCEPT;

/* Reads the next argument, of the type expression `type_bytes` instantiated with the call's
 * type arguments. Handles in the block stay live: the object is a new reference. After an
 * error (this read's or an earlier one, the first being kept) returns the scalar 0, so that
 * the code can go on to quarn_call_complete. Returns an owned reference. */
QUARN_API quarn_object *quarn_call_read(quarn_call *call, const uint8_t *type_bytes,
                                        size_t type_length) QUARN_NOEXCEPT;

/* 1 when every argument was read without error and no byte is left, else 0 (leftover bytes
 * record "{} unexpected bytes after the arguments"). */
QUARN_API int quarn_call_complete(quarn_call *call) QUARN_NOEXCEPT;

/* Writes a pure result: `object` as a value of the type. Consumes `object`. */
QUARN_API void quarn_call_write(quarn_call *call, quarn_object *object, const uint8_t *type_bytes,
                                size_t type_length) QUARN_NOEXCEPT;

/* Writes an IO result block from the IO result `io_result`: u8 0 and the value of the type,
 * or u8 1, the handle of the registered IO.Error and its text (the program's
 * lean_io_error_to_string). Consumes `io_result`. */
QUARN_API void quarn_call_write_io(quarn_call *call, quarn_object *io_result,
                                   const uint8_t *type_bytes, size_t type_length) QUARN_NOEXCEPT;

/* Writes an EIO result block from `result`, shaped like an IO result: tag 0 holds the value
 * (u8 0 and the value type), any other tag the error (u8 1 and the error type). Consumes
 * `result`. */
QUARN_API void quarn_call_write_eio(quarn_call *call, quarn_object *result,
                                    const uint8_t *error_type_bytes, size_t error_type_length,
                                    const uint8_t *value_type_bytes, size_t value_type_length)
    QUARN_NOEXCEPT;

/* Writes the first step of the async program `program` (tag 0: done, field 0 the result;
 * tag 1: an operation, field 0 the operation and field 1 the continuation that takes the
 * answer), for a function whose result description (the signature's result part) is
 * `description`. An operation registers a new resumption. Consumes `program`. */
QUARN_API void quarn_call_write_async(quarn_call *call, quarn_object *program,
                                      const uint8_t *description, size_t description_length)
    QUARN_NOEXCEPT;

/* Ends the call and frees it: without an error moves the written bytes into the empty buffer
 * `output` and returns 0; with one moves its message there and returns 1. Takes over `call`. */
QUARN_API int quarn_call_end(quarn_call *call, quarn_buffer *output) QUARN_NOEXCEPT;

/* ---- Host calls --------------------------------------------------------------------- */

/* One call of a Lean extern implemented by the host. Belongs to the calling thread. */
typedef struct quarn_hostcall quarn_hostcall;

/* Starts a host call of host function `host_function` for the extern named `extern_name`
 * (used in messages; copied). A null table is fatal: "a quarn type table is a null pointer".
 * Borrows `table` and `extern_name`. Returns a new host call, freed by its finish. */
QUARN_API quarn_hostcall *quarn_hostcall_begin(const quarn_types *table, uint64_t host_function,
                                               const char *extern_name) QUARN_NOEXCEPT;

/* Appends one argument: `object` as a value of the type. Borrows `object`. */
QUARN_API void quarn_hostcall_write(quarn_hostcall *hostcall, quarn_object *object,
                                    const uint8_t *type_bytes, size_t type_length) QUARN_NOEXCEPT;

/* Calls the host and returns its result, a value of the type, for a pure extern. A failure
 * of the host, or a result that cannot be read, is fatal: "the host implementation of Lean
 * extern '<name>' failed: ..." / "... returned malformed data: ...". Takes over `hostcall`.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_hostcall_finish(quarn_hostcall *hostcall, const uint8_t *type_bytes,
                                              size_t type_length) QUARN_NOEXCEPT;

/* The same for an IO extern: returns an IO result holding the value or the IO.Error (the
 * host's registered error object, or a user error made from its message). */
QUARN_API quarn_object *quarn_hostcall_finish_io(quarn_hostcall *hostcall,
                                                 const uint8_t *type_bytes, size_t type_length)
    QUARN_NOEXCEPT;

/* The same for an EIO extern: returns a result shaped like an IO result, tag 0 holding the
 * value, tag 1 the error value. */
QUARN_API quarn_object *quarn_hostcall_finish_eio(quarn_hostcall *hostcall,
                                                  const uint8_t *error_type_bytes,
                                                  size_t error_type_length,
                                                  const uint8_t *value_type_bytes,
                                                  size_t value_type_length) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_ENTRY_H */

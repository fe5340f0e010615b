/*
 * quarn/io.h: the exports a compiled program hands to the runtime, and IO results.
 *
 * A primitive whose Lean type is IO a returns an IO result: ok is a constructor of tag 0
 * and error one of tag 1, each with one object field (the value, or the IO.Error).
 * Compiles as C11 and as C++.
 */
#ifndef QUARN_IO_H
#define QUARN_IO_H

#include "object.h"

QUARN_BEGIN_DECLS

/*
 * Registers one of the program's exports by its name (lean_io_error_to_string,
 * lean_io_eprintln, lean_mk_io_error_no_file_or_directory, ...): the runtime calls it
 * whenever it must build such a value. A later registration of a name replaces the earlier
 * one. A name the runtime does not call, a null name or one that is not UTF-8 ends the
 * process. Borrows name. Returns the address of the table of slots. Call it at start-up,
 * before any primitive runs; the table is not locked.
 */
QUARN_API void **quarn_register_export(const char *name, void *function) QUARN_NOEXCEPT;

static inline int quarn_io_result_is_ok(const quarn_object *r) { return quarn_ptr_tag(r) == 0; }

/* The value of an ok result or the error of an error result. Returns a reference borrowed
 * from r. */
static inline quarn_object *quarn_io_result_get(const quarn_object *r) { return quarn_ctor_get(r, 0); }

QUARN_END_DECLS

#endif /* QUARN_IO_H */

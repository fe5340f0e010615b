/*
 * The test kit: a stand-in for the compiled Lean program that the runtime calls back into,
 * and helpers that build values the way compiled code does. C and C++.
 */
#ifndef QUARN_TEST_KIT_H
#define QUARN_TEST_KIT_H

#include <stddef.h>
#include <stdint.h>

#include "quarn/object.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- values -------------------------------------------------------------------------- */

/* A new string holding the UTF-8 text (code points counted). Returns an owned reference. */
quarn_object *kit_string(const char *text);

/* The text of a string object. Borrows s. */
const char *kit_cstr(const quarn_object *s);

/* A cons cell (tag 1, head then tail). Consumes head and tail. */
quarn_object *kit_cons(quarn_object *head, quarn_object *tail);

/* The list of n values, in order. Consumes every item. */
quarn_object *kit_list(size_t n, quarn_object *const *items);

/* The number of cells of a list. Borrows list. */
size_t kit_list_length(const quarn_object *list);

/* Option: none is the scalar 0, some v a tag-1 constructor with one field. Consumes v. */
quarn_object *kit_some(quarn_object *v);

/* Names: a string or numeric component on top of a prefix, with its hash filled in.
 * Consumes prefix. */
quarn_object *kit_name_str(quarn_object *prefix, const char *component);
quarn_object *kit_name_num(quarn_object *prefix, size_t component);

/* ---- the compiled program's exports -------------------------------------------------- */

/*
 * IO.Error as this kit represents it: a constructor whose tag is the call-back slot of the
 * export that made it (3 for a user error), with three object fields: the file name (the
 * scalar 0 when there is none), the error number as a scalar, and the details string.
 */
enum {
    KIT_USER_ERROR = 3,
    KIT_ALREADY_EXISTS = 5,
    KIT_ALREADY_EXISTS_FILE = 6,
    KIT_HARDWARE_FAULT = 7,
    KIT_ILLEGAL_OPERATION = 8,
    KIT_INAPPROPRIATE_TYPE = 9,
    KIT_INAPPROPRIATE_TYPE_FILE = 10,
    KIT_INTERRUPTED = 11,
    KIT_INVALID_ARGUMENT = 12,
    KIT_INVALID_ARGUMENT_FILE = 13,
    KIT_NO_FILE_OR_DIRECTORY = 14,
    KIT_NO_SUCH_THING = 15,
    KIT_NO_SUCH_THING_FILE = 16,
    KIT_OTHER_ERROR = 17,
    KIT_PERMISSION_DENIED = 18,
    KIT_PERMISSION_DENIED_FILE = 19,
    KIT_PROTOCOL_ERROR = 20,
    KIT_RESOURCE_BUSY = 21,
    KIT_RESOURCE_EXHAUSTED = 22,
    KIT_RESOURCE_EXHAUSTED_FILE = 23,
    KIT_RESOURCE_VANISHED = 24,
    KIT_TIME_EXPIRED = 25,
    KIT_UNSATISFIED_CONSTRAINTS = 26,
    KIT_UNSUPPORTED_OPERATION = 27
};

/* Readers of a kit IO.Error. Borrow the error. */
unsigned kit_error_kind(const quarn_object *error);
const char *kit_error_file(const quarn_object *error); /* NULL when there is none */
uint32_t kit_error_number(const quarn_object *error);
const char *kit_error_details(const quarn_object *error);

/* One of the program's exports: its name and its code. */
typedef struct {
    const char *name;
    void *function;
} kit_export;

/* The 28 exports in call-back order. */
extern const kit_export kit_exports[28];

/* Registers the 28 exports with the runtime, as a compiled program does at start-up. */
void kit_register_exports(void);

/* ---- streams: IO.FS.Stream as the program builds it ---------------------------------- */

/*
 * A stream is a tag-0 constructor of six closures: flush, read, write, getLine, putStr,
 * isTty. The program's lean_stream_of_handle closes each over the handle; its
 * lean_io_eprintln writes through the thread's standard error stream.
 */

/* The stream's actions. Borrow the stream; consume the other arguments; return the IO
 * result (owned). */
quarn_object *kit_stream_flush(quarn_object *stream);
quarn_object *kit_stream_read(quarn_object *stream, size_t count);
quarn_object *kit_stream_write(quarn_object *stream, quarn_object *bytes);
quarn_object *kit_stream_get_line(quarn_object *stream);
quarn_object *kit_stream_put_str(quarn_object *stream, quarn_object *text);

/* IO.print: the text through the calling thread's standard output stream. Returns the IO
 * result (owned). */
quarn_object *kit_print(const char *text);

/* A stream that collects what is written to it in a string held by a reference cell,
 * returned in *cell (owned; read it with quarn_lean_st_ref_get). Returns the stream (owned). */
quarn_object *kit_buffer_stream(quarn_object **cell);

/* Counts of calls to lean_io_eprintln since the start of the process. */
size_t kit_eprintln_calls(void);

/* ---- sharing common subterms: the state factory -------------------------------------- */

/*
 * A state factory (fields 1 to 4: map-find, map-insert, set-find, set-insert) over hash
 * tables built as Lean values: the map keyed by identity, the set by the runtime's shallow
 * equality and hash. The forgetful factory's map-insert drops what it is given.
 */
quarn_object *kit_share_factory(void);
quarn_object *kit_share_forgetful_factory(void);

/* An empty state: the pair (map, set). Returns an owned reference. */
quarn_object *kit_share_state(void);

/* The number of entries of a map or set of the state. Borrows table. */
size_t kit_share_table_size(const quarn_object *table);

/* Calls of the factory's closures since the start of the process. */
typedef struct {
    size_t map_find, map_insert, set_find, set_insert;
} kit_share_calls;
kit_share_calls kit_share_call_counts(void);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_TEST_KIT_H */

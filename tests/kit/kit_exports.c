/*
 * The 28 functions a compiled program exports to the runtime, as this kit implements
 * them. Every argument arrives owned.
 */
#include <stdio.h>
#include <string.h>

#include "kit.h"
#include "quarn/array.h"
#include "quarn/closure.h"
#include "quarn/handle.h"
#include "quarn/io.h"
#include "quarn/string.h"

static quarn_object *io_ok(quarn_object *value) {
    quarn_object *r = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(r, 0, value);
    return r;
}

static quarn_object *make_error(unsigned kind, quarn_object *file, uint32_t number,
                                quarn_object *details) {
    quarn_object *e = quarn_alloc_ctor(kind, 3, 0);
    quarn_ctor_set(e, 0, file);
    quarn_ctor_set(e, 1, quarn_box(number));
    quarn_ctor_set(e, 2, details);
    return e;
}

unsigned kit_error_kind(const quarn_object *error) { return quarn_ptr_tag(error); }

const char *kit_error_file(const quarn_object *error) {
    const quarn_object *file = quarn_ctor_get(error, 0);
    return quarn_is_scalar(file) ? NULL : kit_cstr(file);
}

uint32_t kit_error_number(const quarn_object *error) {
    return (uint32_t)quarn_unbox(quarn_ctor_get(error, 1));
}

const char *kit_error_details(const quarn_object *error) {
    return kit_cstr(quarn_ctor_get(error, 2));
}

/* "details (error code: N)" or "details (error code: N, file: F)"; a user error is its
 * message. */
static quarn_object *io_error_to_string(quarn_object *error) {
    char text[4096];
    if (kit_error_kind(error) == KIT_USER_ERROR) {
        snprintf(text, sizeof text, "%s", kit_error_details(error));
    } else if (kit_error_file(error) != NULL) {
        snprintf(text, sizeof text, "%s (error code: %u, file: %s)", kit_error_details(error),
                 kit_error_number(error), kit_error_file(error));
    } else {
        snprintf(text, sizeof text, "%s (error code: %u)", kit_error_details(error),
                 kit_error_number(error));
    }
    quarn_dec(error);
    return kit_string(text);
}

/* ---- streams --------------------------------------------------------------------------
 *
 * IO.FS.Stream as a compiled program builds it: a tag-0 constructor of six closures, in
 * the order flush, read, write, getLine, putStr, isTty. An IO action is a closure waiting
 * for one more argument, the scalar 0, that runs it; isTty returns its Bool directly. The
 * stream of a handle closes over the handle, so it keeps the handle alive.
 */

static quarn_object *handle_flush(quarn_object *h, quarn_object *run) {
    (void)run;
    quarn_object *r = quarn_lean_io_prim_handle_flush(h);
    quarn_dec(h);
    return r;
}

static quarn_object *handle_read(quarn_object *h, quarn_object *count) {
    quarn_object *r = quarn_lean_io_prim_handle_read(h, quarn_unbox_usize(count));
    quarn_dec(count);
    quarn_dec(h);
    return r;
}

static quarn_object *handle_write(quarn_object *h, quarn_object *bytes) {
    quarn_object *r = quarn_lean_io_prim_handle_write(h, bytes);
    quarn_dec(h);
    return r;
}

static quarn_object *handle_get_line(quarn_object *h, quarn_object *run) {
    (void)run;
    quarn_object *r = quarn_lean_io_prim_handle_get_line(h);
    quarn_dec(h);
    return r;
}

static quarn_object *handle_put_str(quarn_object *h, quarn_object *text) {
    quarn_object *r = quarn_lean_io_prim_handle_put_str(h, text);
    quarn_dec(h);
    return r;
}

static quarn_object *handle_is_tty(quarn_object *h, quarn_object *run) {
    (void)run;
    uint8_t tty = quarn_lean_io_prim_handle_is_tty(h);
    quarn_dec(h);
    return quarn_box(tty);
}

/* The six closures over one captured value (consumed). */
static quarn_object *make_stream(quarn_object *captured, void *const code[6]) {
    quarn_object *stream = quarn_alloc_ctor(0, 6, 0);
    quarn_inc_n(captured, 5);
    for (unsigned i = 0; i < 6; ++i) {
        quarn_object *action = quarn_alloc_closure(code[i], 2, 1);
        quarn_closure_set(action, 0, captured);
        quarn_ctor_set(stream, i, action);
    }
    return stream;
}

static quarn_object *stream_of_handle(quarn_object *handle) {
    static void *const code[6] = {(void *)handle_flush,    (void *)handle_read,
                                  (void *)handle_write,    (void *)handle_get_line,
                                  (void *)handle_put_str,  (void *)handle_is_tty};
    return make_stream(handle, code);
}

/* The stream of IO.FS.Stream.ofBuffer, reduced to output: a reference cell holding the text
 * written so far. Reading finds nothing. */
static quarn_object *buffer_append(quarn_object *cell, quarn_object *text) {
    quarn_object *so_far = quarn_lean_st_ref_take(cell);
    so_far = quarn_lean_string_append(so_far, text);
    quarn_dec(text);
    quarn_dec(quarn_lean_st_ref_set(cell, so_far));
    quarn_dec(cell);
    return io_ok(quarn_box(0));
}

static quarn_object *buffer_write(quarn_object *cell, quarn_object *bytes) {
    const quarn_sarray_object *a = (const quarn_sarray_object *)bytes;
    quarn_object *text = quarn_mk_string_unchecked((const char *)a->data, a->size, a->size);
    quarn_dec(bytes);
    return buffer_append(cell, text);
}

static quarn_object *buffer_nothing(quarn_object *cell, quarn_object *run) {
    (void)run;
    quarn_dec(cell);
    return io_ok(quarn_box(0));
}

static quarn_object *buffer_read(quarn_object *cell, quarn_object *count) {
    quarn_dec(count);
    quarn_dec(cell);
    return io_ok(quarn_lean_mk_empty_byte_array(quarn_box(0)));
}

static quarn_object *buffer_get_line(quarn_object *cell, quarn_object *run) {
    (void)run;
    quarn_dec(cell);
    return io_ok(kit_string(""));
}

static quarn_object *buffer_is_tty(quarn_object *cell, quarn_object *run) {
    (void)run;
    quarn_dec(cell);
    return quarn_box(0);
}

quarn_object *kit_buffer_stream(quarn_object **cell) {
    static void *const code[6] = {(void *)buffer_nothing,  (void *)buffer_read,
                                  (void *)buffer_write,    (void *)buffer_get_line,
                                  (void *)buffer_append,   (void *)buffer_is_tty};
    *cell = quarn_lean_st_mk_ref(kit_string(""));
    quarn_inc(*cell);
    return make_stream(*cell, code);
}

static quarn_object *stream_action(quarn_object *stream, unsigned field, quarn_object *argument) {
    quarn_object *action = quarn_ctor_get(stream, field);
    quarn_inc(action);
    return quarn_apply_1(action, argument);
}

quarn_object *kit_stream_flush(quarn_object *stream) { return stream_action(stream, 0, quarn_box(0)); }

quarn_object *kit_stream_read(quarn_object *stream, size_t count) {
    return stream_action(stream, 1, quarn_box_usize(count));
}

quarn_object *kit_stream_write(quarn_object *stream, quarn_object *bytes) {
    return stream_action(stream, 2, bytes);
}

quarn_object *kit_stream_get_line(quarn_object *stream) { return stream_action(stream, 3, quarn_box(0)); }

quarn_object *kit_stream_put_str(quarn_object *stream, quarn_object *text) {
    return stream_action(stream, 4, text);
}

quarn_object *kit_print(const char *text) {
    quarn_object *out = quarn_lean_get_stdout();
    quarn_object *r = kit_stream_put_str(out, kit_string(text));
    quarn_dec(out);
    return r;
}

static size_t eprintln_calls;

size_t kit_eprintln_calls(void) { return eprintln_calls; }

/* IO.eprintln: the text and a line feed through the thread's standard error stream. */
static quarn_object *io_eprintln(quarn_object *text) {
    quarn_object *line_feed = kit_string("\n");
    quarn_object *line = quarn_lean_string_append(text, line_feed);
    quarn_dec(line_feed);
    quarn_object *err = quarn_lean_get_stderr();
    quarn_object *r = kit_stream_put_str(err, line);
    quarn_dec(err);
    __atomic_fetch_add(&eprintln_calls, 1, __ATOMIC_RELAXED);
    return r;
}

static quarn_object *mk_user_error(quarn_object *message) {
    return make_error(KIT_USER_ERROR, quarn_box(0), 0, message);
}

/* EOF carries no number and no file. */
static quarn_object *mk_eof(quarn_object *unit) {
    quarn_dec(unit);
    return make_error(4, quarn_box(0), 0, kit_string("end of file"));
}

#define KIT_ERROR(kind, name)                                                      \
    static quarn_object *name(uint32_t number, quarn_object *details) {           \
        return make_error(kind, quarn_box(0), number, details);                   \
    }
#define KIT_FILE_ERROR(kind, name)                                                         \
    static quarn_object *name(quarn_object *file, uint32_t number, quarn_object *details) { \
        return make_error(kind, file, number, details);                                   \
    }

KIT_ERROR(KIT_ALREADY_EXISTS, already_exists)
KIT_FILE_ERROR(KIT_ALREADY_EXISTS_FILE, already_exists_file)
KIT_ERROR(KIT_HARDWARE_FAULT, hardware_fault)
KIT_ERROR(KIT_ILLEGAL_OPERATION, illegal_operation)
KIT_ERROR(KIT_INAPPROPRIATE_TYPE, inappropriate_type)
KIT_FILE_ERROR(KIT_INAPPROPRIATE_TYPE_FILE, inappropriate_type_file)
KIT_FILE_ERROR(KIT_INTERRUPTED, interrupted)
KIT_ERROR(KIT_INVALID_ARGUMENT, invalid_argument)
KIT_FILE_ERROR(KIT_INVALID_ARGUMENT_FILE, invalid_argument_file)
KIT_FILE_ERROR(KIT_NO_FILE_OR_DIRECTORY, no_file_or_directory)
KIT_ERROR(KIT_NO_SUCH_THING, no_such_thing)
KIT_FILE_ERROR(KIT_NO_SUCH_THING_FILE, no_such_thing_file)
KIT_ERROR(KIT_OTHER_ERROR, other_error)
KIT_ERROR(KIT_PERMISSION_DENIED, permission_denied)
KIT_FILE_ERROR(KIT_PERMISSION_DENIED_FILE, permission_denied_file)
KIT_ERROR(KIT_PROTOCOL_ERROR, protocol_error)
KIT_ERROR(KIT_RESOURCE_BUSY, resource_busy)
KIT_ERROR(KIT_RESOURCE_EXHAUSTED, resource_exhausted)
KIT_FILE_ERROR(KIT_RESOURCE_EXHAUSTED_FILE, resource_exhausted_file)
KIT_ERROR(KIT_RESOURCE_VANISHED, resource_vanished)
KIT_ERROR(KIT_TIME_EXPIRED, time_expired)
KIT_ERROR(KIT_UNSATISFIED_CONSTRAINTS, unsatisfied_constraints)
KIT_ERROR(KIT_UNSUPPORTED_OPERATION, unsupported_operation)

const kit_export kit_exports[28] = {
    {"lean_io_error_to_string", (void *)io_error_to_string},
    {"lean_stream_of_handle", (void *)stream_of_handle},
    {"lean_io_eprintln", (void *)io_eprintln},
    {"lean_mk_io_user_error", (void *)mk_user_error},
    {"lean_mk_io_error_eof", (void *)mk_eof},
    {"lean_mk_io_error_already_exists", (void *)already_exists},
    {"lean_mk_io_error_already_exists_file", (void *)already_exists_file},
    {"lean_mk_io_error_hardware_fault", (void *)hardware_fault},
    {"lean_mk_io_error_illegal_operation", (void *)illegal_operation},
    {"lean_mk_io_error_inappropriate_type", (void *)inappropriate_type},
    {"lean_mk_io_error_inappropriate_type_file", (void *)inappropriate_type_file},
    {"lean_mk_io_error_interrupted", (void *)interrupted},
    {"lean_mk_io_error_invalid_argument", (void *)invalid_argument},
    {"lean_mk_io_error_invalid_argument_file", (void *)invalid_argument_file},
    {"lean_mk_io_error_no_file_or_directory", (void *)no_file_or_directory},
    {"lean_mk_io_error_no_such_thing", (void *)no_such_thing},
    {"lean_mk_io_error_no_such_thing_file", (void *)no_such_thing_file},
    {"lean_mk_io_error_other_error", (void *)other_error},
    {"lean_mk_io_error_permission_denied", (void *)permission_denied},
    {"lean_mk_io_error_permission_denied_file", (void *)permission_denied_file},
    {"lean_mk_io_error_protocol_error", (void *)protocol_error},
    {"lean_mk_io_error_resource_busy", (void *)resource_busy},
    {"lean_mk_io_error_resource_exhausted", (void *)resource_exhausted},
    {"lean_mk_io_error_resource_exhausted_file", (void *)resource_exhausted_file},
    {"lean_mk_io_error_resource_vanished", (void *)resource_vanished},
    {"lean_mk_io_error_time_expired", (void *)time_expired},
    {"lean_mk_io_error_unsatisfied_constraints", (void *)unsatisfied_constraints},
    {"lean_mk_io_error_unsupported_operation", (void *)unsupported_operation},
};

void kit_register_exports(void) {
    for (size_t i = 0; i < 28; ++i) quarn_register_export(kit_exports[i].name, kit_exports[i].function);
}

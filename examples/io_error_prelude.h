/*
 * The IO.Error of the examples that read files, spawn children and list folders: a
 * constructor holding the file name (or the scalar 0), the error number and the details,
 * printed as "details" or "file: details". prelude_register_io_errors registers the
 * constructors, the text of an error and lean_stream_of_handle with the runtime, as a
 * compiled program does.
 */
#ifndef EXAMPLES_IO_ERROR_PRELUDE_H
#define EXAMPLES_IO_ERROR_PRELUDE_H

#include <quarn/quarn.h>

#include "stream_prelude.h"

static inline quarn_object *prelude_make_error(quarn_object *file, uint32_t number,
                                               quarn_object *details) {
    quarn_object *e = quarn_alloc_ctor(0, 3, 0);
    quarn_ctor_set(e, 0, file);
    quarn_ctor_set(e, 1, quarn_box(number));
    quarn_ctor_set(e, 2, details);
    return e;
}
static inline quarn_object *prelude_error_without_file(uint32_t number, quarn_object *details) {
    return prelude_make_error(quarn_box(0), number, details);
}
static inline quarn_object *prelude_user_error(quarn_object *message) {
    return prelude_make_error(quarn_box(0), 0, message);
}
static inline quarn_object *prelude_io_error_to_string(quarn_object *error) {
    quarn_object *file = quarn_ctor_get(error, 0);
    quarn_object *details = quarn_ctor_get(error, 2);
    quarn_object *text;
    quarn_inc(details);
    if (quarn_is_scalar(file)) {
        text = details;
    } else {
        quarn_object *colon = quarn_mk_string_unchecked(": ", 2, 2);
        quarn_inc(file);
        text = quarn_lean_string_append(quarn_lean_string_append(file, colon), details);
        quarn_dec(colon);
        quarn_dec(details);
    }
    quarn_dec(error);
    return text;
}

static inline void prelude_register_io_errors(void) {
    static const char *const with_file[] = {
        "lean_mk_io_error_already_exists_file", "lean_mk_io_error_inappropriate_type_file",
        "lean_mk_io_error_interrupted", "lean_mk_io_error_invalid_argument_file",
        "lean_mk_io_error_no_file_or_directory", "lean_mk_io_error_no_such_thing_file",
        "lean_mk_io_error_permission_denied_file", "lean_mk_io_error_resource_exhausted_file"};
    static const char *const without_file[] = {
        "lean_mk_io_error_already_exists", "lean_mk_io_error_hardware_fault",
        "lean_mk_io_error_illegal_operation", "lean_mk_io_error_inappropriate_type",
        "lean_mk_io_error_invalid_argument", "lean_mk_io_error_no_such_thing",
        "lean_mk_io_error_other_error", "lean_mk_io_error_permission_denied",
        "lean_mk_io_error_protocol_error", "lean_mk_io_error_resource_busy",
        "lean_mk_io_error_resource_exhausted", "lean_mk_io_error_resource_vanished",
        "lean_mk_io_error_time_expired", "lean_mk_io_error_unsatisfied_constraints",
        "lean_mk_io_error_unsupported_operation"};
    for (size_t i = 0; i < sizeof with_file / sizeof *with_file; ++i)
        quarn_register_export(with_file[i], (void *)prelude_make_error);
    for (size_t i = 0; i < sizeof without_file / sizeof *without_file; ++i)
        quarn_register_export(without_file[i], (void *)prelude_error_without_file);
    quarn_register_export("lean_mk_io_user_error", (void *)prelude_user_error);
    quarn_register_export("lean_io_error_to_string", (void *)prelude_io_error_to_string);
    quarn_register_export("lean_stream_of_handle", (void *)prelude_stream_of_handle);
}

/* The value of an ok result, or null with *error set to the result (an error). Consumes r. */
static inline quarn_object *prelude_take(quarn_object *r, quarn_object **error) {
    if (!quarn_io_result_is_ok(r)) {
        *error = r;
        return NULL;
    }
    quarn_object *v = quarn_io_result_get(r);
    quarn_inc(v);
    quarn_dec(r);
    return v;
}

/* IO.print of a C text. */
static inline quarn_object *prelude_print_text(const char *text) {
    return prelude_print(quarn_mk_string_unchecked(text, strlen(text), strlen(text)));
}

#endif /* EXAMPLES_IO_ERROR_PRELUDE_H */

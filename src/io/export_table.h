// The call-back table: the functions the compiled program exports to the runtime, so that
// the runtime can build values only the program can build (IO errors, streams) and print
// through the program's own standard error.
#pragma once

#include <cstdint>

#include "quarn/object.h"

namespace quarn::io {

// The slots of the table, in their fixed order.
enum class Export : unsigned {
    io_error_to_string,
    stream_of_handle,
    io_eprintln,
    mk_io_user_error,
    mk_io_error_eof,
    already_exists,
    already_exists_file,
    hardware_fault,
    illegal_operation,
    inappropriate_type,
    inappropriate_type_file,
    interrupted,
    invalid_argument,
    invalid_argument_file,
    no_file_or_directory,
    no_such_thing,
    no_such_thing_file,
    other_error,
    permission_denied,
    permission_denied_file,
    protocol_error,
    resource_busy,
    resource_exhausted,
    resource_exhausted_file,
    resource_vanished,
    time_expired,
    unsatisfied_constraints,
    unsupported_operation,
};

inline constexpr unsigned kExportCount = 28;

// The parameters an export takes: one object; an error number and the details; or a file
// name, an error number and the details.
enum class ExportShape : uint8_t { object, number_details, file_number_details };

struct ExportInfo {
    const char *name;
    ExportShape shape;
};

const ExportInfo &export_info(Export slot) noexcept;

// Calls an export of the given shape. Every argument is handed over owned; the result is
// owned. A slot the program has not filled ends the process with the missing-export panic.
quarn_object *call_export(Export slot, quarn_object *argument) noexcept;
quarn_object *call_export(Export slot, uint32_t number, quarn_object *details) noexcept;
quarn_object *call_export(Export slot, quarn_object *file, uint32_t number,
                          quarn_object *details) noexcept;

}  // namespace quarn::io

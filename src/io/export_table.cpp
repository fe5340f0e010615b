#include "io/export_table.h"

#include <cassert>
#include <string>
#include <string_view>

#include "core/lean_panic.h"
#include "core/panic.h"
#include "io/lean_print.h"
#include "quarn/io.h"
#include "string/c_text.h"

namespace quarn::io {

namespace {

using enum ExportShape;

constexpr ExportInfo kExports[kExportCount] = {
    {"lean_io_error_to_string", object},
    {"lean_stream_of_handle", object},
    {"lean_io_eprintln", object},
    {"lean_mk_io_user_error", object},
    {"lean_mk_io_error_eof", object},
    {"lean_mk_io_error_already_exists", number_details},
    {"lean_mk_io_error_already_exists_file", file_number_details},
    {"lean_mk_io_error_hardware_fault", number_details},
    {"lean_mk_io_error_illegal_operation", number_details},
    {"lean_mk_io_error_inappropriate_type", number_details},
    {"lean_mk_io_error_inappropriate_type_file", file_number_details},
    {"lean_mk_io_error_interrupted", file_number_details},
    {"lean_mk_io_error_invalid_argument", number_details},
    {"lean_mk_io_error_invalid_argument_file", file_number_details},
    {"lean_mk_io_error_no_file_or_directory", file_number_details},
    {"lean_mk_io_error_no_such_thing", number_details},
    {"lean_mk_io_error_no_such_thing_file", file_number_details},
    {"lean_mk_io_error_other_error", number_details},
    {"lean_mk_io_error_permission_denied", number_details},
    {"lean_mk_io_error_permission_denied_file", file_number_details},
    {"lean_mk_io_error_protocol_error", number_details},
    {"lean_mk_io_error_resource_busy", number_details},
    {"lean_mk_io_error_resource_exhausted", number_details},
    {"lean_mk_io_error_resource_exhausted_file", file_number_details},
    {"lean_mk_io_error_resource_vanished", number_details},
    {"lean_mk_io_error_time_expired", number_details},
    {"lean_mk_io_error_unsatisfied_constraints", number_details},
    {"lean_mk_io_error_unsupported_operation", number_details},
};

// Written while the program registers its exports at start-up, read without locks after.
void *slots[kExportCount];

// The registered function of a slot, checked to be there and to have the expected shape.
template <typename Function>
Function function_of(Export slot, [[maybe_unused]] ExportShape shape) noexcept {
    auto index = static_cast<unsigned>(slot);
    assert(kExports[index].shape == shape && "an export called with another shape");
    void *function = __atomic_load_n(&slots[index], __ATOMIC_ACQUIRE);
    if (function == nullptr) {
        internal_panic({"the Lean definition exported as `", kExports[index].name,
                        "` is not part of the compiled program"});
    }
    return reinterpret_cast<Function>(function);
}

}  // namespace

const ExportInfo &export_info(Export slot) noexcept {
    return kExports[static_cast<unsigned>(slot)];
}

quarn_object *call_export(Export slot, quarn_object *argument) noexcept {
    using Function = quarn_object *(*)(quarn_object *);
    return function_of<Function>(slot, object)(argument);
}

quarn_object *call_export(Export slot, uint32_t number, quarn_object *details) noexcept {
    using Function = quarn_object *(*)(uint32_t, quarn_object *);
    return function_of<Function>(slot, number_details)(number, details);
}

quarn_object *call_export(Export slot, quarn_object *file, uint32_t number,
                          quarn_object *details) noexcept {
    using Function = quarn_object *(*)(quarn_object *, uint32_t, quarn_object *);
    return function_of<Function>(slot, file_number_details)(file, number, details);
}

}  // namespace quarn::io

extern "C" void **quarn_register_export(const char *name, void *function) noexcept {
    using namespace quarn::io;
    std::string_view text = quarn::string::checked_c_text(name, "an export symbol");
    for (unsigned i = 0; i < kExportCount; ++i) {
        if (text == kExports[i].name) {
            __atomic_store_n(&slots[i], function, __ATOMIC_RELEASE);
            // From now on Lean-level panics print where the program's own messages go.
            if (i == static_cast<unsigned>(Export::io_eprintln))
                quarn::set_lean_stderr_printer(&lean_eprintln);
            return slots;
        }
    }
    quarn::internal_panic({"`", text, "` is not an export the quarn runtime calls"});
}

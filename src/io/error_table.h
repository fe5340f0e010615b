// The table behind IO.Error conversion: for each error number, the constructor group and
// the details text.
#pragma once

#include <optional>
#include <string_view>

#include "io/export_table.h"

namespace quarn::io::detail {

// The IO.Error constructors that error numbers are sorted into.
enum class ErrorGroup : unsigned char {
    already_exists,
    hardware_fault,
    illegal_operation,
    inappropriate_type,
    interrupted,
    invalid_argument,
    no_file_or_directory,
    no_such_thing,
    other_error,
    permission_denied,
    protocol_error,
    resource_busy,
    resource_exhausted,
    resource_vanished,
    time_expired,
    unsatisfied_constraints,
    unsupported_operation,
};

// How a group builds its error: the export without a file name, the one with it (either
// may be missing), and the Lean name used when a required file name is absent.
struct GroupExports {
    std::optional<Export> plain;
    std::optional<Export> with_file;
    std::string_view lean_name;
};

const GroupExports &exports_of(ErrorGroup group) noexcept;

// The number that stands for e when choosing the constructor and the text.
int representative_of(int e) noexcept;

// The group of a representative; numbers without a row are other errors.
ErrorGroup group_of(int representative) noexcept;

// The stored details text of a negative code: the text of the error number -code, or of an
// event-loop code; nothing when the table has none.
std::optional<std::string_view> details_of_code(int negative_code) noexcept;

}  // namespace quarn::io::detail

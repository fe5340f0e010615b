#include "io/io_error.h"

#include <cassert>
#include <string>

#include "io/error_table.h"
#include "io/export_table.h"
#include "io/io_result.h"
#include "core/allocator.h"
#include "core/panic.h"
#include "string/string_alloc.h"

namespace quarn::io {

namespace {

using detail::ErrorGroup;

quarn_object *details_string(int negative_code) noexcept {
    if (std::optional<std::string_view> stored = detail::details_of_code(negative_code))
        return string::make_string(stored->data(), stored->size(), stored->size());
    // "Unknown system error -N", made on the stack: the text is ASCII.
    constexpr std::string_view kPrefix = "Unknown system error ";
    char text[kPrefix.size() + sizeof(Decimal::digits)];
    Decimal digits = decimal(negative_code);
    std::string_view number = digits;
    kPrefix.copy(text, kPrefix.size());
    number.copy(text + kPrefix.size(), number.size());
    size_t size = kPrefix.size() + number.size();
    return string::make_string(text, size, size);
}

// Builds the error of a group through the program's constructor: the file variant when a
// file name is present and the group has one, the plain one otherwise.
// `details` is null for the standard text of negative_code, else an owned string.
quarn_object *make_error(ErrorGroup group, int e, int negative_code, quarn_object *file,
                         quarn_object *details = nullptr) noexcept {
    const detail::GroupExports &exports = detail::exports_of(group);
    auto number = static_cast<uint32_t>(e);
    if (file != nullptr && exports.with_file) {
        if (details == nullptr) details = details_string(negative_code);
        return call_export(*exports.with_file, file, number, details);
    }
    if (!exports.plain) {
        internal_panic({"an `IO.Error.", exports.lean_name, "` error requires a file name"});
    }
    if (file != nullptr) quarn_dec(file);
    if (details == nullptr) details = details_string(negative_code);
    return call_export(*exports.plain, number, details);
}

}  // namespace

quarn_object *error_from_errno(int e, quarn_object *file) noexcept {
    assert(e > 0);
    int representative = detail::representative_of(e);
    return make_error(detail::group_of(representative), e, -representative, file);
}

quarn_object *error_from_code(int negative_code, quarn_object *file) noexcept {
    assert(negative_code < 0);
    int e = -negative_code;
    return make_error(detail::group_of(e), e, negative_code, file);
}

quarn_object *error_from_code_with_details(int negative_code, std::string_view details) noexcept {
    assert(negative_code < 0);
    int e = -negative_code;
    quarn_object *text = string::make_string_from_utf8(details.data(), details.size());
    return make_error(detail::group_of(e), e, negative_code, nullptr, text);
}

quarn_object *error_result_from_errno(int e, quarn_object *file) noexcept {
    return io_error(error_from_errno(e, file));
}

quarn_object *error_result_from_failure(const std::error_code &failure, quarn_object *file) noexcept {
    const std::error_category &category = failure.category();
    bool has_os_number = category == std::system_category() || category == std::generic_category();
    if (!has_os_number || failure.value() <= 0)
        internal_panic({"I/O error without an OS error code: ", failure.message()});
    return error_result_from_errno(failure.value(), file);
}

quarn_object *user_error_result(std::string_view message) noexcept {
    quarn_object *text = string::make_string_from_utf8(message.data(), message.size());
    return io_error(call_export(Export::mk_io_user_error, text));
}

quarn_object *invalid_argument_error(std::string_view details) noexcept {
    quarn_object *text = string::make_string(details.data(), details.size(), details.size());
    return call_export(Export::invalid_argument, 22, text);
}

quarn_object *nul_path_error_result(quarn_object *path) noexcept {
    static constexpr std::string_view kDetails = "string contains NUL bytes";
    quarn_object *details = string::make_string(kDetails.data(), kDetails.size(), kDetails.size());
    return io_error(call_export(Export::invalid_argument_file, path, 22, details));
}

Text error_to_text(quarn_object *error) noexcept {
    quarn_inc(error);
    quarn_object *text = call_export(Export::io_error_to_string, error);
    auto *s = reinterpret_cast<quarn_string_object *>(text);
    Text result(s->data, s->size - 1);
    quarn_dec(text);
    return result;
}

}  // namespace quarn::io

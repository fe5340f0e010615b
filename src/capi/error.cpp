// Error records: making them for the runtime's own failures, and the host's functions over
// them.
#include "capi/error.h"

#include <new>

#include "capi/buffer.h"
#include "capi/fatal.h"
#include "capi/handle_table.h"
#include "capi/value_record.h"
#include "core/utf8.h"

namespace quarn::capi {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// A C-heap copy of the text as a C string, made valid by lossy_message.
char *message_copy(std::string_view text) noexcept {
    Text out = lossy_message(text);
    return copy_to_c_string(out.data(), out.size());
}

quarn_error *new_error(int kind, std::string_view message) noexcept {
    quarn_error *error = new (PanicAllocator<quarn_error>().allocate(1)) quarn_error;
    error->kind = kind;
    error->message = message_copy(message);
    return error;
}

void delete_error(quarn_error *error) noexcept {
    quarn_string_free(error->message);
    error->~quarn_error();
    PanicAllocator<quarn_error>().deallocate(error, 1);
}

const quarn_error &expect_error(const quarn_error *error, std::string_view function) noexcept {
    return *not_null(error, function);
}

}  // namespace

Text lossy_message(std::string_view text) {
    Text out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t length = utf8::well_formed_char_length(text.data(), text.size(), at);
        if (length == 0 || text[at] == '\0') {
            out.append(kReplacement);
            at += length == 0 ? 1 : length;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

quarn_error *new_failure(std::string_view message) noexcept {
    return new_error(QUARN_ERROR_FAILURE, message);
}

quarn_error *new_io_error(std::uint64_t handle, std::string_view message) noexcept {
    quarn_error *error = new_error(QUARN_ERROR_IO, message);
    error->handle = handle;
    return error;
}

quarn_error *new_value_error(quarn_value *value) noexcept {
    std::string_view message = "a Lean error value (see quarn_error_value)";
    if (value->kind == Kind::String)
        message = {reinterpret_cast<const char *>(value->bytes.data()), value->bytes.size()};
    quarn_error *error = new_error(QUARN_ERROR_VALUE, message);
    error->value = value;
    return error;
}

}  // namespace quarn::capi

using namespace quarn::capi;

extern "C" {

QUARN_API int quarn_error_kind(const quarn_error *error) noexcept {
    return expect_error(error, "quarn_error_kind").kind;
}

QUARN_API const char *quarn_error_message(const quarn_error *error) noexcept {
    return expect_error(error, "quarn_error_message").message;
}

QUARN_API const quarn_value *quarn_error_value(const quarn_error *error) noexcept {
    return expect_error(error, "quarn_error_value").value;
}

QUARN_API quarn_error *quarn_error_from_value(quarn_value *value) noexcept {
    return new_value_error(not_null(value, "quarn_error_from_value"));
}

QUARN_API quarn_error *quarn_error_io(const char *message) noexcept {
    std::string_view text = not_null(message, "quarn_error_io");
    if (!quarn::utf8::is_valid_utf8(text.data(), text.size()))
        fatal("quarn_error_io", "the message is not UTF-8");
    return new_io_error(0, text);
}

QUARN_API quarn_error *quarn_error_clone(const quarn_error *error) noexcept {
    constexpr std::string_view kFunction = "quarn_error_clone";
    const quarn_error &from = expect_error(error, kFunction);
    quarn_error *copy = new_error(from.kind, from.message);
    if (from.handle != 0) {
        std::optional<quarn_object *> object = borrow_handle(from.handle);
        if (!object) {
            delete_error(copy);
            fatal(kFunction, not_live_message(from.handle), " (was the error freed?)");
        }
        copy->handle = register_object(*object);
    }
    if (from.value != nullptr) copy->value = quarn_value_clone(from.value);
    return copy;
}

QUARN_API void quarn_error_free(quarn_error *error) noexcept {
    if (error == nullptr) return;
    if (error->handle != 0) {
        std::optional<quarn_object *> object = adopt_handle(error->handle);
        if (!object) fatal("quarn_error_free", not_live_message(error->handle),
                           " (was the error freed twice?)");
        quarn_dec(*object);
    }
    quarn_value_free(error->value);
    delete_error(error);
}

}  // extern "C"

// Entry-point calls: what a generated entry point uses to read its argument block and to
// write its result block (a pure value, an IO result or an EIO result).
#include "capi/call.h"

#include <new>

#include "capi/buffer.h"
#include "capi/fatal.h"
#include "capi/handle_table.h"
#include "capi/type_expr.h"
#include "io/io_error.h"
#include "quarn/entry.h"
#include "wire/object_codec.h"
#include "wire/type_decode.h"

using quarn::capi::TypeExpr;

quarn_call::quarn_call(const quarn_types *table, const std::uint8_t *bytes, std::size_t length) noexcept
    : table(table), block(bytes, bytes + length), reader(block.data(), block.size()) {}

void quarn_call::record(std::string_view message) {
    if (failed_) return;
    failed_ = true;
    error_.assign(message);
}

namespace quarn::capi {

void generated_type(std::string_view function, const std::uint8_t *bytes, std::size_t length,
                    const quarn_types &table, std::span<const TypeExpr> type_args,
                    TypeExpr &out) noexcept {
    constexpr std::string_view kInvalid = "a generated type expression is invalid: ";
    if (bytes == nullptr && length != 0) fatal(function, kNullPointer);
    wire::Reader reader(bytes, length);
    TypeExpr generic;
    if (!wire::decode_type_expr(reader, generic)) fatal(function, kInvalid, reader.error());
    if (!reader.at_end()) {
        fatal(function, kInvalid, decimal(static_cast<long long>(reader.remaining())),
              " unexpected bytes after the wire data");
    }
    Text error;
    if (!has_param(generic)) {
        out = std::move(generic);
    } else if (!instantiate(generic, type_args, out, error)) {
        fatal(function, "a generated signature does not match its call: ", error);
    }
    if (!check_type(table, 0, out, error)) fatal(function, kInvalid, error);
}

quarn_call &expect_call(quarn_call *call, std::string_view function) noexcept {
    return *not_null(call, function);
}

namespace {

// Writes an IO.Error as an IO result block's error: its handle in the table and its text.
// Consumes `error`.
void write_io_error(quarn_object *error, wire::ByteSink &out) noexcept {
    Text text = io::error_to_text(error);
    out.u8(1);
    out.u64(register_object(error));
    if (text.size() > UINT32_MAX) internal_panic("a value exceeds the wire format's 2^32 length limit");
    out.u32(static_cast<std::uint32_t>(text.size()));
    out.bytes(text.data(), text.size());
}

// The field of a one-field result object (an IO or EIO result), as a new reference; the
// result is released.
quarn_object *take_field(quarn_object *result) noexcept {
    quarn_object *field = quarn_ctor_get(result, 0);
    quarn_inc(field);
    quarn_dec(result);
    return field;
}

}  // namespace

}  // namespace quarn::capi

using namespace quarn;
using namespace quarn::capi;

extern "C" {

QUARN_API quarn_call *quarn_call_begin(const quarn_types *table, const uint8_t *block,
                                       size_t length) noexcept {
    constexpr std::string_view kFunction = "quarn_call_begin";
    if (table == nullptr) fatal(kFunction, "a quarn type table is a null pointer");
    if (block == nullptr && length != 0) fatal(kFunction, kNullPointer);
    quarn_call *call = new (PanicAllocator<quarn_call>().allocate(1)) quarn_call(table, block, length);
    std::uint32_t count;
    if (!call->reader.count(count)) {
        call->record(call->reader.error());
        return call;
    }
    call->type_args.resize(count);
    Text error;
    for (TypeExpr &type : call->type_args) {
        if (!wire::decode_type_expr(call->reader, type)) {
            call->record(call->reader.error());
            break;
        }
        // Type arguments name no parameters of their own and fit the program's table.
        if (!check_type(*table, 0, type, error)) {
            call->record(error);
            break;
        }
    }
    return call;
}

QUARN_API quarn_object *quarn_call_read(quarn_call *call, const uint8_t *type_bytes,
                                        size_t type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_call_read";
    quarn_call &c = expect_call(call, kFunction);
    if (c.failed()) return quarn_box(0);
    TypeExpr type;
    generated_type(kFunction, type_bytes, type_length, *c.table, c.type_args, type);
    quarn_object *argument = wire::decode_object(c.table, type, c.reader, wire::HandleMode::Borrow);
    if (argument == nullptr) {
        c.record(c.reader.error());
        return quarn_box(0);
    }
    return argument;
}

QUARN_API int quarn_call_complete(quarn_call *call) noexcept {
    quarn_call &c = expect_call(call, "quarn_call_complete");
    if (c.failed()) return 0;
    if (!c.reader.at_end()) {
        Text message;
        append_pieces(message, {decimal(static_cast<long long>(c.reader.remaining())),
                                " unexpected bytes after the arguments"});
        c.record(message);
        return 0;
    }
    return 1;
}

QUARN_API void quarn_call_write(quarn_call *call, quarn_object *object, const uint8_t *type_bytes,
                                size_t type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_call_write";
    quarn_call &c = expect_call(call, kFunction);
    if (c.failed()) return quarn_dec(object);  // quarn_call_end reports the error
    TypeExpr type;
    generated_type(kFunction, type_bytes, type_length, *c.table, c.type_args, type);
    wire::encode_object(c.table, type, object, c.output);
    quarn_dec(object);
}

QUARN_API void quarn_call_write_io(quarn_call *call, quarn_object *io_result,
                                   const uint8_t *type_bytes, size_t type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_call_write_io";
    quarn_call &c = expect_call(call, kFunction);
    if (c.failed()) return quarn_dec(io_result);
    TypeExpr type;
    generated_type(kFunction, type_bytes, type_length, *c.table, c.type_args, type);
    if (quarn_is_scalar(io_result) || quarn_ptr_tag(io_result) > 1)
        fatal(kFunction, "the object is not an IO result");
    bool ok = quarn_ptr_tag(io_result) == 0;
    quarn_object *field = take_field(io_result);
    if (!ok) return write_io_error(field, c.output);
    c.output.u8(0);
    wire::encode_object(c.table, type, field, c.output);
    quarn_dec(field);
}

QUARN_API void quarn_call_write_eio(quarn_call *call, quarn_object *result,
                                    const uint8_t *error_type_bytes, size_t error_type_length,
                                    const uint8_t *value_type_bytes, size_t value_type_length) noexcept {
    constexpr std::string_view kFunction = "quarn_call_write_eio";
    quarn_call &c = expect_call(call, kFunction);
    if (c.failed()) return quarn_dec(result);
    TypeExpr error_type, value_type;
    generated_type(kFunction, error_type_bytes, error_type_length, *c.table, c.type_args, error_type);
    generated_type(kFunction, value_type_bytes, value_type_length, *c.table, c.type_args, value_type);
    if (quarn_is_scalar(result) || quarn_ctor_num_objs(result) < 1)
        fatal(kFunction, "the object is not an EIO result");
    bool ok = quarn_ptr_tag(result) == 0;
    quarn_object *field = take_field(result);
    c.output.u8(ok ? 0 : 1);
    wire::encode_object(c.table, ok ? value_type : error_type, field, c.output);
    quarn_dec(field);
}

QUARN_API int quarn_call_end(quarn_call *call, quarn_buffer *output) noexcept {
    constexpr std::string_view kFunction = "quarn_call_end";
    quarn_call &c = expect_call(call, kFunction);
    require_empty(output, kFunction);
    int status = 0;
    if (c.failed()) {
        wire::ByteSink message;
        message.bytes(c.error().data(), c.error().size());
        message.hand_over(output, kFunction);
        status = 1;
    } else {
        c.output.hand_over(output, kFunction);
    }
    c.~quarn_call();
    PanicAllocator<quarn_call>().deallocate(&c, 1);
    return status;
}

}  // extern "C"

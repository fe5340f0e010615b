// Hosts calling the Lean closures they hold as handles: the arguments arrive as wire bytes
// and are read in borrowing mode (the host's handles stay live), the closure is applied to
// all of them at once, and the result goes back as wire bytes.
#include "capi/buffer.h"
#include "capi/fatal.h"
#include "capi/handle_table.h"
#include "capi/host_entry_points.h"
#include "capi/type_expr.h"
#include "closure/closure.h"
#include "wire/byte_sink.h"
#include "wire/object_codec.h"
#include "wire/type_decode.h"

namespace quarn::capi {

namespace {

constexpr std::string_view kNotAFunctionType = "a closure is called at a type that is not a function type";

// Puts the message into `output` and returns 1.
int refuse(std::string_view message, quarn_buffer *output, std::string_view function) noexcept {
    wire::ByteSink bytes;
    bytes.bytes(message.data(), message.size());
    bytes.hand_over(output, function);
    return 1;
}

}  // namespace

int call_closure(std::string_view function, const quarn_types *table, std::uint64_t closure,
                 const TypeExpr &type, const std::uint8_t *args, std::size_t length,
                 quarn_buffer *output) noexcept {
    require_empty(output, function);
    if (args == nullptr && length != 0) fatal(function, kNullPointer);
    std::optional<quarn_object *> f = borrow_handle(closure);
    if (!f) fatal(function, not_live_message(closure));
    std::size_t count = type.children.size() - 1;
    Vector<quarn_object *> values(count, nullptr);
    wire::Reader reader(args, length);
    for (std::size_t i = 0; i < count; ++i) {
        values[i] = wire::decode_object(table, type.children[i], reader, wire::HandleMode::Borrow);
        if (values[i] == nullptr || (i + 1 == count && !reader.at_end())) {
            if (values[i] != nullptr)
                reader.fail({decimal(static_cast<long long>(reader.remaining())),
                             " unexpected bytes after the wire data"});
            for (quarn_object *v : values)
                if (v != nullptr) quarn_dec(v);
            quarn_dec(*f);
            return refuse(reader.error(), output, function);
        }
    }
    quarn_object *result = closure::apply(*f, count, values.data());
    wire::ByteSink bytes;
    wire::encode_object(table, type.children.back(), result, bytes);
    quarn_dec(result);
    bytes.hand_over(output, function);
    return 0;
}

}  // namespace quarn::capi

using namespace quarn::capi;

extern "C" {

QUARN_API int quarn_closure_call(const quarn_types *table, uint64_t closure,
                                 const uint8_t *type_bytes, size_t type_length,
                                 const uint8_t *args, size_t args_length,
                                 quarn_buffer *output) noexcept {
    constexpr std::string_view kFunction = "quarn_closure_call";
    if (table == nullptr) fatal(kFunction, "a quarn type table is a null pointer");
    not_null(output, kFunction);
    if (type_bytes == nullptr && type_length != 0) fatal(kFunction, kNullPointer);
    quarn::wire::Reader reader(type_bytes, type_length);
    TypeExpr type;
    quarn::Text error;
    if (!quarn::wire::decode_type_expr(reader, type)) fatal(kFunction, "the type is invalid: ", reader.error());
    if (!reader.at_end())
        fatal(kFunction, "the type is invalid: ", quarn::decimal(static_cast<long long>(reader.remaining())),
              " unexpected bytes after the wire data");
    if (type.kind != Kind::Function) fatal(kFunction, kNotAFunctionType);
    if (!check_type(*table, 0, type, error)) fatal(kFunction, "the type is invalid: ", error);
    return call_closure(kFunction, table, closure, type, args, args_length, output);
}

}  // extern "C"

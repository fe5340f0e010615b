#include "wire/signature.h"

#include "capi/type_expr.h"
#include "wire/type_decode.h"

namespace quarn::wire {

using capi::TypeExpr;

bool read_result_description(Reader &reader, ResultDescription &out) {
    std::uint8_t kind;
    if (!reader.u8(kind)) return false;
    switch (kind) {
        case static_cast<std::uint8_t>(ResultKind::Pure):
        case static_cast<std::uint8_t>(ResultKind::Io):
            out.kind = static_cast<ResultKind>(kind);
            return decode_type_expr(reader, out.value);
        case static_cast<std::uint8_t>(ResultKind::Eio):
            out.kind = ResultKind::Eio;
            return decode_type_expr(reader, out.error) && decode_type_expr(reader, out.value);
        case static_cast<std::uint8_t>(ResultKind::Async): {
            out.kind = ResultKind::Async;
            std::uint32_t answers;
            if (!reader.u32(out.operations) || !reader.count(answers)) return false;
            out.answers.resize(answers);
            for (TypeExpr &answer : out.answers)
                if (!decode_type_expr(reader, answer)) return false;
            return decode_type_expr(reader, out.value);
        }
        default:
            return reader.fail({"invalid result kind ", decimal(kind)});
    }
}

bool read_signature(const std::uint8_t *bytes, std::size_t length, Signature &out, Text &error) {
    Reader reader(bytes, length);
    std::uint32_t params;
    bool read = reader.u32(out.type_parameters) && reader.count(params);
    if (read) {
        out.params.resize(params);
        for (TypeExpr &param : out.params)
            if (!(read = decode_type_expr(reader, param))) break;
    }
    if (read && !read_result_description(reader, out.result)) read = false;
    if (!read) {
        error = reader.take_error();
        return false;
    }
    if (!reader.at_end()) {
        error.clear();
        capi::append_pieces(error, {decimal(static_cast<long long>(reader.remaining())),
                                    " unexpected bytes after the wire data"});
        return false;
    }
    return true;
}

bool check_result_description(const quarn_types &table, std::uint32_t type_parameters,
                              const ResultDescription &description, Text &error) {
    if (!capi::check_type(table, type_parameters, description.value, error)) return false;
    switch (description.kind) {
        case ResultKind::Pure:
        case ResultKind::Io:
            return true;
        case ResultKind::Eio:
            return capi::check_type(table, type_parameters, description.error, error);
        case ResultKind::Async:
            break;
    }
    if (description.operations >= table.definitions.size()) {
        error.clear();
        capi::append_pieces(error, {"operation type index ", decimal(description.operations),
                                    " outside the type table"});
        return false;
    }
    const capi::Definition &operations = table.definitions[description.operations];
    if (operations.opaque || operations.parameters != 0) {
        error.clear();
        capi::append_pieces(error, {operations.name, " cannot be the operations of an async program"});
        return false;
    }
    if (description.answers.size() != operations.constructors.size()) {
        error.clear();
        capi::append_pieces(error, {decimal(static_cast<long long>(description.answers.size())),
                                    " answers for the ",
                                    decimal(static_cast<long long>(operations.constructors.size())),
                                    " operations of ", operations.name});
        return false;
    }
    for (const TypeExpr &answer : description.answers)
        if (!capi::check_type(table, 0, answer, error)) return false;
    return true;
}

bool check_signature(const quarn_types &table, const Signature &signature, Text &error) {
    for (const TypeExpr &param : signature.params)
        if (!capi::check_type(table, signature.type_parameters, param, error)) return false;
    return check_result_description(table, signature.type_parameters, signature.result, error);
}

bool instantiate_signature(const Signature &signature, std::span<const TypeExpr> type_args,
                           Signature &out, Text &error) {
    out.type_parameters = 0;
    out.params.resize(signature.params.size());
    for (std::size_t i = 0; i < signature.params.size(); ++i)
        if (!capi::instantiate(signature.params[i], type_args, out.params[i], error)) return false;
    const ResultDescription &from = signature.result;
    ResultDescription &to = out.result;
    to.kind = from.kind;
    to.operations = from.operations;
    to.answers = from.answers;  // answers have no type parameters
    if (!capi::instantiate(from.value, type_args, to.value, error)) return false;
    return from.kind != ResultKind::Eio || capi::instantiate(from.error, type_args, to.error, error);
}

}  // namespace quarn::wire

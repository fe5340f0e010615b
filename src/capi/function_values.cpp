// Function values on the host's side: registering a C function as one, and calling one. A C
// function of this process is called directly with the values; a Lean closure (or a host
// function of the host's own entry points) through its wire bytes.
#include "capi/error.h"
#include "capi/host_entry_points.h"
#include "capi/type_expr.h"
#include "capi/value_record.h"
#include "wire/byte_sink.h"
#include "wire/value_codec.h"

namespace quarn::capi {

namespace {

constexpr std::string_view kNotAFunctionType = "the type is not a function type";

// The table of a type handle that has none: a function type over kinds without definitions.
const quarn_types *table_of(const quarn_type &type) noexcept {
    static const quarn_types kEmptyTable;
    return type.table != nullptr ? type.table : &kEmptyTable;
}

const quarn_type &expect_function_type(const quarn_type *type, std::string_view function) noexcept {
    if (not_null(type, function)->expr.kind != Kind::Function) fatal(function, kNotAFunctionType);
    return *type;
}

int malformed(std::initializer_list<std::string_view> message, quarn_error **error_out) noexcept {
    Text text;
    append_pieces(text, message);
    *error_out = new_failure(text);
    return QUARN_MALFORMED;
}

// Calls the function the host's own entry points know as `id` with the argument bytes, and
// reads its pure result.
int call_custom_host(const HostEntryPoints &host, std::uint64_t id, const quarn_type &type,
                     const wire::ByteSink &args, quarn_value **result_out, quarn_error **error_out) noexcept {
    quarn_buffer output = QUARN_BUFFER_EMPTY;
    if (host.call(id, args.data(), args.length(), &output) != 0) {
        *error_out = new_failure(take_host_message(output));
        return QUARN_FAILED;
    }
    Text error;
    quarn_value *result = wire::decode_value(output.data, output.length, type.expr.children.back(),
                                             table_of(type), error);
    quarn_buffer_free(&output);
    if (result == nullptr) return malformed({"the host returned malformed data: ", error}, error_out);
    *result_out = result;
    return QUARN_OK;
}

int call_c_function(const CHostFunction &record, const quarn_type &type, const quarn_value *const *args,
                    std::size_t count, quarn_value **result_out, quarn_error **error_out) noexcept {
    CHostOutcome outcome = run_c_host_function(record, args, count, "quarn_value_call");
    if (outcome.status == QUARN_FAILED) {
        *error_out = outcome.error;
        return QUARN_FAILED;
    }
    // The result must be a value of the result type, as it would be on its way to Lean.
    wire::ByteSink scratch;
    Text error;
    if (!wire::write_value(*outcome.result, type.expr.children.back(), table_of(type), scratch, error)) {
        quarn_value_free(outcome.result);
        return malformed({"returned a malformed value: ", error}, error_out);
    }
    *result_out = outcome.result;
    return QUARN_OK;
}

int call_lean_closure(std::uint64_t handle, const quarn_type &type, const wire::ByteSink &args,
                      quarn_value **result_out, quarn_error **error_out) noexcept {
    constexpr std::string_view kFunction = "quarn_value_call";
    quarn_buffer output = QUARN_BUFFER_EMPTY;
    int status = call_closure(kFunction, table_of(type), handle, type.expr, args.data(), args.length(), &output);
    if (status != 0) {
        Text message = take_host_message(output);
        return malformed({message}, error_out);
    }
    Text error;
    quarn_value *result = wire::decode_value(output.data, output.length, type.expr.children.back(),
                                             table_of(type), error);
    quarn_buffer_free(&output);
    if (result == nullptr) fatal(kFunction, "the runtime produced a malformed result: ", error);
    *result_out = result;
    return QUARN_OK;
}

}  // namespace

}  // namespace quarn::capi

using namespace quarn::capi;

extern "C" {

QUARN_API quarn_value *quarn_value_function(const quarn_type *type, quarn_host_function function,
                                            void *user_data, quarn_host_finalizer finalizer) noexcept {
    constexpr std::string_view kFunction = "quarn_value_function";
    const quarn_type &function_type = expect_function_type(type, kFunction);
    if (function == nullptr) fatal(kFunction, "the function is a null pointer");
    const quarn::Vector<TypeExpr> &parts = function_type.expr.children;
    quarn::wire::Signature signature;
    signature.params.assign(parts.begin(), parts.end() - 1);
    signature.result.kind = quarn::wire::ResultKind::Pure;
    signature.result.value = parts.back();
    std::uint64_t id = register_c_host_function(kFunction, table_of(function_type), std::move(signature),
                                                function, user_data, finalizer);
    quarn_value *value = new_value(Kind::Function);
    value->flag = 1;
    value->bits = id;
    return value;
}

QUARN_API int quarn_value_call(const quarn_value *function, const quarn_type *type,
                               const quarn_value *const *args, size_t count,
                               quarn_value **result_out, quarn_error **error_out) noexcept {
    constexpr std::string_view kFunction = "quarn_value_call";
    not_null(result_out, kFunction);
    not_null(error_out, kFunction);
    *result_out = nullptr;
    *error_out = nullptr;
    const quarn_value &callee = expect_kind(function, Kind::Function, kFunction);
    const quarn_type &function_type = expect_function_type(type, kFunction);
    if (args == nullptr && count != 0) fatal(kFunction, kNullPointer);
    const quarn::Vector<TypeExpr> &parts = function_type.expr.children;
    std::size_t params = parts.size() - 1;
    if (count != params)
        return malformed({quarn::decimal(static_cast<long long>(count)), " arguments for ",
                          quarn::decimal(static_cast<long long>(params)), " parameters"},
                         error_out);
    // Written for a closure or the host's entry points; for a C function only checked.
    quarn::wire::ByteSink bytes;
    quarn::Text error;
    for (std::size_t i = 0; i < count; ++i)
        if (!quarn::wire::write_value(*not_null(args[i], kFunction), parts[i], table_of(function_type),
                                      bytes, error))
            return malformed({"argument ", quarn::decimal(static_cast<long long>(i + 1)), ": ", error},
                             error_out);
    if (callee.flag == 0) return call_lean_closure(callee.bits, function_type, bytes, result_out, error_out);
    if (const CHostFunction *record = find_c_host_function(callee.bits))
        return call_c_function(*record, function_type, args, count, result_out, error_out);
    const HostEntryPoints *host = installed_host();
    if (host == nullptr) fatal(kFunction, kNoHost);
    if (host->call == c_host_call)
        fatal(kFunction, "host function ", unsigned_decimal(callee.bits), " is not registered (was its value freed?)");
    return call_custom_host(*host, callee.bits, function_type, bytes, result_out, error_out);
}

}  // extern "C"

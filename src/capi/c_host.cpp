// The C host: the `call` entry point that quarn_host_function_new installs. It reads the
// arguments into host values, runs the registered C function and writes its outcome as the
// result block of the function's result description.
#include <utility>

#include "capi/error.h"
#include "capi/host_entry_points.h"
#include "capi/value_record.h"
#include "wire/byte_sink.h"
#include "wire/value_codec.h"

namespace quarn::capi {

namespace {

using wire::ResultKind;

template <typename... Detail>
[[noreturn]] void c_host_fault(std::string_view function, Detail... detail) noexcept {
    if (function.empty()) internal_panic({std::string_view(detail)...});
    fatal(function, detail...);
}

// Fails the call: the message goes into `output`, and Lean code reports it.
int fail_call(std::initializer_list<std::string_view> message, quarn_buffer *output) noexcept {
    wire::ByteSink bytes;
    for (std::string_view piece : message) bytes.bytes(piece.data(), piece.size());
    bytes.hand_over(output, "a C host function's call");
    return 1;
}

// Writes a value that Lean takes over: after a successful write its handles and host
// function references belong to the bytes, so the tree goes without releasing them. After a
// failed one the tree still owns them. Consumes `v`.
bool write_moving(quarn_value *v, const TypeExpr &type, const quarn_types *table, wire::ByteSink &bytes,
                  Text &error) noexcept {
    bool written = wire::write_value(*v, type, table, bytes, error);
    free_tree(v, written ? Handles::Keep : Handles::Release, "quarn_value_free");
    return written;
}

// Writes the C function's outcome as the result block of `description`. Consumes the
// outcome.
int write_outcome(const CHostFunction &record, CHostOutcome outcome, quarn_buffer *output) noexcept {
    const wire::ResultDescription &description = record.signature.result;
    wire::ByteSink bytes;
    Text error;
    if (outcome.status == QUARN_OK) {
        if (description.kind != ResultKind::Pure) bytes.u8(0);
        if (!write_moving(outcome.result, description.value, record.table, bytes, error))
            return fail_call({"returned a malformed value: ", error}, output);
        bytes.hand_over(output, "a C host function's call");
        return 0;
    }
    quarn_error *raised = outcome.error;
    switch (description.kind) {
        case ResultKind::Pure: {
            Text message = raised->message;
            quarn_error_free(raised);
            return fail_call({message}, output);
        }
        case ResultKind::Io: {
            if (raised->kind != QUARN_ERROR_IO)
                internal_panic("a C host function of an IO extern raised an error that is not an IO error");
            std::string_view message = raised->message;
            bytes.u8(1);
            bytes.u64(raised->handle);
            bytes.u32(static_cast<std::uint32_t>(message.size()));
            bytes.bytes(message.data(), message.size());
            // The handle moves into the block, whose reader adopts it.
            raised->handle = 0;
            quarn_error_free(raised);
            break;
        }
        case ResultKind::Eio: {
            if (raised->value == nullptr)
                internal_panic("a C host function of an EIO extern raised an error that is not an error value");
            bytes.u8(1);
            quarn_value *value = std::exchange(raised->value, nullptr);
            quarn_error_free(raised);
            if (!write_moving(value, description.error, record.table, bytes, error))
                return fail_call({"returned a malformed error: ", error}, output);
            break;
        }
        case ResultKind::Async:
            internal_panic(kUnreachable);
    }
    bytes.hand_over(output, "a C host function's call");
    return 0;
}

}  // namespace

CHostOutcome run_c_host_function(const CHostFunction &record, const quarn_value *const *args,
                                 std::size_t count, std::string_view function) noexcept {
    CHostOutcome outcome{0, nullptr, nullptr};
    outcome.status = record.function(record.user_data, args, count, &outcome.result, &outcome.error);
    switch (outcome.status) {
        case QUARN_OK:
            if (outcome.result == nullptr || outcome.error != nullptr)
                c_host_fault(function, "a C host function returned QUARN_OK without exactly a result");
            break;
        case QUARN_FAILED:
            if (outcome.error == nullptr || outcome.result != nullptr)
                c_host_fault(function, "a C host function returned QUARN_FAILED without exactly an error");
            break;
        default:
            c_host_fault(function, "a C host function returned status ", decimal(outcome.status),
                         " (QUARN_OK or QUARN_FAILED expected)");
    }
    return outcome;
}

int c_host_call(std::uint64_t id, const std::uint8_t *args, std::size_t length,
                quarn_buffer *output) noexcept {
    const CHostFunction *record = find_c_host_function(id);
    if (record == nullptr)
        internal_panic({"host function ", unsigned_decimal(id), " is not registered (was its value freed?)"});
    if (record->signature.result.kind == ResultKind::Async)
        internal_panic("a host function does not return an async program");
    const Vector<TypeExpr> &params = record->signature.params;
    Vector<quarn_value *> values(params.size(), nullptr);
    wire::Reader reader(args, length);
    for (std::size_t i = 0; i < params.size(); ++i) {
        values[i] = wire::read_value(reader, params[i], record->table);
        if (values[i] == nullptr)
            internal_panic({"Lean passed malformed arguments to a C host function: ", reader.error()});
    }
    if (!reader.at_end())
        internal_panic({"Lean passed malformed arguments to a C host function: ",
                        decimal(static_cast<long long>(reader.remaining())),
                        " unexpected bytes after the wire data"});
    CHostOutcome outcome = run_c_host_function(*record, values.data(), values.size(), {});
    // The values were lent to the function; the handles Lean registered for them go with them.
    for (quarn_value *v : values) free_tree(v, Handles::Release, "quarn_value_free");
    return write_outcome(*record, outcome, output);
}

}  // namespace quarn::capi

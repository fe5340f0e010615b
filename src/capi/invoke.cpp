// Invocation: a host calls a generated entry point with host values and reads its result
// block back as a host value, an error, or the first step of an async program.
#include <algorithm>
#include <memory>
#include <span>

#include "capi/async_program.h"
#include "capi/buffer.h"
#include "capi/error.h"
#include "capi/fatal.h"
#include "capi/type_expr.h"
#include "capi/value_record.h"
#include "quarn/host.h"
#include "wire/signature.h"
#include "wire/type_encode.h"
#include "wire/value_codec.h"

namespace quarn::capi {

namespace {

constexpr std::string_view kInvoke = "quarn_invoke";
constexpr std::string_view kInvokeAsync = "quarn_invoke_async";
constexpr std::string_view kInvalidSignature = "a generated signature is invalid: ";

// The entry point's output, released on every path.
struct OutputBuffer {
    quarn_buffer buffer = QUARN_BUFFER_EMPTY;
    OutputBuffer() = default;
    OutputBuffer(const OutputBuffer &) = delete;
    OutputBuffer &operator=(const OutputBuffer &) = delete;
    ~OutputBuffer() { quarn_buffer_free(&buffer); }
};

// What the host passed to quarn_invoke or quarn_invoke_async.
struct Invocation {
    std::string_view function;
    const quarn_types *table;
    quarn_entry_point entry;
    std::span<const std::uint8_t> signature;
    std::span<const quarn_type *const> type_args;
    std::span<const quarn_value *const> args;
};

template <typename T>
std::span<const T> checked_array(const T *items, std::size_t count, std::string_view function) noexcept {
    if (items == nullptr && count != 0) fatal(function, kNullPointer);
    return {items, count};
}

// The host's inputs, each pointer checked: a null table, entry point or array with a
// non-zero count is fatal.
Invocation invocation(std::string_view function, const quarn_types *table, quarn_entry_point entry,
                      const std::uint8_t *signature, std::size_t signature_length,
                      const quarn_type *const *type_args, std::size_t type_arg_count,
                      const quarn_value *const *args, std::size_t arg_count) noexcept {
    return Invocation{function,
                      not_null(table, function),
                      not_null(entry, function),
                      checked_array(signature, signature_length, function),
                      checked_array(type_args, type_arg_count, function),
                      checked_array(args, arg_count, function)};
}

// The checked signatures of the entry points a thread called last. A generated signature is
// the same bytes call after call, so each thread reads and checks it once; entries are
// compared by table and bytes (not by address: a host may reuse its storage). Shared
// pointers keep an entry alive while a call that uses it runs, even if a host function called
// back from that call evicts it.
class SignatureCache {
public:
    using Checked = std::shared_ptr<const wire::Signature>;

    Checked find(const quarn_types *table, std::span<const std::uint8_t> bytes) const noexcept {
        for (const Entry &entry : entries_) {
            if (entry.table == table && entry.bytes.size() == bytes.size() &&
                std::equal(bytes.begin(), bytes.end(), entry.bytes.begin()))
                return entry.signature;
        }
        return nullptr;
    }

    Checked insert(const quarn_types *table, std::span<const std::uint8_t> bytes,
                   wire::Signature &&signature) {
        Entry &entry = entries_[next_];
        next_ = (next_ + 1) % kEntries;
        entry.table = table;
        entry.bytes.assign(bytes.begin(), bytes.end());
        entry.signature =
            std::allocate_shared<wire::Signature>(PanicAllocator<wire::Signature>(), std::move(signature));
        return entry.signature;
    }

private:
    static constexpr std::size_t kEntries = 8;
    struct Entry {
        const quarn_types *table = nullptr;
        Vector<std::uint8_t> bytes;
        Checked signature;
    };
    Entry entries_[kEntries];
    std::size_t next_ = 0;
};

// The signature a call runs with: the checked signature itself, or its instantiation with
// the call's type arguments.
struct PreparedSignature {
    SignatureCache::Checked checked;
    wire::Signature instantiated;
    const wire::Signature &get() const noexcept {
        return checked->type_parameters == 0 ? *checked : instantiated;
    }
};

// The signature read and checked against the table, from the thread's cache when it was
// seen before.
SignatureCache::Checked checked_signature(const Invocation &call) noexcept {
    thread_local SignatureCache cache;
    if (SignatureCache::Checked found = cache.find(call.table, call.signature)) return found;
    wire::Signature generic;
    Text error;
    if (!wire::read_signature(call.signature.data(), call.signature.size(), generic, error) ||
        !wire::check_signature(*call.table, generic, error)) {
        fatal(call.function, kInvalidSignature, error);
    }
    return cache.insert(call.table, call.signature, std::move(generic));
}

// Reads the signature and instantiates it with the type arguments. Every failure here is
// the host's or the compiled program's misuse and ends the process.
void prepare_signature(const Invocation &call, PreparedSignature &out) noexcept {
    out.checked = checked_signature(call);
    const wire::Signature &generic = *out.checked;
    for (const quarn_type *type : call.type_args) {
        if (type == nullptr) fatal(call.function, kNullPointer);
        if (type->table != nullptr && type->table != call.table)
            fatal(call.function, "types of different programs");
    }
    if (call.type_args.size() != generic.type_parameters) {
        fatal(call.function, decimal(static_cast<long long>(call.type_args.size())),
              " type arguments for ", decimal(generic.type_parameters), " type parameters");
    }
    if (generic.type_parameters == 0) return;  // checked with the signature
    Vector<TypeExpr> type_args;
    type_args.reserve(call.type_args.size());
    for (const quarn_type *type : call.type_args) type_args.push_back(type->expr);
    Text error;
    if (!wire::instantiate_signature(generic, type_args, out.instantiated, error) ||
        !wire::check_result_description(*call.table, 0, out.instantiated.result, error)) {
        fatal(call.function, kInvalidSignature, error);
    }
}

// Writes the argument block: the type arguments, then each argument with its parameter
// type. False with the failure's message in `error`.
bool write_block(const Invocation &call, const wire::Signature &signature, wire::ByteSink &block,
                 Text &error) noexcept {
    if (call.args.size() != signature.params.size()) {
        append_pieces(error, {decimal(static_cast<long long>(call.args.size())), " arguments for ",
                              decimal(static_cast<long long>(signature.params.size())), " parameters"});
        return false;
    }
    block.u32(static_cast<std::uint32_t>(call.type_args.size()));
    for (const quarn_type *type : call.type_args) wire::encode_type_expr(type->expr, block);
    Text why;
    for (std::size_t i = 0; i < call.args.size(); ++i) {
        if (call.args[i] == nullptr) fatal(call.function, kNullPointer);
        if (!wire::write_value(*call.args[i], signature.params[i], call.table, block, why)) {
            append_pieces(error, {"argument ", decimal(static_cast<long long>(i + 1)), ": ", why});
            return false;
        }
    }
    return true;
}

// Checks the host's arguments, writes the block and calls the entry point. QUARN_OK with the
// result block in `output`; QUARN_MALFORMED with a new failure in *error_out.
int call_entry(const Invocation &call, PreparedSignature &prepared, OutputBuffer &output,
               quarn_error **error_out) noexcept {
    prepare_signature(call, prepared);
    const wire::Signature &signature = prepared.get();
    wire::ByteSink block;
    Text error;
    if (!write_block(call, signature, block, error)) {
        *error_out = new_failure(error);
        return QUARN_MALFORMED;
    }
    int status = call.entry(block.data(), block.length(), &output.buffer);
    if (status == 1) {
        const quarn_buffer &message = output.buffer;
        *error_out = new_failure({reinterpret_cast<const char *>(message.data), message.length});
        return QUARN_MALFORMED;
    }
    if (status != 0) fatal(call.function, "a generated entry point returned status ", decimal(status));
    return QUARN_OK;
}

// Reads an IO result block's error: the handle of the IO error object and its text.
quarn_error *read_io_error(wire::Reader &reader) noexcept {
    std::uint64_t handle;
    std::uint32_t length;
    const std::uint8_t *text;
    if (!reader.u64(handle) || !reader.count(length) || !reader.take(length, text)) return nullptr;
    return new_io_error(handle, {reinterpret_cast<const char *>(text), length});
}

// Reads the result block of a pure, IO or EIO function into a value or an error. Returns
// QUARN_OK or QUARN_FAILED; a block that cannot be read ends the process.
int read_result(const Invocation &call, const wire::ResultDescription &result, const quarn_buffer &block,
                quarn_value **result_out, quarn_error **error_out) noexcept {
    wire::Reader reader(block.data, block.length);
    quarn_value *value = nullptr;
    quarn_error *error = nullptr;
    std::uint8_t tag = 0;
    if (result.kind != wire::ResultKind::Pure && reader.u8(tag) && tag > 1) {
        reader.fail({result.kind == wire::ResultKind::Io ? "invalid IO result tag " : "invalid EIO result tag ",
                     decimal(tag)});
    } else if (!reader.error().empty()) {
        // the tag could not be read
    } else if (tag == 0) {
        value = wire::read_value(reader, result.value, call.table);
    } else if (result.kind == wire::ResultKind::Io) {
        error = read_io_error(reader);
    } else if (quarn_value *error_value = wire::read_value(reader, result.error, call.table)) {
        error = new_value_error(error_value);
    }
    if (value == nullptr && error == nullptr) {
        fatal(call.function, "the runtime produced a malformed result: ", reader.error());
    }
    if (!reader.at_end()) {
        // Nothing of a malformed block reaches the host (handles in it stay in the table).
        free_tree(value, Handles::Keep, call.function);
        if (error != nullptr) error->handle = 0;
        quarn_error_free(error);
        fatal(call.function, "the runtime produced a malformed result: ",
              decimal(static_cast<long long>(reader.remaining())), " unexpected bytes after the wire data");
    }
    if (error != nullptr) {
        *error_out = error;
        return QUARN_FAILED;
    }
    *result_out = value;
    return QUARN_OK;
}

}  // namespace

}  // namespace quarn::capi

using namespace quarn;
using namespace quarn::capi;

extern "C" {

QUARN_API int quarn_invoke(const quarn_types *table, quarn_entry_point entry, const uint8_t *signature,
                           size_t signature_length, const quarn_type *const *type_args,
                           size_t type_arg_count, const quarn_value *const *args, size_t arg_count,
                           quarn_value **result_out, quarn_error **error_out) noexcept {
    not_null(result_out, kInvoke);
    not_null(error_out, kInvoke);
    *result_out = nullptr;
    *error_out = nullptr;
    Invocation call = invocation(kInvoke, table, entry, signature, signature_length, type_args, type_arg_count,
                                 args, arg_count);
    PreparedSignature prepared;
    OutputBuffer output;
    int status = call_entry(call, prepared, output, error_out);
    if (status != QUARN_OK) return status;
    const wire::ResultDescription &result = prepared.get().result;
    if (result.kind == wire::ResultKind::Async)
        fatal(kInvoke, "the function returns an async program; call it with quarn_invoke_async");
    return read_result(call, result, output.buffer, result_out, error_out);
}

QUARN_API int quarn_invoke_async(const quarn_types *table, quarn_entry_point entry,
                                 const uint8_t *signature, size_t signature_length,
                                 const quarn_type *const *type_args, size_t type_arg_count,
                                 const quarn_value *const *args, size_t arg_count, quarn_step *step_out,
                                 quarn_error **error_out) noexcept {
    not_null(step_out, kInvokeAsync);
    not_null(error_out, kInvokeAsync);
    reset_step(*step_out);
    *error_out = nullptr;
    Invocation call = invocation(kInvokeAsync, table, entry, signature, signature_length, type_args,
                                 type_arg_count, args, arg_count);
    PreparedSignature prepared;
    OutputBuffer output;
    int status = call_entry(call, prepared, output, error_out);
    if (status != QUARN_OK) return status;
    const wire::ResultDescription &result = prepared.get().result;
    if (result.kind != wire::ResultKind::Async)
        fatal(kInvokeAsync, "the function does not return an async program; call it with quarn_invoke");
    Text error;
    if (!read_step(output.buffer.data, output.buffer.length, table, result.operations, result.value,
                   *step_out, error)) {
        fatal(kInvokeAsync, "the runtime produced a malformed step: ", error);
    }
    return QUARN_OK;
}

}  // extern "C"

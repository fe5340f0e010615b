// Async programs: the steps a Lean async program takes, the resumptions that wait for the
// host's answers, and the host's functions that answer, cancel and count them.
#include "capi/async_program.h"

#include "capi/buffer.h"
#include "capi/call.h"
#include "capi/error.h"
#include "capi/fatal.h"
#include "capi/type_expr.h"
#include "capi/value_record.h"
#include "quarn/closure.h"
#include "quarn/entry.h"
#include "wire/object_codec.h"
#include "wire/signature.h"
#include "wire/value_codec.h"

namespace quarn::capi {

namespace {

constexpr std::string_view kLayout = ": its layout is not the one quarn reads";

// The position of the operation's constructor in the operations type. With one constructor
// (or a trivial structure) the value's tag says nothing and the position is 0.
std::uint32_t operation_constructor(std::string_view function, const AsyncTypes &types,
                                    const quarn_object *operation) noexcept {
    const Definition &definition = types.table->definitions[types.operations];
    if (definition.trivial || definition.constructors.size() == 1) return 0;
    std::uint64_t tag = quarn_is_scalar(operation) ? quarn_unbox(operation) : quarn_ptr_tag(operation);
    for (std::size_t i = 0; i < definition.constructors.size(); ++i)
        if (definition.constructors[i].tag == tag) return static_cast<std::uint32_t>(i);
    fatal(function, "invalid constructor tag ", unsigned_decimal(tag), " for the operations ",
          definition.name);
}

}  // namespace

void write_step(std::string_view function, const SharedAsyncTypes &types, quarn_object *program,
                wire::ByteSink &out) noexcept {
    if (quarn_is_scalar(program)) fatal(function, "an async program is a scalar", kLayout);
    unsigned tag = quarn_ptr_tag(program);
    unsigned fields = tag <= QUARN_MAX_CTOR_TAG ? quarn_ctor_num_objs(program) : 0;
    if ((tag != 0 && tag != 1) || fields < tag + 1)
        fatal(function, "an async program has constructor tag ", decimal(tag), kLayout);
    if (tag == 0) {
        out.u8(QUARN_STEP_DONE);
        wire::encode_object(types->table, types->result, quarn_ctor_get(program, 0), out);
    } else {
        quarn_object *operation = quarn_ctor_get(program, 0);
        std::uint32_t constructor = operation_constructor(function, *types, operation);
        out.u8(QUARN_STEP_OPERATION);
        wire::encode_object(types->table, types->operation, operation, out);
        // The answer may come on another thread.
        quarn_object *continuation = quarn_ctor_get(program, 1);
        quarn_inc(continuation);
        quarn_mark_mt(continuation);
        out.u64(add_resumption(Pending{types, constructor, continuation}));
    }
    quarn_dec(program);
}

bool read_step(const std::uint8_t *bytes, std::size_t length, const quarn_types *table,
               std::uint32_t operations, const TypeExpr &result, quarn_step &step, Text &error) noexcept {
    reset_step(step);
    wire::Reader reader(bytes, length);
    std::uint8_t kind;
    quarn_value *value = nullptr;
    std::uint64_t resumption = 0;
    bool read = reader.u8(kind);
    if (read && kind == QUARN_STEP_DONE) {
        read = (value = wire::read_value(reader, result, table)) != nullptr;
    } else if (read && kind == QUARN_STEP_OPERATION) {
        TypeExpr operation{Kind::Inductive, operations, {}};
        read = (value = wire::read_value(reader, operation, table)) != nullptr && reader.u64(resumption);
    } else if (read) {
        read = reader.fail({"invalid step kind ", decimal(kind)});
    }
    if (!read) {
        free_tree(value, Handles::Keep, "read_step");
        error = reader.take_error();
        return false;
    }
    if (!reader.at_end()) {
        free_tree(value, Handles::Keep, "read_step");
        error.clear();
        append_pieces(error, {decimal(static_cast<long long>(reader.remaining())),
                              " unexpected bytes after the wire data"});
        return false;
    }
    step.kind = kind;
    step.value = value;
    step.resumption = resumption;
    return true;
}

namespace {

// The outcome of answering a resumption: a status, and the next step's bytes (QUARN_OK) or
// the message (any other status).
struct Answered {
    int status = QUARN_OK;
    Text message;
    SharedAsyncTypes types;
};

Answered not_live(std::uint64_t id) {
    Answered answered{QUARN_NOT_LIVE, {}, nullptr};
    append_pieces(answered.message,
                  {unsigned_decimal(id), " is not a live resumption: it was resumed or cancelled already"});
    return answered;
}

// Resumes `id` with the answer's wire bytes read in `mode`: removes the record, applies the
// continuation to the answer and writes the next step into `step`.
Answered resume(std::string_view function, std::uint64_t id, const std::uint8_t *answer,
                std::size_t length, wire::HandleMode mode, wire::ByteSink &step) noexcept {
    std::optional<Pending> pending = take_resumption(id);
    if (!pending) return not_live(id);
    const AsyncTypes &types = *pending->types;
    Text error;
    quarn_object *value = wire::decode_object_exact(types.table, types.answers[pending->constructor],
                                                    answer, length, mode, error);
    if (value == nullptr) {
        quarn_dec(pending->continuation);
        Answered answered{QUARN_MALFORMED, "the answer is malformed: ", nullptr};
        answered.message.append(error);
        return answered;
    }
    quarn_object *next = quarn_apply_1(pending->continuation, value);
    write_step(function, pending->types, next, step);
    return Answered{QUARN_OK, {}, std::move(pending->types)};
}

}  // namespace

}  // namespace quarn::capi

using namespace quarn;
using namespace quarn::capi;

extern "C" {

QUARN_API void quarn_call_write_async(quarn_call *call, quarn_object *program,
                                      const uint8_t *description, size_t description_length) noexcept {
    constexpr std::string_view kFunction = "quarn_call_write_async";
    constexpr std::string_view kInvalid = "a generated async result description is invalid: ";
    quarn_call &c = expect_call(call, kFunction);
    if (description == nullptr && description_length != 0) fatal(kFunction, kNullPointer);
    wire::Reader reader(description, description_length);
    wire::ResultDescription generic;
    if (!wire::read_result_description(reader, generic)) fatal(kFunction, kInvalid, reader.error());
    if (!reader.at_end()) {
        fatal(kFunction, kInvalid, decimal(static_cast<long long>(reader.remaining())),
              " unexpected bytes after the wire data");
    }
    if (generic.kind != wire::ResultKind::Async)
        fatal(kFunction, "an async step of a function that does not return an async program");
    Text error;
    auto parameters = static_cast<std::uint32_t>(c.type_args.size());
    if (c.failed()) return quarn_dec(program);  // quarn_call_end reports the error
    if (!wire::check_result_description(*c.table, parameters, generic, error))
        fatal(kFunction, kInvalid, error);
    TypeExpr result;
    if (!has_param(generic.value)) {
        result = std::move(generic.value);
    } else if (!instantiate(generic.value, c.type_args, result, error)) {
        fatal(kFunction, "a generated signature does not match its call: ", error);
    }
    SharedAsyncTypes types =
        make_async_types(c.table, generic.operations, std::move(generic.answers), std::move(result));
    write_step(kFunction, types, program, c.output);
}

QUARN_API int quarn_resume(uint64_t resumption, const quarn_value *answer, quarn_step *step_out,
                           quarn_error **error_out) noexcept {
    constexpr std::string_view kFunction = "quarn_resume";
    not_null(step_out, kFunction);
    not_null(error_out, kFunction);
    reset_step(*step_out);
    *error_out = nullptr;
    not_null(answer, kFunction);

    std::optional<Pending> pending = peek_resumption(resumption);
    if (!pending) {
        Answered answered = not_live(resumption);
        *error_out = new_failure(answered.message);
        return answered.status;
    }
    const AsyncTypes &types = *pending->types;
    wire::ByteSink answer_bytes;
    Text error;
    if (!wire::write_value(*answer, types.answers[pending->constructor], types.table, answer_bytes, error)) {
        cancel_resumption(resumption);
        *error_out = new_failure(error);
        return QUARN_MALFORMED;
    }
    // Borrowing: the host keeps its value and every handle in it; the program takes new
    // references of its own.
    wire::ByteSink step;
    Answered answered = resume(kFunction, resumption, answer_bytes.data(), answer_bytes.length(),
                               wire::HandleMode::Borrow, step);
    if (answered.status != QUARN_OK) {
        *error_out = new_failure(answered.message);
        return answered.status;
    }
    if (!read_step(step.data(), step.length(), types.table, types.operations, answered.types->result,
                   *step_out, error)) {
        fatal(kFunction, "the runtime produced a malformed step: ", error);
    }
    return QUARN_OK;
}

QUARN_API void quarn_step_clear(quarn_step *step) noexcept {
    not_null(step, "quarn_step_clear");
    free_tree(step->value, Handles::Release, "quarn_step_clear");
    reset_step(*step);
}

QUARN_API int quarn_async_resume(uint64_t resumption, const uint8_t *answer, size_t length,
                                 quarn_buffer *output) noexcept {
    constexpr std::string_view kFunction = "quarn_async_resume";
    require_empty(output, kFunction);
    if (answer == nullptr && length != 0) fatal(kFunction, kNullPointer);
    wire::ByteSink step;
    // Adopting: the bytes hand their handles over to the program.
    Answered answered = resume(kFunction, resumption, answer, length, wire::HandleMode::Adopt, step);
    if (answered.status != QUARN_OK) {
        wire::ByteSink message;
        message.bytes(answered.message.data(), answered.message.size());
        message.hand_over(output, kFunction);
        return answered.status;
    }
    step.hand_over(output, kFunction);
    return QUARN_OK;
}

QUARN_API int quarn_async_cancel(uint64_t resumption) noexcept {
    return cancel_resumption(resumption) ? QUARN_OK : QUARN_NOT_LIVE;
}

QUARN_API size_t quarn_async_outstanding(void) noexcept { return resumption_count(); }

}  // extern "C"

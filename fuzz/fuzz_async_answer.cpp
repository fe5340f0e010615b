// Answers to a waiting async program, as wire bytes. The first byte picks the answer type
// (a codec case of sample_types.h that needs no type argument); the program asks
// Color.red, Color.green or Color.blue (the second byte) and, once answered, finishes with
// Unit. Whatever the bytes, quarn_async_resume must return a status, leave no resumption
// waiting and release everything (the leak checker watches every input).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "capi/async_program.h"
#include "capi/type_expr.h"
#include "quarn/closure.h"
#include "quarn/host.h"
#include "sample_types.h"

namespace {

constexpr uint32_t kColor = 2;  // Color: red (tag 1), green (tag 0), blue (tag 2)

quarn_object *finish(quarn_object *answer) {
    quarn_dec(answer);
    quarn_object *done = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(done, 0, quarn_box(0));
    return done;
}

// A program waiting on `operation` (a Color tag), answered by a value of `answer`.
uint64_t start_program(const quarn_types *table, const quarn::capi::TypeExpr &answer, unsigned tag) {
    quarn::Vector<quarn::capi::TypeExpr> answers(3, answer);
    auto types = quarn::capi::make_async_types(table, kColor, std::move(answers), fuzz::node(fuzz::Kind::Unit));
    quarn_object *program = quarn_alloc_ctor(1, 2, 0);
    quarn_ctor_set(program, 0, quarn_box(tag));
    quarn_ctor_set(program, 1, quarn_alloc_closure(reinterpret_cast<void *>(finish), 1, 0));
    quarn::wire::ByteSink step;
    quarn::capi::write_step("fuzz_async_answer", types, program, step);
    uint64_t id;
    std::memcpy(&id, step.data() + step.length() - 8, 8);
    return id;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::Samples &setup = *new fuzz::Samples;
    if (size < 2) return 0;
    const fuzz::CodecCase &c = setup.cases[data[0] % setup.cases.size()];
    if (quarn::capi::has_param(c.type)) return 0;
    uint64_t id = start_program(setup.table, c.type, data[1] % 3);
    quarn_buffer output = QUARN_BUFFER_EMPTY;
    int status = quarn_async_resume(id, data + 2, size - 2, &output);
    if (status != QUARN_OK && status != QUARN_MALFORMED) std::abort();
    if (output.data == nullptr) std::abort();
    // Done with Unit: the step is the one byte 0.
    if (status == QUARN_OK && (output.length != 1 || output.data[0] != 0)) std::abort();
    quarn_buffer_free(&output);
    if (quarn_async_outstanding() != 0) std::abort();
    // Answered or refused, the resumption is gone.
    if (quarn_async_cancel(id) != QUARN_NOT_LIVE) std::abort();
    return 0;
}

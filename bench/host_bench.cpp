// Calling a compiled program from a host, against a direct C call in the same run:
// - quarn_invoke of add (Nat, Nat) with host values, end to end, against calling the
//   compiled add directly on boxed numbers;
// - the parts of that call: writing the argument block from host values, the entry point
//   (reading the block, the call, writing the result block), reading the result block into
//   a host value;
// - one step of an async program: quarn_async_resume with a small answer (a Nat), which
//   reads the answer, applies the continuation and writes the next operation step.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "capi/types.h"
#include "capi/value.h"
#include "program.h"
#include "quarn/host.h"
#include "quarn/quarn.h"
#include "wire/byte_sink.h"
#include "wire/value_codec.h"

namespace {

using quarn::capi::Kind;
using quarn::capi::TypeExpr;

const kit_program_function &function(const char *name) {
    const kit_program_function *f = kit_program_function_named(name);
    if (f == nullptr) std::abort();
    return *f;
}

void BM_InvokeAdd(benchmark::State &state) {
    const quarn_types *table = kit_program_types();
    const kit_program_function &add = function("add");
    quarn_value *a = quarn_value_nat(40), *b = quarn_value_nat(2);
    const quarn_value *args[] = {a, b};
    for (auto _ : state) {
        quarn_value *result = nullptr;
        quarn_error *error = nullptr;
        if (quarn_invoke(table, add.entry, add.signature, add.signature_length, nullptr, 0, args, 2, &result,
                         &error) != QUARN_OK)
            std::abort();
        benchmark::DoNotOptimize(result);
        quarn_value_free(result);
    }
    quarn_value_free(a);
    quarn_value_free(b);
}
BENCHMARK(BM_InvokeAdd);

// The compiled add as the program's own code calls it: both arguments owned, boxed.
__attribute__((noinline)) quarn_object *compiled_add(quarn_object *a, quarn_object *b) {
    quarn_object *r = quarn_nat_add(a, b);
    quarn_dec(a);
    quarn_dec(b);
    return r;
}

void BM_DirectAdd(benchmark::State &state) {
    quarn_object *a = quarn_box(40), *b = quarn_box(2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        quarn_object *r = compiled_add(a, b);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_DirectAdd);

// ---- the parts of one invocation ---------------------------------------------------------

void BM_InvokePartWriteArguments(benchmark::State &state) {
    quarn_value *a = quarn_value_nat(40), *b = quarn_value_nat(2);
    TypeExpr nat{Kind::Nat, 0, {}};
    quarn::Text error;
    for (auto _ : state) {
        quarn::wire::ByteSink block;
        block.u32(0);
        if (!quarn::wire::write_value(*a, nat, nullptr, block, error) ||
            !quarn::wire::write_value(*b, nat, nullptr, block, error))
            std::abort();
        benchmark::DoNotOptimize(block.data());
    }
    quarn_value_free(a);
    quarn_value_free(b);
}
BENCHMARK(BM_InvokePartWriteArguments);

void BM_InvokePartEntryPoint(benchmark::State &state) {
    kit_program_types();
    const kit_program_function &add = function("add");
    const uint8_t block[] = {0, 0, 0, 0, 1, 0, 0, 0, 40, 1, 0, 0, 0, 2};
    for (auto _ : state) {
        quarn_buffer output = QUARN_BUFFER_EMPTY;
        if (add.entry(block, sizeof block, &output) != 0) std::abort();
        benchmark::DoNotOptimize(output.data);
        quarn_buffer_free(&output);
    }
}
BENCHMARK(BM_InvokePartEntryPoint);

void BM_InvokePartReadResult(benchmark::State &state) {
    const uint8_t result[] = {1, 0, 0, 0, 42};
    TypeExpr nat{Kind::Nat, 0, {}};
    quarn::Text error;
    for (auto _ : state) {
        quarn_value *v = quarn::wire::decode_value(result, sizeof result, nat, nullptr, error);
        benchmark::DoNotOptimize(v);
        quarn_value_free(v);
    }
}
BENCHMARK(BM_InvokePartReadResult);

// ---- one async step ------------------------------------------------------------------------

void BM_AsyncResumeStep(benchmark::State &state) {
    const quarn_types *table = kit_program_types();
    const kit_program_function &tally = function("tally");
    quarn_value *start = quarn_value_nat(1);
    const quarn_value *args[] = {start};
    quarn_step step = QUARN_STEP_EMPTY;
    quarn_error *error = nullptr;
    if (quarn_invoke_async(table, tally.entry, tally.signature, tally.signature_length, nullptr, 0, args, 1, &step,
                           &error) != QUARN_OK)
        std::abort();
    uint64_t resumption = step.resumption;
    quarn_step_clear(&step);
    // The answer: the Nat 5. Each step asks `add 5 1` again under a new resumption.
    const uint8_t answer[] = {1, 0, 0, 0, 5};
    for (auto _ : state) {
        quarn_buffer next = QUARN_BUFFER_EMPTY;
        if (quarn_async_resume(resumption, answer, sizeof answer, &next) != QUARN_OK) std::abort();
        std::memcpy(&resumption, next.data + next.length - 8, 8);
        quarn_buffer_free(&next);
    }
    quarn_async_cancel(resumption);
    quarn_value_free(start);
}
BENCHMARK(BM_AsyncResumeStep);

}  // namespace

// A Lean -> host function round trip through the built-in C host: compiled code applies the
// closure of a C host function (Nat -> Nat, doubling) to a boxed Nat. Against its peer in the
// same run, a Lean closure whose code does the same work natively, and the pieces the round
// trip is made of: writing the argument, reading it into a host value, the C function,
// writing the result block and reading it back into a Lean object.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "capi/value_record.h"
#include "quarn/quarn.h"
#include "table_bytes.h"
#include "wire/object_codec.h"
#include "wire/value_codec.h"

namespace {

using quarn::capi::Kind;
using quarn::capi::TypeExpr;

TypeExpr simple(Kind kind) { return TypeExpr{kind, 0, {}}; }

TypeExpr nat_to_nat() {
    TypeExpr f{Kind::Function, 0, {}};
    f.children.push_back(simple(Kind::Nat));
    f.children.push_back(simple(Kind::Nat));
    return f;
}

int double_nat(void *, const quarn_value *const *args, size_t, quarn_value **result, quarn_error **) {
    uint64_t n = 0;
    quarn_value_get_nat(args[0], &n);
    *result = quarn_value_nat(n * 2);
    return QUARN_OK;
}

const quarn_types *empty_table() {
    static const quarn_types *table = [] {
        kit::Bytes bytes;
        bytes.header(0);
        return quarn_types_load(bytes.data.data(), bytes.data.size());
    }();
    return table;
}

// The closure compiled code holds for a C host function value (one reference, persistent).
quarn_object *host_function_closure() {
    static quarn_object *f = [] {
        quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT);
        quarn_type *params[] = {nat};
        quarn_type *type = quarn_type_function(params, 1, nat);
        quarn_value *value = quarn_value_function(type, double_nat, nullptr, nullptr);
        kit::Bytes bytes;
        bytes.u8(1).u64(value->bits);
        quarn::Text error;
        quarn_object *closure = quarn::wire::decode_object_exact(empty_table(), nat_to_nat(), bytes.data.data(),
                                                                 bytes.data.size(),
                                                                 quarn::wire::HandleMode::Borrow, error);
        if (closure == nullptr) std::abort();
        quarn_mark_persistent(closure);
        quarn_type_free(type);
        quarn_type_free(nat);
        return closure;
    }();
    return f;
}

void BM_HostFunctionRoundTrip(benchmark::State &state) {
    quarn_object *f = host_function_closure();
    uint64_t n = 0;
    for (auto _ : state) {
        quarn_object *r = quarn_apply_1(f, quarn_box(n++ & 0xFFFF));
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_HostFunctionRoundTrip);

// The peer: a Lean closure of the same arity whose code doubles natively.
quarn_object *double_code(quarn_object *fixed, quarn_object *n) {
    return quarn_lean_nat_add(n, quarn_lean_nat_mul(fixed, n));
}

void BM_PeerLeanClosure(benchmark::State &state) {
    quarn_object *f = quarn_alloc_closure(reinterpret_cast<void *>(double_code), 2, 1);
    quarn_closure_set(f, 0, quarn_box(1));
    quarn_mark_persistent(f);
    uint64_t n = 0;
    for (auto _ : state) {
        quarn_object *r = quarn_apply_1(f, quarn_box(n++ & 0xFFFF));
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_PeerLeanClosure);

// ---- the pieces ---------------------------------------------------------------------------

void BM_PieceWriteArgument(benchmark::State &state) {
    TypeExpr nat = simple(Kind::Nat);
    for (auto _ : state) {
        quarn::wire::ByteSink bytes;
        quarn::wire::encode_object(empty_table(), nat, quarn_box(12345), bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_PieceWriteArgument);

void BM_PieceReadArgumentValue(benchmark::State &state) {
    TypeExpr nat = simple(Kind::Nat);
    const uint8_t bytes[] = {2, 0, 0, 0, 0x39, 0x30};
    for (auto _ : state) {
        quarn::wire::Reader reader(bytes, sizeof bytes);
        quarn_value *v = quarn::wire::read_value(reader, nat, empty_table());
        quarn_value_free(v);
    }
}
BENCHMARK(BM_PieceReadArgumentValue);

void BM_PieceWriteResultValue(benchmark::State &state) {
    TypeExpr nat = simple(Kind::Nat);
    for (auto _ : state) {
        quarn_value *v = quarn_value_nat(24690);
        quarn::wire::ByteSink bytes;
        quarn::Text error;
        quarn::wire::write_value(*v, nat, empty_table(), bytes, error);
        quarn_value_free(v);
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_PieceWriteResultValue);

void BM_PieceReadResult(benchmark::State &state) {
    TypeExpr nat = simple(Kind::Nat);
    const uint8_t bytes[] = {2, 0, 0, 0, 0x72, 0x60};
    for (auto _ : state) {
        quarn::Text error;
        quarn_object *o = quarn::wire::decode_object_exact(empty_table(), nat, bytes, sizeof bytes,
                                                           quarn::wire::HandleMode::Adopt, error);
        benchmark::DoNotOptimize(o);
    }
}
BENCHMARK(BM_PieceReadResult);

}  // namespace

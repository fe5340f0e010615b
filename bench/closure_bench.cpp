// Closure application, thunks and reference cells, against their peers in the same run:
// calling the code pointer directly, and allocating and freeing the closure's block.
#include <benchmark/benchmark.h>

#include <mimalloc.h>

#include <quarn/closure.h>
#include <quarn/quarn.h>

namespace {

using Value = quarn_object *;

// The code under every closure below: adds two boxed numbers.
Value add(Value a, Value b) { return quarn_box(quarn_unbox(a) + quarn_unbox(b)); }

// Arity 3, for over-application: returns a closure of `add` holding a + b + c.
Value add3_then_adder(Value a, Value b, Value c) {
    Value adder = quarn_alloc_closure(reinterpret_cast<void *>(&add), 2, 1);
    quarn_closure_set(adder, 0, quarn_box(quarn_unbox(a) + quarn_unbox(b) + quarn_unbox(c)));
    return adder;
}

Value adder_closure(size_t fixed_value) {
    Value c = quarn_alloc_closure(reinterpret_cast<void *>(&add), 2, 1);
    quarn_closure_set(c, 0, quarn_box(fixed_value));
    return c;
}

// Peer: the code pointer called directly, through a pointer the compiler cannot see through.
void BM_DirectCall(benchmark::State &state) {
    Value (*code)(Value, Value) = &add;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(code(quarn_box(1), quarn_box(i++)));
    }
}
BENCHMARK(BM_DirectCall);

// Peer of exact application: the direct call plus an allocation and a release of a block of
// the closure's size (size word, header, code pointer, counts, one fixed argument).
void BM_DirectCallWithMiMalloc(benchmark::State &state) {
    Value (*code)(Value, Value) = &add;
    size_t i = 0;
    for (auto _ : state) {
        auto *block = static_cast<uint64_t *>(mi_malloc(40));
        block[0] = 32;
        block[1] = 0xF500000000000001;
        block[2] = reinterpret_cast<uint64_t>(code);
        block[4] = reinterpret_cast<uint64_t>(quarn_box(1));
        benchmark::DoNotOptimize(block);
        auto fn = reinterpret_cast<Value (*)(Value, Value)>(block[2]);
        benchmark::DoNotOptimize(fn(reinterpret_cast<Value>(block[4]), quarn_box(i++)));
        mi_free(block);
    }
}
BENCHMARK(BM_DirectCallWithMiMalloc);

// Peer: one allocation, the closure's own block made and freed.
void BM_AllocateAndFreeClosure(benchmark::State &state) {
    for (auto _ : state) {
        Value c = adder_closure(1);
        benchmark::DoNotOptimize(c);
        quarn_free_object(c);
    }
}
BENCHMARK(BM_AllocateAndFreeClosure);

// Exact application of an exclusive closure of arity 2 with one fixed argument, as compiled
// code makes and calls a closure used once: allocation, application, release.
void BM_ApplyExactExclusive(benchmark::State &state) {
    size_t i = 0;
    for (auto _ : state) {
        Value c = adder_closure(1);
        benchmark::DoNotOptimize(quarn_apply_1(c, quarn_box(i++)));
    }
}
BENCHMARK(BM_ApplyExactExclusive);

// Exact application of a closure kept by the caller (no allocation; counts move).
void BM_ApplyExactShared(benchmark::State &state) {
    Value c = adder_closure(1);
    size_t i = 0;
    for (auto _ : state) {
        quarn_inc(c);
        benchmark::DoNotOptimize(quarn_apply_1(c, quarn_box(i++)));
    }
    quarn_dec(c);
}
BENCHMARK(BM_ApplyExactShared);

// Under-application: a closure of arity 2 without fixed arguments given one.
void BM_ApplyUnder(benchmark::State &state) {
    Value c = quarn_alloc_closure(reinterpret_cast<void *>(&add), 2, 0);
    size_t i = 0;
    for (auto _ : state) {
        quarn_inc(c);
        Value g = quarn_apply_1(c, quarn_box(i++));
        benchmark::DoNotOptimize(g);
        quarn_dec(g);
    }
    quarn_dec(c);
}
BENCHMARK(BM_ApplyUnder);

// Over-application: arity 3 given four arguments, the result applied to the fourth.
void BM_ApplyOver(benchmark::State &state) {
    Value c = quarn_alloc_closure(reinterpret_cast<void *>(&add3_then_adder), 3, 0);
    size_t i = 0;
    for (auto _ : state) {
        quarn_inc(c);
        benchmark::DoNotOptimize(
            quarn_apply_4(c, quarn_box(1), quarn_box(2), quarn_box(3), quarn_box(i++)));
    }
    quarn_dec(c);
}
BENCHMARK(BM_ApplyOver);

// Forcing a thunk that is already evaluated.
void BM_ThunkGetEvaluated(benchmark::State &state) {
    Value t = quarn_lean_thunk_pure(quarn_alloc_ctor(0, 0, 0));
    for (auto _ : state) {
        Value v = quarn_lean_thunk_get_own(t);
        benchmark::DoNotOptimize(v);
        quarn_dec(v);
    }
    quarn_dec(t);
}
BENCHMARK(BM_ThunkGetEvaluated);

// Single-threaded cells. get of an object includes the caller's release of the result, so
// that the count stays put; get of a scalar is the cell's own path alone; set stores a
// scalar over a scalar.
void BM_RefGetSingleThreaded(benchmark::State &state) {
    Value cell = quarn_lean_st_mk_ref(quarn_alloc_ctor(0, 0, 0));
    for (auto _ : state) {
        Value v = quarn_lean_st_ref_get(cell);
        benchmark::DoNotOptimize(v);
        quarn_dec(v);
    }
    quarn_dec(cell);
}
BENCHMARK(BM_RefGetSingleThreaded);

// Peer: the same load, increment and release of the value inline, without the call.
void BM_InlineReadIncDec(benchmark::State &state) {
    Value cell = quarn_lean_st_mk_ref(quarn_alloc_ctor(0, 0, 0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(cell);
        Value v = reinterpret_cast<quarn_ref_object *>(cell)->value;
        quarn_inc(v);
        benchmark::DoNotOptimize(v);
        quarn_dec(v);
    }
    quarn_dec(cell);
}
BENCHMARK(BM_InlineReadIncDec);

// get alone, over 16 cells each holding an object of its own, so that one get does not
// wait for the count the previous one wrote. The counts grow by one per get (far from
// overflowing in the iterations of a run) and are put back afterwards.
void BM_RefGetOnlySingleThreaded(benchmark::State &state) {
    constexpr size_t kCells = 16;
    Value cells[kCells];
    for (Value &cell : cells) cell = quarn_lean_st_mk_ref(quarn_alloc_ctor(0, 0, 0));
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(quarn_lean_st_ref_get(cells[i++ % kCells]));
    for (Value cell : cells) {
        reinterpret_cast<quarn_ref_object *>(cell)->value->rc = 1;
        quarn_dec(cell);
    }
}
BENCHMARK(BM_RefGetOnlySingleThreaded);

void BM_RefGetScalarSingleThreaded(benchmark::State &state) {
    Value cell = quarn_lean_st_mk_ref(quarn_box(5));
    for (auto _ : state) benchmark::DoNotOptimize(quarn_lean_st_ref_get(cell));
    quarn_dec(cell);
}
BENCHMARK(BM_RefGetScalarSingleThreaded);

// set of a scalar over a scalar, over 16 cells.
void BM_RefSetSingleThreaded(benchmark::State &state) {
    constexpr size_t kCells = 16;
    Value cells[kCells];
    for (Value &cell : cells) cell = quarn_lean_st_mk_ref(quarn_box(0));
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(quarn_lean_st_ref_set(cells[i % kCells], quarn_box(i)));
        ++i;
    }
    for (Value cell : cells) quarn_dec(cell);
}
BENCHMARK(BM_RefSetSingleThreaded);

// The header's inline get and set, as compiled code calls them.
void BM_InlineRefGetSingleThreaded(benchmark::State &state) {
    Value cell = quarn_lean_st_mk_ref(quarn_alloc_ctor(0, 0, 0));
    for (auto _ : state) {
        Value v = quarn_st_ref_get(cell);
        benchmark::DoNotOptimize(v);
        quarn_dec(v);
    }
    quarn_dec(cell);
}
BENCHMARK(BM_InlineRefGetSingleThreaded);

void BM_InlineRefSetSingleThreaded(benchmark::State &state) {
    constexpr size_t kCells = 16;
    Value cells[kCells];
    for (Value &cell : cells) cell = quarn_lean_st_mk_ref(quarn_box(0));
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(quarn_st_ref_set(cells[i % kCells], quarn_box(i)));
        ++i;
    }
    for (Value cell : cells) quarn_dec(cell);
}
BENCHMARK(BM_InlineRefSetSingleThreaded);

// The same two on a multi-threaded cell, for comparison: two exchanges per get.
void BM_RefGetShared(benchmark::State &state) {
    Value cell = quarn_lean_st_mk_ref(quarn_alloc_ctor(0, 0, 0));
    quarn_mark_mt(cell);
    for (auto _ : state) {
        Value v = quarn_lean_st_ref_get(cell);
        benchmark::DoNotOptimize(v);
        quarn_dec(v);
    }
    quarn_dec(cell);
}
BENCHMARK(BM_RefGetShared);

void BM_RefSetShared(benchmark::State &state) {
    Value cell = quarn_lean_st_mk_ref(quarn_box(0));
    quarn_mark_mt(cell);
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(quarn_lean_st_ref_set(cell, quarn_box(i++)));
    quarn_dec(cell);
}
BENCHMARK(BM_RefSetShared);

}  // namespace

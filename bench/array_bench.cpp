// Pushing onto exclusive arrays through the exported entry points, against std::vector
// push_back of the same words in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include <quarn/array.h>

namespace {

constexpr size_t kValues = 10'000'000;

// 10,000,000 boxed values pushed onto an array that starts empty at capacity 0: every push
// is exclusive, and a full array moves its elements to capacity 2 * capacity + 2. Releasing
// the array is timed separately below.
void BM_ArrayPushBoxed(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *a = quarn_lean_mk_empty_array_with_capacity(quarn_box(0));
        for (size_t i = 0; i < kValues; ++i) a = quarn_lean_array_push(a, quarn_box(i));
        benchmark::DoNotOptimize(a);
        state.PauseTiming();
        quarn_dec(a);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_ArrayPushBoxed)->Unit(benchmark::kMillisecond);

// The peer: the same words pushed onto a std::vector<uint64_t> that starts empty.
void BM_VectorPushBack(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<uint64_t> v;
        for (size_t i = 0; i < kValues; ++i) v.push_back(2 * i + 1);
        benchmark::DoNotOptimize(v.data());
        state.PauseTiming();
        std::vector<uint64_t>().swap(v);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_VectorPushBack)->Unit(benchmark::kMillisecond);

// The same two, with the release of the array (a walk over 10,000,000 scalars) and the
// destruction of the vector inside the timing.
void BM_ArrayPushBoxedAndRelease(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *a = quarn_lean_mk_empty_array_with_capacity(quarn_box(0));
        for (size_t i = 0; i < kValues; ++i) a = quarn_lean_array_push(a, quarn_box(i));
        benchmark::DoNotOptimize(a);
        quarn_dec(a);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_ArrayPushBoxedAndRelease)->Unit(benchmark::kMillisecond);

void BM_VectorPushBackAndDestroy(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<uint64_t> v;
        for (size_t i = 0; i < kValues; ++i) v.push_back(2 * i + 1);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_VectorPushBackAndDestroy)->Unit(benchmark::kMillisecond);

// The header's inline push, as compiled code calls it.
void BM_ArrayPushBoxedInline(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *a = quarn_lean_mk_empty_array_with_capacity(quarn_box(0));
        for (size_t i = 0; i < kValues; ++i) a = quarn_array_push(a, quarn_box(i));
        benchmark::DoNotOptimize(a);
        state.PauseTiming();
        quarn_dec(a);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_ArrayPushBoxedInline)->Unit(benchmark::kMillisecond);

void BM_ByteArrayPushInline(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *a = quarn_lean_mk_empty_byte_array(quarn_box(0));
        for (size_t i = 0; i < kValues; ++i) a = quarn_byte_array_push(a, static_cast<uint8_t>(i));
        benchmark::DoNotOptimize(a);
        state.PauseTiming();
        quarn_dec(a);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_ByteArrayPushInline)->Unit(benchmark::kMillisecond);

// Byte arrays double the needed count; the peer is std::vector<uint8_t>.
void BM_ByteArrayPush(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *a = quarn_lean_mk_empty_byte_array(quarn_box(0));
        for (size_t i = 0; i < kValues; ++i) a = quarn_lean_byte_array_push(a, static_cast<uint8_t>(i));
        benchmark::DoNotOptimize(a);
        state.PauseTiming();
        quarn_dec(a);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_ByteArrayPush)->Unit(benchmark::kMillisecond);

void BM_ByteVectorPushBack(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<uint8_t> v;
        for (size_t i = 0; i < kValues; ++i) v.push_back(static_cast<uint8_t>(i));
        benchmark::DoNotOptimize(v.data());
        state.PauseTiming();
        std::vector<uint8_t>().swap(v);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kValues));
}
BENCHMARK(BM_ByteVectorPushBack)->Unit(benchmark::kMillisecond);

}  // namespace

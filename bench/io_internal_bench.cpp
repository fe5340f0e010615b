// Building IO errors from error numbers against the bare cost of the program's own
// constructor and one string copy; forcing a computed lazy cell against a plain load.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstring>

#include "io/io_error.h"
#include "kit.h"
#include "quarn/io.h"
#include "quarn/startup.h"

namespace {

struct RegisterOnce {
    RegisterOnce() { kit_register_exports(); }
} register_once;

quarn_object *file_name = [] {
    quarn_object *name = kit_string("config/settings.toml");
    quarn_mark_persistent(name);
    return name;
}();

// The runtime's conversion: fold, group, details text, the program's constructor.
void BM_ErrorFromErrno(benchmark::State &state) {
    int e = static_cast<int>(state.range(0));
    for (auto _ : state) {
        quarn_object *error = quarn::io::error_from_errno(e, file_name);
        benchmark::DoNotOptimize(error);
        quarn_dec(error);
    }
}
BENCHMARK(BM_ErrorFromErrno)->Arg(ENOENT)->Arg(EACCES)->Arg(200);

// The peer: what any conversion must pay, the details string copied once and the
// program's constructor called directly.
void BM_ConstructorAndOneCopy(benchmark::State &state) {
    using FileConstructor = quarn_object *(*)(quarn_object *, uint32_t, quarn_object *);
    auto constructor = reinterpret_cast<FileConstructor>(kit_exports[KIT_NO_FILE_OR_DIRECTORY].function);
    static constexpr char kDetails[] = "no such file or directory";
    for (auto _ : state) {
        quarn_object *details = quarn_mk_string_unchecked(kDetails, sizeof kDetails - 1, sizeof kDetails - 1);
        quarn_object *error = constructor(file_name, ENOENT, details);
        benchmark::DoNotOptimize(error);
        quarn_dec(error);
    }
}
BENCHMARK(BM_ConstructorAndOneCopy);

uint64_t compute_once() { return 42; }

void BM_LazyCellComputed(benchmark::State &state) {
    static quarn_lazy_cell cell{};
    quarn_lazy_bits_force(&cell, compute_once);
    for (auto _ : state) benchmark::DoNotOptimize(quarn_lazy_bits_force(&cell, compute_once));
}
BENCHMARK(BM_LazyCellComputed);

void BM_LazyCellInlineGet(benchmark::State &state) {
    static quarn_lazy_cell cell{};
    quarn_object *(*compute)() = [] { return quarn_box(1); };
    quarn_lazy_obj_force(&cell, compute);
    for (auto _ : state) benchmark::DoNotOptimize(quarn_lazy_obj_get(&cell, compute));
}
BENCHMARK(BM_LazyCellInlineGet);

// The peer: an acquire load of a published value.
void BM_PlainAcquireLoad(benchmark::State &state) {
    static quarn_lazy_cell cell{{.bits = 42}, 1};
    for (auto _ : state) {
        benchmark::DoNotOptimize(__atomic_load_n(&cell.state, __ATOMIC_ACQUIRE));
        benchmark::DoNotOptimize(cell.value.bits);
    }
}
BENCHMARK(BM_PlainAcquireLoad);

}  // namespace

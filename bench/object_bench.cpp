// Allocation, release and marking of objects, against mimalloc doing the same blocks.
#include <benchmark/benchmark.h>
#include <mimalloc.h>

#include <vector>

#include <quarn/quarn.h>

namespace {

// quarn_alloc_ctor + release through the cold decrement, for 0 to 4 scalar fields.
void BM_AllocCtorRelease(benchmark::State &state) {
    auto fields = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        quarn_object *o = quarn_alloc_ctor(0, fields, 0);
        for (uint32_t i = 0; i < fields; ++i) quarn_ctor_set(o, i, quarn_box(i));
        benchmark::DoNotOptimize(o);
        quarn_dec_ref_cold(o);
    }
}
BENCHMARK(BM_AllocCtorRelease)->DenseRange(0, 4);

// The peer: mi_malloc + mi_free of the same block (size word + header + fields).
void BM_MiMallocFree(benchmark::State &state) {
    size_t bytes = 16 + 8 * static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void *p = mi_malloc(bytes);
        benchmark::DoNotOptimize(p);
        mi_free(p);
    }
}
BENCHMARK(BM_MiMallocFree)->DenseRange(0, 4);

// A second peer that also does a constructor's stores: the same block from mi_malloc with
// its size word, header and scalar fields written, then mi_free.
void BM_MiMallocInitFree(benchmark::State &state) {
    auto fields = static_cast<uint32_t>(state.range(0));
    size_t bytes = 16 + 8 * size_t{fields};
    for (auto _ : state) {
        auto *words = static_cast<uint64_t *>(mi_malloc(bytes));
        words[0] = bytes - 8;
        words[1] = uint64_t{fields} << 48 | 1u;
        for (uint32_t i = 0; i < fields; ++i) words[2 + i] = 2 * uint64_t{i} + 1;
        benchmark::DoNotOptimize(words);
        mi_free(words);
    }
}
BENCHMARK(BM_MiMallocInitFree)->DenseRange(0, 4);

constexpr size_t kCells = 1000000;

quarn_object *long_list() {
    quarn_object *list = quarn_box(0);
    for (size_t i = 0; i < kCells; ++i) {
        quarn_object *cell = quarn_alloc_ctor(1, 2, 0);
        quarn_ctor_set(cell, 0, quarn_box(i));
        quarn_ctor_set(cell, 1, list);
        list = cell;
    }
    return list;
}

void BM_ReleaseList(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        quarn_object *list = long_list();
        state.ResumeTiming();
        quarn_dec(list);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCells));
}
BENCHMARK(BM_ReleaseList)->Unit(benchmark::kMillisecond);

// The peer: freeing blocks of the same size, allocated in the same order, in a loop.
void BM_MiFreeLoop(benchmark::State &state) {
    std::vector<void *> blocks(kCells);
    for (auto _ : state) {
        state.PauseTiming();
        for (auto &b : blocks) b = mi_malloc(8 + 8 + 16);
        state.ResumeTiming();
        for (size_t i = kCells; i-- > 0;) mi_free(blocks[i]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCells));
}
BENCHMARK(BM_MiFreeLoop)->Unit(benchmark::kMillisecond);

// Building and releasing a list of a million cells, both timed: the cells come back to the
// allocator one by one, and the next iteration takes them again.
void BM_BuildReleaseList(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *list = long_list();
        benchmark::DoNotOptimize(list);
        quarn_dec(list);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCells));
}
BENCHMARK(BM_BuildReleaseList)->Unit(benchmark::kMillisecond);

// The peer: the same list of blocks (size word, header, two fields) built with mi_malloc and
// released with mi_free, walking the links as the release walk does.
void BM_MiBuildReleaseList(benchmark::State &state) {
    struct Cell {
        size_t size;
        uint64_t header;
        uint64_t head;
        Cell *tail;
    };
    for (auto _ : state) {
        Cell *list = nullptr;
        for (size_t i = 0; i < kCells; ++i) {
            auto *cell = static_cast<Cell *>(mi_malloc(sizeof(Cell)));
            cell->size = 24;
            cell->header = 0x0102000000000001;
            cell->head = 2 * i + 1;
            cell->tail = list;
            list = cell;
        }
        benchmark::DoNotOptimize(list);
        while (list != nullptr) {
            Cell *next = list->tail;
            mi_free(list);
            list = next;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCells));
}
BENCHMARK(BM_MiBuildReleaseList)->Unit(benchmark::kMillisecond);

void BM_MarkListMultiThreaded(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        quarn_object *list = long_list();
        state.ResumeTiming();
        quarn_mark_mt(list);
        state.PauseTiming();
        quarn_dec(list);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCells));
}
BENCHMARK(BM_MarkListMultiThreaded)->Unit(benchmark::kMillisecond);

void BM_MarkListPersistent(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        quarn_object *list = long_list();
        state.ResumeTiming();
        quarn_mark_persistent(list);
        state.PauseTiming();
        // Hand the cells back to the counter so they can be freed.
        for (quarn_object *c = list; !quarn_is_scalar(c); c = quarn_ctor_get(c, 1)) c->rc = 1;
        quarn_dec(list);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCells));
}
BENCHMARK(BM_MarkListPersistent)->Unit(benchmark::kMillisecond);

}  // namespace

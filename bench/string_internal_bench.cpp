// Lossy decoding of operating-system text into strings, on 64 MiB of ASCII and of mixed
// one- to four-byte text, against memcpy of the same bytes into a fresh buffer in the same
// run (decoding well-formed text is a scan plus that copy).
#include <benchmark/benchmark.h>
#include <mimalloc.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bench_text.h"
#include "string/lossy.h"

namespace {

// Every decoding returns a new 64 MiB string. Left alone, the allocator hands blocks that
// large back to the kernel when they are freed, so each iteration would also measure the
// kernel zero-filling 16384 fresh pages, which costs more than the decoding (the peer
// drops to the same rate). A reserved arena keeps the pages mapped between iterations;
// run with QUARN_BENCH_FRESH_PAGES=1 to see the figures with page faults.
const bool kArenaReserved = std::getenv("QUARN_BENCH_FRESH_PAGES") == nullptr &&
                            mi_reserve_os_memory(size_t{512} << 20, true, true) == 0;

using bench_text::kTextBytes;
using bench_text::text;

void BM_DecodeLossy(benchmark::State &state) {
    const std::string &t = text(state.range(0) != 0);
    state.SetLabel(kArenaReserved ? "pages reused" : "fresh pages");
    for (auto _ : state) {
        quarn_object *s = quarn::string::decode_lossy(t.data(), t.size());
        benchmark::DoNotOptimize(s);
        quarn_dec(s);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextBytes));
}
BENCHMARK(BM_DecodeLossy)->Arg(0)->Arg(1)->ArgNames({"mixed"})->Unit(benchmark::kMillisecond);

// Peer: copying the same bytes into a block of the same size taken from the heap each time.
void BM_MallocMemcpyPeer(benchmark::State &state) {
    const std::string &t = text(false);
    state.SetLabel(kArenaReserved ? "pages reused" : "fresh pages");
    for (auto _ : state) {
        void *copy = std::malloc(t.size() + 40);
        std::memcpy(copy, t.data(), t.size());
        benchmark::DoNotOptimize(copy);
        std::free(copy);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextBytes));
}
BENCHMARK(BM_MallocMemcpyPeer)->Unit(benchmark::kMillisecond);

}  // namespace

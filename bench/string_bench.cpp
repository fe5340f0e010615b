// Strings: pushing characters, validating UTF-8 and hashing, each against a peer measured in
// the same run (std::string, a byte-by-byte validator, memcpy, a plain MurmurHash64A loop).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bench_text.h"

#include <quarn/quarn.h>
#include <quarn/string.h>

namespace {

constexpr size_t kPushes = 10000000;

// Ten million ASCII characters onto an exclusive string that starts empty. Through the
// exported call, each push waits for the size that the previous call stored (a round trip
// through store forwarding); the string grows by copying 22 times.
void BM_LeanStringPush(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *s = quarn_mk_string_unchecked("", 0, 0);
        for (size_t i = 0; i < kPushes; ++i) s = quarn_lean_string_push(s, 'a' + (i & 15));
        benchmark::DoNotOptimize(s);
        quarn_dec(s);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPushes));
}
BENCHMARK(BM_LeanStringPush)->Unit(benchmark::kMillisecond);

// The same through the header's inline fast path, as a text loop in compiled code would.
void BM_InlineStringPush(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *s = quarn_mk_string_unchecked("", 0, 0);
        for (size_t i = 0; i < kPushes; ++i) s = quarn_string_push(s, 'a' + (i & 15));
        benchmark::DoNotOptimize(s);
        quarn_dec(s);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPushes));
}
BENCHMARK(BM_InlineStringPush)->Unit(benchmark::kMillisecond);

// Peer: std::string::push_back on a local string, growing from empty.
void BM_StdStringPushBack(benchmark::State &state) {
    for (auto _ : state) {
        std::string s;
        for (size_t i = 0; i < kPushes; ++i) s.push_back(static_cast<char>('a' + (i & 15)));
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPushes));
}
BENCHMARK(BM_StdStringPushBack)->Unit(benchmark::kMillisecond);

using bench_text::kTextBytes;
using bench_text::text;

// A byte array laid out as compiled code sees one, over a copy of the text. Freed by hand:
// the primitives measured here only borrow it.
quarn_object *byte_array_of(const std::string &t) {
    auto *block = static_cast<uint8_t *>(std::malloc(8 + sizeof(quarn_sarray_object) + t.size()));
    auto *a = reinterpret_cast<quarn_sarray_object *>(block + 8);
    a->header = quarn_object{1, 0, 1, QUARN_TAG_SCALAR_ARRAY};
    a->size = a->capacity = t.size();
    std::memcpy(a->data, t.data(), t.size());
    return &a->header;
}

void BM_ValidateUtf8(benchmark::State &state) {
    quarn_object *bytes = byte_array_of(text(state.range(0) != 0));
    for (auto _ : state) {
        uint8_t ok = quarn_lean_string_validate_utf8(bytes);
        if (!ok) state.SkipWithError("text judged ill-formed");
        benchmark::DoNotOptimize(ok);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextBytes));
    std::free(reinterpret_cast<uint8_t *>(bytes) - 8);
}
BENCHMARK(BM_ValidateUtf8)->Arg(0)->Arg(1)->ArgNames({"mixed"})->Unit(benchmark::kMillisecond);

// Peer: the same rule byte by byte, one branch per character.
bool bytewise_valid(const uint8_t *p, size_t n) {
    auto cont = [&](size_t j) { return j < n && (p[j] & 0xC0) == 0x80; };
    for (size_t i = 0; i < n;) {
        uint32_t b = p[i];
        if (b < 0x80) {
            i += 1;
        } else if ((b & 0xE0) == 0xC0) {
            if (b < 0xC2 || !cont(i + 1)) return false;
            i += 2;
        } else if ((b & 0xF0) == 0xE0) {
            if (!cont(i + 1) || !cont(i + 2)) return false;
            uint32_t v = (b & 0xF) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
            if (v < 0x800 || (v >= 0xD800 && v < 0xE000)) return false;
            i += 3;
        } else if ((b & 0xF8) == 0xF0) {
            if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return false;
            uint32_t v = (b & 7) << 18 | (p[i + 1] & 0x3Fu) << 12 | (p[i + 2] & 0x3Fu) << 6 |
                         (p[i + 3] & 0x3Fu);
            if (v < 0x10000 || v >= 0x110000) return false;
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

void BM_BytewiseValidatePeer(benchmark::State &state) {
    const std::string &t = text(state.range(0) != 0);
    auto *bytes = reinterpret_cast<const uint8_t *>(t.data());
    for (auto _ : state) benchmark::DoNotOptimize(bytewise_valid(bytes, t.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextBytes));
}
BENCHMARK(BM_BytewiseValidatePeer)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"mixed"})
    ->Unit(benchmark::kMillisecond);

// Peer: reading the text once as fast as the machine can, while writing a copy.
void BM_MemcpyPeer(benchmark::State &state) {
    const std::string &t = text(false);
    std::string copy(t.size(), '\0');
    for (auto _ : state) {
        std::memcpy(copy.data(), t.data(), t.size());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextBytes));
}
BENCHMARK(BM_MemcpyPeer)->Unit(benchmark::kMillisecond);

void BM_LeanStringHash(benchmark::State &state) {
    const std::string &t = text(false);
    quarn_object *s = quarn_mk_string_unchecked(t.data(), t.size(), t.size());
    for (auto _ : state) benchmark::DoNotOptimize(quarn_lean_string_hash(s));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextBytes));
    quarn_dec(s);
}
BENCHMARK(BM_LeanStringHash)->Unit(benchmark::kMillisecond);

// Peer: MurmurHash64A as its author describes it, seed 11.
uint64_t plain_murmur64a(const void *key, size_t len, uint64_t seed) {
    const uint64_t m = 0xc6a4a7935bd1e995ull;
    const int r = 47;
    uint64_t h = seed ^ (len * m);
    const auto *data = static_cast<const uint8_t *>(key);
    const uint8_t *end = data + (len / 8) * 8;
    while (data != end) {
        uint64_t k;
        std::memcpy(&k, data, 8);
        data += 8;
        k *= m;
        k ^= k >> r;
        k *= m;
        h ^= k;
        h *= m;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, data, len & 7);
    if (len & 7) {
        h ^= tail;
        h *= m;
    }
    h ^= h >> r;
    h *= m;
    h ^= h >> r;
    return h;
}

void BM_PlainMurmurPeer(benchmark::State &state) {
    const std::string &t = text(false);
    for (auto _ : state) benchmark::DoNotOptimize(plain_murmur64a(t.data(), t.size(), 11));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextBytes));
}
BENCHMARK(BM_PlainMurmurPeer)->Unit(benchmark::kMillisecond);

}  // namespace

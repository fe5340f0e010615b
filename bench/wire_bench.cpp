// The wire format on the Lean side against its peers in the same run:
// - a 64 MiB ByteArray, bytes to object and object to bytes, against memcpy of the same bytes
//   into freshly allocated memory and into memory reused across iterations;
// - an Array Nat of 1,000,000 small numbers and a 1,000,000-cell user-defined list, both
//   directions, against a hand-written decoder and encoder of the same bytes into and from
//   plain C++ structures.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "table_bytes.h"
#include "wire/object_codec.h"
#include "wire/type_table.h"

namespace {

using quarn::capi::Kind;
using quarn::capi::TypeExpr;
using quarn::wire::ByteSink;
using quarn::wire::HandleMode;

constexpr size_t kBigBytes = size_t{64} << 20;
constexpr uint32_t kCount = 1000000;

TypeExpr simple(Kind kind) { return TypeExpr{kind, 0, {}}; }

const std::vector<uint8_t> &byte_array_bytes() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(4 + kBigBytes);
        uint32_t n = static_cast<uint32_t>(kBigBytes);
        std::memcpy(b.data(), &n, 4);
        for (size_t i = 4; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 131);
        return b;
    }();
    return bytes;
}

quarn_object *decode(const quarn_types *table, const TypeExpr &type, const std::vector<uint8_t> &bytes) {
    quarn::wire::Reader reader(bytes.data(), bytes.size());
    quarn_object *o = quarn::wire::decode_object(table, type, reader, HandleMode::Borrow);
    if (o == nullptr) std::abort();
    return o;
}

// ---- 64 MiB ByteArray --------------------------------------------------------------------

void BM_ByteArrayBytesToObject(benchmark::State &state) {
    const auto &bytes = byte_array_bytes();
    TypeExpr type = simple(Kind::ByteArray);
    for (auto _ : state) {
        quarn_object *o = decode(nullptr, type, bytes);
        benchmark::DoNotOptimize(o);
        quarn_dec(o);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_ByteArrayBytesToObject)->Unit(benchmark::kMillisecond);

void BM_ByteArrayObjectToBytes(benchmark::State &state) {
    const auto &bytes = byte_array_bytes();
    TypeExpr type = simple(Kind::ByteArray);
    quarn_object *o = decode(nullptr, type, bytes);
    for (auto _ : state) {
        ByteSink sink;
        quarn::wire::encode_object(nullptr, type, o, sink);
        benchmark::DoNotOptimize(sink.data());
    }
    quarn_dec(o);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_ByteArrayObjectToBytes)->Unit(benchmark::kMillisecond);

// Peer: the same bytes copied into a block allocated (and freed) each time.
void BM_MemcpyIntoFreshMemory(benchmark::State &state) {
    const auto &bytes = byte_array_bytes();
    for (auto _ : state) {
        void *copy = std::malloc(kBigBytes + 32);
        std::memcpy(copy, bytes.data() + 4, kBigBytes);
        benchmark::DoNotOptimize(copy);
        std::free(copy);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_MemcpyIntoFreshMemory)->Unit(benchmark::kMillisecond);

// Peer: the same bytes copied into one block reused by every iteration (no page faults).
void BM_MemcpyIntoReusedMemory(benchmark::State &state) {
    const auto &bytes = byte_array_bytes();
    std::vector<uint8_t> target(kBigBytes);
    for (auto _ : state) {
        std::memcpy(target.data(), bytes.data() + 4, kBigBytes);
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBytes));
}
BENCHMARK(BM_MemcpyIntoReusedMemory)->Unit(benchmark::kMillisecond);

// ---- Array Nat of a million small numbers -------------------------------------------------

uint64_t small_number(uint32_t i) { return (i * 2654435761u) % 70000; }

void put_nat(std::vector<uint8_t> &out, uint64_t v) {
    uint32_t n = 0;
    for (uint64_t x = v; x != 0; x >>= 8) ++n;
    out.insert(out.end(), reinterpret_cast<uint8_t *>(&n), reinterpret_cast<uint8_t *>(&n) + 4);
    out.insert(out.end(), reinterpret_cast<uint8_t *>(&v), reinterpret_cast<uint8_t *>(&v) + n);
}

const std::vector<uint8_t> &array_nat_bytes() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(4);
        std::memcpy(b.data(), &kCount, 4);
        for (uint32_t i = 0; i < kCount; ++i) put_nat(b, small_number(i));
        return b;
    }();
    return bytes;
}

TypeExpr array_nat_type() {
    TypeExpr t = simple(Kind::Array);
    t.children.push_back(simple(Kind::Nat));
    return t;
}

void BM_ArrayNatBytesToObject(benchmark::State &state) {
    const auto &bytes = array_nat_bytes();
    TypeExpr type = array_nat_type();
    for (auto _ : state) {
        quarn_object *o = decode(nullptr, type, bytes);
        benchmark::DoNotOptimize(o);
        quarn_dec(o);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ArrayNatBytesToObject)->Unit(benchmark::kMillisecond);

void BM_ArrayNatObjectToBytes(benchmark::State &state) {
    TypeExpr type = array_nat_type();
    quarn_object *o = decode(nullptr, type, array_nat_bytes());
    for (auto _ : state) {
        ByteSink sink;
        quarn::wire::encode_object(nullptr, type, o, sink);
        benchmark::DoNotOptimize(sink.data());
    }
    quarn_dec(o);
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ArrayNatObjectToBytes)->Unit(benchmark::kMillisecond);

// Peer: reads the same bytes into a std::vector<uint64_t> with the same checks (lengths
// against what remains, no leading zero byte, at most 8 bytes).
bool hand_decode_numbers(const std::vector<uint8_t> &bytes, std::vector<uint64_t> &out) {
    const uint8_t *p = bytes.data(), *end = p + bytes.size();
    uint32_t count;
    if (end - p < 4) return false;
    std::memcpy(&count, p, 4);
    p += 4;
    if (count > static_cast<size_t>(end - p)) return false;
    out.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t n;
        if (end - p < 4) return false;
        std::memcpy(&n, p, 4);
        p += 4;
        if (n > 8 || n > static_cast<size_t>(end - p) || (n != 0 && p[n - 1] == 0)) return false;
        uint64_t v = 0;
        std::memcpy(&v, p, n);
        p += n;
        out[i] = v;
    }
    return p == end;
}

void hand_encode_number(uint8_t *&p, uint64_t v) {
    uint32_t n = v == 0 ? 0 : 8 - static_cast<uint32_t>(__builtin_clzll(v) / 8);
    std::memcpy(p, &n, 4);
    std::memcpy(p + 4, &v, 8);
    p += 4 + n;
}

void BM_ArrayNatHandDecoderPeer(benchmark::State &state) {
    const auto &bytes = array_nat_bytes();
    for (auto _ : state) {
        std::vector<uint64_t> numbers;
        if (!hand_decode_numbers(bytes, numbers)) std::abort();
        benchmark::DoNotOptimize(numbers.data());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ArrayNatHandDecoderPeer)->Unit(benchmark::kMillisecond);

void BM_ArrayNatHandEncoderPeer(benchmark::State &state) {
    std::vector<uint64_t> numbers;
    hand_decode_numbers(array_nat_bytes(), numbers);
    for (auto _ : state) {
        // Grown like an encoder that does not know the size ahead.
        std::vector<uint8_t> out;
        out.reserve(64);
        uint32_t count = static_cast<uint32_t>(numbers.size());
        out.resize(4);
        std::memcpy(out.data(), &count, 4);
        for (uint64_t v : numbers) {
            size_t at = out.size();
            out.resize(at + 12);
            uint8_t *p = out.data() + at;
            hand_encode_number(p, v);
            out.resize(static_cast<size_t>(p - out.data()));
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ArrayNatHandEncoderPeer)->Unit(benchmark::kMillisecond);

// ---- a million-cell user-defined list ----------------------------------------------------

const quarn_types *list_table() {
    static const quarn_types *table = [] {
        kit::Bytes b;
        b.header(1).definition("MyList", 1, 2).constructor("MyList.nil", 0, 0, 0, 0, 0);
        b.constructor("MyList.cons", 1, 2, 0, 0, 2);
        b.object_field("head", 0).param(0).object_field("tail", 1).inductive(0, 1).param(0);
        quarn::Text error;
        return quarn::wire::load_type_table(b.data.data(), b.data.size(), error);
    }();
    return table;
}

TypeExpr list_nat_type() {
    TypeExpr t{Kind::Inductive, 0, {}};
    t.children.push_back(simple(Kind::Nat));
    return t;
}

const std::vector<uint8_t> &list_bytes() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b;
        uint32_t cons = 1, nil = 0;
        for (uint32_t i = 0; i < kCount; ++i) {
            b.insert(b.end(), reinterpret_cast<uint8_t *>(&cons), reinterpret_cast<uint8_t *>(&cons) + 4);
            put_nat(b, small_number(i));
        }
        b.insert(b.end(), reinterpret_cast<uint8_t *>(&nil), reinterpret_cast<uint8_t *>(&nil) + 4);
        return b;
    }();
    return bytes;
}

void BM_ListBytesToObject(benchmark::State &state) {
    const auto &bytes = list_bytes();
    TypeExpr type = list_nat_type();
    for (auto _ : state) {
        quarn_object *o = decode(list_table(), type, bytes);
        benchmark::DoNotOptimize(o);
        quarn_dec(o);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ListBytesToObject)->Unit(benchmark::kMillisecond);

void BM_ListObjectToBytes(benchmark::State &state) {
    TypeExpr type = list_nat_type();
    quarn_object *o = decode(list_table(), type, list_bytes());
    for (auto _ : state) {
        ByteSink sink;
        quarn::wire::encode_object(list_table(), type, o, sink);
        benchmark::DoNotOptimize(sink.data());
    }
    quarn_dec(o);
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ListObjectToBytes)->Unit(benchmark::kMillisecond);

// Peer: the same bytes into heap-allocated C++ cells, one allocation per cell.
struct Cell {
    uint64_t head;
    Cell *tail;
};

Cell *hand_decode_list(const std::vector<uint8_t> &bytes) {
    const uint8_t *p = bytes.data(), *end = p + bytes.size();
    Cell *first = nullptr;
    Cell **slot = &first;
    for (;;) {
        uint32_t index, n;
        if (end - p < 4) std::abort();
        std::memcpy(&index, p, 4);
        p += 4;
        if (index == 0) break;
        if (index != 1 || end - p < 4) std::abort();
        std::memcpy(&n, p, 4);
        p += 4;
        if (n > 8 || n > static_cast<size_t>(end - p) || (n != 0 && p[n - 1] == 0)) std::abort();
        uint64_t v = 0;
        std::memcpy(&v, p, n);
        p += n;
        Cell *c = new Cell{v, nullptr};
        *slot = c;
        slot = &c->tail;
    }
    return first;
}

void free_list(Cell *c) {
    while (c != nullptr) delete std::exchange(c, c->tail);
}

void BM_ListHandDecoderPeer(benchmark::State &state) {
    const auto &bytes = list_bytes();
    for (auto _ : state) {
        Cell *list = hand_decode_list(bytes);
        benchmark::DoNotOptimize(list);
        free_list(list);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ListHandDecoderPeer)->Unit(benchmark::kMillisecond);

void BM_ListHandEncoderPeer(benchmark::State &state) {
    Cell *list = hand_decode_list(list_bytes());
    for (auto _ : state) {
        std::vector<uint8_t> out;
        out.reserve(64);
        for (Cell *c = list;; c = c->tail) {
            size_t at = out.size();
            out.resize(at + 16);
            uint8_t *p = out.data() + at;
            uint32_t index = c != nullptr;
            std::memcpy(p, &index, 4);
            p += 4;
            if (c == nullptr) {
                out.resize(at + 4);
                break;
            }
            hand_encode_number(p, c->head);
            out.resize(static_cast<size_t>(p - out.data()));
        }
        benchmark::DoNotOptimize(out.data());
    }
    free_list(list);
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_ListHandEncoderPeer)->Unit(benchmark::kMillisecond);

}  // namespace

// Byte arrays and float arrays: layouts, growth, copy-on-write, slice copies, equality and
// the hash.
#include <random>

#include "arrays.h"
#include "number/bignum.h"
#include "object/heartbeat.h"

namespace {

using namespace arrays;

// MurmurHash64A as its author published it: 8-byte little-endian blocks, then the 1 to 7
// remaining bytes, then the final mix.
uint64_t reference_murmur_hash64a(const uint8_t *data, size_t n, uint64_t seed) {
    const uint64_t m = 0xC6A4A7935BD1E995ull;
    const int r = 47;
    uint64_t h = seed ^ (n * m);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t k = 0;
        for (int b = 7; b >= 0; --b) k = (k << 8) | data[i + b];
        k *= m;
        k ^= k >> r;
        k *= m;
        h ^= k;
        h *= m;
    }
    if (i < n) {
        for (size_t b = n - i; b-- > 0;) h ^= uint64_t{data[i + b]} << (8 * b);
        h *= m;
    }
    h ^= h >> r;
    h *= m;
    h ^= h >> r;
    return h;
}

quarn_object *one_digit_nat(uint64_t digit) {
    return quarn::number::make_one_digit(digit, QUARN_SIGN_POSITIVE);
}

// What a slice copy must produce, computed on plain vectors.
std::vector<uint8_t> expected_copy(std::vector<uint8_t> src, size_t src_off,
                                   std::vector<uint8_t> dest, size_t dest_off, size_t len) {
    if (src_off > src.size()) return dest;
    len = std::min(len, src.size() - src_off);
    dest_off = std::min(dest_off, dest.size());
    dest.resize(std::max(dest.size(), dest_off + len));
    std::copy_n(src.begin() + static_cast<ptrdiff_t>(src_off), len,
                dest.begin() + static_cast<ptrdiff_t>(dest_off));
    return dest;
}

using ScalarArrayTest = ArrayTest;

TEST_F(ScalarArrayTest, EmptyArraysHaveTheExactLayout) {
    quarn_object *bytes = quarn_lean_mk_empty_byte_array(quarn_box(5));
    uint64_t header;
    std::memcpy(&header, bytes, sizeof header);
    EXPECT_EQ(header, 0xF801000000000001u);
    EXPECT_EQ(capacity_of(bytes), 5u);
    EXPECT_EQ(quarn::object::object_size(bytes), 5u + 24);
    EXPECT_EQ(quarn_lean_byte_array_size(bytes), quarn_box(0));

    quarn_object *floats = quarn_lean_mk_empty_float_array(quarn_box(5));
    std::memcpy(&header, floats, sizeof header);
    EXPECT_EQ(header, 0xF808000000000001u);
    EXPECT_EQ(quarn::object::object_size(floats), 8u * 5 + 24);
    floats = quarn_lean_float_array_push(floats, 2.5);
    EXPECT_EQ(quarn_lean_float_array_size(floats), quarn_box(1));
    EXPECT_EQ(quarn_lean_sarray_size(floats), 1u);
    quarn_dec(bytes);
    quarn_dec(floats);
}

TEST_F(ScalarArrayTest, ConversionsFromAndToBoxedArrays) {
    quarn_object *boxed = array({quarn_box(0), quarn_box(7), quarn_box(255)}, 5);
    quarn_object *bytes = quarn_lean_byte_array_mk(boxed);
    EXPECT_EQ(bytes_of(bytes), (std::vector<uint8_t>{0, 7, 255}));
    EXPECT_EQ(capacity_of(bytes), 3u);
    quarn_object *back = quarn_lean_byte_array_data(bytes);
    EXPECT_EQ(size_of(back), 3u);
    EXPECT_EQ(capacity_of(back), 3u);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(back, 2), quarn_box(255));
    quarn_dec(back);

    quarn_object *boxed_floats = array({quarn_box_float(-0.5), quarn_box_float(1e300)}, 2);
    quarn_object *floats = quarn_lean_float_array_mk(boxed_floats);
    EXPECT_EQ(quarn_lean_float_array_uget(floats, 0), -0.5);
    EXPECT_EQ(quarn_lean_float_array_uget(floats, 1), 1e300);
    uint64_t beats = quarn::object::heartbeats;
    quarn_object *boxes = quarn_lean_float_array_data(floats);
    EXPECT_EQ(quarn::object::heartbeats - beats, 2u) << "one per boxed float";
    EXPECT_EQ(quarn_unbox_float(quarn_lean_array_uget_borrowed(boxes, 1)), 1e300);
    quarn_dec(boxes);
}

TEST_F(ScalarArrayTest, PushDoublesTheNeededCountAndCopiesSharedArrays) {
    quarn_object *a = byte_array({1, 2, 3}, 3);
    quarn_object *grown = quarn_lean_byte_array_push(a, 4);
    EXPECT_NE(grown, a);
    EXPECT_EQ(capacity_of(grown), 8u) << "full at 3: twice 4";
    EXPECT_EQ(bytes_of(grown), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(quarn_lean_byte_array_push(grown, 5), grown) << "room left: in place";

    quarn_inc(grown);
    quarn_object *copy = quarn_lean_byte_array_push(grown, 6);
    EXPECT_NE(copy, grown);
    EXPECT_EQ(capacity_of(copy), 8u) << "a shared array with room keeps its capacity";
    EXPECT_EQ(bytes_of(grown), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(bytes_of(copy), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(rc(grown), 1);
    quarn_dec(copy);
    quarn_dec(grown);

    quarn_object *floats = quarn_lean_mk_empty_float_array(quarn_box(0));
    floats = quarn_lean_float_array_push(floats, 1.5);
    EXPECT_EQ(capacity_of(floats), 2u);
    floats = quarn_lean_float_array_push(floats, 2.5);
    floats = quarn_lean_float_array_push(floats, 3.5);
    EXPECT_EQ(capacity_of(floats), 6u);
    EXPECT_EQ(quarn::object::object_size(floats), 8u * 6 + 24);
    EXPECT_EQ(quarn_lean_float_array_fget(floats, quarn_box(2)), 3.5);
    quarn_dec(floats);
}

TEST_F(ScalarArrayTest, AnExclusiveArrayGrowsInPlaceFarPastFourMebibytesWithEveryElement) {
    constexpr size_t kBytes = 13'000'000;
    quarn_object *a = quarn_lean_mk_empty_byte_array(quarn_box(0));
    for (size_t i = 0; i < kBytes; ++i) a = quarn_lean_byte_array_push(a, static_cast<uint8_t>(i * 31));
    auto *s = reinterpret_cast<quarn_sarray_object *>(a);
    ASSERT_EQ(s->size, kBytes);
    EXPECT_EQ(quarn::object::object_size(a), sizeof(quarn_sarray_object) + s->capacity);
    size_t wrong = kBytes;
    for (size_t i = 0; i < kBytes && wrong == kBytes; ++i)
        if (s->data[i] != static_cast<uint8_t>(i * 31)) wrong = i;
    EXPECT_EQ(wrong, kBytes);
    // The same size of floats, past the threshold in eight-byte elements.
    quarn_object *f = quarn_lean_mk_empty_float_array(quarn_box(0));
    for (size_t i = 0; i < kBytes / 8; ++i) f = quarn_lean_float_array_push(f, 0.5 * double(i));
    EXPECT_EQ(quarn_lean_float_array_fget(f, quarn_box(kBytes / 8 - 1)), 0.5 * double(kBytes / 8 - 1));
    EXPECT_EQ(quarn_lean_float_array_fget(f, quarn_box(12345)), 0.5 * 12345);
    quarn_dec(f);
    quarn_dec(a);
}

TEST_F(ScalarArrayTest, CheckedAccessFallsBackSilently) {
    quarn_object *bytes = byte_array({9, 8}, 2);
    quarn_object *floats = quarn_lean_float_array_push(quarn_lean_mk_empty_float_array(quarn_box(1)), 4.0);
    quarn_object *big = one_digit_nat(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(quarn_lean_byte_array_get(bytes, quarn_box(1)), 8);
    EXPECT_EQ(quarn_lean_byte_array_get(bytes, quarn_box(2)), 0);
    EXPECT_EQ(quarn_lean_byte_array_get(bytes, big), 0);
    EXPECT_EQ(quarn_lean_float_array_get(floats, quarn_box(0)), 4.0);
    EXPECT_EQ(quarn_lean_float_array_get(floats, quarn_box(1)), 0.0);
    EXPECT_EQ(quarn_lean_float_array_get(floats, big), 0.0);
    quarn_inc(bytes);
    EXPECT_EQ(quarn_lean_byte_array_set(bytes, quarn_box(2), 1), bytes);
    EXPECT_EQ(quarn_lean_byte_array_set(bytes, big, 1), bytes);
    EXPECT_EQ(quarn_lean_float_array_set(floats, quarn_box(1), 1.0), floats);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "no report";
    EXPECT_EQ(rc(bytes), 2);
    quarn_dec(big);

    quarn_object *copy = quarn_lean_byte_array_set(bytes, quarn_box(0), 1);
    EXPECT_NE(copy, bytes);
    EXPECT_EQ(capacity_of(copy), 2u);
    EXPECT_EQ(bytes_of(copy), (std::vector<uint8_t>{1, 8}));
    EXPECT_EQ(bytes_of(bytes), (std::vector<uint8_t>{9, 8}));
    EXPECT_EQ(quarn_lean_byte_array_fset(copy, quarn_box(1), 2), copy);
    EXPECT_EQ(quarn_lean_byte_array_uset(copy, 0, 3), copy);
    EXPECT_EQ(quarn_lean_byte_array_fget(copy, quarn_box(1)), 2);
    EXPECT_EQ(quarn_lean_byte_array_uget(copy, 0), 3);
    EXPECT_EQ(quarn_lean_float_array_set(floats, quarn_box(0), -1.0), floats);
    EXPECT_EQ(quarn_lean_float_array_fset(floats, quarn_box(0), -2.0), floats);
    EXPECT_EQ(quarn_lean_float_array_uget(floats, 0), -2.0);
    EXPECT_EQ(quarn_lean_float_array_uset(floats, 0, 7.0), floats);
    EXPECT_EQ(quarn_lean_float_array_fget(floats, quarn_box(0)), 7.0);
    quarn_dec(copy);
    quarn_dec(bytes);
    quarn_dec(floats);
}

TEST_F(ScalarArrayTest, CopySliceCutsOffsetsToTheArrays) {
    quarn_object *src = byte_array({1, 2, 3, 4}, 4);
    quarn_object *dest = byte_array({9, 9}, 2);
    // A source offset past the end: dest comes back unchanged; big offsets are released.
    int64_t live = quarn::object::live_objects();
    quarn_object *r = quarn_lean_byte_array_copy_slice(src, one_digit_nat(uint64_t{1} << 63), dest,
                                                       one_digit_nat(1), quarn_box(1), 1);
    EXPECT_EQ(r, dest);
    EXPECT_EQ(bytes_of(dest), (std::vector<uint8_t>{9, 9}));
    EXPECT_EQ(quarn::object::live_objects(), live);
    r = quarn_lean_byte_array_copy_slice(src, quarn_box(5), dest, quarn_box(0), quarn_box(1), 1);
    EXPECT_EQ(r, dest);

    // A destination offset past the end appends; the length is cut to the source.
    dest = quarn_lean_byte_array_copy_slice(src, quarn_box(1), dest, quarn_box(100),
                                            one_digit_nat(~uint64_t{0}), 1);
    EXPECT_EQ(bytes_of(dest), (std::vector<uint8_t>{9, 9, 2, 3, 4}));
    EXPECT_EQ(capacity_of(dest), 5u) << "exact";
    dest = quarn_lean_byte_array_copy_slice(src, quarn_box(0), dest, quarn_box(4), quarn_box(2), 0);
    EXPECT_EQ(bytes_of(dest), (std::vector<uint8_t>{9, 9, 2, 3, 1, 2}));
    EXPECT_EQ(capacity_of(dest), 12u) << "not exact: twice the needed 6";
    // Within the capacity, an exclusive dest is written in place.
    r = quarn_lean_byte_array_copy_slice(src, quarn_box(4), dest, quarn_box(0), quarn_box(3), 0);
    EXPECT_EQ(r, dest) << "an empty copy from the very end";
    r = quarn_lean_byte_array_copy_slice(src, quarn_box(2), dest, quarn_box(6), quarn_box(2), 0);
    EXPECT_EQ(r, dest);
    EXPECT_EQ(bytes_of(dest), (std::vector<uint8_t>{9, 9, 2, 3, 1, 2, 3, 4}));
    EXPECT_EQ(rc(src), 1) << "src is borrowed";

    // A shared dest is copied and the original kept.
    quarn_inc(dest);
    r = quarn_lean_byte_array_copy_slice(src, quarn_box(0), dest, quarn_box(0), quarn_box(1), 1);
    EXPECT_NE(r, dest);
    EXPECT_EQ(capacity_of(r), 12u);
    EXPECT_EQ(quarn_lean_byte_array_uget(r, 0), 1);
    EXPECT_EQ(quarn_lean_byte_array_uget(dest, 0), 9);
    quarn_dec(r);
    quarn_dec(dest);
    quarn_dec(src);
}

TEST_F(ScalarArrayTest, CopySliceWithinOneArrayMatchesACopyThroughABuffer) {
    std::mt19937 random(5);
    for (int round = 0; round < 500; ++round) {
        size_t n = random() % 12;
        std::vector<uint8_t> bytes(n);
        for (auto &b : bytes) b = static_cast<uint8_t>(random());
        size_t capacity = n + random() % 4;
        size_t src_off = random() % (n + 2), dest_off = random() % (n + 3), len = random() % (n + 3);
        bool exact = random() % 2;
        quarn_object *a = byte_array(bytes, capacity);
        quarn_inc(a);  // borrowed as src, consumed as dest
        quarn_object *r = quarn_lean_byte_array_copy_slice(a, quarn_box(src_off), a,
                                                           quarn_box(dest_off), quarn_box(len), exact);
        std::vector<uint8_t> expected = expected_copy(bytes, src_off, bytes, dest_off, len);
        ASSERT_EQ(bytes_of(r), expected) << n << " " << src_off << " " << dest_off << " " << len;
        ASSERT_EQ(bytes_of(a), bytes) << "the source array is not written";
        if (src_off <= n && expected.size() > capacity) {
            ASSERT_EQ(capacity_of(r), exact ? expected.size() : 2 * expected.size());
        }
        quarn_dec(r);
        quarn_dec(a);
    }
}

TEST_F(ScalarArrayTest, HashIsMurmurHash64AWithSeed11) {
    std::mt19937 random(11);
    std::vector<uint8_t> bytes;
    for (size_t n = 0; n <= 40; ++n) {
        quarn_object *a = byte_array(bytes, n);
        EXPECT_EQ(quarn_lean_byte_array_hash(a), reference_murmur_hash64a(bytes.data(), n, 11))
            << n << " bytes";
        quarn_dec(a);
        bytes.push_back(static_cast<uint8_t>(random()));
    }
    quarn_object *empty = quarn_lean_mk_empty_byte_array(quarn_box(8));
    EXPECT_EQ(quarn_lean_byte_array_hash(empty), reference_murmur_hash64a(nullptr, 0, 11));
    quarn_dec(empty);
}

TEST_F(ScalarArrayTest, EqualityComparesByteCounts) {
    quarn_object *a = byte_array({1, 2, 3}, 3), *b = byte_array({1, 2, 3}, 10);
    quarn_object *c = byte_array({1, 2, 4}, 3), *d = byte_array({1, 2}, 3);
    EXPECT_EQ(quarn_lean_sarray_dec_eq(a, a), 1);
    EXPECT_EQ(quarn_lean_sarray_dec_eq(a, b), 1) << "capacities do not matter";
    EXPECT_EQ(quarn_lean_sarray_dec_eq(a, c), 0);
    EXPECT_EQ(quarn_lean_sarray_dec_eq(a, d), 0);
    quarn_object *f = quarn_lean_mk_empty_float_array(quarn_box(3));
    for (int i = 0; i < 3; ++i) f = quarn_lean_float_array_push(f, 0.0);
    quarn_object *z = byte_array({0, 0, 0}, 3);
    EXPECT_EQ(quarn_lean_sarray_dec_eq(f, z), 0) << "3 floats are 24 bytes, not 3";
    for (quarn_object *o : {a, b, c, d, f, z}) quarn_dec(o);
}

TEST_F(ScalarArrayTest, ByteSlicesCompareTheBytesTheyCover) {
    auto slice = [](quarn_object *bytes, quarn_object *start, quarn_object *end) {
        quarn_object *s = quarn_alloc_ctor(0, 3, 0);
        quarn_ctor_set(s, 0, bytes);
        quarn_ctor_set(s, 1, start);
        quarn_ctor_set(s, 2, end);
        return s;
    };
    quarn_object *x = slice(byte_array({0, 1, 2, 3}, 4), quarn_box(1), quarn_box(3));
    quarn_object *y = slice(byte_array({1, 2}, 2), quarn_box(0), quarn_box(2));
    quarn_object *z = slice(byte_array({1, 2, 3}, 3), quarn_box(0), quarn_box(3));
    EXPECT_EQ(quarn_lean_byteslice_beq(x, x), 1);
    EXPECT_EQ(quarn_lean_byteslice_beq(x, y), 1);
    EXPECT_EQ(quarn_lean_byteslice_beq(x, z), 0);
    // Bounds beyond the array are cut to it, never read past it.
    quarn_object *past = slice(byte_array({1, 2}, 2), quarn_box(0), quarn_box(1000));
    quarn_object *inverted = slice(byte_array({1, 2}, 2), quarn_box(2), quarn_box(0));
    quarn_object *empty = slice(byte_array({}, 0), quarn_box(0), quarn_box(0));
    EXPECT_EQ(quarn_lean_byteslice_beq(past, y), 1);
    EXPECT_EQ(quarn_lean_byteslice_beq(inverted, empty), 1);
    for (quarn_object *o : {x, y, z, past, inverted, empty}) quarn_dec(o);
}

// ---- fatal paths ------------------------------------------------------------------------

using ScalarArrayDeathTest = ArrayTest;

TEST_F(ScalarArrayDeathTest, BigCapacitiesOffsetsAndOverflowsStop) {
    EXPECT_INTERNAL_PANIC(quarn_lean_mk_empty_byte_array(one_digit_nat(1)), "out of memory");
    EXPECT_INTERNAL_PANIC(quarn_lean_mk_empty_float_array(one_digit_nat(1)), "out of memory");
    EXPECT_INTERNAL_PANIC(quarn_lean_mk_empty_float_array(quarn_box(uint64_t{1} << 61)),
                          "integer overflow in runtime computation");
    EXPECT_INTERNAL_PANIC(
        {
            quarn_object *a = byte_array({1}, 1);
            quarn_lean_byte_array_copy_slice(a, quarn_box(0), a, two_digit_nat(), quarn_box(1), 1);
        },
        "out of memory");
    auto full = [](quarn_object *a, size_t count) {
        as_sarray(a)->size = as_sarray(a)->capacity = count;
        return a;
    };
    // Twice (2^62 + 1) floats overflow the byte count; twice 2^63 bytes the count itself.
    EXPECT_INTERNAL_PANIC(
        quarn_lean_float_array_push(full(quarn_lean_mk_empty_float_array(quarn_box(0)),
                                         uint64_t{1} << 62), 1.0),
        "integer overflow in runtime computation");
    EXPECT_INTERNAL_PANIC(
        quarn_lean_byte_array_push(full(quarn_lean_mk_empty_byte_array(quarn_box(0)),
                                        uint64_t{1} << 63), 1),
        "integer overflow in runtime computation");
}

}  // namespace

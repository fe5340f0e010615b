// Shallow equality and hashing: children as pointers, content by bytes, big numbers by value.
#include <cstring>
#include <vector>

#include "quarn/string.h"
#include "share_testing.h"

namespace {

using namespace share_testing;
using ShallowTest = kit::LiveObjectsTest;

constexpr uint64_t kM = 0xC6A4A7935BD1E995u;

// MurmurHash64A as published, over a byte vector.
uint64_t murmur(const std::vector<uint8_t> &bytes, uint64_t seed) {
    uint64_t h = seed ^ (bytes.size() * kM);
    size_t blocks = bytes.size() / 8;
    for (size_t i = 0; i < blocks; ++i) {
        uint64_t k = 0;
        for (int b = 7; b >= 0; --b) k = k << 8 | bytes[8 * i + b];
        k *= kM;
        k ^= k >> 47;
        k *= kM;
        h ^= k;
        h *= kM;
    }
    size_t rest = bytes.size() & 7;
    if (rest != 0) {
        for (size_t b = 0; b < rest; ++b) h ^= uint64_t{bytes[8 * blocks + b]} << (8 * b);
        h *= kM;
    }
    h ^= h >> 47;
    h *= kM;
    h ^= h >> 47;
    return h;
}

uint64_t seed_for(uint8_t tag, uint8_t other) {
    uint64_t k = other * kM;
    uint32_t low = static_cast<uint32_t>((k ^ tag ^ (k >> 47)) ^ 0x5BD1E995u);
    return static_cast<uint32_t>(low * 0x5BD1E995u);
}

std::vector<uint8_t> word_bytes(uint64_t w) {
    std::vector<uint8_t> out(8);
    std::memcpy(out.data(), &w, 8);
    return out;
}

TEST_F(ShallowTest, ConstructorsCompareChildrenAsPointersAndScalarsAsBytes) {
    quarn_object *child = kit_string("leaf");
    quarn_object *twin = kit_string("leaf");
    quarn_inc(child);
    quarn_object *a = ctor_with_scalars(3, {child, quarn_box(7)}, {1, 2, 3});
    quarn_inc(child);
    quarn_object *b = ctor_with_scalars(3, {child, quarn_box(7)}, {1, 2, 3});
    quarn_object *other_child = ctor_with_scalars(3, {twin, quarn_box(7)}, {1, 2, 3});
    quarn_inc(child);
    quarn_object *other_bytes = ctor_with_scalars(3, {child, quarn_box(7)}, {1, 2, 4});
    quarn_inc(child);
    quarn_object *other_tag = ctor_with_scalars(4, {child, quarn_box(7)}, {1, 2, 3});

    EXPECT_TRUE(quarn_lean_sharecommon_eq(a, b));
    EXPECT_EQ(quarn_lean_sharecommon_hash(a), quarn_lean_sharecommon_hash(b));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(a, other_child)) << "equal children, different objects";
    EXPECT_FALSE(quarn_lean_sharecommon_eq(a, other_bytes));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(a, other_tag));
    EXPECT_NE(quarn_lean_sharecommon_hash(a), quarn_lean_sharecommon_hash(other_tag));

    // Content: two pointer words and 3 scalar bytes, padded with zeros to 24 bytes.
    std::vector<uint8_t> content = word_bytes(reinterpret_cast<uint64_t>(child));
    std::vector<uint8_t> seven = word_bytes(reinterpret_cast<uint64_t>(quarn_box(7)));
    content.insert(content.end(), seven.begin(), seven.end());
    content.insert(content.end(), {1, 2, 3, 0, 0, 0, 0, 0});
    EXPECT_EQ(quarn_lean_sharecommon_hash(a), murmur(content, seed_for(3, 2)));

    for (quarn_object *o : {a, b, other_child, other_bytes, other_tag}) quarn_dec(o);
    quarn_dec(child);
}

TEST_F(ShallowTest, BoxedFloat32IsHashedWithAZeroTailAndNeverMatchesAWiderBox) {
    float one = 1.0f;
    uint32_t bits;
    std::memcpy(&bits, &one, 4);
    quarn_object *narrow = quarn_box_float32(one);
    quarn_object *wide = quarn_box_uint64(bits);
    quarn_object *narrow_twin = quarn_box_float32(one);
    ASSERT_EQ(quarn::object::object_size(narrow), 12u);
    // Only the 4 bytes of the box are read; the 4 bytes after them count as zeros.
    std::vector<uint8_t> padded = word_bytes(bits);
    EXPECT_EQ(quarn_lean_sharecommon_hash(narrow), murmur(padded, seed_for(0, 0)));
    EXPECT_EQ(quarn_lean_sharecommon_hash(narrow), quarn_lean_sharecommon_hash(wide));
    EXPECT_TRUE(quarn_lean_sharecommon_eq(narrow, narrow_twin));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(narrow, wide)) << "a 12-byte box cannot stand for 16";
    EXPECT_FALSE(quarn_lean_sharecommon_eq(wide, narrow));
    quarn_object *d1 = quarn_box_float(2.5), *d2 = quarn_box_float(2.5), *d3 = quarn_box_float(-2.5);
    EXPECT_TRUE(quarn_lean_sharecommon_eq(d1, d2));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(d1, d3));
    for (quarn_object *o : {narrow, wide, narrow_twin, d1, d2, d3}) quarn_dec(o);
}

TEST_F(ShallowTest, ArraysCompareSizeCapacityAndElementsInUse) {
    quarn_object *s = kit_string("x");
    quarn_inc_n(s, 3);
    quarn_object *a = array_with_capacity({s, quarn_box(1)}, 4);
    quarn_object *b = array_with_capacity({s, quarn_box(1)}, 4);
    quarn_object *roomier = array_with_capacity({s, quarn_box(1)}, 5);
    quarn_object *shorter = array_with_capacity({s}, 4);
    EXPECT_TRUE(quarn_lean_sharecommon_eq(a, b));
    EXPECT_EQ(quarn_lean_sharecommon_hash(a), quarn_lean_sharecommon_hash(b));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(a, roomier)) << "capacity is part of the content";
    EXPECT_FALSE(quarn_lean_sharecommon_eq(a, shorter));
    // Content: size, capacity, the elements in use; seed of tag 246, other 0.
    std::vector<uint8_t> content = word_bytes(2);
    for (uint64_t w : {uint64_t{4}, reinterpret_cast<uint64_t>(s), uint64_t{3}}) {
        std::vector<uint8_t> bytes = word_bytes(w);
        content.insert(content.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(quarn_lean_sharecommon_hash(a), murmur(content, seed_for(QUARN_TAG_ARRAY, 0)));
    for (quarn_object *o : {a, b, roomier, shorter}) quarn_dec(o);
}

TEST_F(ShallowTest, StringsAndByteArraysCompareTheirBytes) {
    quarn_object *s = kit_string("héllo"), *t = kit_string("héllo"), *u = kit_string("hello");
    EXPECT_TRUE(quarn_lean_sharecommon_eq(s, t));
    EXPECT_EQ(quarn_lean_sharecommon_hash(s), quarn_lean_sharecommon_hash(t));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(s, u));
    // size 7, capacity 7, length 5, then the 6 bytes and the terminator: 31 bytes.
    std::vector<uint8_t> content = word_bytes(7);
    for (uint64_t w : {7, 5}) {
        std::vector<uint8_t> bytes = word_bytes(w);
        content.insert(content.end(), bytes.begin(), bytes.end());
    }
    const char *text = "h\xC3\xA9llo";
    content.insert(content.end(), text, text + 7);
    EXPECT_EQ(quarn_lean_sharecommon_hash(s), murmur(content, seed_for(QUARN_TAG_STRING, 0)));

    quarn_object *x = byte_array({1, 2, 3}), *y = byte_array({1, 2, 3}), *z = byte_array({1, 2});
    EXPECT_TRUE(quarn_lean_sharecommon_eq(x, y));
    EXPECT_EQ(quarn_lean_sharecommon_hash(x), quarn_lean_sharecommon_hash(y));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(x, z));
    for (quarn_object *o : {s, t, u, x, y, z}) quarn_dec(o);
}

// A one-digit big number in the heap form, with a digit array of its own.
quarn_object *heap_form_one_digit(uint64_t digit) {
    auto *big = reinterpret_cast<quarn_bignum_object *>(
        quarn::object::allocate_object(sizeof(quarn_bignum_object), QUARN_TAG_BIGNUM));
    big->capacity = 1;
    big->magnitude.digits = static_cast<uint64_t *>(quarn::object::allocate_bytes(8));
    big->magnitude.digits[0] = digit;
    big->used.count = 1;
    big->sign = QUARN_SIGN_POSITIVE;
    return &big->header;
}

TEST_F(ShallowTest, BigNumbersCompareByValueWhateverTheirForm) {
    quarn_object *inline_form = power_of_two(63);
    quarn_object *heap_form = heap_form_one_digit(uint64_t{1} << 63);
    EXPECT_TRUE(quarn_lean_sharecommon_eq(inline_form, inline_form));
    EXPECT_TRUE(quarn_lean_sharecommon_eq(inline_form, heap_form));
    EXPECT_EQ(quarn_lean_sharecommon_hash(inline_form), quarn_lean_sharecommon_hash(heap_form));

    quarn_object *own_block = power_of_two(200), *own_block_twin = power_of_two(200);
    quarn_object *long_value = power_of_two(400), *long_twin = power_of_two(400);
    EXPECT_TRUE(quarn_lean_sharecommon_eq(own_block, own_block_twin));
    EXPECT_TRUE(quarn_lean_sharecommon_eq(long_value, long_twin));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(own_block, long_value));

    quarn_object *positive = quarn_lean_nat_to_int(power_of_two(64));
    quarn_object *negative = quarn_lean_int_neg(positive);
    EXPECT_FALSE(quarn_lean_sharecommon_eq(positive, negative)) << "signs differ";

    // The hash mixes the low 32 bits of the lowest digit, negated for negative values.
    auto expected = [](uint64_t lowest) {
        uint64_t e = uint64_t{static_cast<uint32_t>(lowest)} * kM;
        return (e ^ (e >> 47) ^ 0xC6A4A7935BD1E96Fu) * kM;
    };
    quarn_object *odd = quarn_lean_nat_add(inline_form, quarn_box(0x12345));
    EXPECT_EQ(quarn_lean_sharecommon_hash(odd), expected(0x12345));
    quarn_object *minus_odd = quarn_lean_int_neg(odd);
    EXPECT_EQ(quarn_lean_sharecommon_hash(minus_odd), expected(0 - 0x12345));
    EXPECT_EQ(quarn_lean_sharecommon_hash(positive), expected(0));
    for (quarn_object *o : {inline_form, heap_form, own_block, own_block_twin, long_value, long_twin,
                            positive, negative, odd, minus_odd})
        quarn_dec(o);
}

TEST_F(ShallowTest, ObjectsNeverSharedStillHaveAShallowIdentity) {
    quarn_object *arg = kit_string("a");
    quarn_inc(arg);
    quarn_object *c1 = closure_over({arg}), *c2 = closure_over({arg}), *c3 = closure_over({quarn_box(1)});
    EXPECT_TRUE(quarn_lean_sharecommon_eq(c1, c2));
    EXPECT_EQ(quarn_lean_sharecommon_hash(c1), quarn_lean_sharecommon_hash(c2));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(c1, c3));
    quarn_object *t1 = thunk(quarn_box(4), nullptr), *t2 = thunk(quarn_box(4), nullptr);
    quarn_object *r1 = ref(quarn_box(4)), *r2 = ref(quarn_box(5));
    EXPECT_TRUE(quarn_lean_sharecommon_eq(t1, t2));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(r1, r2));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(t1, r1)) << "kinds differ";
    quarn_object *m1 = quarn_lean_io_basemutex_new(), *m2 = quarn_lean_io_basemutex_new();
    EXPECT_TRUE(quarn_lean_sharecommon_eq(m1, m1));
    EXPECT_FALSE(quarn_lean_sharecommon_eq(m1, m2)) << "different data pointers";
    for (quarn_object *o : {c1, c2, c3, t1, t2, r1, r2, m1, m2}) quarn_dec(o);
}

TEST(ShallowDeathTest, ScalarArgumentsEndTheProcess) {
    EXPECT_INTERNAL_PANIC(quarn_lean_sharecommon_eq(quarn_box(1), quarn_box(1)),
                          "ShareCommon.Object.eq applied to a scalar");
    quarn_object *s = kit_string("s");
    EXPECT_INTERNAL_PANIC(quarn_lean_sharecommon_eq(s, quarn_box(0)),
                          "ShareCommon.Object.eq applied to a scalar");
    EXPECT_INTERNAL_PANIC(quarn_lean_sharecommon_hash(quarn_box(3)),
                          "ShareCommon.Object.hash applied to a scalar");
    quarn_dec(s);
}

}  // namespace

// Allocation of constructors and boxes, byte for byte.
#include <cstring>
#include <thread>

#include "object/heap.h"
#include "object/heartbeat.h"
#include "testing.h"

namespace {

uint64_t header_word(const quarn_object *o) {
    uint64_t word;
    std::memcpy(&word, o, sizeof word);
    return word;
}

using AllocTest = kit::LiveObjectsTest;

TEST_F(AllocTest, ConstructorHeaderAndSizeWord) {
    quarn_object *o = quarn_alloc_ctor(5, 0, 0);
    EXPECT_EQ(header_word(o), 0x0500000000000001u);
    EXPECT_EQ(quarn::object::object_size(o), 8u);
    quarn_dec(o);

    quarn_object *c = quarn_alloc_ctor(7, 2, 3);
    EXPECT_EQ(header_word(c), 0x0702000000000001u);
    EXPECT_EQ(quarn::object::object_size(c), 8u + 16u + 3u) << "sizes are exact, not rounded";
    EXPECT_EQ(reinterpret_cast<uint8_t *>(quarn_ctor_scalar_area(c)) - reinterpret_cast<uint8_t *>(c),
              24);
    quarn_ctor_set(c, 0, quarn_box(1));
    quarn_ctor_set(c, 1, quarn_box(2));
    quarn_dec(c);
}

TEST_F(AllocTest, LargestConstructorIsAccepted) {
    quarn_object *o = quarn_alloc_ctor(243, 255, 1023);
    EXPECT_EQ(quarn::object::object_size(o), 3071u);
    EXPECT_EQ(quarn_ptr_tag(o), 243);
    EXPECT_EQ(quarn_ctor_num_objs(o), 255u);
    for (unsigned i = 0; i < 255; ++i) quarn_ctor_set(o, i, quarn_box(i));
    quarn_dec(o);
}

TEST(AllocDeathTest, ConstructorBoundsNameAllThreeArguments) {
    EXPECT_INTERNAL_PANIC(quarn_alloc_ctor(244, 0, 0),
                          "invalid constructor allocation (tag 244, 0 object fields, 0 scalar bytes)");
    EXPECT_INTERNAL_PANIC(quarn_alloc_ctor(0, 256, 8),
                          "invalid constructor allocation (tag 0, 256 object fields, 8 scalar bytes)");
    EXPECT_INTERNAL_PANIC(quarn_alloc_ctor(1, 2, 1024),
                          "invalid constructor allocation (tag 1, 2 object fields, 1024 scalar bytes)");
    EXPECT_INTERNAL_PANIC(quarn_alloc_ctor(4000000000u, 0, 1ull << 40),
                          "invalid constructor allocation (tag 4000000000, 0 object fields, "
                          "1099511627776 scalar bytes)");
}

TEST_F(AllocTest, BoxedNumbersAreTagZeroConstructorsWithExactSizes) {
    quarn_object *d = quarn_box_float(-2.5);
    quarn_object *f = quarn_box_float32(1.25f);
    quarn_object *u = quarn_box_uint64(0xFFFFFFFFFFFFFFFFu);
    quarn_object *z = quarn_box_usize(42);
    EXPECT_EQ(quarn::object::object_size(d), 16u);
    EXPECT_EQ(quarn::object::object_size(f), 12u);
    EXPECT_EQ(quarn::object::object_size(u), 16u);
    for (quarn_object *o : {d, f, u, z}) EXPECT_EQ(header_word(o), 0x0000000000000001u);
    EXPECT_EQ(quarn_unbox_float(d), -2.5);
    EXPECT_EQ(quarn_unbox_float32(f), 1.25f);
    EXPECT_EQ(quarn_unbox_uint64(u), 0xFFFFFFFFFFFFFFFFu);
    EXPECT_EQ(quarn_unbox_usize(z), 42u);
    for (quarn_object *o : {d, f, u, z}) quarn_dec(o);
}

TEST(Boxing, Uint32IsTheScalarWord) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(quarn_box_uint32(0xFFFFFFFFu)), 0x1FFFFFFFFu);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(quarn_box_uint32(0)), 1u);
    EXPECT_EQ(quarn_unbox(quarn_box((size_t{1} << 63) - 1)), (size_t{1} << 63) - 1);
}

TEST_F(AllocTest, HeartbeatsCountPerThread) {
    uint64_t before = quarn::object::heartbeats;
    quarn_object *a = quarn_alloc_ctor(0, 0, 0);
    quarn_object *b = quarn_alloc_ctor(0, 0, 0);
    EXPECT_EQ(quarn::object::heartbeats, before + 2);
    uint64_t other_thread = 0;
    std::thread([&] { other_thread = quarn::object::heartbeats; }).join();
    EXPECT_EQ(other_thread, 0u) << "another thread's counter is its own";
    quarn_dec(a);
    quarn_dec(b);
    quarn_dec(quarn_mk_string_unchecked("abc", 3, 3));  // does not count
    EXPECT_EQ(quarn::object::heartbeats, before + 2);
}

TEST_F(AllocTest, StringOfUncheckedBytes) {
    quarn_object *s = quarn_mk_string_unchecked("h\xC3\xA9llo", 6, 5);
    auto *str = reinterpret_cast<quarn_string_object *>(s);
    EXPECT_EQ(header_word(s), 0xF900000000000001u);
    EXPECT_EQ(str->size, 7u);
    EXPECT_EQ(str->capacity, 7u);
    EXPECT_EQ(str->length, 5u);
    EXPECT_EQ(str->data[6], '\0');
    EXPECT_EQ(quarn::object::object_size(s), 7u + 32u);
    quarn_dec(s);
}

TEST(AllocDeathTest, StringTooLongIsOutOfMemory) {
    EXPECT_INTERNAL_PANIC(quarn_mk_string_unchecked("", 0x7FFFFFFFFFFFFFD0u, 0), "out of memory");
}

TEST_F(AllocTest, FreeObjectFreesTheDigitsOfABigNumberOnly) {
    auto *big = reinterpret_cast<quarn_bignum_object *>(
        quarn::object::allocate(sizeof(quarn_bignum_object)));
    big->header = {1, 0, 0, QUARN_TAG_BIGNUM};
    big->capacity = 3;
    big->magnitude.digits = static_cast<uint64_t *>(quarn::object::allocate_bytes(24));
    big->used.count = 2;
    big->sign = QUARN_SIGN_POSITIVE;
    quarn_free_object(&big->header);  // the sanitizer build checks the digit array is freed

    auto *zero = reinterpret_cast<quarn_bignum_object *>(
        quarn::object::allocate(sizeof(quarn_bignum_object)));
    zero->header = {1, 0, 0, QUARN_TAG_BIGNUM};
    zero->capacity = 0;
    zero->magnitude.digits = reinterpret_cast<uint64_t *>(0xDEAD);  // never read
    quarn_free_object(&zero->header);
}

TEST(Predicates, ScalarExclusiveAndAddress) {
    quarn_object *o = quarn_alloc_ctor(0, 0, 0);
    EXPECT_EQ(quarn_lean_is_scalar(quarn_box(3)), 1);
    EXPECT_EQ(quarn_lean_is_scalar(o), 0);
    EXPECT_EQ(quarn_lean_is_exclusive_obj(o), 1);
    quarn_inc(o);
    EXPECT_EQ(quarn_lean_is_exclusive_obj(o), 0);
    EXPECT_EQ(quarn_lean_ptr_addr(o), reinterpret_cast<size_t>(o));
    EXPECT_EQ(quarn_lean_ptr_addr(quarn_box(3)), 7u);
    quarn_dec(o);
    EXPECT_EQ(quarn_lean_void_mk(o), quarn_box(0));
}

}  // namespace

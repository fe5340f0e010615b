// Arrays of values: growth, copy-on-write, element counts and the out-of-range rules.
#include "arrays.h"
#include "number/bignum.h"
#include "object/heartbeat.h"

namespace {

using namespace arrays;

constexpr char kOutOfBounds[] = "Error: index out of bounds\n";

TEST_F(ArrayTest, EmptyArrayWithCapacityHasTheExactLayout) {
    quarn_object *a = quarn_lean_mk_empty_array_with_capacity(quarn_box(7));
    EXPECT_EQ(a->tag, QUARN_TAG_ARRAY);
    EXPECT_EQ(a->other, 0);
    EXPECT_EQ(rc(a), 1);
    EXPECT_EQ(size_of(a), 0u);
    EXPECT_EQ(capacity_of(a), 7u);
    EXPECT_EQ(quarn::object::object_size(a), 8u * 7 + 24);
    EXPECT_EQ(quarn_lean_array_get_size(a), quarn_box(0));
    quarn_dec(a);
}

TEST_F(ArrayTest, MkArrayRaisesTheValueOnceAndZeroReleasesIt) {
    quarn_object *v = leaf();
    quarn_object *a = quarn_lean_mk_array(quarn_box(3), v);
    EXPECT_EQ(size_of(a), 3u);
    EXPECT_EQ(capacity_of(a), 3u);
    EXPECT_EQ(rc(v), 3);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(quarn_lean_array_uget_borrowed(a, i), v);
    // More copies than one inline increment carries.
    quarn_inc(v);
    quarn_object *big = quarn_lean_mk_array(quarn_box(100000), v);
    EXPECT_EQ(rc(v), 3 + 100000);
    quarn_dec(big);
    EXPECT_EQ(rc(v), 3);
    quarn_dec(a);

    int64_t live = quarn::object::live_objects();
    quarn_object *empty = quarn_lean_mk_array(quarn_box(0), leaf());
    EXPECT_EQ(size_of(empty), 0u);
    EXPECT_EQ(quarn::object::live_objects(), live + 1) << "only the array is left";
    quarn_dec(empty);
}

TEST_F(ArrayTest, ListConversionsKeepOrderAndCounts) {
    quarn_object *x = leaf(), *y = leaf();
    quarn_object *items[] = {x, quarn_box(7), y};
    quarn_object *list = kit_list(3, items);
    quarn_inc(list);  // shared: the cells keep their references
    quarn_object *a = quarn_lean_array_mk(list);
    EXPECT_EQ(size_of(a), 3u);
    EXPECT_EQ(capacity_of(a), 3u);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(a, 0), x);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(a, 1), quarn_box(7));
    EXPECT_EQ(quarn_lean_array_uget_borrowed(a, 2), y);
    EXPECT_EQ(rc(x), 2);
    EXPECT_EQ(rc(list), 1);
    quarn_dec(list);
    EXPECT_EQ(rc(x), 1) << "the list's reference went with it";

    // A shared array keeps its elements; each gains one for the list.
    quarn_inc(a);
    uint64_t beats = quarn::object::heartbeats;
    quarn_object *back = quarn_lean_array_to_list(a);
    EXPECT_EQ(quarn::object::heartbeats - beats, 3u) << "one per cell";
    EXPECT_EQ(kit_list_length(back), 3u);
    EXPECT_EQ(quarn_ctor_get(back, 0), x);
    EXPECT_EQ(quarn_ctor_get(quarn_ctor_get(back, 1), 0), quarn_box(7));
    EXPECT_EQ(rc(x), 2);
    EXPECT_EQ(rc(a), 1);
    quarn_dec(back);

    // An exclusive array hands its references over.
    quarn_object *moved = quarn_lean_array_to_list(a);
    EXPECT_EQ(rc(x), 1);
    EXPECT_EQ(rc(y), 1);
    EXPECT_EQ(quarn_ctor_get(quarn_ctor_get(quarn_ctor_get(moved, 1), 1), 0), y);
    quarn_dec(moved);

    EXPECT_EQ(quarn_lean_array_to_list(quarn_lean_mk_empty_array_with_capacity(quarn_box(4))),
              quarn_box(0));
}

TEST_F(ArrayTest, ArrayMkOfAnEmptyListIsEmpty) {
    quarn_object *a = quarn_lean_array_mk(quarn_box(0));
    EXPECT_EQ(size_of(a), 0u);
    EXPECT_EQ(capacity_of(a), 0u);
    quarn_dec(a);
}

TEST_F(ArrayTest, PushGrowsExclusiveArraysInPlaceOrByMoving) {
    quarn_object *x = leaf();
    quarn_object *a = array({x, quarn_box(1), quarn_box(2)}, 4);
    quarn_object *same = quarn_lean_array_push(a, quarn_box(3));
    EXPECT_EQ(same, a) << "room left: in place";
    EXPECT_EQ(size_of(a), 4u);
    EXPECT_EQ(capacity_of(a), 4u);

    quarn_object *grown = quarn_lean_array_push(a, quarn_box(4));
    EXPECT_NE(grown, a);
    EXPECT_EQ(size_of(grown), 5u);
    EXPECT_EQ(capacity_of(grown), 10u);
    EXPECT_EQ(quarn::object::object_size(grown), 8u * 10 + 24);
    EXPECT_EQ(rc(x), 1) << "elements are moved, not counted";
    EXPECT_EQ(quarn_lean_array_uget_borrowed(grown, 0), x);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(grown, 4), quarn_box(4));
    quarn_dec(grown);

    quarn_object *empty = quarn_lean_mk_empty_array_with_capacity(quarn_box(0));
    empty = quarn_lean_array_push(empty, quarn_box(9));
    EXPECT_EQ(capacity_of(empty), 2u);
    quarn_dec(empty);
}

TEST_F(ArrayTest, PushCopiesSharedArraysGrowingFromHalfFull) {
    quarn_object *x = leaf();
    quarn_object *a = array({x, quarn_box(1)}, 8);
    quarn_inc(a);
    quarn_object *copy = quarn_lean_array_push(a, quarn_box(2));
    EXPECT_NE(copy, a);
    EXPECT_EQ(capacity_of(copy), 8u) << "size 2 of 8: no growth";
    EXPECT_EQ(size_of(copy), 3u);
    EXPECT_EQ(size_of(a), 2u) << "the original is untouched";
    EXPECT_EQ(rc(a), 1);
    EXPECT_EQ(rc(x), 2);
    quarn_dec(copy);

    a = quarn_lean_array_push(a, quarn_box(2));
    a = quarn_lean_array_push(a, quarn_box(3));
    quarn_inc(a);
    copy = quarn_lean_array_push(a, quarn_box(4));
    EXPECT_EQ(capacity_of(copy), 18u) << "size 4 of 8: 2 * 8 + 2";
    EXPECT_EQ(size_of(copy), 5u);
    quarn_dec(copy);
    EXPECT_EQ(rc(x), 1) << "the copy gave its reference back";
    quarn_dec(a);
}

TEST_F(ArrayTest, TheInlineFastPathsAgreeWithTheExportedOnes) {
    quarn_object *x = leaf();
    quarn_object *a = array({x}, 2);
    EXPECT_EQ(quarn_array_size(a), 1u);
    EXPECT_EQ(quarn_array_uget_borrowed(a, 0), x);
    quarn_object *got = quarn_array_uget(a, 0);
    EXPECT_EQ(rc(x), 2);
    quarn_dec(got);
    EXPECT_EQ(quarn_array_push(a, quarn_box(1)), a) << "room left: in place";
    quarn_object *grown = quarn_array_push(a, quarn_box(2));
    EXPECT_NE(grown, a);
    EXPECT_EQ(capacity_of(grown), 6u) << "full: the exported push grows it";
    quarn_inc(grown);
    quarn_object *copy = quarn_array_push(grown, quarn_box(3));
    EXPECT_NE(copy, grown) << "shared: copied, even with room";
    EXPECT_EQ(size_of(grown), 3u);
    quarn_dec(copy);
    quarn_dec(grown);

    quarn_object *bytes = quarn_lean_mk_empty_byte_array(quarn_box(1));
    EXPECT_EQ(quarn_byte_array_push(bytes, 7), bytes);
    bytes = quarn_byte_array_push(bytes, 8);
    EXPECT_EQ(quarn_sarray_size(bytes), 2u);
    EXPECT_EQ(quarn_byte_array_uget(bytes, 1), 8);
    quarn_dec(bytes);
}

TEST_F(ArrayTest, GetReturnsANewReferenceOrReportsAndReturnsTheDefault) {
    quarn_object *x = leaf(), *fallback = leaf();
    quarn_object *a = array({quarn_box(0), quarn_box(1), quarn_box(2), quarn_box(3), x}, 5);
    testing::internal::CaptureStderr();
    quarn_object *got = quarn_lean_array_get(fallback, a, quarn_box(4));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "in range: no report";
    EXPECT_EQ(got, x);
    EXPECT_EQ(rc(x), 2);
    quarn_dec(got);

    testing::internal::CaptureStderr();
    got = quarn_lean_array_get(fallback, a, quarn_box(5));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kOutOfBounds);
    EXPECT_EQ(got, fallback);
    EXPECT_EQ(rc(fallback), 2);
    quarn_dec(got);

    quarn_object *big = quarn::number::make_one_digit(uint64_t{1} << 63, QUARN_SIGN_POSITIVE);
    testing::internal::CaptureStderr();
    got = quarn_lean_array_get(quarn_box(42), a, big);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kOutOfBounds) << "a big index";
    EXPECT_EQ(got, quarn_box(42));
    EXPECT_EQ(rc(big), 1) << "the index is borrowed";
    quarn_dec(big);

    EXPECT_EQ(quarn_lean_array_get_borrowed(fallback, a, quarn_box(4)), x);
    EXPECT_EQ(rc(x), 1) << "borrowed: no new reference";
    testing::internal::CaptureStderr();
    EXPECT_EQ(quarn_lean_array_get_borrowed(fallback, a, quarn_box(9)), fallback);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kOutOfBounds);
    EXPECT_EQ(rc(fallback), 2) << "the failure path is get's";
    quarn_dec(fallback);

    got = quarn_lean_array_fget(a, quarn_box(4));
    EXPECT_EQ(rc(x), 2);
    quarn_dec(got);
    got = quarn_lean_array_uget(a, 4);
    EXPECT_EQ(rc(x), 2);
    quarn_dec(got);
    EXPECT_EQ(quarn_lean_array_fget_borrowed(a, quarn_box(4)), x);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(a, 3), quarn_box(3));
    EXPECT_EQ(rc(x), 1);
    EXPECT_EQ(quarn_lean_array_size(a), 5u);
    EXPECT_EQ(quarn_lean_array_get_size(a), quarn_box(5));
    quarn_dec(fallback);
    quarn_dec(a);
}

TEST_F(ArrayTest, SetUpdatesExclusiveArraysAndCopiesSharedOnes) {
    quarn_object *old = leaf(), *kept = leaf(), *fresh = leaf();
    quarn_object *a = array({old, kept}, 2);
    quarn_inc(old);  // watch it being released
    quarn_object *same = quarn_lean_array_set(a, quarn_box(0), fresh);
    EXPECT_EQ(same, a);
    EXPECT_EQ(rc(old), 1) << "the overwritten element is released";
    EXPECT_EQ(quarn_lean_array_uget_borrowed(a, 0), fresh);

    quarn_inc(a);
    quarn_object *copy = quarn_lean_array_fset(a, quarn_box(1), old);
    EXPECT_NE(copy, a);
    EXPECT_EQ(capacity_of(copy), 2u);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(a, 1), kept) << "the original is untouched";
    EXPECT_EQ(quarn_lean_array_uget_borrowed(copy, 1), old);
    EXPECT_EQ(rc(fresh), 2) << "shared by original and copy";
    EXPECT_EQ(rc(kept), 1) << "overwritten in the copy only";
    EXPECT_EQ(rc(a), 1);
    quarn_dec(copy);

    a = quarn_lean_array_uset(a, 1, quarn_box(5));
    EXPECT_EQ(quarn_lean_array_uget_borrowed(a, 1), quarn_box(5));
    quarn_dec(a);
}

TEST_F(ArrayTest, SetOutOfRangeReleasesTheValueAndReports) {
    quarn_object *a = array({quarn_box(1)}, 1);
    quarn_inc(a);  // shared, yet returned as it is
    int64_t live = quarn::object::live_objects();
    testing::internal::CaptureStderr();
    quarn_object *r = quarn_lean_array_set(a, quarn_box(1), leaf());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kOutOfBounds);
    EXPECT_EQ(r, a);
    EXPECT_EQ(rc(a), 2);
    EXPECT_EQ(quarn::object::live_objects(), live) << "the value is released";

    quarn_object *big = quarn::number::make_one_digit(3, QUARN_SIGN_POSITIVE);
    testing::internal::CaptureStderr();
    r = quarn_lean_array_set(a, big, quarn_box(2));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kOutOfBounds);
    EXPECT_EQ(r, a);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(a, 0), quarn_box(1));
    quarn_dec(big);
    quarn_dec(a);
    quarn_dec(a);
}

TEST_F(ArrayTest, PopReleasesTheLastElementOfAnExclusiveArray) {
    quarn_object *last = leaf();
    quarn_object *a = array({quarn_box(1), last}, 4);
    quarn_inc(last);
    quarn_inc(a);
    quarn_object *copy = quarn_lean_array_pop(a);
    EXPECT_NE(copy, a);
    EXPECT_EQ(size_of(copy), 1u);
    EXPECT_EQ(capacity_of(copy), 4u);
    EXPECT_EQ(size_of(a), 2u);
    EXPECT_EQ(rc(last), 2) << "the copy took a reference and released it";
    quarn_dec(copy);

    quarn_object *same = quarn_lean_array_pop(a);
    EXPECT_EQ(same, a);
    EXPECT_EQ(rc(last), 1);
    quarn_dec(last);
    a = quarn_lean_array_pop(a);
    EXPECT_EQ(size_of(a), 0u);
    EXPECT_EQ(quarn_lean_array_pop(a), a) << "an exclusive empty array stays as it is";
    EXPECT_EQ(size_of(a), 0u);
    quarn_dec(a);
}

TEST_F(ArrayTest, SwapOutOfRangeIsSilentAndInRangeCopiesOnWrite) {
    quarn_object *x = leaf();
    quarn_object *a = array({x, quarn_box(1), quarn_box(2)}, 3);
    quarn_inc(a);
    testing::internal::CaptureStderr();
    EXPECT_EQ(quarn_lean_array_swap(a, quarn_box(0), quarn_box(3)), a);
    quarn_object *big = quarn::number::make_one_digit(uint64_t{1} << 63, QUARN_SIGN_POSITIVE);
    EXPECT_EQ(quarn_lean_array_swap(a, big, quarn_box(0)), a);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(rc(a), 2);
    quarn_dec(big);

    quarn_object *copy = quarn_lean_array_swap(a, quarn_box(0), quarn_box(2));
    EXPECT_NE(copy, a);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(copy, 0), quarn_box(2));
    EXPECT_EQ(quarn_lean_array_uget_borrowed(copy, 2), x);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(a, 0), x);
    EXPECT_EQ(rc(x), 2);
    quarn_dec(a);
    EXPECT_EQ(quarn_lean_array_fswap(copy, quarn_box(1), quarn_box(2)), copy);
    EXPECT_EQ(quarn_lean_array_uget_borrowed(copy, 1), x);
    quarn_dec(copy);
}

TEST_F(ArrayTest, MultiThreadedArraysAreNeverUpdatedInPlace) {
    quarn_object *x = leaf();
    quarn_object *a = array({x}, 4);
    quarn_mark_mt(a);
    EXPECT_EQ(rc(x), -1) << "the marking walk reaches the elements";
    quarn_inc(a);
    quarn_object *copy = quarn_lean_array_push(a, quarn_box(1));
    EXPECT_NE(copy, a);
    EXPECT_EQ(rc(x), -2);
    quarn_dec(a);
    EXPECT_EQ(rc(x), -1);
    EXPECT_EQ(rc(copy), 1);
    quarn_dec(copy);
}

// ---- fatal paths ------------------------------------------------------------------------

using ArrayDeathTest = ArrayTest;

TEST_F(ArrayDeathTest, BigCapacitiesAndCountsAreOutOfMemory) {
    EXPECT_INTERNAL_PANIC(quarn_lean_mk_empty_array_with_capacity(
                              quarn::number::make_one_digit(uint64_t{1} << 63, 2)),
                          "out of memory");
    EXPECT_INTERNAL_PANIC(quarn_lean_mk_array(two_digit_nat(), quarn_box(0)), "out of memory");
    EXPECT_INTERNAL_PANIC(
        quarn_lean_mk_array(quarn::number::make_one_digit(uint64_t{1} << 63, 2), quarn_box(0)),
        "out of memory");
    // 8 * 2^60 + 24 fits in 64 bits but no allocator hands it out.
    EXPECT_INTERNAL_PANIC(quarn_lean_mk_empty_array_with_capacity(quarn_box(uint64_t{1} << 60)),
                          "out of memory");
}

TEST_F(ArrayDeathTest, CapacityArithmeticThatOverflowsStops) {
    EXPECT_INTERNAL_PANIC(quarn_lean_mk_array(quarn_box(uint64_t{1} << 62), quarn_box(0)),
                          "integer overflow in runtime computation");
    // A full array claiming 2^62 slots: growing it needs 8 * (2^63 + 2) bytes.
    auto full_array = [](size_t slots) {
        quarn_object *a = quarn_lean_mk_empty_array_with_capacity(quarn_box(0));
        as_array(a)->size = as_array(a)->capacity = slots;
        return a;
    };
    EXPECT_INTERNAL_PANIC(quarn_lean_array_push(full_array(uint64_t{1} << 62), quarn_box(0)),
                          "integer overflow in runtime computation");
    EXPECT_INTERNAL_PANIC(quarn_lean_array_push(full_array(uint64_t{1} << 63), quarn_box(0)),
                          "integer overflow in runtime computation");
}

}  // namespace

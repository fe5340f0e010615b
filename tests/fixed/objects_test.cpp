// The primitives that read or make objects: Nat and Int arguments in every form, their
// ownership, and the layout, form and heartbeats of the numbers and pairs they return.
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "fixed_testing.h"
#include "object/heartbeat.h"
#include "quarn/fixed.h"
#include "testing.h"

namespace {

using fixed_testing::make_heap_bignum;
using fixed_testing::make_number;
using fixed_testing::Number;
using fixed_testing::number_text;

using ObjectsTest = kit::LiveObjectsTest;

const quarn_bignum_object *as_big(const quarn_object *o) {
    return reinterpret_cast<const quarn_bignum_object *>(o);
}

TEST_F(ObjectsTest, OfNatReadsTheLowestDigitOfEitherBigForm) {
    // 2^64 + 5 in the heap form, and 2^63 + 0x1234 in the heap form with one digit (as the
    // library may leave it) and in the inline form.
    quarn_object *two_digits = make_heap_bignum({false, {5, 1}});
    quarn_object *heap_one = make_heap_bignum({false, {(uint64_t{1} << 63) + 0x1234}});
    quarn_object *inline_one = make_number({false, {(uint64_t{1} << 63) + 0x1234}}, false);
    EXPECT_EQ(as_big(inline_one)->capacity, -1);
    EXPECT_EQ(quarn_lean_uint8_of_nat(two_digits), 5);
    EXPECT_EQ(quarn_lean_uint64_of_nat(two_digits), 5u);
    for (quarn_object *n : {heap_one, inline_one}) {
        EXPECT_EQ(quarn_lean_uint16_of_nat(n), 0x1234);
        EXPECT_EQ(quarn_lean_int64_of_nat(n), std::numeric_limits<int64_t>::min() + 0x1234);
    }
    for (quarn_object *n : {two_digits, heap_one, inline_one}) {
        EXPECT_EQ(n->rc, 1) << "of_nat borrows";
        quarn_dec(n);
    }
}

TEST_F(ObjectsTest, OfIntNegatesTheDigitOfANegativeBigNumber) {
    quarn_object *minus_2_63 = make_number({true, {uint64_t{1} << 63}}, true);
    EXPECT_EQ(quarn_lean_int64_of_int(minus_2_63), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(quarn_lean_isize_of_int(minus_2_63), std::numeric_limits<int64_t>::min());
    quarn_object *minus_2_64_plus_5 = make_heap_bignum({true, {5, 1}});
    EXPECT_EQ(quarn_lean_int8_of_int(minus_2_64_plus_5), -5);
    EXPECT_EQ(quarn_lean_int64_of_int(minus_2_64_plus_5), -5);
    quarn_dec(minus_2_63);
    quarn_dec(minus_2_64_plus_5);
    // A boxed Int is its 32-bit pattern, sign-extended for 64-bit targets.
    quarn_object *minus_one = quarn_box(0xFFFFFFFFu);
    EXPECT_EQ(quarn_lean_int8_of_int(minus_one), -1);
    EXPECT_EQ(quarn_lean_int64_of_int(minus_one), -1);
    EXPECT_EQ(quarn_lean_uint64_of_nat(quarn_box(0xFFFFFFFFu)), 0xFFFFFFFFu) << "a Nat is not";
}

TEST_F(ObjectsTest, OfNatMkConsumesItsArgument) {
    quarn_object *n = make_heap_bignum({false, {7, 1}});
    quarn_inc(n);
    EXPECT_EQ(quarn_lean_uint32_of_nat_mk(n), 7u);
    EXPECT_EQ(n->rc, 1);
    EXPECT_EQ(quarn_lean_usize_of_nat_mk(n), 7u);  // the last reference: freed
    EXPECT_EQ(quarn_lean_uint8_of_nat_mk(quarn_box(300)), 44);
}

TEST_F(ObjectsTest, ToNatIsBoxedBelow2To63AndAnInlineBigNumberFrom) {
    quarn_object *boxed = quarn_lean_uint64_to_nat((uint64_t{1} << 63) - 1);
    EXPECT_EQ(boxed, quarn_box((uint64_t{1} << 63) - 1));
    uint64_t before = quarn::object::heartbeats;
    quarn_object *big = quarn_lean_usize_to_nat(uint64_t{1} << 63);
    EXPECT_EQ(quarn::object::heartbeats, before + 1);
    ASSERT_FALSE(quarn_is_scalar(big));
    EXPECT_EQ(big->tag, QUARN_TAG_BIGNUM);
    EXPECT_EQ(as_big(big)->capacity, -1) << "one digit is held inline";
    EXPECT_EQ(as_big(big)->used.inline_digit, uint64_t{1} << 63);
    EXPECT_EQ(as_big(big)->sign, QUARN_SIGN_POSITIVE);
    quarn_dec(big);
    EXPECT_EQ(quarn_lean_uint8_to_nat(255), quarn_box(255));
}

TEST_F(ObjectsTest, Int64ToIntIsBoxedOnlyInThe32BitRange) {
    EXPECT_EQ(quarn_lean_int64_to_int_sint((int64_t{1} << 31) - 1), quarn_box(0x7FFFFFFF));
    EXPECT_EQ(quarn_lean_isize_to_int(-(int64_t{1} << 31)), quarn_box(0x80000000u));
    EXPECT_EQ(quarn_lean_int8_to_int(-1), reinterpret_cast<quarn_object *>(0x1FFFFFFFFu));
    struct Expected {
        int64_t value;
        uint64_t digit;
        uint8_t sign;
    };
    for (Expected e : {Expected{int64_t{1} << 31, uint64_t{1} << 31, QUARN_SIGN_POSITIVE},
                       Expected{-(int64_t{1} << 31) - 1, (uint64_t{1} << 31) + 1, QUARN_SIGN_NEGATIVE},
                       Expected{std::numeric_limits<int64_t>::min(), uint64_t{1} << 63,
                                QUARN_SIGN_NEGATIVE}}) {
        quarn_object *big = quarn_lean_int64_to_int_sint(e.value);
        ASSERT_FALSE(quarn_is_scalar(big)) << e.value;
        EXPECT_EQ(as_big(big)->used.inline_digit, e.digit);
        EXPECT_EQ(as_big(big)->sign, e.sign);
        quarn_dec(big);
    }
}

TEST_F(ObjectsTest, FrexpMakesAPairOfABoxedMantissaAndASmallInt) {
    uint64_t before = quarn::object::heartbeats;
    quarn_object *pair = quarn_lean_float_frexp(8.0);
    EXPECT_EQ(quarn::object::heartbeats, before + 2) << "the pair and the box";
    EXPECT_EQ(quarn_ptr_tag(pair), 0);
    EXPECT_EQ(quarn_ctor_num_objs(pair), 2u);
    EXPECT_EQ(quarn::object::object_size(pair), 24u);
    quarn_object *mantissa = quarn_ctor_get(pair, 0);
    EXPECT_EQ(quarn::object::object_size(mantissa), 16u);
    EXPECT_EQ(quarn_unbox_float(mantissa), 0.5);
    EXPECT_EQ(quarn_ctor_get(pair, 1), quarn_box(4));
    quarn_dec(pair);

    pair = quarn_lean_float32_frexp(-0.75f);
    mantissa = quarn_ctor_get(pair, 0);
    EXPECT_EQ(quarn::object::object_size(mantissa), 12u);
    EXPECT_EQ(quarn_unbox_float32(mantissa), -0.75f);
    EXPECT_EQ(quarn_ctor_get(pair, 1), quarn_box(0));
    quarn_dec(pair);

    pair = quarn_lean_float_frexp(std::numeric_limits<double>::infinity());
    EXPECT_EQ(quarn_ctor_get(pair, 1), quarn_box(0));
    quarn_dec(pair);
    pair = quarn_lean_float_frexp(0.1);
    EXPECT_EQ(quarn_ctor_get(pair, 1), quarn_box(0xFFFFFFFDu)) << "-3 as a boxed Int";
    quarn_dec(pair);
}

TEST_F(ObjectsTest, ScalebBorrowsItsBigExponent) {
    quarn_object *huge = make_number({false, {uint64_t{1} << 40}}, true);
    quarn_object *tiny = make_number({true, {uint64_t{1} << 40}}, true);
    EXPECT_EQ(quarn_lean_float_scaleb(3.0, huge), std::numeric_limits<double>::infinity());
    EXPECT_EQ(quarn_lean_float_scaleb(-3.0, huge), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(std::bit_cast<uint64_t>(quarn_lean_float_scaleb(-3.0, tiny)), 0u) << "+0.0";
    EXPECT_EQ(std::bit_cast<uint64_t>(quarn_lean_float_scaleb(-0.0, huge)), 0u) << "+0.0";
    EXPECT_TRUE(std::isnan(quarn_lean_float32_scaleb(std::nanf(""), huge)));
    EXPECT_EQ(quarn_lean_float32_scaleb(1.5f, quarn_box(0xFFFFFFFFu)), 0.75f);
    EXPECT_EQ(huge->rc, 1);
    EXPECT_EQ(tiny->rc, 1);
    quarn_dec(huge);
    quarn_dec(tiny);
}

}  // namespace

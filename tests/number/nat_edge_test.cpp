// The edges of the boxed ranges, object layouts, ownership of the results that are not
// fresh objects, the allocation accounting, and the internal interface other areas use.
#include <thread>

#include "bignums.h"
#include "number/nat.h"
#include "object/heartbeat.h"
#include "testing.h"

namespace {

using numbers::is_int;
using numbers::is_nat;
using numbers::Value;

using NatEdgeTest = kit::LiveObjectsTest;

const quarn_bignum_object *big(const quarn_object *o) {
    return reinterpret_cast<const quarn_bignum_object *>(o);
}

constexpr uint64_t kLargestBoxedNat = (uint64_t{1} << 63) - 1;

TEST_F(NatEdgeTest, PastTheBoxedNatRangeAndBack) {
    uint64_t before = quarn::object::heartbeats;
    quarn_object *top = quarn_lean_nat_add(quarn_box(kLargestBoxedNat), quarn_box(1));
    EXPECT_EQ(quarn::object::heartbeats, before + 1) << "one big number, one heartbeat";
    ASSERT_TRUE(is_nat(top, Value::power_of_two(63)));
    EXPECT_EQ(big(top)->capacity, -1);
    EXPECT_EQ(big(top)->magnitude.inline_present, 1u);
    EXPECT_EQ(big(top)->used.inline_digit, uint64_t{1} << 63);
    EXPECT_EQ(big(top)->sign, QUARN_SIGN_POSITIVE);
    uint64_t header;
    std::memcpy(&header, top, sizeof header);
    EXPECT_EQ(header, 0xFA00000000000001u);

    quarn_object *back = quarn_lean_nat_sub(top, quarn_box(1));
    EXPECT_EQ(back, quarn_box(kLargestBoxedNat));
    quarn_object *pred = quarn_lean_nat_pred(top);
    EXPECT_EQ(pred, quarn_box(kLargestBoxedNat));
    quarn_dec(top);
}

TEST_F(NatEdgeTest, ScalarPathsNeitherAllocateNorCount) {
    uint64_t before = quarn::object::heartbeats;
    EXPECT_EQ(quarn_lean_nat_sub(quarn_box(3), quarn_box(5)), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_pred(quarn_box(0)), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_mul(quarn_box(0), quarn_box(kLargestBoxedNat)), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_mul(quarn_box(3037000499), quarn_box(3037000499)),
              quarn_box(9223372030926249001u));
    EXPECT_EQ(quarn_lean_nat_div(quarn_box(7), quarn_box(0)), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_mod(quarn_box(7), quarn_box(0)), quarn_box(7));
    EXPECT_EQ(quarn_lean_int_div(quarn_box(7), quarn_box(0)), quarn_box(0));
    EXPECT_EQ(quarn_lean_int_mod(quarn_box(7), quarn_box(0)), quarn_box(7));
    EXPECT_EQ(quarn_lean_int_emod(quarn_box_int(-7), quarn_box(0)), quarn_box_int(-7));
    EXPECT_EQ(quarn_lean_int_mul(quarn_box_int(-46341), quarn_box_int(46340)),
              quarn_box_int(-2147441940));
    EXPECT_EQ(quarn_lean_nat_pow(quarn_box(3), quarn_box(39)), quarn_box(4052555153018976267u));
    EXPECT_EQ(quarn_lean_nat_shiftl(quarn_box(1), quarn_box(62)), quarn_box(uint64_t{1} << 62));
    EXPECT_EQ(quarn_lean_nat_to_int(quarn_box(INT32_MAX)), quarn_box(INT32_MAX));
    EXPECT_EQ(quarn::object::heartbeats, before);
}

TEST_F(NatEdgeTest, IntegerDivisionRoundings) {
    struct Row {
        int32_t a, b, div, mod, ediv, emod;
    };
    for (Row r : {Row{-7, 2, -3, -1, -4, 1}, Row{-7, -2, 3, -1, 4, 1}, Row{7, -2, -3, 1, -3, 1},
                  Row{7, 2, 3, 1, 3, 1}, Row{-6, 3, -2, 0, -2, 0}, Row{-7, 0, 0, -7, 0, -7}}) {
        quarn_object *a = quarn_box_int(r.a), *b = quarn_box_int(r.b);
        EXPECT_EQ(quarn_lean_int_div(a, b), quarn_box_int(r.div)) << r.a << " / " << r.b;
        EXPECT_EQ(quarn_lean_int_mod(a, b), quarn_box_int(r.mod)) << r.a << " % " << r.b;
        EXPECT_EQ(quarn_lean_int_ediv(a, b), quarn_box_int(r.ediv)) << r.a << " ediv " << r.b;
        EXPECT_EQ(quarn_lean_int_emod(a, b), quarn_box_int(r.emod)) << r.a << " emod " << r.b;
    }
}

TEST_F(NatEdgeTest, TheOneIntOverflowOfDivisionAndNegation) {
    quarn_object *min = quarn_box_int(INT32_MIN);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(min), 0x100000001u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(quarn_box_int(-1)), 0x1FFFFFFFFu);
    quarn_object *quotient = quarn_lean_int_div(min, quarn_box_int(-1));
    quarn_object *negated = quarn_lean_int_neg(min);
    for (quarn_object *o : {quotient, negated}) {
        ASSERT_TRUE(is_int(o, Value::power_of_two(31)));
        EXPECT_EQ(big(o)->capacity, -1) << "inline form";
    }
    EXPECT_EQ(quarn_lean_int_neg(negated), min);
    EXPECT_EQ(quarn_lean_int_mod(min, quarn_box_int(-1)), quarn_box(0));
    quarn_dec(quotient);
    quarn_dec(negated);
}

TEST_F(NatEdgeTest, NatToIntConsumesAndPassesBigNatsThrough) {
    quarn_object *boxed = quarn_lean_nat_to_int(quarn_box(uint64_t{1} << 31));
    EXPECT_TRUE(is_int(boxed, Value::power_of_two(31)));
    quarn_dec(boxed);
    quarn_object *nat = numbers::make_nat(Value::power_of_two(64));
    EXPECT_EQ(quarn_lean_nat_to_int(nat), nat);
    EXPECT_EQ(nat->rc, 1);
    EXPECT_TRUE(is_int(nat, Value::power_of_two(64)));
    quarn_dec(nat);
}

TEST_F(NatEdgeTest, AbsBorrowsItsArgument) {
    quarn_object *minus = numbers::make_int(Value::power_of_two(40, true));
    EXPECT_EQ(quarn_lean_nat_abs(minus), quarn_box(uint64_t{1} << 40));
    EXPECT_EQ(minus->rc, 1);
    quarn_object *small_positive = numbers::make_int(Value::power_of_two(40));
    EXPECT_EQ(quarn_lean_nat_abs(small_positive), quarn_box(uint64_t{1} << 40));
    quarn_object *large = numbers::make_int(Value::power_of_two(100));
    quarn_object *same = quarn_lean_nat_abs(large);
    EXPECT_TRUE(is_nat(same, Value::power_of_two(100), 2));  // already a valid Nat object
    quarn_dec(same);
    EXPECT_EQ(large->rc, 1);
    quarn_object *large_minus = numbers::make_int(Value::power_of_two(100, true));
    quarn_object *magnitude = quarn_lean_nat_abs(large_minus);
    EXPECT_TRUE(is_nat(magnitude, Value::power_of_two(100)));
    EXPECT_TRUE(is_int(large_minus, Value::power_of_two(100, true))) << "argument untouched";
    EXPECT_EQ(quarn_lean_nat_abs(quarn_box_int(INT32_MIN)), quarn_box(uint64_t{1} << 31));
    for (quarn_object *o : {minus, small_positive, large, large_minus, magnitude}) quarn_dec(o);
}

TEST_F(NatEdgeTest, RemaindersByZeroAndLargerDivisorsShareTheDividend) {
    quarn_object *a = numbers::make_nat(Value::power_of_two(90));
    quarn_object *b = numbers::make_nat(Value::power_of_two(91));
    quarn_object *zero_int = quarn_box(0);
    for (quarn_object *r :
         {quarn_lean_nat_mod(a, quarn_box(0)), quarn_lean_nat_mod(a, b),
          quarn_lean_int_mod(a, zero_int), quarn_lean_int_emod(a, zero_int),
          quarn_lean_nat_gcd(a, quarn_box(0)), quarn_lean_nat_add(a, quarn_box(0))}) {
        EXPECT_EQ(r, a);
        quarn_dec(r);
    }
    EXPECT_EQ(a->rc, 1);
    EXPECT_EQ(quarn_lean_nat_div(a, quarn_box(0)), quarn_box(0));
    EXPECT_EQ(quarn_lean_int_ediv(a, quarn_box(0)), quarn_box(0));
    quarn_dec(a);
    quarn_dec(b);
}

// A zero held in an object is never produced, but a divisor equal to zero is tested on its
// value, so such a divisor still divides like the boxed zero instead of trapping.
TEST_F(NatEdgeTest, ADivisorObjectHoldingZeroDividesLikeZero) {
    quarn_object *zero = numbers::make_bignum_object(Value{});
    quarn_object *a = numbers::make_nat(Value::power_of_two(70));
    EXPECT_EQ(quarn_lean_nat_div(a, zero), quarn_box(0));
    EXPECT_EQ(quarn_lean_int_div(a, zero), quarn_box(0));
    EXPECT_EQ(quarn_lean_int_ediv(a, zero), quarn_box(0));
    for (quarn_object *r : {quarn_lean_nat_mod(a, zero), quarn_lean_int_mod(a, zero),
                            quarn_lean_int_emod(a, zero), quarn_lean_nat_add(a, zero)}) {
        EXPECT_EQ(r, a);
        quarn_dec(r);
    }
    quarn_dec(a);
    quarn_dec(zero);
}

TEST_F(NatEdgeTest, ShiftEdges) {
    quarn_object *huge_shift = numbers::make_nat(Value::power_of_two(64));
    quarn_object *two_100 = numbers::make_nat(Value::power_of_two(100));
    EXPECT_EQ(quarn_lean_nat_shiftl(quarn_box(0), quarn_box(uint64_t{1} << 40)), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_shiftl(quarn_box(0), huge_shift), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_shiftr(quarn_box(5), quarn_box(64)), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_shiftr(quarn_box(5), huge_shift), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_shiftr(two_100, huge_shift), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_shiftr(two_100, quarn_box(uint64_t{1} << 32)), quarn_box(0));
    quarn_object *top = quarn_lean_nat_shiftr(two_100, quarn_box(37));
    EXPECT_TRUE(is_nat(top, Value::power_of_two(63)));
    quarn_dec(top);
    quarn_dec(huge_shift);
    quarn_dec(two_100);
}

TEST_F(NatEdgeTest, LogarithmsPowersAndEquality) {
    quarn_object *two_64 = numbers::make_nat(Value::power_of_two(64));
    EXPECT_EQ(quarn_lean_nat_log2(quarn_box(0)), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_log2(quarn_box(1)), quarn_box(0));
    EXPECT_EQ(quarn_lean_nat_log2(two_64), quarn_box(64));
    quarn_object *power = quarn_lean_nat_pow(quarn_box(2), quarn_box(64));
    ASSERT_TRUE(is_nat(power, Value::power_of_two(64)));
    EXPECT_EQ(big(power)->capacity, 0) << "two digits live in the object's own block";
    EXPECT_EQ(big(power)->used.count, 2u);
    EXPECT_EQ(quarn_lean_nat_dec_eq(power, two_64), 1);
    EXPECT_EQ(quarn_lean_nat_dec_eq(quarn_box(1), two_64), 0);
    EXPECT_EQ(quarn_lean_nat_dec_eq(two_64, quarn_box(1)), 0);
    quarn_object *two_64_int = numbers::make_int(Value::power_of_two(64, true));
    EXPECT_EQ(quarn_lean_int_dec_eq(two_64_int, two_64), 0) << "signs differ";
    EXPECT_EQ(quarn_lean_int_dec_nonneg(two_64_int), 0);
    EXPECT_EQ(quarn_lean_int_dec_nonneg(quarn_box_int(-1)), 0);
    EXPECT_EQ(quarn_lean_int_dec_nonneg(quarn_box_int(INT32_MAX)), 1);
    for (quarn_object *o : {two_64, power, two_64_int}) quarn_dec(o);
}

TEST_F(NatEdgeTest, DecimalLiterals) {
    quarn_object *n = quarn_cstr_to_nat("18446744073709551616");
    ASSERT_TRUE(is_nat(n, Value::power_of_two(64)));
    EXPECT_EQ(big(n)->used.count, 2u);
    quarn_dec(n);
    EXPECT_EQ(quarn_cstr_to_nat("42"), quarn_box(42));
    EXPECT_EQ(quarn_usize_to_nat(kLargestBoxedNat), quarn_box(kLargestBoxedNat));
    quarn_object *u = quarn_usize_to_nat(UINT64_MAX);
    EXPECT_TRUE(is_nat(u, Value::of_unsigned(UINT64_MAX)));
    quarn_dec(u);
}

// Results much shorter than the room made for them give the room back.
TEST_F(NatEdgeTest, ShortResultsOfLongOperandsKeepNoSlack) {
    Value a = Value::power_of_two(6400), b = a;
    a.digits[7] = 1;  // a = 2^6400 + 2^448, b = 2^6400
    quarn_object *x = numbers::make_nat(a), *y = numbers::make_nat(b);
    quarn_object *difference = quarn_lean_nat_sub(x, y);
    ASSERT_TRUE(is_nat(difference, Value::power_of_two(448)));
    EXPECT_EQ(big(difference)->capacity, 8);
    for (quarn_object *o : {x, y, difference}) quarn_dec(o);
}

TEST_F(NatEdgeTest, BigNumbersAreReleasedByBothPaths) {
    // The sanitizer build sees a digit array that either path forgets.
    quarn_object *p = quarn_lean_nat_pow(quarn_box(3), quarn_box(1000));
    quarn_object *q = quarn_lean_nat_pow(quarn_box(3), quarn_box(1000));
    EXPECT_EQ(quarn_lean_nat_dec_eq(p, q), 1);
    quarn_dec(p);
    quarn_free_object(q);
}

// ---- the internal interface --------------------------------------------------------------

using quarn::number::Integer;

TEST_F(NatEdgeTest, NormalisationBoxesWhatFitsAndFreesTheArray) {
    Integer wide = Integer::with_capacity(8);
    std::fill_n(wide.digits(), 8, 0);
    wide.digits()[0] = 5;
    wide.set_size(8);  // leading zero digits are dropped
    EXPECT_EQ(wide.size(), 1u);
    EXPECT_EQ(quarn::number::to_nat(std::move(wide)), quarn_box(5));

    Integer one_digit = Integer::with_capacity(4);
    one_digit.digits()[0] = uint64_t{1} << 63;
    one_digit.set_size(1);
    quarn_object *inline_form = quarn::number::to_nat(std::move(one_digit));
    EXPECT_TRUE(is_nat(inline_form, Value::power_of_two(63)));
    EXPECT_EQ(big(inline_form)->capacity, -1);
    quarn_dec(inline_form);

    EXPECT_EQ(quarn::number::to_int(Integer(uint64_t{1} << 31, true)), quarn_box_int(INT32_MIN));
    quarn_object *just_past = quarn::number::to_int(Integer(uint64_t{1} << 31));
    EXPECT_TRUE(is_int(just_past, Value::power_of_two(31)));
    quarn_dec(just_past);
    EXPECT_EQ(quarn::number::to_int(Integer()), quarn_box(0));
}

TEST_F(NatEdgeTest, ReadingCopiesTheValue) {
    quarn_object *n = numbers::make_nat(Value::power_of_two(130));
    Integer copy = quarn::number::read_nat(n);
    EXPECT_NE(copy.digits(), big(n)->magnitude.digits) << "an array of its own";
    EXPECT_EQ(copy.size(), 3u);
    EXPECT_EQ(copy.digits()[2], 4u);
    Integer minus_one = quarn::number::read_int(quarn_box_int(-1));
    EXPECT_TRUE(minus_one.is_negative());
    EXPECT_EQ(minus_one.digits()[0], 1u);
    EXPECT_TRUE(quarn::number::read_nat(quarn_box(0)).is_zero());
    quarn_object *back = quarn::number::to_nat(std::move(copy));
    EXPECT_EQ(quarn_lean_nat_dec_eq(back, n), 1);
    quarn_dec(back);
    quarn_dec(n);
}

TEST_F(NatEdgeTest, SmallConversions) {
    using namespace quarn::number;
    EXPECT_EQ(nat_of_uint64(7), quarn_box(7));
    EXPECT_EQ(int_of_int64(-7), quarn_box_int(-7));
    quarn_object *min64 = int_of_int64(INT64_MIN);
    EXPECT_TRUE(is_int(min64, Value::power_of_two(63, true)));
    quarn_object *succ = nat_succ(quarn_box(kLargestBoxedNat));
    EXPECT_TRUE(is_nat(succ, Value::power_of_two(63)));
    EXPECT_EQ(nat_pred(succ), quarn_box(kLargestBoxedNat));
    for (quarn_object *o : {min64, succ}) quarn_dec(o);
}

// Threads read one shared big number at once; results that are the argument itself take
// and drop references on it concurrently (the thread sanitizer build checks this).
TEST_F(NatEdgeTest, ThreadsShareArguments) {
    quarn_object *shared = numbers::make_nat(Value::power_of_two(200));
    quarn_mark_mt(shared);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([shared] {
            for (int i = 0; i < 2000; ++i) {
                quarn_object *sum = quarn_lean_nat_add(shared, shared);
                quarn_object *half = quarn_lean_nat_shiftr(sum, quarn_box(1));
                quarn_object *same = quarn_lean_nat_mod(shared, quarn_box(0));
                EXPECT_EQ(quarn_lean_nat_dec_eq(half, shared), 1);
                EXPECT_EQ(same, shared);
                for (quarn_object *o : {sum, half, same}) quarn_dec(o);
            }
        });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(shared->rc, -1);
    quarn_dec(shared);
}

}  // namespace

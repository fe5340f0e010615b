// The inputs that stop the process: exponent and shift limits, literals that are not UTF-8
// or not decimal, negative values made into Nats, and arrays too large to exist.
#include <sys/mman.h>

#include "bignums.h"
#include "number/nat.h"
#include "testing.h"

namespace {

using numbers::Value;

// A Nat of `digits` digits whose top digit is 1 and whose other digits are never written:
// they live in reserved, untouched memory, so the limits that look only at the bit length
// can be reached without building the number. Only for death tests: it is never freed.
quarn_object *sparse_nat(size_t digits) {
    void *memory = mmap(nullptr, digits * sizeof(uint64_t), PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    auto *big = reinterpret_cast<quarn_bignum_object *>(
        quarn::object::allocate_object(sizeof(quarn_bignum_object), QUARN_TAG_BIGNUM));
    big->capacity = static_cast<int64_t>(digits);
    big->magnitude.digits = static_cast<uint64_t *>(memory);
    big->magnitude.digits[digits - 1] = 1;
    big->used.count = digits;
    big->sign = QUARN_SIGN_POSITIVE;
    return &big->header;
}

TEST(NatLimitsDeathTest, PowerExponentMustBeBoxedAndBelow2To32) {
    quarn_object *two_64 = numbers::make_nat(Value::power_of_two(64));
    EXPECT_INTERNAL_PANIC(quarn_lean_nat_pow(quarn_box(0), quarn_box(uint64_t{1} << 32)),
                          "Nat.pow exponent is too big");
    EXPECT_INTERNAL_PANIC(quarn_lean_nat_pow(quarn_box(1), two_64), "Nat.pow exponent is too big");
    quarn_object *last = quarn_lean_nat_pow(quarn_box(1), quarn_box(0xFFFFFFFFu));
    EXPECT_EQ(last, quarn_box(1)) << "2^32 - 1 is still accepted";
    quarn_dec(two_64);
}

TEST(NatLimitsDeathTest, LeftShiftMustBeBoxedAndBelow2To32) {
    quarn_object *two_64 = numbers::make_nat(Value::power_of_two(64));
    EXPECT_INTERNAL_PANIC(quarn_lean_nat_shiftl(quarn_box(1), quarn_box(uint64_t{1} << 32)),
                          "Nat.shiftl exponent is too big");
    EXPECT_INTERNAL_PANIC(quarn_lean_nat_shiftl(two_64, two_64), "Nat.shiftl exponent is too big");
    quarn_dec(two_64);
}

TEST(NatLimitsDeathTest, RightShiftPast2To32MustClearEveryBit) {
    // 2^(2^32): one bit above the largest shift that is accepted without clearing it.
    EXPECT_INTERNAL_PANIC(
        {
            quarn_object *n = sparse_nat((size_t{1} << 26) + 1);
            if (n != nullptr) quarn_lean_nat_shiftr(n, quarn_box(uint64_t{1} << 32));
        },
        "Nat.shiftr exponent is too big");
}

TEST(NatLimitsDeathTest, LiteralsThatAreNotUtf8) {
    for (const char *text : {"12\xff", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "1\xe2\x82"})
        EXPECT_INTERNAL_PANIC(quarn_cstr_to_nat(text), "a Nat literal is not ASCII") << text;
}

TEST(NatLimitsDeathTest, LiteralsThatAreNotDecimal) {
    for (const char *text : {"", " ", "12a", "0x10", "+5", "1\xc3\xa9", "--1", "- 1"})
        EXPECT_INTERNAL_PANIC(quarn_cstr_to_nat(text), "a Nat literal is not a decimal numeral")
            << text;
}

TEST(NatLimitsDeathTest, NegativeValuesAreNotNats) {
    EXPECT_INTERNAL_PANIC(quarn_cstr_to_nat("-5"), "negative value converted to Nat");
    EXPECT_INTERNAL_PANIC(quarn::number::to_nat(quarn::number::Integer(1, true)),
                          "negative value converted to Nat");
}

TEST(NatLimitsDeathTest, ArraysTooLargeToRepresentAreOutOfMemory) {
    EXPECT_INTERNAL_PANIC(quarn::number::Integer::with_capacity(size_t{1} << 61), "out of memory");
    // (2^(2^32))^(2^31) has 2^63 bits: refused before anything is allocated.
    EXPECT_INTERNAL_PANIC(
        {
            quarn_object *n = sparse_nat((size_t{1} << 26) + 1);
            if (n != nullptr) quarn_lean_nat_pow(n, quarn_box(uint64_t{1} << 31));
        },
        "out of memory");
}

}  // namespace

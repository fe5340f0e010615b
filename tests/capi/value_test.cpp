// Host values: every constructor and reader, kind numbers, parsing of numbers of any size,
// and the exact texts of misuse.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "quarn/host.h"
#include "testing.h"

namespace {

// Frees the value when the test leaves its scope.
struct Owned {
    quarn_value *v;
    explicit Owned(quarn_value *value) : v(value) {}
    ~Owned() { quarn_value_free(v); }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    quarn_value *get() const { return v; }
};

std::string number_text(const quarn_value *v) {
    char *text = quarn_value_number_string(v);
    std::string out(text);
    quarn_string_free(text);
    return out;
}

TEST(HostValueKinds, OneNumberingWithTypeKinds) {
    Owned ctor(quarn_value_ctor(0, nullptr, 0));
    EXPECT_EQ(quarn_value_kind(ctor.get()), 27);
    EXPECT_EQ(quarn_value_kind(ctor.get()), QUARN_KIND_INDUCTIVE);
    Owned nat(quarn_value_nat(1));
    EXPECT_EQ(quarn_value_kind(nat.get()), QUARN_KIND_NAT);
    Owned unit(quarn_value_unit());
    EXPECT_EQ(quarn_value_kind(unit.get()), QUARN_KIND_UNIT);
    Owned none(quarn_value_none());
    EXPECT_EQ(quarn_value_kind(none.get()), QUARN_KIND_OPTION);
    Owned isize(quarn_value_isize(-1));
    EXPECT_EQ(quarn_value_kind(isize.get()), QUARN_KIND_ISIZE);
    Owned floats(quarn_value_float_array(nullptr, 0));
    EXPECT_EQ(quarn_value_kind(floats.get()), QUARN_KIND_FLOAT_ARRAY);
}

TEST(HostValueNumbers, FixedWidthRoundTripAtTheirLimits) {
    Owned b(quarn_value_bool(7));
    EXPECT_EQ(quarn_value_get_bool(b.get()), 1);
    Owned u8(quarn_value_uint8(255));
    EXPECT_EQ(quarn_value_get_uint8(u8.get()), 255);
    Owned u16(quarn_value_uint16(65535));
    EXPECT_EQ(quarn_value_get_uint16(u16.get()), 65535);
    Owned u32(quarn_value_uint32(UINT32_MAX));
    EXPECT_EQ(quarn_value_get_uint32(u32.get()), UINT32_MAX);
    Owned u64(quarn_value_uint64(UINT64_MAX));
    EXPECT_EQ(quarn_value_get_uint64(u64.get()), UINT64_MAX);
    Owned us(quarn_value_usize(SIZE_MAX));
    EXPECT_EQ(quarn_value_get_usize(us.get()), SIZE_MAX);
    Owned i8(quarn_value_int8(-128));
    EXPECT_EQ(quarn_value_get_int8(i8.get()), -128);
    Owned i16(quarn_value_int16(-32768));
    EXPECT_EQ(quarn_value_get_int16(i16.get()), -32768);
    Owned i32(quarn_value_int32(INT32_MIN));
    EXPECT_EQ(quarn_value_get_int32(i32.get()), INT32_MIN);
    Owned i64(quarn_value_int64(INT64_MIN));
    EXPECT_EQ(quarn_value_get_int64(i64.get()), INT64_MIN);
    Owned is(quarn_value_isize(PTRDIFF_MIN));
    EXPECT_EQ(quarn_value_get_isize(is.get()), PTRDIFF_MIN);
    Owned f(quarn_value_float(-0.0));
    EXPECT_TRUE(std::signbit(quarn_value_get_float(f.get())));
    Owned f32(quarn_value_float32(1.5f));
    EXPECT_EQ(quarn_value_get_float32(f32.get()), 1.5f);
}

TEST(HostValueNumbers, FloatsCompareByBitPattern) {
    Owned zero(quarn_value_float(0.0)), negative_zero(quarn_value_float(-0.0));
    EXPECT_EQ(quarn_value_equal(zero.get(), negative_zero.get()), 0);
    double nan = std::numeric_limits<double>::quiet_NaN();
    Owned a(quarn_value_float(nan)), b(quarn_value_float(nan));
    EXPECT_EQ(quarn_value_equal(a.get(), b.get()), 1);
}

TEST(HostValueNumbers, NatAndIntAcrossTheSixtyFourBitBoundary) {
    uint64_t n = 0;
    Owned max(quarn_value_nat(UINT64_MAX));
    ASSERT_EQ(quarn_value_get_nat(max.get(), &n), 1);
    EXPECT_EQ(n, UINT64_MAX);
    EXPECT_EQ(number_text(max.get()), "18446744073709551615");

    Owned two_to_64(quarn_value_nat_parse("18446744073709551616"));
    n = 42;
    EXPECT_EQ(quarn_value_get_nat(two_to_64.get(), &n), 0);
    EXPECT_EQ(n, 42u) << "out is untouched when the number does not fit";
    EXPECT_EQ(number_text(two_to_64.get()), "18446744073709551616");

    int64_t i = 0;
    Owned min(quarn_value_int(INT64_MIN));
    ASSERT_EQ(quarn_value_get_int(min.get(), &i), 1);
    EXPECT_EQ(i, INT64_MIN);
    EXPECT_EQ(number_text(min.get()), "-9223372036854775808");
    Owned below_min(quarn_value_int_parse("-9223372036854775809"));
    EXPECT_EQ(quarn_value_get_int(below_min.get(), &i), 0);
    Owned two_to_63(quarn_value_int_parse("9223372036854775808"));
    EXPECT_EQ(quarn_value_get_int(two_to_63.get(), &i), 0);
    Owned max_int(quarn_value_int_parse("9223372036854775807"));
    ASSERT_EQ(quarn_value_get_int(max_int.get(), &i), 1);
    EXPECT_EQ(i, INT64_MAX);
    Owned parsed(quarn_value_int_parse("-9223372036854775808"));
    EXPECT_EQ(quarn_value_equal(parsed.get(), min.get()), 1);
}

TEST(HostValueNumbers, ParsingAcceptsDigitsOnly) {
    for (const char *bad : {"", "12a", "a12", " 1", "1 ", "+1", "-", "--1", "0x10", "1.0"}) {
        EXPECT_EQ(quarn_value_nat_parse(bad), nullptr) << bad;
        EXPECT_EQ(quarn_value_int_parse(bad), nullptr) << bad;
    }
    EXPECT_EQ(quarn_value_nat_parse("-1"), nullptr);

    Owned minus_zero(quarn_value_int_parse("-0"));
    Owned zero(quarn_value_int(0));
    EXPECT_EQ(quarn_value_equal(minus_zero.get(), zero.get()), 1);
    EXPECT_EQ(number_text(minus_zero.get()), "0");

    Owned leading_zeros(quarn_value_nat_parse("000123"));
    Owned plain(quarn_value_nat(123));
    EXPECT_EQ(quarn_value_equal(leading_zeros.get(), plain.get()), 1);
    Owned zeros(quarn_value_nat_parse("0000"));
    EXPECT_EQ(number_text(zeros.get()), "0");

    std::string big = "1" + std::string(300, '0');
    Owned huge(quarn_value_nat_parse(big.c_str()));
    EXPECT_EQ(number_text(huge.get()), big);
    Owned negative_huge(quarn_value_int_parse(("-" + big).c_str()));
    EXPECT_EQ(number_text(negative_huge.get()), "-" + big);
}

TEST(HostValueText, CharsAreUnicodeScalarValues) {
    EXPECT_EQ(quarn_value_char(0xD800), nullptr);
    EXPECT_EQ(quarn_value_char(0xDFFF), nullptr);
    EXPECT_EQ(quarn_value_char(0x110000), nullptr);
    Owned last(quarn_value_char(0x10FFFF));
    EXPECT_EQ(quarn_value_get_char(last.get()), 0x10FFFFu);
    Owned before(quarn_value_char(0xD7FF));
    EXPECT_EQ(quarn_value_get_char(before.get()), 0xD7FFu);
}

TEST(HostValueText, StringsAreCopiedAndChecked) {
    char text[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // 1-, 2-, 3- and 4-byte characters
    Owned s(quarn_value_string(text, sizeof text - 1));
    ASSERT_NE(s.get(), nullptr);
    text[0] = 'b';
    size_t length = 0;
    const char *bytes = quarn_value_get_string(s.get(), &length);
    EXPECT_EQ(std::string(bytes, length), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

    EXPECT_EQ(quarn_value_string("\xC3", 1), nullptr);
    EXPECT_EQ(quarn_value_string("\xED\xA0\x80", 3), nullptr);  // an encoded surrogate
    EXPECT_EQ(quarn_value_cstring("\xFF"), nullptr);

    Owned empty(quarn_value_string(nullptr, 0));
    bytes = quarn_value_get_string(empty.get(), &length);
    EXPECT_NE(bytes, nullptr);
    EXPECT_EQ(length, 0u);

    Owned with_nul(quarn_value_string("a\0b", 3));
    EXPECT_EQ(quarn_value_string_dup(with_nul.get()), nullptr);
    Owned c(quarn_value_cstring("hello"));
    char *dup = quarn_value_string_dup(c.get());
    EXPECT_STREQ(dup, "hello");
    quarn_string_free(dup);
}

TEST(HostValueArrays, BytesAndFloatsAreCopied) {
    uint8_t bytes[] = {0, 1, 255};
    Owned b(quarn_value_byte_array(bytes, 3));
    bytes[0] = 9;
    size_t n = 0;
    const uint8_t *got = quarn_value_get_bytes(b.get(), &n);
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[2], 255);
    double values[] = {1.5, -2.25};
    Owned f(quarn_value_float_array(values, 2));
    const double *floats = quarn_value_get_floats(f.get(), &n);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(floats[1], -2.25);
}

TEST(HostValueAggregates, ReadersReturnPartsOfTheirArgument) {
    quarn_value *items[] = {quarn_value_nat(1), quarn_value_nat(2), quarn_value_nat(3)};
    Owned list(quarn_value_list(items, 3));
    EXPECT_EQ(quarn_value_count(list.get()), 3u);
    EXPECT_EQ(quarn_value_item(list.get(), 2), items[2]);

    Owned some(quarn_value_some(quarn_value_cstring("x")));
    EXPECT_EQ(quarn_value_kind(quarn_value_get_option(some.get())), QUARN_KIND_STRING);
    Owned none(quarn_value_none());
    EXPECT_EQ(quarn_value_get_option(none.get()), nullptr);

    Owned ok(quarn_value_ok(quarn_value_unit()));
    Owned error(quarn_value_error(quarn_value_nat(5)));
    EXPECT_EQ(quarn_value_is_ok(ok.get()), 1);
    EXPECT_EQ(quarn_value_is_ok(error.get()), 0);
    EXPECT_EQ(quarn_value_kind(quarn_value_get_except(error.get())), QUARN_KIND_NAT);

    quarn_value *first = quarn_value_bool(1);
    quarn_value *second = quarn_value_char('z');
    Owned pair(quarn_value_prod(first, second));
    EXPECT_EQ(quarn_value_first(pair.get()), first);
    EXPECT_EQ(quarn_value_second(pair.get()), second);

    quarn_value *fields[] = {quarn_value_nat(7), quarn_value_unit()};
    Owned ctor(quarn_value_ctor(2, fields, 2));
    EXPECT_EQ(quarn_value_ctor_index(ctor.get()), 2u);
    EXPECT_EQ(quarn_value_field_count(ctor.get()), 2u);
    EXPECT_EQ(quarn_value_field(ctor.get(), 1), fields[1]);
    EXPECT_EQ(quarn_value_ctor_field(ctor.get(), 2, 0), fields[0]);

    Owned empty_array(quarn_value_array(nullptr, 0));
    EXPECT_EQ(quarn_value_count(empty_array.get()), 0u);
}

TEST(HostValueMisuse, KindsAndNullsAreFatalWithTheFunctionNamedOnce) {
    EXPECT_INTERNAL_PANIC(quarn_value_get_nat(quarn_value_int(1), nullptr), "quarn_value_get_nat: the value is an Int");
    EXPECT_INTERNAL_PANIC(quarn_value_get_uint8(quarn_value_unit()), "quarn_value_get_uint8: the value is Unit");
    EXPECT_INTERNAL_PANIC(quarn_value_get_bool(quarn_value_ctor(0, nullptr, 0)),
                          "quarn_value_get_bool: the value is a constructor");
    EXPECT_INTERNAL_PANIC(quarn_value_count(quarn_value_prod(quarn_value_unit(), quarn_value_unit())),
                          "quarn_value_count: the value is a pair");
    EXPECT_INTERNAL_PANIC(quarn_value_kind(nullptr), "quarn_value_kind: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_value_some(nullptr), "quarn_value_some: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_value_string(nullptr, 1), "quarn_value_string: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_value_cstring(nullptr), "quarn_value_cstring: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_value_nat_parse(nullptr), "quarn_value_nat_parse: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_value_equal(nullptr, nullptr), "quarn_value_equal: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_value_clone(nullptr), "quarn_value_clone: a null pointer");
    quarn_value *with_null[] = {quarn_value_unit(), nullptr};
    EXPECT_INTERNAL_PANIC(quarn_value_list(with_null, 2), "quarn_value_list: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_value_ctor(0, with_null, 2), "quarn_value_ctor: a null pointer");
    quarn_value_free(with_null[0]);
}

TEST(HostValueMisuse, IndexesOutsideTheValueAreFatal) {
    quarn_value *items[] = {quarn_value_unit(), quarn_value_unit()};
    Owned array(quarn_value_array(items, 2));
    EXPECT_INTERNAL_PANIC(quarn_value_item(array.get(), 2), "quarn_value_item: index 2 of 2 items");
    quarn_value *fields[] = {quarn_value_unit()};
    Owned ctor(quarn_value_ctor(3, fields, 1));
    EXPECT_INTERNAL_PANIC(quarn_value_field(ctor.get(), 1), "quarn_value_field: field 1 of 1");
    EXPECT_INTERNAL_PANIC(quarn_value_ctor_field(ctor.get(), 3, 5), "quarn_value_ctor_field: field 5 of 1");
    EXPECT_INTERNAL_PANIC(quarn_value_ctor_field(ctor.get(), 1, 0),
                          "quarn_value_ctor_field: the value is constructor 3, not constructor 1");
}

}  // namespace

// The print form of host values in messages: exact texts, and shortening of long and deep
// values.
#include <string>
#include <vector>

#include "capi/value_print.h"
#include "quarn/host.h"
#include "testing.h"

namespace {

std::string printed(quarn_value *v) {
    std::string text(quarn::capi::print_value(*v));
    quarn_value_free(v);
    return text;
}

TEST(HostValuePrint, EveryKindHasItsForm) {
    EXPECT_EQ(printed(quarn_value_nat_parse("123456789012345678901234567890")), "Nat(123456789012345678901234567890)");
    EXPECT_EQ(printed(quarn_value_int(-5)), "Int(-5)");
    EXPECT_EQ(printed(quarn_value_bool(0)), "Bool(false)");
    EXPECT_EQ(printed(quarn_value_uint64(UINT64_MAX)), "UInt64(18446744073709551615)");
    EXPECT_EQ(printed(quarn_value_int8(-128)), "Int8(-128)");
    EXPECT_EQ(printed(quarn_value_int64(INT64_MIN)), "Int64(-9223372036854775808)");
    EXPECT_EQ(printed(quarn_value_float(0.1)), "Float(0.10000000000000001)");
    EXPECT_EQ(printed(quarn_value_float32(0.5f)), "Float32(0.5)");
    EXPECT_EQ(printed(quarn_value_char(0x1F600)), "Char(0x1f600)");
    EXPECT_EQ(printed(quarn_value_cstring("say \"hi\"\\")), "String(\"say \\\"hi\\\"\\\\\")");
    EXPECT_EQ(printed(quarn_value_unit()), "Unit");
    uint8_t bytes[3] = {};
    EXPECT_EQ(printed(quarn_value_byte_array(bytes, 3)), "ByteArray(3 bytes)");
    double floats[2] = {};
    EXPECT_EQ(printed(quarn_value_float_array(floats, 2)), "FloatArray(2 values)");
    EXPECT_EQ(printed(quarn_value_none()), "Option(none)");
    EXPECT_EQ(printed(quarn_value_some(quarn_value_nat(1))), "Option(Nat(1))");
    EXPECT_EQ(printed(quarn_value_prod(quarn_value_nat(1), quarn_value_unit())), "Prod(Nat(1), Unit)");
    EXPECT_EQ(printed(quarn_value_error(quarn_value_cstring("no"))), "Except{error: String(\"no\")}");
    EXPECT_EQ(printed(quarn_value_ok(quarn_value_unit())), "Except{value: Unit}");
    quarn_value *fields[] = {quarn_value_nat(1), quarn_value_array(nullptr, 0)};
    EXPECT_EQ(printed(quarn_value_ctor(2, fields, 2)), "Ctor{index: 2, fields: [Nat(1), Array()]}");
}

TEST(HostValuePrint, LongAndDeepValuesAreShortened) {
    std::vector<quarn_value *> items;
    for (int i = 0; i < 10; ++i) items.push_back(quarn_value_nat(static_cast<uint64_t>(i)));
    EXPECT_EQ(printed(quarn_value_list(items.data(), items.size())),
              "List(Nat(0), Nat(1), Nat(2), Nat(3), Nat(4), Nat(5), Nat(6), Nat(7), ... 10 items)");
    std::string long_text(100, 'a');
    EXPECT_EQ(printed(quarn_value_cstring(long_text.c_str())), "String(\"" + std::string(48, 'a') + "\"...)");
    std::string digits = "1" + std::string(200, '0');
    EXPECT_EQ(printed(quarn_value_nat_parse(digits.c_str())), "Nat(a number of 84 bytes)");
    quarn_value *deep = quarn_value_unit();
    for (int i = 0; i < 100000; ++i) deep = quarn_value_some(deep);
    EXPECT_EQ(printed(deep), "Option(Option(Option(Option(Option(Option(Option(...)))))))");
}

}  // namespace

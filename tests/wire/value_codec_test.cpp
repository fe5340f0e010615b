// Host values to wire bytes and back: exact bytes, round trips of every type kind, every
// reading and writing error, truncation at every offset, and values far deeper than the C
// stack would allow a recursive codec.
#include <cstring>
#include <string>
#include <vector>

#include "capi/types.h"
#include "capi/value_record.h"
#include "quarn/host.h"
#include "testing.h"
#include "wire/object_codec.h"
#include "wire/value_codec.h"

namespace {

using quarn::capi::Constructor;
using quarn::capi::Definition;
using quarn::capi::Field;
using quarn::capi::Kind;
using quarn::capi::TypeExpr;
using Bytes = std::vector<uint8_t>;

TypeExpr type(Kind kind, std::initializer_list<TypeExpr> children = {}, uint32_t index = 0) {
    TypeExpr t;
    t.kind = kind;
    t.index = index;
    t.children.assign(children.begin(), children.end());
    return t;
}
TypeExpr param(uint32_t i) { return type(Kind::Param, {}, i); }
TypeExpr inductive(uint32_t index, std::initializer_list<TypeExpr> args = {}) {
    return type(Kind::Inductive, args, index);
}

Field field(const char *name, TypeExpr t) {
    Field f;
    f.name = name;
    f.type = std::move(t);
    return f;
}

Constructor constructor(const char *name, uint32_t tag, std::initializer_list<Field> fields) {
    Constructor c;
    c.name = name;
    c.tag = tag;
    c.object_fields = static_cast<uint32_t>(fields.size());
    c.fields.assign(fields.begin(), fields.end());
    return c;
}

Definition definition(const char *name, uint32_t parameters, std::initializer_list<Constructor> ctors) {
    Definition d;
    d.name = name;
    d.parameters = parameters;
    d.constructors.assign(ctors.begin(), ctors.end());
    return d;
}

Definition trivial(const char *name, uint32_t field_index, std::initializer_list<Field> fields) {
    Definition d = definition(name, 0, {constructor((std::string(name) + ".mk").c_str(), 0, fields)});
    d.trivial = true;
    d.trivial_field = field_index;
    return d;
}

enum : uint32_t { kPoint, kShape, kTree, kName, kHandle, kTwoFields, kUnitBox, kMyList, kNested };

// A table of the shapes generated programs have. Tables are never freed.
const quarn_types *sample_table() {
    static const quarn_types *table = [] {
        auto *t = new quarn_types;
        t->definitions.push_back(definition("Point", 0, {constructor("Point.mk", 0, {field("x", type(Kind::Nat)), field("y", type(Kind::Float))})}));
        t->definitions.push_back(definition("Shape", 0, {
            constructor("Shape.circle", 0, {field("radius", type(Kind::Float))}),
            constructor("Shape.empty", 1, {}),
            constructor("Shape.rect", 2, {field("w", type(Kind::Nat)), field("h", type(Kind::Nat))}),
        }));
        t->definitions.push_back(definition("Tree", 1, {
            constructor("Tree.leaf", 0, {}),
            constructor("Tree.node", 1, {field("left", inductive(kTree, {param(0)})), field("value", param(0)),
                                         field("right", inductive(kTree, {param(0)}))}),
        }));
        t->definitions.push_back(trivial("Name", 0, {field("text", type(Kind::String))}));
        Definition handle;
        handle.name = "Handle";
        handle.opaque = true;
        t->definitions.push_back(handle);
        t->definitions.push_back(trivial("TwoFields", 1, {field("a", type(Kind::Unit)), field("b", type(Kind::Nat))}));
        t->definitions.push_back(trivial("UnitBox", 0, {field("u", type(Kind::Unit))}));
        t->definitions.push_back(definition("MyList", 1, {
            constructor("MyList.nil", 0, {}),
            constructor("MyList.cons", 1, {field("head", param(0)), field("tail", inductive(kMyList, {param(0)}))}),
        }));
        t->definitions.push_back(definition("Nested", 1, {
            constructor("Nested.mk", 0, {field("inner", type(Kind::Option, {inductive(kMyList, {type(Kind::Prod, {param(0), param(0)})})}))}),
        }));
        return t;
    }();
    return table;
}

// Another program whose Point has one field only.
const quarn_types *other_table() {
    static const quarn_types *table = [] {
        auto *t = new quarn_types;
        t->definitions.push_back(definition("Point", 0, {constructor("Point.mk", 0, {field("x", type(Kind::Nat))})}));
        return t;
    }();
    return table;
}

struct Owned {
    quarn_value *v;
    explicit Owned(quarn_value *value) : v(value) {}
    ~Owned() { quarn_value_free(v); }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    quarn_value *get() const { return v; }
};

Bytes encode(const quarn_value *v, const TypeExpr &t, const quarn_types *table = sample_table()) {
    quarn::wire::ByteSink out;
    quarn::Text error;
    EXPECT_TRUE(quarn::wire::write_value(*v, t, table, out, error)) << error;
    return Bytes(out.data(), out.data() + out.length());
}

std::string encode_error(const quarn_value *v, const TypeExpr &t, const quarn_types *table = sample_table()) {
    quarn::wire::ByteSink out;
    quarn::Text error;
    EXPECT_FALSE(quarn::wire::write_value(*v, t, table, out, error));
    return std::string(error);
}

std::string decode_error(const Bytes &bytes, const TypeExpr &t, const quarn_types *table = sample_table()) {
    quarn::Text error;
    quarn_value *v = quarn::wire::decode_value(bytes.data(), bytes.size(), t, table, error);
    EXPECT_EQ(v, nullptr);
    quarn_value_free(v);
    return std::string(error);
}

// Writes, reads back, compares, and writes again: the bytes must be the same.
Bytes round_trip(const quarn_value *v, const TypeExpr &t) {
    Bytes bytes = encode(v, t);
    quarn::Text error;
    quarn_value *back = quarn::wire::decode_value(bytes.data(), bytes.size(), t, sample_table(), error);
    EXPECT_NE(back, nullptr) << error;
    if (back == nullptr) return bytes;
    EXPECT_EQ(quarn_value_equal(v, back), 1);
    EXPECT_EQ(encode(back, t), bytes);
    quarn_value_free(back);
    return bytes;
}

quarn_value *ctor(uint32_t index, std::initializer_list<quarn_value *> fields) {
    std::vector<quarn_value *> f(fields);
    return quarn_value_ctor(index, f.data(), f.size());
}

quarn_value *list(std::initializer_list<quarn_value *> items) {
    std::vector<quarn_value *> i(items);
    return quarn_value_list(i.data(), i.size());
}

TEST(ValueCodecBytes, NumbersHaveTheirExactForm) {
    Owned zero(quarn_value_nat(0));
    EXPECT_EQ(round_trip(zero.get(), type(Kind::Nat)), (Bytes{0, 0, 0, 0}));
    Owned n256(quarn_value_nat(256));
    EXPECT_EQ(round_trip(n256.get(), type(Kind::Nat)), (Bytes{2, 0, 0, 0, 0, 1}));
    Owned minus_one(quarn_value_int(-1));
    EXPECT_EQ(round_trip(minus_one.get(), type(Kind::Int)), (Bytes{1, 1, 0, 0, 0, 1}));
    Owned two_to_64(quarn_value_nat_parse("18446744073709551616"));
    EXPECT_EQ(round_trip(two_to_64.get(), type(Kind::Nat)), (Bytes{9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    Owned i16(quarn_value_int16(-2));
    EXPECT_EQ(round_trip(i16.get(), type(Kind::Int16)), (Bytes{0xFE, 0xFF}));
    Owned c(quarn_value_char(0x10FFFF));
    EXPECT_EQ(round_trip(c.get(), type(Kind::Char)), (Bytes{0xFF, 0xFF, 0x10, 0}));

    EXPECT_EQ(decode_error({1, 0, 0, 0, 0}, type(Kind::Nat)), "a number's magnitude has a leading zero byte");
    EXPECT_EQ(decode_error({1, 0, 0, 0, 0}, type(Kind::Int)), "negative zero is not a canonical Int");
    EXPECT_EQ(decode_error({2, 0, 0, 0, 0}, type(Kind::Int)), "invalid Int sign 2");
    EXPECT_EQ(decode_error({2}, type(Kind::Bool)), "invalid Bool 2");
    EXPECT_EQ(decode_error({0x00, 0xD8, 0, 0}, type(Kind::Char)), "0xd800 is not a Unicode scalar value");
    EXPECT_EQ(decode_error({0x00, 0x00, 0x11, 0}, type(Kind::Char)), "0x110000 is not a Unicode scalar value");
    EXPECT_EQ(decode_error({5, 0, 0, 0, 1}, type(Kind::Nat)), "a length of 5 exceeds the remaining wire data");
}

TEST(ValueCodecBytes, EveryKindRoundTrips) {
    struct Case {
        quarn_value *value;
        TypeExpr type;
    };
    double floats[] = {1.0, -0.5};
    uint8_t bytes[] = {0, 255};
    Case cases[] = {
        {quarn_value_nat_parse("123456789012345678901234567890"), type(Kind::Nat)},
        {quarn_value_int_parse("-123456789012345678901234567890"), type(Kind::Int)},
        {quarn_value_bool(1), type(Kind::Bool)},
        {quarn_value_uint8(200), type(Kind::UInt8)},
        {quarn_value_uint16(60000), type(Kind::UInt16)},
        {quarn_value_uint32(4000000000u), type(Kind::UInt32)},
        {quarn_value_uint64(UINT64_MAX), type(Kind::UInt64)},
        {quarn_value_usize(12345), type(Kind::USize)},
        {quarn_value_int8(-100), type(Kind::Int8)},
        {quarn_value_int16(-30000), type(Kind::Int16)},
        {quarn_value_int32(INT32_MIN), type(Kind::Int32)},
        {quarn_value_int64(INT64_MIN), type(Kind::Int64)},
        {quarn_value_isize(-7), type(Kind::ISize)},
        {quarn_value_float(-1.25e300), type(Kind::Float)},
        {quarn_value_float32(3.5f), type(Kind::Float32)},
        {quarn_value_char(0x1F600), type(Kind::Char)},
        {quarn_value_cstring("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), type(Kind::String)},
        {quarn_value_unit(), type(Kind::Unit)},
        {quarn_value_byte_array(bytes, 2), type(Kind::ByteArray)},
        {quarn_value_float_array(floats, 2), type(Kind::FloatArray)},
        {quarn_value_some(quarn_value_some(quarn_value_none())), type(Kind::Option, {type(Kind::Option, {type(Kind::Option, {type(Kind::Nat)})})})},
        {list({quarn_value_nat(1), quarn_value_nat(2)}), type(Kind::List, {type(Kind::Nat)})},
        {quarn_value_prod(quarn_value_cstring("k"), quarn_value_bool(0)), type(Kind::Prod, {type(Kind::String), type(Kind::Bool)})},
        {quarn_value_error(quarn_value_cstring("bad")), type(Kind::Except, {type(Kind::String), type(Kind::Nat)})},
        {quarn_value_ok(quarn_value_nat(3)), type(Kind::Except, {type(Kind::String), type(Kind::Nat)})},
        {ctor(0, {quarn_value_nat(1), quarn_value_float(2.0)}), inductive(kPoint)},
        {ctor(1, {}), inductive(kShape)},
        {ctor(2, {quarn_value_nat(3), quarn_value_nat(4)}), inductive(kShape)},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(quarn_value_kind(c.value));
        round_trip(c.value, c.type);
        quarn_value_free(c.value);
    }
    std::vector<quarn_value *> points;
    for (int i = 0; i < 3; ++i) points.push_back(ctor(0, {quarn_value_nat(i), quarn_value_float(i)}));
    Owned array_of_structures(quarn_value_array(points.data(), points.size()));
    round_trip(array_of_structures.get(), type(Kind::Array, {inductive(kPoint)}));
}

TEST(ValueCodecInductive, ConstructorsAreWrittenByPositionNotTag) {
    Owned empty(ctor(1, {}));
    EXPECT_EQ(round_trip(empty.get(), inductive(kShape)), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(decode_error({3, 0, 0, 0}, inductive(kShape)), "constructor index 3 of Shape");
    Owned bad_index(ctor(5, {}));
    EXPECT_EQ(encode_error(bad_index.get(), inductive(kShape)), "constructor index 5 of Shape");
    Owned missing_field(ctor(2, {quarn_value_nat(1)}));
    EXPECT_EQ(encode_error(missing_field.get(), inductive(kShape)), "Shape.rect takes 2 fields, not 1");
}

TEST(ValueCodecInductive, GenericTypesAreInstantiated) {
    // Tree Nat with two nodes, and a Nested String holding a list of pairs.
    Owned tree(ctor(1, {ctor(0, {}), quarn_value_nat(5), ctor(1, {ctor(0, {}), quarn_value_nat(6), ctor(0, {})})}));
    round_trip(tree.get(), inductive(kTree, {type(Kind::Nat)}));
    Owned nested(ctor(0, {quarn_value_some(ctor(1, {quarn_value_prod(quarn_value_cstring("a"), quarn_value_cstring("b")), ctor(0, {})}))}));
    round_trip(nested.get(), inductive(kNested, {type(Kind::String)}));

    Owned wrong_element(ctor(1, {ctor(0, {}), quarn_value_cstring("five"), ctor(0, {})}));
    EXPECT_EQ(encode_error(wrong_element.get(), inductive(kTree, {type(Kind::Nat)})),
              "a value String(\"five\") is not of type Nat");
    Owned wrong_tree(quarn_value_nat(1));
    EXPECT_EQ(encode_error(wrong_tree.get(), inductive(kTree, {type(Kind::Nat)})),
              "a value Nat(1) is not of type Inductive{index: 2, args: [Nat]}");
    EXPECT_EQ(decode_error({}, param(0)), "an uninstantiated type parameter 0");
    Owned unit(quarn_value_unit());
    EXPECT_EQ(encode_error(unit.get(), param(3)), "an uninstantiated type parameter 3");
    EXPECT_EQ(decode_error({}, inductive(kTree)), "Tree applied to 0 arguments");
    EXPECT_EQ(decode_error({}, inductive(99)), "type index 99 outside the type table");
}

TEST(ValueCodecInductive, TrivialStructuresAreTheirField) {
    Owned name(ctor(0, {quarn_value_cstring("ab")}));
    EXPECT_EQ(round_trip(name.get(), inductive(kName)), (Bytes{2, 0, 0, 0, 'a', 'b'}));
    Owned two(ctor(0, {quarn_value_unit(), quarn_value_nat(1)}));
    EXPECT_EQ(encode(two.get(), inductive(kTwoFields)), (Bytes{1, 0, 0, 0, 1}));
    EXPECT_EQ(decode_error({1, 0, 0, 0, 1}, inductive(kTwoFields)), "TwoFields is represented by one of several fields");
}

TEST(ValueCodecInductive, OpaqueTypesAreHandles) {
    Bytes handle{9, 0, 0, 0, 0, 0, 0, 0};
    quarn::Text error;
    quarn_value *v = quarn::wire::decode_value(handle.data(), handle.size(), inductive(kHandle), sample_table(), error);
    ASSERT_NE(v, nullptr) << error;
    EXPECT_EQ(quarn_value_kind(v), QUARN_KIND_OPAQUE);
    EXPECT_EQ(encode(v, inductive(kHandle)), handle);
    EXPECT_EQ(encode(v, type(Kind::Opaque)), handle);
    // Handle 9 was never registered: discard the value without touching the handle table.
    EXPECT_EQ(encode_error(v, type(Kind::Nat)), "a value Opaque(9) is not of type Nat");
    quarn::capi::free_tree(v, quarn::capi::Handles::Keep, {});
    Owned as_ctor(ctor(0, {}));
    EXPECT_EQ(encode_error(as_ctor.get(), inductive(kHandle)), "Handle is opaque: its values are handles, not constructors");
}

TEST(ValueCodecErrors, TagsAndTextAreChecked) {
    EXPECT_EQ(decode_error({2}, type(Kind::Option, {type(Kind::Unit)})), "invalid Option tag 2");
    EXPECT_EQ(decode_error({2}, type(Kind::Except, {type(Kind::Unit), type(Kind::Unit)})), "invalid Except tag 2");
    TypeExpr function = type(Kind::Function, {type(Kind::Nat), type(Kind::Nat)});
    EXPECT_EQ(decode_error({2, 0, 0, 0, 0, 0, 0, 0, 0}, function), "invalid function kind 2");
    EXPECT_EQ(decode_error({1, 0, 0, 0, 0xC3}, type(Kind::String)), "a String is not valid UTF-8");
    EXPECT_EQ(decode_error({3, 0, 0, 0, 0xED, 0xA0, 0x80}, type(Kind::String)), "a String is not valid UTF-8");
    EXPECT_EQ(decode_error({2, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, type(Kind::FloatArray)),
              "a length of 2 exceeds the remaining wire data");
    EXPECT_EQ(decode_error({0, 0, 0, 0, 7}, type(Kind::List, {type(Kind::Nat)})), "1 unexpected bytes after the wire data");
    EXPECT_EQ(decode_error({}, type(Kind::Nat)), "wire data ends after 0 bytes; 4 more expected");
    EXPECT_EQ(decode_error({0xFF, 0xFF, 0xFF, 0xFF}, type(Kind::List, {type(Kind::Nat)})),
              "a length of 4294967295 exceeds the remaining wire data");
    Owned n(quarn_value_nat(1));
    EXPECT_EQ(encode_error(n.get(), type(Kind::Int)), "a value Nat(1) is not of type Int");
    Owned wrong_list(list({quarn_value_nat(1), quarn_value_cstring("x")}));
    EXPECT_EQ(encode_error(wrong_list.get(), type(Kind::List, {type(Kind::Nat)})),
              "a value String(\"x\") is not of type Nat");
    Owned some_unit(quarn_value_some(quarn_value_unit()));
    EXPECT_EQ(encode_error(some_unit.get(), type(Kind::Except, {type(Kind::Unit), type(Kind::Unit)})),
              "a value Option(Unit) is not of type Except{error: Unit, value: Unit}");
}

TEST(ValueCodecBuffers, BytesAreHandedToAnEmptyRecord) {
    quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT), *string = quarn_type_simple(QUARN_KIND_STRING);
    quarn_type *pair = quarn_type_prod(nat, string);
    Owned v(quarn_value_prod(quarn_value_nat(256), quarn_value_cstring("")));
    quarn_buffer buffer = QUARN_BUFFER_EMPTY;
    quarn::Text error;
    ASSERT_TRUE(quarn::wire::write_value_to_buffer(*v.get(), *pair, &buffer, "test", error)) << error;
    EXPECT_EQ(Bytes(buffer.data, buffer.data + buffer.length), (Bytes{2, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_INTERNAL_PANIC(quarn::wire::write_value_to_buffer(*v.get(), *pair, &buffer, "quarn_call_write", error),
                          "quarn_call_write: a quarn buffer was filled twice");
    quarn_buffer_free(&buffer);
    Owned wrong(quarn_value_unit());
    EXPECT_FALSE(quarn::wire::write_value_to_buffer(*wrong.get(), *pair, &buffer, "test", error));
    EXPECT_EQ(std::string(error), "a value Unit is not of type Prod(Nat, String)");
    EXPECT_EQ(buffer.data, nullptr) << "a failed write leaves the record empty";
    quarn_type_free(pair);
    quarn_type_free(string);
    quarn_type_free(nat);
}

TEST(ValueCodecErrors, ValuesOfOneProgramDoNotFitAnother) {
    Owned point(ctor(0, {quarn_value_nat(1), quarn_value_float(2.0)}));
    EXPECT_EQ(encode_error(point.get(), inductive(kPoint), other_table()), "Point.mk takes 1 fields, not 2");
    Bytes bytes = encode(point.get(), inductive(kPoint));
    EXPECT_EQ(decode_error(bytes, inductive(kPoint), other_table()), "8 unexpected bytes after the wire data");
    EXPECT_EQ(decode_error(bytes, inductive(kShape), other_table()), "type index 1 outside the type table");
}

TEST(ValueCodecErrors, TruncationAtEveryOffsetFailsCleanly) {
    Owned value(quarn_value_prod(
        ctor(1, {ctor(0, {}), quarn_value_cstring("n\xC3\xA9"), ctor(0, {})}),
        list({quarn_value_some(quarn_value_int_parse("-98765432109876543210")), quarn_value_none()})));
    TypeExpr t = type(Kind::Prod, {inductive(kTree, {type(Kind::String)}),
                                   type(Kind::List, {type(Kind::Option, {type(Kind::Int)})})});
    Bytes full = round_trip(value.get(), t);
    for (size_t n = 0; n < full.size(); ++n) {
        Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        std::string error = decode_error(prefix, t);
        bool ends = error.rfind("wire data ends after " + std::to_string(n) + " bytes; ", 0) == 0;
        bool too_long = error.find("exceeds the remaining wire data") != std::string::npos;
        EXPECT_TRUE(ends || too_long) << n << ": " << error;
    }
}

TEST(ValueCodecZeroSize, ListsOfElementsWithoutBytesRoundTripUpToABound) {
    std::vector<quarn_value *> units;
    for (int i = 0; i < 1000; ++i) units.push_back(quarn_value_unit());
    Owned many(quarn_value_list(units.data(), units.size()));
    EXPECT_EQ(round_trip(many.get(), type(Kind::List, {type(Kind::Unit)})), (Bytes{0xE8, 0x03, 0, 0}));

    std::vector<quarn_value *> boxes;
    for (int i = 0; i < 3; ++i) boxes.push_back(quarn_value_prod(ctor(0, {quarn_value_unit()}), quarn_value_unit()));
    Owned pairs(quarn_value_array(boxes.data(), boxes.size()));
    EXPECT_EQ(round_trip(pairs.get(), type(Kind::Array, {type(Kind::Prod, {inductive(kUnitBox), type(Kind::Unit)})})),
              (Bytes{3, 0, 0, 0}));

    // At most 65536 such elements in one value, counted over all its lists and arrays.
    uint32_t limit = quarn::wire::kMaxZeroSizeElements;
    Bytes at_limit(4), above(4);
    std::memcpy(at_limit.data(), &limit, 4);
    uint32_t more = limit + 1;
    std::memcpy(above.data(), &more, 4);
    const std::string expected = "a value holds more than 65536 list or array elements that take no bytes";
    quarn::Text error;
    quarn_value *largest = quarn::wire::decode_value(at_limit.data(), 4, type(Kind::Array, {type(Kind::Unit)}), nullptr, error);
    ASSERT_NE(largest, nullptr) << error;
    EXPECT_EQ(quarn_value_count(largest), limit);
    EXPECT_EQ(decode_error(above, type(Kind::List, {type(Kind::Unit)})), expected);
    Bytes two_halves{0x01, 0x80, 0, 0, 0x00, 0x80, 0, 0};  // 32769 and 32768 elements
    EXPECT_EQ(decode_error(two_halves, type(Kind::Prod, {type(Kind::List, {type(Kind::Unit)}), type(Kind::Array, {type(Kind::Unit)})})),
              expected);

    // Writing refuses what reading would refuse.
    std::vector<quarn_value *> items;
    for (size_t i = 0; i <= limit; ++i) items.push_back(quarn_value_unit());
    Owned too_many(quarn_value_list(items.data(), items.size()));
    EXPECT_EQ(encode_error(too_many.get(), type(Kind::List, {type(Kind::Unit)})), expected);
    quarn_value_free(largest);
}

TEST(ValueCodecZeroSize, ATypeThatRepresentsItselfIsRefused) {
    static const quarn_types *table = [] {
        auto *t = new quarn_types;
        t->definitions.push_back(trivial("Loop", 0, {field("self", inductive(0))}));
        return t;
    }();
    EXPECT_EQ(decode_error({}, inductive(0), table), "Loop is represented by itself");
    Owned v(ctor(0, {quarn_value_unit()}));
    EXPECT_EQ(encode_error(v.get(), inductive(0), table), "Loop is represented by itself");
}

TEST(ValueCodecDeep, AMillionCellsOfAGenericListCostNoCStack) {
    constexpr int kCells = 1'000'000;
    quarn_value *cells = ctor(0, {});
    for (int i = 0; i < kCells; ++i) cells = ctor(1, {quarn_value_uint32(static_cast<uint32_t>(i)), cells});
    Owned value(cells);
    TypeExpr t = inductive(kMyList, {type(Kind::UInt32)});
    Bytes bytes = encode(value.get(), t);
    EXPECT_EQ(bytes.size(), static_cast<size_t>(kCells) * 8 + 4);
    quarn::Text error;
    quarn_value *back = quarn::wire::decode_value(bytes.data(), bytes.size(), t, sample_table(), error);
    ASSERT_NE(back, nullptr) << error;
    EXPECT_EQ(quarn_value_equal(value.get(), back), 1);
    quarn_value_free(back);
}

}  // namespace

// Runtime objects to bytes and back, for every type kind, with the reading errors.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "capi/handle_table.h"
#include "codec_kit.h"
#include "quarn/array.h"
#include "quarn/host.h"
#include "quarn/nat.h"
#include "quarn/string.h"
#include "testing.h"

namespace {

using namespace codec;
using Bytes = std::vector<uint8_t>;
using quarn::wire::HandleMode;

// A table of the shapes compiled programs have: see each definition's comment.
const quarn_types *sample_table() {
    static const quarn_types *table = [] {
        kit::Bytes b;
        b.header(9);
        // 0: MyList α := nil | cons (head : α) (tail : MyList α)
        b.definition("MyList", 1, 2).constructor("MyList.nil", 0, 0, 0, 0, 0);
        b.constructor("MyList.cons", 1, 2, 0, 0, 2);
        b.object_field("head", 0).param(0).object_field("tail", 1).inductive(0, 1).param(0);
        // 1: Point := mk (xs : MyList Nat) (x : UInt64) (flag : Bool)
        b.definition("Point", 0, 1).constructor("Point.mk", 0, 1, 0, 9, 3);
        b.object_field("xs", 0).inductive(0, 1).kind(QUARN_KIND_NAT);
        b.scalar_field("x", 0, 5).kind(QUARN_KIND_UINT64);
        b.scalar_field("flag", 8, 2).kind(QUARN_KIND_BOOL);
        // 2: Color, whose tags differ from the constructors' positions
        b.definition("Color", 0, 3).constructor("red", 1, 0, 0, 0, 0).constructor("green", 0, 0, 0, 0, 0);
        b.constructor("blue", 2, 0, 0, 0, 0);
        // 3: an opaque type
        b.definition("Handle", 0, 0, 1, 7);
        // 4: Wrap := mk (inner : String), a trivial structure
        b.trivial_definition("Wrap", 0, 0).constructor("Wrap.mk", 0, 1, 0, 0, 1);
        b.object_field("inner", 0).kind(QUARN_KIND_STRING);
        // 5: Tree := leaf | node (left right : Tree) (size : USize) (color : Color) (weight : Float32)
        b.definition("Tree", 0, 2).constructor("leaf", 0, 0, 0, 0, 0);
        b.constructor("node", 1, 2, 1, 8, 5);
        b.object_field("left", 0).inductive(5, 0).object_field("right", 1).inductive(5, 0);
        b.usize_field("size", 0).kind(QUARN_KIND_USIZE);
        b.scalar_field("color", 0, 2).inductive(2, 0);
        b.scalar_field("weight", 4, 1).kind(QUARN_KIND_FLOAT32);
        // 6: Loop := mk (self : Loop), trivial: represented by itself
        b.trivial_definition("Loop", 0, 0).constructor("Loop.mk", 0, 1, 0, 0, 1);
        b.object_field("self", 0).inductive(6, 0);
        // 7: Endless := mk (pair : Endless × Unit), trivial: no finite value
        b.trivial_definition("Endless", 0, 0).constructor("Endless.mk", 0, 1, 0, 0, 1);
        b.object_field("pair", 0).kind(QUARN_KIND_PROD).inductive(7, 0).kind(QUARN_KIND_UNIT);
        // 8: UnitBox := mk (u : Unit), trivial: takes no bytes
        b.trivial_definition("UnitBox", 0, 0).constructor("UnitBox.mk", 0, 1, 0, 0, 1);
        b.object_field("u", 0).kind(QUARN_KIND_UNIT);
        return quarn_types_load(b.data.data(), b.data.size());
    }();
    return table;
}

const TypeExpr kNat = simple(Kind::Nat), kInt = simple(Kind::Int), kString = simple(Kind::String),
               kUnit = simple(Kind::Unit);

class ObjectCodec : public kit::LiveObjectsTest {
protected:
    // Decodes `bytes`, checks that encoding the object gives them back, and returns the
    // object (owned).
    quarn_object *round_trip(const TypeExpr &type, const Bytes &bytes) {
        std::string error;
        quarn_object *o = decode(sample_table(), type, bytes, error);
        EXPECT_NE(o, nullptr) << error;
        if (o == nullptr) return quarn_box(0);
        EXPECT_EQ(encode(sample_table(), type, o), bytes);
        return o;
    }
    void round_trip_and_free(const TypeExpr &type, const Bytes &bytes) { quarn_dec(round_trip(type, bytes)); }

    std::string error_of(const TypeExpr &type, const Bytes &bytes) {
        return decode_error(sample_table(), type, bytes);
    }
};

Bytes magnitude(std::initializer_list<uint8_t> bytes) {
    kit::Bytes b;
    b.u32(static_cast<uint32_t>(bytes.size()));
    for (uint8_t x : bytes) b.u8(x);
    return b.data;
}

TEST_F(ObjectCodec, NatAcrossTheBoxedBoundary) {
    EXPECT_EQ(encode(nullptr, kNat, quarn_box(0)), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(encode(nullptr, kNat, quarn_box(256)), (Bytes{2, 0, 0, 0, 0, 1}));
    EXPECT_EQ(error_of(kNat, Bytes{1, 0, 0, 0, 0}), "a number's magnitude has a leading zero byte");
    EXPECT_EQ(error_of(kNat, Bytes{9, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0}),
              "a number's magnitude has a leading zero byte");

    quarn_object *largest_boxed = round_trip(kNat, magnitude({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f}));
    EXPECT_TRUE(quarn_is_scalar(largest_boxed));
    EXPECT_EQ(quarn_unbox(largest_boxed), (uint64_t{1} << 63) - 1);
    quarn_object *first_big = round_trip(kNat, magnitude({0, 0, 0, 0, 0, 0, 0, 0x80}));
    ASSERT_FALSE(quarn_is_scalar(first_big));
    EXPECT_EQ(first_big->tag, QUARN_TAG_BIGNUM);
    quarn_object *two_to_64 = round_trip(kNat, magnitude({0, 0, 0, 0, 0, 0, 0, 0, 1}));
    quarn_object *expected = quarn_lean_nat_shiftl(quarn_box(1), quarn_box(64));
    EXPECT_TRUE(quarn_lean_nat_dec_eq(two_to_64, expected));
    quarn_dec(expected);
    quarn_dec(first_big);
    quarn_dec(two_to_64);

    // 2^200 - 1: 25 bytes of 0xff, spread over four digits.
    Bytes big = {25, 0, 0, 0};
    big.insert(big.end(), 25, 0xff);
    quarn_object *n = round_trip(kNat, big);
    quarn_object *power = quarn_lean_nat_shiftl(quarn_box(1), quarn_box(200));
    quarn_object *reference = quarn_lean_nat_sub(power, quarn_box(1));
    EXPECT_TRUE(quarn_lean_nat_dec_eq(n, reference));
    quarn_dec(power);
    quarn_dec(reference);
    quarn_dec(n);
}

TEST_F(ObjectCodec, IntSignsAndBoundaries) {
    EXPECT_EQ(encode(nullptr, kInt, quarn_box_int(-1)), (Bytes{1, 1, 0, 0, 0, 1}));
    EXPECT_EQ(encode(nullptr, kInt, quarn_box_int(0)), (Bytes{0, 0, 0, 0, 0}));
    EXPECT_EQ(error_of(kInt, Bytes{1, 0, 0, 0, 0}), "negative zero is not a canonical Int");
    EXPECT_EQ(error_of(kInt, Bytes{2, 0, 0, 0, 0}), "invalid Int sign 2");
    Bytes min32 = {1, 4, 0, 0, 0, 0, 0, 0, 0x80};
    quarn_object *boxed = round_trip(kInt, min32);
    EXPECT_TRUE(quarn_is_scalar(boxed));
    EXPECT_EQ(quarn_unbox_int(boxed), INT32_MIN);
    quarn_object *below = round_trip(kInt, Bytes{1, 4, 0, 0, 0, 1, 0, 0, 0x80});
    EXPECT_FALSE(quarn_is_scalar(below));
    quarn_dec(below);
    // -2^63 and -2^64 take the general path.
    quarn_dec(round_trip(kInt, Bytes{1, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}));
    quarn_dec(round_trip(kInt, Bytes{1, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    quarn_dec(round_trip(kInt, Bytes{0, 5, 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST_F(ObjectCodec, FixedWidthScalarsFloatsAndChars) {
    round_trip_and_free(simple(Kind::Bool), {1});
    EXPECT_EQ(error_of(simple(Kind::Bool), {2}), "invalid Bool 2");
    quarn_object *u16 = round_trip(simple(Kind::UInt16), {0x34, 0x12});
    EXPECT_EQ(quarn_unbox(u16), 0x1234u);
    quarn_object *i8 = round_trip(simple(Kind::Int8), {0xff});
    EXPECT_EQ(quarn_unbox(i8), 0xffu);
    quarn_object *u64 = round_trip(simple(Kind::UInt64), {1, 2, 3, 4, 5, 6, 7, 0x88});
    EXPECT_EQ(quarn_unbox_uint64(u64), 0x8807060504030201u);
    quarn_dec(u64);
    round_trip_and_free(simple(Kind::ISize), {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
    round_trip_and_free(simple(Kind::Int32), {0xfe, 0xff, 0xff, 0xff});
    double pi = 3.14159;
    Bytes pi_bytes(8);
    std::memcpy(pi_bytes.data(), &pi, 8);
    quarn_object *f = round_trip(simple(Kind::Float), pi_bytes);
    EXPECT_EQ(quarn_unbox_float(f), pi);
    quarn_dec(f);
    float half = -0.5f;
    Bytes half_bytes(4);
    std::memcpy(half_bytes.data(), &half, 4);
    quarn_object *f32 = round_trip(simple(Kind::Float32), half_bytes);
    EXPECT_EQ(quarn_unbox_float32(f32), -0.5f);
    quarn_dec(f32);
    EXPECT_EQ(error_of(simple(Kind::Char), {0x00, 0xd8, 0, 0}), "0xd800 is not a Unicode scalar value");
    EXPECT_EQ(error_of(simple(Kind::Char), {0x00, 0x00, 0x11, 0}), "0x110000 is not a Unicode scalar value");
    EXPECT_EQ(quarn_unbox(round_trip(simple(Kind::Char), {0xff, 0xff, 0x10, 0})), 0x10FFFFu);
    EXPECT_EQ(error_of(simple(Kind::UInt32), {1, 2}), "wire data ends after 2 bytes; 4 more expected");
}

TEST_F(ObjectCodec, StringsOfOneToFourByteCharacters) {
    std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
    Bytes bytes = {static_cast<uint8_t>(text.size()), 0, 0, 0};
    bytes.insert(bytes.end(), text.begin(), text.end());
    quarn_object *s = round_trip(kString, bytes);
    auto *so = reinterpret_cast<quarn_string_object *>(s);
    EXPECT_EQ(so->size, text.size() + 1);
    EXPECT_EQ(so->length, 4u);
    EXPECT_EQ(std::string(so->data), text);
    quarn_dec(s);
    EXPECT_EQ(error_of(kString, {2, 0, 0, 0, 0xC0, 0x80}), "a String is not valid UTF-8");
    EXPECT_EQ(error_of(kString, {3, 0, 0, 0, 0xED, 0xA0, 0x80}), "a String is not valid UTF-8");
    EXPECT_EQ(error_of(kString, {1, 0, 0, 0, 0xF0}), "a String is not valid UTF-8");
    EXPECT_EQ(error_of(kString, {5, 0, 0, 0, 'a'}), "a length of 5 exceeds the remaining wire data");
    round_trip_and_free(kString, {0, 0, 0, 0});
}

TEST_F(ObjectCodec, ByteAndFloatArrays) {
    quarn_object *a = round_trip(simple(Kind::ByteArray), {3, 0, 0, 0, 7, 8, 9});
    EXPECT_EQ(reinterpret_cast<quarn_sarray_object *>(a)->size, 3u);
    EXPECT_EQ(reinterpret_cast<quarn_sarray_object *>(a)->data[2], 9);
    quarn_dec(a);
    Bytes floats = {2, 0, 0, 0};
    for (double d : {1.5, -2.25}) {
        uint8_t raw[8];
        std::memcpy(raw, &d, 8);
        floats.insert(floats.end(), raw, raw + 8);
    }
    quarn_object *fa = round_trip(simple(Kind::FloatArray), floats);
    EXPECT_EQ(reinterpret_cast<double *>(reinterpret_cast<quarn_sarray_object *>(fa)->data)[1], -2.25);
    quarn_dec(fa);
    // Eight bytes per element are required before anything is allocated.
    EXPECT_EQ(error_of(simple(Kind::FloatArray), {2, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}),
              "a length of 2 exceeds the remaining wire data");
}

TEST_F(ObjectCodec, OptionsListsArraysPairsAndExcepts) {
    quarn_object *none = round_trip(option(kNat), {0});
    EXPECT_EQ(none, quarn_box(0));
    quarn_object *some = round_trip(option(option(kNat)), {1, 1, 1, 0, 0, 0, 5});
    ASSERT_FALSE(quarn_is_scalar(some));
    EXPECT_EQ(some->tag, 1);
    EXPECT_EQ(quarn_ctor_get(quarn_ctor_get(some, 0), 0), quarn_box(5));
    quarn_dec(some);
    round_trip_and_free(option(option(kNat)), {1, 0});
    EXPECT_EQ(error_of(option(kNat), {2}), "invalid Option tag 2");

    EXPECT_EQ(round_trip(list(kNat), {0, 0, 0, 0}), quarn_box(0));
    quarn_object *l = round_trip(list(kNat), {2, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 0});
    EXPECT_EQ(l->tag, 1);
    EXPECT_EQ(quarn_ctor_get(l, 0), quarn_box(4));
    EXPECT_EQ(quarn_ctor_get(quarn_ctor_get(l, 1), 0), quarn_box(0));
    quarn_dec(l);
    quarn_object *arr = round_trip(array(prod(kNat, kString)), {2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 'x',
                                                                 1, 0, 0, 0, 3, 0, 0, 0, 0});
    EXPECT_EQ(reinterpret_cast<quarn_array_object *>(arr)->size, 2u);
    quarn_dec(arr);
    EXPECT_EQ(error_of(array(kNat), {5, 0, 0, 0, 0, 0, 0, 0}), "a length of 5 exceeds the remaining wire data");

    quarn_object *ok = round_trip(except(kString, kNat), {1, 0, 0, 0, 0});
    EXPECT_EQ(ok->tag, 1);
    quarn_dec(ok);
    quarn_object *err = round_trip(except(kString, kNat), {0, 1, 0, 0, 0, 'e'});
    EXPECT_EQ(err->tag, 0);
    quarn_dec(err);
    EXPECT_EQ(error_of(except(kString, kNat), {2}), "invalid Except tag 2");
    round_trip_and_free(kUnit, {});
}

TEST_F(ObjectCodec, ZeroSizeElementsRoundTripUnderABound) {
    quarn_object *units = round_trip(list(kUnit), {3, 0, 0, 0});
    EXPECT_EQ(quarn_ctor_get(units, 0), quarn_box(0));
    quarn_dec(units);
    round_trip_and_free(array(prod(kUnit, kUnit)), {5, 0, 0, 0});
    round_trip_and_free(array(inductive(8)), {2, 0, 0, 0});
    round_trip_and_free(list(kUnit), {0, 0, 1, 0});  // exactly the limit, 2^16
    EXPECT_EQ(error_of(list(kUnit), {1, 0, 1, 0}),
              "a value holds more than 65536 list or array elements that take no bytes");
    // The bound holds for the whole value, not per list.
    EXPECT_EQ(error_of(array(array(kUnit)), {2, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0}),
              "a value holds more than 65536 list or array elements that take no bytes");
}

TEST_F(ObjectCodec, StructuresEnumerationsAndTrivialStructures) {
    // Point { xs := [7], x := 0x0102030405060708, flag := true }
    kit::Bytes b;
    b.u32(0).u32(1).u32(1).u8(7).u32(0).u64(0x0102030405060708).u8(1);
    quarn_object *p = round_trip(inductive(1), b.data);
    ASSERT_FALSE(quarn_is_scalar(p));
    EXPECT_EQ(quarn_ctor_num_objs(p), 1u);
    EXPECT_EQ(quarn_ctor_get_uint64(p, 8), 0x0102030405060708u);
    EXPECT_EQ(quarn_ctor_scalar_area(p)[8], 1);
    quarn_dec(p);

    // An enumeration decodes to its tag; its bytes hold the position.
    EXPECT_EQ(round_trip(inductive(2), {0, 0, 0, 0}), quarn_box(1));
    EXPECT_EQ(round_trip(inductive(2), {1, 0, 0, 0}), quarn_box(0));
    EXPECT_EQ(error_of(inductive(2), {3, 0, 0, 0}), "constructor index 3 of Color");

    // A trivial structure's bytes are its field's.
    quarn_object *w = round_trip(inductive(4), {2, 0, 0, 0, 'h', 'i'});
    EXPECT_EQ(w->tag, QUARN_TAG_STRING);
    quarn_dec(w);

    // A node with object, usize and scalar fields, one of them an enumeration.
    kit::Bytes t;
    float weight = 2.5f;
    uint32_t weight_bits;
    std::memcpy(&weight_bits, &weight, 4);
    t.u32(1).u32(0).u32(0).u64(42).u32(2).u32(weight_bits);
    quarn_object *node = round_trip(inductive(5), t.data);
    EXPECT_EQ(quarn_ctor_get_uint64(node, 16), 42u);
    EXPECT_EQ(quarn_ctor_scalar_area(node)[8], 2);  // blue's tag
    EXPECT_EQ(quarn_ctor_get_float32(node, 28), 2.5f);
    quarn_dec(node);
    t.data[20] = 3;  // no fourth colour
    EXPECT_EQ(error_of(inductive(5), t.data), "constructor index 3 of Color");

    EXPECT_EQ(error_of(inductive(9), {0, 0, 0, 0}), "type index 9 outside the type table");
    EXPECT_EQ(error_of(inductive(0), {0, 0, 0, 0}), "MyList applied to 0 arguments");
    EXPECT_EQ(error_of(of(Kind::Param, {}, 2), {}), "an uninstantiated type parameter 2");
    EXPECT_EQ(error_of(inductive(6), {0}), "Loop is represented by itself");
    EXPECT_EQ(error_of(inductive(7), {}), "a value holds more than 4194304 parts in a row without bytes");
}

// Found by fuzzing: a list whose element type is first resolved while its count is read
// (a trivial structure over Unit) added nodes to the plan under a reference in use.
TEST_F(ObjectCodec, ResolvingAnElementWhileReadingACount) {
    quarn_object *l = round_trip(list(inductive(8)), {5, 0, 0, 0});
    EXPECT_EQ(quarn_ctor_get(l, 0), quarn_box(0));
    quarn_dec(l);
}

TEST_F(ObjectCodec, AMillionCellsAndADeepTreeUseNoDeepRecursion) {
    constexpr uint32_t kCells = 1000000;
    kit::Bytes b;
    for (uint32_t i = 0; i < kCells; ++i) b.u32(1).u32(1).u8(static_cast<uint8_t>(i % 200 + 1));
    b.u32(0);
    quarn_object *l = round_trip(inductive(0, {kNat}), b.data);
    EXPECT_EQ(quarn_ctor_get(l, 0), quarn_box(1));
    quarn_dec(l);
    // A tree leaning left a million deep: each node is left, leaf, size, color, weight.
    kit::Bytes tree;
    for (uint32_t i = 0; i < kCells; ++i) tree.u32(1);
    tree.u32(0);
    for (uint32_t i = 0; i < kCells; ++i) tree.u32(0).u64(i).u32(1).u32(0);
    quarn_dec(round_trip(inductive(5), tree.data));
}

TEST_F(ObjectCodec, EveryTruncationFailsCleanly) {
    kit::Bytes b;
    b.u32(2);                                             // Array of two
    b.u8(1).u32(0).u32(1).u32(1).u8(9).u32(0).u64(5).u8(0);  // some Point
    b.u8(0);                                              // none
    TypeExpr type = array(option(inductive(1)));
    quarn_dec(round_trip(type, b.data));
    for (size_t n = 0; n < b.data.size(); ++n) {
        Bytes cut(b.data.begin(), b.data.begin() + static_cast<long>(n));
        std::string error = error_of(type, cut);
        EXPECT_TRUE(error.rfind("wire data ends after " + std::to_string(n) + " bytes; ", 0) == 0 ||
                    error.find("exceeds the remaining wire data") != std::string::npos)
            << "cut at " << n << ": " << error;
    }
    Bytes longer = b.data;
    longer.push_back(0);
    EXPECT_EQ(error_of(type, longer), "1 unexpected bytes after the wire data");
}

TEST_F(ObjectCodec, HandlesBorrowedAndAdopted) {
    quarn_object *cell = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(cell, 0, quarn_box(3));
    TypeExpr opaque = simple(Kind::Opaque);
    Bytes bytes = encode(nullptr, opaque, cell);  // registers one new reference
    ASSERT_EQ(bytes.size(), 8u);
    uint64_t h;
    std::memcpy(&h, bytes.data(), 8);
    std::string error;
    quarn_object *borrowed = decode(nullptr, opaque, bytes, error, HandleMode::Borrow);
    EXPECT_EQ(borrowed, cell);
    quarn_dec(borrowed);
    quarn_object *adopted = decode(nullptr, opaque, bytes, error, HandleMode::Adopt);
    EXPECT_EQ(adopted, cell);
    quarn_dec(adopted);
    EXPECT_EQ(decode(nullptr, opaque, bytes, error, HandleMode::Adopt), nullptr);
    EXPECT_EQ(error, std::to_string(h) + " is not a live handle");
    // An opaque definition and a Lean closure are handles too.
    Bytes as_definition = encode(sample_table(), inductive(3), cell);
    quarn_object *again = decode(sample_table(), inductive(3), as_definition, error, HandleMode::Adopt);
    EXPECT_EQ(again, cell);
    quarn_dec(again);
    TypeExpr function = of(Kind::Function, {kNat, kNat});
    Bytes closure = encode(nullptr, function, cell);
    EXPECT_EQ(closure[0], 0);
    quarn_dec(decode(nullptr, function, closure, error, HandleMode::Adopt));
    EXPECT_EQ(decode_error(nullptr, function, {2}), "invalid function kind 2");
    quarn_dec(cell);
}

TEST_F(ObjectCodec, EncodingHandsItsStorageToABuffer) {
    quarn::wire::ByteSink sink;
    quarn_object *l = round_trip(list(kNat), {1, 0, 0, 0, 1, 0, 0, 0, 9});
    quarn::wire::encode_object(nullptr, list(kNat), l, sink);
    const uint8_t *storage = sink.data();
    quarn_buffer buffer = QUARN_BUFFER_EMPTY;
    sink.hand_over(&buffer, "test");
    EXPECT_EQ(buffer.data, storage);  // no copy
    EXPECT_EQ(buffer.length, 9u);
    EXPECT_GE(buffer.capacity, 9u);
    EXPECT_EQ(buffer.data[8], 9);
    EXPECT_EQ(sink.length(), 0u);
    quarn_buffer_free(&buffer);
    // Nothing written still fills the record.
    quarn::wire::ByteSink empty;
    quarn::wire::encode_object(nullptr, kUnit, quarn_box(0), empty);
    empty.hand_over(&buffer, "test");
    EXPECT_NE(buffer.data, nullptr);
    EXPECT_EQ(buffer.length, 0u);
    quarn_buffer_free(&buffer);
    quarn_dec(l);
}

TEST(ObjectCodecDeath, HandingOverToAFilledBuffer) {
    quarn_buffer buffer = QUARN_BUFFER_EMPTY;
    quarn_buffer_alloc(&buffer, 4);
    quarn::wire::ByteSink sink;
    sink.u32(1);
    EXPECT_INTERNAL_PANIC(sink.hand_over(&buffer, "quarn_call_write"),
                          "quarn_call_write: a quarn buffer was filled twice");
    quarn_buffer_free(&buffer);
}

TEST(ObjectCodecDeath, MismatchesAndHostFunctions) {
    TypeExpr except_type = except(kNat, kNat);
    quarn_object *tag2 = quarn_alloc_ctor(2, 1, 0);
    quarn_ctor_set(tag2, 0, quarn_box(0));
    EXPECT_INTERNAL_PANIC(encode(nullptr, except_type, tag2), "invalid Except constructor tag 2");
    EXPECT_INTERNAL_PANIC(encode(sample_table(), inductive(2), quarn_box(7)), "invalid constructor tag 7 for Color");
    EXPECT_INTERNAL_PANIC(encode(nullptr, of(Kind::Param, {}, 1), quarn_box(0)),
                          "encoding an uninstantiated type parameter 1");
    TypeExpr function = of(Kind::Function, {kNat, kNat});
    EXPECT_INTERNAL_PANIC(decode_error(nullptr, function, {1, 7, 0, 0, 0, 0, 0, 0, 0}),
                          "no quarn host is installed to call host functions");
    quarn_dec(tag2);
}

}  // namespace

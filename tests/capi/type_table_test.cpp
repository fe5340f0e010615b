// Loading type tables: every validation rule with its exact message, truncation, and the
// fatal report of the public entry point.
#include <string>

#include "capi/type_expr.h"
#include "table_bytes.h"
#include "testing.h"
#include "wire/type_table.h"

namespace {

using kit::Bytes;
using quarn::capi::Kind;

// The detail message of loading `bytes`, or "" when the table loads.
std::string load_error(const Bytes &bytes) {
    quarn::Text error;
    const quarn_types *table = quarn::wire::load_type_table(bytes.data.data(), bytes.data.size(), error);
    if (table != nullptr) return "";
    return std::string(error);
}

const quarn_types *load(const Bytes &bytes) {
    quarn::Text error;
    const quarn_types *table = quarn::wire::load_type_table(bytes.data.data(), bytes.data.size(), error);
    EXPECT_NE(table, nullptr) << error;
    return table;
}

// A table with one definition of one constructor holding the given field bytes.
Bytes one_field(uint32_t objects, uint32_t usizes, uint32_t scalar_size, const Bytes &field,
                uint32_t parameters = 0) {
    Bytes b;
    b.header(1).definition("T", parameters, 1).constructor("T.mk", 0, objects, usizes, scalar_size, 1);
    return b.append(field);
}

// A structure, a recursive list type with a parameter, an enumeration, an opaque type and a
// trivial structure; the list's tail refers to the list itself, the structure's field to the
// later list definition.
Bytes sample_table() {
    Bytes b;
    b.header(5);
    b.definition("Point", 0, 1).constructor("Point.mk", 0, 1, 0, 9, 3);
    b.object_field("xs", 0).inductive(1, 1).kind(QUARN_KIND_NAT);
    b.scalar_field("x", 0, 5).kind(QUARN_KIND_UINT64);
    b.scalar_field("flag", 8, 2).kind(QUARN_KIND_BOOL);
    b.definition("MyList", 1, 2).constructor("MyList.nil", 0, 0, 0, 0, 0);
    b.constructor("MyList.cons", 1, 2, 0, 0, 2);
    b.object_field("head", 0).param(0);
    b.object_field("tail", 1).inductive(1, 1).param(0);
    b.definition("Color", 0, 3).constructor("red", 0, 0, 0, 0, 0).constructor("green", 1, 0, 0, 0, 0);
    b.constructor("blue", 2, 0, 0, 0, 0);
    b.definition("Handle", 0, 0, 1, 7);
    b.trivial_definition("Wrap", 0, 0).constructor("Wrap.mk", 0, 1, 0, 0, 1);
    b.object_field("inner", 0).kind(QUARN_KIND_STRING);
    return b;
}

TEST(TypeTable, LoadsEveryKindOfDefinition) {
    const quarn_types *table = load(sample_table());
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->definitions.size(), 5u);
    const auto &point = table->definitions[0];
    EXPECT_EQ(point.name, "Point");
    ASSERT_EQ(point.constructors[0].fields.size(), 3u);
    EXPECT_EQ(quarn::capi::type_text(point.constructors[0].fields[0].type), "Inductive{index: 1, args: [Nat]}");
    EXPECT_EQ(point.constructors[0].fields[2].repr, quarn::capi::Repr::Byte);
    EXPECT_TRUE(table->definitions[3].opaque);
    EXPECT_TRUE(table->definitions[4].trivial);
    EXPECT_EQ(table->definitions[2].constructors[2].tag, 2u);
}

TEST(TypeTable, EmptyTableAndHeaderErrors) {
    Bytes empty;
    empty.header(0);
    EXPECT_EQ(empty.data.size(), 12u);
    ASSERT_NE(load(empty), nullptr);
    EXPECT_TRUE(load(empty)->definitions.empty());

    EXPECT_EQ(load_error(Bytes().raw("QRN")), "wire data ends after 3 bytes; 4 more expected");
    EXPECT_EQ(load_error(Bytes().raw("QRNX").u32(2).u32(0)), "not a quarn type table");
    EXPECT_EQ(load_error(Bytes().raw("QRNT").u32(3).u32(0)),
              "type table version 3; this runtime reads version 2");
    EXPECT_EQ(load_error(Bytes().header(0).u8(0)), "1 unexpected bytes after the wire data");
    EXPECT_EQ(load_error(Bytes().raw("QRNT").u32(2).u32(7)),
              "a length of 7 exceeds the remaining wire data");
}

TEST(TypeTable, EveryTruncationFailsCleanly) {
    Bytes full = sample_table();
    for (size_t n = 0; n < full.data.size(); ++n) {
        Bytes cut;
        cut.data.assign(full.data.begin(), full.data.begin() + static_cast<long>(n));
        std::string error = load_error(cut);
        bool ends = error.rfind("wire data ends after " + std::to_string(n) + " bytes; ", 0) == 0;
        bool length = error.find("exceeds the remaining wire data") != std::string::npos;
        EXPECT_TRUE(ends || length) << "cut at " << n << ": " << error;
    }
}

TEST(TypeTable, ByteValuedFlagsAndCodes) {
    EXPECT_EQ(load_error(Bytes().header(1).text("T").u8(2)), "invalid opaque flag 2 in T");
    EXPECT_EQ(load_error(Bytes().header(1).text("T").u8(0).u32(0).u8(8)), "unknown representation code 8");
    EXPECT_EQ(load_error(Bytes().header(1).text("T").u8(0).u32(0).u8(6).u8(3)),
              "invalid trivial-structure flag 3 in T");
    EXPECT_EQ(load_error(one_field(1, 0, 0, Bytes().text("f").u8(3))), "invalid field kind 3 in T.mk");
    EXPECT_EQ(load_error(one_field(0, 0, 8, Bytes().scalar_field("f", 0, 9))), "unknown representation code 9");
    EXPECT_EQ(load_error(one_field(1, 0, 0, Bytes().object_field("f", 0).u8(29))), "unknown type tag 29");
    EXPECT_EQ(load_error(Bytes().header(1).text("\xC0\x80")), "a string is not valid UTF-8");
}

TEST(TypeTable, DefinitionRules) {
    EXPECT_EQ(load_error(Bytes().header(1).definition("H", 1, 0, 1, 7)),
              "opaque type H must have no constructors, no parameters and an object representation");
    EXPECT_EQ(load_error(Bytes().header(1).definition("H", 0, 0, 1, 6)),
              "opaque type H must have no constructors, no parameters and an object representation");
    EXPECT_EQ(load_error(Bytes().header(1).definition("E", 0, 0)), "type E has no constructors");
    Bytes bad_trivial;
    bad_trivial.header(1).trivial_definition("W", 0, 1).constructor("W.mk", 0, 1, 0, 0, 1);
    bad_trivial.object_field("a", 0).kind(QUARN_KIND_NAT);
    EXPECT_EQ(load_error(bad_trivial), "type W has an invalid trivial-structure field");
    Bytes two_ctors;
    two_ctors.header(1).trivial_definition("W", 0, 0);
    two_ctors.data[two_ctors.data.size() - 4] = 2;  // two constructors
    two_ctors.constructor("a", 0, 0, 0, 0, 0).constructor("b", 1, 0, 0, 0, 0);
    EXPECT_EQ(load_error(two_ctors), "type W has an invalid trivial-structure field");
}

TEST(TypeTable, ConstructorLayouts) {
    Bytes ok;
    ok.header(1).definition("T", 0, 1).constructor("T.mk", 243, 255, 0, 0, 0);
    EXPECT_EQ(load_error(ok), "");
    Bytes tag;
    tag.header(1).definition("T", 0, 1).constructor("T.mk", 244, 0, 0, 0, 0);
    EXPECT_EQ(load_error(tag), "constructor T.mk has an invalid layout");
    Bytes objects;
    objects.header(1).definition("T", 0, 1).constructor("T.mk", 0, 256, 0, 0, 0);
    EXPECT_EQ(load_error(objects), "constructor T.mk has an invalid layout");

    EXPECT_EQ(load_error(one_field(1, 0, 0, Bytes().object_field("f", 1).kind(0))),
              "field f of T.mk is outside its object fields");
    EXPECT_EQ(load_error(one_field(0, 1, 0, Bytes().usize_field("f", 1).kind(7))),
              "field f of T.mk is outside its usize fields");
    EXPECT_EQ(load_error(one_field(0, 0, 8, Bytes().scalar_field("f", 0, 6).kind(6))),
              "field f of T.mk is not a scalar");
    EXPECT_EQ(load_error(one_field(0, 0, 8, Bytes().scalar_field("f", 0, 7).kind(6))),
              "field f of T.mk is not a scalar");
    EXPECT_EQ(load_error(one_field(0, 0, 8, Bytes().scalar_field("f", 0, 0).kind(13))), "");
    EXPECT_EQ(load_error(one_field(0, 0, 8, Bytes().scalar_field("f", 1, 0).kind(13))),
              "field f of T.mk is outside its scalar fields");
}

TEST(TypeTable, ConstructorsTheRuntimeCannotAllocateAreRejected) {
    Bytes at_limit;
    at_limit.header(1).definition("T", 0, 1).constructor("T.mk", 0, 0, 2, 1007, 0);
    EXPECT_EQ(load_error(at_limit), "");
    Bytes scalar;
    scalar.header(1).definition("T", 0, 1).constructor("T.mk", 0, 0, 0, 1024, 0);
    EXPECT_EQ(load_error(scalar),
              "constructor T.mk has 1024 bytes of usize and scalar fields; at most 1023 can be allocated");
    Bytes usizes;
    usizes.header(1).definition("T", 0, 1).constructor("T.mk", 0, 0, 0x20000000, 0, 0);
    EXPECT_EQ(load_error(usizes),
              "constructor T.mk has 4294967296 bytes of usize and scalar fields; at most 1023 can be allocated");
}

TEST(TypeTable, FieldTypesAreCheckedAgainstTheTable) {
    EXPECT_EQ(load_error(one_field(1, 0, 0, Bytes().object_field("f", 0).param(1), 1)), "type parameter 1 of 1");
    EXPECT_EQ(load_error(one_field(1, 0, 0, Bytes().object_field("f", 0).inductive(1, 0))),
              "type index 1 outside the type table");
    EXPECT_EQ(load_error(one_field(1, 0, 0, Bytes().object_field("f", 0).inductive(0, 1).kind(0))),
              "T applied to 1 arguments");
    EXPECT_EQ(load_error(one_field(1, 0, 0, Bytes().object_field("f", 0).kind(QUARN_KIND_FUNCTION).u32(0).kind(0))),
              "a function type with 0 parameters");
    Bytes sixteen;
    sixteen.object_field("f", 0).kind(QUARN_KIND_FUNCTION).u32(16);
    for (int i = 0; i < 17; ++i) sixteen.kind(0);
    EXPECT_EQ(load_error(one_field(1, 0, 0, sixteen)), "a function type with 16 parameters");
    // The first failing definition in table order is reported.
    Bytes order;
    order.header(2).definition("A", 0, 0).definition("B", 0, 0);
    EXPECT_EQ(load_error(order), "type A has no constructors");
}

TEST(TypeTable, DeepNestingIsRefusedWithoutDeepRecursion) {
    Bytes deep;
    deep.object_field("f", 0);
    for (int i = 0; i < 1000000; ++i) deep.kind(QUARN_KIND_OPTION);
    deep.kind(QUARN_KIND_NAT);
    EXPECT_EQ(load_error(one_field(1, 0, 0, deep)), "a type expression nested more than 256 deep");
    Bytes fits;
    fits.object_field("f", 0);
    for (int i = 0; i < 255; ++i) fits.kind(QUARN_KIND_LIST);
    fits.kind(QUARN_KIND_NAT);
    EXPECT_EQ(load_error(one_field(1, 0, 0, fits)), "");
}

TEST(TypeTableDeath, InvalidTableIsFatalWithoutFunctionName) {
    Bytes three;
    three.raw("QRN");
    EXPECT_INTERNAL_PANIC(quarn_types_load(three.data.data(), three.data.size()),
                          "a generated type table is invalid: wire data ends after 3 bytes; 4 more expected");
    EXPECT_INTERNAL_PANIC(quarn_types_load(nullptr, 0),
                          "a generated type table is invalid: wire data ends after 0 bytes; 4 more expected");
}

TEST(TypeTable, SameBytesTwiceAreTwoPrograms) {
    Bytes b = sample_table();
    const quarn_types *a = quarn_types_load(b.data.data(), b.data.size());
    const quarn_types *c = quarn_types_load(b.data.data(), b.data.size());
    EXPECT_NE(a, c);
}

}  // namespace

// The type table and the types the codec fuzz targets read values of. The order of
// `codec_cases` is the meaning of an input's first byte (make_seeds.py writes seeds for it).
#pragma once

#include <cstdlib>
#include <vector>

#include "capi/types.h"
#include "quarn/host.h"
#include "table_bytes.h"
#include "wire/type_table.h"

namespace fuzz {

using quarn::capi::Kind;
using quarn::capi::TypeExpr;

// MyList α, Point, Color (tags out of order), an opaque Handle, the trivial Wrap, Tree with
// object, usize and scalar fields, Loop (a trivial structure of itself) and UnitBox.
inline std::vector<uint8_t> sample_table_bytes() {
    kit::Bytes b;
    b.header(8);
    b.definition("MyList", 1, 2).constructor("MyList.nil", 0, 0, 0, 0, 0);
    b.constructor("MyList.cons", 1, 2, 0, 0, 2);
    b.object_field("head", 0).param(0).object_field("tail", 1).inductive(0, 1).param(0);
    b.definition("Point", 0, 1).constructor("Point.mk", 0, 1, 0, 9, 3);
    b.object_field("xs", 0).inductive(0, 1).kind(QUARN_KIND_NAT);
    b.scalar_field("x", 0, 5).kind(QUARN_KIND_UINT64);
    b.scalar_field("flag", 8, 2).kind(QUARN_KIND_BOOL);
    b.definition("Color", 0, 3).constructor("red", 1, 0, 0, 0, 0).constructor("green", 0, 0, 0, 0, 0);
    b.constructor("blue", 2, 0, 0, 0, 0);
    b.definition("Handle", 0, 0, 1, 7);
    b.trivial_definition("Wrap", 0, 0).constructor("Wrap.mk", 0, 1, 0, 0, 1);
    b.object_field("inner", 0).kind(QUARN_KIND_STRING);
    b.definition("Tree", 0, 2).constructor("leaf", 0, 0, 0, 0, 0);
    b.constructor("node", 1, 2, 1, 8, 5);
    b.object_field("left", 0).inductive(5, 0).object_field("right", 1).inductive(5, 0);
    b.usize_field("size", 0).kind(QUARN_KIND_USIZE);
    b.scalar_field("color", 0, 2).inductive(2, 0);
    b.scalar_field("weight", 4, 1).kind(QUARN_KIND_FLOAT32);
    b.trivial_definition("Loop", 0, 0).constructor("Loop.mk", 0, 1, 0, 0, 1);
    b.object_field("self", 0).inductive(6, 0);
    b.trivial_definition("UnitBox", 0, 0).constructor("UnitBox.mk", 0, 1, 0, 0, 1);
    b.object_field("u", 0).kind(QUARN_KIND_UNIT);
    return b.data;
}

inline TypeExpr node(Kind kind, std::initializer_list<TypeExpr> children = {}, uint32_t index = 0) {
    TypeExpr t{kind, index, {}};
    for (const TypeExpr &c : children) t.children.push_back(c);
    return t;
}

struct CodecCase {
    TypeExpr type;
    // Values of types with handles are written with new handle numbers: no round trip.
    bool round_trip = true;
};

inline std::vector<CodecCase> codec_cases() {
    TypeExpr nat = node(Kind::Nat), unit = node(Kind::Unit);
    std::vector<CodecCase> cases;
    for (uint8_t k = 0; k <= QUARN_KIND_FLOAT_ARRAY; ++k) cases.push_back({node(static_cast<Kind>(k))});
    cases.push_back({node(Kind::Option, {node(Kind::Option, {nat})})});                    // 20
    cases.push_back({node(Kind::List, {nat})});                                            // 21
    cases.push_back({node(Kind::Array, {node(Kind::Prod, {node(Kind::Int), node(Kind::String)})})});
    cases.push_back({node(Kind::Except, {node(Kind::String), node(Kind::List, {unit})})});  // 23
    cases.push_back({node(Kind::Array, {node(Kind::Array, {unit})})});                     // 24
    cases.push_back({node(Kind::Inductive, {nat}, 0)});                                    // 25 MyList Nat
    cases.push_back({node(Kind::Inductive, {}, 1)});                                       // 26 Point
    cases.push_back({node(Kind::Array, {node(Kind::Inductive, {}, 2)})});                  // 27 Color
    cases.push_back({node(Kind::Inductive, {}, 4)});                                       // 28 Wrap
    cases.push_back({node(Kind::Inductive, {}, 5)});                                       // 29 Tree
    cases.push_back({node(Kind::Option, {node(Kind::Inductive, {}, 6)})});                 // 30 Loop
    cases.push_back({node(Kind::List, {node(Kind::Inductive, {}, 7)})});                   // 31 UnitBox
    cases.push_back({node(Kind::List, {node(Kind::Option, {node(Kind::Inductive,
                         {node(Kind::Except, {node(Kind::Char), node(Kind::Float32)})}, 0)})})});  // 32
    cases.push_back({node(Kind::Option, {node(Kind::Param, {}, 0)})});                     // 33
    cases.push_back({node(Kind::Opaque), false});                                          // 34
    cases.push_back({node(Kind::Prod, {node(Kind::Inductive, {}, 3), nat}), false});        // 35
    return cases;
}

// The sample table, loaded once, and the cases an input's first byte picks from.
struct Samples {
    const quarn_types *table;
    std::vector<CodecCase> cases = codec_cases();

    Samples() {
        std::vector<uint8_t> bytes = sample_table_bytes();
        quarn::Text error;
        table = quarn::wire::load_type_table(bytes.data(), bytes.size(), error);
        if (table == nullptr) std::abort();
    }
};

}  // namespace fuzz

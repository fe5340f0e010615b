// Type expressions, type tables and type handles in memory.
//
// A type expression is a small tree; a type table is the list of a program's inductive and
// opaque type definitions that `Inductive` nodes index into. Tables are immutable once
// loaded and are never freed; type handles pair an expression with the table it refers to.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/allocator.h"
#include "quarn/host.h"

namespace quarn::capi {

enum class Kind : std::uint8_t {
    Nat = QUARN_KIND_NAT,
    Int = QUARN_KIND_INT,
    Bool = QUARN_KIND_BOOL,
    UInt8 = QUARN_KIND_UINT8,
    UInt16 = QUARN_KIND_UINT16,
    UInt32 = QUARN_KIND_UINT32,
    UInt64 = QUARN_KIND_UINT64,
    USize = QUARN_KIND_USIZE,
    Int8 = QUARN_KIND_INT8,
    Int16 = QUARN_KIND_INT16,
    Int32 = QUARN_KIND_INT32,
    Int64 = QUARN_KIND_INT64,
    ISize = QUARN_KIND_ISIZE,
    Float = QUARN_KIND_FLOAT,
    Float32 = QUARN_KIND_FLOAT32,
    Char = QUARN_KIND_CHAR,
    String = QUARN_KIND_STRING,
    Unit = QUARN_KIND_UNIT,
    ByteArray = QUARN_KIND_BYTE_ARRAY,
    FloatArray = QUARN_KIND_FLOAT_ARRAY,
    Option = QUARN_KIND_OPTION,
    List = QUARN_KIND_LIST,
    Array = QUARN_KIND_ARRAY,
    Prod = QUARN_KIND_PROD,
    Except = QUARN_KIND_EXCEPT,
    Function = QUARN_KIND_FUNCTION,
    Param = QUARN_KIND_PARAM,
    Inductive = QUARN_KIND_INDUCTIVE,
    Opaque = QUARN_KIND_OPAQUE,
};
inline constexpr std::uint8_t kLastKind = QUARN_KIND_OPAQUE;

// The name a kind prints as in messages ("Nat", "UInt8", "Except", ...).
std::string_view kind_name(Kind kind) noexcept;

// One node of a type expression. Children: the element (Option, List, Array); first and
// second (Prod); error and value (Except); the parameters then the result (Function); the
// arguments (Inductive). `index` is the parameter number (Param) or the definition number
// (Inductive). Nodes own their children.
struct TypeExpr {
    Kind kind = Kind::Unit;
    std::uint32_t index = 0;
    Vector<TypeExpr> children;
};

// Scalar representation codes of definitions and scalar fields.
enum class Repr : std::uint8_t {
    Scalar8Boxed = 0,    // 8 bytes; alone, a one-scalar heap object
    Scalar4Boxed = 1,    // 4 bytes; alone, a one-scalar heap object
    Byte = 2,            // 1 byte; alone, a boxed scalar
    Scalar16 = 3,        // 2 bytes; alone, a boxed scalar
    Scalar32 = 4,        // 4 bytes; alone, a boxed scalar
    Scalar64Boxed = 5,   // 8 bytes; alone, a one-scalar heap object
    NotScalar = 6,
    Object = 7,
};

// The bytes a scalar representation takes in a constructor's scalar area; 0 for the two
// codes that are not scalars.
constexpr std::uint32_t repr_width(Repr repr) noexcept {
    switch (repr) {
        case Repr::Scalar8Boxed:
        case Repr::Scalar64Boxed:
            return 8;
        case Repr::Scalar4Boxed:
        case Repr::Scalar32:
            return 4;
        case Repr::Scalar16:
            return 2;
        case Repr::Byte:
            return 1;
        default:
            return 0;
    }
}

enum class FieldKind : std::uint8_t { Object = 0, USize = 1, Scalar = 2 };

struct Field {
    Text name;
    FieldKind kind = FieldKind::Object;
    std::uint32_t position = 0;  // object index, usize index, or byte offset in the scalar area
    Repr repr = Repr::Object;    // scalar fields only
    TypeExpr type;
};

struct Constructor {
    Text name;
    std::uint32_t tag = 0;
    std::uint32_t object_fields = 0;
    std::uint32_t usize_fields = 0;
    std::uint32_t scalar_size = 0;
    Vector<Field> fields;
};

struct Definition {
    Text name;
    bool opaque = false;
    std::uint32_t parameters = 0;
    Repr repr = Repr::Object;
    bool trivial = false;  // a trivial structure, represented by one field alone
    std::uint32_t trivial_constructor = 0;
    std::uint32_t trivial_field = 0;
    Vector<Constructor> constructors;
};

}  // namespace quarn::capi

// A loaded type table.
struct quarn_types {
    quarn::Vector<quarn::capi::Definition> definitions;
};

// A type handle: an expression and the table its Inductive nodes index into (or none).
struct quarn_type {
    quarn::capi::TypeExpr expr;
    const quarn_types *table = nullptr;
};

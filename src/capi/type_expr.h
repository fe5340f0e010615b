// Operations on type expressions shared by the type table, the type handles and the wire
// codecs: depth, checking against a table, instantiation of type parameters, and the
// diagnostic print form.
//
// Depth. Every routine here walks a type expression recursively, so expressions are kept
// at most kMaxTypeDepth nodes deep: the table loader, the handle constructors and
// instantiation all refuse deeper ones, which bounds the C stack any walk can use (and the
// recursion of a TypeExpr's destructor).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "capi/types.h"
#include "core/allocator.h"

namespace quarn::capi {

inline constexpr std::size_t kMaxTypeDepth = 256;

// "a type expression nested more than 256 deep".
Text too_deep_message();

// The number of nodes on the longest path from the root down (a leaf has depth 1).
std::size_t type_depth(const TypeExpr &type) noexcept;

// Checks `type` against `table` with `parameters` type parameters in scope: function
// arities of 1 to 15, parameter indexes below `parameters`, definition indexes inside the
// table and argument counts equal to each definition's parameter count. Returns false and
// the first failure's message in `error`.
bool check_type(const quarn_types &table, std::uint32_t parameters, const TypeExpr &type,
                Text &error);

// `type` with every Param i replaced by a copy of args[i]. Fails with "type parameter {} of
// {} is not instantiated" (the index, the number of arguments) when i is out of range, or
// with too_deep_message() when the result would be deeper than kMaxTypeDepth.
bool instantiate(const TypeExpr &type, std::span<const TypeExpr> args, TypeExpr &out,
                 Text &error);

// Whether the expression contains a Param node.
bool has_param(const TypeExpr &type) noexcept;

// The print form used in messages. A kind without payload prints as its name ("Nat");
// Option, List and Array print their element in parentheses ("List(Nat)"); Prod prints
// both components ("Prod(Nat, String)"); Param its index ("Param(0)"); Except, Function and
// Inductive print named parts in braces:
//     Except{error: String, value: Nat}
//     Function{params: [Nat, Bool], result: Unit}
//     Inductive{index: 2, args: [Nat]}
// Appends to `out`.
void append_type_text(Text &out, const TypeExpr &type);
Text type_text(const TypeExpr &type);

// Appends each piece to `out`.
inline void append_pieces(Text &out, std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces) out.append(piece);
}

}  // namespace quarn::capi

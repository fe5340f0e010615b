// Writing a type expression in its byte encoding (the mirror of decode_type_expr): the
// argument blocks of calls carry their type arguments this way.
#pragma once

#include "capi/types.h"
#include "wire/byte_sink.h"

namespace quarn::wire {

// Appends the encoding of `type`: its kind byte and payload, depth first. Expressions are at
// most capi::kMaxTypeDepth deep, which bounds the recursion.
void encode_type_expr(const capi::TypeExpr &type, ByteSink &out) noexcept;

}  // namespace quarn::wire

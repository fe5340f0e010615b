// Reading the byte encoding of a type expression: a kind byte (0 to 28) and its payload,
// depth first. Shared by the type table and the generated signatures of entry points.
#pragma once

#include "capi/types.h"
#include "wire/reader.h"

namespace quarn::wire {

// Reads one type expression into `out`. Fails (the message in the reader) with "unknown
// type tag {}" for a kind byte above 28, the reader's end-of-data and length messages, and
// "a type expression nested more than 256 deep" for expressions deeper than
// capi::kMaxTypeDepth. Nothing is checked against a table here (capi::check_type).
bool decode_type_expr(Reader &reader, capi::TypeExpr &out);

}  // namespace quarn::wire

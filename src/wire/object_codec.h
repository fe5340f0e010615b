// The wire format on the Lean side: runtime objects to bytes and bytes to runtime objects,
// for every type kind.
//
// Neither direction recurses on the C stack for the value: nested and recursive values
// (lists of a million cells, deep trees) are walked with an explicit stack, and the type
// side is bounded by the depth limit of type expressions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "capi/types.h"
#include "quarn/object.h"
#include "wire/byte_sink.h"
#include "wire/reader.h"

namespace quarn::wire {

// How handles in the bytes are read: borrowing leaves the handle live and gives a new
// reference to its object; adopting removes it and gives the table's reference.
enum class HandleMode : std::uint8_t { Borrow, Adopt };

// Lists and arrays of elements that take no bytes (List Unit) are written as their count
// alone. So that a few bytes cannot demand megabytes, one value may hold at most this many
// such elements in all; more fail with "a value holds more than 65536 list or array elements
// that take no bytes".
inline constexpr std::uint32_t kMaxZeroSizeElements = 1u << 16;

// Parts of a value that take no bytes (Unit values, pairs) read in a row without any byte in
// between; more fail with "a value holds more than 4194304 parts in a row without bytes".
// Only a type without finite values (a trivial structure holding a pair of itself) reaches
// this, whose reading would otherwise never end.
inline constexpr std::uint64_t kMaxPartsWithoutBytes = 1u << 22;

// Appends the bytes of `value` as a value of `type`, whose Inductive nodes index into
// `table` (null when it has none). The value comes from compiled code and is trusted: a
// value that does not match its type is fatal (the internal panic), as is a count or length
// of 2^32 or more. Closures and opaque objects are registered in the handle table (one new
// reference each). Borrows `value`.
void encode_object(const quarn_types *table, const capi::TypeExpr &type, quarn_object *value,
                   ByteSink &out) noexcept;

// Reads one value of `type` from the reader's position. Returns an owned reference, or null
// with the message in the reader (nothing is left allocated; handles adopted before the
// failure stay adopted and their objects are released). Host-function values (function
// kind 1) become closure_of_host_function.
quarn_object *decode_object(const quarn_types *table, const capi::TypeExpr &type,
                            Reader &reader, HandleMode mode) noexcept;

// The same for bytes that hold exactly one value: bytes left over fail with "{} unexpected
// bytes after the wire data".
quarn_object *decode_object_exact(const quarn_types *table, const capi::TypeExpr &type,
                                  const std::uint8_t *bytes, std::size_t length, HandleMode mode,
                                  Text &error) noexcept;

// A Lean closure that calls host function `id` when applied, for a value of the function
// type whose parameter types and result type are `function_type` (the parameters, then the
// result), with Inductive nodes indexing into `table`. Borrowing mode takes a new reference
// to the host function first; adopting mode takes over the reference the bytes carried.
// Without installed host entry points ends the process with "no quarn host is installed to
// call host functions". Returns an owned reference (host_function_closure.cpp).
quarn_object *closure_of_host_function(const quarn_types *table,
                                       std::span<const capi::TypeExpr> function_type,
                                       std::uint64_t id, HandleMode mode) noexcept;

}  // namespace quarn::wire

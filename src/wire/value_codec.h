// Host values to wire bytes and back. Both directions walk the value and its type with their
// own stack on the heap, so values nested a million deep cost heap, not C stack. Reading
// never trusts a length: counts are checked against the bytes that remain before anything
// is allocated. Errors come back as text for the caller to wrap; only a length of 2^32 or
// more is fatal ("a value exceeds the wire format's 2^32 length limit"). Any thread: the
// codecs keep no state of their own and do not touch the handle table (handles and host
// function numbers are copied as numbers).
#pragma once

#include <cstdint>
#include <string_view>

#include "capi/types.h"
#include "capi/value.h"
#include "core/allocator.h"
#include "wire/byte_sink.h"
#include "wire/reader.h"

namespace quarn::wire {

// Appends the bytes of v read as type t, whose Inductive nodes index into `table`. On a
// mismatch returns false with the message in `error`; what was appended is then meaningless.
// Borrows v and t.
bool write_value(const quarn_value &v, const capi::TypeExpr &t, const quarn_types *table,
                 ByteSink &out, Text &error);

// write_value of the type handle's expression and table into an empty buffer record (the
// bytes' storage is handed over; the receiver frees it with quarn_buffer_free). A record that
// is not empty is fatal: "<function>: a quarn buffer was filled twice". Returns false with
// the message in `error`, the record left empty. Borrows v and type.
bool write_value_to_buffer(const quarn_value &v, const quarn_type &type, quarn_buffer *buffer,
                           std::string_view function, Text &error);

// Reads one value of type t from the reader. Returns a value owned by the caller, or null
// with the message in the reader (in.error()) and nothing left behind.
quarn_value *read_value(Reader &in, const capi::TypeExpr &t, const quarn_types *table);

// Reads exactly one value of type t from the bytes: bytes left after it fail with "{}
// unexpected bytes after the wire data". Returns an owned value, or null with the message in
// `error`.
quarn_value *decode_value(const std::uint8_t *bytes, std::size_t length, const capi::TypeExpr &t,
                          const quarn_types *table, Text &error);

}  // namespace quarn::wire

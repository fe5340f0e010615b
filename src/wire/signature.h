// Generated signatures: the bytes that describe an entry point's or a host extern's type
// parameters, parameter types and result (a pure value, an IO result, an EIO result, or an
// async program), read into memory, checked against a type table and instantiated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "capi/types.h"
#include "core/allocator.h"
#include "wire/reader.h"

namespace quarn::wire {

enum class ResultKind : std::uint8_t { Pure = 0, Io = 1, Eio = 2, Async = 3 };

// What a function returns. `value` is the value type (pure, IO, EIO) or the async program's
// result type; `error` the EIO error type; `operations` the definition index of an async
// program's operations type and `answers` one answer type per operation constructor, in
// constructor order.
struct ResultDescription {
    ResultKind kind = ResultKind::Pure;
    capi::TypeExpr value;
    capi::TypeExpr error;
    std::uint32_t operations = 0;
    Vector<capi::TypeExpr> answers;
};

struct Signature {
    std::uint32_t type_parameters = 0;
    Vector<capi::TypeExpr> params;
    ResultDescription result;
};

// Reads a result description at the reader's position: the kind byte ("invalid result kind
// {}" for another) and its types. False with the message in the reader.
bool read_result_description(Reader &reader, ResultDescription &out);

// Reads a whole signature; bytes left over fail with "{} unexpected bytes after the wire
// data". False with the message in `error`.
bool read_signature(const std::uint8_t *bytes, std::size_t length, Signature &out, Text &error);

// Checks the description against `table` with `type_parameters` in scope: the value and
// error types; for an async program the operations index ("operation type index {} outside
// the type table"), its definition ("{} cannot be the operations of an async program" for an
// opaque or generic one), the answer count ("{} answers for the {} operations of {}"), the
// answers with no type parameter in scope. False with the first message in `error`.
bool check_result_description(const quarn_types &table, std::uint32_t type_parameters,
                              const ResultDescription &description, Text &error);

// check_result_description, and every parameter type checked the same way.
bool check_signature(const quarn_types &table, const Signature &signature, Text &error);

// The signature with every Param i replaced by type_args[i] (type_args.size() equals the
// type parameter count); the result has no type parameters. False with the message in
// `error`.
bool instantiate_signature(const Signature &signature, std::span<const capi::TypeExpr> type_args,
                           Signature &out, Text &error);

}  // namespace quarn::wire

// The call object of a generated entry point: the argument block it reads, the type
// arguments at the block's head, the result block it writes and the first error. Shared by
// the pure, IO and EIO writers and by the writer of async program steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "capi/types.h"
#include "core/allocator.h"
#include "quarn/entry.h"
#include "wire/byte_sink.h"
#include "wire/reader.h"

struct quarn_call {
    quarn_call(const quarn_types *table, const std::uint8_t *block, std::size_t length) noexcept;

    // Records `message` unless an error is recorded already (the first one is kept).
    void record(std::string_view message);
    bool failed() const noexcept { return failed_; }
    const quarn::Text &error() const noexcept { return error_; }

    const quarn_types *table;
    // The private copy of the block and the read position in it.
    quarn::Vector<std::uint8_t> block;
    quarn::wire::Reader reader;
    quarn::Vector<quarn::capi::TypeExpr> type_args;
    quarn::wire::ByteSink output;

private:
    bool failed_ = false;
    quarn::Text error_;
};

namespace quarn::capi {

// The type that generated code gives as `bytes` (one type expression, nothing after it),
// instantiated with `type_args` and checked against `table`. Ends the process with
// "<function>: a generated type expression is invalid: <why>" when the bytes cannot be read or
// the type does not fit the table, and "<function>: a generated signature does not match its
// call: <why>" when it names a type parameter the call does not have.
void generated_type(std::string_view function, const std::uint8_t *bytes, std::size_t length,
                    const quarn_types &table, std::span<const TypeExpr> type_args,
                    TypeExpr &out) noexcept;

// The call behind a pointer that generated code passed; null ends the process with
// "<function>: a null pointer".
quarn_call &expect_call(quarn_call *call, std::string_view function) noexcept;

}  // namespace quarn::capi

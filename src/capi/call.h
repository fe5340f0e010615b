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
    // A new call holding a private copy of the block, in one allocation with the record.
    static quarn_call *create(const quarn_types *table, const std::uint8_t *block, std::size_t length) noexcept;
    static void destroy(quarn_call *call) noexcept;

    // The type generated code gives as bytes (see generated_type below). The last one is
    // kept, keyed by its bytes: entry points give the same few types again and again. The
    // reference is valid until the next call.
    const quarn::capi::TypeExpr &type(std::string_view function, const std::uint8_t *bytes,
                                      std::size_t length) noexcept;

    // Records `message` unless an error is recorded already (the first one is kept).
    void record(std::string_view message);
    bool failed() const noexcept { return failed_; }
    const quarn::Text &error() const noexcept { return error_; }

    const quarn_types *table;
    // The read position in the private copy of the block, which follows the record.
    quarn::wire::Reader reader;
    quarn::Vector<quarn::capi::TypeExpr> type_args;
    quarn::wire::ByteSink output;

private:
    quarn_call(const quarn_types *table, const std::uint8_t *copy, std::size_t length) noexcept
        : table(table), reader(copy, length) {}

    bool failed_ = false;
    quarn::Text error_;
    static constexpr std::size_t kCachedTypeBytes = 32;
    std::uint8_t cached_bytes_[kCachedTypeBytes];
    std::size_t cached_length_ = SIZE_MAX;  // none yet
    quarn::capi::TypeExpr cached_type_;
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

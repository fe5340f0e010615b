// The process-wide resumption table: the async programs that wait for a host's answer, by
// resumption id. Ids come from an atomic counter, start at 1 and are never reused. One mutex,
// held only for the map operation: never while Lean code runs or a continuation is released.
// Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "capi/types.h"
#include "core/allocator.h"
#include "quarn/object.h"

namespace quarn::capi {

// What every step of one async program is read and written with; immutable and shared by
// the program's pending records.
struct AsyncTypes {
    const quarn_types *table = nullptr;
    std::uint32_t operations = 0;  // the definition index of the operations type
    TypeExpr operation;            // Inductive of `operations`, no arguments
    Vector<TypeExpr> answers;      // one per operation constructor, in constructor order
    TypeExpr result;               // the program's result type, instantiated
};
using SharedAsyncTypes = std::shared_ptr<const AsyncTypes>;

SharedAsyncTypes make_async_types(const quarn_types *table, std::uint32_t operations,
                                  Vector<TypeExpr> answers, TypeExpr result) noexcept;

// A program waiting for the answer to one operation.
struct Pending {
    SharedAsyncTypes types;
    std::uint32_t constructor = 0;         // the operation's constructor index
    quarn_object *continuation = nullptr;  // owned, multi-threaded
};

// Inserts the record under a new id and returns the id. Takes over the record.
std::uint64_t add_resumption(Pending pending) noexcept;

// The types and constructor of a live record, which stays in the table (no continuation).
std::optional<Pending> peek_resumption(std::uint64_t id) noexcept;

// Removes a live record and hands it over with its continuation.
std::optional<Pending> take_resumption(std::uint64_t id) noexcept;

// Removes a live record and releases its continuation; false when none was live.
bool cancel_resumption(std::uint64_t id) noexcept;

std::size_t resumption_count() noexcept;

}  // namespace quarn::capi

// Making, discarding and checking host value records: what every function over host values
// shares. Records come from the C heap through the panicking allocator, so running out of
// memory is the "out of memory" internal panic.
#pragma once

#include <cstdint>
#include <string_view>

#include "capi/fatal.h"
#include "capi/value.h"

namespace quarn::capi {

// A new record of the kind with an empty payload. Returns a record owned by the caller.
quarn_value *new_value(Kind kind) noexcept;

// What discarding a tree does with the handles its opaque values and Lean closure values own.
enum class Handles : std::uint8_t {
    Release,  // release each one in the handle table, and each host function reference
    Keep,     // leave the table and the host alone (the tree never owned them, or they moved)
};

// Frees the tree rooted at v, without recursion on the C stack, handling children that are
// still null (a tree whose reading stopped half-way). `function` names the caller in the
// fatal report of a handle that is not live. Consumes v; null is ignored.
void free_tree(quarn_value *v, Handles handles, std::string_view function) noexcept;

// Whether the value owns a handle of the handle table: an opaque value or a function value
// holding a Lean closure.
inline bool owns_handle(const quarn_value &v) noexcept {
    return v.kind == Kind::Opaque || (v.kind == Kind::Function && v.flag == 0);
}

// Whether the value owns one reference to a host function: a function value of function
// kind 1. Freeing the tree releases it through the installed host; copying retains it.
inline bool owns_host_function(const quarn_value &v) noexcept {
    return v.kind == Kind::Function && v.flag == 1;
}

// The name a host value kind has in the message "the value is {}": "a Nat", "Unit",
// "a constructor", ...
std::string_view value_kind_description(Kind kind) noexcept;

// The value, after checking that it is not null and has the kind; otherwise ends the process
// with "<function>: a null pointer" or "<function>: the value is <kind description>".
const quarn_value &expect_kind(const quarn_value *v, Kind kind, std::string_view function) noexcept;

// The same for functions that accept either of two kinds.
const quarn_value &expect_kind(const quarn_value *v, Kind kind, Kind other,
                               std::string_view function) noexcept;

// The decimal digits of an unsigned 64-bit number.
struct UnsignedDecimal {
    char digits[24];
    std::size_t size;
    operator std::string_view() const noexcept { return {digits, size}; }
};
UnsignedDecimal unsigned_decimal(std::uint64_t n) noexcept;

}  // namespace quarn::capi

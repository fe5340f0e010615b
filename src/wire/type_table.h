// Reading and validating a type table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capi/types.h"
#include "core/allocator.h"

namespace quarn::wire {

// Reads the table's bytes and validates every definition. Returns the loaded table, kept
// for the rest of the process, or null with the detail message in `error`. Any thread.
const quarn_types *load_type_table(const std::uint8_t *bytes, std::size_t length, Text &error);

// The largest payload of usize slots and scalar bytes a constructor object can have.
inline constexpr std::uint32_t kMaxConstructorScalarBytes = 1023;

}  // namespace quarn::wire

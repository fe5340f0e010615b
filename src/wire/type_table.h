// Reading and validating a type table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capi/types.h"
#include "core/allocator.h"

namespace quarn::wire {

// Reads the table's bytes into `table` and validates every definition. Returns false with
// the detail message in `error` at the first failure.
bool read_type_table(const std::uint8_t *bytes, std::size_t length, quarn_types &table, Text &error);

// read_type_table into a table that is kept for the rest of the process. Returns it, or null
// with the detail message in `error`. Any thread.
const quarn_types *load_type_table(const std::uint8_t *bytes, std::size_t length, Text &error);

// The largest payload of usize slots and scalar bytes a constructor object can have.
inline constexpr std::uint32_t kMaxConstructorScalarBytes = 1023;

}  // namespace quarn::wire

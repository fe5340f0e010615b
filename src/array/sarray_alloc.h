// Allocating scalar arrays (byte arrays and float arrays).
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn/object.h"

namespace quarn::array {

// A new scalar array with rc 1, room for `capacity` elements of `element_size` bytes and
// the given size (elements not written). A byte count that overflows ends the process with
// "integer overflow in runtime computation"; one too large to allocate with "out of memory".
quarn_sarray_object *allocate_sarray(uint8_t element_size, size_t size, size_t capacity) noexcept;

// Whether a byte array of n bytes can be had at all: its block must be representable and
// must fit in the machine's memory and swap together. A refused allocation would end the
// process, so primitives whose callers choose a size check it first and report ENOMEM.
bool can_allocate_bytes(uint64_t n) noexcept;

// A new byte array holding a copy of n bytes; size = capacity = n.
quarn_object *make_byte_array(const void *bytes, size_t n) noexcept;

}  // namespace quarn::array

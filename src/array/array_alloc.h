// Allocating arrays of values.
#pragma once

#include <cstddef>

#include "quarn/object.h"

namespace quarn::array {

// A new array with rc 1, room for `capacity` elements and the given size (elements not
// written). A byte count that overflows ends the process with "integer overflow in runtime
// computation"; one too large to allocate with "out of memory".
quarn_array_object *allocate_array(size_t size, size_t capacity) noexcept;

inline quarn_array_object *as_array(quarn_object *o) noexcept {
    return reinterpret_cast<quarn_array_object *>(o);
}

inline quarn_sarray_object *as_sarray(quarn_object *o) noexcept {
    return reinterpret_cast<quarn_sarray_object *>(o);
}

}  // namespace quarn::array

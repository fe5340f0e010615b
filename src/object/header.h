// Writing the header of a new object.
#pragma once

#include <cstring>

#include "object/heap.h"
#include "quarn/object.h"

namespace quarn::object {

// A new object of `size` bytes with rc 1, cs_sz 0 and the given tag and `other` byte.
inline quarn_object *allocate_object(size_t size, uint8_t tag, uint8_t other = 0) noexcept {
    // One store of the whole header word: rc 1, cs_sz 0, other, tag.
    uint64_t header = uint64_t{tag} << 56 | uint64_t{other} << 48 | 1u;
    return allocate_with_header(size, header);
}

}  // namespace quarn::object

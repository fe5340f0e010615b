#include "array/sarray_alloc.h"

#include <sys/sysinfo.h>

#include <cstring>

#include "core/checked_math.h"
#include "object/header.h"

namespace quarn::array {

quarn_sarray_object *allocate_sarray(uint8_t element_size, size_t size, size_t capacity) noexcept {
    size_t bytes = checked_add(checked_mul(capacity, element_size), sizeof(quarn_sarray_object));
    auto *a = reinterpret_cast<quarn_sarray_object *>(
        object::allocate_object(bytes, QUARN_TAG_SCALAR_ARRAY, element_size));
    a->size = size;
    a->capacity = capacity;
    return a;
}

bool can_allocate_bytes(uint64_t n) noexcept {
    constexpr uint64_t kHeader = sizeof(quarn_sarray_object) + sizeof(size_t);
    if (n > object::detail::kLargestBlock - kHeader) return false;
    struct sysinfo info;
    if (::sysinfo(&info) != 0) return true;
    unsigned __int128 memory = static_cast<unsigned __int128>(info.totalram + info.totalswap) * info.mem_unit;
    return n <= memory;
}

quarn_object *make_byte_array(const void *bytes, size_t n) noexcept {
    quarn_sarray_object *a = allocate_sarray(1, n, n);
    if (n != 0) std::memcpy(a->data, bytes, n);
    return &a->header;
}

}  // namespace quarn::array

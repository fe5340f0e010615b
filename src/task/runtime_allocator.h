// A standard-library allocator over the runtime's allocation primitive, so that the
// manager's containers end the process with "out of memory" instead of throwing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/panic.h"
#include "object/heap.h"

namespace quarn::task {

template <typename T>
struct RuntimeAllocator {
    using value_type = T;

    RuntimeAllocator() noexcept = default;
    template <typename U>
    RuntimeAllocator(const RuntimeAllocator<U> &) noexcept {}

    T *allocate(size_t n) noexcept {
        if (n > SIZE_MAX / sizeof(T)) internal_panic(kOutOfMemory);
        return static_cast<T *>(object::allocate_bytes(n * sizeof(T)));
    }
    void deallocate(T *p, size_t) noexcept { object::free_bytes(p); }

    template <typename U>
    bool operator==(const RuntimeAllocator<U> &) const noexcept { return true; }
};

}  // namespace quarn::task

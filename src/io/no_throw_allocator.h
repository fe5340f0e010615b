// An allocator for standard containers and shared pointers inside the runtime: memory
// comes from the C heap and exhaustion is the internal panic, never an exception.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "core/panic.h"

namespace quarn::io {

template <typename T>
struct NoThrowAllocator {
    using value_type = T;

    NoThrowAllocator() noexcept = default;
    template <typename U>
    NoThrowAllocator(const NoThrowAllocator<U> &) noexcept {}

    T *allocate(size_t n) noexcept {
        void *p = n > SIZE_MAX / sizeof(T) ? nullptr : std::malloc(n * sizeof(T));
        if (p == nullptr) internal_panic(kOutOfMemory);
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t) noexcept { std::free(p); }

    template <typename U>
    bool operator==(const NoThrowAllocator<U> &) const noexcept {
        return true;
    }
};

}  // namespace quarn::io

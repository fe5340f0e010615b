// Containers inside the runtime take their memory through PanicAllocator, so that running
// out of memory ends in the "out of memory" internal panic like every other allocation of
// the runtime, instead of a std::bad_alloc escaping a noexcept entry point. Blocks come from
// the C heap: they are the runtime's own bookkeeping, not Lean objects.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/panic.h"

namespace quarn {

template <typename T>
struct PanicAllocator {
    using value_type = T;

    PanicAllocator() noexcept = default;
    template <typename U>
    PanicAllocator(const PanicAllocator<U> &) noexcept {}

    T *allocate(std::size_t n) noexcept {
        if (n > SIZE_MAX / sizeof(T)) internal_panic(kOutOfMemory);
        void *block = std::malloc(n * sizeof(T));
        if (block == nullptr) internal_panic(kOutOfMemory);
        return static_cast<T *>(block);
    }
    void deallocate(T *block, std::size_t) noexcept { std::free(block); }

    template <typename U>
    bool operator==(const PanicAllocator<U> &) const noexcept {
        return true;
    }
};

// Text and lists the runtime builds for itself (messages, backtraces, arguments).
using Text = std::basic_string<char, std::char_traits<char>, PanicAllocator<char>>;
template <typename T>
using Vector = std::vector<T, PanicAllocator<T>>;

// The decimal digits of n, in a buffer of the caller's stack.
struct Decimal {
    char digits[24];
    std::size_t size;
    operator std::string_view() const noexcept { return {digits, size}; }
};
Decimal decimal(long long n) noexcept;

}  // namespace quarn

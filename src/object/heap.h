// The runtime's one allocation primitive. Every object lives in a block whose first word
// holds the object's size (counted from the header); the object pointer is the block
// address + 8. Which allocator serves the blocks is decided here alone: mimalloc, or the C
// heap in sanitizer builds so that the sanitizers see every block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#ifndef QUARN_SYSTEM_MALLOC
#include <mimalloc.h>
#endif

#include "core/panic.h"
#include "quarn/object.h"

namespace quarn::object {

namespace detail {

#ifdef QUARN_SYSTEM_MALLOC
inline void *heap_malloc(size_t n) noexcept { return std::malloc(n); }
inline void *heap_realloc(void *p, size_t n) noexcept { return std::realloc(p, n); }
inline void heap_free(void *p) noexcept { std::free(p); }
#else
// Most objects are small: mimalloc's small-block path skips the size-class search.
inline void *heap_malloc(size_t n) noexcept {
    return n <= MI_SMALL_SIZE_MAX ? mi_malloc_small(n) : mi_malloc(n);
}
inline void *heap_realloc(void *p, size_t n) noexcept { return mi_realloc(p, n); }
inline void heap_free(void *p) noexcept { mi_free(p); }
#endif

// Blocks above this size cannot be indexed with a signed size; they are refused up front.
inline constexpr size_t kLargestBlock = static_cast<size_t>(std::numeric_limits<ptrdiff_t>::max());

// The test suite's build counts live objects; the shipped library does not.
#ifdef QUARN_TRACK_LIVE_OBJECTS
void count_live_objects(int64_t delta) noexcept;
#else
inline void count_live_objects(int64_t) noexcept {}
#endif

}  // namespace detail

// A block for an object of `size` bytes, size word written, header not. Ends the process
// with "out of memory" when the allocator refuses or the size cannot be represented.
inline quarn_object *allocate(size_t size) noexcept {
    if (size > detail::kLargestBlock - sizeof(size_t)) [[unlikely]]
        internal_panic(kOutOfMemory);
    void *block = detail::heap_malloc(size + sizeof(size_t));
    if (block == nullptr) [[unlikely]]
        internal_panic(kOutOfMemory);
    detail::count_live_objects(1);
    auto *size_word = static_cast<size_t *>(block);
    *size_word = size;
    return reinterpret_cast<quarn_object *>(size_word + 1);
}

// Returns the block of o to the allocator. The object's children are not looked at.
inline void deallocate(quarn_object *o) noexcept {
    detail::count_live_objects(-1);
    detail::heap_free(reinterpret_cast<size_t *>(o) - 1);
}

// The size word in front of the object.
inline size_t object_size(const quarn_object *o) noexcept {
    return reinterpret_cast<const size_t *>(o)[-1];
}

// Raw buffers owned by objects (digit arrays) or by the runtime (walk stacks). The same
// allocator serves them; failures end the process with "out of memory".
inline void *allocate_bytes(size_t n) noexcept {
    if (n > detail::kLargestBlock) [[unlikely]]
        internal_panic(kOutOfMemory);
    void *p = detail::heap_malloc(n == 0 ? 1 : n);
    if (p == nullptr) [[unlikely]]
        internal_panic(kOutOfMemory);
    return p;
}

inline void *reallocate_bytes(void *p, size_t n) noexcept {
    if (n > detail::kLargestBlock) [[unlikely]]
        internal_panic(kOutOfMemory);
    void *q = detail::heap_realloc(p, n == 0 ? 1 : n);
    if (q == nullptr) [[unlikely]]
        internal_panic(kOutOfMemory);
    return q;
}

inline void free_bytes(void *p) noexcept { detail::heap_free(p); }

// Objects allocated and not yet freed, process-wide. Only the test suite's build keeps
// this count.
int64_t live_objects() noexcept;

}  // namespace quarn::object

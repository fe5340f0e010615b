// The runtime's one allocation primitive. Every object lives in a block whose first word
// holds the object's size (counted from the header); the object pointer is the block
// address + 8. Which allocator serves the blocks is decided here alone: mimalloc, or the C
// heap in sanitizer builds so that the sanitizers see every block. Small objects are served
// from per-thread caches in front of it (small_blocks.h), except under AddressSanitizer,
// which must see every block come and go; ThreadSanitizer builds keep the caches, over the
// C heap, so that it watches them too. Large blocks are mappings of their own (below).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#ifndef QUARN_SYSTEM_MALLOC
#include <mimalloc.h>
#endif

#include "core/panic.h"
#include "object/small_blocks.h"
#include "quarn/object.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUARN_SMALL_BLOCK_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARN_SMALL_BLOCK_CACHE 0
#endif
#endif
#ifndef QUARN_SMALL_BLOCK_CACHE
#define QUARN_SMALL_BLOCK_CACHE 1
#endif
// Large blocks are mappings of their own, except under the sanitizers: AddressSanitizer must
// see every block, and ThreadSanitizer does not follow a mapping that the kernel moves.
#if defined(__SANITIZE_THREAD__)
#define QUARN_MAPPED_BLOCKS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUARN_MAPPED_BLOCKS 0
#endif
#endif
#ifndef QUARN_MAPPED_BLOCKS
#define QUARN_MAPPED_BLOCKS QUARN_SMALL_BLOCK_CACHE
#endif

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

// Blocks of kSmallestMappedBlock bytes or more (size word included) are mappings of their
// own, straight from the system: unmapped as soon as they are freed, grown by the kernel
// without a copy (reallocate_object), and backed by huge pages where the system allows. The
// allocator would otherwise hand such blocks back to the system, or purge them, on its own
// schedule, and a program that makes one large string after another would fault every page
// of each one in again. The size word tells a mapped block from another.
inline constexpr size_t kSmallestMappedBlock = size_t{4} << 20;

inline bool is_mapped_block(size_t block_bytes) noexcept {
    return QUARN_MAPPED_BLOCKS && block_bytes >= kSmallestMappedBlock;
}

// A new mapping of at least `bytes` (null if refused), its end, and a mapping moved or grown
// to `new_bytes` (null if refused; the old one then stays as it was).
void *map_block(size_t bytes) noexcept;
void unmap_block(void *block, size_t bytes) noexcept;
void *remap_block(void *block, size_t old_bytes, size_t new_bytes) noexcept;

// The test suite's build counts live objects; the shipped library does not.
#ifdef QUARN_TRACK_LIVE_OBJECTS
void count_live_objects(int64_t delta) noexcept;
#else
inline void count_live_objects(int64_t) noexcept {}
#endif

}  // namespace detail

// The slow half of allocate(): a cache miss or a large object. Writes the size word and,
// when `header` is not 0, the header word too, so that callers can hand over their whole
// job in a tail call and keep their fast path free of calls.
quarn_object *allocate_slow(size_t size, uint64_t header) noexcept;

// A block for an object of `size` bytes, size word written, header not. Ends the process
// with "out of memory" when the allocator refuses or the size cannot be represented.
[[gnu::always_inline]] inline quarn_object *allocate(size_t size) noexcept {
    if (QUARN_SMALL_BLOCK_CACHE && size - 1 < small_blocks::kLargestCachedObject) {
        if (void *block = small_blocks::try_take(small_blocks::class_of(size))) [[likely]] {
            detail::count_live_objects(1);
            auto *size_word = static_cast<size_t *>(block);
            *size_word = size;
            return reinterpret_cast<quarn_object *>(size_word + 1);
        }
    }
    return allocate_slow(size, 0);
}

// A block for an object of `size` bytes with its size word and the given header word.
[[gnu::always_inline]] inline quarn_object *allocate_with_header(size_t size,
                                                                 uint64_t header) noexcept {
    if (QUARN_SMALL_BLOCK_CACHE && size - 1 < small_blocks::kLargestCachedObject) {
        if (void *block = small_blocks::try_take(small_blocks::class_of(size))) [[likely]] {
            detail::count_live_objects(1);
            auto *words = static_cast<uint64_t *>(block);
            words[0] = size;
            words[1] = header;
            return reinterpret_cast<quarn_object *>(words + 1);
        }
    }
    return allocate_slow(size, header);
}

// The size word in front of the object.
inline size_t object_size(const quarn_object *o) noexcept {
    return reinterpret_cast<const size_t *>(o)[-1];
}

// Returns the block of o to the allocator. The object's children are not looked at.
inline void deallocate(quarn_object *o) noexcept {
    detail::count_live_objects(-1);
    size_t size = object_size(o);
    void *block = reinterpret_cast<size_t *>(o) - 1;
    if (QUARN_SMALL_BLOCK_CACHE && size - 1 < small_blocks::kLargestCachedObject)
        small_blocks::give(block, small_blocks::class_of(size));
    else if (detail::is_mapped_block(size + sizeof(size_t)))
        detail::unmap_block(block, size + sizeof(size_t));
    else
        detail::heap_free(block);
}

// Gives the exclusive object o a size of `new_size` bytes, keeping its first `keep` bytes
// (header included), and returns it, moved or not: a mapped block grows in place or moves
// without a copy, any other one is copied into a new block. Ends the process with "out of
// memory" when refused. Consumes o.
quarn_object *reallocate_object(quarn_object *o, size_t new_size, size_t keep) noexcept;

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

// Per-thread caches of small blocks, in front of the C-level allocator (heap.h).
//
// Almost every object a program makes is small (constructors, closures, thunks, cells,
// boxed numbers, short strings) and dies soon. Each thread keeps, for every size class of
// 8 bytes up to objects of kLargestCachedObject bytes, a list of blocks that it freed
// earlier and hands them out again without asking the allocator: taking a block is a pop
// from a thread-local list, giving one back is a push.
//
// Blocks are plain allocator blocks of the class's full size, so any thread may take a block
// that another thread allocated and either keep it in its own cache or give it back to the
// allocator: an object released on another thread than the one that made it simply joins
// the releasing thread's cache. No thread ever touches another thread's cache, so the lists
// need no lock and no atomic operation, and a block is on at most one list at a time.
//
// Each list is bounded (cache_bound): a release onto a full list first hands a batch of the
// list's blocks back to the allocator, so a thread never holds more than kCacheBytesPerClass
// per class; a take from an empty list fetches a batch from the allocator. The lists
// keep no counters of their own: each free block records how many more blocks its list may
// take on top of it, and a list never ends in null but in a shared end block (ListEnds)
// that says how much room an empty list has. So a take is two loads and a store, and a give
// reads the room from the block it goes on top of. When a thread ends, its cache is emptied
// into the allocator. The main thread's cache is left as it is when the process ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn::object::small_blocks {

// Objects of up to this many bytes (size word excluded) are served from the caches.
inline constexpr size_t kLargestCachedObject = 256;
inline constexpr size_t kClassGranularity = 8;
inline constexpr size_t kClasses = kLargestCachedObject / kClassGranularity;
// The most bytes of blocks one thread keeps per class.
inline constexpr size_t kCacheBytesPerClass = 64 * 1024;

// The class of an object of `size` bytes, 1 <= size <= kLargestCachedObject.
constexpr size_t class_of(size_t size) noexcept { return (size - 1) / kClassGranularity; }
// The size of the blocks of a class: the size word plus the largest object of the class.
constexpr size_t block_size(size_t cls) noexcept {
    return sizeof(size_t) + (cls + 1) * kClassGranularity;
}
// How many blocks a thread keeps at most in a class.
constexpr size_t cache_bound(size_t cls) noexcept {
    return kCacheBytesPerClass / block_size(cls);
}

// How many blocks a miss takes from the allocator at once, and how many a full list hands
// back to it at once: a quarter of the bound, and at most kLargestBatch.
inline constexpr size_t kLargestBatch = 64;
constexpr size_t batch_size(size_t cls) noexcept {
    return cache_bound(cls) / 4 < kLargestBatch ? cache_bound(cls) / 4 : kLargestBatch;
}

// A free block on a list. Its first word (the size word while it held an object) links it
// to the next block of the list; its second (the header) says how many more blocks the list
// may take on top of it. A block whose link is null is a list end, never handed out.
struct FreeBlock {
    FreeBlock *next;
    size_t room;
};

// The ends of the lists, shared by all threads and never written. An open cache's empty
// list of class c is open[c], with room for the class's whole bound; every list of a cache
// that is not open (not yet, or no longer, after its thread ended) is `none`, which has no
// room, so that a release there takes the slow path.
struct ListEnds {
    FreeBlock open[kClasses];
    FreeBlock none;
};
extern const ListEnds list_ends;

// One thread's cache.
struct ThreadCache {
    FreeBlock *free[kClasses];
    enum State : uint8_t { kUnopened, kOpen, kClosed } state;
};

// Initial-exec: the cache is reached at a fixed offset from the thread pointer, with no
// call to the TLS resolver. Every list starts at list_ends.none.
extern thread_local constinit ThreadCache cache __attribute__((tls_model("initial-exec")));

// A block for class cls from the allocator (null if refused), for a miss; an open cache's
// empty list is refilled with a batch first.
void *take_slow(size_t cls) noexcept;

// The slow half of give(): opens the cache on a thread's first release, makes room on a
// full list by handing a batch back to the allocator, or hands the block itself back when
// the thread's cache is closed.
void give_slow(void *block, size_t cls) noexcept;

// A block from the list of class cls, or null when that list is empty.
[[gnu::always_inline]] inline void *try_take(size_t cls) noexcept {
    ThreadCache &c = cache;
    FreeBlock *b = c.free[cls];
    FreeBlock *next = b->next;
    if (next == nullptr) [[unlikely]]
        return nullptr;
    c.free[cls] = next;
    return b;
}

// A block for class cls: a cached one if there is one, else a new one (null if refused).
inline void *take(size_t cls) noexcept {
    void *b = try_take(cls);
    return b != nullptr ? b : take_slow(cls);
}

// Gives back a block of class cls. A full list, or one of a cache that is not open, sends
// it on to give_slow (a mass release, such as a long list, ends up there once per batch).
[[gnu::always_inline]] inline void give(void *block, size_t cls) noexcept {
    ThreadCache &c = cache;
    FreeBlock *head = c.free[cls];
    size_t room = head->room;
    if (room == 0) [[unlikely]]
        return give_slow(block, cls);
    auto *b = static_cast<FreeBlock *>(block);
    b->next = head;
    b->room = room - 1;
    c.free[cls] = b;
}

// For tests: the blocks that the calling thread holds in its cache (in one class, and in
// all), and the blocks that threads have handed back to the allocator when they ended,
// process-wide.
size_t blocks_held_by_this_thread(size_t cls) noexcept;
size_t blocks_held_by_this_thread() noexcept;
uint64_t blocks_returned_at_thread_exit() noexcept;

}  // namespace quarn::object::small_blocks

// The slow paths of the per-thread small-block caches: misses, opening a thread's cache,
// overflow, and emptying the cache when its thread ends.
#include "object/small_blocks.h"

#include <pthread.h>

#include <atomic>

#include "object/heap.h"

namespace quarn::object::small_blocks {

namespace {

constexpr ListEnds make_list_ends() noexcept {
    ListEnds ends{};
    for (size_t cls = 0; cls < kClasses; ++cls) ends.open[cls] = {nullptr, cache_bound(cls)};
    ends.none = {nullptr, 0};
    return ends;
}

constexpr ThreadCache unopened_cache() noexcept {
    ThreadCache c{};
    // The ends are never written through these pointers: a list end is only read.
    for (FreeBlock *&list : c.free) list = const_cast<FreeBlock *>(&list_ends.none);
    c.state = ThreadCache::kUnopened;
    return c;
}

}  // namespace

constinit const ListEnds list_ends = make_list_ends();

thread_local constinit ThreadCache cache __attribute__((tls_model("initial-exec"))) =
    unopened_cache();

namespace {

constinit std::atomic<uint64_t> returned_at_exit{0};

// Runs when a thread that opened its cache ends (not when the process exits: the main
// thread's cache and those of threads still running at exit are left to the process's end).
// Destructors that run after this one may still allocate and release objects: the closed
// cache has no room, so their blocks go straight to the allocator.
void close_cache(void *) noexcept {
    ThreadCache &c = cache;
    uint64_t returned = 0;
    for (size_t cls = 0; cls < kClasses; ++cls) {
        FreeBlock *b = c.free[cls];
        while (b->next != nullptr) {
            FreeBlock *next = b->next;
            detail::heap_free(b);
            b = next;
            ++returned;
        }
        c.free[cls] = const_cast<FreeBlock *>(&list_ends.none);
    }
    c.state = ThreadCache::kClosed;
    returned_at_exit.fetch_add(returned, std::memory_order_relaxed);
}

struct ExitKey {
    pthread_key_t key;
    bool valid;
};

// The key whose destructor closes a thread's cache; made once, never deleted.
const ExitKey &exit_key() noexcept {
    static const ExitKey key = [] {
        ExitKey k{};
        k.valid = pthread_key_create(&k.key, close_cache) == 0;
        return k;
    }();
    return key;
}

}  // namespace

void *take_slow(size_t cls) noexcept {
    size_t size = block_size(cls);
    ThreadCache &c = cache;
    // An open cache whose list ran dry is refilled with a batch, so that a run of misses (a
    // long list being built) costs one call here per batch rather than per object; a cache
    // that is not open takes nothing. The batch goes on the list in reverse, so that it is
    // handed out in the order the allocator gave it (usually rising addresses, which a walk
    // over the objects later reads fastest).
    if (c.state != ThreadCache::kOpen || c.free[cls]->next != nullptr)
        return detail::heap_malloc(size);
    void *batch[kLargestBatch];
    size_t n = 0;
    while (n < batch_size(cls) && (batch[n] = detail::heap_malloc(size)) != nullptr) ++n;
    if (n == 0) return nullptr;
    while (--n > 0) give(batch[n], cls);
    return batch[0];
}

}  // namespace quarn::object::small_blocks

namespace quarn::object {

quarn_object *allocate_slow(size_t size, uint64_t header) noexcept {
    void *block;
    if (QUARN_SMALL_BLOCK_CACHE && size - 1 < small_blocks::kLargestCachedObject) {
        block = small_blocks::take_slow(small_blocks::class_of(size));
    } else {
        if (size > detail::kLargestBlock - sizeof(size_t)) [[unlikely]]
            internal_panic(kOutOfMemory);
        size_t bytes = size + sizeof(size_t);
        block = detail::is_mapped_block(bytes) ? detail::map_block(bytes)
                                               : detail::heap_malloc(bytes);
    }
    if (block == nullptr) [[unlikely]]
        internal_panic(kOutOfMemory);
    detail::count_live_objects(1);
    auto *words = static_cast<uint64_t *>(block);
    words[0] = size;
    if (header != 0) words[1] = header;
    return reinterpret_cast<quarn_object *>(words + 1);
}

}  // namespace quarn::object

namespace quarn::object::small_blocks {

void give_slow(void *block, size_t cls) noexcept {
    ThreadCache &c = cache;
    if (c.state == ThreadCache::kUnopened) [[unlikely]] {
        // A cache that could not be tied to its thread's end is never opened: its blocks
        // would be lost when the thread ends.
        c.state = ThreadCache::kClosed;
        const ExitKey &k = exit_key();
        if (k.valid && pthread_setspecific(k.key, &c) == 0) {
            for (size_t i = 0; i < kClasses; ++i)
                c.free[i] = const_cast<FreeBlock *>(&list_ends.open[i]);
            c.state = ThreadCache::kOpen;
            give(block, cls);
            return;
        }
    }
    if (c.state == ThreadCache::kOpen) {
        // A full list: its top batch goes back to the allocator, which leaves room for the
        // block and the next releases (a long list being released then costs one call here
        // per batch rather than per object). The block under the batch records the room.
        FreeBlock *b = c.free[cls];
        for (size_t i = 0; i < batch_size(cls) && b->next != nullptr; ++i) {
            FreeBlock *next = b->next;
            detail::heap_free(b);
            b = next;
        }
        c.free[cls] = b;
        give(block, cls);
        return;
    }
    // A cache that is closed.
    detail::heap_free(block);
}

size_t blocks_held_by_this_thread(size_t cls) noexcept {
    const ThreadCache &c = cache;
    size_t held = 0;
    for (const FreeBlock *b = c.free[cls]; b->next != nullptr; b = b->next) ++held;
    return held;
}

size_t blocks_held_by_this_thread() noexcept {
    size_t held = 0;
    for (size_t cls = 0; cls < kClasses; ++cls) held += blocks_held_by_this_thread(cls);
    return held;
}

uint64_t blocks_returned_at_thread_exit() noexcept {
    return returned_at_exit.load(std::memory_order_relaxed);
}

}  // namespace quarn::object::small_blocks

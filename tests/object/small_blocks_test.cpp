// The per-thread caches of small blocks: class boundaries, blocks released on another thread
// than the one that made them, the bound on a cache, the return of a thread's blocks when it
// ends, and what the live-object count still sees through the caches.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#ifndef QUARN_SYSTEM_MALLOC
#include <mimalloc.h>
#endif

#include "object/header.h"
#include "object/heap.h"
#include "object/small_blocks.h"
#include "quarn/nat.h"
#include "testing.h"

namespace {

namespace sb = quarn::object::small_blocks;
using quarn::object::allocate_object;
using quarn::object::object_size;

using SmallBlocksTest = kit::LiveObjectsTest;

size_t usable_size(const quarn_object *o) {
    void *block = reinterpret_cast<size_t *>(const_cast<quarn_object *>(o)) - 1;
#ifdef QUARN_SYSTEM_MALLOC
    return malloc_usable_size(block);
#else
    return mi_usable_size(block);
#endif
}

// Every object size around each class boundary, and sizes past the last class.
std::vector<size_t> boundary_sizes() {
    std::vector<size_t> sizes;
    for (size_t edge = sb::kClassGranularity; edge <= sb::kLargestCachedObject;
         edge += sb::kClassGranularity) {
        if (edge > sb::kClassGranularity) sizes.push_back(edge - 1);
        sizes.push_back(edge);
        sizes.push_back(edge + 1);
    }
    sizes.push_back(sb::kLargestCachedObject + sb::kClassGranularity);
    sizes.push_back(1000);
    return sizes;
}

TEST_F(SmallBlocksTest, EverySizeAtAClassBoundaryGetsARoomyBlockAndItsExactSize) {
    for (size_t size : boundary_sizes()) {
        quarn_object *o = allocate_object(size, 7);
        EXPECT_EQ(object_size(o), size) << "the size word stays exact";
        bool cached = QUARN_SMALL_BLOCK_CACHE && size <= sb::kLargestCachedObject;
        size_t block = cached ? sb::block_size(sb::class_of(size)) : size + sizeof(size_t);
        EXPECT_GE(usable_size(o), block) << "object size " << size;
        std::memset(reinterpret_cast<char *>(o) + 8, 0xA5, size - 8);
        quarn::object::deallocate(o);
    }
}

// Objects of `size` bytes until the block `wanted` comes back (true) or the class's lists
// are used up without it (false); all of them are released again.
bool comes_back(const quarn_object *wanted, size_t size, std::vector<quarn_object *> &taken) {
    size_t cls = size <= sb::kLargestCachedObject ? sb::class_of(size) : 0;
    size_t tries = sb::blocks_held_by_this_thread(cls) + 1;
    bool found = false;
    for (size_t i = 0; i < tries && !found; ++i) {
        quarn_object *o = allocate_object(size, 1);
        std::memset(reinterpret_cast<char *>(o) + 8, 0x5A, size - 8);
        found = o == wanted;
        taken.push_back(o);
    }
    return found;
}

TEST_F(SmallBlocksTest, AFreedBlockServesEverySizeOfItsClassAndNoOther) {
    if (!QUARN_SMALL_BLOCK_CACHE) GTEST_SKIP() << "this build has no caches";
    for (size_t cls = 0; cls < sb::kClasses; ++cls) {
        size_t smallest = std::max(cls * sb::kClassGranularity + 1, sizeof(quarn_object));
        size_t largest = (cls + 1) * sb::kClassGranularity;
        std::vector<quarn_object *> taken;
        quarn_object *a = allocate_object(smallest, 1);
        quarn::object::deallocate(a);
        EXPECT_FALSE(comes_back(a, largest + 1, taken)) << "class " << cls << " lent a block";
        EXPECT_TRUE(comes_back(a, largest, taken)) << "class " << cls << " lost a block";
        for (quarn_object *o : taken) quarn::object::deallocate(o);
    }
}

TEST_F(SmallBlocksTest, AnObjectAboveTheLastClassBypassesTheCache) {
    size_t held = sb::blocks_held_by_this_thread();
    quarn_object *o = allocate_object(sb::kLargestCachedObject + 1, 3);
    EXPECT_EQ(object_size(o), sb::kLargestCachedObject + 1);
    quarn::object::deallocate(o);
    EXPECT_EQ(sb::blocks_held_by_this_thread(), held);
}

TEST_F(SmallBlocksTest, ACacheKeepsNoMoreThanItsBound) {
    if (!QUARN_SMALL_BLOCK_CACHE) GTEST_SKIP() << "this build has no caches";
    size_t cls = sb::class_of(24);
    std::vector<quarn_object *> objects(3 * sb::cache_bound(cls));
    for (auto &o : objects) o = allocate_object(24, 0);
    size_t bound = sb::cache_bound(cls), batch = sb::batch_size(cls);
    ASSERT_GT(batch, 1u);
    for (auto *o : objects) quarn::object::deallocate(o);
    size_t held = sb::blocks_held_by_this_thread(cls);
    EXPECT_LE(held, bound) << "never past the bound";
    EXPECT_GT(held, bound - batch) << "a full list hands back one batch at a time";
    // Taking them all back empties the list down to its end, which has room for the whole
    // bound again.
    std::vector<void *> blocks;
    while (sb::blocks_held_by_this_thread(cls) != 0) blocks.push_back(sb::take(cls));
    EXPECT_EQ(blocks.size(), held);
    for (void *b : blocks) sb::give(b, cls);
    EXPECT_EQ(sb::blocks_held_by_this_thread(cls), held);
    // Filled to the bound exactly, one more release hands a batch back first.
    while (sb::blocks_held_by_this_thread(cls) < bound) sb::give(sb::take_slow(cls), cls);
    EXPECT_EQ(sb::blocks_held_by_this_thread(cls), bound);
    sb::give(sb::take_slow(cls), cls);
    EXPECT_EQ(sb::blocks_held_by_this_thread(cls), bound - batch + 1);
}

TEST_F(SmallBlocksTest, AMissRefillsAnEmptyListWithABatch) {
    if (!QUARN_SMALL_BLOCK_CACHE) GTEST_SKIP() << "this build has no caches";
    size_t cls = sb::class_of(40), batch = sb::batch_size(cls);
    quarn_dec(quarn_alloc_ctor(0, 0, 32));  // opens this thread's cache
    std::vector<void *> held;
    while (sb::blocks_held_by_this_thread(cls) != 0) held.push_back(sb::take(cls));
    // A miss on the empty list returns one block and leaves the rest of a batch behind.
    std::vector<void *> made{sb::take(cls)};
    EXPECT_EQ(sb::blocks_held_by_this_thread(cls), batch - 1);
    while (sb::blocks_held_by_this_thread(cls) != 0) made.push_back(sb::take(cls));
    std::vector<void *> all = made;
    all.insert(all.end(), held.begin(), held.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end())
        << "no block is handed out twice";
    for (void *b : made) quarn::object::detail::heap_free(b);
    for (void *b : held) sb::give(b, cls);
}

// A bounded hand-over of objects from one thread to another. Every wait ends after a
// deadline with a failure instead of hanging.
class Handover {
public:
    explicit Handover(size_t capacity) : slots_(capacity) {}

    bool put(quarn_object *o) {
        size_t tail = tail_.load(std::memory_order_relaxed);
        if (!wait_until([&] { return tail - head_.load(std::memory_order_acquire) < slots_.size(); }))
            return false;
        slots_[tail % slots_.size()] = o;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    quarn_object *take() {
        size_t head = head_.load(std::memory_order_relaxed);
        if (!wait_until([&] { return tail_.load(std::memory_order_acquire) != head; })) return nullptr;
        quarn_object *o = slots_[head % slots_.size()];
        head_.store(head + 1, std::memory_order_release);
        return o;
    }

private:
    template <typename Ready>
    static bool wait_until(Ready ready) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!ready()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::yield();
        }
        return true;
    }

    std::vector<quarn_object *> slots_;
    std::atomic<size_t> head_{0}, tail_{0};
};

// Sizes of every class, cycling: constructors of 0 to 31 fields (8 to 256 bytes) plus a
// scalar byte now and then, so that odd sizes inside each class come up too.
quarn_object *numbered_object(uint64_t n) {
    uint32_t fields = static_cast<uint32_t>(n % 31) + 1;
    uint32_t scalars = n % 3 == 0 ? 0 : 7 - static_cast<uint32_t>(n % 7);
    if (8 + 8 * fields + scalars > sb::kLargestCachedObject) scalars = 0;
    quarn_object *o = quarn_alloc_ctor(0, fields, scalars);
    for (uint32_t i = 0; i < fields; ++i) quarn_ctor_set(o, i, quarn_box(n + i));
    return o;
}

// True when o still holds what numbered_object(n) wrote: a block handed out twice would
// have been overwritten by its second owner.
bool holds_number(quarn_object *o, uint64_t n) {
    for (unsigned i = 0; i < quarn_ctor_num_objs(o); ++i)
        if (quarn_ctor_get(o, i) != quarn_box(n + i)) return false;
    return true;
}

TEST_F(SmallBlocksTest, BlocksOfEveryClassReleasedOnAnotherThreadAtHighRate) {
    constexpr uint64_t kObjects = 200000;
    Handover to_consumer(256);
    std::atomic<uint64_t> corrupted{0}, lost{0};
    std::thread consumer([&] {
        for (uint64_t n = 0; n < kObjects; ++n) {
            quarn_object *o = to_consumer.take();
            if (o == nullptr) {
                lost.fetch_add(kObjects - n);
                return;
            }
            if (!holds_number(o, n)) corrupted.fetch_add(1);
            quarn_dec(o);  // joins this thread's cache, or overflows to the allocator
            // The consumer makes objects of its own from the blocks it was given.
            quarn_object *mine = numbered_object(n * 7);
            if (!holds_number(mine, n * 7)) corrupted.fetch_add(1);
            quarn_dec(mine);
        }
    });
    for (uint64_t n = 0; n < kObjects; ++n) {
        quarn_object *o = numbered_object(n);
        quarn_mark_mt(o);
        if (!to_consumer.put(o)) {
            quarn_dec(o);
            ADD_FAILURE() << "the consumer stopped taking objects at " << n;
            break;
        }
        // The producer's own short-lived objects come from its cache meanwhile.
        quarn_dec(numbered_object(n + 1));
    }
    consumer.join();
    EXPECT_EQ(lost.load(), 0u) << "the consumer waited too long for an object";
    EXPECT_EQ(corrupted.load(), 0u) << "a block was handed out while still in use";
}

TEST_F(SmallBlocksTest, TwoThreadsReleasingEachOthersObjectsPastTheirBounds) {
    constexpr uint64_t kObjects = 50000;
    Handover a_to_b(kObjects), b_to_a(kObjects);
    std::atomic<uint64_t> corrupted{0};
    auto swap_side = [&](Handover &out, Handover &in, uint64_t base) {
        // All objects out first, then all of the other side's released: far more than the
        // bound of any class lands in each cache at once.
        for (uint64_t n = 0; n < kObjects; ++n) {
            quarn_object *o = numbered_object(base + n);
            quarn_mark_mt(o);
            if (!out.put(o)) quarn_dec(o);
        }
        for (uint64_t n = 0; n < kObjects; ++n) {
            quarn_object *o = in.take();
            if (o == nullptr) {
                ADD_FAILURE() << "the other thread stopped handing over objects at " << n;
                return;
            }
            if (!holds_number(o, (base ^ 1000000000) + n)) corrupted.fetch_add(1);
            quarn_dec(o);
        }
    };
    std::thread b([&] { swap_side(b_to_a, a_to_b, 1000000000); });
    swap_side(a_to_b, b_to_a, 0);
    b.join();
    EXPECT_EQ(corrupted.load(), 0u);
}

TEST_F(SmallBlocksTest, AThreadThatEndsReturnsItsCachedBlocks) {
    constexpr size_t kCells = 1000000;
    uint64_t returned_before = sb::blocks_returned_at_thread_exit();
    size_t held_before_exit = 0;
    std::thread worker([&] {
        quarn_object *list = quarn_box(0);
        for (size_t i = 0; i < kCells; ++i) {
            quarn_object *cell = quarn_alloc_ctor(1, 2, 0);
            quarn_ctor_set(cell, 0, quarn_box(i));
            quarn_ctor_set(cell, 1, list);
            list = cell;
        }
        quarn_dec(list);
        held_before_exit = sb::blocks_held_by_this_thread();
    });
    worker.join();
    if (QUARN_SMALL_BLOCK_CACHE) {
        size_t cls = sb::class_of(24);
        EXPECT_LE(held_before_exit, sb::cache_bound(cls));
        EXPECT_GT(held_before_exit, sb::cache_bound(cls) - sb::batch_size(cls))
            << "a million cells released leave one list, nearly full";
        EXPECT_GE(sb::blocks_returned_at_thread_exit() - returned_before, held_before_exit)
            << "the ended thread's blocks went back to the allocator";
    } else {
        EXPECT_EQ(held_before_exit, 0u);
    }
}

TEST_F(SmallBlocksTest, ReleasesAfterTheCacheClosedGoStraightToTheAllocator) {
    if (!QUARN_SMALL_BLOCK_CACHE) GTEST_SKIP() << "this build has no caches";
    uint64_t returned_before = sb::blocks_returned_at_thread_exit();
    size_t held_after_close = 1;
    std::thread worker([&] {
        quarn_dec(quarn_alloc_ctor(0, 1, 0));  // opens this thread's cache
        // What a later thread-exit step would do: the cache is closed first, here by hand.
        sb::ThreadCache &c = sb::cache;
        for (size_t cls = 0; cls < sb::kClasses; ++cls) {
            while (sb::blocks_held_by_this_thread(cls) != 0)
                quarn::object::detail::heap_free(sb::take(cls));
            c.free[cls] = const_cast<sb::FreeBlock *>(&sb::list_ends.none);
        }
        c.state = sb::ThreadCache::kClosed;
        quarn_dec(quarn_alloc_ctor(0, 1, 0));
        held_after_close = sb::blocks_held_by_this_thread();
    });
    worker.join();
    EXPECT_EQ(held_after_close, 0u) << "a closed cache takes no blocks";
    EXPECT_EQ(sb::blocks_returned_at_thread_exit(), returned_before)
        << "nothing was left to return";
}

TEST(SmallBlocksLiveCount, StillSeesALeakAndADoubleRelease) {
    int64_t before = quarn::object::live_objects();
    quarn_object *leaked = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(leaked, 0, quarn_box(1));
    EXPECT_EQ(quarn::object::live_objects(), before + 1) << "an unreleased object stays counted";
    quarn_dec(leaked);
    EXPECT_EQ(quarn::object::live_objects(), before);
    // Releasing twice spoils the cache it went through, so it happens in a child process.
    // Without caches (AddressSanitizer builds) the sanitizer itself stops the second release.
#if QUARN_SMALL_BLOCK_CACHE
    EXPECT_EXIT(
        {
            int64_t start = quarn::object::live_objects();
            quarn_object *o = quarn_alloc_ctor(0, 0, 0);
            quarn_free_object(o);
            quarn_free_object(o);
            _exit(quarn::object::live_objects() == start - 1 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
#else
    EXPECT_DEATH(
        {
            quarn_object *o = quarn_alloc_ctor(0, 0, 0);
            quarn_free_object(o);
            quarn_free_object(o);
        },
        "AddressSanitizer");
#endif
}

// The sanitizers' heaps end the process themselves on such a request.
#ifndef QUARN_SYSTEM_MALLOC
TEST(SmallBlocksDeathTest, AnAllocationTheHeapRefusesIsOutOfMemory) {
    // 2^62 bytes: within the sizes the runtime accepts, beyond any address space.
    EXPECT_INTERNAL_PANIC(allocate_object(size_t{1} << 62, 0), "out of memory");
}
#endif

// ---- big numbers in one block ---------------------------------------------------------------

quarn_object *nat(const char *decimal) { return quarn_cstr_to_nat(decimal); }

const quarn_bignum_object *big(const quarn_object *o) {
    return reinterpret_cast<const quarn_bignum_object *>(o);
}

TEST_F(SmallBlocksTest, AShortBigNumberKeepsItsDigitsInItsOwnBlock) {
    quarn_object *a = nat("36893488147419103233");  // 2^65 + 1: two digits
    quarn_object *b = nat("18446744073709551615");  // 2^64 - 1: one digit
    int64_t live = quarn::object::live_objects();
    quarn_object *sum = quarn_lean_nat_add(a, b);    // 2^65 + 2^64: two digits
    EXPECT_EQ(quarn::object::live_objects(), live + 1);
    ASSERT_FALSE(quarn_is_scalar(sum));
    EXPECT_EQ(big(sum)->capacity, 0) << "no array of its own";
    EXPECT_EQ(big(sum)->magnitude.digits, reinterpret_cast<const uint64_t *>(big(sum) + 1));
    EXPECT_EQ(big(sum)->used.count, 2u);
    EXPECT_EQ(big(sum)->magnitude.digits[0], 0u);
    EXPECT_EQ(big(sum)->magnitude.digits[1], 3u);
    EXPECT_EQ(object_size(sum), 40u + 8 * 3) << "room for the carry digit";

    // A product of three digits is built in one block too; one of five is not.
    quarn_object *four = quarn_lean_nat_mul(a, a);
    EXPECT_EQ(big(four)->used.count, 3u);
    EXPECT_EQ(big(four)->capacity, 0);
    quarn_object *five = quarn_lean_nat_mul(four, four);
    EXPECT_EQ(big(five)->used.count, 5u);
    EXPECT_GT(big(five)->capacity, 0) << "five digits have an array of their own";
    EXPECT_EQ(object_size(five), 40u);

    EXPECT_EQ(quarn_lean_nat_dec_eq(sum, sum), 1);
    quarn_object *back = quarn_lean_nat_sub(sum, b);
    EXPECT_EQ(quarn_lean_nat_dec_eq(back, a), 1);
    for (quarn_object *o : {sum, four, five, back, a, b}) quarn_dec(o);
}

TEST_F(SmallBlocksTest, FreeObjectOnAOneBlockBigNumberFreesOnlyTheBlock) {
    quarn_object *a = nat("340282366920938463463374607431768211455");  // 2^128 - 1
    quarn_object *sum = quarn_lean_nat_add(a, a);
    ASSERT_EQ(big(sum)->capacity, 0);
    quarn_free_object(sum);  // the sanitizer build checks that nothing else is freed
    quarn_dec(a);
}

}  // namespace

// The lock of one file handle: a futex word taken with one compare-and-swap when free (the
// usual case: most handles are used by one thread at a time), and the thread that holds
// it, so that the flush at the end of the process never waits for a lock its own thread
// holds.
//
// While the process has a single thread no other thread can contend, so the word is
// written with plain stores, as the C library's own streams do: a handle operation then
// costs no locked instruction. A thread can only start outside a handle operation (none
// starts threads while holding the lock), so a lock taken this way is never seen by a
// second thread while it is held.
#pragma once

#include <linux/futex.h>
#include <pthread.h>
#include <sys/single_threaded.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace quarn::io {

class HandleMutex {
public:
    void lock() noexcept {
        if (__libc_single_threaded) {
            state_.store(kLocked, std::memory_order_relaxed);
            owner_.store(pthread_self(), std::memory_order_relaxed);
            return;
        }
        uint32_t expected = kFree;
        if (!state_.compare_exchange_strong(expected, kLocked, std::memory_order_acquire,
                                            std::memory_order_relaxed)) [[unlikely]]
            lock_contended(expected);
        owner_.store(pthread_self(), std::memory_order_relaxed);
    }

    bool try_lock() noexcept {
        if (__libc_single_threaded) {
            if (state_.load(std::memory_order_relaxed) != kFree) return false;
            state_.store(kLocked, std::memory_order_relaxed);
            owner_.store(pthread_self(), std::memory_order_relaxed);
            return true;
        }
        uint32_t expected = kFree;
        if (!state_.compare_exchange_strong(expected, kLocked, std::memory_order_acquire,
                                            std::memory_order_relaxed))
            return false;
        owner_.store(pthread_self(), std::memory_order_relaxed);
        return true;
    }

    void unlock() noexcept {
        owner_.store(0, std::memory_order_relaxed);
        if (__libc_single_threaded) {
            state_.store(kFree, std::memory_order_relaxed);
            return;
        }
        if (state_.exchange(kFree, std::memory_order_release) == kContended) [[unlikely]]
            futex(FUTEX_WAKE_PRIVATE, 1);
    }

    // Whether the calling thread holds the lock. Any thread.
    bool held_by_this_thread() const noexcept {
        return owner_.load(std::memory_order_relaxed) == pthread_self();
    }

private:
    static constexpr uint32_t kFree = 0, kLocked = 1, kContended = 2;

    [[gnu::noinline]] void lock_contended(uint32_t seen) noexcept {
        // Mark the lock contended, then sleep until the holder's unlock wakes a waiter.
        if (seen != kContended) seen = state_.exchange(kContended, std::memory_order_acquire);
        while (seen != kFree) {
            futex(FUTEX_WAIT_PRIVATE, kContended);
            seen = state_.exchange(kContended, std::memory_order_acquire);
        }
    }

    void futex(int operation, uint32_t value) noexcept {
        ::syscall(SYS_futex, reinterpret_cast<uint32_t *>(&state_), operation, value, nullptr, nullptr, 0);
    }

    std::atomic<uint32_t> state_{kFree};
    std::atomic<pthread_t> owner_{0};
};

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the futex word is the atomic");

}  // namespace quarn::io

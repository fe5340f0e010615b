// Waiting for a word of an object that another thread will change, and waking the waiters.
// The wait spins briefly, then sleeps in the kernel (a futex shared through a table keyed by
// address), so a waiter does not burn the processor the computing thread needs; a wake-up
// costs one load when nobody waits.
#pragma once

#include <atomic>

namespace quarn::cell {

// Returns once *word may differ from `seen` (spurious returns are possible: callers re-check).
template <typename T>
void wait_for_change(T *word, T seen) noexcept {
    std::atomic_ref<T>(*word).wait(seen, std::memory_order_acquire);
}

// Wakes every thread waiting for *word to change. Call after the change is stored.
template <typename T>
void wake_waiters(T *word) noexcept {
    std::atomic_ref<T>(*word).notify_all();
}

}  // namespace quarn::cell

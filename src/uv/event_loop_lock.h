// The event loop lock: one recursive lock over the reactor's registries, heap and queue and
// over every timer and socket record. A thread that holds it may take it again (a promise
// resolved under it can run a continuation that calls back into the event loop); any other
// thread waits until it is free.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quarn::uv {

class EventLoopLock {
public:
    void lock() noexcept;
    void unlock() noexcept;
    bool held_by_this_thread() const noexcept;

private:
    // A thread that stopped while holding `inner_` would poison it; no thread here stops
    // that way without ending the process (nothing unwinds, failures are the internal
    // panic), so the lock carries no poisoned flag.
    std::mutex inner_;
    // The holder's identity, 0 when free. Written under inner_; the holder reads it
    // without: no other thread can make it equal to the reader's own identity.
    std::atomic<uint64_t> owner_{0};
    uint64_t depth_ = 0;     // the holder's alone
    uint64_t waiting_ = 0;   // threads waiting on released_, under inner_
    std::condition_variable released_;
};

// Holds the event loop lock for a scope.
class LoopGuard {
public:
    explicit LoopGuard(EventLoopLock &lock) noexcept : lock_(lock) { lock_.lock(); }
    ~LoopGuard() { lock_.unlock(); }
    LoopGuard(const LoopGuard &) = delete;
    LoopGuard &operator=(const LoopGuard &) = delete;

private:
    EventLoopLock &lock_;
};

}  // namespace quarn::uv

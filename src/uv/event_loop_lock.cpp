#include "uv/event_loop_lock.h"

#include <atomic>

#include "core/panic.h"

namespace quarn::uv {

namespace {

// The calling thread's identity for the lock: never 0, never reused.
uint64_t thread_identity() noexcept {
    static constinit std::atomic<uint64_t> next_identity{1};
    thread_local constinit uint64_t identity = 0;
    if (identity == 0) identity = next_identity.fetch_add(1, std::memory_order_relaxed);
    return identity;
}

}  // namespace

void EventLoopLock::lock() noexcept {
    uint64_t self = thread_identity();
    std::unique_lock inner(inner_);
    if (owner_ == self) {
        ++depth_;
        return;
    }
    released_.wait(inner, [this] { return owner_ == 0; });
    owner_ = self;
    depth_ = 1;
}

void EventLoopLock::unlock() noexcept {
    {
        std::scoped_lock inner(inner_);
        if (owner_ != thread_identity()) internal_panic(kUnreachable);
        if (--depth_ > 0) return;
        owner_ = 0;
    }
    released_.notify_one();
}

bool EventLoopLock::held_by_this_thread() const noexcept {
    std::scoped_lock inner(inner_);
    return owner_ == thread_identity();
}

}  // namespace quarn::uv

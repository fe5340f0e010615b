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

// Taking the lock again, and releasing it while still held, touch no mutex: only the
// holder reads its own identity in owner_ and changes depth_.
void EventLoopLock::lock() noexcept {
    uint64_t self = thread_identity();
    if (owner_.load(std::memory_order_relaxed) == self) {
        ++depth_;
        return;
    }
    std::unique_lock inner(inner_);
    if (owner_.load(std::memory_order_relaxed) != 0) {
        ++waiting_;
        released_.wait(inner, [this] { return owner_.load(std::memory_order_relaxed) == 0; });
        --waiting_;
    }
    owner_.store(self, std::memory_order_relaxed);
    depth_ = 1;
}

void EventLoopLock::unlock() noexcept {
    if (owner_.load(std::memory_order_relaxed) != thread_identity()) internal_panic(kUnreachable);
    if (--depth_ > 0) return;
    bool someone_waits;
    {
        std::scoped_lock inner(inner_);
        owner_.store(0, std::memory_order_relaxed);
        someone_waits = waiting_ > 0;
    }
    if (someone_waits) released_.notify_one();
}

bool EventLoopLock::held_by_this_thread() const noexcept {
    return owner_.load(std::memory_order_relaxed) == thread_identity();
}

}  // namespace quarn::uv

// The reactor: one thread per process ("lean-event-loop") that waits with poll on the
// descriptors of registered sources, fires due timers and runs callbacks posted by other
// threads. It starts on the first use of anything here and runs until the process ends;
// its state is immortal, so it is safe however the process ends.
//
// Every registry, the heap, the posted queue and every timer and socket record are read
// and changed only under the event loop lock (lock()/unlock() or LoopGuard), which the
// reactor thread holds except while in poll. The event loop lock may be held while the
// task manager's lock is taken (a promise resolved), never the reverse.
#pragma once

#include <cstdint>

#include "uv/event_loop_lock.h"
#include "uv/timer_heap.h"

namespace quarn::uv {

// What a source wants the reactor to wait for.
struct Interest {
    int fd = -1;  // -1: nothing
    bool readable = false;
    bool writable = false;
};

// Something the reactor polls for: a socket record. Called on the reactor thread under
// the event loop lock.
class Source {
public:
    virtual Interest interest() noexcept = 0;
    virtual void ready(bool readable, bool writable) noexcept = 0;

protected:
    ~Source() = default;
};

// A timer record as the reactor sees it: fired with the generation of the heap entry.
class TimerTarget {
public:
    virtual void fire(uint64_t generation) noexcept = 0;

protected:
    ~TimerTarget() = default;
};

// A callback posted to the reactor thread, which runs it under the event loop lock. `run`
// owns `data`: it releases whatever data holds.
struct PostedCallback {
    void (*run)(void *data) noexcept;
    void *data;
};

// The event loop lock; the first call starts the reactor.
EventLoopLock &loop_lock() noexcept;

// Starts the reactor if it does not run yet.
void ensure_started() noexcept;

// Under the lock: adds the source and returns its registration id. Wakes the reactor.
// The source stays the caller's; it must be removed before it is destroyed.
uint64_t register_source(Source *source) noexcept;

// Under the lock: removes the source. Wakes the reactor, so that a poll still watching the
// source's descriptor ends and lets go of it.
void remove_source(uint64_t id) noexcept;

// Queues a callback for the reactor thread and wakes it. Any thread.
void post(PostedCallback callback) noexcept;

// Under the lock: adds a timer and returns its id.
uint64_t register_timer(TimerTarget *timer) noexcept;

// Under the lock: removes a timer; its heap entries are skipped when they come due.
void remove_timer(uint64_t id) noexcept;

// Under the lock: pushes a heap entry for the timer due `delay_ms` from now, and wakes the
// reactor when the entry is due before every other (it then waits less long).
void schedule_timer(uint64_t id, uint64_t generation, uint64_t delay_ms) noexcept;

// Sends the reactor a wake-up byte (nothing when called on the reactor thread, which
// recomputes what it waits for before it polls again).
void wake() noexcept;

// Whether the calling thread is the reactor thread.
bool on_reactor_thread() noexcept;

namespace detail {
// The number of sources and timers registered now (under the lock), for tests.
size_t source_count() noexcept;
size_t timer_count() noexcept;
}  // namespace detail

}  // namespace quarn::uv

#include "uv/reactor.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <new>

#include "core/allocator.h"
#include "core/detached_thread.h"
#include "core/panic.h"
#include "uv/wakeup.h"

namespace quarn::uv {

namespace {

template <typename Value>
using IdMap = std::map<uint64_t, Value, std::less<>, PanicAllocator<std::pair<const uint64_t, Value>>>;

struct Reactor {
    EventLoopLock lock;
    TimerHeap heap;
    std::deque<PostedCallback, PanicAllocator<PostedCallback>> posted;
    IdMap<Source *> sources;
    IdMap<TimerTarget *> timers;
    uint64_t next_id = 1;  // shared by sources and timers
    WakeupChannel wakeup;
};

constinit thread_local bool reactor_thread = false;

void loop_main(void *argument) noexcept;

// Builds the reactor and starts its thread. The reactor is never destroyed.
Reactor &start_reactor() noexcept {
    Reactor *reactor = new (PanicAllocator<Reactor>().allocate(1)) Reactor;
    int failure = start_detached_thread("lean-event-loop", loop_main, reactor);
    if (failure != 0) internal_panic({"cannot start the event loop thread: ", std::strerror(failure)});
    return *reactor;
}

Reactor &the_reactor() noexcept {
    static Reactor &reactor = start_reactor();
    return reactor;
}

// What one pass polls: the wake-up receiver first, then one entry per interested source,
// with the source's id beside it.
struct PollSet {
    Vector<pollfd> entries;
    Vector<uint64_t> ids;

    void reset(int wakeup_fd) noexcept {
        entries.clear();
        ids.clear();
        add(0, {wakeup_fd, true, false});
    }
    void add(uint64_t id, Interest interest) noexcept {
        short events = static_cast<short>((interest.readable ? POLLIN : 0) | (interest.writable ? POLLOUT : 0));
        entries.push_back({interest.fd, events, 0});
        ids.push_back(id);
    }
};

constexpr short kErrorEvents = POLLERR | POLLHUP | POLLNVAL;

bool came_back_readable(const pollfd &entry) noexcept {
    return (entry.events & POLLIN) && (entry.revents & (POLLIN | kErrorEvents));
}

bool came_back_writable(const pollfd &entry) noexcept {
    return (entry.events & POLLOUT) && (entry.revents & (POLLOUT | kErrorEvents));
}

// The poll timeout: 0 with callbacks waiting, infinite without timers, else the time to
// the earliest deadline.
int poll_timeout(const Reactor &reactor) noexcept {
    if (!reactor.posted.empty()) return 0;
    if (reactor.heap.empty()) return -1;
    return milliseconds_until(monotonic_now(), reactor.heap.earliest().deadline);
}

void run_posted_callbacks(Reactor &reactor) noexcept {
    while (!reactor.posted.empty()) {
        PostedCallback callback = reactor.posted.front();
        reactor.posted.pop_front();
        callback.run(callback.data);
    }
}

// Entries that firing pushes (a repeating timer's next round) wait for the next pass, even
// one due at the very instant read here.
void fire_due_timers(Reactor &reactor) noexcept {
    Instant now = monotonic_now();
    uint64_t pushed_before = reactor.heap.next_sequence();
    while (!reactor.heap.empty() && reactor.heap.earliest().deadline <= now &&
           reactor.heap.earliest().sequence < pushed_before) {
        TimerEntry entry = reactor.heap.pop();
        auto found = reactor.timers.find(entry.timer_id);
        if (found != reactor.timers.end()) found->second->fire(entry.generation);
    }
}

void run_one_pass(Reactor &reactor, PollSet &set) noexcept {
    set.reset(reactor.wakeup.receiver());
    int timeout;
    {
        LoopGuard guard(reactor.lock);
        timeout = poll_timeout(reactor);
        for (auto &[id, source] : reactor.sources) {
            Interest interest = source->interest();
            if (interest.fd >= 0 && (interest.readable || interest.writable)) set.add(id, interest);
        }
    }
    int count = ::poll(set.entries.data(), set.entries.size(), timeout);
    if (count < 0) {
        if (errno != EINTR) internal_panic({"event loop poll failed: ", std::strerror(errno)});
        for (pollfd &entry : set.entries) entry.revents = 0;
    }
    LoopGuard guard(reactor.lock);
    if (came_back_readable(set.entries[0])) reactor.wakeup.drain();
    run_posted_callbacks(reactor);
    fire_due_timers(reactor);
    for (size_t i = 1; i < set.entries.size(); ++i) {
        bool readable = came_back_readable(set.entries[i]);
        bool writable = came_back_writable(set.entries[i]);
        if (!readable && !writable) continue;
        auto found = reactor.sources.find(set.ids[i]);
        if (found != reactor.sources.end()) found->second->ready(readable, writable);
    }
}

void loop_main(void *argument) noexcept {
    reactor_thread = true;
    Reactor &reactor = *static_cast<Reactor *>(argument);
    // The poll set lives on this thread's stack and is reused by every pass; the thread
    // never returns, so nothing here is ever destroyed.
    PollSet set;
    for (;;) run_one_pass(reactor, set);
}

}  // namespace

EventLoopLock &loop_lock() noexcept { return the_reactor().lock; }

void ensure_started() noexcept { the_reactor(); }

bool on_reactor_thread() noexcept { return reactor_thread; }

void wake() noexcept {
    if (!reactor_thread) the_reactor().wakeup.wake();
}

uint64_t register_source(Source *source) noexcept {
    Reactor &reactor = the_reactor();
    uint64_t id;
    {
        LoopGuard guard(reactor.lock);
        id = reactor.next_id++;
        reactor.sources.emplace(id, source);
    }
    wake();
    return id;
}

void remove_source(uint64_t id) noexcept {
    Reactor &reactor = the_reactor();
    {
        LoopGuard guard(reactor.lock);
        reactor.sources.erase(id);
    }
    wake();
}

void post(PostedCallback callback) noexcept {
    Reactor &reactor = the_reactor();
    {
        LoopGuard guard(reactor.lock);
        reactor.posted.push_back(callback);
    }
    wake();
}

uint64_t register_timer(TimerTarget *timer) noexcept {
    Reactor &reactor = the_reactor();
    LoopGuard guard(reactor.lock);
    uint64_t id = reactor.next_id++;
    reactor.timers.emplace(id, timer);
    return id;
}

void remove_timer(uint64_t id) noexcept {
    Reactor &reactor = the_reactor();
    LoopGuard guard(reactor.lock);
    reactor.timers.erase(id);
}

void schedule_timer(uint64_t id, uint64_t generation, uint64_t delay_ms) noexcept {
    Reactor &reactor = the_reactor();
    bool sooner;
    {
        LoopGuard guard(reactor.lock);
        Instant deadline = after(monotonic_now(), delay_ms);
        // The reactor never waits past its earliest entry, so only an entry due before that
        // one changes how long it may wait (a burst of timers costs one wake-up, not one each).
        sooner = reactor.heap.empty() || deadline < reactor.heap.earliest().deadline;
        reactor.heap.push(id, generation, deadline);
    }
    if (sooner) wake();
}

namespace detail {

size_t source_count() noexcept {
    Reactor &reactor = the_reactor();
    LoopGuard guard(reactor.lock);
    return reactor.sources.size();
}

size_t timer_count() noexcept {
    Reactor &reactor = the_reactor();
    LoopGuard guard(reactor.lock);
    return reactor.timers.size();
}

}  // namespace detail

}  // namespace quarn::uv

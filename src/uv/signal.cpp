// Signal watchers. A process-wide handler, installed for a signal while some watcher of it
// runs, writes the signal's number as one byte into a pipe; the reactor reads the pipe and
// resolves the promises of that signal's watchers. Watchers follow the rules of timers:
// initial until their first `next`, running while registered (holding one reference to
// their own object), finished once a one-shot watcher has seen its signal or any watcher
// was stopped. When the last watcher of a signal goes, the action the process had before
// is put back. Everything here but the handler runs under the event loop lock.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>

#include "core/allocator.h"
#include "core/panic.h"
#include "core/retry.h"
#include "io/io_result.h"
#include "object/external_class.h"
#include "quarn/udp_dns_signal.h"
#include "quarn/uv.h"
#include "uv/promises.h"
#include "uv/reactor.h"
#include "uv/record.h"
#include "uv/signal_numbers.h"

namespace quarn::uv {

namespace {

using Value = quarn_object *;

enum class WatchState : uint8_t { Initial, Running, Finished };

struct SignalWatcher {
    Value promise = nullptr;
    int number = 0;
    WatchState state = WatchState::Initial;
    bool repeating = false;
    Value owner = nullptr;
};

// The write end of the signal pipe, for the handler; -1 until the pipe exists.
std::atomic<int> signal_pipe_write{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads it");

void on_signal(int number) {
    int saved = errno;
    int fd = signal_pipe_write.load(std::memory_order_relaxed);
    auto byte = static_cast<unsigned char>(number);
    if (fd >= 0) (void)::write(fd, &byte, 1);
    errno = saved;
}

void dispatch(int number) noexcept;

// The pipe's read end as a reactor source: always wanting to read.
class SignalPipe final : public Source {
public:
    int read_fd = -1;

    Interest interest() noexcept override { return {read_fd, true, false}; }

    void ready(bool readable, bool) noexcept override {
        if (!readable) return;
        unsigned char numbers[128];
        for (;;) {
            ssize_t n = retry_interrupted([&] { return ::read(read_fd, numbers, sizeof numbers); });
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) dispatch(numbers[i]);
        }
    }
};

// Process-wide, immortal, under the event loop lock.
struct Registry {
    std::map<int, Vector<SignalWatcher *>, std::less<int>, PanicAllocator<std::pair<const int, Vector<SignalWatcher *>>>>
        watchers;
    // The action each watched signal had before its handler was installed.
    std::map<int, struct sigaction, std::less<int>, PanicAllocator<std::pair<const int, struct sigaction>>> previous;
    SignalPipe pipe;
    bool pipe_made = false;
};

Registry &registry() noexcept {
    static Registry &r = *new (PanicAllocator<Registry>().allocate(1)) Registry;
    return r;
}

void make_pipe(Registry &r) noexcept {
    if (r.pipe_made) return;
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        internal_panic({"cannot create the signal pipe: ", std::strerror(errno)});
    r.pipe.read_fd = fds[0];
    signal_pipe_write.store(fds[1], std::memory_order_relaxed);
    register_source(&r.pipe);
    r.pipe_made = true;
}

// Adds a running watcher; installs the handler for its signal when it is the first.
// 0 or the negated error of sigaction (the watcher is then not registered).
int add_watcher(SignalWatcher &w) noexcept {
    Registry &r = registry();
    Vector<SignalWatcher *> &list = r.watchers[w.number];
    if (list.empty()) {
        make_pipe(r);
        struct sigaction action {};
        action.sa_handler = on_signal;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction before {};
        if (::sigaction(w.number, &action, &before) != 0) {
            int error = errno;
            r.watchers.erase(w.number);
            return -error;
        }
        r.previous[w.number] = before;
    }
    list.push_back(&w);
    return 0;
}

// Removes a watcher; with the last watcher of a signal, the action from before comes back.
void remove_watcher(SignalWatcher &w) noexcept {
    Registry &r = registry();
    auto found = r.watchers.find(w.number);
    if (found == r.watchers.end()) return;
    Vector<SignalWatcher *> &list = found->second;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == &w) {
            list.erase(it);
            break;
        }
    }
    if (!list.empty()) return;
    r.watchers.erase(found);
    struct sigaction before = r.previous[w.number];
    r.previous.erase(w.number);
    if (::sigaction(w.number, &before, nullptr) != 0)
        internal_panic({"cannot restore the default action of signal ", decimal(w.number), ": ",
                        std::strerror(errno)});
}

// Whether w is listed as a watcher of signal `number`. Compares addresses only: w may be
// a watcher that was stopped and freed meanwhile.
bool listed(int number, const SignalWatcher *w) noexcept {
    Registry &r = registry();
    auto found = r.watchers.find(number);
    if (found == r.watchers.end()) return false;
    for (SignalWatcher *x : found->second)
        if (x == w) return true;
    return false;
}

void dispatch(int number) noexcept {
    Registry &r = registry();
    auto found = r.watchers.find(number);
    if (found == r.watchers.end()) return;
    Vector<SignalWatcher *> watchers = found->second;  // resolving may change the list
    for (SignalWatcher *w : watchers) {
        if (!listed(number, w)) continue;
        if (w->state != WatchState::Running) internal_panic("signal event for a signal handle that is not running");
        if (w->repeating) {
            if (w->promise != nullptr && !promise_resolved(w->promise))
                resolve_promise(w->promise, quarn_box(static_cast<size_t>(number)));
            continue;
        }
        if (w->promise != nullptr) resolve_promise(w->promise, quarn_box(static_cast<size_t>(number)));
        remove_watcher(*w);
        w->state = WatchState::Finished;
        quarn_dec(w->owner);  // the watcher's reference to itself; may be the last
    }
}

Value stored_promise(SignalWatcher &w) noexcept {
    quarn_inc(w.promise);
    return w.promise;
}

// The result of `next`: ok(promise), or the error of a handler that could not be installed.
Value next(SignalWatcher &w, ReleaseAfterUnlock &releases) noexcept {
    if (w.state == WatchState::Initial) {
        w.promise = new_promise();
        w.state = WatchState::Running;
        quarn_inc(w.owner);
        if (int error = add_watcher(w)) {
            // Undone: no half-registered watcher whose promise nothing would resolve.
            releases.add(std::exchange(w.promise, nullptr));
            releases.add(w.owner);
            w.state = WatchState::Initial;
            return io_error_of_code(error);
        }
        return io::io_ok(stored_promise(w));
    }
    if (!w.repeating || w.state == WatchState::Finished)
        return io::io_ok(w.promise != nullptr ? stored_promise(w) : new_promise());
    if (w.promise == nullptr || promise_resolved(w.promise)) {
        releases.add(w.promise);
        w.promise = new_promise();
    }
    return io::io_ok(stored_promise(w));
}

void stop(SignalWatcher &w, ReleaseAfterUnlock &releases) noexcept {
    releases.add(std::exchange(w.promise, nullptr));
    if (w.state == WatchState::Running) {
        remove_watcher(w);
        releases.add(w.owner);
    }
    w.state = WatchState::Finished;
}

void cancel(SignalWatcher &w, ReleaseAfterUnlock &releases) noexcept {
    if (w.state != WatchState::Running || w.promise == nullptr) return;
    releases.add(std::exchange(w.promise, nullptr));
    if (w.repeating) return;
    remove_watcher(w);
    w.state = WatchState::Initial;
    releases.add(w.owner);
}

void finalize_watcher(void *data) {
    auto *w = static_cast<SignalWatcher *>(data);
    Value promise;
    {
        LoopGuard guard(loop_lock());
        // A running watcher holds itself alive, so one being finalized is normally not
        // listed any more.
        if (listed(w->number, w)) remove_watcher(*w);
        promise = std::exchange(w->promise, nullptr);
    }
    if (promise != nullptr) quarn_dec(promise);
    delete_record(w);
}

constexpr quarn_external_class kSignalClass = {finalize_watcher, quarn::object::visit_nothing};

SignalWatcher &watcher_of(Value o) noexcept {
    return record_of<SignalWatcher>(o, &kSignalClass, "expected a signal object");
}

}  // namespace

}  // namespace quarn::uv

using namespace quarn;
using namespace quarn::uv;

extern "C" quarn_object *quarn_lean_uv_signal_mk(uint32_t number, uint8_t repeating) noexcept {
    auto *w = new_record<SignalWatcher>();
    w->number = accepted_signal_number(number);
    w->repeating = repeating != 0;
    w->owner = wrap_record(&kSignalClass, w);
    return io::io_ok(w->owner);
}

extern "C" quarn_object *quarn_lean_uv_signal_next(quarn_object *watcher) noexcept {
    SignalWatcher &w = watcher_of(watcher);
    ReleaseAfterUnlock releases;
    LoopGuard guard(loop_lock());
    return next(w, releases);
}

extern "C" quarn_object *quarn_lean_uv_signal_stop(quarn_object *watcher) noexcept {
    SignalWatcher &w = watcher_of(watcher);
    {
        ReleaseAfterUnlock releases;
        LoopGuard guard(loop_lock());
        stop(w, releases);
    }
    return io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_uv_signal_cancel(quarn_object *watcher) noexcept {
    SignalWatcher &w = watcher_of(watcher);
    {
        ReleaseAfterUnlock releases;
        LoopGuard guard(loop_lock());
        cancel(w, releases);
    }
    return io::io_ok_unit();
}

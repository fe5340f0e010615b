// Signal watchers: a raised signal reaches its watchers' promises, one-shot and repeating
// watchers, stopping and cancelling, the action from before coming back, numbers that
// cannot be watched, and a signal that arrives after its watchers are gone.
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "quarn/udp_dns_signal.h"
#include "uv_testing.h"

namespace {

using namespace uv_testing;
using SignalTest = UvTest;

Value watcher(uint32_t number, bool repeating) { return ok(quarn_lean_uv_signal_mk(number, repeating)); }

// The value a promise resolved with (the signal's number), released.
size_t delivered(Value promise) {
    Value some = outcome(promise);
    quarn_dec(promise);
    EXPECT_EQ(quarn_obj_tag(some), 1u) << "the promise was dropped";
    size_t number = quarn_unbox(quarn_ctor_get(some, 0));
    quarn_dec(some);
    return number;
}

void (*current_handler(int number))(int) {
    struct sigaction now {};
    sigaction(number, nullptr, &now);
    return now.sa_handler;
}

std::atomic<int> host_handler_calls{0};
void host_handler(int) { host_handler_calls.fetch_add(1); }

TEST_F(SignalTest, TwoWatchersOfASignalBothSeeItAndThePreviousActionComesBack) {
    struct sigaction host {};
    host.sa_handler = host_handler;
    ASSERT_EQ(sigaction(SIGUSR1, &host, nullptr), 0);

    Value once = watcher(SIGUSR1, false);
    Value every = watcher(SIGUSR1, true);
    Value first = ok(quarn_lean_uv_signal_next(once));
    Value second = ok(quarn_lean_uv_signal_next(every));
    EXPECT_NE(current_handler(SIGUSR1), host_handler);
    ::raise(SIGUSR1);
    EXPECT_EQ(delivered(first), size_t{SIGUSR1});
    EXPECT_EQ(delivered(second), size_t{SIGUSR1});
    // The one-shot watcher is done; the repeating one sees the next delivery too.
    Value again = ok(quarn_lean_uv_signal_next(every));
    ::raise(SIGUSR1);
    EXPECT_EQ(delivered(again), size_t{SIGUSR1});
    settle_reactor();
    EXPECT_NE(current_handler(SIGUSR1), host_handler);
    EXPECT_EQ(ok(quarn_lean_uv_signal_stop(every)), quarn_box(0));
    // The last watcher gone, the host's own handler is back and nothing of ours catches it.
    EXPECT_EQ(current_handler(SIGUSR1), host_handler);
    ::raise(SIGUSR1);
    EXPECT_EQ(host_handler_calls.load(), 1);
    quarn_dec(once);
    quarn_dec(every);
    signal(SIGUSR1, SIG_DFL);
}

TEST_F(SignalTest, AStoppedOrCancelledWatcherNoLongerReceives) {
    signal(SIGUSR2, SIG_IGN);  // a delivery nobody watches must not end the test
    Value w = watcher(SIGUSR2, false);
    Value pending = ok(quarn_lean_uv_signal_next(w));
    EXPECT_EQ(ok(quarn_lean_uv_signal_cancel(w)), quarn_box(0));
    EXPECT_TRUE(reads_none_once_dropped(pending));
    EXPECT_EQ(current_handler(SIGUSR2), SIG_IGN) << "a cancelled one-shot watcher stops watching";
    // After a cancel, `next` starts it again.
    Value resumed = ok(quarn_lean_uv_signal_next(w));
    ::raise(SIGUSR2);
    EXPECT_EQ(delivered(resumed), size_t{SIGUSR2});

    Value r = watcher(SIGUSR2, true);
    Value p = ok(quarn_lean_uv_signal_next(r));
    EXPECT_EQ(ok(quarn_lean_uv_signal_stop(r)), quarn_box(0));
    EXPECT_TRUE(reads_none_once_dropped(p));
    // Stopped for good: `next` hands out a promise that nothing resolves.
    Value after = ok(quarn_lean_uv_signal_next(r));
    ::raise(SIGUSR2);
    settle_reactor();
    EXPECT_FALSE(promise_resolved_now(after));
    quarn_dec(after);
    EXPECT_EQ(current_handler(SIGUSR2), SIG_IGN);
    quarn_dec(w);
    quarn_dec(r);
    signal(SIGUSR2, SIG_DFL);
}

// Numbers that cannot be watched become 0, for which no handler can be installed: the
// error comes back, the watcher is left as it was, and a second watcher gets the error
// too instead of a promise that nothing would ever resolve.
TEST_F(SignalTest, UnwatchableNumbersFailWithoutLeavingAWatcherBehind) {
    for (uint32_t number : {9u, 19u, 0u, 32u, 1000u}) {
        Value w = watcher(number, true);
        EXPECT_EQ(error_of(quarn_lean_uv_signal_next(w)).number, uint32_t(EINVAL)) << number;
        EXPECT_EQ(error_of(quarn_lean_uv_signal_next(w)).number, uint32_t(EINVAL)) << number;
        EXPECT_EQ(ok(quarn_lean_uv_signal_stop(w)), quarn_box(0));
        quarn_dec(w);
    }
}

TEST_F(SignalTest, AWatcherDroppedWhileWaitingKeepsItselfAlive) {
    Value w = watcher(SIGWINCH, false);
    Value pending = ok(quarn_lean_uv_signal_next(w));
    quarn_dec(w);  // the running watcher holds itself
    ::raise(SIGWINCH);
    EXPECT_EQ(delivered(pending), size_t{SIGWINCH});
    settle_reactor();
    EXPECT_EQ(current_handler(SIGWINCH), SIG_DFL);
    // Arriving after every watcher is gone, the signal does what it did before.
    ::raise(SIGWINCH);
}

TEST(SignalDeathTest, ExpectedASignalObject) {
    EXPECT_INTERNAL_PANIC(quarn_lean_uv_signal_next(quarn_box(3)), "expected a signal object");
}

}  // namespace

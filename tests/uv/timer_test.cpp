// Timers: one-shot and repeating firings, reset, stop, cancel, the order of timers due at
// the same instant, timers dropped while armed, and many timers at once.
#include <mutex>
#include <vector>

#include "quarn/closure.h"
#include "uv/timer_heap.h"
#include "uv_testing.h"

namespace {

using namespace uv_testing;
using TimerTest = UvTest;

Value new_timer(uint64_t timeout_ms, bool repeating) { return ok(quarn_lean_uv_timer_mk(timeout_ms, repeating)); }

Value next(Value timer) { return ok(quarn_lean_uv_timer_next(timer)); }

// A firing resolves the promise with `some ()`.
bool fired(Value promise) {
    Value some = outcome(promise);
    quarn_dec(promise);
    bool ok = quarn_obj_tag(some) == 1 && quarn_ctor_get(some, 0) == quarn_box(0);
    quarn_dec(some);
    return ok;
}

TEST_F(TimerTest, AOneShotTimerFiresOnceAndKeepsItsPromise) {
    Value timer = new_timer(5, false);
    Value first = next(timer);
    Value second = next(timer);
    EXPECT_EQ(first, second) << "a one-shot timer's second next returns the same promise";
    quarn_dec(second);
    EXPECT_TRUE(fired(first));
    Value after = next(timer);
    EXPECT_TRUE(promise_resolved_now(after));
    quarn_dec(after);
    quarn_dec(timer);
}

TEST_F(TimerTest, ARepeatingTimerFiresAtOnceThenAgainAndAgain) {
    Value timer = new_timer(2, true);
    Value previous = nullptr;
    for (int round = 0; round < 4; ++round) {
        Value promise = next(timer);
        EXPECT_NE(promise, previous) << "each round gets a new promise once the last one is resolved";
        previous = promise;
        quarn_inc(promise);
        EXPECT_TRUE(fired(promise)) << "round " << round;
        quarn_dec(promise);
    }
    EXPECT_EQ(ok(quarn_lean_uv_timer_stop(timer)), quarn_box(0));
    quarn_dec(timer);
}

TEST_F(TimerTest, ResetOnATimerNeverArmedDoesNothing) {
    Value timer = new_timer(0, false);
    EXPECT_EQ(ok(quarn_lean_uv_timer_reset(timer)), quarn_box(0));
    // Had reset armed it, the entry would come due now and fire a timer that is not
    // running: the process would stop.
    settle_reactor();
    settle_reactor();
    size_t registered = quarn::uv::detail::timer_count();
    quarn_dec(timer);  // not armed, so nothing keeps it alive
    EXPECT_EQ(quarn::uv::detail::timer_count(), registered - 1);
}

TEST_F(TimerTest, ResetArmedTimerFiresOnceOnly) {
    // Every reset leaves stale heap entries behind: a second firing of a one-shot timer
    // would end the process with "one-shot timer promise resolved twice".
    Value timer = new_timer(3, false);
    Value promise = next(timer);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(ok(quarn_lean_uv_timer_reset(timer)), quarn_box(0));
    EXPECT_TRUE(fired(promise));
    settle_reactor();
    quarn_dec(timer);
}

TEST_F(TimerTest, ATimerStoppedBeforeItsFirstNextNeverFires) {
    Value timer = new_timer(1, false);
    EXPECT_EQ(ok(quarn_lean_uv_timer_stop(timer)), quarn_box(0));
    Value promise = next(timer);
    // Nothing holds the promise but this test: if the timer had armed, it would keep and
    // resolve it instead.
    EXPECT_TRUE(reads_none_once_dropped(promise));
    Value repeating = new_timer(1, true);
    EXPECT_EQ(ok(quarn_lean_uv_timer_stop(repeating)), quarn_box(0));
    EXPECT_TRUE(reads_none_once_dropped(next(repeating)));
    quarn_dec(repeating);
    quarn_dec(timer);
}

TEST_F(TimerTest, StoppingAnArmedTimerDropsItsPromiseAndItsSelfReference) {
    Value timer = new_timer(60'000, false);
    Value promise = next(timer);
    EXPECT_EQ(ok(quarn_lean_uv_timer_stop(timer)), quarn_box(0));
    EXPECT_TRUE(reads_none_once_dropped(promise));
    EXPECT_TRUE(reads_none_once_dropped(next(timer))) << "a stopped timer stays stopped";
    quarn_dec(timer);  // the last reference: the fixture sees it freed
}

TEST_F(TimerTest, CancellingAOneShotTimerLetsTheNextNextArmItAgain) {
    Value timer = new_timer(60'000, false);
    Value promise = next(timer);
    EXPECT_EQ(ok(quarn_lean_uv_timer_cancel(timer)), quarn_box(0));
    EXPECT_TRUE(reads_none_once_dropped(promise));
    // Armed anew with a short timeout it would still wait a minute: a timer of 1 ms shows
    // the re-arming.
    quarn_dec(timer);
    Value quick = new_timer(1, false);
    Value first = next(quick);
    EXPECT_EQ(ok(quarn_lean_uv_timer_cancel(quick)), quarn_box(0));
    quarn_dec(first);
    EXPECT_TRUE(fired(next(quick)));
    quarn_dec(quick);
}

TEST_F(TimerTest, CancellingARepeatingTimerKeepsItRunning) {
    Value timer = new_timer(1, true);
    Value first = next(timer);
    EXPECT_TRUE(fired(first));
    Value second = next(timer);
    EXPECT_EQ(ok(quarn_lean_uv_timer_cancel(timer)), quarn_box(0));
    quarn_dec(second);
    EXPECT_TRUE(fired(next(timer)));
    EXPECT_EQ(ok(quarn_lean_uv_timer_stop(timer)), quarn_box(0));
    quarn_dec(timer);
}

TEST_F(TimerTest, ATimerDroppedWhileArmedStillFires) {
    Value timer = new_timer(5, false);
    Value promise = next(timer);
    quarn_dec(timer);
    EXPECT_TRUE(fired(promise));
    // The fixture checks that the timer freed itself after firing.
}

// Timers due at the same instant fire in the order they were scheduled. Synchronous
// continuations run on the reactor thread as each promise is resolved.
std::mutex order_lock;
std::vector<size_t> order;

Value record_firing(Value index, Value some) {
    {
        std::scoped_lock lock(order_lock);
        order.push_back(quarn_unbox(index));
    }
    quarn_dec(some);
    return quarn_box(0);
}

TEST_F(TimerTest, TimersDueTogetherFireInTheOrderTheyWereScheduled) {
    order.clear();
    constexpr size_t kTimers = 300;
    std::vector<Value> timers, continuations;
    for (size_t i = 0; i < kTimers; ++i) timers.push_back(new_timer(0, false));
    for (size_t i = 0; i < kTimers; ++i) {
        Value promise = next(timers[i]);
        Value f = quarn_alloc_closure(reinterpret_cast<void *>(record_firing), 2, 1);
        reinterpret_cast<quarn_closure_object *>(f)->args[0] = quarn_box(i);
        continuations.push_back(quarn_lean_task_map(f, quarn_lean_io_promise_result_opt(promise), quarn_box(0), 1));
        quarn_dec(promise);
    }
    wait_until([&] { std::scoped_lock lock(order_lock); return order.size() == kTimers; }, "every timer to fire");
    for (size_t i = 0; i < kTimers; ++i) EXPECT_EQ(order[i], i);
    for (Value c : continuations) quarn_dec(c);
    for (Value t : timers) quarn_dec(t);
}

TEST(TimerHeap, EntriesComeOutByDeadlineThenSchedulingOrder) {
    quarn::uv::TimerHeap heap;
    quarn::uv::Instant same{100, 5};
    heap.push(7, 0, same);
    heap.push(3, 0, {100, 4});
    heap.push(1, 0, same);
    heap.push(9, 2, {99, 999'999'999});
    heap.push(2, 0, same);
    std::vector<uint64_t> ids;
    while (!heap.empty()) ids.push_back(heap.pop().timer_id);
    EXPECT_EQ(ids, (std::vector<uint64_t>{9, 3, 7, 1, 2}));
}

TEST(TimerClock, DeadlinesSaturateAndTimeoutsRoundUp) {
    using quarn::uv::after;
    using quarn::uv::Instant;
    using quarn::uv::milliseconds_until;
    EXPECT_EQ(after({1, 999'000'000}, 1'500), (Instant{3, 499'000'000}));
    EXPECT_EQ(after({5, 0}, UINT64_MAX), (Instant{18'446'744'073'709'556, 615'000'000}));
    EXPECT_EQ(after({INT64_MAX - 1, 0}, 5'000), (Instant{INT64_MAX, 999'999'999})) << "saturated";
    EXPECT_EQ(milliseconds_until({10, 0}, {10, 1}), 1) << "rounded up";
    EXPECT_EQ(milliseconds_until({10, 5}, {10, 0}), 0) << "past";
    EXPECT_EQ(milliseconds_until({0, 0}, {INT64_MAX, 0}), 2'147'483'647);
}

TEST_F(TimerTest, TenThousandTimersAllFire) {
    constexpr size_t kTimers = 10'000;
    std::vector<Value> promises;
    for (size_t i = 0; i < kTimers; ++i) {
        Value timer = new_timer(i % 20, false);
        promises.push_back(next(timer));
        quarn_dec(timer);  // armed timers keep themselves alive
    }
    size_t fired_count = 0;
    for (Value p : promises) fired_count += fired(p);
    EXPECT_EQ(fired_count, kTimers);
}

TEST_F(TimerTest, HighResolutionTimeStartsAtOneAndNeverGoesBack) {
    Value first = ok(quarn_lean_uv_hrtime());
    Value second = ok(quarn_lean_uv_hrtime());
    EXPECT_GE(quarn_unbox_uint64(first), 1u);
    EXPECT_GE(quarn_unbox_uint64(second), quarn_unbox_uint64(first));
    quarn_dec(first);
    quarn_dec(second);
    EXPECT_EQ(quarn_lean_uv_event_loop_alive(), 1);
    EXPECT_EQ(quarn_lean_uv_event_loop_configure(quarn_box(0)), quarn_box(0));
}

TEST(TimerDeathTest, AnotherObjectIsNotATimer) {
    EXPECT_INTERNAL_PANIC(quarn_lean_uv_timer_next(ok(quarn_lean_uv_tcp_new())), "expected a timer object");
    EXPECT_INTERNAL_PANIC(quarn_lean_uv_timer_stop(quarn_lean_io_basemutex_new()), "expected a timer object");
}

TEST(EventLoopLock, IsRecursiveAndExcludesOtherThreads) {
    quarn::uv::EventLoopLock lock;
    int shared = 0;
    auto work = [&] {
        for (int i = 0; i < 10'000; ++i) {
            lock.lock();
            lock.lock();
            ++shared;
            lock.unlock();
            EXPECT_TRUE(lock.held_by_this_thread());
            lock.unlock();
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(shared, 20'000);
    EXPECT_FALSE(lock.held_by_this_thread());
}

}  // namespace

// Mutexes and condition variables, used from several threads.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "quarn/task.h"
#include "testing.h"

namespace {

using Value = quarn_object *;
using SyncTest = kit::LiveObjectsTest;

// Waits at most 20 s for condition(); a hang ends the program with a message.
template <typename Condition>
void wait_until(Condition condition, const char *what) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "gave up waiting for %s\n", what);
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

TEST_F(SyncTest, ABaseMutexHasNoOwner) {
    Value m = quarn_lean_io_basemutex_new();
    EXPECT_EQ(quarn_lean_io_basemutex_lock(m), quarn_box(0));
    std::thread other([m] {
        EXPECT_EQ(quarn_lean_io_basemutex_try_lock(m), 0) << "held by the test thread";
        quarn_lean_io_basemutex_unlock(m);  // any thread may unlock
    });
    other.join();
    EXPECT_EQ(quarn_lean_io_basemutex_try_lock(m), 1);
    quarn_lean_io_basemutex_unlock(m);
    quarn_dec(m);
}

TEST_F(SyncTest, ABaseMutexKeepsACounterExact) {
    Value m = quarn_lean_io_basemutex_new();
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                quarn_lean_io_basemutex_lock(m);
                ++counter;
                quarn_lean_io_basemutex_unlock(m);
            }
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(counter, 80000);
    quarn_dec(m);
}

TEST_F(SyncTest, ARecursiveMutexCountsItsOwnersLocks) {
    Value m = quarn_lean_io_baserecmutex_new();
    quarn_lean_io_baserecmutex_lock(m);
    EXPECT_EQ(quarn_lean_io_baserecmutex_try_lock(m), 1) << "the owner locks again";
    quarn_lean_io_baserecmutex_unlock(m);
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        EXPECT_EQ(quarn_lean_io_baserecmutex_try_lock(m), 0);
        quarn_lean_io_baserecmutex_lock(m);
        acquired = true;
        quarn_lean_io_baserecmutex_unlock(m);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(acquired) << "still held once";
    quarn_lean_io_baserecmutex_unlock(m);
    other.join();
    EXPECT_TRUE(acquired);
    quarn_dec(m);
}

TEST_F(SyncTest, AWriterIsAdmittedOnceTheLastReaderLeaves) {
    Value m = quarn_lean_io_basesharedmutex_new();
    quarn_lean_io_basesharedmutex_read(m);
    EXPECT_EQ(quarn_lean_io_basesharedmutex_try_read(m), 1) << "readers share";
    EXPECT_EQ(quarn_lean_io_basesharedmutex_try_write(m), 0);
    std::atomic<bool> writing{false};
    std::thread writer([&] {
        quarn_lean_io_basesharedmutex_write(m);
        writing = true;
        quarn_lean_io_basesharedmutex_unlock_write(m);
    });
    quarn_lean_io_basesharedmutex_unlock_read(m);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(writing) << "one reader is left";
    quarn_lean_io_basesharedmutex_unlock_read(m);
    writer.join();
    EXPECT_TRUE(writing);
    EXPECT_EQ(quarn_lean_io_basesharedmutex_try_write(m), 1);
    EXPECT_EQ(quarn_lean_io_basesharedmutex_try_read(m), 0) << "a writer excludes readers";
    quarn_lean_io_basesharedmutex_unlock_write(m);
    quarn_dec(m);
}

TEST_F(SyncTest, AConditionWaitSeesOnlyLaterNotifications) {
    Value cv = quarn_lean_io_condvar_new();
    Value m = quarn_lean_io_basemutex_new();
    quarn_lean_io_condvar_notify_one(cv);  // no waiter yet: nothing is stored for later ones
    std::atomic<int> stage{0};
    std::thread waiter([&] {
        quarn_lean_io_basemutex_lock(m);
        stage = 1;
        quarn_lean_io_condvar_wait(cv, m);
        stage = 2;
        quarn_lean_io_basemutex_unlock(m);
    });
    wait_until([&] { return stage == 1; }, "the waiter to start");
    // Once the mutex is free again, the waiter is inside its wait.
    quarn_lean_io_basemutex_lock(m);
    EXPECT_EQ(stage, 1);
    quarn_lean_io_condvar_notify_all(cv);
    quarn_lean_io_basemutex_unlock(m);
    waiter.join();
    EXPECT_EQ(stage, 2);
    quarn_dec(cv);
    quarn_dec(m);
}

TEST_F(SyncTest, AProducerAndConsumersHandOverEveryItem) {
    Value cv = quarn_lean_io_condvar_new();
    Value m = quarn_lean_io_basemutex_new();
    int available = 0, consumed = 0;
    constexpr int kItems = 3000;
    std::vector<std::thread> consumers;
    for (int c = 0; c < 3; ++c)
        consumers.emplace_back([&] {
            quarn_lean_io_basemutex_lock(m);
            for (;;) {
                while (available == 0 && consumed < kItems) quarn_lean_io_condvar_wait(cv, m);
                if (consumed == kItems) break;
                --available;
                ++consumed;
            }
            quarn_lean_io_basemutex_unlock(m);
        });
    for (int i = 0; i < kItems; ++i) {
        quarn_lean_io_basemutex_lock(m);
        ++available;
        quarn_lean_io_basemutex_unlock(m);
        quarn_lean_io_condvar_notify_one(cv);
    }
    wait_until(
        [&] {
            quarn_lean_io_basemutex_lock(m);
            bool done = consumed == kItems;
            quarn_lean_io_basemutex_unlock(m);
            quarn_lean_io_condvar_notify_all(cv);
            return done;
        },
        "every item to be consumed");
    for (auto &t : consumers) t.join();
    quarn_dec(cv);
    quarn_dec(m);
}

TEST_F(SyncTest, MisuseStopsWithItsMessage) {
    Value m = quarn_lean_io_basemutex_new();
    Value r = quarn_lean_io_baserecmutex_new();
    Value s = quarn_lean_io_basesharedmutex_new();
    Value cv = quarn_lean_io_condvar_new();
    EXPECT_INTERNAL_PANIC(quarn_lean_io_basemutex_unlock(m), "unlocking a mutex that is not locked");
    EXPECT_INTERNAL_PANIC(quarn_lean_io_baserecmutex_unlock(r),
                          "unlocking a recursive mutex not held by the current thread");
    EXPECT_INTERNAL_PANIC(quarn_lean_io_basesharedmutex_unlock_read(s), "releasing a read lock that is not held");
    EXPECT_INTERNAL_PANIC(quarn_lean_io_basesharedmutex_unlock_write(s), "releasing a write lock that is not held");
    EXPECT_INTERNAL_PANIC(quarn_lean_io_condvar_wait(cv, m), "unlocking a mutex that is not locked");
    const char *wrong = "synchronization primitive of the wrong kind";
    EXPECT_INTERNAL_PANIC(quarn_lean_io_basemutex_lock(r), wrong);
    EXPECT_INTERNAL_PANIC(quarn_lean_io_baserecmutex_lock(m), wrong);
    EXPECT_INTERNAL_PANIC(quarn_lean_io_basesharedmutex_read(cv), wrong);
    EXPECT_INTERNAL_PANIC(quarn_lean_io_condvar_notify_one(m), wrong);
    EXPECT_INTERNAL_PANIC(quarn_lean_io_condvar_wait(cv, r), wrong);
    EXPECT_INTERNAL_PANIC(quarn_lean_io_basemutex_lock(quarn_box(1)), wrong);
    Value text = kit_string("not a mutex");
    EXPECT_INTERNAL_PANIC(quarn_lean_io_basemutex_try_lock(text), wrong);
    for (Value v : {m, r, s, cv, text}) quarn_dec(v);
}

}  // namespace

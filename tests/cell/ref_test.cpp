// Reference cells: the plain protocol of single-threaded cells, the exchange protocol of
// shared ones, and shared cells under contention.
#include <time.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "cell/wait.h"
#include "object/heap.h"
#include "object/heartbeat.h"
#include "quarn/closure.h"
#include "testing.h"

namespace {

using Value = quarn_object *;
using RefTest = kit::LiveObjectsTest;

Value leaf() { return quarn_alloc_ctor(0, 0, 0); }

Value &slot(Value cell) { return reinterpret_cast<quarn_ref_object *>(cell)->value; }

// ---- single-threaded cells ---------------------------------------------------------------

TEST_F(RefTest, ANewCellHoldsItsValue) {
    Value v = leaf();
    uint64_t heartbeats = quarn::object::heartbeats;
    Value cell = quarn_lean_st_mk_ref(v);
    EXPECT_EQ(quarn::object::heartbeats, heartbeats + 1);
    EXPECT_EQ(quarn_ptr_tag(cell), QUARN_TAG_REF);
    EXPECT_EQ(quarn::object::object_size(cell), 16u);
    EXPECT_EQ(slot(cell), v);
    EXPECT_EQ(v->rc, 1);
    quarn_dec(cell);
}

TEST_F(RefTest, SingleThreadedOperationsCountTheirValues) {
    Value a = leaf(), b = leaf(), c = leaf();
    quarn_inc(a);  // the test keeps a reference to a
    Value cell = quarn_lean_st_mk_ref(a);

    Value got = quarn_lean_st_ref_get(cell);
    EXPECT_EQ(got, a);
    EXPECT_EQ(a->rc, 3);
    quarn_dec(got);

    EXPECT_EQ(quarn_lean_st_ref_set(cell, b), quarn_box(0));
    EXPECT_EQ(a->rc, 1) << "set released the old value";
    EXPECT_EQ(slot(cell), b);

    EXPECT_EQ(quarn_lean_st_ref_swap(cell, c), b);
    EXPECT_EQ(b->rc, 1) << "the cell's reference moved to the caller";
    EXPECT_EQ(quarn_lean_st_ref_take(cell), c);
    EXPECT_EQ(slot(cell), nullptr);
    EXPECT_EQ(c->rc, 1);

    quarn_lean_st_ref_set(cell, quarn_box(4));  // refills an empty cell, releasing nothing
    EXPECT_EQ(quarn_lean_st_ref_get(cell), quarn_box(4));
    EXPECT_EQ(a->rc, 1);
    EXPECT_FALSE(quarn_is_mt(b) || quarn_is_mt(c)) << "single-threaded cells mark nothing";
    quarn_dec(a);
    quarn_dec(b);
    quarn_dec(c);
    quarn_dec(cell);
}

TEST_F(RefTest, TheInlineFastPathsAgreeWithTheExportedOnes) {
    Value a = leaf(), b = leaf();
    Value cell = quarn_lean_st_mk_ref(a);
    Value got = quarn_st_ref_get(cell);
    EXPECT_EQ(got, a);
    EXPECT_EQ(a->rc, 2);
    quarn_dec(got);
    EXPECT_EQ(quarn_st_ref_set(cell, b), quarn_box(0));
    EXPECT_EQ(slot(cell), b) << "a was released by the set";
    quarn_dec(quarn_lean_st_ref_take(cell));
    EXPECT_EQ(quarn_st_ref_set(cell, quarn_box(7)), quarn_box(0)) << "an empty cell is refilled";
    EXPECT_EQ(quarn_st_ref_get(cell), quarn_box(7));

    // Shared cells go the exported way: the new value is marked multi-threaded.
    quarn_mark_mt(cell);
    Value c = leaf();
    quarn_st_ref_set(cell, c);
    EXPECT_TRUE(quarn_is_mt(c));
    Value shared = quarn_st_ref_get(cell);
    EXPECT_EQ(shared, c);
    EXPECT_EQ(c->rc, -2);
    quarn_dec(shared);
    quarn_dec(cell);
}

TEST(RefDeathTest, TheInlineGetOfAnEmptyCellIsTheSamePanic) {
    EXPECT_INTERNAL_PANIC(
        {
            Value cell = quarn_lean_st_mk_ref(quarn_box(1));
            quarn_lean_st_ref_take(cell);
            quarn_st_ref_get(cell);
        },
        "null reference read");
}

TEST_F(RefTest, PointerEqualityIsIdentityOfCells) {
    Value v = leaf();
    quarn_inc(v);
    Value one = quarn_lean_st_mk_ref(v), other = quarn_lean_st_mk_ref(v);
    EXPECT_EQ(quarn_lean_st_ref_ptr_eq(one, one), 1);
    EXPECT_EQ(quarn_lean_st_ref_ptr_eq(one, other), 0) << "the same value in two cells";
    quarn_dec(one);
    quarn_dec(other);
}

TEST(RefDeathTest, ReadingAnEmptySingleThreadedCellIsAnInternalPanic) {
    auto emptied = [] {
        Value cell = quarn_lean_st_mk_ref(quarn_box(1));
        quarn_lean_st_ref_take(cell);
        return cell;
    };
    EXPECT_INTERNAL_PANIC(quarn_lean_st_ref_get(emptied()), "null reference read");
    EXPECT_INTERNAL_PANIC(quarn_lean_st_ref_swap(emptied(), quarn_box(2)), "null reference read");
    EXPECT_INTERNAL_PANIC(quarn_lean_st_ref_take(emptied()), "null reference read");
}

// ---- shared cells ------------------------------------------------------------------------

TEST_F(RefTest, SharedCellsMarkWhatTheyAreGiven) {
    Value cell = quarn_lean_st_mk_ref(quarn_box(0));
    quarn_mark_mt(cell);
    Value inner = leaf();
    Value v = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(v, 0, inner);
    quarn_lean_st_ref_set(cell, v);
    EXPECT_EQ(v->rc, -1);
    EXPECT_EQ(inner->rc, -1);

    Value got = quarn_lean_st_ref_get(cell);
    EXPECT_EQ(got, v);
    EXPECT_EQ(v->rc, -2);
    quarn_dec(got);

    Value w = leaf();
    EXPECT_EQ(quarn_lean_st_ref_swap(cell, w), v);
    EXPECT_EQ(w->rc, -1);
    EXPECT_EQ(v->rc, -1) << "the cell's reference moved to the caller";
    quarn_dec(v);
    EXPECT_EQ(quarn_lean_st_ref_take(cell), w);
    EXPECT_EQ(slot(cell), nullptr);
    quarn_dec(w);
    quarn_dec(cell);
}

TEST_F(RefTest, PersistentCellsTakeTheSharedProtocol) {
    Value cell = quarn_lean_st_mk_ref(quarn_box(0));
    quarn_mark_persistent(cell);
    Value v = leaf();
    quarn_lean_st_ref_set(cell, v);
    EXPECT_EQ(v->rc, -1) << "stored values are multi-threaded, not persistent";
    EXPECT_EQ(quarn_lean_st_ref_take(cell), v);
    quarn_dec(v);
    cell->rc = 1;  // let the test free it
    quarn_dec(cell);
}

TEST_F(RefTest, ATakenSharedCellMakesReadersWaitForASet) {
    Value cell = quarn_lean_st_mk_ref(quarn_box(1));
    quarn_mark_mt(cell);
    EXPECT_EQ(quarn_lean_st_ref_take(cell), quarn_box(1));
    std::atomic<Value> read{nullptr};
    std::thread reader([&] { read = quarn_lean_st_ref_get(cell); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(read.load(), nullptr) << "still waiting";
    quarn_lean_st_ref_set(cell, quarn_box(2));
    reader.join();
    EXPECT_EQ(read.load(), quarn_box(2));
    quarn_dec(cell);
}

// What a shared cell holds while an operation has its value out.
const Value kBusy = reinterpret_cast<Value>(uintptr_t{2});

// A swap or a set that meets the cell held by a get waits for the get to put the value
// back; neither may store into the cell meanwhile.
TEST_F(RefTest, SwapAndSetWaitForAGetThatHoldsTheValue) {
    Value old_value = leaf(), new_value = leaf(), set_value = leaf();
    Value cell = quarn_lean_st_mk_ref(old_value);
    quarn_mark_mt(cell);
    // This thread plays a get: it holds the value out of the cell...
    Value held = __atomic_exchange_n(&slot(cell), kBusy, __ATOMIC_ACQ_REL);
    ASSERT_EQ(held, old_value);
    std::atomic<Value> swapped{nullptr};
    std::thread swapper([&] { swapped = quarn_lean_st_ref_swap(cell, new_value); });
    std::thread setter([&] { quarn_lean_st_ref_set(cell, set_value); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(swapped.load(), nullptr);
    EXPECT_EQ(slot(cell), kBusy) << "nothing was stored over a held value";
    // ... and puts it back, finding its marker still there.
    EXPECT_EQ(__atomic_exchange_n(&slot(cell), held, __ATOMIC_ACQ_REL), kBusy);
    quarn::cell::wake_waiters(&slot(cell));
    swapper.join();
    setter.join();
    // The swap and the set ran in some order after the get: the cell holds the later one's
    // value and the earlier one's value was released or returned.
    Value now = quarn_lean_st_ref_take(cell);
    if (now == new_value) {  // the set came first (releasing the old value), then the swap
        EXPECT_EQ(swapped.load(), set_value);
        quarn_dec(set_value);
    } else {  // the swap came first and returned the old value; the set released the new one
        EXPECT_EQ(now, set_value);
        EXPECT_EQ(swapped.load(), old_value);
        quarn_dec(old_value);
    }
    quarn_dec(now);
    quarn_dec(cell);
}

// A completed set is never undone: a get that held the old value meanwhile puts it back
// before the set stores, so the setter's own next get sees what it stored.
TEST_F(RefTest, ASetRacingWithGetsIsSeenByTheSettersNextGet) {
    constexpr int kRounds = 100000;
    Value cell = quarn_lean_st_mk_ref(quarn_box(0));
    quarn_mark_mt(cell);
    std::atomic<bool> done{false};
    std::vector<std::thread> getters;
    for (int i = 0; i < 2; ++i) {
        getters.emplace_back([&] {
            while (!done.load(std::memory_order_relaxed)) quarn_dec(quarn_lean_st_ref_get(cell));
        });
    }
    int lost = 0;
    for (int round = 1; round <= kRounds; ++round) {
        quarn_lean_st_ref_set(cell, quarn_box(round));
        if (quarn_lean_st_ref_get(cell) != quarn_box(round)) ++lost;
    }
    done = true;
    for (auto &t : getters) t.join();
    EXPECT_EQ(lost, 0) << "sets undone by a concurrent get";
    quarn_dec(cell);
}

// A reader waiting for an empty cell sleeps instead of spinning: its processor time stays
// far below the wall time it waited.
TEST_F(RefTest, AWaitForAnEmptySharedCellSleeps) {
    Value cell = quarn_lean_st_mk_ref(quarn_box(1));
    quarn_mark_mt(cell);
    quarn_lean_st_ref_take(cell);
    std::atomic<double> cpu_seconds{0};
    std::thread reader([&] {
        timespec start, end;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        EXPECT_EQ(quarn_lean_st_ref_get(cell), quarn_box(2));
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        cpu_seconds = (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    quarn_lean_st_ref_set(cell, quarn_box(2));
    reader.join();
    EXPECT_LT(cpu_seconds.load(), 0.1) << "the reader spun while it waited";
    quarn_dec(cell);
}

// ---- contention --------------------------------------------------------------------------

// Values in the contention tests: a constructor of tag 7 holding its serial number. A value
// freed too early shows as a wrong tag (and to the sanitizers as a use after free).
Value token(size_t serial) {
    Value t = quarn_alloc_ctor(7, 1, 0);
    quarn_ctor_set(t, 0, quarn_box(serial));
    return t;
}
size_t serial_of(Value t) { return quarn_unbox(quarn_ctor_get(t, 0)); }
bool is_token(Value t) { return !quarn_is_scalar(t) && quarn_ptr_tag(t) == 7; }

template <typename Body>
void run_threads(int n, Body body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < n) {
            }
            body(i);
        });
    }
    for (auto &t : threads) t.join();
}

// With only swaps and gets, no value is made or dropped: the tokens held by the threads
// and the cell are always exactly the ones there were at the start.
TEST_F(RefTest, SwapsAndGetsUnderContentionKeepEveryValue) {
    constexpr int kThreads = 4, kRounds = 1000000;
    Value cell = quarn_lean_st_mk_ref(token(0));
    quarn_mark_mt(cell);
    std::vector<Value> held(kThreads);
    for (int i = 0; i < kThreads; ++i) held[i] = token(i + 1);
    std::atomic<int> bad{0};
    run_threads(kThreads, [&](int i) {
        Value mine = held[i];
        for (int round = 0; round < kRounds; ++round) {
            if (round % 2 == 0) {
                mine = quarn_lean_st_ref_swap(cell, mine);
                if (!is_token(mine)) bad++;
            } else {
                Value seen = quarn_lean_st_ref_get(cell);
                if (!is_token(seen)) bad++;
                quarn_dec(seen);
            }
        }
        held[i] = mine;
    });
    EXPECT_EQ(bad, 0);
    held.push_back(quarn_lean_st_ref_take(cell));
    std::vector<int> seen(kThreads + 1, 0);
    for (Value t : held) {
        ASSERT_TRUE(is_token(t));
        seen.at(serial_of(t))++;
        EXPECT_EQ(t->rc, -1) << "token " << serial_of(t);
    }
    EXPECT_EQ(seen, std::vector<int>(kThreads + 1, 1)) << "every token exactly once";
    for (Value t : held) quarn_dec(t);
    quarn_dec(cell);
}

// Every operation at once: the values made are all freed exactly once (the fixture
// counts live objects; the sanitizer builds see any early free).
TEST_F(RefTest, GetSetSwapAndTakeUnderContentionFreeEveryValueOnce) {
    constexpr int kThreads = 4, kRounds = 200000;
    Value cell = quarn_lean_st_mk_ref(token(0));
    quarn_mark_mt(cell);
    std::atomic<int> bad{0};
    run_threads(kThreads, [&](int i) {
        std::minstd_rand random(i + 1);
        size_t serial = (i + 1) * 1000000;
        for (int round = 0; round < kRounds; ++round) {
            switch (random() % 4) {
                case 0: {
                    Value seen = quarn_lean_st_ref_get(cell);
                    if (!is_token(seen)) bad++;
                    quarn_dec(seen);
                    break;
                }
                case 1:
                    quarn_lean_st_ref_set(cell, token(++serial));
                    break;
                case 2: {
                    Value old = quarn_lean_st_ref_swap(cell, token(++serial));
                    if (!is_token(old)) bad++;
                    quarn_dec(old);
                    break;
                }
                case 3: {
                    // Taken and refilled, as Lean's modify does.
                    Value taken = quarn_lean_st_ref_take(cell);
                    if (!is_token(taken)) bad++;
                    quarn_lean_st_ref_set(cell, taken);
                    break;
                }
            }
        }
    });
    EXPECT_EQ(bad, 0);
    quarn_dec(cell);
}

}  // namespace

// Thunks: evaluated at most once, whichever threads force them, and counted correctly.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "object/heap.h"
#include "object/heartbeat.h"
#include "quarn/closure.h"
#include "testing.h"

namespace {

using Value = quarn_object *;
using ThunkTest = kit::LiveObjectsTest;

std::atomic<int> evaluations{0};

// Arity 1 (the unit argument): a fresh constructor holding a count of evaluations.
Value compute(Value unit) {
    if (unit != quarn_box(0)) std::abort();
    Value v = quarn_alloc_ctor(3, 1, 0);
    quarn_ctor_set(v, 0, quarn_box(static_cast<size_t>(++evaluations)));
    return v;
}

// Arity 2 with the first argument fixed: the thunk's closure is a partial application.
Value compute_pair(Value first, Value unit) {
    Value v = quarn_alloc_ctor(4, 2, 0);
    quarn_ctor_set(v, 0, first);
    quarn_ctor_set(v, 1, unit);
    ++evaluations;
    return v;
}

Value closure_of(void *code) { return quarn_alloc_closure(code, 1, 0); }

TEST_F(ThunkTest, APureThunkReturnsItsValueWithoutApplyingAnything) {
    Value v = quarn_alloc_ctor(0, 0, 0);
    uint64_t heartbeats = quarn::object::heartbeats;
    Value t = quarn_lean_thunk_pure(v);
    EXPECT_EQ(quarn::object::heartbeats, heartbeats + 1);
    EXPECT_EQ(quarn_ptr_tag(t), QUARN_TAG_THUNK);
    EXPECT_EQ(quarn::object::object_size(t), 24u);
    EXPECT_EQ(quarn_lean_thunk_get_own(t), v);
    EXPECT_EQ(v->rc, 2) << "a pure value is not marked: still single-threaded";
    quarn_dec(v);
    quarn_dec(t);
}

TEST_F(ThunkTest, ForcingTwiceAppliesTheClosureOnce) {
    evaluations = 0;
    uint64_t heartbeats = quarn::object::heartbeats;
    Value t = quarn_lean_mk_thunk(closure_of(reinterpret_cast<void *>(&compute)));
    EXPECT_EQ(quarn::object::heartbeats, heartbeats + 1);
    auto *fields = reinterpret_cast<quarn_thunk_object *>(t);
    EXPECT_EQ(fields->value, nullptr);
    int64_t live = quarn::object::live_objects();

    Value first = quarn_lean_thunk_get_own(t);
    EXPECT_EQ(evaluations, 1);
    EXPECT_EQ(fields->closure, nullptr);
    EXPECT_EQ(fields->value, first);
    EXPECT_EQ(first->rc, -2) << "multi-threaded; held by the thunk and the caller";
    EXPECT_EQ(quarn::object::live_objects(), live) << "the closure went, the value came";

    Value second = quarn_lean_thunk_get_own(t);
    EXPECT_EQ(second, first);
    EXPECT_EQ(evaluations, 1);
    EXPECT_EQ(first->rc, -3);
    quarn_dec(first);
    quarn_dec(second);
    EXPECT_EQ(first->rc, -1);
    quarn_dec(t);
}

TEST_F(ThunkTest, TheClosureMayBeAPartialApplication) {
    evaluations = 0;
    Value held = quarn_alloc_ctor(0, 0, 0);
    Value c = quarn_alloc_closure(reinterpret_cast<void *>(&compute_pair), 2, 1);
    quarn_closure_set(c, 0, held);
    Value t = quarn_lean_mk_thunk(c);
    Value v = quarn_lean_thunk_get_own(t);
    EXPECT_EQ(quarn_ctor_get(v, 0), held);
    EXPECT_EQ(quarn_ctor_get(v, 1), quarn_box(0));
    EXPECT_EQ(held->rc, -1) << "marked along with the value, owned only by it";
    quarn_dec(v);
    quarn_dec(t);
}

// Arity 1: waits a little so that the other threads find the closure taken.
Value compute_slowly(Value unit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return compute(unit);
}

// Forces each thunk from `threads` threads started together; returns what each got.
std::vector<std::vector<Value>> force_together(const std::vector<Value> &thunks, int threads) {
    std::vector<std::vector<Value>> got(threads);
    std::atomic<int> ready{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < threads) {
            }
            for (Value t : thunks) got[i].push_back(quarn_lean_thunk_get_own(t));
        });
    }
    for (auto &w : workers) w.join();
    return got;
}

TEST_F(ThunkTest, ForcedFromSeveralThreadsTheClosureRunsOnceAndEveryoneGetsTheValue) {
    evaluations = 0;
    constexpr int kThreads = 4;
    Value t = quarn_lean_mk_thunk(closure_of(reinterpret_cast<void *>(&compute_slowly)));
    quarn_mark_mt(t);
    auto got = force_together({t}, kThreads);
    EXPECT_EQ(evaluations, 1);
    Value v = got[0][0];
    for (auto &one : got) EXPECT_EQ(one[0], v);
    EXPECT_EQ(v->rc, -(1 + kThreads));
    for (auto &one : got) quarn_dec(one[0]);
    quarn_dec(t);
}

TEST_F(ThunkTest, ManyThunksRacedBySeveralThreads) {
    evaluations = 0;
    constexpr int kThreads = 4, kThunks = 500;
    std::vector<Value> thunks;
    for (int i = 0; i < kThunks; ++i) {
        thunks.push_back(quarn_lean_mk_thunk(closure_of(reinterpret_cast<void *>(&compute))));
        quarn_mark_mt(thunks.back());
    }
    auto got = force_together(thunks, kThreads);
    EXPECT_EQ(evaluations, kThunks) << "each closure ran exactly once";
    for (int i = 0; i < kThunks; ++i) {
        for (auto &one : got) EXPECT_EQ(one[i], got[0][i]);
        EXPECT_EQ(got[0][i]->rc, -(1 + kThreads));
    }
    for (auto &one : got)
        for (Value v : one) quarn_dec(v);
    for (Value t : thunks) quarn_dec(t);
}

Value no_value(Value) { return nullptr; }

Value self_forcing_thunk = nullptr;
Value force_self(Value) { return quarn_lean_thunk_get_own(self_forcing_thunk); }

TEST(ThunkDeathTest, ClosureReturningNoValueIsAnInternalPanic) {
    EXPECT_INTERNAL_PANIC(
        quarn_lean_thunk_get_own(quarn_lean_mk_thunk(closure_of(reinterpret_cast<void *>(&no_value)))),
        "thunk closure returned no value");
}

TEST(ThunkDeathTest, AThunkForcingItselfIsAnInternalPanic) {
    EXPECT_INTERNAL_PANIC(
        {
            self_forcing_thunk = quarn_lean_mk_thunk(closure_of(reinterpret_cast<void *>(&force_self)));
            quarn_lean_thunk_get_own(self_forcing_thunk);
        },
        "thunk forced during its own evaluation");
}

}  // namespace

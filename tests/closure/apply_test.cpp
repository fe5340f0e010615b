// Closures: allocation, and application with fewer, exactly as many and more arguments
// than the closure waits for, for closures used once and closures shared.
#include <array>
#include <cstring>
#include <thread>

#include "codes.h"
#include "object/heap.h"
#include "object/heartbeat.h"
#include "testing.h"

namespace {

using namespace codes;
using ClosureTest = kit::LiveObjectsTest;

Value leaf() { return quarn_alloc_ctor(0, 0, 0); }

uint64_t header_word(const quarn_object *o) {
    uint64_t word;
    std::memcpy(&word, o, sizeof word);
    return word;
}

// ---- allocation --------------------------------------------------------------------------

TEST_F(ClosureTest, AllocationWritesHeaderSizeAndFields) {
    uint64_t heartbeats = quarn::object::heartbeats;
    void *code = collector<3>();
    Value c = quarn_alloc_closure(code, 3, 2);
    EXPECT_EQ(quarn::object::heartbeats, heartbeats) << "closures do not count a heartbeat";
    EXPECT_EQ(header_word(c), 0xF500000000000001u);
    EXPECT_EQ(quarn::object::object_size(c), 24u + 16u);
    EXPECT_EQ(quarn_closure_code(c), code);
    EXPECT_EQ(quarn_closure_arity(c), 3u);
    EXPECT_EQ(quarn_closure_num_fixed(c), 2u);
    quarn_closure_set(c, 0, quarn_box(1));
    quarn_closure_set(c, 1, quarn_box(2));
    quarn_dec(c);

    Value widest = quarn_alloc_closure(code, 65535, 0);
    EXPECT_EQ(quarn_closure_arity(widest), 65535u);
    quarn_dec(widest);
}

TEST_F(ClosureTest, AllocationOutOfBoundsIsAnInternalPanic) {
    void *code = collector<2>();
    EXPECT_INTERNAL_PANIC(quarn_alloc_closure(code, 2, 2),
                          "invalid closure allocation (arity 2, 2 fixed arguments)");
    EXPECT_INTERNAL_PANIC(quarn_alloc_closure(code, 1, 7),
                          "invalid closure allocation (arity 1, 7 fixed arguments)");
    EXPECT_INTERNAL_PANIC(quarn_alloc_closure(nullptr, 3, 0),
                          "invalid closure allocation (arity 3, 0 fixed arguments)");
    EXPECT_INTERNAL_PANIC(quarn_alloc_closure(code, 0, 0),
                          "invalid closure allocation (arity 0, 0 fixed arguments)");
    // 65536 would be stored as arity 0 in the 16-bit field.
    EXPECT_INTERNAL_PANIC(quarn_alloc_closure(code, 65536, 1),
                          "invalid closure allocation (arity 65536, 1 fixed arguments)");
}

// ---- exact application -------------------------------------------------------------------

TEST_F(ClosureTest, ExactApplicationOfAnExclusiveClosureMovesItsFixedArguments) {
    Value x = leaf(), y = leaf();
    Value c = closure(collector<2>(), 2, {x});
    int64_t live = quarn::object::live_objects();
    Value r = quarn_apply_1(c, y);
    EXPECT_EQ(rc_on_entry, (std::vector<int32_t>{1, 1})) << "no increment for a moved argument";
    EXPECT_EQ(fields_of(r), (std::vector<Value>{x, y}));
    EXPECT_EQ(x->rc, 1);
    EXPECT_EQ(quarn::object::live_objects(), live) << "the closure is freed, the result is new";
    quarn_dec(r);
}

TEST_F(ClosureTest, ExactApplicationOfASharedClosureCountsItsFixedArguments) {
    Value x = leaf(), y = leaf();
    Value c = closure(collector<2>(), 2, {x});
    quarn_inc(c);
    Value r = quarn_apply_1(c, y);
    EXPECT_EQ(rc_on_entry, (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(c->rc, 1) << "the applied reference is dropped";
    EXPECT_EQ(x->rc, 2) << "held by the closure and by the result";
    quarn_dec(r);
    EXPECT_EQ(x->rc, 1);
    quarn_dec(c);
}

TEST_F(ClosureTest, ExactApplicationAbove16ArgumentsPassesAnArrayAndNeverMoves) {
    Value x = leaf();
    Value c = closure(collector<17>(), 17, {x});
    std::array<Value, 16> args;
    for (size_t i = 0; i < args.size(); ++i) args[i] = quarn_box(i + 1);
    Value r = quarn_apply_m(c, args.size(), args.data());
    ASSERT_EQ(rc_on_entry.size(), 17u);
    EXPECT_EQ(rc_on_entry[0], 2) << "no exclusive shortcut above 16 arguments";
    std::vector<Value> got = fields_of(r);
    EXPECT_EQ(got[0], x);
    for (size_t i = 1; i < 17; ++i) EXPECT_EQ(got[i], quarn_box(i));
    EXPECT_EQ(args[0], quarn_box(1)) << "the caller's array is left as it was";
    EXPECT_EQ(x->rc, 1) << "the closure's reference is gone with the closure";
    quarn_dec(r);
}

// ---- under-application -------------------------------------------------------------------

TEST_F(ClosureTest, UnderApplicationOfAnExclusiveClosureReusesItsFixedArguments) {
    Value x = leaf(), y = leaf();
    void *code = collector<3>();
    Value c = closure(code, 3, {x});
    int64_t live = quarn::object::live_objects();
    int before = calls;
    Value g = quarn_apply_1(c, y);
    EXPECT_EQ(calls, before) << "nothing is called";
    EXPECT_EQ(quarn::object::live_objects(), live) << "the old closure is freed";
    EXPECT_EQ(quarn_closure_code(g), code);
    EXPECT_EQ(quarn_closure_arity(g), 3u);
    ASSERT_EQ(quarn_closure_num_fixed(g), 2u);
    EXPECT_EQ(quarn_closure_get(g, 0), x);
    EXPECT_EQ(quarn_closure_get(g, 1), y);
    EXPECT_EQ(x->rc, 1);
    Value r = quarn_apply_1(g, quarn_box(5));
    EXPECT_EQ(fields_of(r), (std::vector<Value>{x, y, quarn_box(5)}));
    quarn_dec(r);
}

TEST_F(ClosureTest, UnderApplicationOfASharedClosureCopiesItsFixedArguments) {
    Value x = leaf();
    Value c = closure(collector<4>(), 4, {x});
    quarn_inc(c);
    int before = calls;
    Value g = quarn_apply_2(c, quarn_box(1), quarn_box(2));
    EXPECT_EQ(calls, before);
    EXPECT_NE(g, c);
    EXPECT_EQ(c->rc, 1);
    EXPECT_EQ(x->rc, 2);
    EXPECT_EQ(quarn_closure_num_fixed(g), 3u);
    EXPECT_EQ(quarn_closure_get(g, 2), quarn_box(2));
    quarn_dec(g);
    EXPECT_EQ(x->rc, 1);
    quarn_dec(c);
}

TEST_F(ClosureTest, UnderApplicationAbove16Arguments) {
    Value c = closure(collector<20>(), 20, {quarn_box(0)});
    std::array<Value, 16> first;
    for (size_t i = 0; i < first.size(); ++i) first[i] = quarn_box(i + 1);
    Value g = quarn_apply_m(c, first.size(), first.data());
    EXPECT_EQ(quarn_closure_num_fixed(g), 17u);
    Value r = quarn_apply_3(g, quarn_box(17), quarn_box(18), quarn_box(19));
    std::vector<Value> got = fields_of(r);
    ASSERT_EQ(got.size(), 20u);
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(got[i], quarn_box(i));
    quarn_dec(r);
}

// ---- over-application --------------------------------------------------------------------

std::vector<int32_t> curry_rc_on_entry;

// Arity 2: returns a closure of arity 3 waiting for a third value to collect with a and b.
Value curry(Value a, Value b) {
    curry_rc_on_entry = {rc_or_zero(a), rc_or_zero(b)};
    return closure(collector<3>(), 3, {a, b});
}

TEST_F(ClosureTest, OverApplicationCallsThenAppliesTheResult) {
    Value x = leaf(), y = leaf(), z = leaf();
    Value f = closure(reinterpret_cast<void *>(&curry), 2, {x});
    Value r = quarn_apply_2(f, y, z);
    EXPECT_EQ(curry_rc_on_entry, (std::vector<int32_t>{2, 1}))
        << "an exclusive closure still counts its fixed arguments when over-applied";
    EXPECT_EQ(rc_on_entry, (std::vector<int32_t>{1, 1, 1})) << "the first closure is gone";
    EXPECT_EQ(fields_of(r), (std::vector<Value>{x, y, z}));
    quarn_dec(r);
}

TEST_F(ClosureTest, OverApplicationOfASharedClosure) {
    Value x = leaf();
    Value f = closure(reinterpret_cast<void *>(&curry), 2, {x});
    quarn_inc(f);
    Value r = quarn_apply_2(f, quarn_box(1), quarn_box(2));
    EXPECT_EQ(f->rc, 1);
    EXPECT_EQ(x->rc, 2);
    EXPECT_EQ(fields_of(r), (std::vector<Value>{x, quarn_box(1), quarn_box(2)}));
    quarn_dec(r);
    quarn_dec(f);
}

// Arity 2: returns a closure of arity 4 waiting for two more values.
Value curry_wide(Value a, Value b) { return closure(collector<4>(), 4, {a, b}); }

TEST_F(ClosureTest, OverApplicationEndsAsTheResultRequires) {
    // curry(1, 2) waits for one more value: 3 completes it.
    Value f = closure(reinterpret_cast<void *>(&curry), 2, {});
    Value r = quarn_apply_3(f, quarn_box(1), quarn_box(2), quarn_box(3));
    EXPECT_EQ(fields_of(r), (std::vector<Value>{quarn_box(1), quarn_box(2), quarn_box(3)}));
    quarn_dec(r);

    // curry_wide(1, 2) waits for two more: 3 leaves it waiting for one.
    Value g = quarn_apply_3(closure(reinterpret_cast<void *>(&curry_wide), 2, {}), quarn_box(1),
                            quarn_box(2), quarn_box(3));
    ASSERT_EQ(quarn_ptr_tag(g), QUARN_TAG_CLOSURE);
    EXPECT_EQ(quarn_closure_num_fixed(g), 3u);
    Value h = quarn_apply_1(g, quarn_box(4));
    EXPECT_EQ(fields_of(h),
              (std::vector<Value>{quarn_box(1), quarn_box(2), quarn_box(3), quarn_box(4)}));
    quarn_dec(h);
}

// Arity 2: a left fold step; returns a closure of itself holding the pair (acc, x).
Value snoc(Value acc, Value x) {
    return closure(reinterpret_cast<void *>(&snoc), 2, {tuple({acc, x})});
}

TEST_F(ClosureTest, OverApplicationRepeatsUntilTheArgumentsRunOut) {
    Value f = closure(reinterpret_cast<void *>(&snoc), 2, {quarn_box(0)});
    std::array<Value, 5> args = {leaf(), leaf(), leaf(), leaf(), leaf()};
    Value r = quarn_apply_m(f, args.size(), args.data());
    // ((((0, a1), a2), a3), a4), a5), one call per argument.
    ASSERT_EQ(quarn_closure_num_fixed(r), 1u);
    Value acc = quarn_closure_get(r, 0);
    for (size_t i = args.size(); i-- > 0;) {
        std::vector<Value> pair = fields_of(acc);
        ASSERT_EQ(pair.size(), 2u);
        EXPECT_EQ(pair[1], args[i]);
        EXPECT_EQ(args[i]->rc, 1);
        acc = pair[0];
    }
    EXPECT_EQ(acc, quarn_box(0));
    quarn_dec(r);
}

Value drop_to_scalar(Value a) {
    quarn_dec(a);
    return quarn_box(7);
}

TEST_F(ClosureTest, ApplyingAScalarReleasesTheArguments) {
    Value shared = leaf();
    quarn_inc(shared);
    EXPECT_EQ(quarn_apply_2(quarn_box(0), leaf(), shared), quarn_box(0));
    EXPECT_EQ(shared->rc, 1);

    // A call whose result is a scalar, applied to what is left over.
    Value f = closure(reinterpret_cast<void *>(&drop_to_scalar), 1, {});
    EXPECT_EQ(quarn_apply_3(f, leaf(), leaf(), shared), quarn_box(7));
    EXPECT_EQ(quarn_apply_m(quarn_box(3), 0, nullptr), quarn_box(3));
}

// ---- every entry point, every call shape -------------------------------------------------

using Applier = Value (*)(Value f, Value *a);
const std::array<Applier, 17> kApply = {
    nullptr,
    [](Value f, Value *a) { return quarn_apply_1(f, a[0]); },
    [](Value f, Value *a) { return quarn_apply_2(f, a[0], a[1]); },
    [](Value f, Value *a) { return quarn_apply_3(f, a[0], a[1], a[2]); },
    [](Value f, Value *a) { return quarn_apply_4(f, a[0], a[1], a[2], a[3]); },
    [](Value f, Value *a) { return quarn_apply_5(f, a[0], a[1], a[2], a[3], a[4]); },
    [](Value f, Value *a) { return quarn_apply_6(f, a[0], a[1], a[2], a[3], a[4], a[5]); },
    [](Value f, Value *a) { return quarn_apply_7(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6]); },
    [](Value f, Value *a) {
        return quarn_apply_8(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
    },
    [](Value f, Value *a) {
        return quarn_apply_9(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]);
    },
    [](Value f, Value *a) {
        return quarn_apply_10(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
    },
    [](Value f, Value *a) {
        return quarn_apply_11(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9],
                              a[10]);
    },
    [](Value f, Value *a) {
        return quarn_apply_12(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9],
                              a[10], a[11]);
    },
    [](Value f, Value *a) {
        return quarn_apply_13(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9],
                              a[10], a[11], a[12]);
    },
    [](Value f, Value *a) {
        return quarn_apply_14(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9],
                              a[10], a[11], a[12], a[13]);
    },
    [](Value f, Value *a) {
        return quarn_apply_15(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9],
                              a[10], a[11], a[12], a[13], a[14]);
    },
    [](Value f, Value *a) {
        return quarn_apply_16(f, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9],
                              a[10], a[11], a[12], a[13], a[14], a[15]);
    },
};

template <size_t... A>
std::array<void *, sizeof...(A)> collectors(std::index_sequence<A...>) {
    return {collector<A + 1>()...};
}

// Arities 1 to 20: the sixteen register shapes and a few array ones.
const auto kCollectors = collectors(std::make_index_sequence<20>{});

TEST_F(ClosureTest, EveryEntryPointPassesItsArgumentsInOrderToEveryShape) {
    for (unsigned arity = 1; arity <= kCollectors.size(); ++arity) {
        for (unsigned n = 1; n <= 16 && n <= arity; ++n) {
            // Exact: arity - n values fixed, n given. Then under-applied by one.
            for (unsigned short_by : {0u, 1u}) {
                if (n + short_by > arity) continue;
                unsigned fixed = arity - n - short_by;
                std::vector<Value> held;
                for (unsigned i = 0; i < fixed; ++i) held.push_back(leaf());
                Value f = closure(kCollectors[arity - 1], arity, held);
                std::vector<Value> given;
                for (unsigned i = 0; i < n; ++i) given.push_back(quarn_box(fixed + i));
                Value r = kApply[n](f, given.data());
                if (short_by == 1) r = quarn_apply_1(r, quarn_box(arity - 1));
                std::vector<Value> got = fields_of(r);
                ASSERT_EQ(got.size(), arity) << "arity " << arity << ", " << n << " given";
                for (unsigned i = 0; i < fixed; ++i) EXPECT_EQ(got[i], held[i]);
                for (unsigned i = fixed; i < arity; ++i)
                    EXPECT_EQ(got[i], quarn_box(i)) << "arity " << arity << ", " << n << " given";
                quarn_dec(r);
            }
        }
    }
}

// ---- shared between threads --------------------------------------------------------------

TEST_F(ClosureTest, AMultiThreadedClosureAppliedFromSeveralThreads) {
    Value x = leaf();
    Value c = closure(collector<3>(), 3, {x});
    quarn_mark_mt(c);
    ASSERT_EQ(x->rc, -1);
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        quarn_inc(c);
        threads.emplace_back([c, x] {
            for (int i = 0; i < kRounds; ++i) {
                quarn_inc(c);
                Value g = quarn_apply_1(c, quarn_box(1));  // under: a new private closure
                Value r = quarn_apply_1(g, quarn_box(2));  // exact, exclusive
                if (quarn_ctor_get(r, 0) != x) std::abort();
                quarn_dec(r);
                quarn_inc(c);
                quarn_dec(quarn_apply_2(c, quarn_box(1), quarn_box(2)));  // exact, shared
            }
            quarn_dec(c);
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(c->rc, -1);
    EXPECT_EQ(x->rc, -1);
    quarn_dec(c);
}

}  // namespace

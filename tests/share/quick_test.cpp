// The sharing pass with private tables: equal subterms become one object, counts stay exact.
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "../task/task_testing.h"
#include "share_testing.h"

namespace {

using namespace share_testing;
using QuickTest = kit::LiveObjectsTest;
using QuickWithTasksTest = task_testing::WithManager<1>;  // promises need a running manager

TEST_F(QuickTest, EqualStringsBecomeOneObject) {
    quarn_object *first = kit_string("same");
    quarn_object *second = kit_string("same");
    quarn_object *pair = ctor({first, second});
    quarn_object *shared = quarn_lean_sharecommon_quick(pair);
    ASSERT_NE(shared, pair) << "a child changed, so the pair is a new one";
    EXPECT_EQ(field(shared, 0), first);
    EXPECT_EQ(field(shared, 1), first);
    quarn_dec(pair);  // frees `second`
    EXPECT_EQ(rc_of(first), 2);
    EXPECT_EQ(rc_of(shared), 1);
    quarn_dec(shared);
}

// A value holding one object of every kind; the objects that are never shared are passed
// in (borrowed) so that two calls can hold the same ones.
struct NeverShared {
    quarn_object *closure, *thunk, *task, *ref, *external, *promise;
};

quarn_object *every_kind(const NeverShared &n) {
    for (quarn_object *o : {n.closure, n.thunk, n.task, n.ref, n.external, n.promise}) quarn_inc(o);
    quarn_object *floats = quarn_lean_mk_empty_float_array(quarn_box(2));
    floats = quarn_lean_float_array_push(floats, 0.5);
    return ctor({ctor_with_scalars(7, {kit_string("scalars"), quarn_box(3)}, {9, 8, 7, 6, 5}),
                 array_with_capacity({kit_string("in array"), quarn_box(2)}, 3), byte_array({1, 2}),
                 floats, power_of_two(100), power_of_two(300), quarn_box_float(1.5),
                 quarn_box_float32(2.5f), quarn_box_uint64(77), quarn_box(12), n.closure, n.thunk,
                 n.task, n.ref, n.external, n.promise},
                4);
}

TEST_F(QuickWithTasksTest, EveryKindIsSharedOrKeptAsItIs) {
    NeverShared n{closure_over({kit_string("captured")}), thunk(nullptr, closure_over({})),
                  quarn_lean_task_pure(kit_string("done")), ref(kit_string("cell")),
                  quarn_lean_io_basemutex_new(), quarn_lean_io_promise_new()};
    quarn_object *left = every_kind(n), *right = every_kind(n);
    ASSERT_FALSE(quarn_lean_sharecommon_eq(left, right)) << "children are distinct objects";
    quarn_object *value = ctor({left, right});
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    EXPECT_EQ(field(shared, 0), field(shared, 1)) << "the two halves are one object";
    quarn_object *half = field(shared, 0);
    EXPECT_EQ(quarn_ptr_tag(half), 4);
    // Every child of the left half stood for itself, so the left half is kept and the right
    // half maps onto it.
    EXPECT_EQ(half, left);
    for (unsigned i = 10; i < 16; ++i) EXPECT_EQ(field(half, i), field(right, i)) << i;
    EXPECT_EQ(rc_of(left), 3) << "the source pair and the result, twice";
    quarn_dec(value);
    EXPECT_EQ(rc_of(left), 2) << "only the result holds the left half now";
    EXPECT_EQ(rc_of(shared), 1);
    quarn_dec(shared);
    for (quarn_object *o : {n.closure, n.thunk, n.task, n.ref, n.external, n.promise}) {
        EXPECT_EQ(rc_of(o), 1);
        quarn_dec(o);
    }
}

// Sharing makes constructors that hold one child in two fields, often with no other
// reference to it: releasing such a constructor must free the child too.
TEST_F(QuickTest, ResultHoldingOneChildTwiceIsFreedWhole) {
    quarn_object *source = ctor({kit_string("d"), kit_string("d")});
    quarn_object *shared = quarn_lean_sharecommon_quick(source);
    quarn_dec(source);
    quarn_object *child = field(shared, 0);
    ASSERT_EQ(field(shared, 1), child);
    EXPECT_EQ(rc_of(child), 2) << "held twice by the result alone";
    quarn_dec(shared);  // the fixture checks that the child went with it
}

TEST_F(QuickTest, NeverSharedObjectsAreNotMergedEvenWhenEqual) {
    quarn_object *arg = kit_string("x");
    quarn_inc(arg);
    quarn_object *c1 = closure_over({arg}), *c2 = closure_over({arg});
    quarn_object *t1 = thunk(quarn_box(1), nullptr), *t2 = thunk(quarn_box(1), nullptr);
    ASSERT_TRUE(quarn_lean_sharecommon_eq(c1, c2));
    quarn_object *value = ctor({c1, c2, t1, t2});
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    EXPECT_EQ(shared, value);
    EXPECT_EQ(rc_of(value), 2);
    EXPECT_EQ(rc_of(c1), 1) << "kept, not counted again: the pair itself was kept";
    quarn_dec(shared);
    quarn_dec(value);
}

TEST_F(QuickTest, MaximallySharedValueComesBackItself) {
    quarn_object *leaf_string = kit_string("leaf");
    quarn_inc(leaf_string);
    quarn_object *node = ctor({leaf_string, leaf_string, power_of_two(70)});
    quarn_inc(node);
    quarn_object *value = array_with_capacity({node, node, quarn_box(5)}, 3);
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    EXPECT_EQ(shared, value);
    EXPECT_EQ(rc_of(value), 2);
    EXPECT_EQ(rc_of(node), 2) << "counts below the root are left as they were";
    EXPECT_EQ(rc_of(leaf_string), 2);
    quarn_object *again = quarn_lean_sharecommon_quick(shared);
    EXPECT_EQ(again, value);
    quarn_dec(again);
    quarn_dec(shared);
    quarn_dec(value);
}

TEST_F(QuickTest, EqualTreesBuiltTwiceShareEveryLevel) {
    // Two copies of a small tree with a repeated big number and string inside.
    auto tree = [] {
        return ctor({ctor({kit_string("a"), power_of_two(65)}, 1),
                     ctor({kit_string("a"), power_of_two(65)}, 1), quarn_box(0)},
                    2);
    };
    quarn_object *value = ctor({tree(), tree()});
    int64_t live_before = quarn::object::live_objects();
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    quarn_object *t = field(shared, 0);
    EXPECT_EQ(field(shared, 1), t);
    EXPECT_EQ(field(t, 0), field(t, 1));
    quarn_object *inner = field(t, 0);
    quarn_dec(value);
    EXPECT_EQ(rc_of(inner), 2) << "held twice by the shared tree";
    // Of the 15 source objects, one inner node, its string and its big number are kept, with
    // two new ones: the result pair and one tree node.
    EXPECT_EQ(quarn::object::live_objects(), live_before - 15 + 5) << "distinct objects left";
    quarn_dec(shared);
}

TEST_F(QuickTest, ArraysOfDifferentCapacityStayApart) {
    quarn_object *a = array_with_capacity({quarn_box(1)}, 1);
    quarn_object *b = array_with_capacity({quarn_box(1)}, 2);
    quarn_object *c = array_with_capacity({quarn_box(1)}, 2);
    quarn_object *value = ctor({a, b, c});
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    EXPECT_NE(field(shared, 0), field(shared, 1));
    EXPECT_EQ(field(shared, 1), field(shared, 2));
    quarn_dec(value);
    quarn_dec(shared);
}

TEST_F(QuickTest, SharedSubtermIsWalkedOnce) {
    quarn_object *sub = ctor({kit_string("s"), kit_string("s")});
    quarn_inc_n(sub, 2);  // held three times below
    quarn_object *value = ctor({sub, ctor({sub}), array_with_capacity({sub}, 1)});
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    quarn_object *result = field(shared, 0);
    EXPECT_NE(result, sub) << "its two strings became one, so it is a copy";
    EXPECT_EQ(field(result, 0), field(result, 1));
    EXPECT_EQ(field(field(shared, 1), 0), result);
    EXPECT_EQ(element(field(shared, 2), 0), result);
    EXPECT_EQ(rc_of(result), 3);
    quarn_dec(value);
    quarn_dec(shared);
}

TEST_F(QuickTest, MultiThreadedValuesAreCountedAtomically) {
    quarn_object *value = ctor({kit_string("m"), kit_string("m"), ctor({kit_string("m")})});
    quarn_mark_mt(value);
    quarn_object *first = field(value, 0);
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    EXPECT_EQ(field(shared, 1), first);
    EXPECT_EQ(field(field(shared, 2), 0), first);
    EXPECT_EQ(rc_of(first), -4) << "the source's reference and three from the result";
    EXPECT_TRUE(quarn_is_st(shared)) << "a new object, private to this thread";
    quarn_dec(value);
    EXPECT_EQ(rc_of(first), -3);
    quarn_dec(shared);
}

TEST_F(QuickTest, TwoThreadsShareOneMultiThreadedValue) {
    quarn_object *value = ctor({kit_string("t"), kit_string("t"), array_with_capacity({kit_string("t")}, 1)});
    quarn_mark_mt(value);
    quarn_object *first = field(value, 0);
    std::atomic<int> finished{0};
    std::atomic<bool> wrong{false};
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            quarn_object *shared = quarn_lean_sharecommon_quick(value);
            if (field(shared, 1) != first || element(field(shared, 2), 0) != first) wrong = true;
            quarn_dec(shared);
        }
        finished.fetch_add(1);
    };
    std::thread a(work), b(work);
    task_testing::wait_until([&] { return finished.load() == 2; }, "two sharing threads");
    a.join();
    b.join();
    EXPECT_FALSE(wrong.load());
    EXPECT_EQ(rc_of(first), -1) << "every reference taken was given back";
    quarn_dec(value);
}

TEST_F(QuickTest, PersistentValuesAreReadButNeverCounted) {
    quarn_object *first = kit_string("p"), *second = kit_string("p");
    quarn_object *value = ctor({first, second});
    quarn_mark_persistent(value);
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    EXPECT_EQ(field(shared, 0), first);
    EXPECT_EQ(field(shared, 1), first);
    EXPECT_EQ(rc_of(first), 0);
    quarn_dec(shared);
    // Make the source counted again so that the fixture sees it freed.
    for (quarn_object *o : {value, first, second}) o->rc = 1;
    quarn_dec(value);
}

TEST_F(QuickTest, CountThatWouldOverflowMakesTheObjectImmortal) {
    quarn_object *s = kit_string("busy");
    set_urc(s, 0x7FFFFFFFu);
    quarn_object *value = ctor({s, kit_string("busy")});
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    EXPECT_EQ(field(shared, 1), s);
    EXPECT_EQ(urc_of(s), 0x80000000u) << "overflowed: immortal, and the process goes on";
    quarn_dec(shared);
    EXPECT_EQ(urc_of(s), 0x80000000u);
    s->rc = 1;
    quarn_dec(value);
}

TEST_F(QuickTest, LongListsAndDeepTreesNeedNoMachineStack) {
    constexpr size_t kCells = 1000000;
    quarn_object *list = quarn_box(0);
    for (size_t i = 0; i < kCells; ++i)
        list = kit_cons(i % 2 ? kit_string("odd") : quarn_box_uint64(i % 3), list);
    quarn_object *shared = quarn_lean_sharecommon_quick(list);
    EXPECT_EQ(kit_list_length(shared), kCells);
    // Heads: "odd" and the boxes of 0, 1 and 2: four distinct objects for a million cells.
    std::vector<quarn_object *> heads;
    for (quarn_object *c = shared; !quarn_is_scalar(c); c = field(c, 1)) {
        quarn_object *h = field(c, 0);
        if (std::find(heads.begin(), heads.end(), h) == heads.end()) heads.push_back(h);
    }
    EXPECT_EQ(heads.size(), 4u);
    quarn_dec(list);
    quarn_dec(shared);

    constexpr size_t kDepth = 100000;
    quarn_object *deep = kit_string("bottom");
    for (size_t i = 0; i < kDepth; ++i) deep = ctor({deep, quarn_box(i % 7)}, 1);
    quarn_object *pair = ctor({deep, quarn_box(0)});
    quarn_object *shared_deep = quarn_lean_sharecommon_quick(pair);
    EXPECT_EQ(shared_deep, pair) << "nothing to share: the same value";
    quarn_dec(shared_deep);
    quarn_dec(pair);

    constexpr size_t kWidth = 1000000;
    quarn_object *wide = quarn_lean_mk_empty_array_with_capacity(quarn_box(kWidth));
    for (size_t i = 0; i < kWidth; ++i) wide = quarn_lean_array_push(wide, kit_string("w"));
    quarn_object *shared_wide = quarn_lean_sharecommon_quick(wide);
    EXPECT_EQ(element(shared_wide, 0), element(shared_wide, kWidth - 1));
    EXPECT_EQ(rc_of(element(shared_wide, 0)), static_cast<int32_t>(kWidth) + 1);
    quarn_dec(wide);
    quarn_dec(shared_wide);
}

TEST(QuickDeathTest, ReservedTagIsUnreachable) {
    EXPECT_INTERNAL_PANIC(quarn_lean_sharecommon_quick(ctor({with_tag(QUARN_TAG_UNUSED)})),
                          "unreachable code has been reached");
}

}  // namespace

// The reference-count states, one row at a time, and the release walk.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "objects.h"
#include "testing.h"

namespace {

using namespace test_objects;
using RefcountTest = kit::LiveObjectsTest;

// Runs one increment and one decrement on an object whose rc starts at `start` and
// returns the rc after each.
struct Moves {
    uint32_t after_inc, after_dec;
};
Moves inc_then_dec(uint32_t start) {
    quarn_object *o = leaf();
    set_urc(o, start);
    quarn_inc(o);
    uint32_t after_inc = urc_of(o);
    set_urc(o, start);
    quarn_dec(o);
    uint32_t after_dec = urc_of(o);
    set_urc(o, 1);
    quarn_dec(o);
    return {after_inc, after_dec};
}

TEST_F(RefcountTest, PersistentObjectsNeverChange) {
    Moves m = inc_then_dec(0);
    EXPECT_EQ(m.after_inc, 0u);
    EXPECT_EQ(m.after_dec, 0u);
}

TEST_F(RefcountTest, SingleThreadedCountsMoveByOne) {
    Moves m = inc_then_dec(7);
    EXPECT_EQ(m.after_inc, 8u);
    EXPECT_EQ(m.after_dec, 6u);
}

TEST_F(RefcountTest, SingleThreadedCountOverflowsIntoImmortality) {
    EXPECT_EQ(inc_then_dec(0x7FFFFFFFu).after_inc, 0x80000000u);
    for (uint32_t rc : {0x80000000u, 0x80008000u, 0x80010000u}) {
        Moves m = inc_then_dec(rc);
        EXPECT_EQ(m.after_inc, rc);
        EXPECT_EQ(m.after_dec, rc);
    }
}

TEST_F(RefcountTest, SaturatedMultiThreadedCountsIgnoreDecrements) {
    for (uint32_t rc : {0x80010001u, 0x90000000u, 0x95000000u, 0x9FFFFFFFu, 0xA0000000u}) {
        quarn_object *o = leaf();
        set_urc(o, rc);
        for (int i = 0; i < 1000; ++i) quarn_dec(o);
        EXPECT_EQ(urc_of(o), rc) << std::hex << rc;
        set_urc(o, 1);
        quarn_dec(o);
    }
}

TEST_F(RefcountTest, SaturatedCountsIncrementOnlyAbove0x90000000) {
    EXPECT_EQ(inc_then_dec(0xA0000000u).after_inc, 0x9FFFFFFFu);
    EXPECT_EQ(inc_then_dec(0x90000001u).after_inc, 0x90000000u);
    EXPECT_EQ(inc_then_dec(0x90000000u).after_inc, 0x90000000u);
    EXPECT_EQ(inc_then_dec(0x80010001u).after_inc, 0x80010001u);
}

TEST_F(RefcountTest, MultiThreadedCountsMoveAtomically) {
    Moves m = inc_then_dec(static_cast<uint32_t>(-2));
    EXPECT_EQ(static_cast<int32_t>(m.after_inc), -3);
    EXPECT_EQ(static_cast<int32_t>(m.after_dec), -1);
    EXPECT_EQ(inc_then_dec(0xA0000001u).after_inc, 0xA0000000u) << "the count saturates";
}

TEST_F(RefcountTest, ColdDecrementReleasesOnlyTheLastReference) {
    quarn_object *o = leaf();
    quarn_object *keep = leaf();
    set_urc(o, 2);
    quarn_dec_ref_cold(o);
    EXPECT_EQ(rc_of(o), 2) << "rc above 1 is left alone";
    set_urc(keep, 0);
    quarn_dec_ref_cold(keep);
    EXPECT_EQ(rc_of(keep), 0);
    set_urc(keep, 1);
    quarn_dec(keep);

    o->rc = -2;
    quarn_dec_ref_cold(o);
    EXPECT_EQ(rc_of(o), -1);
    int64_t live = quarn::object::live_objects();
    quarn_dec_ref_cold(o);
    EXPECT_EQ(quarn::object::live_objects(), live - 1) << "rc -1 is the last reference";
}

TEST_F(RefcountTest, LargeIncrements) {
    quarn_object *o = leaf();
    o->rc = 10;
    quarn_inc_ref_n_cold(o, 5);
    EXPECT_EQ(rc_of(o), 15);
    set_urc(o, 0x7FFFFFFFu);
    quarn_inc_ref_n_cold(o, 0x10001);
    EXPECT_EQ(urc_of(o), 0x80010000u) << "clamped into the overflowed band";
    o->rc = 100;
    quarn_inc_ref_n_cold(o, 0x7FFFFFFFu - 100);
    EXPECT_EQ(rc_of(o), 0x7FFFFFFF);
    o->rc = 100;
    quarn_inc_ref_n_cold(o, 0x7FFFFFFFu - 99);
    EXPECT_EQ(urc_of(o), 0x80010000u);

    o->rc = -1;
    quarn_inc_ref_n_cold(o, 0x30000);
    EXPECT_EQ(rc_of(o), -1 - 0x30000);
    o->rc = -1;
    quarn_inc_ref_n_cold(o, 0x10000);
    EXPECT_EQ(rc_of(o), -1 - 0x10000);
    set_urc(o, 0x90000005u);
    quarn_inc_ref_n_cold(o, 0x100000);
    EXPECT_GT(urc_of(o), 0x80000000u) << "steps stop once saturated, never wrapping";
    EXPECT_LE(urc_of(o), 0x90000000u);
    set_urc(o, 0x90000000u);
    quarn_inc_ref_n_cold(o, 3);
    EXPECT_EQ(urc_of(o), 0x90000000u);
    o->rc = 0;
    quarn_inc_ref_n_cold(o, 1 << 20);
    EXPECT_EQ(rc_of(o), 0);
    o->rc = 3;
    quarn_inc_ref_n(o, 4);
    EXPECT_EQ(rc_of(o), 7);
    o->rc = 1;
    quarn_dec(o);
}

TEST_F(RefcountTest, ReleaseDropsSharedChildrenAndFreesExclusiveOnes) {
    quarn_object *shared = leaf();
    quarn_object *mt = leaf();
    quarn_object *persistent = leaf();
    quarn_inc(shared);
    mt->rc = -2;
    persistent->rc = 0;
    quarn_object *parent = ctor({shared, mt, persistent, leaf(), quarn_box(9)});
    quarn_dec(parent);
    EXPECT_EQ(rc_of(shared), 1);
    EXPECT_EQ(rc_of(mt), -1);
    EXPECT_EQ(rc_of(persistent), 0);
    quarn_dec(shared);
    quarn_dec(mt);
    persistent->rc = 1;
    quarn_dec(persistent);
}

// One child in several fields of a dying constructor (what sharing makes of pair(s, s)):
// each field drops one reference, so the child goes with its parent. The fixture's
// live-object check catches a child left behind.
TEST_F(RefcountTest, AChildHeldTwiceByItsParentGoesWithIt) {
    for (int extra : {0, 1}) {
        quarn_object *twice = leaf();
        quarn_inc(twice);
        quarn_object *other = leaf();
        if (extra) quarn_inc(other);  // a field that stays alive: the parent takes the short way
        quarn_object *parent = ctor({twice, quarn_box(1), twice, other});
        quarn_dec(parent);
        if (extra) quarn_dec(other);
    }
}

TEST_F(RefcountTest, ReleaseCoversEveryKindWithChildren) {
    quarn_object *kept = leaf();
    auto give = [&] {
        quarn_inc(kept);
        return kept;
    };
    quarn_dec(closure({give(), leaf(), quarn_box(1)}));
    quarn_dec(array({give(), ctor({leaf()}), quarn_box(2)}));
    quarn_dec(thunk(give(), closure({give()})));
    quarn_dec(thunk(nullptr, closure({give()})));  // a thunk whose value is still null
    quarn_dec(thunk(give(), nullptr));
    quarn_dec(ref(give()));
    quarn_dec(ref(nullptr));
    EXPECT_EQ(rc_of(kept), 1) << "each kind dropped exactly the references it held";
    quarn_dec(kept);
}

struct ExternalProbe {
    int finalized = 0;
    quarn_object *held = nullptr;
};

const quarn_external_class kProbeClass = {
    [](void *data) { static_cast<ExternalProbe *>(data)->finalized++; },
    [](void *data, void (*visit)(quarn_object *, void *), void *context) {
        visit(static_cast<ExternalProbe *>(data)->held, context);
    },
};

quarn_object *external(ExternalProbe *probe) {
    auto *e = reinterpret_cast<quarn_external_object *>(
        quarn::object::allocate_object(sizeof(quarn_external_object), QUARN_TAG_EXTERNAL));
    e->klass = &kProbeClass;
    e->data = probe;
    return &e->header;
}

TEST_F(RefcountTest, ReleasingAnExternalObjectRunsItsFinalizer) {
    ExternalProbe probe;
    quarn_dec(ctor({external(&probe), external(&probe)}));
    EXPECT_EQ(probe.finalized, 2);
}

// A tree whose leaves are external objects that record the order of their finalizers, and
// whose inner nodes are constructors, closures and arrays; some nodes are shared with the
// test, so that they survive the release with their leaves. The walk frees the children
// of each object in field order onto a stack and takes the most recently found one first;
// the expected order is worked out with the same stack over a copy of the tree's shape.
struct OrderProbe {
    std::vector<int> *finalized;
    int number;
};

const quarn_external_class kOrderClass = {
    [](void *data) {
        auto *probe = static_cast<OrderProbe *>(data);
        probe->finalized->push_back(probe->number);
    },
    [](void *, void (*)(quarn_object *, void *), void *) {},
};

struct Shape {
    int leaf = -1;  // the leaf's number, or -1 for an inner node
    bool kept = false;  // the test holds a second reference
    std::vector<Shape> children;
};

quarn_object *build(const Shape &s, std::vector<OrderProbe> &probes,
                    std::vector<quarn_object *> &kept, unsigned &kind) {
    quarn_object *o;
    if (s.leaf >= 0) {
        auto *e = reinterpret_cast<quarn_external_object *>(
            quarn::object::allocate_object(sizeof(quarn_external_object), QUARN_TAG_EXTERNAL));
        e->klass = &kOrderClass;
        e->data = &probes[static_cast<size_t>(s.leaf)];
        o = &e->header;
    } else {
        std::vector<quarn_object *> fields;
        for (const Shape &c : s.children) fields.push_back(build(c, probes, kept, kind));
        fields.push_back(quarn_box(7));  // a scalar among the fields is skipped
        switch (kind++ % 3) {
            case 0:
                o = quarn_alloc_ctor(1, static_cast<uint32_t>(fields.size()), 0);
                for (size_t i = 0; i < fields.size(); ++i)
                    quarn_ctor_set(o, static_cast<unsigned>(i), fields[i]);
                break;
            case 1: {
                auto n = static_cast<uint16_t>(fields.size());
                auto *c = reinterpret_cast<quarn_closure_object *>(quarn::object::allocate_object(
                    sizeof(quarn_closure_object) + 8 * n, QUARN_TAG_CLOSURE));
                c->code = reinterpret_cast<void *>(&leaf);
                c->arity = static_cast<uint16_t>(n + 1);
                c->fixed = n;
                for (size_t i = 0; i < n; ++i) c->args[i] = fields[i];
                o = &c->header;
                break;
            }
            default: {
                size_t n = fields.size();
                auto *a = reinterpret_cast<quarn_array_object *>(quarn::object::allocate_object(
                    sizeof(quarn_array_object) + 8 * n, QUARN_TAG_ARRAY));
                a->size = a->capacity = n;
                for (size_t i = 0; i < n; ++i) a->data[i] = fields[i];
                o = &a->header;
                break;
            }
        }
    }
    if (s.kept) {
        quarn_inc(o);
        kept.push_back(o);
    }
    return o;
}

// The leaves in the order the release walk meets them, and the leaves under kept nodes.
void expected_order(const Shape &root, std::vector<int> &order) {
    std::vector<const Shape *> stack{&root};
    while (!stack.empty()) {
        const Shape *s = stack.back();
        stack.pop_back();
        if (s->leaf >= 0) order.push_back(s->leaf);
        for (const Shape &c : s->children)
            if (!c.kept) stack.push_back(&c);
    }
}

void kept_leaves(const Shape &s, bool under_kept, std::vector<int> &leaves) {
    under_kept = under_kept || s.kept;
    if (s.leaf >= 0 && under_kept) leaves.push_back(s.leaf);
    for (const Shape &c : s.children) kept_leaves(c, under_kept, leaves);
}

// A deterministic tree of the given depth with up to four children a node.
Shape make_shape(unsigned depth, uint32_t &seed, int &leaves) {
    seed = seed * 1103515245u + 12345u;
    Shape s;
    if (depth == 0 || (seed >> 16) % 5 == 0) {
        s.leaf = leaves++;
    } else {
        unsigned n = 1 + (seed >> 20) % 4;
        for (unsigned i = 0; i < n; ++i) s.children.push_back(make_shape(depth - 1, seed, leaves));
    }
    s.kept = depth < 4 && (seed >> 24) % 7 == 0;
    return s;
}

TEST_F(RefcountTest, ReleaseFreesChildrenInFieldOrderMostRecentFirst) {
    for (uint32_t round = 0; round < 20; ++round) {
        uint32_t seed = round;
        int leaves = 0;
        Shape root = make_shape(6, seed, leaves);
        root.kept = false;
        std::vector<int> finalized;
        std::vector<OrderProbe> probes;
        for (int i = 0; i < leaves; ++i) probes.push_back({&finalized, i});
        std::vector<quarn_object *> kept;
        unsigned kind = round;
        quarn_object *tree = build(root, probes, kept, kind);

        std::vector<int> expected;
        expected_order(root, expected);
        quarn_dec(tree);
        EXPECT_EQ(finalized, expected) << "round " << round;

        // What the test still held survives until now, leaves and all.
        finalized.clear();
        for (quarn_object *o : kept) quarn_dec(o);
        std::vector<int> later;
        kept_leaves(root, false, later);
        std::sort(finalized.begin(), finalized.end());
        std::sort(later.begin(), later.end());
        EXPECT_EQ(finalized, later) << "round " << round;
    }
}

TEST_F(RefcountTest, ReleasingScalarArraysStringsAndBignumsFreesTheirBlocks) {
    auto *bytes = reinterpret_cast<quarn_sarray_object *>(
        quarn::object::allocate_object(sizeof(quarn_sarray_object) + 4, QUARN_TAG_SCALAR_ARRAY, 1));
    bytes->size = bytes->capacity = 4;
    auto *big = reinterpret_cast<quarn_bignum_object *>(
        quarn::object::allocate_object(sizeof(quarn_bignum_object), QUARN_TAG_BIGNUM));
    big->capacity = 2;
    big->magnitude.digits = static_cast<uint64_t *>(quarn::object::allocate_bytes(16));
    big->used.count = 2;
    big->sign = QUARN_SIGN_POSITIVE;
    quarn_dec(ctor({&bytes->header, quarn_mk_string_unchecked("x", 1, 1), &big->header}));
}

// A list of n cells whose heads are scalars.
quarn_object *long_list(size_t n) {
    quarn_object *list = quarn_box(0);
    for (size_t i = 0; i < n; ++i) list = ctor({quarn_box(i), list}, 1);
    return list;
}

TEST_F(RefcountTest, AMillionCellListIsReleasedOnASmallStack) {
    quarn_object *list = long_list(1000000);
    int64_t live = quarn::object::live_objects();
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void *l) -> void * {
                      quarn_dec(static_cast<quarn_object *>(l));
                      return nullptr;
                  },
                  list),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(quarn::object::live_objects(), live - 1000000);
}

TEST_F(RefcountTest, AWideArrayOfExclusiveElementsIsReleased) {
    size_t n = 100000;
    auto *a = reinterpret_cast<quarn_array_object *>(
        quarn::object::allocate_object(sizeof(quarn_array_object) + 8 * n, QUARN_TAG_ARRAY));
    a->size = a->capacity = n;
    for (size_t i = 0; i < n; ++i) a->data[i] = ctor({leaf()});
    quarn_dec(&a->header);
}

TEST_F(RefcountTest, SharedObjectIsFreedOnceByConcurrentDecrements) {
    for (int round = 0; round < 50; ++round) {
        quarn_object *shared = ctor({leaf(), leaf()});
        constexpr int kThreads = 4, kEach = 1000;
        quarn_inc_ref_n(shared, kThreads * kEach - 1);
        quarn_mark_mt(shared);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([shared] {
                for (int i = 0; i < kEach; ++i) quarn_dec(shared);
            });
        for (auto &t : threads) t.join();
    }
}

TEST(RefcountDeathTest, ReservedTagsAreUnreachable) {
    EXPECT_INTERNAL_PANIC(quarn_dec(ctor({with_tag(QUARN_TAG_STRUCT_ARRAY)})),
                          "unreachable code has been reached");
    EXPECT_INTERNAL_PANIC(quarn_dec(with_tag(QUARN_TAG_UNUSED)), "unreachable code has been reached");
}

TEST(Refcount, HoldAndForgetLeaveTheirArgument) {
    quarn_object *o = leaf();
    EXPECT_EQ(quarn_lean_runtime_hold(o), quarn_box(0));
    EXPECT_EQ(quarn_lean_runtime_forget(o), quarn_box(0));
    EXPECT_EQ(rc_of(o), 1);
    quarn_dec(o);
}

}  // namespace

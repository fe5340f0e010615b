// Marking object graphs multi-threaded and persistent.
#include <atomic>
#include <thread>
#include <vector>

#include "objects.h"
#include "testing.h"

namespace {

using namespace test_objects;
using MarkTest = kit::LiveObjectsTest;

TEST_F(MarkTest, MultiThreadedNegatesCountsThroughTheGraph) {
    quarn_object *child = leaf();
    quarn_inc(child);
    quarn_inc(child);  // rc 3
    quarn_object *inner = closure({child});
    quarn_object *root = ctor({array({inner, quarn_box(1)}), ref(nullptr), thunk(leaf(), nullptr)});
    quarn_mark_mt(root);
    EXPECT_EQ(rc_of(root), -1);
    EXPECT_EQ(rc_of(inner), -1);
    EXPECT_EQ(rc_of(child), -3);
    EXPECT_EQ(rc_of(quarn_ctor_get(root, 2)), -1);
    quarn_dec(root);
    EXPECT_EQ(rc_of(child), -2);
    quarn_dec(child);
    quarn_dec(child);
}

TEST_F(MarkTest, MultiThreadedSaturatesLargeAndOverflowedCounts) {
    for (uint32_t rc : {0x60000000u, 0x70000000u, 0x80000000u, 0x80010000u}) {
        quarn_object *o = leaf();
        set_urc(o, rc);
        quarn_mark_mt(o);
        EXPECT_EQ(urc_of(o), 0x90000000u) << std::hex << rc;
        set_urc(o, 1);
        quarn_dec(o);
    }
    quarn_object *o = leaf();
    set_urc(o, 0x5FFFFFFFu);
    quarn_mark_mt(o);
    EXPECT_EQ(rc_of(o), -0x5FFFFFFF);
    o->rc = 1;
    quarn_dec(o);
}

TEST_F(MarkTest, MultiThreadedStopsAtSharedAndPersistentObjects) {
    quarn_object *below_mt = leaf();
    quarn_object *below_persistent = leaf();
    quarn_object *mt = ctor({below_mt});
    quarn_object *persistent = ctor({below_persistent});
    mt->rc = -1;
    persistent->rc = 0;
    quarn_object *root = ctor({mt, persistent});
    quarn_mark_mt(root);
    EXPECT_EQ(rc_of(root), -1);
    EXPECT_EQ(rc_of(below_mt), 1) << "the walk does not descend below a multi-threaded object";
    EXPECT_EQ(rc_of(below_persistent), 1);
    quarn_mark_mt(quarn_box(5));  // scalars are left alone
    persistent->rc = 1;
    quarn_dec(root);
}

TEST_F(MarkTest, PersistentZeroesEveryCountAndDecrementsStopCounting) {
    quarn_object *shared = leaf();
    shared->rc = -4;
    quarn_object *root = ctor({shared, array({leaf()}), quarn_box(3)});
    int64_t live = quarn::object::live_objects();
    quarn_mark_persistent(root);
    EXPECT_EQ(rc_of(root), 0);
    EXPECT_EQ(urc_of(shared), 0x88000000u) << "shared: saturated, so never freed";
    EXPECT_TRUE(quarn_is_mt(shared));
    auto *arr = reinterpret_cast<quarn_array_object *>(quarn_ctor_get(root, 1));
    EXPECT_EQ(rc_of(arr->data[0]), 0);
    quarn_dec(root);
    quarn_dec(shared);
    EXPECT_EQ(quarn::object::live_objects(), live) << "persistent objects are never freed";
    // Turn the graph back into an exclusive one so the fixture sees it freed.
    root->rc = 1;
    shared->rc = 1;
    arr->header.rc = 1;
    arr->data[0]->rc = 1;
    quarn_dec(root);
}

// Another thread keeps counting an object while this one marks it persistent: none of its
// in-flight updates may turn it back into a counted object that a release would free.
TEST_F(MarkTest, PersistentMarkingOfASharedObjectSurvivesConcurrentCounting) {
    constexpr int kTrials = 20000;
    std::atomic<quarn_object *> target{nullptr};
    std::atomic<bool> done{false};
    std::atomic<unsigned long> rounds{0};
    std::thread counter([&] {
        while (!done.load(std::memory_order_relaxed)) {
            if (quarn_object *x = target.load()) {
                quarn_inc(x);
                quarn_dec(x);
            }
            rounds.fetch_add(1);
        }
    });
    int revived = 0;
    std::vector<quarn_object *> kept;
    for (int i = 0; i < kTrials; ++i) {
        quarn_object *x = leaf();
        quarn_mark_mt(x);
        quarn_inc(x);  // the counting thread's reference
        target.store(x);
        quarn_object *holder = ctor({x});
        quarn_mark_persistent(holder);
        target.store(nullptr);
        unsigned long seen = rounds.load();
        while (rounds.load() < seen + 2) {
        }
        auto rc = urc_of(x);
        if (rc < 0x80010001u || rc > 0xA0000000u) ++revived;  // outside the never-freed band
        kept.push_back(holder);
    }
    done = true;
    counter.join();
    EXPECT_EQ(revived, 0) << "in-flight updates revived a persistent object's count";
    for (quarn_object *holder : kept) {  // make them freeable again for the fixture
        quarn_object *x = quarn_ctor_get(holder, 0);
        holder->rc = 1;
        x->rc = 1;
        quarn_dec(holder);
    }
}

// The predicates follow the count table band by band.
TEST(CountBands, PredicatesClassifyEveryBand) {
    struct Row {
        uint32_t rc;
        bool st, mt, persistent, exclusive;
    };
    const Row rows[] = {
        {0x00000000u, false, false, true, false},  {0x00000001u, true, false, false, true},
        {0x00000002u, true, false, false, false},  {0x7FFFFFFFu, true, false, false, false},
        {0x80000000u, true, false, false, false},  {0x80010000u, true, false, false, false},
        {0x80010001u, false, true, false, false},  {0x88000000u, false, true, false, false},
        {0x90000000u, false, true, false, false},  {0xA0000000u, false, true, false, false},
        {0xA0000001u, false, true, false, false},  {0xFFFFFFFFu, false, true, false, false},
    };
    quarn_object o{};
    for (const Row &row : rows) {
        o.rc = static_cast<int32_t>(row.rc);
        EXPECT_EQ(quarn_is_st(&o) != 0, row.st) << std::hex << row.rc;
        EXPECT_EQ(quarn_is_mt(&o) != 0, row.mt) << std::hex << row.rc;
        EXPECT_EQ(quarn_is_persistent(&o) != 0, row.persistent) << std::hex << row.rc;
        EXPECT_EQ(quarn_is_exclusive(&o) != 0, row.exclusive) << std::hex << row.rc;
    }
}

TEST_F(MarkTest, PersistentDoesNotDescendIntoPersistentObjects) {
    quarn_object *below = leaf();
    quarn_object *persistent = ctor({below});
    persistent->rc = 0;
    quarn_object *root = ctor({persistent});
    quarn_lean_runtime_mark_persistent(root);
    EXPECT_EQ(rc_of(below), 1);
    root->rc = 1;
    persistent->rc = 1;
    quarn_dec(root);
}

struct Holder {
    quarn_object *held;
};

const quarn_external_class kHolderClass = {
    [](void *data) { quarn_dec(static_cast<Holder *>(data)->held); },
    [](void *data, void (*visit)(quarn_object *, void *), void *context) {
        visit(static_cast<Holder *>(data)->held, context);
    },
};

TEST_F(MarkTest, ExternalObjectsAreVisitedThroughTheirClass) {
    Holder holder{ctor({leaf()})};
    auto *e = reinterpret_cast<quarn_external_object *>(
        quarn::object::allocate_object(sizeof(quarn_external_object), QUARN_TAG_EXTERNAL));
    e->klass = &kHolderClass;
    e->data = &holder;
    quarn_object *root = quarn_lean_runtime_mark_multi_threaded(&e->header);
    EXPECT_EQ(root, &e->header);
    EXPECT_EQ(rc_of(holder.held), -1);
    EXPECT_EQ(rc_of(quarn_ctor_get(holder.held, 0)), -1);
    quarn_dec(root);
}

TEST(MarkDeathTest, ReservedTagsAreUnreachable) {
    EXPECT_INTERNAL_PANIC(quarn_mark_mt(ctor({with_tag(QUARN_TAG_STRUCT_ARRAY)})),
                          "unreachable code has been reached");
    EXPECT_INTERNAL_PANIC(quarn_mark_persistent(with_tag(QUARN_TAG_UNUSED)),
                          "unreachable code has been reached");
}

}  // namespace

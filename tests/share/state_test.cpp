// The sharing pass whose tables live in a Lean state, reached through the program's closures.
#include "quarn/closure.h"
#include "share_testing.h"

namespace {

using namespace share_testing;

class StateShareTest : public kit::LiveObjectsTest {
protected:
    void SetUp() override {
        kit::LiveObjectsTest::SetUp();
        factory_ = kit_share_factory();
        state_ = kit_share_state();
    }
    void TearDown() override {
        quarn_dec(factory_);
        quarn_dec(state_);
        kit::LiveObjectsTest::TearDown();
    }

    // Shares v (consumed) with the fixture's state, which the call replaces. Returns the
    // shared value (owned).
    quarn_object *share(quarn_object *v) {
        quarn_object *pair = quarn_lean_state_sharecommon(factory_, state_, v);
        EXPECT_EQ(quarn_ptr_tag(pair), 0);
        quarn_object *result = field(pair, 0);
        state_ = field(pair, 1);
        quarn_inc(result);
        quarn_inc(state_);
        quarn_dec(pair);
        return result;
    }

    size_t map_size() const { return kit_share_table_size(field(state_, 0)); }
    size_t set_size() const { return kit_share_table_size(field(state_, 1)); }

    quarn_object *factory_ = nullptr;
    quarn_object *state_ = nullptr;
};

TEST_F(StateShareTest, SharingCarriesOverFromOneCallToTheNext) {
    quarn_object *first = share(ctor({kit_string("x"), kit_string("x")}));
    quarn_object *x = field(first, 0);
    EXPECT_EQ(field(first, 1), x);
    // The copies of "x" and of the pair are in the set; the map has both sources of "x", the
    // source pair and each copy mapped to itself.
    EXPECT_EQ(set_size(), 2u);
    EXPECT_EQ(map_size(), 5u);

    quarn_object *second = share(array_with_capacity({kit_string("x"), quarn_box(1)}, 2));
    EXPECT_EQ(element(second, 0), x) << "found in the set kept from the first call";

    // A value the state has already shared maps to itself through the map alone.
    kit_share_calls before = kit_share_call_counts();
    quarn_inc(first);
    quarn_object *again = share(first);
    kit_share_calls after = kit_share_call_counts();
    EXPECT_EQ(again, first);
    EXPECT_EQ(after.set_find, before.set_find) << "nothing was copied";
    EXPECT_EQ(after.map_insert, before.map_insert);
    EXPECT_EQ(after.map_find - before.map_find, 2u) << "the root's visit and the final check";
    for (quarn_object *o : {first, second, again}) quarn_dec(o);
}

TEST_F(StateShareTest, ScalarAndNeverSharedRootsComeBackAsTheyAre) {
    kit_share_calls before = kit_share_call_counts();
    quarn_object *state = state_;
    EXPECT_EQ(share(quarn_box(42)), quarn_box(42));
    EXPECT_EQ(state_, state) << "the same state, untouched";
    quarn_object *c = closure_over({kit_string("captured")});
    quarn_object *t = thunk(quarn_box(1), nullptr);
    quarn_inc(c);
    quarn_inc(t);
    quarn_object *shared_c = share(c), *shared_t = share(t);
    EXPECT_EQ(shared_c, c);
    EXPECT_EQ(shared_t, t);
    EXPECT_EQ(rc_of(c), 2);
    EXPECT_EQ(kit_share_call_counts().map_find, before.map_find) << "nothing looked up";
    EXPECT_EQ(map_size(), 0u);
    for (quarn_object *o : {shared_c, shared_t, c, t}) quarn_dec(o);
}

TEST_F(StateShareTest, ContentIsCopiedAndBigNumbersGetDigitsOfTheirOwn) {
    quarn_object *in_block = power_of_two(200);  // four digits in the object's own block
    quarn_object *in_array = power_of_two(400);  // seven digits in a digit array
    quarn_object *in_array_twin = power_of_two(400);
    quarn_inc(in_block);
    quarn_inc(in_array);
    quarn_object *text = kit_string("text");
    quarn_inc(text);
    quarn_object *bytes = byte_array({4, 5, 6});
    quarn_inc(bytes);
    quarn_object *shared = share(ctor({in_block, in_array, in_array_twin, text, bytes}));

    auto *big = reinterpret_cast<const quarn_bignum_object *>(field(shared, 1));
    auto *source = reinterpret_cast<const quarn_bignum_object *>(in_array);
    EXPECT_NE(field(shared, 1), in_array);
    EXPECT_EQ(field(shared, 2), field(shared, 1));
    EXPECT_NE(big->magnitude.digits, source->magnitude.digits) << "digits shared with the source";
    EXPECT_TRUE(quarn_lean_nat_dec_eq(field(shared, 1), in_array));
    auto *small = reinterpret_cast<const quarn_bignum_object *>(field(shared, 0));
    EXPECT_NE(field(shared, 0), in_block);
    EXPECT_NE(small->magnitude.digits, reinterpret_cast<const quarn_bignum_object *>(in_block)
                                           ->magnitude.digits);
    EXPECT_TRUE(quarn_lean_nat_dec_eq(field(shared, 0), in_block));
    EXPECT_NE(field(shared, 3), text);
    EXPECT_STREQ(kit_cstr(field(shared, 3)), "text");
    EXPECT_NE(field(shared, 4), bytes);
    EXPECT_TRUE(quarn_lean_sarray_dec_eq(field(shared, 4), bytes));
    // The sources go first, the copies after: each digit array is freed once.
    for (quarn_object *o : {in_block, in_array, text, bytes}) quarn_dec(o);
    quarn_dec(state_);
    state_ = kit_share_state();
    quarn_dec(shared);
}

TEST_F(StateShareTest, NeverSharedChildrenStayInPlace) {
    quarn_object *c = closure_over({});
    quarn_object *r = ref(kit_string("in cell"));
    quarn_object *m = quarn_lean_io_basemutex_new();
    for (quarn_object *o : {c, r, m}) quarn_inc(o);
    quarn_object *shared = share(ctor({c, r, m, quarn_box_float32(1.0f), quarn_box_float32(1.0f)}));
    EXPECT_EQ(field(shared, 0), c);
    EXPECT_EQ(field(shared, 1), r);
    EXPECT_EQ(field(shared, 2), m);
    EXPECT_EQ(field(shared, 3), field(shared, 4));
    quarn_dec(shared);
    quarn_dec(state_);
    state_ = kit_share_state();
    for (quarn_object *o : {c, r, m}) {
        EXPECT_EQ(rc_of(o), 1);
        quarn_dec(o);
    }
}

TEST_F(StateShareTest, DeepAndWideValuesUseTheWorkStack) {
    constexpr size_t kDepth = 100000;
    quarn_object *deep = quarn_box(0);
    for (size_t i = 0; i < kDepth; ++i) deep = ctor({deep, kit_string(i % 2 ? "a" : "b")}, 1);
    quarn_object *shared = share(deep);
    size_t depth = 0;
    quarn_object *a = nullptr, *b = nullptr;
    for (quarn_object *o = shared; !quarn_is_scalar(o); o = field(o, 0), ++depth) {
        quarn_object *&seen = depth % 2 ? b : a;
        if (seen == nullptr) seen = field(o, 1);
        EXPECT_EQ(field(o, 1), seen);
        if (field(o, 1) != seen) break;
    }
    EXPECT_EQ(depth, kDepth);
    quarn_dec(shared);

    constexpr size_t kWidth = 100000;
    quarn_object *wide = quarn_lean_mk_empty_array_with_capacity(quarn_box(kWidth));
    for (size_t i = 0; i < kWidth; ++i) wide = quarn_lean_array_push(wide, quarn_box_uint64(i % 10));
    quarn_object *shared_wide = share(wide);
    EXPECT_EQ(element(shared_wide, 3), element(shared_wide, 13));
    EXPECT_NE(element(shared_wide, 3), element(shared_wide, 4));
    quarn_dec(shared_wide);
}

TEST_F(StateShareTest, MultiThreadedValuesGiveNewPrivateCopies) {
    quarn_object *value = ctor({kit_string("t"), kit_string("t")});
    quarn_mark_mt(value);
    quarn_object *shared = share(value);
    EXPECT_EQ(field(shared, 0), field(shared, 1));
    EXPECT_TRUE(quarn_is_st(shared));
    EXPECT_TRUE(quarn_is_st(field(shared, 0)));
    quarn_dec(shared);
}

TEST(StateShareDeathTest, ReservedTagIsUnreachable) {
    EXPECT_INTERNAL_PANIC(
        quarn_lean_state_sharecommon(kit_share_factory(), kit_share_state(),
                                     ctor({kit_string("x"), with_tag(QUARN_TAG_UNUSED)})),
        "unreachable code has been reached");
}

TEST(StateShareDeathTest, RootMissingFromTheMapEndsTheProcess) {
    EXPECT_INTERNAL_PANIC(quarn_lean_state_sharecommon(kit_share_forgetful_factory(),
                                                       kit_share_state(), ctor({kit_string("x")})),
                          "ShareCommon: the root object was not recorded in the sharing map");
}

}  // namespace

// Host value trees: ownership of the values an aggregate takes over, deep copies and
// equality, handles owned by values, and trees far deeper than the C stack allows to recurse.
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capi/handle_table.h"
#include "capi/types.h"
#include "quarn/host.h"
#include "testing.h"
#include "wire/value_codec.h"

namespace {

using quarn::capi::Kind;
using quarn::capi::TypeExpr;
using HostValueTree = kit::LiveObjectsTest;

TypeExpr simple(Kind kind) {
    TypeExpr t;
    t.kind = kind;
    return t;
}

// An opaque value owning a new handle for a new string, made the way values holding handles
// arrive: decoded from the wire bytes of the handle.
quarn_value *opaque_value(const char *text) {
    quarn::capi::Handle h = quarn::capi::register_object(kit_string(text));
    quarn::Text error;
    quarn_value *v = quarn::wire::decode_value(reinterpret_cast<const uint8_t *>(&h), sizeof h,
                                               simple(Kind::Opaque), nullptr, error);
    EXPECT_NE(v, nullptr) << error;
    return v;
}

bool is_live(uint64_t handle) {
    std::optional<quarn_object *> o = quarn::capi::borrow_handle(handle);
    if (o) quarn_dec(*o);
    return o.has_value();
}

uint64_t handle_of(const quarn_value *opaque) {
    // The wire bytes of an opaque value are its handle.
    quarn::wire::ByteSink out;
    quarn::Text error;
    EXPECT_TRUE(quarn::wire::write_value(*opaque, simple(Kind::Opaque), nullptr, out, error)) << error;
    uint64_t h = 0;
    std::memcpy(&h, out.data(), sizeof h);
    return h;
}

TEST_F(HostValueTree, FreeingAnAggregateFreesWhatItTookOver) {
    // Leak checking (ASan) and the live-object count catch any part left behind.
    quarn_value *inner[] = {quarn_value_cstring("a"), opaque_value("held"), quarn_value_nat_parse("123456789012345678901234567890")};
    quarn_value *fields[] = {quarn_value_list(inner, 3), quarn_value_some(quarn_value_error(quarn_value_unit()))};
    quarn_value *tree = quarn_value_prod(quarn_value_ctor(1, fields, 2), quarn_value_array(nullptr, 0));
    quarn_value_free(tree);
    quarn_value_free(nullptr);
}

TEST_F(HostValueTree, CloneIsDeepAndEqual) {
    quarn_value *items[] = {quarn_value_float(2.5), quarn_value_cstring("x"), quarn_value_none()};
    quarn_value *original = quarn_value_some(quarn_value_list(items, 3));
    quarn_value *copy = quarn_value_clone(original);
    EXPECT_EQ(quarn_value_equal(original, copy), 1);
    const quarn_value *copied_list = quarn_value_get_option(copy);
    EXPECT_NE(copied_list, quarn_value_get_option(original));
    EXPECT_NE(quarn_value_item(copied_list, 1), items[1]);
    quarn_value_free(original);
    size_t length = 0;
    EXPECT_EQ(std::string(quarn_value_get_string(quarn_value_item(copied_list, 1), &length), 1), "x");
    quarn_value_free(copy);
}

TEST_F(HostValueTree, EqualComparesKindPayloadAndShape) {
    quarn_value *a = quarn_value_uint8(1), *b = quarn_value_int8(1);
    EXPECT_EQ(quarn_value_equal(a, b), 0) << "same bits, different kinds";
    quarn_value_free(a);
    quarn_value_free(b);
    quarn_value *ok = quarn_value_ok(quarn_value_unit()), *error = quarn_value_error(quarn_value_unit());
    EXPECT_EQ(quarn_value_equal(ok, error), 0);
    quarn_value_free(ok);
    quarn_value_free(error);
    quarn_value *one[] = {quarn_value_unit()};
    quarn_value *two[] = {quarn_value_unit(), quarn_value_unit()};
    quarn_value *short_list = quarn_value_list(one, 1), *long_list = quarn_value_list(two, 2);
    EXPECT_EQ(quarn_value_equal(short_list, long_list), 0);
    quarn_value_free(short_list);
    quarn_value_free(long_list);
    quarn_value *c0 = quarn_value_ctor(0, nullptr, 0), *c1 = quarn_value_ctor(1, nullptr, 0);
    EXPECT_EQ(quarn_value_equal(c0, c1), 0);
    quarn_value_free(c0);
    quarn_value_free(c1);
    quarn_value *n1 = quarn_value_nat_parse("340282366920938463463374607431768211456");
    quarn_value *n2 = quarn_value_nat_parse("340282366920938463463374607431768211457");
    EXPECT_EQ(quarn_value_equal(n1, n2), 0);
    quarn_value_free(n1);
    quarn_value_free(n2);
}

TEST_F(HostValueTree, OpaqueValuesOwnTheirHandle) {
    quarn_value *v = opaque_value("object");
    EXPECT_EQ(quarn_value_kind(v), 28);
    uint64_t h = handle_of(v);
    ASSERT_TRUE(is_live(h));
    quarn_value *copy = quarn_value_clone(v);
    uint64_t copied = handle_of(copy);
    EXPECT_NE(copied, h) << "a clone holds a handle of its own";
    EXPECT_TRUE(is_live(copied));
    quarn_value_free(v);
    EXPECT_FALSE(is_live(h));
    EXPECT_TRUE(is_live(copied)) << "the clone's handle outlives the original";
    quarn_value_free(copy);
    EXPECT_FALSE(is_live(copied));
}

TEST_F(HostValueTree, LeanClosureValuesOwnTheirHandleAndHostFunctionsDoNot) {
    quarn::capi::Handle h = quarn::capi::register_object(kit_string("closure stand-in"));
    uint8_t bytes[18] = {0};
    std::memcpy(bytes + 1, &h, 8);
    bytes[9] = 1;  // a host function numbered 77
    uint64_t id = 77;
    std::memcpy(bytes + 10, &id, 8);
    TypeExpr function = simple(Kind::Function);
    function.children.push_back(simple(Kind::Nat));
    function.children.push_back(simple(Kind::Nat));
    TypeExpr pair = simple(Kind::Prod);
    pair.children.push_back(function);
    pair.children.push_back(function);
    quarn::Text error;
    quarn_value *v = quarn::wire::decode_value(bytes, sizeof bytes, pair, nullptr, error);
    ASSERT_NE(v, nullptr) << error;
    EXPECT_EQ(quarn_value_kind(quarn_value_first(v)), QUARN_KIND_FUNCTION);
    quarn_value *copy = quarn_value_clone(v);
    quarn_value_free(v);
    EXPECT_FALSE(is_live(h));
    quarn_value_free(copy);
}

// The value's handle released behind its back (as quarn_handle_release would).
quarn_value *value_with_released_handle() {
    quarn_value *v = opaque_value("x");
    std::optional<quarn_object *> o = quarn::capi::adopt_handle(handle_of(v));
    quarn_dec(*o);
    return v;
}

TEST_F(HostValueTree, HandlesThatAreNotLiveAreFatal) {
    // The handle's number depends on what ran before; the rest of the text is exact.
    EXPECT_EXIT(quarn_value_free(value_with_released_handle()), ::testing::ExitedWithCode(1),
                "INTERNAL PANIC: quarn_value_free: [0-9]+ is not a live handle "
                "\\(was the value freed twice\\?\\)\n$");
    EXPECT_EXIT(quarn_value_clone(value_with_released_handle()), ::testing::ExitedWithCode(1),
                "INTERNAL PANIC: quarn_value_clone: [0-9]+ is not a live handle "
                "\\(was the value freed\\?\\)\n$");
}

TEST_F(HostValueTree, ThreadsCloneAndFreeCopiesOfOneValue) {
    // Several threads read one value at once, each cloning it (new handles) and freeing its
    // clones; the handle table is the only thing they share.
    quarn_value *items[] = {opaque_value("a"), opaque_value("b"), quarn_value_cstring("c")};
    quarn_value *shared = quarn_value_list(items, 3);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([shared] {
            for (int i = 0; i < 500; ++i) {
                quarn_value *copy = quarn_value_clone(shared);
                if (quarn_value_equal(copy, shared) != 0) ADD_FAILURE() << "a clone with the same handles";
                quarn_value_free(copy);
            }
        });
    for (std::thread &t : threads) t.join();
    quarn_value_free(shared);
}

TEST(HostValueDeepTrees, AMillionLevelsDeepCostNoCStack) {
    // quarn_value_some a million times over; every walk over it keeps its stack on the heap.
    constexpr int kDepth = 1'000'000;
    quarn_value *v = quarn_value_unit();
    for (int i = 0; i < kDepth; ++i) v = quarn_value_some(v);
    quarn_value *copy = quarn_value_clone(v);
    EXPECT_EQ(quarn_value_equal(v, copy), 1);
    quarn_value_free(copy);
    quarn_value_free(v);
}

}  // namespace

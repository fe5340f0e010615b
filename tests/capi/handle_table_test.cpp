// The handle table: registration, borrowing, adopting, clone and release, across threads.
#include <thread>
#include <vector>

#include "capi/handle_table.h"
#include "quarn/host.h"
#include "testing.h"

namespace {

using quarn::capi::adopt_handle;
using quarn::capi::borrow_handle;
using quarn::capi::register_object;

class HandleTable : public kit::LiveObjectsTest {};

quarn_object *new_object() {
    quarn_object *o = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(o, 0, quarn_box(7));
    return o;
}

TEST_F(HandleTable, RegisterMarksSharedAndNumbersAreFresh) {
    quarn_object *o = new_object();
    uint64_t a = register_object(o);
    EXPECT_NE(a, 0u);
    EXPECT_TRUE(quarn_is_mt(o));
    uint64_t b = quarn_handle_clone(a);
    EXPECT_GT(b, a);
    quarn_handle_release(a);
    // The clone keeps the object.
    auto borrowed = borrow_handle(b);
    ASSERT_TRUE(borrowed.has_value());
    EXPECT_EQ(*borrowed, o);
    quarn_dec(*borrowed);
    EXPECT_FALSE(borrow_handle(a).has_value());
    EXPECT_FALSE(adopt_handle(a).has_value());
    // Numbers are never reused.
    quarn_object *p = new_object();
    uint64_t c = register_object(p);
    EXPECT_GT(c, b);
    auto adopted = adopt_handle(c);
    ASSERT_TRUE(adopted.has_value());
    EXPECT_EQ(*adopted, p);
    quarn_dec(*adopted);
    EXPECT_FALSE(adopt_handle(c).has_value());
    quarn_handle_release(b);
    EXPECT_EQ(quarn::capi::not_live_message(18446744073709551615ull), "18446744073709551615 is not a live handle");
}

TEST_F(HandleTable, ManyThreadsRegisterCloneAndRelease) {
    quarn_object *shared = new_object();
    uint64_t root = register_object(shared);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([root] {
            for (int i = 0; i < 2000; ++i) {
                uint64_t h = quarn_handle_clone(root);
                auto o = borrow_handle(h);
                if (o) quarn_dec(*o);
                quarn_handle_release(h);
                uint64_t own = register_object(new_object());
                quarn_handle_release(own);
            }
        });
    for (auto &t : threads) t.join();
    quarn_handle_release(root);
}

TEST(HandleTableDeath, NotLiveHandlesAreFatal) {
    // The number depends on what the process registered before, so the statement makes and
    // releases its own handle.
    auto release_twice = [] {
        uint64_t h = register_object(new_object());
        quarn_handle_release(h);
        quarn_handle_release(h);
    };
    EXPECT_EXIT(release_twice(), ::testing::ExitedWithCode(1),
                "INTERNAL PANIC: quarn_handle_release: [0-9]+ is not a live handle\n$");
    EXPECT_INTERNAL_PANIC(quarn_handle_clone(0), "quarn_handle_clone: 0 is not a live handle");
    EXPECT_INTERNAL_PANIC(quarn_handle_release(18446744073709551615ull),
                          "quarn_handle_release: 18446744073709551615 is not a live handle");
}

}  // namespace

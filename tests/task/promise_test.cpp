// Promises: the first resolution wins, a dropped promise finishes its task with none, and
// reading a dropped promise's result reports it.
#include "task_testing.h"

namespace {

using namespace task_testing;
using PromiseTest = WithManager<2>;

TEST_F(PromiseTest, TheFirstResolutionWins) {
    Value promise = quarn_lean_io_promise_new();
    EXPECT_EQ(promise->rc, 1) << "the promise itself is single-threaded";
    Value result = quarn_lean_io_promise_result_opt(promise);
    EXPECT_LT(result->rc, 0) << "its task is multi-threaded";
    EXPECT_EQ(quarn_lean_io_promise_resolve(kit_string("first"), promise), quarn_box(0));
    EXPECT_EQ(quarn_lean_io_promise_resolve(kit_string("second"), promise), quarn_box(0));
    Value some = quarn_lean_io_wait(result);
    EXPECT_EQ(quarn_obj_tag(some), 1u);
    EXPECT_STREQ(kit_cstr(quarn_ctor_get(some, 0)), "first");
    Value text = quarn_lean_option_get_or_block(some);
    EXPECT_STREQ(kit_cstr(text), "first");
    quarn_dec(text);
    quarn_dec(promise);
}

TEST_F(PromiseTest, ADroppedPromiseFinishesItsTaskWithNone) {
    Value promise = quarn_lean_io_promise_new();
    Value result = quarn_lean_io_promise_result_opt(promise);
    quarn_dec(promise);
    EXPECT_EQ(quarn_lean_io_wait(result), quarn_box(0));
}

TEST_F(PromiseTest, AWaiterOnAnotherThreadWakesOnResolution) {
    Value promise = quarn_lean_io_promise_new();
    Value result = quarn_lean_io_promise_result_opt(promise);
    Value seen = nullptr;
    std::thread waiter([&] { seen = quarn_lean_io_wait(result); });
    quarn_lean_io_promise_resolve(quarn_box(11), promise);
    waiter.join();
    EXPECT_EQ(quarn_ctor_get(seen, 0), quarn_box(11));
    quarn_dec(seen);
    quarn_dec(promise);
}

TEST_F(PromiseTest, ReadingADroppedPromisesResultReportsIt) {
    EXPECT_DEATH(
        {
            // Abort after the report instead of blocking for good.
            setenv("LEAN_ABORT_ON_PANIC", "1", 1);
            quarn_lean_option_get_or_block(quarn_box(0));
        },
        "PANIC: Promise.result!: promise has been dropped without ever being resolved");
}

TEST(PromiseAfterTheEnd, ADroppedPromiseResolvesWithoutAManager) {
    int64_t live_before = quarn::object::live_objects();
    quarn::task::start_manager(1);
    Value promise = quarn_lean_io_promise_new();
    Value result = quarn_lean_io_promise_result_opt(promise);
    quarn::task::finalize_manager();
    quarn_dec(promise);
    EXPECT_EQ(quarn_lean_io_wait(result), quarn_box(0));
    EXPECT_EQ(quarn::object::live_objects(), live_before);
}

}  // namespace

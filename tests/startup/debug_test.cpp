// The debugging primitives print, then run the rest of the computation.
#include <chrono>

#include "quarn/closure.h"
#include "quarn/startup.h"
#include "testing.h"

namespace {

using DebugTest = kit::LiveObjectsTest;

quarn_object *rest_code(quarn_object *answer, quarn_object *unit) {
    EXPECT_EQ(unit, quarn_box(0));
    return answer;
}

// A closure waiting for the unit value, holding the answer it returns.
quarn_object *rest_returning(quarn_object *answer) {
    quarn_object *c = quarn_alloc_closure(reinterpret_cast<void *>(&rest_code), 2, 1);
    quarn_closure_set(c, 0, answer);
    return c;
}

TEST_F(DebugTest, TracePrintsThenContinues) {
    testing::internal::CaptureStderr();
    quarn_object *r = quarn_lean_dbg_trace(kit_string("x = 5"), rest_returning(kit_string("done")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "x = 5\n");
    EXPECT_STREQ(kit_cstr(r), "done");
    quarn_dec(r);
}

TEST_F(DebugTest, TraceIfSharedSpeaksOnlyForSharedObjects) {
    quarn_object *message = kit_string("in loop");
    quarn_object *value = kit_string("v");
    testing::internal::CaptureStderr();
    EXPECT_EQ(quarn_lean_dbg_trace_if_shared(message, value), value);
    EXPECT_EQ(quarn_lean_dbg_trace_if_shared(message, quarn_box(3)), quarn_box(3));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    quarn_inc(value);
    testing::internal::CaptureStderr();
    quarn_lean_dbg_trace_if_shared(message, value);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "shared RC in loop\n");
    quarn_dec(value);
    quarn_dec(value);
    quarn_dec(message);
}

TEST_F(DebugTest, SleepWaitsAtLeastTheTime) {
    auto start = std::chrono::steady_clock::now();
    quarn_object *r = quarn_lean_dbg_sleep(1005, rest_returning(quarn_box(1)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1005));
    EXPECT_EQ(r, quarn_box(1));
}

TEST_F(DebugTest, StackTracePrintsFramesOneLineEach) {
    size_t calls = kit_eprintln_calls();
    testing::internal::CaptureStderr();
    quarn_object *r = quarn_lean_dbg_stack_trace(rest_returning(quarn_box(2)));
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r, quarn_box(2));
    EXPECT_NE(out.find("DebugTest_StackTracePrintsFramesOneLineEach"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), kit_eprintln_calls() - calls);
}

}  // namespace

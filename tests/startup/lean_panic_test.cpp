// The Lean-level panic: print, then go on with the default value.
#include <csignal>
#include <cstdlib>

#include "quarn/io.h"
#include "quarn/startup.h"
#include "testing.h"

namespace {

class LeanPanicTest : public kit::LiveObjectsTest {
protected:
    void SetUp() override {
        kit::LiveObjectsTest::SetUp();
        unsetenv("LEAN_BACKTRACE");
    }
    void TearDown() override {
        unsetenv("LEAN_BACKTRACE");
        kit::LiveObjectsTest::TearDown();
    }
};

TEST_F(LeanPanicTest, PrintsTheMessageAndReturnsTheDefault) {
    setenv("LEAN_BACKTRACE", "0", 1);
    quarn_object *fallback = kit_string("fallback");
    testing::internal::CaptureStderr();
    quarn_object *r = quarn_lean_panic_fn_borrowed(fallback, kit_string("Error: index out of bounds"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: index out of bounds\n");
    EXPECT_EQ(r, fallback);
    EXPECT_EQ(fallback->rc, 2) << "the default is borrowed and returned owned";
    quarn_dec(r);
    quarn_dec(fallback);
}

TEST_F(LeanPanicTest, PrintsABacktraceUnlessTurnedOff) {
    size_t calls = kit_eprintln_calls();
    testing::internal::CaptureStderr();
    quarn_object *r = quarn_lean_panic_fn_borrowed(quarn_box(0), kit_string("boom"));
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r, quarn_box(0));
    EXPECT_EQ(out.rfind("boom\nbacktrace:\n", 0), 0u) << out;
    EXPECT_GT(kit_eprintln_calls(), calls + 2) << "one call per line";
    setenv("LEAN_BACKTRACE", "00", 1);  // only exactly "0" turns it off
    testing::internal::CaptureStderr();
    quarn_lean_panic_fn_borrowed(quarn_box(0), kit_string("boom"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("backtrace:"), std::string::npos);
}

TEST(LeanPanicDeathTest, AbortsAfterWritingStraightToStandardError) {
    EXPECT_EXIT(
        {
            setenv("LEAN_ABORT_ON_PANIC", "", 1);
            setenv("LEAN_BACKTRACE", "0", 1);
            quarn_register_export("lean_io_eprintln", nullptr);  // not used on this path
            quarn_lean_panic_fn_borrowed(quarn_box(0), kit_string("fatal"));
        },
        ::testing::KilledBySignal(SIGABRT), "^fatal\n$");
}

}  // namespace

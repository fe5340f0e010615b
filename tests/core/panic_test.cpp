// The internal panic: its text, its exit status, and abort() on request.
#include <csignal>
#include <cstdlib>

#include "core/panic.h"
#include "testing.h"

namespace {

TEST(PanicDeathTest, ExitsWithStatusOneAfterTheMessage) {
    EXPECT_EXIT(quarn::internal_panic("reference counter overflowed"), ::testing::ExitedWithCode(1),
                "^INTERNAL PANIC: reference counter overflowed\n$");
}

TEST(PanicDeathTest, AbortsWhenAskedEvenByAnEmptyValue) {
    EXPECT_EXIT(
        {
            setenv("LEAN_ABORT_ON_PANIC", "", 1);
            quarn::internal_panic("out of memory");
        },
        ::testing::KilledBySignal(SIGABRT), "INTERNAL PANIC: out of memory");
    EXPECT_EXIT(
        {
            setenv("LEAN_ABORT_ON_PANIC", "0", 1);
            quarn::internal_panic("x");
        },
        ::testing::KilledBySignal(SIGABRT), "INTERNAL PANIC: x");
}

TEST(PanicDeathTest, RunsTheExitHandlers) {
    EXPECT_EXIT(
        {
            std::atexit([] { fputs("exit handler ran\n", stderr); });
            quarn::internal_panic("integer overflow in runtime computation");
        },
        ::testing::ExitedWithCode(1), "exit handler ran");
}

}  // namespace

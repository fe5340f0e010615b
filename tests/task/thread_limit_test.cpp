// LEAN_NUM_THREADS as the task manager reads it.
#include "task_testing.h"

namespace {

using quarn::task::thread_limit_from;

TEST(ThreadLimit, DigitsUpToTheFirstNonDigit) {
    EXPECT_EQ(thread_limit_from("4abc"), 4u);
    EXPECT_EQ(thread_limit_from("+12"), 12u);
    EXPECT_EQ(thread_limit_from("0"), 0u);
    EXPECT_EQ(thread_limit_from("007"), 7u);
}

TEST(ThreadLimit, EmptyTextOrALoneSignIsZero) {
    EXPECT_EQ(thread_limit_from(""), 0u);
    EXPECT_EQ(thread_limit_from("-"), 0u);
    EXPECT_EQ(thread_limit_from("+"), 0u);
    EXPECT_EQ(thread_limit_from("abc"), 0u);
}

TEST(ThreadLimit, LeadingUnicodeWhiteSpaceIsSkipped) {
    EXPECT_EQ(thread_limit_from(" \t\n3"), 3u);
    EXPECT_EQ(thread_limit_from("\u3000\u00A0\u20285"), 5u) << "ideographic space, no-break space, line separator";
    EXPECT_EQ(thread_limit_from("\u200B5"), 0u) << "a zero-width space is not white space";
    EXPECT_EQ(thread_limit_from("5 6"), 5u);
}

TEST(ThreadLimit, NegativeAndHugeValuesKeepTheirLow32Bits) {
    EXPECT_EQ(thread_limit_from("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(thread_limit_from("4294967297"), 1u) << "2^32 + 1";
    EXPECT_EQ(thread_limit_from("99999999999999999999999"), 0xFFFFFFFFu) << "saturates at 2^63 - 1";
    EXPECT_EQ(thread_limit_from("-99999999999999999999999"), 0u) << "saturates at -2^63";
}

TEST(ThreadLimit, UnsetOrNotTextMeansTheHardware) {
    uint32_t hardware = quarn_lean_internal_get_hardware_concurrency();
    EXPECT_GE(hardware, 1u);
    EXPECT_EQ(thread_limit_from(nullptr), hardware);
    EXPECT_EQ(thread_limit_from("\xff" "4"), hardware);
}

}  // namespace

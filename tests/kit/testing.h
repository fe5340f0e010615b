// GoogleTest helpers shared by the test suites.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

#include "kit.h"
#include "object/heap.h"

namespace kit {

// A regular expression matching exactly the internal panic line with this message.
std::string panic_pattern(std::string_view message);

// Escapes every regular-expression metacharacter of text.
std::string regex_escape(std::string_view text);

// Ends the test program with a message: a hang must not pass silently or stall the suite.
[[noreturn]] inline void gave_up(const char *what) {
    std::fprintf(stderr, "gave up waiting for %s\n", what);
    std::fflush(stderr);
    std::abort();
}

// Waits until condition() holds, giving up after `patience`.
template <typename Condition>
void wait_until(Condition condition, const char *what,
                std::chrono::seconds patience = std::chrono::seconds(30)) {
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) gave_up(what);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

// A fixture that checks every test frees what it allocates: the number of live objects
// must be the same after the test as before.
class LiveObjectsTest : public ::testing::Test {
protected:
    void SetUp() override { live_before_ = quarn::object::live_objects(); }
    void TearDown() override {
        EXPECT_EQ(quarn::object::live_objects(), live_before_) << "objects leaked or freed twice";
    }

private:
    int64_t live_before_ = 0;
};

}  // namespace kit

// The statement ends the process through the internal panic with exactly this message.
#define EXPECT_INTERNAL_PANIC(statement, message) \
    EXPECT_EXIT(statement, ::testing::ExitedWithCode(1), ::kit::panic_pattern(message))

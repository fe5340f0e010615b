#include "testing.h"

#include <cstdlib>

#include "quarn/handle.h"

namespace kit {

std::string regex_escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (std::string_view(".[]{}()\\*+?^$|").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

std::string panic_pattern(std::string_view message) {
    return "INTERNAL PANIC: " + regex_escape(message) + "\n$";
}

}  // namespace kit

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Tests start threads; death tests re-execute the binary instead of forking it.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Panics are expected to exit with status 1 unless a test asks for abort().
    unsetenv("LEAN_ABORT_ON_PANIC");
    // Like a compiled program, register the exports before anything needs them.
    kit_register_exports();
    // The default standard streams are made once and kept for good: make them before any
    // test starts counting live objects.
    quarn_dec(quarn_lean_get_stdin());
    quarn_dec(quarn_lean_get_stdout());
    quarn_dec(quarn_lean_get_stderr());
    return RUN_ALL_TESTS();
}

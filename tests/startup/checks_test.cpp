// Start-up consistency checks, fatal errors, exit and constants.
#include <cstring>

#include "quarn/startup.h"
#include "testing.h"

namespace {

TEST(Checks, EqualFingerprintsPass) {
    EXPECT_EQ(quarn_check_layout("structure", "Main.Point", "a1b2", "a1b2"), 0);
}

TEST(ChecksDeathTest, MessagesNameWhatWentWrong) {
    EXPECT_INTERNAL_PANIC(quarn_check_layout("structure", "Main.Point", "abc", "abd"),
                          "structure of Main.Point has another layout than the one this program "
                          "was generated for (fingerprint abd, expected abc): regenerate both "
                          "from the same Lean definition");
    EXPECT_INTERNAL_PANIC(quarn_check_layout("structure", nullptr, "a", "a"),
                          "quarn_check_layout is a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_check_layout("structure", "x", "\xC3", "a"),
                          "quarn_check_layout is not UTF-8");
    EXPECT_INTERNAL_PANIC(quarn_panic_uninitialized("Main.table"),
                          "'Main.table' was used before its module was initialized");
    EXPECT_INTERNAL_PANIC(quarn_panic_facility_missing("Clock", "now", "host_clock_now"),
                          "the host does not provide the facility Clock: its operation now "
                          "(Lean extern 'host_clock_now') is not implemented; provide every "
                          "facility before using the program");
    EXPECT_INTERNAL_PANIC(quarn_panic_facility_missing("Clock", "now", nullptr),
                          "quarn_panic_facility_missing is a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_panic_unreachable(), "unreachable code has been reached");
    EXPECT_INTERNAL_PANIC(quarn_lean_sorry(0), "executed 'sorry'");
}

TEST(ExitDeathTest, ExitStatusAndFlushing) {
    EXPECT_EXIT(quarn_lean_io_exit(3), ::testing::ExitedWithCode(3), "");
    EXPECT_EXIT(
        {
            std::atexit([] { fputs("exit handler ran\n", stderr); });
            quarn_lean_io_exit(0);
        },
        ::testing::ExitedWithCode(0), "exit handler ran");
    EXPECT_EXIT(
        {
            std::atexit([] { fputs("exit handler ran\n", stderr); });
            quarn_lean_io_force_exit(255);
        },
        ::testing::ExitedWithCode(255), "^$");
}

TEST(Constants, PlatformAndVersion) {
    EXPECT_EQ(quarn_abi_v2(), 2u);
    EXPECT_EQ(quarn_lean_system_platform_linux(), 1);
    EXPECT_EQ(quarn_lean_version_get_is_release(), 1);
    for (auto query : {quarn_lean_system_platform_windows, quarn_lean_system_platform_osx,
                       quarn_lean_system_platform_emscripten, quarn_lean_internal_has_llvm_backend,
                       quarn_lean_internal_is_stage0})
        EXPECT_EQ(query(), 0);
    EXPECT_EQ(quarn_lean_system_platform_nbits(), quarn_box(64));
    EXPECT_EQ(quarn_lean_version_get_major(), quarn_box(4));
    EXPECT_EQ(quarn_lean_version_get_minor(), quarn_box(34));
    EXPECT_EQ(quarn_lean_version_get_patch(), quarn_box(1));
    quarn_object *target = quarn_lean_system_platform_target();
    quarn_object *desc = quarn_lean_version_get_special_desc();
    quarn_object *hash = quarn_lean_get_githash();
    EXPECT_STREQ(kit_cstr(target), "x86_64-unknown-linux-gnu");
    EXPECT_STREQ(kit_cstr(desc), "");
    ASSERT_EQ(std::strlen(kit_cstr(hash)), 40u);
    EXPECT_EQ(std::strspn(kit_cstr(hash), "0123456789abcdef"), 40u);
    for (quarn_object *s : {target, desc, hash}) quarn_dec(s);
}

}  // namespace

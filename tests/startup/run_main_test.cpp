// Running a compiled program: arguments, threads, stack sizes, exit codes, uncaught errors.
#include <pthread.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "io/export_table.h"
#include "io/io_result.h"
#include "quarn/startup.h"
#include "startup/thread_stack.h"
#include "testing.h"

namespace {

// What the program's main saw, filled in by the mains below.
struct Observed {
    std::string thread_name;
    size_t stack_size = 0;
    pthread_t thread{};
    std::vector<std::string> arguments;
    bool initializing_in_main = true;
    bool initializing_in_initializer = false;
    int initializer_runs = 0;
};
Observed observed;

void observe_thread() {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    observed.thread_name = name;
    observed.thread = pthread_self();
    pthread_attr_t attributes;
    pthread_getattr_np(pthread_self(), &attributes);
    pthread_attr_getstacksize(&attributes, &observed.stack_size);
    pthread_attr_destroy(&attributes);
    observed.initializing_in_main = quarn_lean_io_initializing();
}

quarn_object *count_initializer() {
    ++observed.initializer_runs;
    observed.initializing_in_initializer = quarn_lean_io_initializing();
    return quarn::io::io_ok_unit();
}

quarn_object *main_with_args(quarn_object *args) {
    observe_thread();
    for (quarn_object *cell = args; !quarn_is_scalar(cell); cell = quarn_ctor_get(cell, 1))
        observed.arguments.emplace_back(kit_cstr(quarn_ctor_get(cell, 0)));
    quarn_dec(args);
    return quarn::io::io_ok(quarn_box(0));
}

quarn_object *main_returning_7() {
    observe_thread();
    return quarn::io::io_ok(quarn_box(7));
}

quarn_object *main_failing() {
    return quarn::io::io_error(
        quarn::io::call_export(quarn::io::Export::mk_io_user_error, kit_string("no config")));
}

uint32_t run(void *main, bool takes_args, bool returns_uint32, std::vector<const char *> argv) {
    observed = Observed{};
    return quarn_run_main(count_initializer, main, takes_args, returns_uint32,
                          static_cast<int>(argv.size()), const_cast<char **>(argv.data()));
}

class RunMainTest : public kit::LiveObjectsTest {
protected:
    void TearDown() override {
        unsetenv("LEAN_MAIN_USE_THREAD");
        unsetenv("LEAN_STACK_SIZE_KB");
        kit::LiveObjectsTest::TearDown();
    }
};

TEST_F(RunMainTest, ArgumentsReachMainAsAListOfStrings) {
    // One replacement character for a run of bad bytes, one for each run.
    EXPECT_EQ(run(reinterpret_cast<void *>(main_with_args), true, false,
                  {"a", "b\xFF\x80\x80z", "\xC3(\xFE"}),
              0u);
    EXPECT_EQ(observed.arguments,
              (std::vector<std::string>{"a", "b\xEF\xBF\xBDz", "\xEF\xBF\xBD(\xEF\xBF\xBD"}));
    EXPECT_EQ(observed.initializer_runs, 1);
    EXPECT_FALSE(observed.initializing_in_main);
    run(reinterpret_cast<void *>(main_with_args), true, false, {});
    EXPECT_TRUE(observed.arguments.empty());
}

TEST_F(RunMainTest, MainRunsOnItsOwnThreadUnlessTurnedOff) {
    for (const char *setting : {static_cast<const char *>(nullptr), "1", "00"}) {
        if (setting) setenv("LEAN_MAIN_USE_THREAD", setting, 1);
        run(reinterpret_cast<void *>(main_returning_7), false, true, {});
        EXPECT_EQ(observed.thread_name, "lean-main") << (setting ? setting : "unset");
        EXPECT_FALSE(pthread_equal(observed.thread, pthread_self()));
    }
    setenv("LEAN_MAIN_USE_THREAD", "0", 1);
    run(reinterpret_cast<void *>(main_returning_7), false, true, {});
    EXPECT_TRUE(pthread_equal(observed.thread, pthread_self()));
}

TEST_F(RunMainTest, TheMainThreadGetsTheConfiguredStack) {
    setenv("LEAN_STACK_SIZE_KB", "8192", 1);
    run(reinterpret_cast<void *>(main_returning_7), false, true, {});
    EXPECT_EQ(observed.stack_size, 8u * 1024 * 1024 + 128 * 1024);
    unsetenv("LEAN_STACK_SIZE_KB");
    run(reinterpret_cast<void *>(main_returning_7), false, true, {});
    EXPECT_EQ(observed.stack_size, size_t{1} << 30);
}

TEST(ThreadStack, SizesFromTheEnvironment) {
    struct Case {
        const char *setting;
        size_t bytes;
    } cases[] = {
        {"8192", 8u * 1024 * 1024 + 131072}, {"4", 4096 + 131072}, {"1", size_t{1} << 30},
        {"3", size_t{1} << 30},               {"0", size_t{1} << 30}, {"-5", size_t{1} << 30},
        {"abc", size_t{1} << 30},             {"12abc", 12288 + 131072}, {" +6", 4096 + 131072},
        {"\xFF", size_t{1} << 30},
    };
    for (const Case &c : cases) {
        setenv("LEAN_STACK_SIZE_KB", c.setting, 1);
        EXPECT_EQ(quarn::startup::lean_thread_stack_size(), c.bytes) << c.setting;
    }
    unsetenv("LEAN_STACK_SIZE_KB");
    EXPECT_EQ(quarn::startup::lean_thread_stack_size(), size_t{1} << 30);
}

TEST_F(RunMainTest, ExitCodes) {
    EXPECT_EQ(run(reinterpret_cast<void *>(main_returning_7), false, true, {}), 7u);
    EXPECT_EQ(run(reinterpret_cast<void *>(main_returning_7), false, false, {}), 0u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(reinterpret_cast<void *>(main_failing), false, false, {}), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "uncaught exception: no config\n");
}

TEST(RunMainDeathTest, InitializationEndsBetweenTheInitializerAndMain) {
    // A fresh process: nothing has ended initialization yet.
    EXPECT_EXIT(
        {
            run(reinterpret_cast<void *>(main_returning_7), false, true, {});
            bool right = observed.initializing_in_initializer && !observed.initializing_in_main;
            std::exit(right ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(RunMainDeathTest, AProgramsProcessEndsWithItsExitCode) {
    EXPECT_EXIT(std::exit(run(reinterpret_cast<void *>(main_failing), false, false, {})),
                ::testing::ExitedWithCode(1), "^uncaught exception: no config\n$");
    EXPECT_EXIT(std::exit(run(reinterpret_cast<void *>(main_returning_7), false, true, {})),
                ::testing::ExitedWithCode(7), "^$");
}

TEST(RunMainDeathTest, AMainThreadThatCannotStart) {
    // A stack larger than the address space can hold; the system's reason follows.
    EXPECT_EXIT(
        {
            setenv("LEAN_STACK_SIZE_KB", "9000000000000000000", 1);
            run(reinterpret_cast<void *>(main_returning_7), false, true, {});
        },
        ::testing::ExitedWithCode(1), "^INTERNAL PANIC: cannot start the main thread: [A-Z][a-z ]+\n$");
}

TEST(RunMainDeathTest, NullMainAndArguments) {
    EXPECT_INTERNAL_PANIC(run(nullptr, false, false, {}), "quarn_run_main: `main` is a null pointer");
    EXPECT_INTERNAL_PANIC(run(reinterpret_cast<void *>(main_with_args), true, false, {"a", nullptr}),
                          "quarn_run_main: an argument is a null pointer");
}

}  // namespace

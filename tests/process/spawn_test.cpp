// Spawning children: piped, inherited and null streams; directory and environment; exit
// codes, signals, kill, try_wait; failures inside the child; descriptors and zombies left
// after many cycles.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "process_testing.h"
#include "quarn/fs.h"

namespace {

using namespace process_testing;

class SpawnTest : public kit::LiveObjectsTest {};

Spawn shell(const std::string &script) {
    Spawn s;
    s.command = "sh";
    s.arguments = {"-c", script};
    return s;
}

// The output of a child whose stdout is piped, then its exit code.
std::pair<std::string, uint32_t> run_capturing(Spawn s, unsigned stream = 1) {
    s.modes[stream] = QUARN_STDIO_PIPED;
    quarn_object *child = spawn(s);
    std::string out = read_all(field(child, stream));
    uint32_t code = wait_code(child);
    quarn_dec(child);
    return {out, code};
}

int open_descriptors() {
    int n = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

TEST_F(SpawnTest, TenMebibytesEachWayThroughCat) {
    Spawn s;
    s.command = "cat";
    s.modes[0] = s.modes[1] = QUARN_STDIO_PIPED;
    quarn_object *child = spawn(s);
    constexpr size_t kTotal = 10 << 20;
    std::string chunk(1 << 16, '\0');
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7 + i / 251);
    // Taking stdin out of the child lets the writer close it by releasing it.
    quarn_object *pair = ok(quarn_lean_io_process_child_take_stdin(child));
    quarn_object *in = quarn_ctor_get(pair, 0);
    child = quarn_ctor_get(pair, 1);
    quarn_inc(in);
    quarn_inc(child);
    quarn_dec(pair);
    std::thread writer([&] {
        for (size_t sent = 0; sent < kTotal; sent += chunk.size())
            quarn_dec(ok(quarn_lean_io_prim_handle_write(
                in, quarn::array::make_byte_array(chunk.data(), chunk.size()))));
        quarn_dec(ok(quarn_lean_io_prim_handle_flush(in)));
        quarn_dec(in);  // the last reference: the pipe closes and cat sees the end
    });
    std::string out = read_all(field(child, 1));
    writer.join();
    ASSERT_EQ(out.size(), kTotal);
    for (size_t at = 0; at < kTotal; at += chunk.size())
        ASSERT_EQ(out.compare(at, chunk.size(), chunk), 0) << "at byte " << at;
    EXPECT_EQ(wait_code(child), 0u);
    quarn_dec(child);
}

TEST_F(SpawnTest, NullAndInheritedStreams) {
    // stdin from /dev/null: cat ends at once.
    Spawn s = shell("cat; echo done; echo hidden >&2");
    s.modes[0] = QUARN_STDIO_NULL;
    s.modes[2] = QUARN_STDIO_NULL;
    auto [out, code] = run_capturing(s);
    EXPECT_EQ(out, "done\n");
    EXPECT_EQ(code, 0u);

    // An inherited stdout is this process's descriptor 1, here a file.
    char path[] = "/tmp/quarn-inherit-XXXXXX";
    int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    int saved = ::dup(1);
    ::dup2(file, 1);
    quarn_object *child = spawn(shell("echo inherited"));
    uint32_t inherited_code = wait_code(child);
    ::dup2(saved, 1);
    ::close(saved);
    quarn_dec(child);
    char buffer[64] = {};
    ssize_t n = ::pread(file, buffer, sizeof buffer - 1, 0);
    ::close(file);
    ::unlink(path);
    EXPECT_EQ(inherited_code, 0u);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "inherited\n");
}


TEST_F(SpawnTest, DirectoryAndEnvironmentChanges) {
    std::string dir = std::filesystem::canonical(std::filesystem::temp_directory_path()).string();
    ::setenv("QUARN_SPAWN_GONE", "parent", 1);
    ::setenv("QUARN_SPAWN_KEPT", "kept", 1);
    Spawn s = shell("pwd; echo \"$QUARN_SPAWN_SET|${QUARN_SPAWN_GONE-unset}|$QUARN_SPAWN_KEPT\"");
    s.has_directory = true;
    s.directory = dir;
    s.environment = {{"QUARN_SPAWN_SET", "first"}, {"QUARN_SPAWN_GONE", std::nullopt},
                     {"QUARN_SPAWN_SET", "second"}, {"BAD=NAME", "x"}, {"", "y"}};
    auto [out, code] = run_capturing(s);
    EXPECT_EQ(out, dir + "\nsecond|unset|kept\n");
    EXPECT_EQ(code, 0u);
    ::unsetenv("QUARN_SPAWN_GONE");
    ::unsetenv("QUARN_SPAWN_KEPT");

    // Without inheritance only the listed variables exist.
    Spawn bare;
    bare.command = "/usr/bin/env";
    bare.inherit_environment = false;
    bare.environment = {{"ONLY", "this"}};
    auto [env_out, env_code] = run_capturing(bare);
    EXPECT_EQ(env_out, "ONLY=this\n");
    EXPECT_EQ(env_code, 0u);
}

TEST_F(SpawnTest, TextsAreCutAtTheirFirstZeroByte) {
    Spawn s;
    s.command = std::string("echo\0ignored", 12);
    s.arguments = {std::string("ab\0cd", 5)};
    s.environment = {{"QUARN_CUT", std::string("v\0w", 3)}};
    auto [out, code] = run_capturing(s);
    EXPECT_EQ(out, "ab\n");
    EXPECT_EQ(code, 0u);
    Spawn e = shell("echo $QUARN_CUT");
    e.environment = {{"QUARN_CUT", std::string("v\0w", 3)}};
    EXPECT_EQ(run_capturing(e).first, "v\n");
}

TEST_F(SpawnTest, ExitCodesAndSignals) {
    EXPECT_EQ(run_capturing(shell("exit 3")).second, 3u);
    EXPECT_EQ(run_capturing(shell("exit 255")).second, 255u);
    EXPECT_EQ(run_capturing(shell("kill -TERM $$")).second, 128u + SIGTERM);
}

TEST_F(SpawnTest, KillReportsSignalNine) {
    Spawn plain;
    plain.command = "sleep";
    plain.arguments = {"100"};
    quarn_object *child = spawn(plain);
    quarn_dec(ok(quarn_lean_io_process_child_kill(child)));
    EXPECT_EQ(wait_code(child), 137u);
    quarn_dec(child);

    // In a new session the whole group goes, the shell's own child too.
    Spawn session = shell("echo ready; sleep 100; exit 0");
    session.new_session = true;
    session.modes[1] = QUARN_STDIO_PIPED;
    child = spawn(session);
    // Once the shell speaks it has made its session, so the group exists.
    quarn_object *line = ok(quarn_lean_io_prim_handle_get_line(field(child, 1)));
    EXPECT_STREQ(kit_cstr(line), "ready\n");
    quarn_dec(line);
    quarn_dec(ok(quarn_lean_io_process_child_kill(child)));
    EXPECT_EQ(wait_code(child), 137u);
    // The pipe reaches its end only once the group's sleep is gone as well.
    EXPECT_TRUE(hangs_up_within(field(child, 1), 20)) << "the group's sleep outlived the kill";
    quarn_dec(child);
}

TEST_F(SpawnTest, TryWaitBeforeAndAfterTheEnd) {
    Spawn s = shell("read line; exit 3");
    s.modes[0] = QUARN_STDIO_PIPED;
    quarn_object *child = spawn(s);
    quarn_object *none = ok(quarn_lean_io_process_child_try_wait(child));
    EXPECT_EQ(none, quarn_box(0));
    quarn_dec(ok(quarn_lean_io_prim_handle_write(field(child, 0),
                                                       quarn::array::make_byte_array("go\n", 3))));
    quarn_dec(ok(quarn_lean_io_prim_handle_flush(field(child, 0))));
    quarn_object *some = quarn_box(0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (some == quarn_box(0) && std::chrono::steady_clock::now() < deadline) {
        some = ok(quarn_lean_io_process_child_try_wait(child));
        if (some == quarn_box(0)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_NE(some, quarn_box(0)) << "the child did not end within 20 s";
    EXPECT_EQ(some->tag, 1);
    EXPECT_EQ(quarn_unbox(quarn_ctor_get(some, 0)), 3u);
    quarn_dec(some);
    // Reaped already: ECHILD, folded to no_such_thing.
    quarn_object *again = quarn_lean_io_process_child_wait(child);
    ASSERT_EQ(again->tag, 1);
    quarn_object *error = quarn_ctor_get(again, 0);
    EXPECT_EQ(kit_error_kind(error), static_cast<unsigned>(KIT_NO_SUCH_THING));
    EXPECT_EQ(kit_error_number(error), static_cast<uint32_t>(ECHILD));
    quarn_dec(again);
    quarn_dec(child);
}

TEST_F(SpawnTest, FailuresInsideTheChild) {
    Spawn missing;
    missing.command = "quarn-no-such-program";
    auto [message, code] = run_capturing(missing, 2);
    EXPECT_EQ(message, "could not execute external process 'quarn-no-such-program'\n");
    EXPECT_EQ(code, 255u);

    Spawn empty;
    auto [empty_message, empty_code] = run_capturing(empty, 2);
    EXPECT_EQ(empty_message, "could not execute external process ''\n");
    EXPECT_EQ(empty_code, 255u);

    Spawn nowhere = shell("echo never");
    nowhere.has_directory = true;
    nowhere.directory = "/quarn/no/such/dir";
    nowhere.modes[1] = QUARN_STDIO_PIPED;
    auto [dir_message, dir_code] = run_capturing(nowhere, 2);
    EXPECT_EQ(dir_message, "could not change directory to /quarn/no/such/dir\n");
    EXPECT_EQ(dir_code, 255u);
}

TEST_F(SpawnTest, TakeStdinAndPids) {
    Spawn s = shell("cat");
    s.modes[0] = s.modes[1] = QUARN_STDIO_PIPED;
    quarn_object *child = spawn(s);
    quarn_inc(child);
    uint32_t pid = quarn_lean_io_process_child_pid(child);
    EXPECT_GT(pid, 0u);
    quarn_object *out = field(child, 1);
    quarn_object *pair = ok(quarn_lean_io_process_child_take_stdin(child));
    quarn_object *in = quarn_ctor_get(pair, 0);
    quarn_object *rest = quarn_ctor_get(pair, 1);
    EXPECT_EQ(quarn_ctor_get(rest, 0), quarn_box(0));
    EXPECT_EQ(quarn_ctor_get(rest, 1), out) << "stdout is shared, not copied";
    EXPECT_NE(in, quarn_box(0));
    quarn_inc(rest);
    quarn_dec(pair);  // the stdin handle goes with the pair: cat sees the end
    EXPECT_EQ(read_all(field(rest, 1)), "");
    EXPECT_EQ(wait_code(rest), 0u);
    quarn_inc(rest);
    EXPECT_EQ(quarn_lean_io_process_child_pid(rest), pid);

    // A child whose stdin was not piped gives the scalar 0.
    quarn_object *second = ok(quarn_lean_io_process_child_take_stdin(rest));
    EXPECT_EQ(quarn_ctor_get(second, 0), quarn_box(0));
    quarn_dec(second);
    EXPECT_EQ(quarn_lean_io_process_get_pid(), static_cast<uint32_t>(::getpid()));
}

TEST_F(SpawnTest, TheChildKeepsOnlyItsThreeStreams) {
    // Another child's pipes and a temporary file's handle are open in this process.
    Spawn other = shell("cat");
    other.modes[0] = other.modes[1] = other.modes[2] = QUARN_STDIO_PIPED;
    quarn_object *holder = spawn(other);
    quarn_object *temp = ok(quarn_lean_io_create_tempfile());
    Spawn s;
    s.command = "ls";
    s.arguments = {"/proc/self/fd"};
    auto [out, code] = run_capturing(s);
    // ls's own listing of the folder is descriptor 3.
    EXPECT_EQ(out, "0\n1\n2\n3\n");
    EXPECT_EQ(code, 0u);
    std::remove(kit_cstr(quarn_ctor_get(temp, 1)));
    quarn_dec(temp);
    quarn_object *pair = ok(quarn_lean_io_process_child_take_stdin(holder));
    quarn_object *rest = quarn_ctor_get(pair, 1);
    quarn_inc(rest);
    quarn_dec(pair);  // closes cat's input
    EXPECT_EQ(wait_code(rest), 0u);
    quarn_dec(rest);
}

// Sanitizer builds start each child slowly (a thread sanitizer turns vfork into fork).
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSpawnCycles = 300;
#else
constexpr int kSpawnCycles = 10000;
#endif

TEST_F(SpawnTest, ManyCyclesLeaveNoDescriptorAndNoZombie) {
    int before = open_descriptors();
    Spawn s;
    s.command = "true";
    s.modes[1] = QUARN_STDIO_PIPED;
    for (int i = 0; i < kSpawnCycles; ++i) {
        quarn_object *child = spawn(s);
        ASSERT_EQ(wait_code(child), 0u);
        quarn_dec(child);
    }
    EXPECT_EQ(open_descriptors(), before);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
    EXPECT_EQ(errno, ECHILD);
}

// The child of a death test inherits nothing it must clean up.
TEST(SpawnDeathTest, AnInvalidStreamModeStops) {
    Spawn s;
    s.command = "true";
    s.modes[1] = 3;
    EXPECT_INTERNAL_PANIC(quarn_lean_io_process_spawn(spawn_arguments(s)), "invalid IO.Process.Stdio value 3");
}

void on_alarm(int) {}

TEST_F(SpawnTest, AWaitInterruptedBySignalsGoesOn) {
    struct sigaction action = {}, previous = {};
    action.sa_handler = on_alarm;  // no SA_RESTART: waitpid reports EINTR
    ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
    quarn_object *child = spawn(shell("sleep 0.3"));
    struct itimerval every = {{0, 20000}, {0, 20000}};
    ::setitimer(ITIMER_REAL, &every, nullptr);
    uint32_t code = wait_code(child);
    struct itimerval off = {};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &previous, nullptr);
    EXPECT_EQ(code, 0u);
    quarn_dec(child);
}

}  // namespace

// File handles across the end of a process and between processes: buffered bytes reach
// the file whichever way the program ends, a busy handle never holds the end up, and file
// locks keep two processes apart.
//
// Death tests run their statement in a new process that re-runs the test from the start,
// so the parent hands its scratch directory to the child through the environment.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "core/panic.h"
#include "handle_testing.h"
#include "quarn/startup.h"

namespace {

using namespace handle_testing;

constexpr const char *kDirVariable = "QUARN_HANDLE_PROCESS_TEST_DIR";

class ProcessEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char *inherited = std::getenv(kDirVariable)) {
            path_ = inherited;  // the child of a death test
            return;
        }
        own_dir_ = std::make_unique<TempDir>();
        path_ = own_dir_->path();
        setenv(kDirVariable, path_.c_str(), 1);
    }
    void TearDown() override {
        if (own_dir_) unsetenv(kDirVariable);
    }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // True in the process a death test started, which re-runs the test up to its statement.
    bool in_child() const { return own_dir_ == nullptr; }

private:
    std::unique_ptr<TempDir> own_dir_;
    std::string path_;
};

// The child's open handle, kept alive until the process ends.
quarn_object *kept_handle;

// Writes a large piece (written out at once) and a small tail (left in the buffer).
void write_and_keep(const std::string &path, std::string_view tail) {
    kept_handle = open_handle(path, QUARN_MODE_WRITE).take();
    quarn_dec(quarn_lean_io_prim_handle_put_str(kept_handle, string_of(std::string(20000, 'b'))));
    quarn_dec(quarn_lean_io_prim_handle_put_str(kept_handle, string_of(tail)));
}

std::string written(std::string_view tail) { return std::string(20000, 'b') + std::string(tail); }

std::string path_for_main;

quarn_object *main_that_writes() {
    write_and_keep(path_for_main, "tail from main");
    quarn_object *ok = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(ok, 0, quarn_box(5));
    return ok;
}

TEST_F(ProcessEndTest, MainReturningFlushesEveryHandle) {
    path_for_main = file("main");
    EXPECT_EXIT(std::exit(static_cast<int>(
                    quarn_run_main(nullptr, reinterpret_cast<void *>(main_that_writes), 0, 1, 0, nullptr))),
                ::testing::ExitedWithCode(5), "");
    EXPECT_EQ(read_file(file("main")), written("tail from main"));
}

TEST_F(ProcessEndTest, ExitFlushesEveryHandle) {
    EXPECT_EXIT(
        {
            write_and_keep(file("exit"), "tail before exit");
            quarn_lean_io_exit(3);
        },
        ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(read_file(file("exit")), written("tail before exit"));
}

TEST_F(ProcessEndTest, ForceExitWritesNothing) {
    EXPECT_EXIT(
        {
            write_and_keep(file("force"), "lost");
            quarn_lean_io_force_exit(4);
        },
        ::testing::ExitedWithCode(4), "");
    EXPECT_EQ(read_file(file("force")), std::string(20000, 'b'));
}

TEST_F(ProcessEndTest, APanicFlushesWhatIsNotBusy) {
    EXPECT_EXIT(
        {
            write_and_keep(file("panic"), "tail before the panic");
            quarn::internal_panic("stop here");
        },
        ::testing::ExitedWithCode(1), "^INTERNAL PANIC: stop here\n$");
    EXPECT_EQ(read_file(file("panic")), written("tail before the panic"));
}

// A thread that holds a handle's lock for good: it waits for a line on a pipe that never
// gets one. The process must end anyway, and the other handles must still be flushed.
void block_a_reader() {
    int fds[2];
    if (::pipe(fds) != 0) std::abort();
    std::string reader_path = "/proc/self/fd/" + std::to_string(fds[0]);
    quarn_object *reader = open_handle(reader_path, QUARN_MODE_READ_WRITE).take();
    std::thread([reader] { quarn_dec(quarn_lean_io_prim_handle_get_line(reader)); }).detach();
    // Give the reader time to take the lock; the checks below hold either way.
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    ::alarm(20);  // a process end that hangs fails the test instead of the suite
}

TEST_F(ProcessEndTest, ABlockedHandleDoesNotHoldUpAPanic) {
    EXPECT_EXIT(
        {
            block_a_reader();
            write_and_keep(file("busy-panic"), "flushed anyway");
            quarn::internal_panic("while a reader waits");
        },
        ::testing::ExitedWithCode(1), "^INTERNAL PANIC: while a reader waits\n$");
    EXPECT_EQ(read_file(file("busy-panic")), written("flushed anyway"));
}

TEST_F(ProcessEndTest, ABlockedHandleDoesNotHoldUpAnExit) {
    EXPECT_EXIT(
        {
            block_a_reader();
            write_and_keep(file("busy-exit"), "flushed anyway");
            quarn_lean_io_exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file(file("busy-exit")), written("flushed anyway"));
}

// In the child: exits 0 when try_lock gives `expected`, 1 otherwise.
[[noreturn]] void try_lock_in_child(const std::string &path, bool exclusive, bool expected) {
    quarn_object *h = quarn_io_result_get(quarn_lean_io_prim_handle_mk(string_of(path), QUARN_MODE_READ));
    quarn_object *r = quarn_lean_io_prim_handle_try_lock(h, exclusive);
    bool granted = quarn_io_result_is_ok(r) && quarn_unbox(quarn_io_result_get(r)) == 1;
    std::_Exit(granted == expected ? 0 : 1);
}

TEST_F(ProcessEndTest, FileLocksBetweenTwoProcesses) {
    std::string path = file("lock");
    Owned h;
    // The parent's steps must not run again in the child, where they would wait for the
    // parent's own lock.
    auto in_parent = [&](quarn_object *(*step)(quarn_object *, uint8_t), uint8_t exclusive) {
        if (!in_child()) {
            ASSERT_EQ(Result(step(h.get(), exclusive)).describe(), "ok");
        }
    };
    if (!in_child()) {
        write_file(path, "");
        h = open_handle(path, QUARN_MODE_READ);
    }
    in_parent(quarn_lean_io_prim_handle_lock, 1);
    EXPECT_EXIT(try_lock_in_child(path, false, false), ::testing::ExitedWithCode(0), "")
        << "an exclusive lock keeps even a shared one out";
    in_parent(quarn_lean_io_prim_handle_lock, 0);
    EXPECT_EXIT(try_lock_in_child(path, false, true), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(try_lock_in_child(path, true, false), ::testing::ExitedWithCode(0), "");
    in_parent([](quarn_object *handle, uint8_t) { return quarn_lean_io_prim_handle_unlock(handle); }, 0);
    EXPECT_EXIT(try_lock_in_child(path, true, true), ::testing::ExitedWithCode(0), "");
}

TEST_F(ProcessEndTest, AFileTheUserMayNotRead) {
    // Root reads everything, so the child gives up root first.
    std::string path = file("secret");
    write_file(path, "secret");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(file("").c_str(), 0755), 0);
    EXPECT_EXIT(
        {
            if (::geteuid() == 0) {
                const passwd *nobody = ::getpwnam("nobody");
                if (nobody == nullptr || ::setuid(nobody->pw_uid) != 0) std::_Exit(2);
            }
            Result r(quarn_lean_io_prim_handle_mk(string_of(path), QUARN_MODE_READ));
            std::string expected = error_text(KIT_PERMISSION_DENIED_FILE, 13, "permission denied", path);
            std::fprintf(stderr, "%s", r.describe().c_str());
            std::_Exit(r.describe() == expected ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "permission denied");
}

}  // namespace

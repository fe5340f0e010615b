// Ending the process while other threads are busy in the runtime: exit, a return from main
// and panics racing with each other. Each run happens in a child process, many times,
// because the faults these guard against show up in a few runs out of a hundred.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/panic.h"
#include "quarn/startup.h"
#include "testing.h"

namespace {

// A sanitizer build starts each child slowly (a second or so); it runs fewer of them.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kRuns = 8;
#else
constexpr int kRuns = 60;
#endif

struct ChildResult {
    int status;  // as waitpid reports it
    std::string stderr_text;
};

// Runs `body` in a forked child whose standard error is captured; the child must end by
// itself (body never returns normally here).
template <typename Body>
ChildResult run_in_child(Body body) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) std::abort();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDERR_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        body();
        _exit(99);  // body was expected to end the process
    }
    close(pipe_fds[1]);
    ChildResult result{};
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) result.stderr_text.append(buffer, n);
    close(pipe_fds[0]);
    waitpid(pid, &result.status, 0);
    return result;
}

// A thread that forces fresh lazy cells for ever, so that it is inside the runtime's lazy
// cell registry whenever the process ends.
uint64_t compute_bits() { return 42; }
quarn_object *compute_object() { return quarn_alloc_ctor(0, 0, 8); }

// Static cells, so that what they hold stays reachable (the leak checker of a sanitizer
// build runs at exit); more of them than the thread can force before the process ends.
constexpr size_t kCells = size_t{1} << 18;
quarn_lazy_cell bits_cells[kCells];
quarn_lazy_cell object_cells[kCells];

void start_lazy_forcer() {
    std::thread([] {
        for (size_t i = 0;; i = (i + 1) % kCells) {
            quarn_lazy_bits_force(&bits_cells[i], compute_bits);
            quarn_lazy_obj_force(&object_cells[i], compute_object);
        }
    }).detach();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

TEST(ProcessEnd, ExitWhileAnotherThreadForcesLazyCells) {
    for (int run = 0; run < kRuns; ++run) {
        ChildResult r = run_in_child([] {
            start_lazy_forcer();
            quarn_lean_io_exit(0);
        });
        ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0)
            << "run " << run << ": status " << r.status << ", stderr: " << r.stderr_text;
    }
}

TEST(ProcessEnd, ReturnFromMainWhileAnotherThreadForcesLazyCells) {
    for (int run = 0; run < kRuns; ++run) {
        // exit() is what the C library does when main returns.
        ChildResult r = run_in_child([] {
            start_lazy_forcer();
            std::exit(0);
        });
        ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0)
            << "run " << run << ": status " << r.status << ", stderr: " << r.stderr_text;
    }
}

size_t count_of(const std::string &text, std::string_view what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

TEST(ProcessEnd, TwoThreadsPanickingAtOncePrintOneMessageAndExitWithOne) {
    for (int run = 0; run < kRuns; ++run) {
        ChildResult r = run_in_child([] {
            std::atomic<bool> go{false};
            std::thread other([&] {
                while (!go.load()) {
                }
                quarn::internal_panic("second");
            });
            go.store(true);
            quarn::internal_panic("first");
        });
        ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 1)
            << "run " << run << ": status " << r.status << ", stderr: " << r.stderr_text;
        ASSERT_EQ(count_of(r.stderr_text, "INTERNAL PANIC: "), 1u) << r.stderr_text;
        ASSERT_TRUE(r.stderr_text == "INTERNAL PANIC: first\n" ||
                    r.stderr_text == "INTERNAL PANIC: second\n")
            << r.stderr_text;
    }
}

TEST(ProcessEnd, APanicDuringExitDoesNotEndTheProcessTwice) {
    for (int run = 0; run < (kRuns + 3) / 4; ++run) {
        ChildResult r = run_in_child([] {
            std::thread([] { quarn::internal_panic("late"); }).detach();
            quarn_lean_io_exit(3);
        });
        ASSERT_TRUE(WIFEXITED(r.status)) << r.status;
        // Whichever came first decides: exit with 3 and no message, or the panic alone.
        if (WEXITSTATUS(r.status) == 3)
            EXPECT_EQ(r.stderr_text, "");
        else
            EXPECT_EQ(r.stderr_text, "INTERNAL PANIC: late\n");
    }
}

TEST(ProcessEnd, APanicWithManyPiecesIsOneLine) {
    ChildResult r = run_in_child([] {
        quarn::internal_panic({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"});
    });
    EXPECT_EQ(r.stderr_text, "INTERNAL PANIC: abcdefghijkl\n");
}

}  // namespace

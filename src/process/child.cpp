// Waiting for, polling, killing and detaching the standard input of a spawned child; the
// process's own id.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fs/system_call.h"
#include "io/io_error.h"
#include "io/io_result.h"
#include "process/child_object.h"
#include "quarn/process.h"

namespace quarn::process {

namespace {

// 128 + the signal for a child a signal ended, else its exit status.
uint32_t exit_code_of(int status) noexcept {
    if (WIFSIGNALED(status)) return 128 + static_cast<uint32_t>(WTERMSIG(status));
    return static_cast<uint32_t>((status >> 8) & 0xFF);
}

}  // namespace

}  // namespace quarn::process

using namespace quarn::process;
using quarn::fs::retry_interrupted;

extern "C" quarn_object *quarn_lean_io_process_child_wait(quarn_object *child) noexcept {
    int status = 0;
    pid_t pid = static_cast<pid_t>(child_pid(child));
    if (retry_interrupted([&] { return ::waitpid(pid, &status, 0); }) < 0)
        return quarn::io::error_result_from_errno(errno, nullptr);
    return quarn::io::io_ok(quarn_box(exit_code_of(status)));
}

extern "C" quarn_object *quarn_lean_io_process_child_try_wait(quarn_object *child) noexcept {
    int status = 0;
    pid_t pid = static_cast<pid_t>(child_pid(child));
    pid_t reaped = retry_interrupted([&] { return ::waitpid(pid, &status, WNOHANG); });
    if (reaped < 0) return quarn::io::error_result_from_errno(errno, nullptr);
    if (reaped == 0) return quarn::io::io_ok(quarn_box(0));
    quarn_object *some = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(some, 0, quarn_box(exit_code_of(status)));
    return quarn::io::io_ok(some);
}

extern "C" quarn_object *quarn_lean_io_process_child_kill(quarn_object *child) noexcept {
    pid_t pid = static_cast<pid_t>(child_pid(child));
    int result = child_new_session(child) ? ::killpg(pid, SIGKILL) : ::kill(pid, SIGKILL);
    if (result < 0) return quarn::io::error_result_from_errno(errno, nullptr);
    return quarn::io::io_ok_unit();
}

extern "C" quarn_object *quarn_lean_io_process_child_take_stdin(quarn_object *child) noexcept {
    quarn_object *in = quarn_ctor_get(child, kChildStdin);
    quarn_object *out = quarn_ctor_get(child, kChildStdout);
    quarn_object *err = quarn_ctor_get(child, kChildStderr);
    quarn_inc(in);
    quarn_inc(out);
    quarn_inc(err);
    quarn_object *rest = make_child(quarn_box(0), out, err, child_pid(child), child_new_session(child));
    quarn_dec(child);
    quarn_object *pair = quarn_alloc_ctor(0, 2, 0);
    quarn_ctor_set(pair, 0, in);
    quarn_ctor_set(pair, 1, rest);
    return quarn::io::io_ok(pair);
}

extern "C" uint32_t quarn_lean_io_process_child_pid(quarn_object *child) noexcept {
    uint32_t pid = child_pid(child);
    quarn_dec(child);
    return pid;
}

extern "C" uint32_t quarn_lean_io_process_get_pid(void) noexcept { return static_cast<uint32_t>(::getpid()); }

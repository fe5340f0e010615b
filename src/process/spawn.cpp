// lean_io_process_spawn: pipes for the piped streams, then vfork; the child sets up its
// streams, directory and session with async-signal-safe calls only and executes the
// command in the environment prepared for it; the parent wraps its ends of the pipes as
// file handles. vfork spares the copy of the parent's page tables that fork makes, which
// grows with the parent's memory.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <string_view>

#include "fs/system_call.h"
#include "io/handle_object.h"
#include "io/handle_registry.h"
#include "io/io_error.h"
#include "io/io_result.h"
#include "io/unique_fd.h"
#include "process/child_object.h"
#include "process/spawn_plan.h"
#include "quarn/process.h"

extern char **environ;

namespace quarn::process {

namespace {

using io::UniqueFd;

struct Pipe {
    UniqueFd read, write;
};

// The child's end of stream i (0 reads, 1 and 2 write) and the parent's.
int child_end(const Pipe &pipe, unsigned stream) { return stream == 0 ? pipe.read.get() : pipe.write.get(); }
int parent_end(const Pipe &pipe, unsigned stream) { return stream == 0 ? pipe.write.get() : pipe.read.get(); }

// Everything below runs in the child between fork and exec: async-signal-safe calls only.

[[noreturn]] void give_up(std::string_view line) noexcept {
    ssize_t ignored = ::write(2, line.data(), line.size());
    (void)ignored;
    ::_exit(255);
}

// Puts fd onto the standard descriptor `target`, where it stays open across exec.
void move_onto(int fd, int target) noexcept {
    if (fd == target) {
        ::fcntl(fd, F_SETFD, 0);
        return;
    }
    while (::dup2(fd, target) < 0 && errno == EINTR) {
    }
}

// A handler the parent installed must not run in the child, which shares the parent's
// memory until it executes: every caught signal goes back to its default action.
void reset_signal_handlers() noexcept {
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action;
        if (::sigaction(signal, nullptr, &action) != 0) continue;
        if (action.sa_handler == SIG_IGN || action.sa_handler == SIG_DFL) continue;
        action.sa_handler = SIG_DFL;
        action.sa_flags = 0;
        ::sigaction(signal, &action, nullptr);
    }
}

// Executes the first candidate the system accepts; a file it cannot execute as a program
// is handed to /bin/sh as a script, as execvp does.
void execute(const SpawnPlan &plan) noexcept {
    char *const *envp = plan.replaces_environment ? const_cast<char *const *>(plan.envp.data()) : environ;
    char *const *argv = const_cast<char *const *>(plan.argv.data());
    for (const Text &candidate : plan.candidates) {
        ::execve(candidate.c_str(), argv, envp);
        if (errno != ENOEXEC) continue;
        size_t argc = plan.argv.size();  // the words and the final null
        auto **script = static_cast<const char **>(__builtin_alloca((argc + 1) * sizeof(char *)));
        script[0] = "/bin/sh";
        script[1] = candidate.c_str();
        for (size_t i = 1; i < argc; ++i) script[i + 1] = plan.argv[i];
        ::execve("/bin/sh", const_cast<char *const *>(script), envp);
    }
}

// The child, from vfork to exec. It shares the parent's memory and so writes nothing but
// its own stack; it makes async-signal-safe calls only.
[[noreturn]] void run_child(const SpawnPlan &plan, const Pipe (&pipes)[3], const sigset_t &mask) noexcept {
    reset_signal_handlers();
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    for (unsigned stream = 0; stream < 3; ++stream) {
        if (plan.modes[stream] == StreamMode::piped) {
            move_onto(child_end(pipes[stream], stream), static_cast<int>(stream));
            ::close(parent_end(pipes[stream], stream));
        } else if (plan.modes[stream] == StreamMode::null) {
            int fd = ::open("/dev/null", (stream == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
            if (fd >= 0) move_onto(fd, static_cast<int>(stream));
        }
    }
    // Descriptors this program inherited or opened without close-on-exec stay behind too:
    // the child gets its three standard streams and nothing else.
    ::close_range(3, ~0U, 0);
    if (plan.has_directory && ::chdir(plan.directory.c_str()) < 0) give_up(plan.directory_failure);
    if (plan.new_session && ::setsid() < 0) give_up("INTERNAL PANIC: setsid failed\n");
    execute(plan);
    give_up(plan.exec_failure);
}

// Starts the child with every signal blocked, so that no handler of the parent runs in it
// before it has reset them. Returns the pid, or -1 with errno set.
pid_t start_child(const SpawnPlan &plan, const Pipe (&pipes)[3]) noexcept {
    sigset_t all, mask;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &mask);
    pid_t pid = ::vfork();
    if (pid == 0) run_child(plan, pipes, mask);
    int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    errno = error;
    return pid;
}

// The parent's end of a pipe as a file handle that reads or writes it.
quarn_object *pipe_handle(UniqueFd fd, bool readable) noexcept {
    io::HandleRef record = io::make_handle_record(fd.release(), io::HandleKind::opened_file, readable,
                                                  !readable, io::BufferMode::full, io::kNotStandard);
    io::register_handle(record);
    return io::make_handle_object(std::move(record));
}

}  // namespace

}  // namespace quarn::process

using namespace quarn::process;

extern "C" quarn_object *quarn_lean_io_process_spawn(quarn_object *args) noexcept {
    SpawnPlan plan;
    read_spawn_arguments(args, plan);
    quarn_dec(args);

    Pipe pipes[3];
    for (unsigned stream = 0; stream < 3; ++stream) {
        if (plan.modes[stream] != StreamMode::piped) continue;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) < 0) return quarn::io::error_result_from_errno(errno, nullptr);
        pipes[stream].read.reset(ends[0]);
        pipes[stream].write.reset(ends[1]);
    }

    pid_t pid = start_child(plan, pipes);
    if (pid < 0) return quarn::io::error_result_from_errno(errno, nullptr);

    quarn_object *streams[3];
    for (unsigned stream = 0; stream < 3; ++stream) {
        if (plan.modes[stream] != StreamMode::piped) {
            streams[stream] = quarn_box(0);
            continue;
        }
        Pipe &pipe = pipes[stream];
        if (stream == 0) {
            pipe.read.reset();
            streams[stream] = pipe_handle(std::move(pipe.write), false);
        } else {
            pipe.write.reset();
            streams[stream] = pipe_handle(std::move(pipe.read), true);
        }
    }
    return quarn::io::io_ok(make_child(streams[0], streams[1], streams[2], static_cast<uint32_t>(pid),
                                       plan.new_session));
}

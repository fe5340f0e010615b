// Child processes, directory listings and random bytes against their C-library peers in
// the same run: spawn + wait of /bin/true against posix_spawn + waitpid; read_dir of a
// folder of 10,000 entries against an opendir/readdir loop that builds std::strings; 64 MiB
// of random bytes against reading /dev/urandom straight into a buffer.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <quarn/quarn.h>

extern char **environ;

namespace {

quarn_object *string_of(const std::string &s) { return quarn_mk_string_unchecked(s.data(), s.size(), s.size()); }

quarn_object *empty_array() { return quarn_lean_mk_empty_array_with_capacity(quarn_box(0)); }

// Spawn arguments for /bin/true with every stream inherited.
quarn_object *true_arguments() {
    quarn_object *stdio = quarn_alloc_ctor(0, 0, 3);
    for (int i = 0; i < 3; ++i) quarn_ctor_scalar_area(stdio)[i] = QUARN_STDIO_INHERIT;
    quarn_object *args = quarn_alloc_ctor(0, 5, 2);
    quarn_ctor_set(args, 0, stdio);
    quarn_ctor_set(args, 1, string_of("/bin/true"));
    quarn_ctor_set(args, 2, empty_array());
    quarn_ctor_set(args, 3, quarn_box(0));
    quarn_ctor_set(args, 4, empty_array());
    quarn_ctor_scalar_area(args)[0] = 1;
    quarn_ctor_scalar_area(args)[1] = 0;
    return args;
}

void SpawnWait_Quarn(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *result = quarn_lean_io_process_spawn(true_arguments());
        if (result->tag != 0) state.SkipWithError("spawn failed");
        quarn_object *child = quarn_ctor_get(result, 0);
        quarn_object *code = quarn_lean_io_process_child_wait(child);
        benchmark::DoNotOptimize(code);
        quarn_dec(code);
        quarn_dec(result);
    }
}
BENCHMARK(SpawnWait_Quarn)->UseRealTime();

void SpawnWait_PosixSpawn(benchmark::State &state) {
    char *argv[] = {const_cast<char *>("/bin/true"), nullptr};
    for (auto _ : state) {
        pid_t pid;
        if (::posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) != 0)
            state.SkipWithError("posix_spawn failed");
        int status;
        ::waitpid(pid, &status, 0);
        benchmark::DoNotOptimize(status);
    }
}
BENCHMARK(SpawnWait_PosixSpawn)->UseRealTime();

// A folder of 10,000 empty files, made once for the run.
const std::string &listing_folder() {
    static const std::string &folder = *new std::string([] {
        std::string pattern = (std::filesystem::temp_directory_path() / "quarn-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        for (int i = 0; i < 10000; ++i) {
            std::string name = pattern + "/entry-" + std::to_string(i);
            ::close(::open(name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        }
        std::atexit([] { std::filesystem::remove_all(listing_folder()); });
        return pattern;
    }());
    return folder;
}

void ReadDir_Quarn(benchmark::State &state) {
    quarn_object *path = string_of(listing_folder());
    for (auto _ : state) {
        quarn_object *result = quarn_lean_io_read_dir(path);
        benchmark::DoNotOptimize(result);
        quarn_dec(result);
    }
    quarn_dec(path);
}
BENCHMARK(ReadDir_Quarn);

void ReadDir_Readdir(benchmark::State &state) {
    const std::string &folder = listing_folder();
    for (auto _ : state) {
        std::vector<std::string> entries;
        DIR *d = ::opendir(folder.c_str());
        while (const struct dirent *e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            entries.emplace_back(e->d_name);
        }
        ::closedir(d);
        benchmark::DoNotOptimize(entries.data());
    }
}
BENCHMARK(ReadDir_Readdir);

constexpr uint64_t kRandomBytes = 64 << 20;

void RandomBytes_Quarn(benchmark::State &state) {
    for (auto _ : state) {
        quarn_object *result = quarn_lean_io_get_random_bytes(kRandomBytes);
        benchmark::DoNotOptimize(result);
        quarn_dec(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRandomBytes));
}
BENCHMARK(RandomBytes_Quarn)->UseRealTime();

void RandomBytes_Urandom(benchmark::State &state) {
    for (auto _ : state) {
        char *buffer = static_cast<char *>(std::malloc(kRandomBytes));
        int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        for (uint64_t got = 0; got < kRandomBytes;) {
            ssize_t n = ::read(fd, buffer + got, kRandomBytes - got);
            if (n <= 0) break;
            got += static_cast<uint64_t>(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRandomBytes));
}
BENCHMARK(RandomBytes_Urandom)->UseRealTime();

}  // namespace

// File handles against the C library's streams, in the same run: lines written with
// put_str and read back with get_line against fputs and getline; 1 GiB written in 64 KiB
// chunks against a bare write(2) loop; short writes to a redirected standard output
// against fputs to stdout.
//
// With --with-another-thread a second thread lives through the run, so that both sides
// take their locks as in any program whose main runs on its own thread.
//
// Standard output is redirected to a scratch file for the whole run (the report goes to
// the original standard output), so both sides see a fully buffered file, as a program
// whose output is redirected does.
#include <benchmark/benchmark.h>
#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include <quarn/quarn.h>

namespace {

// The program's lean_stream_of_handle, reduced to what this run needs: the stream keeps
// the handle in its only field.
quarn_object *stream_of_handle(quarn_object *handle) {
    quarn_object *stream = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(stream, 0, handle);
    return stream;
}

// Scratch files live in TMPDIR when it is set, else in memory (/dev/shm) where there is
// one: a disk's write-back would swamp the differences measured here.
std::string scratch_path(const char *name) {
    const char *dir = std::getenv("TMPDIR");
    if (dir == nullptr) dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/quarn-handle-bench-" +
           std::to_string(::getpid()) + "-" + name;
}

quarn_object *string_of(const std::string &text) {
    quarn_object *s = quarn_mk_string_unchecked(text.data(), text.size(), text.size());
    quarn_mark_persistent(s);  // passed to put_str again and again
    return s;
}

[[noreturn]] void fail(const char *what) {
    std::perror(what);
    std::exit(2);
}

quarn_object *open_handle(const std::string &path, uint8_t mode) {
    quarn_object *r = quarn_lean_io_prim_handle_mk(
        quarn_mk_string_unchecked(path.data(), path.size(), path.size()), mode);
    if (!quarn_io_result_is_ok(r)) fail(path.c_str());
    quarn_object *h = quarn_io_result_get(r);
    quarn_inc(h);
    quarn_dec(r);
    return h;
}

void check_ok(quarn_object *r) {
    if (!quarn_io_result_is_ok(r)) fail("handle operation");
    quarn_dec(r);
}

// ---- 2,000,000 lines of 80 bytes ------------------------------------------------------

constexpr int kLines = 2'000'000;
const std::string kLine = std::string(79, 'x').replace(0, 10, "0123456789") + "\n";

void BM_HandleWriteLines(benchmark::State &state) {
    std::string path = scratch_path("lines-handle");
    quarn_object *line = string_of(kLine);
    for (auto _ : state) {
        quarn_object *h = open_handle(path, QUARN_MODE_WRITE);
        for (int i = 0; i < kLines; ++i) check_ok(quarn_lean_io_prim_handle_put_str(h, line));
        quarn_dec(h);  // flushes and closes
    }
    state.SetBytesProcessed(state.iterations() * kLines * int64_t(kLine.size()));
    ::unlink(path.c_str());
}
BENCHMARK(BM_HandleWriteLines)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StdioWriteLines(benchmark::State &state) {
    std::string path = scratch_path("lines-stdio");
    for (auto _ : state) {
        FILE *f = std::fopen(path.c_str(), "w");
        if (f == nullptr) fail(path.c_str());
        for (int i = 0; i < kLines; ++i)
            if (std::fputs(kLine.c_str(), f) < 0) fail("fputs");
        std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * kLines * int64_t(kLine.size()));
    ::unlink(path.c_str());
}
BENCHMARK(BM_StdioWriteLines)->Unit(benchmark::kMillisecond)->UseRealTime();

// The file both readers read, written once.
const std::string &lines_file() {
    static const std::string path = [] {
        std::string p = scratch_path("lines-read");
        FILE *f = std::fopen(p.c_str(), "w");
        if (f == nullptr) fail(p.c_str());
        for (int i = 0; i < kLines; ++i) std::fputs(kLine.c_str(), f);
        std::fclose(f);
        return p;
    }();
    return path;
}

void BM_HandleGetLine(benchmark::State &state) {
    const std::string &path = lines_file();
    for (auto _ : state) {
        quarn_object *h = open_handle(path, QUARN_MODE_READ);
        int64_t lines = 0;
        for (;;) {
            quarn_object *r = quarn_lean_io_prim_handle_get_line(h);
            if (!quarn_io_result_is_ok(r)) fail("get_line");
            bool end = reinterpret_cast<quarn_string_object *>(quarn_io_result_get(r))->size == 1;
            quarn_dec(r);
            if (end) break;
            ++lines;
        }
        quarn_dec(h);
        if (lines != kLines) fail("line count");
    }
    state.SetBytesProcessed(state.iterations() * kLines * int64_t(kLine.size()));
}
BENCHMARK(BM_HandleGetLine)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StdioGetline(benchmark::State &state) {
    const std::string &path = lines_file();
    char *buffer = nullptr;
    size_t capacity = 0;
    for (auto _ : state) {
        FILE *f = std::fopen(path.c_str(), "r");
        if (f == nullptr) fail(path.c_str());
        int64_t lines = 0;
        while (::getline(&buffer, &capacity, f) > 0) {
            benchmark::DoNotOptimize(buffer);
            ++lines;
        }
        std::fclose(f);
        if (lines != kLines) fail("line count");
    }
    std::free(buffer);
    state.SetBytesProcessed(state.iterations() * kLines * int64_t(kLine.size()));
}
BENCHMARK(BM_StdioGetline)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- 1 GiB in 64 KiB chunks -------------------------------------------------------------

constexpr size_t kChunk = size_t{64} << 10;
constexpr size_t kTotal = size_t{1} << 30;

void BM_HandleWriteChunks(benchmark::State &state) {
    std::string path = scratch_path("chunks-handle");
    quarn_object *chunk = quarn_lean_mk_empty_byte_array(quarn_box(kChunk));
    for (size_t i = 0; i < kChunk; ++i) chunk = quarn_lean_byte_array_push(chunk, static_cast<uint8_t>(i));
    quarn_mark_persistent(chunk);
    for (auto _ : state) {
        quarn_object *h = open_handle(path, QUARN_MODE_WRITE);
        for (size_t written = 0; written < kTotal; written += kChunk)
            check_ok(quarn_lean_io_prim_handle_write(h, chunk));
        quarn_dec(h);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kTotal));
    ::unlink(path.c_str());
}
BENCHMARK(BM_HandleWriteChunks)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

void BM_WriteSyscallChunks(benchmark::State &state) {
    std::string path = scratch_path("chunks-write");
    std::string chunk(kChunk, '\0');
    for (size_t i = 0; i < kChunk; ++i) chunk[i] = static_cast<char>(i);
    for (auto _ : state) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) fail(path.c_str());
        for (size_t written = 0; written < kTotal; written += kChunk)
            if (::write(fd, chunk.data(), kChunk) != static_cast<ssize_t>(kChunk)) fail("write");
        ::close(fd);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kTotal));
    ::unlink(path.c_str());
}
BENCHMARK(BM_WriteSyscallChunks)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

// ---- 1,000,000 short writes to standard output ------------------------------------------

constexpr int kShortWrites = 1'000'000;
const std::string kShort = "value 12345\n";

// Empties the redirected standard output between runs (it is opened for appending).
void empty_stdout() {
    if (::ftruncate(STDOUT_FILENO, 0) != 0) fail("ftruncate");
}

void BM_HandlePutStrStdout(benchmark::State &state) {
    quarn_object *text = string_of(kShort);
    quarn_object *out = quarn_lean_get_stdout();
    quarn_object *handle = quarn_ctor_get(out, 0);
    for (auto _ : state) {
        for (int i = 0; i < kShortWrites; ++i) check_ok(quarn_lean_io_prim_handle_put_str(handle, text));
        check_ok(quarn_lean_io_prim_handle_flush(handle));
        state.PauseTiming();
        empty_stdout();
        state.ResumeTiming();
    }
    quarn_dec(out);
}
BENCHMARK(BM_HandlePutStrStdout)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FputsStdout(benchmark::State &state) {
    for (auto _ : state) {
        for (int i = 0; i < kShortWrites; ++i)
            if (std::fputs(kShort.c_str(), stdout) < 0) fail("fputs");
        std::fflush(stdout);
        state.PauseTiming();
        empty_stdout();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FputsStdout)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    quarn_register_export("lean_stream_of_handle", reinterpret_cast<void *>(stream_of_handle));
    // The report keeps the original standard output; descriptor 1 becomes a scratch file
    // before either side looks at it.
    int report_fd = ::dup(STDOUT_FILENO);
    std::string redirected = scratch_path("stdout");
    int file = ::open(redirected.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
    if (report_fd < 0 || file < 0 || ::dup2(file, STDOUT_FILENO) < 0) fail("redirecting stdout");
    ::close(file);
    ::unlink(redirected.c_str());
    __gnu_cxx::stdio_filebuf<char> report_buffer(report_fd, std::ios::out);
    std::ostream report(&report_buffer);

    benchmark::Initialize(&argc, argv);
    // With --with-another-thread a second thread lives through the run, as in a program
    // whose main runs on its own thread: neither side may then skip its locks.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--with-another-thread") == 0) {
            std::thread([] { ::pause(); }).detach();
        } else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&report);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    ::unlink(scratch_path("lines-read").c_str());
    return 0;
}

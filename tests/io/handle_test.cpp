// File handles on ordinary files: opening in every mode, reading lines and bytes, writing
// through the buffer, positions, locks, and the IO.Error of every failure.
#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <map>
#include <thread>
#include <vector>

#include "handle_testing.h"
#include "io/handle_object.h"
#include "io/handle_record.h"
#include "io/handle_registry.h"
#include "object/header.h"

namespace {

using namespace handle_testing;

class HandleTest : public kit::LiveObjectsTest {
protected:
    TempDir dir;
};

TEST_F(HandleTest, EachModeOpensAsItsNameSays) {
    std::string path = dir.file("f");
    write_file(path, "old contents\n");
    {
        Owned h = open_handle(path, QUARN_MODE_APPEND);
        EXPECT_EQ(put_str(h.get(), "appended\n"), "ok");
    }
    EXPECT_EQ(read_file(path), "old contents\nappended\n");
    {
        Owned h = open_handle(path, QUARN_MODE_READ);
        EXPECT_EQ(get_line(h.get()), "old contents\n");
        EXPECT_EQ(put_str(h.get(), "x"), error_text(KIT_INVALID_ARGUMENT, 9, "bad file descriptor"));
    }
    {
        Owned h = open_handle(path, QUARN_MODE_WRITE);
        EXPECT_EQ(read_file(path), "") << "write mode empties the file";
        EXPECT_EQ(get_line(h.get()), "error: " + error_text(KIT_INVALID_ARGUMENT, 9, "bad file descriptor"));
        EXPECT_EQ(read_bytes(h.get(), 1), "error: " + error_text(KIT_INVALID_ARGUMENT, 9, "bad file descriptor"));
        EXPECT_EQ(read_bytes(h.get(), 0), "") << "a count of 0 does not touch the handle";
        EXPECT_EQ(put_str(h.get(), "new"), "ok");
    }
    EXPECT_EQ(read_file(path), "new");
    Result exists(quarn_lean_io_prim_handle_mk(string_of(path), QUARN_MODE_WRITE_NEW));
    EXPECT_EQ(exists.describe(), error_text(KIT_ALREADY_EXISTS_FILE, 17, "file already exists", path));
    {
        Owned h = open_handle(dir.file("fresh"), QUARN_MODE_WRITE_NEW);
        struct stat info;
        ASSERT_EQ(::stat(dir.file("fresh").c_str(), &info), 0);
        mode_t mask = ::umask(0);
        ::umask(mask);
        EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);
    }
    Result missing_rw(quarn_lean_io_prim_handle_mk(string_of(dir.file("none")), QUARN_MODE_READ_WRITE));
    EXPECT_EQ(missing_rw.describe(),
              error_text(KIT_NO_FILE_OR_DIRECTORY, 2, "no such file or directory", dir.file("none")))
        << "readWrite does not create";
}

TEST_F(HandleTest, OpeningFailuresNameTheFile) {
    std::string missing = dir.file("missing");
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_mk(string_of(missing), QUARN_MODE_READ)).describe(),
              error_text(KIT_NO_FILE_OR_DIRECTORY, 2, "no such file or directory", missing));
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_mk(string_of(dir.path()), QUARN_MODE_WRITE)).describe(),
              error_text(KIT_INAPPROPRIATE_TYPE_FILE, 21, "illegal operation on a directory", dir.path()));
    std::string under_file = dir.file("f") + "/x";
    write_file(dir.file("f"), "");
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_mk(string_of(under_file), QUARN_MODE_READ)).describe(),
              error_text(KIT_INAPPROPRIATE_TYPE_FILE, 20, "not a directory", under_file));
    std::string nul_path("a\0b", 3);
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_mk(string_of(nul_path), QUARN_MODE_WRITE)).describe(),
              error_text(KIT_INVALID_ARGUMENT_FILE, 22, "string contains NUL bytes", "a"))
        << "the file name holds the NUL; the kit reads it up to there";
    EXPECT_FALSE(std::filesystem::exists(dir.file("a"))) << "nothing is created";
}

TEST_F(HandleTest, ADirectoryOpensForReadingButCannotBeRead) {
    // Opening for reading succeeds on Linux; reading says why, without a file name.
    Owned h = open_handle(dir.path(), QUARN_MODE_READ);
    EXPECT_EQ(get_line(h.get()),
              "error: " + error_text(KIT_INAPPROPRIATE_TYPE, 21, "illegal operation on a directory"));
    EXPECT_EQ(read_bytes(h.get(), 10),
              "error: " + error_text(KIT_INAPPROPRIATE_TYPE, 21, "illegal operation on a directory"));
}

TEST_F(HandleTest, GetLineSplitsAtLineFeedsOnly) {
    std::string path = dir.file("lines");
    std::string long_line(100000, 'L');  // longer than any buffer
    std::string nul_line("nul\0byte\n", 9);
    write_file(path, "x\n\ncr lf\r\n" + long_line + "\n" + nul_line + "y");
    Owned h = open_handle(path, QUARN_MODE_READ);
    EXPECT_EQ(get_line(h.get()), "x\n");
    EXPECT_EQ(get_line(h.get()), "\n");
    EXPECT_EQ(get_line(h.get()), "cr lf\r\n");
    EXPECT_EQ(get_line(h.get()), long_line + "\n");
    EXPECT_EQ(get_line(h.get()), nul_line);
    EXPECT_EQ(get_line(h.get()), "y") << "the last line has no line feed";
    EXPECT_EQ(get_line(h.get()), "");
    EXPECT_EQ(get_line(h.get()), "");
}

TEST_F(HandleTest, LinesAcrossEveryBufferBoundary) {
    // Lines whose ends fall just before, on and after each 8192-byte boundary.
    std::string path = dir.file("boundaries"), contents;
    std::vector<std::string> lines;
    for (size_t n : {8190u, 8191u, 8192u, 1u, 8193u, 16383u, 16384u, 3u}) {
        lines.push_back(std::string(n - 1, static_cast<char>('a' + lines.size())) + "\n");
        contents += lines.back();
    }
    write_file(path, contents);
    Owned h = open_handle(path, QUARN_MODE_READ);
    for (const std::string &line : lines) EXPECT_EQ(get_line(h.get()), line);
    EXPECT_EQ(get_line(h.get()), "");
}

TEST_F(HandleTest, LinesThatAreNotUtf8) {
    std::string path = dir.file("bytes");
    write_file(path, "a\xFF\n\xE6\x97\xA5\xE6\x97\n\x80\x80z\n");
    Owned h = open_handle(path, QUARN_MODE_READ);
    Result line(quarn_lean_io_prim_handle_get_line(h.get()));
    EXPECT_EQ(line.text(), "a\xEF\xBF\xBD\n");
    EXPECT_EQ(reinterpret_cast<quarn_string_object *>(line.value())->length, 3u);
    EXPECT_EQ(get_line(h.get()), "\xE6\x97\xA5\xEF\xBF\xBD\n") << "a character cut short";
    EXPECT_EQ(get_line(h.get()), "\xEF\xBF\xBDz\n") << "one replacement for a run of continuation bytes";
}

TEST_F(HandleTest, ReadStopsAtTheCountOrTheEnd) {
    std::string path = dir.file("four");
    write_file(path, "abcd");
    Owned h = open_handle(path, QUARN_MODE_READ);
    EXPECT_EQ(read_bytes(h.get(), 0), "");
    EXPECT_EQ(read_bytes(h.get(), 10), "abcd");
    EXPECT_EQ(read_bytes(h.get(), 10), "");
    std::string big(200000, 'b');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    write_file(path, big);
    Owned g = open_handle(path, QUARN_MODE_READ);
    EXPECT_EQ(read_bytes(g.get(), 3), big.substr(0, 3));
    EXPECT_EQ(get_line(g.get()), big.substr(3)) << "reads and lines share the buffer";
}

TEST_F(HandleTest, HugeCountsCostWhatTheFileHolds) {
    std::string path = dir.file("small");
    write_file(path, "tiny");
    Owned h = open_handle(path, QUARN_MODE_READ);
    Result r(quarn_lean_io_prim_handle_read(h.get(), size_t{1} << 50));
    ASSERT_TRUE(r.ok()) << r.describe();
    EXPECT_EQ(r.bytes(), "tiny");
    EXPECT_LE(reinterpret_cast<quarn_sarray_object *>(r.value())->capacity, size_t{64} << 10);
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_read(h.get(), 0x7FFFFFFFFFFFFFC0)).describe(),
              error_text(KIT_RESOURCE_EXHAUSTED, 12, "not enough memory"));
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_read(h.get(), SIZE_MAX)).describe(),
              error_text(KIT_RESOURCE_EXHAUSTED, 12, "not enough memory"));
    Result below(quarn_lean_io_prim_handle_read(h.get(), 0x7FFFFFFFFFFFFFBF));
    EXPECT_TRUE(below.ok()) << below.describe();
}

TEST_F(HandleTest, LargeReadsGrowTheArrayAsBytesArrive) {
    std::string path = dir.file("large");
    std::string contents(3 * 65536 + 1234, 'x');
    for (size_t i = 0; i < contents.size(); i += 7) contents[i] = static_cast<char>(i);
    write_file(path, contents);
    Owned h = open_handle(path, QUARN_MODE_READ);
    EXPECT_EQ(read_bytes(h.get(), 5), contents.substr(0, 5));
    EXPECT_EQ(read_bytes(h.get(), contents.size()), contents.substr(5));
}

TEST_F(HandleTest, FullBufferingWritesOnceItHolds8192Bytes) {
    std::string path = dir.file("out");
    Owned h = open_handle(path, QUARN_MODE_WRITE);
    std::string half(5000, 'h');
    EXPECT_EQ(put_str(h.get(), half), "ok");
    EXPECT_EQ(file_size(path), 0);
    EXPECT_EQ(put_str(h.get(), half), "ok");
    EXPECT_EQ(file_size(path), 10000) << "both halves go out together";
    EXPECT_EQ(put_str(h.get(), "line\n"), "ok");
    EXPECT_EQ(file_size(path), 10000) << "a line feed does not flush a file";
    std::string raw(8187, 'r');
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_write(h.get(), bytes_of(raw))).describe(), "ok");
    EXPECT_EQ(file_size(path), 10000 + 5 + 8187) << "5 + 8187 bytes reach the buffer size";
    EXPECT_EQ(put_str(h.get(), "tail"), "ok");
    EXPECT_EQ(flush(h.get()), "ok");
    EXPECT_EQ(read_file(path), half + half + "line\n" + raw + "tail");
}

// A pipe; the handle side is given away to a handle, the test keeps the other.
struct Pipe {
    int read_end = -1, write_end = -1;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) std::abort();
        read_end = fds[0];
        write_end = fds[1];
    }
};

// A handle over a descriptor it takes over, with the given buffering.
Owned handle_over(int fd, quarn::io::BufferMode mode, bool readable, bool writable) {
    using namespace quarn::io;
    return Owned(make_handle_object(
        make_handle_record(fd, HandleKind::opened_file, readable, writable, mode, kNotStandard)));
}

// Whatever the pipe holds now, without waiting.
std::string drain(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string got;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0) got.append(chunk, static_cast<size_t>(n));
    return got;
}

TEST_F(HandleTest, LineBufferingWritesAtEachLineFeed) {
    Pipe pipe;
    Owned h = handle_over(pipe.write_end, quarn::io::BufferMode::line, false, true);
    EXPECT_EQ(put_str(h.get(), "prompt> "), "ok");
    EXPECT_EQ(drain(pipe.read_end), "");
    EXPECT_EQ(put_str(h.get(), "answer\nrest"), "ok");
    EXPECT_EQ(drain(pipe.read_end), "prompt> answer\nrest") << "the whole write goes out";
    EXPECT_EQ(put_str(h.get(), std::string(8191, 'f')), "ok");
    EXPECT_EQ(drain(pipe.read_end), "");
    EXPECT_EQ(put_str(h.get(), "g"), "ok");
    EXPECT_EQ(drain(pipe.read_end).size(), 8192u) << "a full buffer goes out without a line feed";
    EXPECT_EQ(put_str(h.get(), "kept"), "ok");
    h.reset();
    EXPECT_EQ(drain(pipe.read_end), "kept") << "releasing the handle flushes it";
    ::close(pipe.read_end);
}

TEST_F(HandleTest, NoBufferingWritesAtOnce) {
    Pipe pipe;
    Owned h = handle_over(pipe.write_end, quarn::io::BufferMode::none, false, true);
    EXPECT_EQ(put_str(h.get(), "a"), "ok");
    EXPECT_EQ(drain(pipe.read_end), "a");
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_write(h.get(), bytes_of("b\nc"))).describe(), "ok");
    EXPECT_EQ(drain(pipe.read_end), "b\nc");
    ::close(pipe.read_end);
}

TEST_F(HandleTest, ShortReadsFromAPipeAddUp) {
    Pipe pipe;
    Owned h = handle_over(pipe.read_end, quarn::io::BufferMode::full, true, false);
    std::string sent;
    for (int i = 0; i < 300; ++i) sent += std::to_string(i) + (i % 7 == 0 ? "\n" : " ");
    std::thread writer([&] {
        // Small pieces, so most reads return less than they ask for.
        for (size_t at = 0; at < sent.size(); at += 13)
            EXPECT_GT(::write(pipe.write_end, sent.data() + at, std::min<size_t>(13, sent.size() - at)), 0);
        ::close(pipe.write_end);
    });
    std::string first_line = get_line(h.get());
    std::string rest = read_bytes(h.get(), sent.size());
    writer.join();
    EXPECT_EQ(first_line, "0\n");
    EXPECT_EQ(first_line + rest, sent);
    EXPECT_EQ(read_bytes(h.get(), 10), "");
}

TEST_F(HandleTest, EndOfFileThenMoreData) {
    // A FIFO ends each time its last writer goes, and goes on when a new writer comes.
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int first_writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // does not wait for a reader
    ASSERT_GE(first_writer, 0);
    Owned h = open_handle(fifo, QUARN_MODE_READ);
    ASSERT_EQ(::write(first_writer, "one\n", 4), 4);
    ::close(first_writer);
    EXPECT_EQ(get_line(h.get()), "one\n");
    EXPECT_EQ(get_line(h.get()), "");
    int second_writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(second_writer, 0);
    ASSERT_EQ(::write(second_writer, "two", 3), 3);
    ::close(second_writer);
    EXPECT_EQ(get_line(h.get()), "two");
    // A regular file that grows after its end was seen.
    std::string path = dir.file("growing");
    write_file(path, "a\n");
    Owned g = open_handle(path, QUARN_MODE_READ);
    EXPECT_EQ(get_line(g.get()), "a\n");
    EXPECT_EQ(read_bytes(g.get(), 5), "");
    std::ofstream(path, std::ios::app) << "b\n";
    EXPECT_EQ(get_line(g.get()), "b\n");
}

TEST_F(HandleTest, WritesLandWhereTheReaderStood) {
    std::string path = dir.file("rw");
    write_file(path, "0123456789\nsecond\n");
    {
        Owned h = open_handle(path, QUARN_MODE_READ_WRITE);
        EXPECT_EQ(read_bytes(h.get(), 3), "012");  // the whole file was read ahead
        EXPECT_EQ(put_str(h.get(), "ab"), "ok");
        EXPECT_EQ(get_line(h.get()), "56789\n") << "reading goes on after the write";
        EXPECT_EQ(Result(quarn_lean_io_prim_handle_rewind(h.get())).describe(), "ok");
        EXPECT_EQ(get_line(h.get()), "012ab56789\n") << "rewind flushes first";
        EXPECT_EQ(Result(quarn_lean_io_prim_handle_truncate(h.get())).describe(), "ok");
    }
    EXPECT_EQ(read_file(path), "012ab56789\n") << "cut where the reader stood";
    {
        Owned h = open_handle(path, QUARN_MODE_WRITE);
        EXPECT_EQ(put_str(h.get(), "abcdef"), "ok");
        EXPECT_EQ(Result(quarn_lean_io_prim_handle_truncate(h.get())).describe(), "ok");
        EXPECT_EQ(read_file(path), "abcdef") << "truncating flushes first";
        EXPECT_EQ(Result(quarn_lean_io_prim_handle_rewind(h.get())).describe(), "ok");
        EXPECT_EQ(put_str(h.get(), "XY"), "ok");
        EXPECT_EQ(Result(quarn_lean_io_prim_handle_truncate(h.get())).describe(), "ok");
    }
    EXPECT_EQ(read_file(path), "XY");
}

TEST_F(HandleTest, FileLocksWithinOneProcess) {
    // Each handle is its own open file, so their locks meet as two processes' would.
    std::string path = dir.file("lock");
    write_file(path, "");
    Owned a = open_handle(path, QUARN_MODE_READ);
    Owned b = open_handle(path, QUARN_MODE_READ);
    auto try_lock = [](quarn_object *h, bool exclusive) {
        Result r(quarn_lean_io_prim_handle_try_lock(h, exclusive));
        return r.ok() ? (quarn_unbox(r.value()) ? "granted" : "held elsewhere") : r.describe();
    };
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_lock(a.get(), 0)).describe(), "ok");
    EXPECT_EQ(try_lock(b.get(), false), "granted") << "shared locks share";
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_unlock(b.get())).describe(), "ok");
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_lock(a.get(), 1)).describe(), "ok");
    EXPECT_EQ(try_lock(b.get(), false), "held elsewhere");
    EXPECT_EQ(try_lock(b.get(), true), "held elsewhere");
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_unlock(a.get())).describe(), "ok");
    EXPECT_EQ(try_lock(b.get(), true), "granted");
    EXPECT_EQ(try_lock(a.get(), false), "held elsewhere");
    b.reset();  // closing the last descriptor of an open file gives its lock back
    EXPECT_EQ(try_lock(a.get(), true), "granted");
}

TEST_F(HandleTest, TerminalsAndFiles) {
    int controller, terminal;
    ASSERT_EQ(::openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
    char name[64];
    ASSERT_EQ(::ttyname_r(terminal, name, sizeof name), 0);
    Owned tty = open_handle(name, QUARN_MODE_READ_WRITE);
    EXPECT_EQ(quarn_lean_io_prim_handle_is_tty(tty.get()), 1);
    std::string path = dir.file("plain");
    write_file(path, "");
    Owned file = open_handle(path, QUARN_MODE_READ);
    EXPECT_EQ(quarn_lean_io_prim_handle_is_tty(file.get()), 0);
    ::close(terminal);
    ::close(controller);
}

TEST_F(HandleTest, AFullDeviceReportsNoSpace) {
    Owned h = open_handle("/dev/full", QUARN_MODE_WRITE);
    EXPECT_EQ(put_str(h.get(), "buffered"), "ok");
    EXPECT_EQ(flush(h.get()), error_text(KIT_RESOURCE_EXHAUSTED, 28, "no space left on device"));
    EXPECT_EQ(flush(h.get()), "ok") << "the failed bytes were dropped, not kept to fail again";
    EXPECT_EQ(put_str(h.get(), std::string(9000, 'x')),
              error_text(KIT_RESOURCE_EXHAUSTED, 28, "no space left on device"));
}

TEST_F(HandleTest, ADescriptorThatFailsLosesNothingTwice) {
    // The handle's descriptor is swapped for one that refuses writes.
    std::string path = dir.file("victim");
    Owned h = open_handle(path, QUARN_MODE_WRITE);
    EXPECT_EQ(put_str(h.get(), "first "), "ok");
    int fd = quarn::io::record_of(h.get()).fd();
    int read_only = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int saved = ::dup(fd);
    ASSERT_EQ(::dup2(read_only, fd), fd);
    EXPECT_EQ(flush(h.get()), error_text(KIT_INVALID_ARGUMENT, 9, "bad file descriptor"));
    EXPECT_EQ(Result(quarn_lean_io_prim_handle_truncate(h.get())).describe(),
              error_text(KIT_INVALID_ARGUMENT, 22, "invalid argument"));
    ASSERT_EQ(::dup2(saved, fd), fd);
    EXPECT_EQ(put_str(h.get(), "second"), "ok");
    EXPECT_EQ(flush(h.get()), "ok");
    EXPECT_EQ(read_file(path), "second");
    ::close(saved);
    ::close(read_only);
}

TEST_F(HandleTest, AReadErrorNotYetReportedReplacesTheNextLine) {
    std::string path = dir.file("pending");
    write_file(path, "line\n");
    Owned h = open_handle(path, QUARN_MODE_READ);
    quarn::io::HandleRecord &record = quarn::io::record_of(h.get());
    {
        quarn::io::HandleLock lock(record);
        // A read into a bad address fails with EFAULT and reads nothing.
        EXPECT_EQ(record.read_some(nullptr, 16).error, EFAULT);
    }
    EXPECT_EQ(get_line(h.get()),
              "error: " + error_text(KIT_OTHER_ERROR, 14, "bad address in system call argument"));
    EXPECT_EQ(get_line(h.get()), "") << "reported once; the line was consumed";
}

TEST_F(HandleTest, ThreadsShareAHandleLineByLine) {
    std::string path = dir.file("shared");
    Owned h = open_handle(path, QUARN_MODE_WRITE);
    quarn_mark_mt(h.get());
    constexpr int kThreads = 4, kLines = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        quarn_inc(h.get());
        threads.emplace_back([handle = h.get(), t] {
            std::string line = "thread " + std::to_string(t) + std::string(40 + t * 13, '.') + "\n";
            for (int i = 0; i < kLines; ++i) EXPECT_EQ(put_str(handle, line), "ok");
            quarn_dec(handle);  // the last thread to finish may be the one that releases it
        });
    }
    h.reset();
    for (std::thread &t : threads) t.join();
    std::ifstream in(path);
    std::map<std::string, int> counts;
    for (std::string line; std::getline(in, line);) ++counts[line];
    ASSERT_EQ(counts.size(), size_t{kThreads}) << "no line was torn";
    for (auto &[line, count] : counts) EXPECT_EQ(count, kLines) << line;
}

TEST_F(HandleTest, TheRegistryFlushesWhileHandlesComeAndGo) {
    constexpr int kWriters = 3, kRounds = 150;
    std::atomic<bool> writing{true};
    std::thread flusher([&] {
        while (writing.load()) {
            quarn::io::flush_all_handles(quarn::shutdown::Reason::MainReturned);
            quarn::io::flush_all_handles(quarn::shutdown::Reason::Exit);
            quarn::io::flush_all_handles(quarn::shutdown::Reason::Panic);
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            std::string path = dir.file("come-and-go-" + std::to_string(w));
            for (int round = 0; round < kRounds; ++round) {
                Owned h = open_handle(path, QUARN_MODE_APPEND);
                EXPECT_EQ(put_str(h.get(), std::to_string(round) + "\n"), "ok");
            }
        });
    }
    for (std::thread &t : writers) t.join();
    writing.store(false);
    flusher.join();
    std::string expected;
    for (int round = 0; round < kRounds; ++round) expected += std::to_string(round) + "\n";
    for (int w = 0; w < kWriters; ++w)
        EXPECT_EQ(read_file(dir.file("come-and-go-" + std::to_string(w))), expected);
    EXPECT_LT(quarn::io::registered_handle_count(), size_t{kWriters * kRounds})
        << "entries of closed handles are dropped as new ones come";
}

class HandleDeathTest : public HandleTest {};

TEST_F(HandleDeathTest, OnlyHandlesAreHandles) {
    Owned text(string_of("not a handle"));
    EXPECT_INTERNAL_PANIC(quarn_lean_io_prim_handle_flush(text.get()), "expected an IO.FS.Handle object");
    EXPECT_INTERNAL_PANIC(quarn_lean_io_prim_handle_is_tty(quarn_box(3)), "expected an IO.FS.Handle object");
    static const quarn_external_class other_class = {[](void *) {}, [](void *, void (*)(quarn_object *, void *), void *) {}};
    auto *other = reinterpret_cast<quarn_external_object *>(
        quarn::object::allocate_object(sizeof(quarn_external_object), QUARN_TAG_EXTERNAL));
    other->klass = &other_class;
    other->data = nullptr;
    Owned external(&other->header);
    EXPECT_INTERNAL_PANIC(quarn_lean_io_prim_handle_put_str(external.get(), string_of("x")),
                          "expected an IO.FS.Handle object");
    EXPECT_INTERNAL_PANIC(quarn_lean_io_prim_handle_read(external.get(), 0), "expected an IO.FS.Handle object");
}

TEST_F(HandleDeathTest, ModesAboveFour) {
    EXPECT_INTERNAL_PANIC(quarn_lean_io_prim_handle_mk(string_of(dir.file("m")), 5), "invalid IO.FS.Mode 5");
    EXPECT_INTERNAL_PANIC(quarn_lean_io_prim_handle_mk(string_of(dir.file("m")), 255), "invalid IO.FS.Mode 255");
}

}  // namespace

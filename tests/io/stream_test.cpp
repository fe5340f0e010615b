// The standard streams: the defaults made through the program's lean_stream_of_handle,
// each thread's replacements, and the Lean-level standard error that follows them.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "core/lean_panic.h"
#include "quarn/closure.h"
#include "handle_testing.h"
#include "io/handle_object.h"
#include "io/handle_registry.h"
#include "io/lean_print.h"
#include "io/standard_streams.h"

namespace {

using namespace handle_testing;
using quarn::io::BufferMode;
using quarn::io::HandleRecord;
using quarn::io::StandardStream;

class StreamTest : public kit::LiveObjectsTest {};

// The handle inside a kit stream: every closure of it holds the handle.
HandleRecord &record_of_stream(quarn_object *stream) {
    quarn_object *put_str = quarn_ctor_get(stream, 4);
    return quarn::io::record_of(quarn_closure_get(put_str, 0));
}

// The text a kit buffer stream collected.
std::string collected(quarn_object *cell) {
    Owned text(quarn_lean_st_ref_get(cell));
    auto *s = reinterpret_cast<quarn_string_object *>(text.get());
    return std::string(s->data, s->size - 1);
}

TEST_F(StreamTest, TheDefaultsAreTheProgramsStreamsOfTheThreeDescriptors) {
    struct Expected {
        quarn_object *(*get)();
        StandardStream which;
        int fd;
        bool readable, writable;
    } expected[] = {{quarn_lean_get_stdin, StandardStream::in, 0, true, false},
                    {quarn_lean_get_stdout, StandardStream::out, 1, false, true},
                    {quarn_lean_get_stderr, StandardStream::err, 2, false, true}};
    for (const Expected &e : expected) {
        Owned first(e.get()), second(e.get());
        EXPECT_EQ(first.get(), second.get()) << "made once";
        EXPECT_TRUE(quarn_is_persistent(first.get()));
        ASSERT_EQ(quarn_ctor_num_objs(first.get()), 6u) << "the kit's IO.FS.Stream";
        HandleRecord &record = record_of_stream(first.get());
        EXPECT_EQ(&record, &quarn::io::standard_record(e.which));
        EXPECT_EQ(record.fd(), e.fd);
        EXPECT_EQ(record.standard_index(), e.fd);
        EXPECT_EQ(record.kind(), quarn::io::HandleKind::standard_stream);
        EXPECT_EQ(record.readable(), e.readable);
        EXPECT_EQ(record.writable(), e.writable);
    }
    EXPECT_EQ(quarn::io::standard_record(StandardStream::in).mode(), BufferMode::full);
    EXPECT_EQ(quarn::io::standard_record(StandardStream::out).mode(),
              ::isatty(1) ? BufferMode::line : BufferMode::full);
    EXPECT_EQ(quarn::io::standard_record(StandardStream::err).mode(), BufferMode::none);
}

TEST_F(StreamTest, AStandardDescriptorOutlivesItsHandles) {
    // A handle object of its own over the stdout record, released: descriptor 1 stays.
    Owned handle(quarn::io::make_handle_object(quarn::io::record_ref_of(
        quarn_closure_get(quarn_ctor_get(Owned(quarn_lean_get_stdout()).get(), 4), 0))));
    handle.reset();
    EXPECT_NE(::fcntl(STDOUT_FILENO, F_GETFD), -1);
}

TEST_F(StreamTest, AReplacementBelongsToItsThread) {
    Owned real(quarn_lean_get_stdout());
    quarn_object *cell;
    quarn_object *buffer = kit_buffer_stream(&cell);
    Owned owned_cell(cell);
    Owned previous(quarn_lean_get_set_stdout(buffer));
    EXPECT_EQ(previous.get(), real.get()) << "what the thread saw before: the default";
    EXPECT_EQ(Owned(quarn_lean_get_stdout()).get(), buffer);
    std::thread([&] { EXPECT_EQ(Owned(quarn_lean_get_stdout()).get(), real.get()); }).join();
    EXPECT_EQ(Owned(quarn_lean_get_stdin()).get(), Owned(quarn_lean_get_stdin()).get());
    Result printed(kit_print("to the buffer\n"));
    EXPECT_TRUE(printed.ok());
    EXPECT_EQ(collected(cell), "to the buffer\n");
    // Put back: the buffer stream comes out, the default is seen again.
    Owned replaced(quarn_lean_get_set_stdout(previous.take()));
    EXPECT_EQ(replaced.get(), buffer);
    EXPECT_EQ(Owned(quarn_lean_get_stdout()).get(), real.get());
}

TEST_F(StreamTest, RedirectedPrintingBesideARealPrinter) {
    constexpr int kLines = 500;
    testing::internal::CaptureStdout();
    std::string into_buffer;
    std::thread redirected([&] {
        quarn_object *cell;
        Owned previous(quarn_lean_get_set_stdout(kit_buffer_stream(&cell)));
        for (int i = 0; i < kLines; ++i) Result(kit_print(("redirected " + std::to_string(i) + "\n").c_str()));
        Owned buffer(quarn_lean_get_set_stdout(previous.take()));
        into_buffer = collected(cell);
        quarn_dec(cell);
    });
    std::thread real([&] {
        for (int i = 0; i < kLines; ++i) Result(kit_print(("real " + std::to_string(i) + "\n").c_str()));
    });
    redirected.join();
    real.join();
    Owned out(quarn_lean_get_stdout());
    EXPECT_EQ(Result(kit_stream_flush(out.get())).describe(), "ok");
    std::string on_stdout = testing::internal::GetCapturedStdout();
    std::string expected_real, expected_redirected;
    for (int i = 0; i < kLines; ++i) {
        expected_real += "real " + std::to_string(i) + "\n";
        expected_redirected += "redirected " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(on_stdout, expected_real);
    EXPECT_EQ(into_buffer, expected_redirected);
}

TEST_F(StreamTest, TheLeanLevelStandardErrorFollowsTheThreadsReplacement) {
    quarn_object *cell;
    Owned previous(quarn_lean_get_set_stderr(kit_buffer_stream(&cell)));
    Owned owned_cell(cell);
    quarn::io::lean_eprintln("a warning");
    setenv("LEAN_BACKTRACE", "0", 1);
    quarn::report_lean_panic("PANIC at f: bad index");
    unsetenv("LEAN_BACKTRACE");
    Owned(quarn_lean_get_set_stderr(previous.take()));
    EXPECT_EQ(collected(cell), "a warning\nPANIC at f: bad index\n");
    testing::internal::CaptureStderr();
    quarn::io::lean_eprintln("straight to descriptor 2");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "straight to descriptor 2\n")
        << "standard error is not buffered";
}

TEST_F(StreamTest, WaitingForInputFlushesALineBufferedPrompt) {
    // stdin's record flushes stdout's when that one is line-buffered; the same link
    // between two pipes.
    using namespace quarn::io;
    int in_fds[2], out_fds[2];
    ASSERT_EQ(::pipe(in_fds), 0);
    ASSERT_EQ(::pipe(out_fds), 0);
    HandleRef prompt = make_handle_record(out_fds[1], HandleKind::opened_file, false, true,
                                          BufferMode::line, kNotStandard);
    HandleRef input = make_handle_record(in_fds[0], HandleKind::opened_file, true, false,
                                         BufferMode::full, kNotStandard);
    input->set_flush_before_read(prompt.get());
    Owned out(make_handle_object(prompt)), in(make_handle_object(input));
    EXPECT_EQ(put_str(out.get(), "name? "), "ok");
    ASSERT_EQ(::write(in_fds[1], "Ada\n", 4), 4);
    EXPECT_EQ(get_line(in.get()), "Ada\n");
    ::fcntl(out_fds[0], F_SETFL, O_NONBLOCK);
    char seen[16] = {};
    EXPECT_EQ(::read(out_fds[0], seen, sizeof seen), 6);
    EXPECT_STREQ(seen, "name? ");
    ::close(in_fds[1]);
    ::close(out_fds[0]);
}

TEST_F(StreamTest, TheProcessEndFlushesStdout) {
    testing::internal::CaptureStdout();
    Result(kit_print("held in the buffer"));
    quarn::io::flush_all_handles(quarn::shutdown::Reason::MainReturned);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "held in the buffer");
}

}  // namespace

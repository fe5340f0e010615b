// The file system, environment, clocks and random bytes as compiled code sees them: exact
// records, errors naming their paths, the refusal of paths holding a zero byte.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "array/sarray_alloc.h"
#include "fs/timeit_report.h"
#include "object/heartbeat.h"
#include "quarn/array.h"
#include "quarn/closure.h"
#include "quarn/fs.h"
#include "quarn/nat.h"
#include "quarn/handle.h"
#include "quarn/process.h"
#include "io_results.h"
#include "testing.h"

namespace {

namespace stdfs = std::filesystem;

class FsTest : public kit::LiveObjectsTest {
protected:
    void SetUp() override {
        kit::LiveObjectsTest::SetUp();
        std::string pattern = (stdfs::temp_directory_path() / "quarn-fs-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        stdfs::remove_all(dir_);
        kit::LiveObjectsTest::TearDown();
    }
    std::string at(const std::string &name) const { return dir_ + "/" + name; }
    std::string dir_;
};

quarn_object *str(const std::string &s) { return quarn_mk_string_unchecked(s.data(), s.size(), s.size()); }

void touch(const std::string &path, size_t bytes = 0) { std::ofstream(path) << std::string(bytes, 'x'); }

using kit::expect_error;
using kit::ok;

uint8_t file_type(quarn_object *record) { return quarn_ctor_scalar_area(record)[16]; }
uint64_t byte_size(quarn_object *record) { return quarn_ctor_get_uint64(record, 16); }
uint64_t links(quarn_object *record) { return quarn_ctor_get_uint64(record, 24); }

TEST_F(FsTest, MetadataOfFilesDirectoriesAndLinks) {
    touch(at("f"), 1234);
    ::symlink("f", at("l").c_str());
    quarn_object *path = str(at("f"));
    quarn_object *m = ok(quarn_lean_io_metadata(path));
    EXPECT_EQ(file_type(m), QUARN_FILE_REGULAR);
    EXPECT_EQ(byte_size(m), 1234u);
    EXPECT_EQ(links(m), 1u);
    struct stat st;
    ::stat(at("f").c_str(), &st);
    quarn_object *mtime = quarn_ctor_get(m, 1);
    EXPECT_EQ(quarn_unbox_int(quarn_ctor_get(mtime, 0)), st.st_mtim.tv_sec);
    uint32_t nanos;
    std::memcpy(&nanos, quarn_ctor_scalar_area(mtime), 4);
    EXPECT_EQ(nanos, static_cast<uint32_t>(st.st_mtim.tv_nsec));
    quarn_dec(m);
    quarn_dec(path);

    path = str(at("l"));
    m = ok(quarn_lean_io_metadata(path));
    EXPECT_EQ(file_type(m), QUARN_FILE_REGULAR) << "followed";
    quarn_dec(m);
    m = ok(quarn_lean_io_symlink_metadata(path));
    EXPECT_EQ(file_type(m), QUARN_FILE_SYMLINK);
    EXPECT_EQ(byte_size(m), 1u) << "the link's own size: the length of \"f\"";
    quarn_dec(m);
    quarn_dec(path);

    path = str(dir_);
    m = ok(quarn_lean_io_metadata(path));
    EXPECT_EQ(file_type(m), QUARN_FILE_DIRECTORY);
    quarn_dec(m);
    quarn_dec(path);

    path = str("/dev/null");
    m = ok(quarn_lean_io_metadata(path));
    EXPECT_EQ(file_type(m), QUARN_FILE_OTHER);
    quarn_dec(m);
    quarn_dec(path);

    path = str(at("missing"));
    expect_error(quarn_lean_io_metadata(path), KIT_NO_FILE_OR_DIRECTORY, 2, at("missing").c_str());
    quarn_dec(path);
    path = str(std::string("a\0b", 3));
    expect_error(quarn_lean_io_metadata(path), KIT_INVALID_ARGUMENT_FILE, 22, "a", "string contains NUL bytes");
    quarn_dec(path);
}

TEST_F(FsTest, ReadDirKeepsTheSystemsOrderAndAnExactCapacity) {
    quarn_object *path = str(dir_);
    quarn_object *empty = ok(quarn_lean_io_read_dir(path));
    auto *a = reinterpret_cast<quarn_array_object *>(empty);
    EXPECT_EQ(a->size, 0u);
    EXPECT_EQ(a->capacity, 0u);
    quarn_dec(empty);

    std::vector<std::string> expected;
    for (int i = 0; i < 100; ++i) touch(at("e" + std::to_string(i)));
    stdfs::create_directory(at("sub"));
    // The order the system gives, without "." and "..".
    for (const auto &entry : stdfs::directory_iterator(dir_)) expected.push_back(entry.path().filename());
    quarn_object *listing = ok(quarn_lean_io_read_dir(path));
    a = reinterpret_cast<quarn_array_object *>(listing);
    ASSERT_EQ(a->size, expected.size());
    EXPECT_EQ(a->capacity, a->size);
    for (size_t i = 0; i < a->size; ++i) {
        EXPECT_EQ(quarn_ctor_get(a->data[i], 0), path) << "the very path object given";
        EXPECT_EQ(kit_cstr(quarn_ctor_get(a->data[i], 1)), expected[i]);
    }
    quarn_dec(listing);
    quarn_dec(path);

    path = str(at("e0"));
    expect_error(quarn_lean_io_read_dir(path), KIT_INAPPROPRIATE_TYPE_FILE, ENOTDIR, at("e0").c_str());
    quarn_dec(path);
}

TEST_F(FsTest, DirectoriesFilesRenamesLinksAndModes) {
    quarn_object *d = str(at("d"));
    quarn_dec(ok(quarn_lean_io_create_dir(d)));
    EXPECT_TRUE(stdfs::is_directory(at("d")));
    expect_error(quarn_lean_io_create_dir(d), KIT_ALREADY_EXISTS_FILE, EEXIST, at("d").c_str());
    touch(at("d/x"));
    expect_error(quarn_lean_io_remove_dir(d), KIT_UNSATISFIED_CONSTRAINTS, ENOTEMPTY, nullptr);
    quarn_object *x = str(at("d/x"));
    quarn_dec(ok(quarn_lean_io_remove_file(x)));
    expect_error(quarn_lean_io_remove_file(x), KIT_NO_FILE_OR_DIRECTORY, 2, at("d/x").c_str());
    quarn_dec(ok(quarn_lean_io_remove_dir(d)));
    EXPECT_FALSE(stdfs::exists(at("d")));
    quarn_dec(x);
    quarn_dec(d);

    // Rename replaces an existing target.
    touch(at("a"), 3);
    touch(at("b"), 7);
    quarn_object *a = str(at("a")), *b = str(at("b"));
    quarn_dec(ok(quarn_lean_io_rename(a, b)));
    EXPECT_FALSE(stdfs::exists(at("a")));
    EXPECT_EQ(stdfs::file_size(at("b")), 3u);
    std::string both = at("a") + " and/or " + at("b");
    expect_error(quarn_lean_io_rename(a, b), KIT_NO_FILE_OR_DIRECTORY, 2, both.c_str());

    // A hard link; its failure names the existing path.
    quarn_dec(ok(quarn_lean_io_hard_link(b, a)));
    EXPECT_EQ(stdfs::hard_link_count(at("b")), 2u);
    expect_error(quarn_lean_io_hard_link(b, a), KIT_ALREADY_EXISTS_FILE, EEXIST, at("b").c_str());

    quarn_dec(ok(quarn_lean_chmod(a, 0640)));
    struct stat st;
    ::stat(at("a").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    quarn_object *nul = str(std::string("x\0y", 3));
    expect_error(quarn_lean_io_rename(a, nul), KIT_INVALID_ARGUMENT_FILE, 22, "x");
    expect_error(quarn_lean_io_create_dir(nul), KIT_INVALID_ARGUMENT_FILE, 22, "x");
    quarn_dec(nul);
    quarn_dec(a);
    quarn_dec(b);
}

TEST_F(FsTest, RealpathResolvesAndReportsEveryFailureAsMissing) {
    stdfs::create_directory(at("d"));
    std::string canonical = stdfs::canonical(dir_).string();
    quarn_object *resolved = ok(quarn_lean_io_realpath(str(dir_ + "/d/../d/.")));
    EXPECT_EQ(kit_cstr(resolved), canonical + "/d");
    quarn_dec(resolved);
    expect_error(quarn_lean_io_realpath(str(at("none"))), KIT_NO_FILE_OR_DIRECTORY, 2, at("none").c_str(), "");
    expect_error(quarn_lean_io_realpath(str(std::string("/\0x", 3))), KIT_NO_FILE_OR_DIRECTORY, 2, "/", "");
}

TEST_F(FsTest, TemporaryFilesArePrivateAndUniqueUnderManyThreads) {
    const char *saved = std::getenv("TMPDIR");
    std::string saved_value = saved ? saved : "";
    ::setenv("TMPDIR", (dir_ + "/").c_str(), 1);
    constexpr int kThreads = 8, kEach = 50;
    std::vector<std::vector<std::string>> names(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                quarn_object *pair = ok(quarn_lean_io_create_tempfile());
                names[t].push_back(kit_cstr(quarn_ctor_get(pair, 1)));
                quarn_dec(pair);
            }
        });
    for (auto &t : threads) t.join();
    std::set<std::string> unique;
    for (auto &list : names)
        for (auto &n : list) {
            unique.insert(n);
            EXPECT_EQ(n.rfind(dir_ + "/tmp.", 0), 0u) << n;
            EXPECT_EQ(n.size(), dir_.size() + 13);
            struct stat st;
            ASSERT_EQ(::stat(n.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
    EXPECT_EQ(unique.size(), static_cast<size_t>(kThreads * kEach));

    // The handle reads and writes.
    quarn_object *pair = ok(quarn_lean_io_create_tempfile());
    quarn_object *handle = quarn_ctor_get(pair, 0);
    const char *text = "hello";
    quarn_object *bytes = quarn::array::make_byte_array(text, 5);
    quarn_dec(ok(quarn_lean_io_prim_handle_write(handle, bytes)));
    quarn_dec(ok(quarn_lean_io_prim_handle_rewind(handle)));
    quarn_object *back = ok(quarn_lean_io_prim_handle_read(handle, 16));
    EXPECT_EQ(quarn_sarray_size(back), 5u);
    quarn_dec(back);
    quarn_dec(pair);

    quarn_object *tmpdir = ok(quarn_lean_io_create_tempdir());
    struct stat st;
    ASSERT_EQ(::stat(kit_cstr(tmpdir), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    quarn_dec(tmpdir);

    // An empty TMPDIR is skipped for TMP; a root folder gets no second "/".
    ::setenv("TMPDIR", "", 1);
    ::setenv("TMP", dir_.c_str(), 1);
    quarn_object *from_tmp = ok(quarn_lean_io_create_tempdir());
    EXPECT_EQ(std::string(kit_cstr(from_tmp)).rfind(dir_ + "/tmp.", 0), 0u) << kit_cstr(from_tmp);
    quarn_dec(from_tmp);
    ::unsetenv("TMP");
    if (::access("/", W_OK) == 0) {
        ::setenv("TMPDIR", "/", 1);
        quarn_object *at_root = ok(quarn_lean_io_create_tempdir());
        std::string made = kit_cstr(at_root);
        EXPECT_EQ(made.rfind("/tmp.", 0), 0u) << made;
        EXPECT_EQ(made.size(), 13u);
        ::rmdir(made.c_str());
        quarn_dec(at_root);
    }

    // A folder that does not exist names the folder instead of stopping the process.
    ::setenv("TMPDIR", (dir_ + "/gone").c_str(), 1);
    expect_error(quarn_lean_io_create_tempfile(), KIT_NO_FILE_OR_DIRECTORY, 2, (dir_ + "/gone").c_str());
    expect_error(quarn_lean_io_create_tempdir(), KIT_NO_FILE_OR_DIRECTORY, 2, (dir_ + "/gone").c_str());
    if (saved) ::setenv("TMPDIR", saved_value.c_str(), 1);
    else ::unsetenv("TMPDIR");
}

TEST_F(FsTest, WorkingDirectoryReadChangedAndRemoved) {
    std::string before = stdfs::current_path();
    std::string canonical = stdfs::canonical(dir_).string();
    quarn_object *path = str(dir_ + std::string("\0ignored", 8));
    quarn_dec(ok(quarn_lean_io_process_set_current_dir(path)));  // cut at the zero byte
    quarn_dec(path);
    quarn_object *now = ok(quarn_lean_io_process_get_current_dir());
    EXPECT_EQ(kit_cstr(now), canonical);
    quarn_dec(now);
    now = ok(quarn_lean_io_current_dir());
    EXPECT_EQ(kit_cstr(now), canonical);
    quarn_dec(now);

    stdfs::create_directory(at("doomed"));
    ::chdir(at("doomed").c_str());
    ::rmdir(at("doomed").c_str());
    expect_error(quarn_lean_io_process_get_current_dir(), KIT_NO_FILE_OR_DIRECTORY, 2, ".");
    quarn_object *user = quarn_lean_io_current_dir();
    ASSERT_EQ(user->tag, 1);
    EXPECT_EQ(kit_error_kind(quarn_ctor_get(user, 0)), static_cast<unsigned>(KIT_USER_ERROR));
    quarn_dec(user);
    ::chdir(before.c_str());

    path = str(at("missing"));
    expect_error(quarn_lean_io_process_set_current_dir(path), KIT_NO_FILE_OR_DIRECTORY, 2, at("missing").c_str());
    quarn_dec(path);
}

TEST_F(FsTest, GetenvRefusesNamesTheSystemCannotHold) {
    ::setenv("QUARN_FS_VAR", "value", 1);
    quarn_object *name = str("QUARN_FS_VAR");
    quarn_object *some = ok(quarn_lean_io_getenv(name));
    ASSERT_EQ(some->tag, 1);
    EXPECT_STREQ(kit_cstr(quarn_ctor_get(some, 0)), "value");
    quarn_dec(some);
    quarn_dec(name);
    for (std::string bad : {std::string(""), std::string("QUARN_FS_VAR=value"), std::string("QUARN_FS_VAR\0x", 14),
                            std::string("QUARN_FS_UNSET")}) {
        name = str(bad);
        EXPECT_EQ(ok(quarn_lean_io_getenv(name)), quarn_box(0)) << bad;
        quarn_dec(name);
    }
    ::setenv("QUARN_FS_VAR", "\xff\x80\x80 ok", 1);
    name = str("QUARN_FS_VAR");
    some = ok(quarn_lean_io_getenv(name));
    EXPECT_STREQ(kit_cstr(quarn_ctor_get(some, 0)), "\xEF\xBF\xBD ok") << "decoded lossily";
    quarn_dec(some);
    quarn_dec(name);
    ::unsetenv("QUARN_FS_VAR");

    quarn_object *app = ok(quarn_lean_io_app_path());
    EXPECT_EQ(kit_cstr(app), stdfs::read_symlink("/proc/self/exe").string());
    quarn_dec(app);
}

TEST_F(FsTest, RandomBytes) {
    quarn_object *none = ok(quarn_lean_io_get_random_bytes(0));
    EXPECT_EQ(quarn_sarray_size(none), 0u);
    quarn_dec(none);
    quarn_object *some = ok(quarn_lean_io_get_random_bytes(1 << 20));
    EXPECT_EQ(quarn_sarray_size(some), 1u << 20);
    const uint8_t *data = reinterpret_cast<quarn_sarray_object *>(some)->data;
    std::set<uint8_t> seen(data, data + (1 << 20));
    EXPECT_EQ(seen.size(), 256u);
    quarn_dec(some);
    for (uint64_t huge : {uint64_t{1} << 62, ~uint64_t{0}, uint64_t{1} << 50})
        expect_error(quarn_lean_io_get_random_bytes(huge), KIT_RESOURCE_EXHAUSTED, ENOMEM, nullptr);
}

TEST_F(FsTest, ClocksThreadIdAndHeartbeats) {
    quarn_object *previous = ok(quarn_lean_io_mono_nanos_now());
    for (int i = 0; i < 100000; ++i) {
        quarn_object *next = ok(quarn_lean_io_mono_nanos_now());
        ASSERT_GE(quarn_unbox(next), quarn_unbox(previous)) << "the monotonic clock went back";
        previous = next;
    }
    quarn_object *ms = ok(quarn_lean_io_mono_ms_now());
    EXPECT_GE(quarn_unbox(ms), quarn_unbox(previous) / 1000000);
    quarn_dec(ms);

    quarn_object *time = ok(quarn_lean_get_current_time());
    int64_t seconds = quarn_unbox_int(quarn_ctor_get(time, 0));
    EXPECT_NEAR(static_cast<double>(seconds), static_cast<double>(::time(nullptr)), 2);
    EXPECT_LT(quarn_unbox(quarn_ctor_get(time, 1)), 1000000000u);
    quarn_dec(time);

    EXPECT_EQ(quarn_lean_io_get_tid(), static_cast<uint64_t>(::gettid()));
    uint64_t other = 0;
    std::thread([&] { other = quarn_lean_io_get_tid(); }).join();
    EXPECT_NE(other, quarn_lean_io_get_tid());

    quarn_dec(ok(quarn_lean_io_set_heartbeats(quarn_box(0))));
    quarn_dec(quarn_alloc_ctor(0, 0, 0));
    quarn_object *count = ok(quarn_lean_io_get_num_heartbeats());
    EXPECT_EQ(quarn_unbox(count), 1u);
    quarn_dec(count);
}

TEST(TimeitReport, ThreeSignificantDigitsAsPercentG) {
    EXPECT_EQ(quarn::fs::timeit_report("msg", 0.0005), "msg 0.5ms");
    EXPECT_EQ(quarn::fs::timeit_report("msg", 1234.5), "msg 1.23e+03s");
    EXPECT_EQ(quarn::fs::timeit_report("msg", 0), "msg 0ms");
    EXPECT_EQ(quarn::fs::timeit_report("msg", 1), "msg 1s");
    EXPECT_EQ(quarn::fs::timeit_report("msg", 0.0000000123), "msg 1.23e-05ms");
    EXPECT_EQ(quarn::fs::timeit_report("msg", 0.999), "msg 999ms");
}

// An IO action returning ok(42), counting its runs.
int action_runs = 0;
quarn_object *answer_action(quarn_object *world) {
    (void)world;
    ++action_runs;
    quarn_object *r = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(r, 0, quarn_box(42));
    return r;
}

TEST_F(FsTest, TimeitAndAllocprofRunTheActionThenReport) {
    quarn_object *cell = nullptr;
    quarn_object *previous = quarn_lean_get_set_stderr(kit_buffer_stream(&cell));
    action_runs = 0;
    quarn_object *timed = ok(quarn_lean_io_timeit(str("took"), quarn_alloc_closure((void *)answer_action, 1, 0)));
    EXPECT_EQ(timed, quarn_box(42));
    quarn_object *profiled =
        ok(quarn_lean_io_allocprof(str("profile"), quarn_alloc_closure((void *)answer_action, 1, 0)));
    EXPECT_EQ(profiled, quarn_box(42));
    EXPECT_EQ(action_runs, 2);
    quarn_dec(quarn_lean_get_set_stderr(previous));
    quarn_object *text = quarn_lean_st_ref_get(cell);
    std::string printed = kit_cstr(text);
    quarn_dec(text);
    quarn_dec(cell);
    size_t line_end = printed.find('\n');
    ASSERT_NE(line_end, std::string::npos);
    std::string first = printed.substr(0, line_end);
    EXPECT_EQ(first.rfind("took ", 0), 0u) << first;
    EXPECT_TRUE(first.ends_with("ms") || first.ends_with("s")) << first;
    EXPECT_EQ(printed.substr(line_end + 1),
              "profile\nAllocation profiling data is not available, compile lean using `-D RUNTIME_STATS=ON`\n\n");
}

TEST_F(FsTest, TimezonesAreWindowsOnly) {
    expect_error(quarn_lean_get_windows_local_timezone_id_at(0), KIT_INVALID_ARGUMENT, 22, nullptr,
                 "timezone retrieval is Windows-only");
    quarn_object *id = str("UTC");
    expect_error(quarn_lean_windows_get_next_transition(id, 0), KIT_INVALID_ARGUMENT, 22, nullptr,
                 "failed to get timezone, its windows only.");
    quarn_dec(id);
}

}  // namespace

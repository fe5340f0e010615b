// Facts about the machine and the process, checked against the system's own answers; the
// few settings a program may change; and the errors that must come back as IO errors.
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "io_results.h"
#include "quarn/system.h"
#include "system/cpu_times.h"
#include "system/memory_figures.h"
#include "testing.h"

namespace {

using kit::expect_error;
using kit::ok;
using kit::text;

// The string of an ok result, the result released.
std::string ok_string(quarn_object *result) {
    quarn_object *s = ok(result);
    std::string value = kit::string_value(s);
    quarn_dec(s);
    return value;
}

uint64_t ok_number(quarn_object *result) {
    quarn_object *box = ok(result);
    uint64_t n = quarn_unbox_uint64(box);
    quarn_dec(box);
    return n;
}

// Sets or unsets an environment variable for one test, and puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char *name, const char *value) : name_(name) {
        if (const char *old = std::getenv(name)) old_ = old;
        if (value != nullptr) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char *name_;
    std::optional<std::string> old_;
};

class SystemTest : public kit::LiveObjectsTest {};

TEST(MemoryFigures, MeminfoLinesAreReadByTheirKey) {
    const char *meminfo = "MemTotal:       24683716 kB\nMemFree:  10 kB\nMemAvailable: +7 kB\n";
    EXPECT_EQ(quarn::system::meminfo_figure(meminfo, "MemTotal:"), 24683716ull * 1024);
    EXPECT_EQ(quarn::system::meminfo_figure(meminfo, "MemAvailable:"), 7ull * 1024);
    EXPECT_EQ(quarn::system::meminfo_figure(meminfo, "Cached:"), 0u);
    // Unreadable figures are 0, so that callers fall back to sysinfo.
    EXPECT_EQ(quarn::system::meminfo_figure("MemTotal: 12x kB\n", "MemTotal:"), 0u);
    EXPECT_EQ(quarn::system::meminfo_figure("MemTotal: kB\n", "MemTotal:"), 0u);
    EXPECT_EQ(quarn::system::meminfo_figure("MemTotal: 18446744073709551615 kB\n", "MemTotal:"), 0u);
    EXPECT_EQ(quarn::system::meminfo_figure("MemTotal: 99999999999999999999999 kB\n", "MemTotal:"), 0u);
    // Only a line that starts with the key counts.
    EXPECT_EQ(quarn::system::meminfo_figure("XMemTotal: 5 kB\nMemTotal: 6 kB", "MemTotal:"), 6u * 1024);
}

TEST_F(SystemTest, MemoryFiguresAgreeWithTheSystem) {
    struct sysinfo info {};
    ASSERT_EQ(::sysinfo(&info), 0);
    uint64_t total = ok_number(quarn_lean_uv_get_total_memory());
    uint64_t system_total = static_cast<uint64_t>(info.totalram) * info.mem_unit;
    // MemTotal and sysinfo describe the same memory, to within a few pages of rounding.
    EXPECT_NEAR(static_cast<double>(total), static_cast<double>(system_total), 1 << 20);
    uint64_t free = ok_number(quarn_lean_uv_get_free_memory());
    EXPECT_GT(free, 0u);
    EXPECT_LE(free, total);
    uint64_t limit = ok_number(quarn_lean_uv_get_constrained_memory());
    uint64_t available = ok_number(quarn_lean_uv_get_available_memory());
    if (limit == 0) {
        EXPECT_LE(available, total);
    } else {
        EXPECT_LE(available, limit);
    }
}

TEST_F(SystemTest, IdentifiersNamesAndUptimeAreTheSystems) {
    EXPECT_EQ(ok_number(quarn_lean_uv_os_getpid()), static_cast<uint64_t>(::getpid()));
    EXPECT_EQ(ok_number(quarn_lean_uv_os_getppid()), static_cast<uint64_t>(::getppid()));
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    EXPECT_EQ(ok_string(quarn_lean_uv_os_gethostname()), host);

    struct sysinfo info {};
    ASSERT_EQ(::sysinfo(&info), 0);
    EXPECT_NEAR(static_cast<double>(ok_number(quarn_lean_uv_uptime())), info.uptime, 2);

    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    quarn_object *u = ok(quarn_lean_uv_os_uname());
    EXPECT_EQ(kit::string_value(quarn_ctor_get(u, 0)), names.sysname);
    EXPECT_EQ(kit::string_value(quarn_ctor_get(u, 1)), names.release);
    EXPECT_EQ(kit::string_value(quarn_ctor_get(u, 2)), names.version);
    EXPECT_EQ(kit::string_value(quarn_ctor_get(u, 3)), names.machine);
    quarn_dec(u);

    char exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_EQ(ok_string(quarn_lean_uv_exepath()), exe);
}

TEST_F(SystemTest, PriorityIsReadAndSetAndRangesAreRefused) {
    errno = 0;
    int current = ::getpriority(PRIO_PROCESS, 0);
    EXPECT_EQ(static_cast<int64_t>(ok_number(quarn_lean_uv_os_getpriority(0))), current);
    quarn_dec(ok(quarn_lean_uv_os_setpriority(0, current)));
    // The system would clamp these silently.
    expect_error(quarn_lean_uv_os_setpriority(0, 20), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
    expect_error(quarn_lean_uv_os_setpriority(0, -21), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
    expect_error(quarn_lean_uv_os_setpriority(0, INT64_MIN), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
    expect_error(quarn_lean_uv_os_getpriority(uint64_t{1} << 40), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
    // No process has the largest pid.
    expect_error(quarn_lean_uv_os_getpriority(INT32_MAX), KIT_NO_SUCH_THING, ESRCH, nullptr);
}

TEST_F(SystemTest, ResourceUsageHoldsSixteenFiguresInOrder) {
    // Burn some user time so that the first figure is not zero.
    volatile uint64_t x = 0;
    for (uint64_t i = 0; i < 50'000'000; ++i) x = x + i;
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    quarn_object *r = ok(quarn_lean_uv_getrusage());
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(quarn_ptr_other(r), 0u);
    auto ms = [](const timeval &t) { return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_usec) / 1000; };
    EXPECT_GE(quarn_ctor_get_uint64(r, 0), ms(before.ru_utime));
    EXPECT_LE(quarn_ctor_get_uint64(r, 0), ms(after.ru_utime));
    EXPECT_GT(quarn_ctor_get_uint64(r, 0), 0u);
    EXPECT_GE(quarn_ctor_get_uint64(r, 2 * 8), uint64_t(before.ru_maxrss));
    EXPECT_LE(quarn_ctor_get_uint64(r, 2 * 8), uint64_t(after.ru_maxrss));
    EXPECT_GE(quarn_ctor_get_uint64(r, 6 * 8), uint64_t(before.ru_minflt));
    EXPECT_LE(quarn_ctor_get_uint64(r, 6 * 8), uint64_t(after.ru_minflt));
    EXPECT_LE(quarn_ctor_get_uint64(r, 15 * 8), uint64_t(after.ru_nivcsw));
    quarn_dec(r);
}

TEST(CpuTimes, StatLinesBecomeMillisecondsAndCpuinfoNamesThem) {
    const char *stat =
        "cpu  300 0 300 900 0 0 0 0 0 0\n"
        "cpu0 100 2 200 300 4 5 6 0 0 0\n"
        "cpu1 200 0 100 600 0 0 0 0 0 0\n"
        "intr 12345\n";
    const char *cpuinfo =
        "processor\t: 1\nmodel name\t: Second Model\ncpu MHz\t\t: 2400.123\n\n"
        "processor\t: 0\nmodel name\t: First Model\ncpu MHz\t\t: 3000.000\n";
    quarn::Vector<quarn::system::CpuTimes> cpus = quarn::system::read_cpu_times(stat, cpuinfo, 100);
    ASSERT_EQ(cpus.size(), 2u);
    EXPECT_EQ(cpus[0].model, "First Model");
    EXPECT_EQ(cpus[0].speed_mhz, 3000u);
    EXPECT_EQ(cpus[0].user, 1000u);
    EXPECT_EQ(cpus[0].nice, 20u);
    EXPECT_EQ(cpus[0].system, 2000u);
    EXPECT_EQ(cpus[0].idle, 3000u);
    EXPECT_EQ(cpus[0].irq, 110u);  // hard and soft interrupts: 5 + 6 ticks
    EXPECT_EQ(cpus[1].model, "Second Model");
    EXPECT_EQ(cpus[1].speed_mhz, 2400u);
    // No /proc/cpuinfo: the processors are still listed, with no model.
    cpus = quarn::system::read_cpu_times(stat, "", 100);
    ASSERT_EQ(cpus.size(), 2u);
    EXPECT_TRUE(cpus[1].model.empty());
}

TEST_F(SystemTest, CpuInfoListsTheOnlineProcessors) {
    quarn_object *cpus = ok(quarn_lean_uv_cpu_info());
    auto *array = reinterpret_cast<quarn_array_object *>(cpus);
    EXPECT_EQ(array->size, static_cast<size_t>(::sysconf(_SC_NPROCESSORS_ONLN)));
    for (size_t i = 0; i < array->size; ++i) {
        quarn_object *cpu = array->data[i];
        EXPECT_FALSE(kit::string_value(quarn_ctor_get(cpu, 0)).empty());
        EXPECT_GT(quarn_ctor_get_uint64(cpu, 8 + 1 * 8) + quarn_ctor_get_uint64(cpu, 8 + 4 * 8), 0u)
            << "a processor that was never busy nor idle";
    }
    quarn_dec(cpus);
}

TEST_F(SystemTest, TemporaryDirectoryFollowsTheVariablesInOrder) {
    ScopedVariable tmpdir("TMPDIR", nullptr), tmp("TMP", nullptr), temp("TEMP", nullptr),
        tempdir("TEMPDIR", nullptr);
    EXPECT_EQ(ok_string(quarn_lean_uv_os_tmpdir()), "/tmp");
    ::setenv("TEMPDIR", "/d/", 1);
    EXPECT_EQ(ok_string(quarn_lean_uv_os_tmpdir()), "/d");
    ::setenv("TMP", "/b", 1);
    EXPECT_EQ(ok_string(quarn_lean_uv_os_tmpdir()), "/b");
    ::setenv("TMPDIR", "/", 1);  // one character: kept as it is
    EXPECT_EQ(ok_string(quarn_lean_uv_os_tmpdir()), "/");
    ::setenv("TMPDIR", "/a//", 1);  // only one slash goes
    EXPECT_EQ(ok_string(quarn_lean_uv_os_tmpdir()), "/a/");
}

TEST_F(SystemTest, HomeAndPasswordEntryAreTheEffectiveUsers) {
    passwd *entry = ::getpwuid(::geteuid());
    ASSERT_NE(entry, nullptr);
    std::string name = entry->pw_name, dir = entry->pw_dir;
    {
        ScopedVariable home("HOME", "/somewhere/else");
        EXPECT_EQ(ok_string(quarn_lean_uv_os_homedir()), "/somewhere/else");
        ::unsetenv("HOME");
        EXPECT_EQ(ok_string(quarn_lean_uv_os_homedir()), dir);
    }
    quarn_object *p = ok(quarn_lean_uv_os_get_passwd());
    EXPECT_EQ(kit::string_value(quarn_ctor_get(p, 0)), name);
    EXPECT_EQ(kit::string_value(quarn_ctor_get(p, 2)), dir);
    EXPECT_EQ(quarn_ctor_get_uint64(p, 3 * 8), ::geteuid());
    EXPECT_EQ(quarn_ctor_get_uint64(p, 4 * 8), entry->pw_gid);
    quarn_dec(p);

    quarn_object *g = ok(quarn_lean_uv_os_get_group(0));
    ASSERT_FALSE(quarn_is_scalar(g)) << "group 0 exists";
    quarn_object *record = quarn_ctor_get(g, 0);
    EXPECT_EQ(kit::string_value(quarn_ctor_get(record, 0)), ::getgrgid(0)->gr_name);
    EXPECT_EQ(quarn_ctor_get_uint64(record, 2 * 8), 0u);
    quarn_dec(g);
    EXPECT_EQ(ok(quarn_lean_uv_os_get_group(4000000123u)), quarn_box(0));
    EXPECT_EQ(ok(quarn_lean_uv_os_get_group(uint64_t{1} << 40)), quarn_box(0));
}

// A user with no password entry gets an error, not the end of the process. Changing the
// effective user is for a child process only (and for root only).
TEST(SystemDeathTest, AUserWithoutPasswordEntryGetsAnError) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to take a user id without an entry";
    EXPECT_EXIT(
        {
            ::unsetenv("HOME");
            if (::setresuid(54321, 54321, 54321) != 0) std::_Exit(2);
            quarn_object *r = quarn_lean_uv_os_homedir();
            bool right = r->tag == 1 && kit_error_kind(quarn_ctor_get(r, 0)) == KIT_NO_FILE_OR_DIRECTORY &&
                         std::strcmp(kit_error_file(quarn_ctor_get(r, 0)), "password entry of user 54321") == 0;
            quarn_object *p = quarn_lean_uv_os_get_passwd();
            right = right && p->tag == 1;
            std::_Exit(right ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SystemTest, EnvironmentIsReadWrittenAndListed) {
    ScopedVariable v("QUARN_SYSTEM_TEST", nullptr);
    quarn_object *name = text("QUARN_SYSTEM_TEST");
    EXPECT_EQ(ok(quarn_lean_uv_os_getenv(name)), quarn_box(0));
    quarn_object *value = text("a=b c");
    quarn_dec(ok(quarn_lean_uv_os_setenv(name, value)));
    EXPECT_STREQ(std::getenv("QUARN_SYSTEM_TEST"), "a=b c");
    quarn_object *some = ok(quarn_lean_uv_os_getenv(name));
    EXPECT_EQ(kit::string_value(quarn_ctor_get(some, 0)), "a=b c");
    quarn_dec(some);

    quarn_object *all = ok(quarn_lean_uv_os_environ());
    auto *pairs = reinterpret_cast<quarn_array_object *>(all);
    int found = 0;
    for (size_t i = 0; i < pairs->size; ++i)
        if (kit::string_value(quarn_ctor_get(pairs->data[i], 0)) == "QUARN_SYSTEM_TEST") {
            EXPECT_EQ(kit::string_value(quarn_ctor_get(pairs->data[i], 1)), "a=b c");
            ++found;
        }
    EXPECT_EQ(found, 1);
    quarn_dec(all);

    quarn_dec(ok(quarn_lean_uv_os_unsetenv(name)));
    EXPECT_EQ(std::getenv("QUARN_SYSTEM_TEST"), nullptr);
    quarn_dec(ok(quarn_lean_uv_os_unsetenv(name)));  // already gone: still fine

    quarn_object *bad = text("A=B");
    expect_error(quarn_lean_uv_os_setenv(bad, value), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
    expect_error(quarn_lean_uv_os_unsetenv(bad), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
    quarn_object *empty = text("");
    expect_error(quarn_lean_uv_os_setenv(empty, value), KIT_INVALID_ARGUMENT, EINVAL, nullptr);
    quarn_object *nul = quarn_mk_string_unchecked("A\0B", 3, 3);
    expect_error(quarn_lean_uv_os_getenv(nul), KIT_INVALID_ARGUMENT_FILE, 22, "A\0B",
                 "string contains NUL bytes");
    expect_error(quarn_lean_uv_os_setenv(name, nul), KIT_INVALID_ARGUMENT_FILE, 22, "A\0B",
                 "string contains NUL bytes");
    for (quarn_object *o : {name, value, bad, empty, nul}) quarn_dec(o);
}

TEST_F(SystemTest, WorkingDirectoryChangesAndAMissingOneIsAnError) {
    char before[4096];
    ASSERT_NE(::getcwd(before, sizeof before), nullptr);
    EXPECT_EQ(ok_string(quarn_lean_uv_cwd()), before);
    quarn_object *root = text("/");
    quarn_dec(ok(quarn_lean_uv_chdir(root)));
    EXPECT_EQ(ok_string(quarn_lean_uv_cwd()), "/");
    // Returned as an error naming the path, not the end of the process.
    quarn_object *missing = text("/no/such/directory/here");
    expect_error(quarn_lean_uv_chdir(missing), KIT_NO_FILE_OR_DIRECTORY, ENOENT, "/no/such/directory/here");
    quarn_object *back = text(before);
    quarn_dec(ok(quarn_lean_uv_chdir(back)));
    for (quarn_object *o : {root, missing, back}) quarn_dec(o);
}

TEST_F(SystemTest, ProcessTitleIsKeptAndShownAsTheCommandName) {
    EXPECT_EQ(ok_string(quarn_lean_uv_get_process_title()), program_invocation_name);
    std::ifstream comm_before("/proc/self/comm");
    std::string old_comm;
    std::getline(comm_before, old_comm);

    quarn_object *title = text("quarn-title-test-long-name");
    quarn_dec(ok(quarn_lean_uv_set_process_title(title)));
    EXPECT_EQ(ok_string(quarn_lean_uv_get_process_title()), "quarn-title-test-long-name");
    std::ifstream comm("/proc/self/comm");
    std::string shown;
    std::getline(comm, shown);
    EXPECT_EQ(shown, "quarn-title-tes");
    quarn_object *nul = quarn_mk_string_unchecked("a\0b", 3, 3);
    expect_error(quarn_lean_uv_set_process_title(nul), KIT_INVALID_ARGUMENT_FILE, 22, "a\0b");
    EXPECT_EQ(ok_string(quarn_lean_uv_get_process_title()), "quarn-title-test-long-name");
    quarn_object *restore = text(old_comm);
    quarn_dec(ok(quarn_lean_uv_set_process_title(restore)));
    for (quarn_object *o : {title, nul, restore}) quarn_dec(o);
}

}  // namespace

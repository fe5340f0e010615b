// IO.Error values from error numbers, checked for every number against the grouping of
// numbers into constructors (written group by group here, so that a slip in the
// implementation's number-by-number table shows).
#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <future>
#include <system_error>

#include "io/io_error.h"
#include "testing.h"

namespace {

struct Group {
    unsigned plain, with_file;  // kit kinds; 0 when the constructor does not exist
    std::set<int> numbers;
};

const std::vector<Group> kGroups = {
    {KIT_ALREADY_EXISTS, KIT_ALREADY_EXISTS_FILE, {17, 106}},
    {KIT_HARDWARE_FAULT, 0, {5}},
    {KIT_ILLEGAL_OPERATION, 0, {25}},
    {KIT_INAPPROPRIATE_TYPE, KIT_INAPPROPRIATE_TYPE_FILE, {20, 21}},
    {0, KIT_INTERRUPTED, {4}},
    {KIT_INVALID_ARGUMENT, KIT_INVALID_ARGUMENT_FILE, {8, 9, 22, 36, 40, 84, 88, 89, 107}},
    {0, KIT_NO_FILE_OR_DIRECTORY, {2}},
    {KIT_NO_SUCH_THING, KIT_NO_SUCH_THING_FILE, {3, 6, 61, 101, 111, 113}},
    {KIT_PERMISSION_DENIED, KIT_PERMISSION_DENIED_FILE, {1, 13, 27, 30, 103}},
    {KIT_PROTOCOL_ERROR, 0, {71, 91, 93}},
    {KIT_RESOURCE_BUSY, 0, {16, 26, 98}},
    {KIT_RESOURCE_EXHAUSTED, KIT_RESOURCE_EXHAUSTED_FILE, {7, 11, 12, 23, 24, 28, 31, 90, 105}},
    {KIT_RESOURCE_VANISHED, 0, {32, 100, 104}},
    {KIT_TIME_EXPIRED, 0, {110}},
    {KIT_UNSATISFIED_CONSTRAINTS, 0, {39}},
    {KIT_UNSUPPORTED_OPERATION, 0, {18, 19, 29, 34, 38, 92, 95, 97, 99}},
};
const Group kOther = {KIT_OTHER_ERROR, 0, {}};

const std::map<int, int> kFolds = {{10, 3},  {37, 11},  {35, 16},  {33, 22},  {60, 22},
                                   {43, 32}, {42, 61},  {62, 110}, {63, 105}, {67, 104},
                                   {102, 104}, {74, 71}, {115, 106}};

const std::map<int, std::string> kDetails = {
    {1, "operation not permitted"}, {2, "no such file or directory"}, {3, "no such process"},
    {4, "interrupted system call"}, {5, "i/o error"}, {6, "no such device or address"},
    {7, "argument list too long"}, {8, "exec format error"}, {9, "bad file descriptor"},
    {11, "resource temporarily unavailable"}, {12, "not enough memory"},
    {13, "permission denied"}, {14, "bad address in system call argument"},
    {16, "resource busy or locked"}, {17, "file already exists"},
    {18, "cross-device link not permitted"}, {19, "no such device"}, {20, "not a directory"},
    {21, "illegal operation on a directory"}, {22, "invalid argument"},
    {23, "file table overflow"}, {24, "too many open files"},
    {25, "inappropriate ioctl for device"}, {26, "text file is busy"}, {27, "file too large"},
    {28, "no space left on device"}, {29, "invalid seek"}, {30, "read-only file system"},
    {31, "too many links"}, {32, "broken pipe"}, {34, "result too large"},
    {36, "name too long"}, {38, "function not implemented"}, {39, "directory not empty"},
    {40, "too many symbolic links encountered"}, {49, "protocol driver not attached"},
    {61, "no data available"}, {64, "machine is not on the network"}, {71, "protocol error"},
    {75, "value too large for defined data type"}, {84, "illegal byte sequence"},
    {88, "socket operation on non-socket"}, {89, "destination address required"},
    {90, "message too long"}, {91, "protocol wrong type for socket"},
    {92, "protocol not available"}, {93, "protocol not supported"},
    {94, "socket type not supported"}, {95, "operation not supported on socket"},
    {97, "address family not supported"}, {98, "address already in use"},
    {99, "address not available"}, {100, "network is down"}, {101, "network is unreachable"},
    {103, "software caused connection abort"}, {104, "connection reset by peer"},
    {105, "no buffer space available"}, {106, "socket is already connected"},
    {107, "socket is not connected"}, {108, "cannot send after transport endpoint shutdown"},
    {110, "connection timed out"}, {111, "connection refused"}, {112, "host is down"},
    {113, "host is unreachable"}, {114, "connection already in progress"},
    {121, "remote I/O error"}, {125, "operation canceled"},
};

const Group &group_of(int representative) {
    for (const Group &g : kGroups)
        if (g.numbers.count(representative)) return g;
    return kOther;
}

std::string details_of(int representative) {
    auto it = kDetails.find(representative);
    return it != kDetails.end() ? it->second : "Unknown system error -" + std::to_string(representative);
}

using IoErrorTest = kit::LiveObjectsTest;

TEST_F(IoErrorTest, EveryErrorNumberWithAndWithoutAFileName) {
    for (int e = 1; e <= 140; ++e) {
        SCOPED_TRACE("error number " + std::to_string(e));
        int representative = kFolds.count(e) ? kFolds.at(e) : e;
        const Group &group = group_of(representative);
        if (group.plain != 0) {
            quarn_object *error = quarn::io::error_from_errno(e, nullptr);
            EXPECT_EQ(kit_error_kind(error), group.plain);
            EXPECT_EQ(kit_error_number(error), static_cast<uint32_t>(e));
            EXPECT_EQ(kit_error_details(error), details_of(representative));
            EXPECT_EQ(kit_error_file(error), nullptr);
            quarn_dec(error);
        }
        quarn_object *error = quarn::io::error_from_errno(e, kit_string("dir/f.txt"));
        EXPECT_EQ(kit_error_kind(error), group.with_file != 0 ? group.with_file : group.plain);
        EXPECT_EQ(kit_error_number(error), static_cast<uint32_t>(e));
        EXPECT_EQ(kit_error_details(error), details_of(representative));
        if (group.with_file != 0)
            EXPECT_STREQ(kit_error_file(error), "dir/f.txt");
        else
            EXPECT_EQ(kit_error_file(error), nullptr) << "the file name is dropped";
        quarn_dec(error);
    }
}

TEST_F(IoErrorTest, ExamplesReadAsUsersSeeThem) {
    quarn_object *child = quarn::io::error_from_errno(ECHILD, nullptr);
    EXPECT_EQ(kit_error_kind(child), unsigned{KIT_NO_SUCH_THING});
    EXPECT_EQ(kit_error_number(child), 10u);
    EXPECT_STREQ(kit_error_details(child), "no such process");
    quarn_object *big = quarn::io::error_from_errno(EFBIG, nullptr);
    EXPECT_EQ(kit_error_kind(big), unsigned{KIT_PERMISSION_DENIED});
    EXPECT_STREQ(kit_error_details(big), "file too large");
    quarn_object *missing = quarn::io::error_result_from_errno(ENOENT, kit_string("a.txt"));
    EXPECT_EQ(quarn_ptr_tag(missing), 1) << "an error result";
    quarn_object *e = quarn_ctor_get(missing, 0);
    EXPECT_EQ(kit_error_kind(e), unsigned{KIT_NO_FILE_OR_DIRECTORY});
    EXPECT_EQ(quarn::io::error_to_text(e), "no such file or directory (error code: 2, file: a.txt)");
    for (quarn_object *o : {child, big, missing}) quarn_dec(o);
}

TEST_F(IoErrorTest, UnknownCodesNameTheirNumberEveryTime) {
    for (int round = 0; round < 2; ++round) {
        quarn_object *error = quarn::io::error_from_errno(200, nullptr);
        EXPECT_EQ(kit_error_kind(error), unsigned{KIT_OTHER_ERROR});
        EXPECT_STREQ(kit_error_details(error), "Unknown system error -200");
        quarn_dec(error);
    }
}

TEST_F(IoErrorTest, NegativeCodesAreTheirOwnRepresentative) {
    struct Case {
        int code;
        unsigned kind;
        const char *details;
    } cases[] = {
        {-10, KIT_OTHER_ERROR, "Unknown system error -10"},  // no folding here
        {-16, KIT_RESOURCE_BUSY, "resource busy or locked"},
        {-111, KIT_NO_SUCH_THING, "connection refused"},
        {-115, KIT_OTHER_ERROR, "Unknown system error -115"},
        {-125, KIT_OTHER_ERROR, "operation canceled"},
        {-3008, KIT_OTHER_ERROR, "unknown node or service"},
        {-4095, KIT_OTHER_ERROR, "end of file"},
        {-3012, KIT_OTHER_ERROR, "Unknown system error -3012"},
    };
    for (const Case &c : cases) {
        quarn_object *error = quarn::io::error_from_code(c.code, nullptr);
        EXPECT_EQ(kit_error_kind(error), c.kind) << c.code;
        EXPECT_EQ(kit_error_number(error), static_cast<uint32_t>(-c.code));
        EXPECT_STREQ(kit_error_details(error), c.details);
        quarn_dec(error);
    }
    quarn_object *gone = quarn::io::error_from_code(-2, kit_string("x"));
    EXPECT_EQ(kit_error_kind(gone), unsigned{KIT_NO_FILE_OR_DIRECTORY});
    quarn_dec(gone);
}

TEST_F(IoErrorTest, UserErrorsAndNulPaths) {
    quarn_object *user = quarn::io::user_error_result("it went w\xC3\xA9ird");
    EXPECT_EQ(kit_error_kind(quarn_ctor_get(user, 0)), unsigned{KIT_USER_ERROR});
    EXPECT_EQ(quarn::io::error_to_text(quarn_ctor_get(user, 0)), "it went w\xC3\xA9ird");
    quarn_object *nul = quarn::io::nul_path_error_result(kit_string("a"));
    quarn_object *e = quarn_ctor_get(nul, 0);
    EXPECT_EQ(kit_error_kind(e), unsigned{KIT_INVALID_ARGUMENT_FILE});
    EXPECT_EQ(kit_error_number(e), 22u);
    EXPECT_STREQ(kit_error_details(e), "string contains NUL bytes");
    quarn_object *failed = quarn::io::error_result_from_failure(
        std::make_error_code(std::errc::permission_denied), nullptr);
    EXPECT_EQ(kit_error_kind(quarn_ctor_get(failed, 0)), unsigned{KIT_PERMISSION_DENIED});
    for (quarn_object *o : {user, nul, failed}) quarn_dec(o);
}

TEST(IoErrorDeathTest, FileOnlyConstructorsNeedAFileName) {
    EXPECT_INTERNAL_PANIC(quarn::io::error_from_errno(ENOENT, nullptr),
                          "an `IO.Error.noFileOrDirectory` error requires a file name");
    EXPECT_INTERNAL_PANIC(quarn::io::error_from_errno(EINTR, nullptr),
                          "an `IO.Error.interrupted` error requires a file name");
    EXPECT_INTERNAL_PANIC(
        quarn::io::error_result_from_failure(std::make_error_code(std::future_errc::no_state),
                                             nullptr),
        "I/O error without an OS error code: " +
            std::make_error_code(std::future_errc::no_state).message());
}

}  // namespace

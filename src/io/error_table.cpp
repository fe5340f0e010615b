#include "io/error_table.h"

#include <array>

namespace quarn::io::detail {

namespace {

using enum ErrorGroup;

struct ErrorRow {
    int number;
    ErrorGroup group;
    std::string_view details;
};

// Every error number with a constructor group or a details text of its own. Positive
// numbers are Linux error numbers; negative ones are codes that only the event loop and
// name resolution report.
constexpr ErrorRow kRows[] = {
    {1, permission_denied, "operation not permitted"},
    {2, no_file_or_directory, "no such file or directory"},
    {3, no_such_thing, "no such process"},
    {4, interrupted, "interrupted system call"},
    {5, hardware_fault, "i/o error"},
    {6, no_such_thing, "no such device or address"},
    {7, resource_exhausted, "argument list too long"},
    {8, invalid_argument, "exec format error"},
    {9, invalid_argument, "bad file descriptor"},
    {11, resource_exhausted, "resource temporarily unavailable"},
    {12, resource_exhausted, "not enough memory"},
    {13, permission_denied, "permission denied"},
    {14, other_error, "bad address in system call argument"},
    {16, resource_busy, "resource busy or locked"},
    {17, already_exists, "file already exists"},
    {18, unsupported_operation, "cross-device link not permitted"},
    {19, unsupported_operation, "no such device"},
    {20, inappropriate_type, "not a directory"},
    {21, inappropriate_type, "illegal operation on a directory"},
    {22, invalid_argument, "invalid argument"},
    {23, resource_exhausted, "file table overflow"},
    {24, resource_exhausted, "too many open files"},
    {25, illegal_operation, "inappropriate ioctl for device"},
    {26, resource_busy, "text file is busy"},
    {27, permission_denied, "file too large"},
    {28, resource_exhausted, "no space left on device"},
    {29, unsupported_operation, "invalid seek"},
    {30, permission_denied, "read-only file system"},
    {31, resource_exhausted, "too many links"},
    {32, resource_vanished, "broken pipe"},
    {34, unsupported_operation, "result too large"},
    {36, invalid_argument, "name too long"},
    {38, unsupported_operation, "function not implemented"},
    {39, unsatisfied_constraints, "directory not empty"},
    {40, invalid_argument, "too many symbolic links encountered"},
    {49, other_error, "protocol driver not attached"},
    {61, no_such_thing, "no data available"},
    {64, other_error, "machine is not on the network"},
    {71, protocol_error, "protocol error"},
    {75, other_error, "value too large for defined data type"},
    {84, invalid_argument, "illegal byte sequence"},
    {88, invalid_argument, "socket operation on non-socket"},
    {89, invalid_argument, "destination address required"},
    {90, resource_exhausted, "message too long"},
    {91, protocol_error, "protocol wrong type for socket"},
    {92, unsupported_operation, "protocol not available"},
    {93, protocol_error, "protocol not supported"},
    {94, other_error, "socket type not supported"},
    {95, unsupported_operation, "operation not supported on socket"},
    {97, unsupported_operation, "address family not supported"},
    {98, resource_busy, "address already in use"},
    {99, unsupported_operation, "address not available"},
    {100, resource_vanished, "network is down"},
    {101, no_such_thing, "network is unreachable"},
    {103, permission_denied, "software caused connection abort"},
    {104, resource_vanished, "connection reset by peer"},
    {105, resource_exhausted, "no buffer space available"},
    {106, already_exists, "socket is already connected"},
    {107, invalid_argument, "socket is not connected"},
    {108, other_error, "cannot send after transport endpoint shutdown"},
    {110, time_expired, "connection timed out"},
    {111, no_such_thing, "connection refused"},
    {112, other_error, "host is down"},
    {113, no_such_thing, "host is unreachable"},
    {114, other_error, "connection already in progress"},
    {121, other_error, "remote I/O error"},
    {125, other_error, "operation canceled"},
    {-3000, other_error, "address family not supported"},
    {-3001, other_error, "temporary failure"},
    {-3002, other_error, "bad ai_flags value"},
    {-3003, other_error, "request canceled"},
    {-3004, other_error, "permanent failure"},
    {-3005, other_error, "ai_family not supported"},
    {-3006, other_error, "out of memory"},
    {-3007, other_error, "no address"},
    {-3008, other_error, "unknown node or service"},
    {-3009, other_error, "argument buffer overflow"},
    {-3010, other_error, "service not available for socket type"},
    {-3011, other_error, "socket type not supported"},
    {-3013, other_error, "invalid value for hints"},
    {-3014, other_error, "resolved protocol is unknown"},
    {-4028, other_error, "inappropriate file type or format"},
    {-4080, other_error, "invalid Unicode character"},
    {-4094, other_error, "unknown error"},
    {-4095, other_error, "end of file"},
};

// Numbers replaced by a representative before the lookup.
struct Fold {
    int number, representative;
};
constexpr Fold kFolds[] = {
    {10, 3},    // ECHILD -> ESRCH
    {37, 11},   // ENOLCK -> EAGAIN
    {35, 16},   // EDEADLK -> EBUSY
    {33, 22},   // EDOM -> EINVAL
    {60, 22},   // ENOSTR -> EINVAL
    {43, 32},   // EIDRM -> EPIPE
    {42, 61},   // ENOMSG -> ENODATA
    {62, 110},  // ETIME -> ETIMEDOUT
    {63, 105},  // ENOSR -> ENOBUFS
    {67, 104},  // ENOLINK -> ECONNRESET
    {102, 104}, // ENETRESET -> ECONNRESET
    {74, 71},   // EBADMSG -> EPROTO
    {115, 106}, // EINPROGRESS -> EISCONN
};

constexpr GroupExports kGroupExports[] = {
    {Export::already_exists, Export::already_exists_file, "alreadyExists"},
    {Export::hardware_fault, std::nullopt, "hardwareFault"},
    {Export::illegal_operation, std::nullopt, "illegalOperation"},
    {Export::inappropriate_type, Export::inappropriate_type_file, "inappropriateType"},
    {std::nullopt, Export::interrupted, "interrupted"},
    {Export::invalid_argument, Export::invalid_argument_file, "invalidArgument"},
    {std::nullopt, Export::no_file_or_directory, "noFileOrDirectory"},
    {Export::no_such_thing, Export::no_such_thing_file, "noSuchThing"},
    {Export::other_error, std::nullopt, "otherError"},
    {Export::permission_denied, Export::permission_denied_file, "permissionDenied"},
    {Export::protocol_error, std::nullopt, "protocolError"},
    {Export::resource_busy, std::nullopt, "resourceBusy"},
    {Export::resource_exhausted, Export::resource_exhausted_file, "resourceExhausted"},
    {Export::resource_vanished, std::nullopt, "resourceVanished"},
    {Export::time_expired, std::nullopt, "timeExpired"},
    {Export::unsatisfied_constraints, std::nullopt, "unsatisfiedConstraints"},
    {Export::unsupported_operation, std::nullopt, "unsupportedOperation"},
};

// Positive numbers index a dense array, so the common lookups cost one load.
constexpr int kDenseLimit = 128;

constexpr std::array<const ErrorRow *, kDenseLimit> make_dense_index() {
    std::array<const ErrorRow *, kDenseLimit> index{};
    for (const ErrorRow &row : kRows)
        if (row.number > 0) index[row.number] = &row;
    return index;
}
constexpr std::array<const ErrorRow *, kDenseLimit> kDenseIndex = make_dense_index();

constexpr std::array<int, kDenseLimit> make_fold_index() {
    std::array<int, kDenseLimit> index{};
    for (int i = 0; i < kDenseLimit; ++i) index[i] = i;
    for (Fold fold : kFolds) index[fold.number] = fold.representative;
    return index;
}
constexpr std::array<int, kDenseLimit> kFoldIndex = make_fold_index();

// The row of a positive error number, or of a negative event-loop code.
const ErrorRow *row_of(int number) noexcept {
    if (number > 0 && number < kDenseLimit) return kDenseIndex[number];
    if (number > 0) return nullptr;
    for (const ErrorRow &row : kRows)
        if (row.number == number) return &row;
    return nullptr;
}

}  // namespace

const GroupExports &exports_of(ErrorGroup group) noexcept {
    return kGroupExports[static_cast<unsigned>(group)];
}

int representative_of(int e) noexcept { return e > 0 && e < kDenseLimit ? kFoldIndex[e] : e; }

ErrorGroup group_of(int representative) noexcept {
    const ErrorRow *row = row_of(representative);
    return row != nullptr ? row->group : other_error;
}

std::optional<std::string_view> details_of_code(int negative_code) noexcept {
    const ErrorRow *row = row_of(-negative_code);
    if (row == nullptr && negative_code <= -kDenseLimit) row = row_of(negative_code);
    if (row == nullptr) return std::nullopt;
    return row->details;
}

}  // namespace quarn::io::detail

// The IO.FS.Handle primitives: opening, reading, writing, positioning and file locks.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

#include "array/sarray_alloc.h"
#include "core/panic.h"
#include "io/handle_object.h"
#include "io/handle_registry.h"
#include "io/io_error.h"
#include "io/io_result.h"
#include "core/allocator.h"
#include "quarn/handle.h"
#include "string/lossy.h"
#include "string/string_alloc.h"

namespace quarn::io {

namespace {

quarn_object *unit_or_error(int error) noexcept {
    return error == 0 ? io_ok_unit() : error_result_from_errno(error, nullptr);
}

// Repeats a system call that an interruption by a signal cut short.
template <typename Call>
auto retry_interrupted(Call call) noexcept {
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

struct OpenMode {
    int flags;
    bool readable, writable;
};

constexpr OpenMode kOpenModes[] = {
    {O_RDONLY, true, false},                          // read
    {O_WRONLY | O_CREAT | O_TRUNC, false, true},      // write
    {O_WRONLY | O_CREAT | O_EXCL, false, true},       // writeNew
    {O_RDWR, true, true},                             // readWrite
    {O_WRONLY | O_CREAT | O_APPEND, false, true},     // append
};

[[noreturn]] void invalid_mode(uint8_t mode) noexcept {
    char text[32] = "invalid IO.FS.Mode ";
    size_t prefix = std::strlen(text);
    auto end = std::to_chars(text + prefix, text + sizeof text, unsigned{mode}).ptr;
    internal_panic(std::string_view(text, static_cast<size_t>(end - text)));
}

// A read never reserves more than this up front: a large count on a small file costs what
// the file holds, and the array grows by doubling as bytes arrive.
constexpr size_t kFirstReadCapacity = size_t{64} << 10;

// Counts this large are refused before anything is read.
constexpr size_t kLargestReadCount = 0x7FFFFFFFFFFFFFC0;

// The byte array being filled by a read, owned until it is handed out.
class ReadTarget {
public:
    ReadTarget(size_t count, size_t first_capacity) noexcept
        : count_(count), array_(array::allocate_sarray(1, 0, std::min(count, first_capacity))) {}
    ~ReadTarget() {
        if (array_ != nullptr) quarn_dec(&array_->header);
    }
    ReadTarget(const ReadTarget &) = delete;
    ReadTarget &operator=(const ReadTarget &) = delete;

    size_t copied() const noexcept { return array_->size; }
    size_t wanted() const noexcept { return count_ - array_->size; }

    // Room for at least `bytes` more (never beyond the count asked for): the free space.
    uint8_t *room(size_t bytes, size_t *free) noexcept {
        if (array_->capacity - array_->size < bytes) grow(array_->size + bytes);
        *free = array_->capacity - array_->size;
        return array_->data + array_->size;
    }
    void added(size_t bytes) noexcept { array_->size += bytes; }

    quarn_object *release() noexcept { return &std::exchange(array_, nullptr)->header; }

private:
    void grow(size_t at_least) noexcept {
        size_t capacity = std::min(count_, std::max(at_least, array_->capacity * 2));
        quarn_sarray_object *bigger = array::allocate_sarray(1, array_->size, capacity);
        if (array_->size != 0) std::memcpy(bigger->data, array_->data, array_->size);
        quarn_dec(&std::exchange(array_, bigger)->header);
    }

    size_t count_;
    quarn_sarray_object *array_;
};

// Reads until `target` holds its count or the file ends. Returns the error that stopped
// it, or 0. The caller holds the lock.
int read_into(HandleRecord &record, ReadTarget &target) noexcept {
    ReadBuffer &buffer = record.read_buffer();
    while (target.wanted() > 0) {
        if (!buffer.empty()) {
            size_t take = std::min(buffer.available(), target.wanted()), free;
            std::memcpy(target.room(take, &free), buffer.unread(), take);
            buffer.consume(take);
            target.added(take);
            continue;
        }
        ReadOutcome outcome;
        if (target.wanted() >= kHandleBufferSize) {
            // Large reads go straight into the array, without passing the read buffer.
            if (int error = record.prepare_read()) return error;
            size_t free;
            uint8_t *into = target.room(std::min(target.wanted(), kHandleBufferSize), &free);
            outcome = record.read_some(reinterpret_cast<char *>(into), std::min(free, target.wanted()));
            target.added(outcome.bytes);
        } else {
            outcome = record.read_ahead();
        }
        if (outcome.error != 0) return outcome.error;
        if (outcome.bytes == 0) break;
    }
    return 0;
}

using LineBytes = std::vector<char, PanicAllocator<char>>;

// Whether no byte has its high bit set, four words at a time.
bool is_ascii(const char *bytes, size_t n) noexcept {
    auto word_at = [bytes](size_t i) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        return word;
    };
    uint64_t high_bits = 0;
    size_t i = 0;
    for (; i + 32 <= n; i += 32) high_bits |= word_at(i) | word_at(i + 8) | word_at(i + 16) | word_at(i + 24);
    for (; i + 8 <= n; i += 8) high_bits |= word_at(i);
    for (; i < n; ++i) high_bits |= static_cast<uint8_t>(bytes[i]);
    return (high_bits & 0x8080808080808080u) == 0;
}

// The string of a line's bytes. Most lines are ASCII and need one scan and one copy;
// others are decoded, each ill-formed run becoming U+FFFD.
quarn_object *line_string(const char *bytes, size_t n) noexcept {
    if (is_ascii(bytes, n)) return string::make_string(bytes, n, n);
    return string::decode_lossy(bytes, n);
}

// Collects one line, line feed included, and makes it a string. The caller holds the lock.
// Returns the string, or null with *error set.
quarn_object *read_line(HandleRecord &record, int *error) noexcept {
    ReadBuffer &buffer = record.read_buffer();
    LineBytes collected;
    for (;;) {
        if (!buffer.empty()) {
            const char *start = buffer.unread();
            const void *line_feed = std::memchr(start, '\n', buffer.available());
            size_t take = line_feed != nullptr ? static_cast<const char *>(line_feed) - start + 1
                                               : buffer.available();
            if (line_feed != nullptr && collected.empty()) {
                // The whole line is in the buffer: one copy, into the string.
                quarn_object *line = line_string(start, take);
                buffer.consume(take);
                return line;
            }
            collected.insert(collected.end(), start, start + take);
            buffer.consume(take);
            if (line_feed != nullptr) break;
        }
        ReadOutcome outcome = record.read_ahead();
        if (outcome.error != 0) {
            *error = outcome.error;
            return nullptr;
        }
        if (outcome.bytes == 0) break;
    }
    return line_string(collected.data(), collected.size());
}

int seek_to_start(HandleRecord &record) noexcept {
    if (int error = record.flush()) return error;
    record.read_buffer().clear();
    return ::lseek(record.fd(), 0, SEEK_SET) < 0 ? errno : 0;
}

int truncate_at_position(HandleRecord &record) noexcept {
    if (int error = record.flush()) return error;
    if (int error = record.drop_read_ahead()) return error;
    off_t position = ::lseek(record.fd(), 0, SEEK_CUR);
    if (position < 0) return errno;
    return retry_interrupted([&] { return ::ftruncate(record.fd(), position); }) < 0 ? errno : 0;
}

int file_lock(HandleRecord &record, int operation) noexcept {
    return retry_interrupted([&] { return ::flock(record.fd(), operation); }) < 0 ? errno : 0;
}

}  // namespace

}  // namespace quarn::io

using namespace quarn::io;

extern "C" quarn_object *quarn_lean_io_prim_handle_mk(quarn_object *file_name, uint8_t mode) noexcept {
    if (mode >= std::size(kOpenModes)) invalid_mode(mode);
    const OpenMode &open_mode = kOpenModes[mode];
    const quarn_string_object *name = quarn::string::as_string(file_name);
    if (std::memchr(name->data, '\0', name->size - 1) != nullptr) return nul_path_error_result(file_name);
    int fd = retry_interrupted([&] { return ::open(name->data, open_mode.flags | O_CLOEXEC, 0666); });
    if (fd < 0) return error_result_from_errno(errno, file_name);
    quarn_dec(file_name);
    HandleRef record = make_handle_record(fd, HandleKind::opened_file, open_mode.readable,
                                          open_mode.writable, BufferMode::full, kNotStandard);
    register_handle(record);
    return io_ok(make_handle_object(std::move(record)));
}

extern "C" quarn_object *quarn_lean_io_prim_handle_read(quarn_object *handle, size_t count) noexcept {
    HandleRecord &record = record_of(handle);
    if (count >= kLargestReadCount) return error_result_from_errno(ENOMEM, nullptr);
    if (count == 0) return io_ok(quarn::array::make_byte_array(nullptr, 0));
    HandleLock lock(record);
    ReadTarget target(count, std::max(record.read_buffer().available(), kFirstReadCapacity));
    int error = read_into(record, target);
    if (error != 0 && target.copied() == 0) {
        // Reported now, so no longer pending.
        record.take_pending_read_error();
        return error_result_from_errno(error, nullptr);
    }
    return io_ok(target.release());
}

extern "C" quarn_object *quarn_lean_io_prim_handle_write(quarn_object *handle, quarn_object *bytes) noexcept {
    HandleRecord &record = record_of(handle);
    auto *array = reinterpret_cast<quarn_sarray_object *>(bytes);
    int error;
    {
        HandleLock lock(record);
        error = record.write(reinterpret_cast<const char *>(array->data), array->size);
    }
    quarn_dec(bytes);
    return unit_or_error(error);
}

extern "C" quarn_object *quarn_lean_io_prim_handle_put_str(quarn_object *handle, quarn_object *text) noexcept {
    HandleRecord &record = record_of(handle);
    const quarn_string_object *s = quarn::string::as_string(text);
    int error;
    {
        HandleLock lock(record);
        error = record.write(s->data, s->size - 1);
    }
    quarn_dec(text);
    return unit_or_error(error);
}

extern "C" quarn_object *quarn_lean_io_prim_handle_get_line(quarn_object *handle) noexcept {
    HandleRecord &record = record_of(handle);
    HandleLock lock(record);
    int error = 0;
    quarn_object *line = read_line(record, &error);
    // A read that failed earlier and was not reported then (a read that returned the
    // bytes it had) is reported now, in place of the line.
    int pending = record.take_pending_read_error();
    if (line == nullptr) return error_result_from_errno(error, nullptr);
    if (pending != 0) {
        quarn_dec(line);
        return error_result_from_errno(pending, nullptr);
    }
    return io_ok(line);
}

extern "C" quarn_object *quarn_lean_io_prim_handle_flush(quarn_object *handle) noexcept {
    HandleRecord &record = record_of(handle);
    HandleLock lock(record);
    return unit_or_error(record.flush());
}

extern "C" quarn_object *quarn_lean_io_prim_handle_rewind(quarn_object *handle) noexcept {
    HandleRecord &record = record_of(handle);
    HandleLock lock(record);
    return unit_or_error(seek_to_start(record));
}

extern "C" quarn_object *quarn_lean_io_prim_handle_truncate(quarn_object *handle) noexcept {
    HandleRecord &record = record_of(handle);
    HandleLock lock(record);
    return unit_or_error(truncate_at_position(record));
}

extern "C" quarn_object *quarn_lean_io_prim_handle_lock(quarn_object *handle, uint8_t exclusive) noexcept {
    HandleRecord &record = record_of(handle);
    HandleLock lock(record);
    return unit_or_error(file_lock(record, exclusive ? LOCK_EX : LOCK_SH));
}

extern "C" quarn_object *quarn_lean_io_prim_handle_try_lock(quarn_object *handle, uint8_t exclusive) noexcept {
    HandleRecord &record = record_of(handle);
    HandleLock lock(record);
    int error = file_lock(record, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    if (error == EWOULDBLOCK) return io_ok(quarn_box(0));
    if (error != 0) return error_result_from_errno(error, nullptr);
    return io_ok(quarn_box(1));
}

extern "C" quarn_object *quarn_lean_io_prim_handle_unlock(quarn_object *handle) noexcept {
    HandleRecord &record = record_of(handle);
    HandleLock lock(record);
    return unit_or_error(file_lock(record, LOCK_UN));
}

extern "C" uint8_t quarn_lean_io_prim_handle_is_tty(quarn_object *handle) noexcept {
    HandleRecord &record = record_of(handle);
    HandleLock lock(record);
    return ::isatty(record.fd()) == 1;
}

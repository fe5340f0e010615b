// The record behind every file handle: the descriptor, its buffers and the lock that
// serialises every operation on it. Handle objects, the standard streams and the registry
// of open handles share one record through strong and weak references.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "io/handle_buffers.h"
#include "io/handle_mutex.h"
#include "io/unique_fd.h"

namespace quarn::io {

enum class BufferMode : uint8_t { full = 0, line = 1, none = 2 };

// An opened file's descriptor is closed with its record; a standard stream's never is.
enum class HandleKind : uint8_t { opened_file = 0, standard_stream = 1 };

// The standard index of a record that is not one of stdin, stdout, stderr.
inline constexpr uint8_t kNotStandard = 255;

// What one read from the descriptor gave: bytes (0 at end of file) or an error number.
struct ReadOutcome {
    size_t bytes;
    int error;
};

class HandleRecord {
public:
    HandleRecord(int fd, HandleKind kind, bool readable, bool writable, BufferMode mode,
                 uint8_t standard_index) noexcept;
    ~HandleRecord();
    HandleRecord(const HandleRecord &) = delete;
    HandleRecord &operator=(const HandleRecord &) = delete;

    int fd() const noexcept { return fd_; }
    HandleKind kind() const noexcept { return kind_; }
    bool readable() const noexcept { return readable_; }
    bool writable() const noexcept { return writable_; }
    BufferMode mode() const noexcept { return mode_; }
    uint8_t standard_index() const noexcept { return standard_index_; }

    // The record whose line-buffered output is flushed before this one waits for input
    // (stdout, for stdin). Set once, before the record is shared.
    void set_flush_before_read(HandleRecord *record) noexcept { flush_before_read_ = record; }

    // Every operation below requires the caller to hold the lock (HandleLock). Each returns
    // 0 or the operating-system error number of the failure.

    // Writes the bytes through the buffer as the buffer mode says.
    int write(const char *bytes, size_t n) noexcept;

    // Writes the whole write buffer out; it is emptied even when the write fails.
    int flush() noexcept;

    // Drops the bytes read ahead and moves the file position back over them, so the next
    // write or truncation happens where the reader stood.
    int drop_read_ahead() noexcept;

    // Gets ready to read: refuses a handle that is not readable, flushes this handle's
    // output and, for stdin, a line-buffered stdout.
    int prepare_read() noexcept;

    // Reads up to `capacity` bytes straight from the descriptor, retrying interruptions.
    // A failure is remembered as the pending read error. Call prepare_read first.
    ReadOutcome read_some(char *into, size_t capacity) noexcept;

    // prepare_read, then refills the emptied read buffer with one read.
    ReadOutcome read_ahead() noexcept;

    ReadBuffer &read_buffer() noexcept { return read_buffer_; }

    // The error of a failed read not yet reported to the program (0 when none); taking it
    // clears it.
    int take_pending_read_error() noexcept { return std::exchange(pending_read_error_, 0); }

    HandleMutex &mutex() noexcept { return mutex_; }

private:
    int write_out(std::string_view first, std::string_view second) noexcept;

    HandleMutex mutex_;
    ReadBuffer read_buffer_;
    WriteBuffer write_buffer_;
    UniqueFd owned_fd_;  // holds the descriptor of an opened file
    int fd_;
    HandleRecord *flush_before_read_ = nullptr;
    int pending_read_error_ = 0;
    const HandleKind kind_;
    const bool readable_;
    const bool writable_;
    const BufferMode mode_;
    const uint8_t standard_index_;
};

using HandleRef = std::shared_ptr<HandleRecord>;
using WeakHandleRef = std::weak_ptr<HandleRecord>;

// A new record in a shared reference. Memory exhaustion is the internal panic.
HandleRef make_handle_record(int fd, HandleKind kind, bool readable, bool writable,
                             BufferMode mode, uint8_t standard_index) noexcept;

// Holds a record's lock for a scope.
class HandleLock {
public:
    explicit HandleLock(HandleRecord &record) noexcept : record_(record) { record_.mutex().lock(); }
    ~HandleLock() { record_.mutex().unlock(); }
    HandleLock(const HandleLock &) = delete;
    HandleLock &operator=(const HandleLock &) = delete;

private:
    HandleRecord &record_;
};

}  // namespace quarn::io

#include "io/handle_record.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/panic.h"
#include "core/write_all.h"
#include "core/allocator.h"

namespace quarn::io {

HandleRecord::HandleRecord(int fd, HandleKind kind, bool readable, bool writable, BufferMode mode,
                           uint8_t standard_index) noexcept
    : owned_fd_(kind == HandleKind::opened_file ? fd : -1),
      fd_(fd),
      kind_(kind),
      readable_(readable),
      writable_(writable),
      mode_(mode),
      standard_index_(standard_index) {}

// The descriptor of an opened file closes with owned_fd_; buffers free themselves.
HandleRecord::~HandleRecord() = default;

int HandleRecord::write_out(std::string_view first, std::string_view second) noexcept {
    if (first.empty() && second.empty()) return 0;
    if (write_all(fd_, {first, second})) return 0;
    // A descriptor that accepts nothing without reporting why is an I/O error.
    return errno != 0 ? errno : EIO;
}

int HandleRecord::flush() noexcept {
    if (write_buffer_.empty()) return 0;
    int error = write_out(write_buffer_.contents(), {});
    write_buffer_.clear();
    return error;
}

int HandleRecord::drop_read_ahead() noexcept {
    if (!read_buffer_.empty()) {
        auto back = static_cast<off_t>(read_buffer_.available());
        if (::lseek(fd_, -back, SEEK_CUR) < 0) return errno;
    }
    read_buffer_.clear();
    return 0;
}

int HandleRecord::write(const char *bytes, size_t n) noexcept {
    if (!writable_) return EBADF;
    if (int error = drop_read_ahead()) return error;
    // Where the buffer would reach its size, the buffered and the new bytes go out
    // together in one system call, with no copy of the new ones.
    switch (mode_) {
        case BufferMode::full:
            if (write_buffer_.size() + n < kHandleBufferSize) {
                write_buffer_.append(bytes, n);
                return 0;
            }
            break;
        case BufferMode::line:
            if (write_buffer_.size() + n < kHandleBufferSize && std::memchr(bytes, '\n', n) == nullptr) {
                write_buffer_.append(bytes, n);
                return 0;
            }
            break;
        case BufferMode::none:
            if (int error = flush()) return error;
            return write_out({bytes, n}, {});
    }
    int error = write_out(write_buffer_.contents(), {bytes, n});
    write_buffer_.clear();
    return error;
}

int HandleRecord::prepare_read() noexcept {
    if (!readable_) return EBADF;
    if (int error = flush()) return error;
    // A prompt written without a line feed shows before the program waits for input.
    if (flush_before_read_ != nullptr && flush_before_read_->mode() == BufferMode::line) {
        HandleLock lock(*flush_before_read_);
        flush_before_read_->flush();
    }
    return 0;
}

ReadOutcome HandleRecord::read_some(char *into, size_t capacity) noexcept {
    for (;;) {
        ssize_t got = ::read(fd_, into, capacity);
        if (got >= 0) return {static_cast<size_t>(got), 0};
        if (errno == EINTR) continue;
        pending_read_error_ = errno;
        return {0, errno};
    }
}

ReadOutcome HandleRecord::read_ahead() noexcept {
    if (int error = prepare_read()) return {0, error};
    ReadOutcome outcome = read_some(read_buffer_.storage_for_refill(), kHandleBufferSize);
    read_buffer_.set_filled(outcome.bytes);
    return outcome;
}

HandleRef make_handle_record(int fd, HandleKind kind, bool readable, bool writable, BufferMode mode,
                             uint8_t standard_index) noexcept {
    return std::allocate_shared<HandleRecord>(PanicAllocator<HandleRecord>(), fd, kind, readable,
                                              writable, mode, standard_index);
}

}  // namespace quarn::io

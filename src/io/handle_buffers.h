// The two buffers of a file handle: bytes read ahead of the reader, and bytes written but
// not yet handed to the operating system. Each owns its storage, taken from the C heap on
// first use, so a handle that only reads never holds a write buffer and the reverse.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "core/panic.h"

namespace quarn::io {

// Reads and writes move through buffers of this size.
inline constexpr size_t kHandleBufferSize = 8192;

namespace detail {

struct FreeBytes {
    void operator()(char *p) const noexcept { std::free(p); }
};
using BufferStorage = std::unique_ptr<char[], FreeBytes>;

inline BufferStorage allocate_buffer_storage() noexcept {
    auto *p = static_cast<char *>(std::malloc(kHandleBufferSize));
    if (p == nullptr) internal_panic(kOutOfMemory);
    return BufferStorage(p);
}

}  // namespace detail

// Bytes read ahead: [position, filled) of the storage are not yet consumed.
class ReadBuffer {
public:
    size_t available() const noexcept { return filled_ - position_; }
    bool empty() const noexcept { return position_ == filled_; }
    const char *unread() const noexcept { return storage_.get() + position_; }
    void consume(size_t n) noexcept { position_ += n; }
    void clear() noexcept { position_ = filled_ = 0; }

    // The storage to read into; the previous contents are dropped.
    char *storage_for_refill() noexcept {
        if (!storage_) storage_ = detail::allocate_buffer_storage();
        clear();
        return storage_.get();
    }
    void set_filled(size_t n) noexcept { filled_ = n; }

private:
    detail::BufferStorage storage_;
    size_t filled_ = 0;
    size_t position_ = 0;
};

// Bytes written by the program and not yet written out; never more than the buffer size.
class WriteBuffer {
public:
    size_t size() const noexcept { return used_; }
    bool empty() const noexcept { return used_ == 0; }
    std::string_view contents() const noexcept { return {storage_.get(), used_}; }
    void clear() noexcept { used_ = 0; }

    // Appends n bytes; the caller has checked that size() + n stays below the buffer size.
    void append(const char *bytes, size_t n) noexcept {
        if (n == 0) return;
        if (!storage_) storage_ = detail::allocate_buffer_storage();
        std::memcpy(storage_.get() + used_, bytes, n);
        used_ += n;
    }

private:
    detail::BufferStorage storage_;
    size_t used_ = 0;
};

}  // namespace quarn::io

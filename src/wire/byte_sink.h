// A growing byte buffer for encoders. Its storage comes from the buffer allocator, so that
// a finished encoding is handed to a quarn_buffer record as it is, without a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "capi/buffer.h"

namespace quarn::wire {

class ByteSink {
public:
    ByteSink() = default;
    ByteSink(const ByteSink &) = delete;
    ByteSink &operator=(const ByteSink &) = delete;
    ~ByteSink() { capi::free_buffer_bytes(data_); }

    // Room for `more` bytes beyond the current length.
    void reserve(std::size_t more) noexcept {
        if (more > capacity_ - length_) grow(more);
    }

    void bytes(const void *p, std::size_t n) noexcept {
        reserve(n);
        if (n != 0) std::memcpy(data_ + length_, p, n);
        length_ += n;
    }
    void u8(std::uint8_t v) noexcept {
        reserve(1);
        data_[length_++] = v;
    }
    void u32(std::uint32_t v) noexcept { fixed(v); }
    void u64(std::uint64_t v) noexcept { fixed(v); }
    // The low `width` bytes of v (1, 2, 4 or 8).
    void low_bytes(std::uint64_t v, std::size_t width) noexcept {
        reserve(8);
        std::memcpy(data_ + length_, &v, 8);  // little-endian: the low bytes come first
        length_ += width;
    }

    const std::uint8_t *data() const noexcept { return data_; }
    std::size_t length() const noexcept { return length_; }

    // Moves the bytes into `buffer`, which must be empty ("<function>: a quarn buffer was
    // filled twice" otherwise); the sink is left empty.
    void hand_over(quarn_buffer *buffer, std::string_view function) noexcept {
        capi::require_empty(buffer, function);
        if (data_ == nullptr) data_ = capi::allocate_buffer_bytes(0);
        *buffer = quarn_buffer{data_, length_, capacity_};
        data_ = nullptr;
        length_ = capacity_ = 0;
    }

private:
    template <typename T>
    void fixed(T v) noexcept {
        reserve(sizeof v);
        std::memcpy(data_ + length_, &v, sizeof v);
        length_ += sizeof v;
    }

    void grow(std::size_t more) noexcept {
        std::size_t needed = length_ + more;
        if (needed < length_) internal_panic(kOutOfMemory);
        // Doubling, or exactly what is needed when that is more (one large array's bytes).
        std::size_t capacity = capacity_ < 32 ? 64 : capacity_ > SIZE_MAX / 2 ? needed : capacity_ * 2;
        if (capacity < needed) capacity = needed;
        data_ = capi::resize_buffer_bytes(data_, capacity);
        capacity_ = capacity;
    }

    std::uint8_t *data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace quarn::wire

// A growing run of bytes on the C heap whose storage can be handed over to a quarn_buffer
// (the receiver frees it with quarn_buffer_free). Growth doubles the capacity.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/panic.h"
#include "quarn/host.h"

namespace quarn::wire {

class ByteBuilder {
public:
    ByteBuilder() noexcept = default;
    ByteBuilder(const ByteBuilder &) = delete;
    ByteBuilder &operator=(const ByteBuilder &) = delete;
    ~ByteBuilder() { std::free(data_); }

    const std::uint8_t *data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

    void append(const void *bytes, std::size_t n) noexcept {
        if (n == 0) return;
        reserve_more(n);
        std::memcpy(data_ + size_, bytes, n);
        size_ += n;
    }
    void u8(std::uint8_t v) noexcept { append(&v, 1); }
    void u32(std::uint32_t v) noexcept { append(&v, 4); }  // the machine is little-endian
    void u64(std::uint64_t v) noexcept { append(&v, 8); }

    // Gives the bytes to an empty buffer record (the caller has checked that it is empty) and
    // starts over empty. The record's data is never null, even for no bytes.
    void hand_over(quarn_buffer &buffer) noexcept {
        if (data_ == nullptr) reserve_more(1);
        buffer.data = std::exchange(data_, nullptr);
        buffer.length = std::exchange(size_, 0);
        buffer.capacity = std::exchange(capacity_, 0);
    }

private:
    void reserve_more(std::size_t n) noexcept {
        if (n <= capacity_ - size_) return;
        if (n > SIZE_MAX / 2 - size_) internal_panic(kOutOfMemory);
        std::size_t wanted = size_ + n;
        std::size_t grown = capacity_ < 64 ? 64 : capacity_ * 2;
        if (grown < wanted) grown = wanted;
        void *block = std::realloc(data_, grown);
        if (block == nullptr) internal_panic(kOutOfMemory);
        data_ = static_cast<std::uint8_t *>(block);
        capacity_ = grown;
    }

    std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace quarn::wire

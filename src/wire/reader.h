// A cursor over wire bytes: little-endian integers, counts checked against what remains,
// and the two messages every reader of wire data reports. A failed read records its message
// and returns false; the caller stops and hands the message on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/allocator.h"

namespace quarn::wire {

class Reader {
public:
    Reader(const std::uint8_t *bytes, std::size_t length) noexcept
        : start_(bytes), at_(bytes), end_(bytes + length) {}

    std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - at_); }
    std::size_t consumed() const noexcept { return static_cast<std::size_t>(at_ - start_); }
    std::size_t total() const noexcept { return static_cast<std::size_t>(end_ - start_); }
    bool at_end() const noexcept { return at_ == end_; }
    // The next unread byte (remaining() bytes may be looked at).
    const std::uint8_t *position() const noexcept { return at_; }

    // `n` bytes in place; `out` points into the input.
    bool take(std::size_t n, const std::uint8_t *&out) noexcept {
        if (n > remaining()) return ends_early(n);
        out = at_;
        at_ += n;
        return true;
    }

    bool u8(std::uint8_t &out) noexcept { return fixed(out); }
    bool u16(std::uint16_t &out) noexcept { return fixed(out); }
    bool u32(std::uint32_t &out) noexcept { return fixed(out); }
    bool u64(std::uint64_t &out) noexcept { return fixed(out); }

    // A u32 count of elements of at least `element_size` bytes each that must fit in what
    // remains after the count.
    bool count(std::uint32_t &out, std::size_t element_size = 1) noexcept {
        if (!u32(out)) return false;
        if (static_cast<std::uint64_t>(out) * element_size > remaining())
            return fail({"a length of ", decimal(out), " exceeds the remaining wire data"});
        return true;
    }

    // Records a message of the caller's own and returns false.
    bool fail(std::initializer_list<std::string_view> pieces) {
        error_.clear();
        for (std::string_view piece : pieces) error_.append(piece);
        return false;
    }

    // The message of the failed read.
    const Text &error() const noexcept { return error_; }
    Text take_error() noexcept { return std::move(error_); }

private:
    template <typename T>
    bool fixed(T &out) noexcept {
        if (sizeof(T) > remaining()) return ends_early(sizeof(T));
        std::memcpy(&out, at_, sizeof(T));  // the machine is little-endian
        at_ += sizeof(T);
        return true;
    }

    bool ends_early(std::size_t wanted) {
        return fail({"wire data ends after ", decimal(static_cast<long long>(total())),
                     " bytes; ", decimal(static_cast<long long>(wanted)), " more expected"});
    }

    const std::uint8_t *start_;
    const std::uint8_t *at_;
    const std::uint8_t *end_;
    Text error_;
};

}  // namespace quarn::wire

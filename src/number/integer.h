// Arbitrary-precision integers owned by the runtime, and the arithmetic on them.
//
// An `Integer` is a sign and a magnitude of 64-bit digits, least significant first, with no
// most-significant zero digit. Its digit array comes from the runtime's allocator (object/
// heap.h), so that it can be moved into a big-number object as it is and freed by the
// release walk; a value of up to kInlineDigits digits keeps them inline and owns no array. The arithmetic
// below runs GMP's mpn layer on these arrays: it reads its operands through `IntegerView`s
// (nothing is copied) and writes each result into a fresh Integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "object/heap.h"
#include "core/panic.h"
#include "quarn/object.h"

namespace quarn::number {

// The most digits an array may hold: its byte size must fit a signed 64-bit size.
inline constexpr size_t kMaxDigits = object::detail::kLargestBlock / sizeof(uint64_t);

// Values of up to this many digits need no digit array of their own: an Integer holds them
// inline, and a big-number object keeps them in its own block, after its body.
inline constexpr size_t kInlineDigits = 4;

// A read-only signed value: `size` digits at `digits` (0 for zero), never a leading zero.
// Two words, so that views travel in registers.
struct IntegerView {
    const uint64_t *digits;
    size_t size : 63;
    bool negative : 1;

    bool is_zero() const noexcept { return size == 0; }
    IntegerView magnitude() const noexcept { return {digits, size, false}; }
    IntegerView negated() const noexcept { return {digits, size, size != 0 && !negative}; }
};
static_assert(sizeof(IntegerView) == 16);

class Integer {
public:
    // Zero.
    Integer() noexcept = default;

    // The value `magnitude`, negated when `negative` (zero stays non-negative).
    explicit Integer(uint64_t magnitude, bool negative = false) noexcept
        : size_(magnitude != 0), inline_{magnitude}, negative_(negative && magnitude != 0) {}

    // Zero, with room for `digits` digits (written through `digits()`, then fixed with
    // `set_size`). Ends the process with "out of memory" when the array cannot be had or
    // its byte size cannot be represented.
    static Integer with_capacity(size_t digits) noexcept {
        Integer r;
        if (digits > kInlineDigits) r.allocate(digits);
        return r;
    }

    // A copy of the value v (its own digit array when it has more than kInlineDigits).
    static Integer copy_of(IntegerView v) noexcept;

    Integer(Integer &&other) noexcept { take(other); }
    Integer &operator=(Integer &&other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    Integer(const Integer &) = delete;
    Integer &operator=(const Integer &) = delete;
    ~Integer() { release(); }

    IntegerView view() const noexcept { return {digits(), size_, negative_}; }
    size_t size() const noexcept { return size_; }
    size_t capacity() const noexcept { return heap_ != nullptr ? capacity_ : kInlineDigits; }
    bool is_zero() const noexcept { return size_ == 0; }
    bool is_negative() const noexcept { return negative_; }
    const uint64_t *digits() const noexcept { return heap_ != nullptr ? heap_ : inline_; }
    uint64_t *digits() noexcept { return heap_ != nullptr ? heap_ : inline_; }

    // Takes the first `size` digits written through digits() as the magnitude, dropping
    // most-significant zero digits, with the given sign (ignored for zero).
    void set_size(size_t size, bool negative = false) noexcept;

    void negate() noexcept { negative_ = size_ != 0 && !negative_; }

    // The object size of a big number that will hold this value (see move_into).
    size_t object_size() const noexcept;

    // Moves the value into the body of a new big-number object (tag 250) of object_size()
    // bytes; this Integer is left zero. A one-digit value takes the inline form, a value of
    // up to kInlineDigits digits goes into the object's own block after its body (an array
    // it had is freed in both cases); a longer value hands its digit array to the object,
    // which then owns it, shrunk first when it has far more room than the value needs.
    void move_into(quarn_bignum_object *big) noexcept;

private:
    void take(Integer &other) noexcept {
        heap_ = std::exchange(other.heap_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
        size_ = std::exchange(other.size_, 0);
        if (heap_ == nullptr) std::memcpy(inline_, other.inline_, sizeof inline_);
        negative_ = std::exchange(other.negative_, false);
    }
    void release() noexcept {
        if (heap_ != nullptr) object::free_bytes(heap_);
    }
    void allocate(size_t digits) noexcept {
        if (digits > kMaxDigits) internal_panic(kOutOfMemory);
        heap_ = static_cast<uint64_t *>(object::allocate_bytes(digits * sizeof(uint64_t)));
        capacity_ = digits;
    }

    uint64_t *heap_ = nullptr;  // the digit array; null while the one digit is inline
    size_t capacity_ = 0;       // digits the array holds
    size_t size_ = 0;           // digits in use
    uint64_t inline_[kInlineDigits] = {};  // the digits while there is no array
    bool negative_ = false;
};

// The sign of v as -1, 0 or 1.
inline int sign_of(IntegerView v) noexcept { return v.size == 0 ? 0 : v.negative ? -1 : 1; }

// -1, 0 or 1 as a < b, a = b, a > b: by value, and by magnitude alone.
int compare(IntegerView a, IntegerView b) noexcept;
int compare_magnitudes(IntegerView a, IntegerView b) noexcept;

// The number of bits of the magnitude (0 for zero).
uint64_t bit_length(IntegerView v) noexcept;

Integer add(IntegerView a, IntegerView b) noexcept;
Integer subtract(IntegerView a, IntegerView b) noexcept;
Integer multiply(IntegerView a, IntegerView b) noexcept;

// Division rounded toward zero, b not zero: the quotient has the sign of a·b, the remainder
// that of a. Either output may be null when it is not wanted.
void divide(IntegerView a, IntegerView b, Integer *quotient, Integer *remainder) noexcept;

// Operations on magnitudes; the signs of the operands are ignored, results are non-negative.
Integer gcd(IntegerView a, IntegerView b) noexcept;
Integer power(IntegerView base, uint32_t exponent) noexcept;
Integer shift_left(IntegerView a, uint64_t bits) noexcept;
Integer shift_right(IntegerView a, uint64_t bits) noexcept;
Integer bitwise_and(IntegerView a, IntegerView b) noexcept;
Integer bitwise_or(IntegerView a, IntegerView b) noexcept;
Integer bitwise_xor(IntegerView a, IntegerView b) noexcept;

// The value of a base-10 numeral given as digit values 0-9, most significant first.
Integer from_decimal_digits(const uint8_t *digits, size_t count) noexcept;

}  // namespace quarn::number

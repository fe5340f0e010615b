// Arithmetic on runtime-owned integers with GMP's mpn layer. Every result array is
// allocated here, through the runtime's allocator, before GMP writes into it; GMP itself
// only takes temporary scratch space. One-digit operands are computed in machine words.
#include "number/integer.h"

#include <gmp.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <numeric>

#include "object/heap.h"
#include "core/panic.h"

static_assert(GMP_LIMB_BITS == 64 && sizeof(mp_limb_t) == sizeof(uint64_t),
              "digits are GMP limbs");

namespace quarn::number {

namespace {

using Limbs = const mp_limb_t *;

inline mp_limb_t *limbs(Integer &v) noexcept { return reinterpret_cast<mp_limb_t *>(v.digits()); }
inline Limbs limbs(IntegerView v) noexcept { return reinterpret_cast<Limbs>(v.digits); }
inline mp_size_t count(size_t n) noexcept { return static_cast<mp_size_t>(n); }

// Results this long cannot be allocated on any machine (2^60 bytes).
constexpr unsigned __int128 kFirstUnpayableBit = static_cast<unsigned __int128>(1) << 63;

// An array of `digits` digits, where that count may come from arithmetic on sizes that
// can exceed any array.
Integer with_capacity_checked(unsigned __int128 digits) noexcept {
    if (digits > kMaxDigits) internal_panic(kOutOfMemory);
    return Integer::with_capacity(static_cast<size_t>(digits));
}

// |x| + |y| with the given sign; x and y are not zero.
Integer add_magnitudes(IntegerView x, IntegerView y, bool negative) noexcept {
    if (x.size < y.size) std::swap(x, y);
    if (x.size == 1) {
        uint64_t sum;
        if (!__builtin_add_overflow(x.digits[0], y.digits[0], &sum)) return Integer(sum, negative);
    }
    Integer r = Integer::with_capacity(x.size + 1);
    limbs(r)[x.size] = mpn_add(limbs(r), limbs(x), count(x.size), limbs(y), count(y.size));
    r.set_size(x.size + 1, negative);
    return r;
}

// |x| - |y| with the given sign, where |x| > |y|.
Integer subtract_magnitudes(IntegerView x, IntegerView y, bool negative) noexcept {
    if (x.size == 1) return Integer(x.digits[0] - y.digits[0], negative);
    Integer r = Integer::with_capacity(x.size);
    mpn_sub(limbs(r), limbs(x), count(x.size), limbs(y), count(y.size));
    r.set_size(x.size, negative);
    return r;
}

// The number of zero bits below the lowest set bit; v is not zero.
uint64_t trailing_zero_bits(IntegerView v) noexcept {
    size_t i = 0;
    while (v.digits[i] == 0) ++i;
    return 64 * uint64_t{i} + static_cast<uint64_t>(std::countr_zero(v.digits[i]));
}

// Copies the digits of a value that GMP allocated for itself, then frees them.
Integer take_from_mpz(mpz_t z) noexcept {
    size_t n = mpz_size(z);
    Integer r = Integer::with_capacity(n);
    if (n != 0) std::memcpy(r.digits(), mpz_limbs_read(z), n * sizeof(uint64_t));
    r.set_size(n);
    mpz_clear(z);
    return r;
}

// Trims most-significant zero digits of the first n digits of an array.
inline size_t trimmed(const mp_limb_t *d, size_t n) noexcept {
    while (n > 0 && d[n - 1] == 0) --n;
    return n;
}

}  // namespace

// ---- the value ------------------------------------------------------------------------------


Integer Integer::copy_of(IntegerView v) noexcept {
    if (v.size <= 1) return Integer(v.size == 0 ? 0 : v.digits[0], v.negative);
    Integer r = with_capacity(v.size);
    std::memcpy(r.digits(), v.digits, v.size * sizeof(uint64_t));
    r.set_size(v.size, v.negative);
    return r;
}

void Integer::set_size(size_t size, bool negative) noexcept {
    size_ = trimmed(reinterpret_cast<const mp_limb_t *>(digits()), size);
    negative_ = negative && size_ != 0;
}

size_t Integer::object_size() const noexcept {
    return size_ <= 1 || size_ > kInlineDigits ? sizeof(quarn_bignum_object)
                                               : sizeof(quarn_bignum_object) + size_ * sizeof(uint64_t);
}

void Integer::move_into(quarn_bignum_object *big) noexcept {
    big->sign = size_ == 0   ? QUARN_SIGN_ZERO
                : negative_ ? QUARN_SIGN_NEGATIVE
                            : QUARN_SIGN_POSITIVE;
    if (size_ <= 1) {
        big->capacity = -1;
        big->magnitude.inline_present = size_;
        big->used.inline_digit = size_ == 0 ? 0 : digits()[0];
        release();
    } else if (size_ <= kInlineDigits) {
        // In the object's own block: nothing to free when it dies.
        uint64_t *in_block = reinterpret_cast<uint64_t *>(big + 1);
        std::memcpy(in_block, digits(), size_ * sizeof(uint64_t));
        big->capacity = 0;
        big->magnitude.digits = in_block;
        big->used.count = size_;
        release();
    } else {
        // Results of subtraction and division can be much shorter than the room made for
        // them; an object may live long, so the slack goes back.
        if (capacity_ > 2 * size_ + 2) {
            heap_ = static_cast<uint64_t *>(
                object::reallocate_bytes(heap_, size_ * sizeof(uint64_t)));
            capacity_ = size_;
        }
        big->capacity = static_cast<int64_t>(capacity_);
        big->magnitude.digits = heap_;
        big->used.count = size_;
    }
    heap_ = nullptr;
    capacity_ = size_ = 0;
    negative_ = false;
}

// ---- comparison ----------------------------------------------------------------------------

int compare_magnitudes(IntegerView a, IntegerView b) noexcept {
    if (a.size != b.size) return a.size < b.size ? -1 : 1;
    if (a.size == 0) return 0;
    int c = mpn_cmp(limbs(a), limbs(b), count(a.size));
    return (c > 0) - (c < 0);
}

int compare(IntegerView a, IntegerView b) noexcept {
    int sa = sign_of(a), sb = sign_of(b);
    if (sa != sb) return sa < sb ? -1 : 1;
    int c = compare_magnitudes(a, b);
    return sa < 0 ? -c : c;
}

uint64_t bit_length(IntegerView v) noexcept {
    if (v.size == 0) return 0;
    return 64 * uint64_t{v.size} - static_cast<uint64_t>(std::countl_zero(v.digits[v.size - 1]));
}

// ---- arithmetic ----------------------------------------------------------------------------

Integer add(IntegerView a, IntegerView b) noexcept {
    if (a.is_zero()) return Integer::copy_of(b);
    if (b.is_zero()) return Integer::copy_of(a);
    if (a.negative == b.negative) return add_magnitudes(a, b, a.negative);
    int c = compare_magnitudes(a, b);
    if (c == 0) return Integer();
    return c > 0 ? subtract_magnitudes(a, b, a.negative) : subtract_magnitudes(b, a, b.negative);
}

Integer subtract(IntegerView a, IntegerView b) noexcept { return add(a, b.negated()); }

Integer multiply(IntegerView a, IntegerView b) noexcept {
    if (a.is_zero() || b.is_zero()) return Integer();
    bool negative = a.negative != b.negative;
    if (a.size < b.size) std::swap(a, b);
    if (a.size == 1) {
        unsigned __int128 product = static_cast<unsigned __int128>(a.digits[0]) * b.digits[0];
        if (product >> 64 == 0) return Integer(static_cast<uint64_t>(product), negative);
        Integer r = Integer::with_capacity(2);
        r.digits()[0] = static_cast<uint64_t>(product);
        r.digits()[1] = static_cast<uint64_t>(product >> 64);
        r.set_size(2, negative);
        return r;
    }
    Integer r = Integer::with_capacity(a.size + b.size);
    if (a.digits == b.digits && a.size == b.size)
        mpn_sqr(limbs(r), limbs(a), count(a.size));
    else
        mpn_mul(limbs(r), limbs(a), count(a.size), limbs(b), count(b.size));
    r.set_size(a.size + b.size, negative);
    return r;
}

void divide(IntegerView a, IntegerView b, Integer *quotient, Integer *remainder) noexcept {
    bool quotient_negative = a.negative != b.negative;
    if (compare_magnitudes(a, b) < 0) {
        if (quotient != nullptr) *quotient = Integer();
        if (remainder != nullptr) *remainder = Integer::copy_of(a);
        return;
    }
    if (b.size == 1) {
        mp_limb_t divisor = b.digits[0], rest;
        if (quotient != nullptr) {
            Integer q = Integer::with_capacity(a.size);
            rest = mpn_divrem_1(limbs(q), 0, limbs(a), count(a.size), divisor);
            q.set_size(a.size, quotient_negative);
            *quotient = std::move(q);
        } else {
            rest = mpn_mod_1(limbs(a), count(a.size), divisor);
        }
        if (remainder != nullptr) *remainder = Integer(rest, a.negative);
        return;
    }
    Integer q = Integer::with_capacity(a.size - b.size + 1);
    Integer r = Integer::with_capacity(b.size);
    mpn_tdiv_qr(limbs(q), limbs(r), 0, limbs(a), count(a.size), limbs(b), count(b.size));
    q.set_size(a.size - b.size + 1, quotient_negative);
    r.set_size(b.size, a.negative);
    if (quotient != nullptr) *quotient = std::move(q);
    if (remainder != nullptr) *remainder = std::move(r);
}

Integer gcd(IntegerView a, IntegerView b) noexcept {
    a = a.magnitude();
    b = b.magnitude();
    if (a.is_zero()) return Integer::copy_of(b);
    if (b.is_zero()) return Integer::copy_of(a);
    if (a.size == 1 && b.size == 1) return Integer(std::gcd(a.digits[0], b.digits[0]));
    if (b.size == 1) return Integer(mpn_gcd_1(limbs(a), count(a.size), b.digits[0]));
    if (a.size == 1) return Integer(mpn_gcd_1(limbs(b), count(b.size), a.digits[0]));
    // mpz_gcd strips the common powers of two and orders the operands for mpn_gcd, which
    // destroys its inputs; the operands are lent to it read-only and only its result (no
    // longer than the shorter operand) is copied back.
    mpz_t x, y, g;
    mpz_init(g);
    mpz_gcd(g, mpz_roinit_n(x, limbs(a), count(a.size)), mpz_roinit_n(y, limbs(b), count(b.size)));
    return take_from_mpz(g);
}

Integer power(IntegerView base, uint32_t exponent) noexcept {
    base = base.magnitude();
    if (exponent == 0) return Integer(1);
    if (base.is_zero() || exponent == 1) return Integer::copy_of(base);

    // The result has at most bit_length(base) · e bits. A result of 2^63 bits or more
    // (2^60 bytes) could never be allocated: it is refused before any work, which also
    // keeps every bit count below in 64 bits.
    if (static_cast<unsigned __int128>(bit_length(base)) * exponent >= kFirstUnpayableBit)
        internal_panic(kOutOfMemory);

    // base = odd · 2^k, so base^e = odd^e · 2^(k·e): powers of two are one shift, and the
    // squarings work on the shorter odd part.
    uint64_t k = trailing_zero_bits(base);
    Integer odd_store;
    IntegerView odd = base;
    if (k != 0) {
        odd_store = shift_right(base, k);
        odd = odd_store.view();
    }
    uint64_t shift = k * exponent;
    if (odd.size == 1 && odd.digits[0] == 1) return shift_left(odd, shift);

    // Left-to-right binary powering, alternating between two arrays. No intermediate value
    // exceeds the result, and the full-width products that mpn_sqr and mpn_mul write have
    // at most one digit more than their value, so one digit beyond the result's bound is
    // room enough.
    size_t room = bit_length(odd) * exponent / 64 + 2;
    Integer r = Integer::with_capacity(room), t = Integer::with_capacity(room);
    std::memcpy(r.digits(), odd.digits, odd.size * sizeof(uint64_t));
    size_t n = odd.size;
    for (int bit = 30 - std::countl_zero(exponent); bit >= 0; --bit) {
        mpn_sqr(limbs(t), limbs(r), count(n));
        n = trimmed(limbs(t), 2 * n);
        std::swap(r, t);
        if ((exponent >> bit) & 1) {
            mpn_mul(limbs(t), limbs(r), count(n), limbs(odd), count(odd.size));
            n = trimmed(limbs(t), n + odd.size);
            std::swap(r, t);
        }
    }
    r.set_size(n);
    return shift == 0 ? std::move(r) : shift_left(r.view(), shift);
}

Integer shift_left(IntegerView a, uint64_t bits) noexcept {
    if (a.is_zero()) return Integer();
    size_t whole = bits / 64;
    unsigned part = bits % 64;
    if (a.size == 1 && whole == 0 && (part == 0 || a.digits[0] >> (64 - part) == 0))
        return Integer(a.digits[0] << part);
    Integer r = with_capacity_checked(static_cast<unsigned __int128>(a.size) + whole + 1);
    mp_limb_t *out = limbs(r);
    if (whole != 0) mpn_zero(out, count(whole));
    if (part != 0) {
        out[whole + a.size] = mpn_lshift(out + whole, limbs(a), count(a.size), part);
    } else {
        mpn_copyi(out + whole, limbs(a), count(a.size));
        out[whole + a.size] = 0;
    }
    r.set_size(whole + a.size + 1);
    return r;
}

Integer shift_right(IntegerView a, uint64_t bits) noexcept {
    uint64_t whole = bits / 64;
    unsigned part = bits % 64;
    if (whole >= a.size) return Integer();
    size_t n = a.size - whole;
    if (n == 1) return Integer(a.digits[whole] >> part);
    Integer r = Integer::with_capacity(n);
    if (part != 0)
        mpn_rshift(limbs(r), limbs(a) + whole, count(n), part);
    else
        mpn_copyi(limbs(r), limbs(a) + whole, count(n));
    r.set_size(n);
    return r;
}

Integer bitwise_and(IntegerView a, IntegerView b) noexcept {
    size_t n = std::min(a.size, b.size);
    if (n == 0) return Integer();
    if (n == 1) return Integer(a.digits[0] & b.digits[0]);
    Integer r = Integer::with_capacity(n);
    mpn_and_n(limbs(r), limbs(a), limbs(b), count(n));
    r.set_size(n);
    return r;
}

namespace {

// Inclusive or exclusive or: the common digits combined, the longer operand's upper digits
// copied.
template <void (*combine)(mp_limb_t *, Limbs, Limbs, mp_size_t)>
Integer bitwise_or_like(IntegerView a, IntegerView b) noexcept {
    if (a.size < b.size) std::swap(a, b);
    if (b.is_zero()) return Integer::copy_of(a.magnitude());
    if (a.size == 1) {
        Integer one(0);
        combine(limbs(one), limbs(a), limbs(b), 1);
        one.set_size(1);
        return one;
    }
    Integer r = Integer::with_capacity(a.size);
    combine(limbs(r), limbs(a), limbs(b), count(b.size));
    if (a.size > b.size)
        mpn_copyi(limbs(r) + b.size, limbs(a) + b.size, count(a.size - b.size));
    r.set_size(a.size);
    return r;
}

void ior_n(mp_limb_t *r, Limbs a, Limbs b, mp_size_t n) { mpn_ior_n(r, a, b, n); }
void xor_n(mp_limb_t *r, Limbs a, Limbs b, mp_size_t n) { mpn_xor_n(r, a, b, n); }

}  // namespace

Integer bitwise_or(IntegerView a, IntegerView b) noexcept { return bitwise_or_like<ior_n>(a, b); }
Integer bitwise_xor(IntegerView a, IntegerView b) noexcept { return bitwise_or_like<xor_n>(a, b); }

Integer from_decimal_digits(const uint8_t *digits, size_t n) noexcept {
    while (n > 0 && digits[0] == 0) {
        ++digits;
        --n;
    }
    if (n <= 19) {  // below 10^19 < 2^64
        uint64_t value = 0;
        for (size_t i = 0; i < n; ++i) value = value * 10 + digits[i];
        return Integer(value);
    }
    // n digits need at most n · log2(10) bits (1701/512 > log2(10)); mpn_set_str wants
    // one digit beyond that.
    Integer r = with_capacity_checked(static_cast<unsigned __int128>(n) * 1701 / (512 * 64) + 2);
    size_t written = mpn_set_str(limbs(r), digits, n, 10);
    r.set_size(written);
    return r;
}

}  // namespace quarn::number

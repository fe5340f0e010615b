// The `Nat` primitives, normalisation and the literal parser.
//
// Each primitive first handles two scalar arguments in machine words; a scalar Nat is
// below 2^63, so sums and differences never wrap. The other cases (in out-of-line
// functions, so that the scalar path stays a handful of instructions) read both arguments
// in place, compute an Integer and normalise it.
#include <bit>
#include <cstring>
#include <numeric>
#include <string_view>

#include "number/detail.h"
#include "number/nat.h"
#include "object/export.h"
#include "object/heap.h"
#include "core/panic.h"
#include "core/utf8.h"
#include "quarn/nat.h"

namespace quarn::number {

using namespace detail;

namespace {

constexpr std::string_view kNegativeToNat = "negative value converted to Nat";
constexpr std::string_view kLiteralNotAscii = "a Nat literal is not ASCII";
constexpr std::string_view kLiteralNotDecimal = "a Nat literal is not a decimal numeral";

// The exponent and shift limits: the operation's name, then " exponent is too big".
[[noreturn, gnu::cold]] void exponent_too_big(std::string_view operation) noexcept {
    internal_panic({operation, " exponent is too big"});
}

// Exponents and shift counts are accepted below 2^32.
constexpr uint64_t kExponentLimit = uint64_t{1} << 32;

// ---- slow paths ---------------------------------------------------------------------------

[[gnu::noinline]] quarn_object *nat_add_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_nat(a, sa), y = view_nat(b, sb);
    if (x.is_zero()) return share(b);
    if (y.is_zero()) return share(a);
    return make_sum_of_magnitudes(x, y, QUARN_SIGN_POSITIVE);  // a big operand: a big sum
}

[[gnu::noinline]] quarn_object *nat_sub_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_nat(a, sa), y = view_nat(b, sb);
    if (y.is_zero()) return share(a);
    if (compare_magnitudes(x, y) <= 0) return quarn_box(0);
    return to_nat(subtract(x, y));
}

[[gnu::noinline]] quarn_object *nat_mul_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    return to_nat(multiply(view_nat(a, sa), view_nat(b, sb)));
}

[[gnu::noinline]] quarn_object *nat_div_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_nat(a, sa), y = view_nat(b, sb);
    if (y.is_zero() || compare_magnitudes(x, y) < 0) return quarn_box(0);
    Integer quotient;
    divide(x, y, &quotient, nullptr);
    return to_nat(std::move(quotient));
}

[[gnu::noinline]] quarn_object *nat_mod_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_nat(a, sa), y = view_nat(b, sb);
    if (y.is_zero() || compare_magnitudes(x, y) < 0) return share(a);
    Integer remainder;
    divide(x, y, nullptr, &remainder);
    return to_nat(std::move(remainder));
}

[[gnu::noinline]] quarn_object *nat_gcd_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    IntegerView x = view_nat(a, sa), y = view_nat(b, sb);
    if (x.is_zero()) return share(b);
    if (y.is_zero()) return share(a);
    return to_nat(gcd(x, y));
}

template <Integer (*operation)(IntegerView, IntegerView)>
[[gnu::noinline]] quarn_object *nat_bitwise_big(quarn_object *a, quarn_object *b) noexcept {
    uint64_t sa, sb;
    return to_nat(operation(view_nat(a, sa), view_nat(b, sb)));
}

// a^e in machine words, or false when it does not fit 64 bits.
bool small_power(uint64_t base, uint64_t exponent, uint64_t &result) noexcept {
    result = 1;
    while (true) {
        if ((exponent & 1) && __builtin_mul_overflow(result, base, &result)) return false;
        exponent >>= 1;
        if (exponent == 0) return true;
        if (__builtin_mul_overflow(base, base, &base)) return false;
    }
}

// The white space that a decimal numeral may contain: the C locale's isspace.
inline bool is_space(unsigned char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The value of a literal. The numerals accepted are those of GMP's mpz_set_str in base
// 10: leading white space, an optional minus sign, a first digit, then digits among which
// white space is ignored.
Integer parse_literal(const char *text) noexcept {
    size_t length = std::strlen(text);
    if (!utf8::is_valid_utf8(text, length)) internal_panic(kLiteralNotAscii);
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *end = s + length;
    while (s < end && is_space(*s)) ++s;
    bool negative = s < end && *s == '-';
    if (negative) ++s;
    if (s == end || *s < '0' || *s > '9') internal_panic(kLiteralNotDecimal);
    auto *digits = static_cast<uint8_t *>(object::allocate_bytes(static_cast<size_t>(end - s)));
    size_t count = 0;
    for (; s < end; ++s) {
        if (is_space(*s)) continue;
        if (*s < '0' || *s > '9') {
            object::free_bytes(digits);
            internal_panic(kLiteralNotDecimal);
        }
        digits[count++] = static_cast<uint8_t>(*s - '0');
    }
    Integer value = from_decimal_digits(digits, count);
    object::free_bytes(digits);
    if (negative) value.negate();
    return value;
}

}  // namespace

// ---- normalisation and reading ------------------------------------------------------------

void negative_to_nat() noexcept { internal_panic(kNegativeToNat); }

quarn_object *nat_succ(const quarn_object *n) noexcept {
    if (quarn_is_scalar(n)) return nat_of_uint64(quarn_unbox(n) + 1);
    return to_nat(add(view_of(as_bignum(n)), kOneView));
}

quarn_object *nat_pred(const quarn_object *n) noexcept {
    return quarn_lean_nat_pred(const_cast<quarn_object *>(n));
}

}  // namespace quarn::number

using namespace quarn::number;
using quarn::number::divide;

// ---- arithmetic -------------------------------------------------------------------------------

extern "C" quarn_object *quarn_lean_nat_add(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] {
        uint64_t sum = quarn_unbox(a) + quarn_unbox(b);
        if (sum < kFirstBigNat) [[likely]] return quarn_box(sum);
        return make_one_digit(sum, QUARN_SIGN_POSITIVE);
    }
    return nat_add_big(a, b);
}

extern "C" quarn_object *quarn_lean_nat_sub(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] {
        uint64_t x = quarn_unbox(a), y = quarn_unbox(b);
        return quarn_box(x < y ? 0 : x - y);
    }
    return nat_sub_big(a, b);
}

extern "C" quarn_object *quarn_lean_nat_mul(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] {
        uint64_t x = quarn_unbox(a), product;
        if (x == 0) return quarn_box(0);
        if (!__builtin_mul_overflow(x, quarn_unbox(b), &product)) [[likely]] {
            if (product < kFirstBigNat) [[likely]] return quarn_box(product);
            return make_one_digit(product, QUARN_SIGN_POSITIVE);
        }
    }
    return nat_mul_big(a, b);
}

extern "C" quarn_object *quarn_lean_nat_pred(quarn_object *a) noexcept {
    if (quarn_is_scalar(a)) [[likely]] {
        uint64_t x = quarn_unbox(a);
        return quarn_box(x == 0 ? 0 : x - 1);
    }
    return to_nat(subtract(view_of(as_bignum(a)), kOneView));
}

extern "C" quarn_object *quarn_lean_nat_div(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] {
        uint64_t y = quarn_unbox(b);
        return quarn_box(y == 0 ? 0 : quarn_unbox(a) / y);
    }
    return nat_div_big(a, b);
}

extern "C" quarn_object *quarn_lean_nat_div_exact(quarn_object *a, quarn_object *b) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_nat_div);

extern "C" quarn_object *quarn_lean_nat_mod(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] {
        uint64_t y = quarn_unbox(b);
        return y == 0 ? a : quarn_box(quarn_unbox(a) % y);
    }
    return nat_mod_big(a, b);
}

extern "C" quarn_object *quarn_lean_nat_gcd(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] return quarn_box(std::gcd(quarn_unbox(a), quarn_unbox(b)));
    return nat_gcd_big(a, b);
}

extern "C" quarn_object *quarn_lean_nat_log2(quarn_object *a) noexcept {
    if (quarn_is_scalar(a)) {
        uint64_t x = quarn_unbox(a);
        return quarn_box(x == 0 ? 0 : 63 - std::countl_zero(x));
    }
    const quarn_bignum_object *big = as_bignum(a);
    if (big->sign != QUARN_SIGN_POSITIVE) return quarn_box(0);
    return quarn_box(bit_length(view_of(big)) - 1);
}

extern "C" quarn_object *quarn_lean_nat_pow(quarn_object *a, quarn_object *e) noexcept {
    if (!quarn_is_scalar(e) || quarn_unbox(e) >= kExponentLimit) exponent_too_big("Nat.pow");
    uint64_t exponent = quarn_unbox(e), small;
    if (quarn_is_scalar(a) && small_power(quarn_unbox(a), exponent, small))
        return nat_of_uint64(small);
    uint64_t sa;
    return to_nat(power(view_nat(a, sa), static_cast<uint32_t>(exponent)));
}

extern "C" quarn_object *quarn_lean_nat_shiftl(quarn_object *a, quarn_object *s) noexcept {
    if (is_zero(a)) return quarn_box(0);
    if (!quarn_is_scalar(s) || quarn_unbox(s) >= kExponentLimit) exponent_too_big("Nat.shiftl");
    uint64_t shift = quarn_unbox(s);
    if (quarn_is_scalar(a) && shift < 63) {
        uint64_t x = quarn_unbox(a);
        if (x >> (63 - shift) == 0) return quarn_box(x << shift);  // stays below 2^63
    }
    uint64_t sa;
    return to_nat(shift_left(view_nat(a, sa), shift));
}

extern "C" quarn_object *quarn_lean_nat_shiftr(quarn_object *a, quarn_object *s) noexcept {
    if (quarn_is_scalar(a)) {
        if (!quarn_is_scalar(s) || quarn_unbox(s) >= 64) return quarn_box(0);
        return quarn_box(quarn_unbox(a) >> quarn_unbox(s));
    }
    if (!quarn_is_scalar(s)) return quarn_box(0);
    uint64_t shift = quarn_unbox(s);
    IntegerView x = view_of(as_bignum(a));
    if (shift >= kExponentLimit) {
        if (shift >= bit_length(x)) return quarn_box(0);
        exponent_too_big("Nat.shiftr");
    }
    return to_nat(shift_right(x, shift));
}

extern "C" quarn_object *quarn_lean_nat_land(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] return quarn_box(quarn_unbox(a) & quarn_unbox(b));
    return nat_bitwise_big<bitwise_and>(a, b);
}

extern "C" quarn_object *quarn_lean_nat_lor(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] return quarn_box(quarn_unbox(a) | quarn_unbox(b));
    return nat_bitwise_big<bitwise_or>(a, b);
}

extern "C" quarn_object *quarn_lean_nat_lxor(quarn_object *a, quarn_object *b) noexcept {
    if (both_scalar(a, b)) [[likely]] return quarn_box(quarn_unbox(a) ^ quarn_unbox(b));
    return nat_bitwise_big<bitwise_xor>(a, b);
}

// ---- comparison ----------------------------------------------------------------------------

// Normal forms make equality structural: identical words, or objects with equal values.
extern "C" uint8_t quarn_lean_nat_dec_eq(quarn_object *a, quarn_object *b) noexcept {
    if (quarn_is_scalar(a)) return a == b;
    if (quarn_is_scalar(b)) return 0;
    return equal_values(as_bignum(a), as_bignum(b));
}

extern "C" uint8_t quarn_lean_int_dec_eq(quarn_object *a, quarn_object *b) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_nat_dec_eq);

namespace {

// -1, 0, 1 as a < b, a = b, a > b. A scalar Nat is below every big one.
int compare_nats(const quarn_object *a, const quarn_object *b) noexcept {
    if (both_scalar(a, b)) {
        auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
        return (x > y) - (x < y);
    }
    if (quarn_is_scalar(a)) return -1;
    if (quarn_is_scalar(b)) return 1;
    return compare_magnitudes(view_of(as_bignum(a)), view_of(as_bignum(b)));
}

}  // namespace

extern "C" uint8_t quarn_lean_nat_dec_le(quarn_object *a, quarn_object *b) noexcept {
    return compare_nats(a, b) <= 0;
}

extern "C" uint8_t quarn_lean_nat_dec_lt(quarn_object *a, quarn_object *b) noexcept {
    return compare_nats(a, b) < 0;
}

// ---- conversions ---------------------------------------------------------------------------

extern "C" quarn_object *quarn_lean_nat_to_int(quarn_object *n) noexcept {
    if (quarn_is_scalar(n) && quarn_unbox(n) > INT32_MAX)
        return make_one_digit(quarn_unbox(n), QUARN_SIGN_POSITIVE);
    return n;  // a small Nat is the same word as the Int; a big Nat is a valid Int object
}

extern "C" quarn_object *quarn_lean_nat_abs(quarn_object *a) noexcept {
    if (quarn_is_scalar(a)) {
        int64_t value = unbox_int(a);
        return value >= 0 ? a : quarn_box(static_cast<uint64_t>(-value));
    }
    IntegerView value = view_of(as_bignum(a));
    // A non-negative big Int of 2^63 or more is already a valid Nat object.
    if (!value.negative && (value.size > 1 || value.digits[0] >= kFirstBigNat)) return share(a);
    return to_nat(Integer::copy_of(value.magnitude()));
}

extern "C" quarn_object *quarn_usize_to_nat(size_t n) noexcept { return nat_of_uint64(n); }

extern "C" quarn_object *quarn_cstr_to_nat(const char *text) noexcept {
    return to_nat(parse_literal(text));
}

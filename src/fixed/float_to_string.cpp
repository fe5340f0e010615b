// Fixed notation with six decimals, exact, without printf.
//
// A finite x is m * 2^e with an integer m < 2^53. Two cases cover every value:
//   e >= 0: x is an integer, up to 309 digits. It is computed in base 10^9 as
//           (m * 2^r) * 2^(32 j) with e = 32 j + r, multiplying the three base-10^9 limbs of
//           m * 2^r by a table of 2^(32 j) in base 10^9, made at compile time. The decimals
//           are ".000000".
//   e < 0:  x = integer part + f / 2^s with s = -e. The integer part is below 2^53; the six
//           decimals are f * 10^6 / 2^s rounded to nearest, ties to even, computed exactly in
//           128 bits (f * 10^6 < 2^73); a carry of the rounding goes into the integer part.
//           When s >= 74 the whole value is below 2^53 * 2^-74 < 0.5e-6 and rounds to zero.
#include "fixed/float_to_string.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace quarn::fixed {

namespace {

constexpr uint32_t kLimbBase = 1000000000;  // 10^9: nine decimal digits per limb
constexpr int kLargestExponent = 971;       // the largest e: 2^1023 = 2^52 * 2^971
constexpr int kPowers = kLargestExponent / 32 + 1;

// 2^(32 j) for j = 0 .. kPowers - 1 in base 10^9, least significant limb first, all powers
// in one array.
struct PowerTable {
    static constexpr size_t kMaxLimbs = 33;     // 2^960 has 290 digits
    static constexpr size_t kTotalLimbs = 514;
    uint32_t limbs[kTotalLimbs] = {};
    uint16_t offset[kPowers] = {};
    uint8_t length[kPowers] = {};
};

constexpr PowerTable make_power_table() {
    PowerTable table;
    uint32_t power[PowerTable::kMaxLimbs] = {1};
    size_t length = 1, used = 0;
    for (int j = 0; j < kPowers; ++j) {
        table.offset[j] = static_cast<uint16_t>(used);
        table.length[j] = static_cast<uint8_t>(length);
        for (size_t i = 0; i < length; ++i) table.limbs[used++] = power[i];
        if (j + 1 == kPowers) break;
        uint64_t carry = 0;  // power *= 2^32
        for (size_t i = 0; i < length; ++i) {
            uint64_t t = (uint64_t{power[i]} << 32) + carry;
            power[i] = static_cast<uint32_t>(t % kLimbBase);
            carry = t / kLimbBase;
        }
        while (carry != 0) {
            power[length++] = static_cast<uint32_t>(carry % kLimbBase);
            carry /= kLimbBase;
        }
    }
    return table;
}

constexpr PowerTable kPowersOfTwo = make_power_table();
static_assert(kPowersOfTwo.offset[kPowers - 1] + kPowersOfTwo.length[kPowers - 1] ==
              PowerTable::kTotalLimbs);
static_assert(kPowersOfTwo.length[kPowers - 1] == PowerTable::kMaxLimbs);

// "00" "01" ... "99": two digits per table step.
constexpr std::array<char, 200> make_digit_pairs() {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}
constexpr std::array<char, 200> kDigitPairs = make_digit_pairs();

// Writes exactly `count` digits of v (below 10^count), with leading zeros, ending at end.
inline void write_digits_backwards(uint64_t v, int count, char *end) noexcept {
    for (; count >= 2; count -= 2) {
        end -= 2;
        std::memcpy(end, &kDigitPairs[2 * (v % 100)], 2);
        v /= 100;
    }
    if (count == 1) *--end = static_cast<char>('0' + v);
}

inline int decimal_length(uint64_t v) noexcept {
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

// v in decimal, without leading zeros.
inline char *write_decimal(uint64_t v, char *out) noexcept {
    int n = decimal_length(v);
    write_digits_backwards(v, n, out + n);
    return out + n;
}

// m * 2^e in decimal, for e >= 0.
char *write_integer(uint64_t m, int e, char *out) noexcept {
    if (e <= 11) return write_decimal(m << e, out);  // below 2^64
    const int j = e / 32, r = e % 32;
    // m * 2^r < 2^85 as three limbs a[0..2].
    uint64_t low = (m % kLimbBase) << r, high = (m / kLimbBase) << r;
    uint64_t a[3];
    a[0] = low % kLimbBase;
    high += low / kLimbBase;
    a[1] = high % kLimbBase;
    a[2] = high / kLimbBase;
    // The product with 2^(32 j): every column sums at most three products below 10^18.
    const uint32_t *p = &kPowersOfTwo.limbs[kPowersOfTwo.offset[j]];
    const size_t n = kPowersOfTwo.length[j];
    uint32_t product[PowerTable::kMaxLimbs + 3];
    size_t count = n + 3;
    uint64_t carry = 0;
    for (size_t k = 0; k < count; ++k) {
        uint64_t column = carry;
        for (size_t i = 0; i < 3; ++i)
            if (k >= i && k - i < n) column += a[i] * p[k - i];
        product[k] = static_cast<uint32_t>(column % kLimbBase);
        carry = column / kLimbBase;
    }
    while (count > 1 && product[count - 1] == 0) --count;
    out = write_decimal(product[count - 1], out);
    for (size_t k = count - 1; k-- > 0;) {
        write_digits_backwards(product[k], 9, out + 9);
        out += 9;
    }
    return out;
}

}  // namespace

size_t format_fixed6(double x, char *out) noexcept {
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const bool negative = (bits >> 63) != 0;
    const unsigned biased = static_cast<unsigned>(bits >> 52) & 0x7FF;
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0x7FF) {
        const char *text = fraction != 0 ? "NaN" : negative ? "-inf" : "inf";
        size_t n = std::strlen(text);
        std::memcpy(out, text, n);
        return n;
    }
    char *p = out;
    if (negative) *p++ = '-';
    // x = m * 2^e; subnormals have the exponent of the smallest normal numbers.
    const uint64_t m = biased == 0 ? fraction : fraction | uint64_t{1} << 52;
    const int e = biased == 0 ? -1074 : static_cast<int>(biased) - 1075;
    if (e >= 0) {
        p = write_integer(m, e, p);
        std::memcpy(p, ".000000", 7);
        return static_cast<size_t>(p + 7 - out);
    }
    const unsigned s = static_cast<unsigned>(-e);
    uint64_t integer = 0, micros = 0;
    if (s < 74) {
        const uint64_t f = s < 64 ? m & ((uint64_t{1} << s) - 1) : m;
        integer = s < 64 ? m >> s : 0;
        const unsigned __int128 scaled = static_cast<unsigned __int128>(f) * 1000000;
        micros = static_cast<uint64_t>(scaled >> s);
        const unsigned __int128 rest = scaled - (static_cast<unsigned __int128>(micros) << s);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (s - 1);
        if (rest > half || (rest == half && (micros & 1) != 0)) ++micros;
        if (micros == 1000000) {
            micros = 0;
            ++integer;
        }
    }
    p = write_decimal(integer, p);
    *p++ = '.';
    write_digits_backwards(micros, 6, p + 6);
    return static_cast<size_t>(p + 6 - out);
}

}  // namespace quarn::fixed

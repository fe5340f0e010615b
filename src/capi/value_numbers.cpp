// Nat and Int host values: numbers of any size held as a magnitude (least significant byte
// first, no trailing zero byte, zero empty) and a sign, the same form as on the wire.
#include <gmp.h>

#include <cstdlib>
#include <cstring>

#include "capi/value_record.h"

namespace quarn::capi {
namespace {

void set_magnitude(quarn_value &v, std::uint64_t n) noexcept {
    while (n != 0) {
        v.bytes.push_back(static_cast<std::uint8_t>(n));
        n >>= 8;
    }
}

// The magnitude as a 64-bit number, or false when it does not fit.
bool small_magnitude(const quarn_value &v, std::uint64_t &out) noexcept {
    if (v.bytes.size() > 8) return false;
    out = 0;
    for (std::size_t i = v.bytes.size(); i-- > 0;) out = out << 8 | v.bytes[i];
    return true;
}

bool all_digits(const char *text, std::size_t n) noexcept {
    if (n == 0) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// A GMP integer that clears itself.
struct Mpz {
    mpz_t z;
    Mpz() noexcept { mpz_init(z); }
    ~Mpz() { mpz_clear(z); }
    Mpz(const Mpz &) = delete;
    Mpz &operator=(const Mpz &) = delete;
};

// Reads the decimal digits (already checked) into v's magnitude.
void parse_magnitude(quarn_value &v, const char *digits) noexcept {
    while (digits[0] == '0' && digits[1] != '\0') ++digits;
    Mpz n;
    mpz_set_str(n.z, digits, 10);
    if (mpz_sgn(n.z) == 0) return;
    v.bytes.resize((mpz_sizeinbase(n.z, 2) + 7) / 8);
    std::size_t written = 0;
    mpz_export(v.bytes.data(), &written, -1, 1, -1, 0, n.z);
    v.bytes.resize(written);
}

quarn_value *parse(const char *text, bool signed_number, std::string_view function) noexcept {
    not_null(text, function);
    bool negative = signed_number && text[0] == '-';
    const char *digits = negative ? text + 1 : text;
    if (!all_digits(digits, std::strlen(digits))) return nullptr;
    quarn_value *v = new_value(signed_number ? Kind::Int : Kind::Nat);
    parse_magnitude(*v, digits);
    v->flag = negative && !v->bytes.empty() ? 1 : 0;
    return v;
}

}  // namespace
}  // namespace quarn::capi

using quarn::capi::Kind;

extern "C" {

QUARN_API quarn_value *quarn_value_nat(std::uint64_t n) noexcept {
    quarn_value *v = quarn::capi::new_value(Kind::Nat);
    quarn::capi::set_magnitude(*v, n);
    return v;
}

QUARN_API quarn_value *quarn_value_int(std::int64_t n) noexcept {
    quarn_value *v = quarn::capi::new_value(Kind::Int);
    std::uint64_t magnitude = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
    quarn::capi::set_magnitude(*v, magnitude);
    v->flag = n < 0 ? 1 : 0;
    return v;
}

QUARN_API quarn_value *quarn_value_nat_parse(const char *text) noexcept {
    return quarn::capi::parse(text, false, "quarn_value_nat_parse");
}

QUARN_API quarn_value *quarn_value_int_parse(const char *text) noexcept {
    return quarn::capi::parse(text, true, "quarn_value_int_parse");
}

QUARN_API int quarn_value_get_nat(const quarn_value *value, std::uint64_t *out) noexcept {
    const quarn_value &v = quarn::capi::expect_kind(value, Kind::Nat, "quarn_value_get_nat");
    quarn::capi::not_null(out, "quarn_value_get_nat");
    return quarn::capi::small_magnitude(v, *out) ? 1 : 0;
}

QUARN_API int quarn_value_get_int(const quarn_value *value, std::int64_t *out) noexcept {
    const quarn_value &v = quarn::capi::expect_kind(value, Kind::Int, "quarn_value_get_int");
    quarn::capi::not_null(out, "quarn_value_get_int");
    std::uint64_t magnitude = 0;
    if (!quarn::capi::small_magnitude(v, magnitude)) return 0;
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
    if (v.flag != 0) {
        if (magnitude > kLimit) return 0;
        *out = static_cast<std::int64_t>(0 - magnitude);
    } else {
        if (magnitude >= kLimit) return 0;
        *out = static_cast<std::int64_t>(magnitude);
    }
    return 1;
}

QUARN_API char *quarn_value_number_string(const quarn_value *value) noexcept {
    const quarn_value &v =
        quarn::capi::expect_kind(value, Kind::Nat, Kind::Int, "quarn_value_number_string");
    quarn::capi::Mpz n;
    mpz_import(n.z, v.bytes.size(), -1, 1, -1, 0, v.bytes.data());
    // Room for the digits, a sign and the terminator.
    std::size_t room = mpz_sizeinbase(n.z, 10) + 2;
    char *text = quarn::PanicAllocator<char>().allocate(room);
    std::size_t at = 0;
    if (v.flag != 0) text[at++] = '-';
    mpz_get_str(text + at, 10, n.z);
    return text;
}

}  // extern "C"

// Constructors of host values: scalars copy their argument, strings and arrays copy their
// bytes, and aggregates take over the values they are built from.
#include <bit>
#include <cstring>

#include "capi/value_record.h"
#include "core/utf8.h"

namespace quarn::capi {
namespace {

quarn_value *scalar(Kind kind, std::uint64_t bits) noexcept {
    quarn_value *v = new_value(kind);
    v->bits = bits;
    return v;
}

quarn_value *with_bytes(Kind kind, const void *bytes, std::size_t length) noexcept {
    quarn_value *v = new_value(kind);
    auto *first = static_cast<const std::uint8_t *>(bytes);
    if (length != 0) v->bytes.assign(first, first + length);
    return v;
}

// The value of one child, which it takes over.
quarn_value *holding(Kind kind, std::uint8_t flag, quarn_value *child, std::string_view function) noexcept {
    not_null(child, function);
    quarn_value *v = new_value(kind);
    v->flag = flag;
    v->children.push_back(child);
    return v;
}

// A value holding `count` children taken over from `values`; every one is checked before
// any is taken.
quarn_value *holding_all(Kind kind, quarn_value *const *values, std::size_t count,
                         std::string_view function) noexcept {
    if (count != 0) not_null(values, function);
    for (std::size_t i = 0; i < count; ++i) not_null(values[i], function);
    quarn_value *v = new_value(kind);
    if (count != 0) v->children.assign(values, values + count);
    return v;
}

bool is_scalar_value(std::uint32_t c) noexcept { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

}  // namespace
}  // namespace quarn::capi

using quarn::capi::Kind;
using quarn::capi::scalar;

extern "C" {

QUARN_API quarn_value *quarn_value_bool(int b) noexcept { return scalar(Kind::Bool, b != 0 ? 1 : 0); }
QUARN_API quarn_value *quarn_value_uint8(std::uint8_t n) noexcept { return scalar(Kind::UInt8, n); }
QUARN_API quarn_value *quarn_value_uint16(std::uint16_t n) noexcept { return scalar(Kind::UInt16, n); }
QUARN_API quarn_value *quarn_value_uint32(std::uint32_t n) noexcept { return scalar(Kind::UInt32, n); }
QUARN_API quarn_value *quarn_value_uint64(std::uint64_t n) noexcept { return scalar(Kind::UInt64, n); }
QUARN_API quarn_value *quarn_value_usize(std::size_t n) noexcept { return scalar(Kind::USize, n); }

// Signed numbers are kept sign-extended to 64 bits.
QUARN_API quarn_value *quarn_value_int8(std::int8_t n) noexcept {
    return scalar(Kind::Int8, static_cast<std::uint64_t>(std::int64_t{n}));
}
QUARN_API quarn_value *quarn_value_int16(std::int16_t n) noexcept {
    return scalar(Kind::Int16, static_cast<std::uint64_t>(std::int64_t{n}));
}
QUARN_API quarn_value *quarn_value_int32(std::int32_t n) noexcept {
    return scalar(Kind::Int32, static_cast<std::uint64_t>(std::int64_t{n}));
}
QUARN_API quarn_value *quarn_value_int64(std::int64_t n) noexcept {
    return scalar(Kind::Int64, static_cast<std::uint64_t>(n));
}
QUARN_API quarn_value *quarn_value_isize(std::ptrdiff_t n) noexcept {
    return scalar(Kind::ISize, static_cast<std::uint64_t>(std::int64_t{n}));
}

QUARN_API quarn_value *quarn_value_float(double x) noexcept {
    return scalar(Kind::Float, std::bit_cast<std::uint64_t>(x));
}
QUARN_API quarn_value *quarn_value_float32(float x) noexcept {
    return scalar(Kind::Float32, std::bit_cast<std::uint32_t>(x));
}

QUARN_API quarn_value *quarn_value_unit(void) noexcept { return quarn::capi::new_value(Kind::Unit); }

QUARN_API quarn_value *quarn_value_char(std::uint32_t code_point) noexcept {
    if (!quarn::capi::is_scalar_value(code_point)) return nullptr;
    return scalar(Kind::Char, code_point);
}

QUARN_API quarn_value *quarn_value_string(const char *bytes, std::size_t length) noexcept {
    if (length != 0) quarn::capi::not_null(bytes, "quarn_value_string");
    if (length != 0 && !quarn::utf8::is_valid_utf8(bytes, length)) return nullptr;
    return quarn::capi::with_bytes(Kind::String, bytes, length);
}

QUARN_API quarn_value *quarn_value_cstring(const char *text) noexcept {
    quarn::capi::not_null(text, "quarn_value_cstring");
    std::size_t length = std::strlen(text);
    if (!quarn::utf8::is_valid_utf8(text, length)) return nullptr;
    return quarn::capi::with_bytes(Kind::String, text, length);
}

QUARN_API quarn_value *quarn_value_byte_array(const std::uint8_t *bytes, std::size_t length) noexcept {
    if (length != 0) quarn::capi::not_null(bytes, "quarn_value_byte_array");
    return quarn::capi::with_bytes(Kind::ByteArray, bytes, length);
}

QUARN_API quarn_value *quarn_value_float_array(const double *values, std::size_t count) noexcept {
    if (count != 0) quarn::capi::not_null(values, "quarn_value_float_array");
    if (count > SIZE_MAX / sizeof(double)) quarn::internal_panic(quarn::kOutOfMemory);
    return quarn::capi::with_bytes(Kind::FloatArray, values, count * sizeof(double));
}

QUARN_API quarn_value *quarn_value_none(void) noexcept { return quarn::capi::new_value(Kind::Option); }

QUARN_API quarn_value *quarn_value_some(quarn_value *value) noexcept {
    return quarn::capi::holding(Kind::Option, 1, value, "quarn_value_some");
}

QUARN_API quarn_value *quarn_value_ok(quarn_value *value) noexcept {
    return quarn::capi::holding(Kind::Except, 1, value, "quarn_value_ok");
}

QUARN_API quarn_value *quarn_value_error(quarn_value *value) noexcept {
    return quarn::capi::holding(Kind::Except, 0, value, "quarn_value_error");
}

QUARN_API quarn_value *quarn_value_prod(quarn_value *first, quarn_value *second) noexcept {
    quarn::capi::not_null(first, "quarn_value_prod");
    quarn::capi::not_null(second, "quarn_value_prod");
    quarn_value *v = quarn::capi::new_value(Kind::Prod);
    v->children.push_back(first);
    v->children.push_back(second);
    return v;
}

QUARN_API quarn_value *quarn_value_array(quarn_value *const *values, std::size_t count) noexcept {
    return quarn::capi::holding_all(Kind::Array, values, count, "quarn_value_array");
}

QUARN_API quarn_value *quarn_value_list(quarn_value *const *values, std::size_t count) noexcept {
    return quarn::capi::holding_all(Kind::List, values, count, "quarn_value_list");
}

QUARN_API quarn_value *quarn_value_ctor(std::uint32_t index, quarn_value *const *fields,
                                        std::size_t count) noexcept {
    quarn_value *v = quarn::capi::holding_all(Kind::Inductive, fields, count, "quarn_value_ctor");
    v->bits = index;
    return v;
}

}  // extern "C"

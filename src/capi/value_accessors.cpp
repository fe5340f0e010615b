// Readers of host values. Each checks the kind it reads and returns numbers by value and
// everything else as pointers into the value it was given.
#include <bit>
#include <cstring>

#include "capi/value_record.h"

namespace quarn::capi {
namespace {

template <typename T>
T number(const quarn_value *value, Kind kind, std::string_view function) noexcept {
    return static_cast<T>(expect_kind(value, kind, function).bits);
}

// The storage of a String, ByteArray or FloatArray: never null, even when empty.
const std::uint8_t *storage(const quarn_value &v) noexcept {
    static constexpr std::uint8_t kNothing[8] = {};
    return v.bytes.empty() ? kNothing : v.bytes.data();
}

const quarn_value &element_of(const quarn_value &v, std::size_t index, std::string_view what,
                              std::string_view function) noexcept {
    if (index >= v.children.size())
        fatal(function, what, " ", unsigned_decimal(index), " of ", unsigned_decimal(v.children.size()),
              what == "index" ? " items" : "");
    return *v.children[index];
}

}  // namespace
}  // namespace quarn::capi

using quarn::capi::expect_kind;
using quarn::capi::Kind;
using quarn::capi::number;

extern "C" {

QUARN_API int quarn_value_kind(const quarn_value *value) noexcept {
    return static_cast<int>(quarn::capi::not_null(value, "quarn_value_kind")->kind);
}

QUARN_API int quarn_value_get_bool(const quarn_value *value) noexcept {
    return number<int>(value, Kind::Bool, "quarn_value_get_bool");
}
QUARN_API std::uint8_t quarn_value_get_uint8(const quarn_value *value) noexcept {
    return number<std::uint8_t>(value, Kind::UInt8, "quarn_value_get_uint8");
}
QUARN_API std::uint16_t quarn_value_get_uint16(const quarn_value *value) noexcept {
    return number<std::uint16_t>(value, Kind::UInt16, "quarn_value_get_uint16");
}
QUARN_API std::uint32_t quarn_value_get_uint32(const quarn_value *value) noexcept {
    return number<std::uint32_t>(value, Kind::UInt32, "quarn_value_get_uint32");
}
QUARN_API std::uint64_t quarn_value_get_uint64(const quarn_value *value) noexcept {
    return number<std::uint64_t>(value, Kind::UInt64, "quarn_value_get_uint64");
}
QUARN_API std::size_t quarn_value_get_usize(const quarn_value *value) noexcept {
    return number<std::size_t>(value, Kind::USize, "quarn_value_get_usize");
}
QUARN_API std::int8_t quarn_value_get_int8(const quarn_value *value) noexcept {
    return number<std::int8_t>(value, Kind::Int8, "quarn_value_get_int8");
}
QUARN_API std::int16_t quarn_value_get_int16(const quarn_value *value) noexcept {
    return number<std::int16_t>(value, Kind::Int16, "quarn_value_get_int16");
}
QUARN_API std::int32_t quarn_value_get_int32(const quarn_value *value) noexcept {
    return number<std::int32_t>(value, Kind::Int32, "quarn_value_get_int32");
}
QUARN_API std::int64_t quarn_value_get_int64(const quarn_value *value) noexcept {
    return number<std::int64_t>(value, Kind::Int64, "quarn_value_get_int64");
}
QUARN_API std::ptrdiff_t quarn_value_get_isize(const quarn_value *value) noexcept {
    return number<std::ptrdiff_t>(value, Kind::ISize, "quarn_value_get_isize");
}
QUARN_API double quarn_value_get_float(const quarn_value *value) noexcept {
    return std::bit_cast<double>(number<std::uint64_t>(value, Kind::Float, "quarn_value_get_float"));
}
QUARN_API float quarn_value_get_float32(const quarn_value *value) noexcept {
    return std::bit_cast<float>(number<std::uint32_t>(value, Kind::Float32, "quarn_value_get_float32"));
}
QUARN_API std::uint32_t quarn_value_get_char(const quarn_value *value) noexcept {
    return number<std::uint32_t>(value, Kind::Char, "quarn_value_get_char");
}

QUARN_API const char *quarn_value_get_string(const quarn_value *value, std::size_t *length) noexcept {
    const quarn_value &v = expect_kind(value, Kind::String, "quarn_value_get_string");
    if (length != nullptr) *length = v.bytes.size();
    return reinterpret_cast<const char *>(quarn::capi::storage(v));
}

QUARN_API const std::uint8_t *quarn_value_get_bytes(const quarn_value *value, std::size_t *length) noexcept {
    const quarn_value &v = expect_kind(value, Kind::ByteArray, "quarn_value_get_bytes");
    if (length != nullptr) *length = v.bytes.size();
    return quarn::capi::storage(v);
}

QUARN_API const double *quarn_value_get_floats(const quarn_value *value, std::size_t *count) noexcept {
    const quarn_value &v = expect_kind(value, Kind::FloatArray, "quarn_value_get_floats");
    if (count != nullptr) *count = v.bytes.size() / sizeof(double);
    return reinterpret_cast<const double *>(quarn::capi::storage(v));
}

QUARN_API char *quarn_value_string_dup(const quarn_value *value) noexcept {
    const quarn_value &v = expect_kind(value, Kind::String, "quarn_value_string_dup");
    if (!v.bytes.empty() && std::memchr(v.bytes.data(), 0, v.bytes.size()) != nullptr) return nullptr;
    char *text = quarn::PanicAllocator<char>().allocate(v.bytes.size() + 1);
    if (!v.bytes.empty()) std::memcpy(text, v.bytes.data(), v.bytes.size());
    text[v.bytes.size()] = '\0';
    return text;
}

QUARN_API const quarn_value *quarn_value_get_option(const quarn_value *value) noexcept {
    const quarn_value &v = expect_kind(value, Kind::Option, "quarn_value_get_option");
    return v.children.empty() ? nullptr : v.children[0];
}

QUARN_API int quarn_value_is_ok(const quarn_value *value) noexcept {
    return expect_kind(value, Kind::Except, "quarn_value_is_ok").flag;
}

QUARN_API const quarn_value *quarn_value_get_except(const quarn_value *value) noexcept {
    return expect_kind(value, Kind::Except, "quarn_value_get_except").children[0];
}

QUARN_API const quarn_value *quarn_value_first(const quarn_value *value) noexcept {
    return expect_kind(value, Kind::Prod, "quarn_value_first").children[0];
}

QUARN_API const quarn_value *quarn_value_second(const quarn_value *value) noexcept {
    return expect_kind(value, Kind::Prod, "quarn_value_second").children[1];
}

QUARN_API std::size_t quarn_value_count(const quarn_value *value) noexcept {
    return expect_kind(value, Kind::List, Kind::Array, "quarn_value_count").children.size();
}

QUARN_API const quarn_value *quarn_value_item(const quarn_value *value, std::size_t index) noexcept {
    constexpr std::string_view kFunction = "quarn_value_item";
    return &quarn::capi::element_of(expect_kind(value, Kind::List, Kind::Array, kFunction), index,
                                    "index", kFunction);
}

QUARN_API std::uint32_t quarn_value_ctor_index(const quarn_value *value) noexcept {
    return number<std::uint32_t>(value, Kind::Inductive, "quarn_value_ctor_index");
}

QUARN_API std::size_t quarn_value_field_count(const quarn_value *value) noexcept {
    return expect_kind(value, Kind::Inductive, "quarn_value_field_count").children.size();
}

QUARN_API const quarn_value *quarn_value_field(const quarn_value *value, std::size_t index) noexcept {
    constexpr std::string_view kFunction = "quarn_value_field";
    return &quarn::capi::element_of(expect_kind(value, Kind::Inductive, kFunction), index, "field",
                                    kFunction);
}

QUARN_API const quarn_value *quarn_value_ctor_field(const quarn_value *value, std::uint32_t ctor,
                                                    std::size_t index) noexcept {
    constexpr std::string_view kFunction = "quarn_value_ctor_field";
    const quarn_value &v = expect_kind(value, Kind::Inductive, kFunction);
    if (v.bits != ctor)
        quarn::capi::fatal(kFunction, "the value is constructor ", quarn::capi::unsigned_decimal(v.bits),
                           ", not constructor ", quarn::capi::unsigned_decimal(ctor));
    return &quarn::capi::element_of(v, index, "field", kFunction);
}

}  // extern "C"

#include "capi/value_print.h"

#include <gmp.h>

#include <bit>
#include <cstdio>

#include "capi/types.h"
#include "capi/value_record.h"

namespace quarn::capi {
namespace {

constexpr int kMaxDepth = 6;                 // deeper values print as "..."
constexpr std::size_t kMaxItems = 8;         // items of a list, array or constructor
constexpr std::size_t kMaxTextBytes = 48;    // bytes of a string
constexpr std::size_t kMaxNumberBytes = 64;  // magnitudes longer than this print their size

void append_number(Text &out, const quarn_value &v) {
    if (v.bytes.size() > kMaxNumberBytes) {
        out += "a number of ";
        out += unsigned_decimal(v.bytes.size());
        out += " bytes";
        return;
    }
    mpz_t n;
    mpz_init(n);
    mpz_import(n, v.bytes.size(), -1, 1, -1, 0, v.bytes.data());
    char digits[kMaxNumberBytes * 3 + 2];  // 256^64 has fewer than 3 * 64 decimal digits
    mpz_get_str(digits, 10, n);
    mpz_clear(n);
    if (v.flag != 0) out += '-';
    out += digits;
}

void append_signed(Text &out, std::uint64_t bits) {
    auto n = static_cast<std::int64_t>(bits);
    if (n < 0) out += '-';
    out += unsigned_decimal(n < 0 ? 0 - bits : bits);
}

void append_float(Text &out, double x, int digits) {
    char text[40];
    int n = std::snprintf(text, sizeof text, "%.*g", digits, x);
    out.append(text, static_cast<std::size_t>(n));
}

void append_string(Text &out, const quarn_value &v) {
    out += '"';
    std::size_t shown = v.bytes.size() < kMaxTextBytes ? v.bytes.size() : kMaxTextBytes;
    for (std::size_t i = 0; i < shown; ++i) {
        char c = static_cast<char>(v.bytes[i]);
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    if (shown < v.bytes.size()) out += "...";
}

void append_value(Text &out, const quarn_value &v, int depth);

void append_items(Text &out, const quarn_value &v, int depth) {
    for (std::size_t i = 0; i < v.children.size() && i < kMaxItems; ++i) {
        if (i != 0) out += ", ";
        append_value(out, *v.children[i], depth + 1);
    }
    if (v.children.size() > kMaxItems) {
        out += ", ... ";
        out += unsigned_decimal(v.children.size());
        out += " items";
    }
}

void append_value(Text &out, const quarn_value &v, int depth) {
    if (v.kind == Kind::Inductive) {
        out += "Ctor";
    } else if (v.kind == Kind::Opaque) {
        out += "Opaque";
    } else {
        out += kind_name(v.kind);
    }
    if (v.kind == Kind::Unit) return;
    if (depth >= kMaxDepth) {
        out += "(...)";
        return;
    }
    switch (v.kind) {
    case Kind::Except:
        out += v.flag != 0 ? "{value: " : "{error: ";
        append_value(out, *v.children[0], depth + 1);
        out += '}';
        return;
    case Kind::Function:
        out += "{kind: ";
        out += unsigned_decimal(v.flag);
        out += ", id: ";
        out += unsigned_decimal(v.bits);
        out += '}';
        return;
    case Kind::Inductive:
        out += "{index: ";
        out += unsigned_decimal(v.bits);
        out += ", fields: [";
        append_items(out, v, depth);
        out += "]}";
        return;
    default:
        break;
    }
    out += '(';
    switch (v.kind) {
    case Kind::Nat:
    case Kind::Int: append_number(out, v); break;
    case Kind::Bool: out += v.bits != 0 ? "true" : "false"; break;
    case Kind::UInt8:
    case Kind::UInt16:
    case Kind::UInt32:
    case Kind::UInt64:
    case Kind::USize:
    case Kind::Opaque: out += unsigned_decimal(v.bits); break;
    case Kind::Int8:
    case Kind::Int16:
    case Kind::Int32:
    case Kind::Int64:
    case Kind::ISize: append_signed(out, v.bits); break;
    case Kind::Float: append_float(out, std::bit_cast<double>(v.bits), 17); break;
    case Kind::Float32:
        append_float(out, std::bit_cast<float>(static_cast<std::uint32_t>(v.bits)), 9);
        break;
    case Kind::Char: {
        char text[16];
        int n = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(v.bits));
        out.append(text, static_cast<std::size_t>(n));
        break;
    }
    case Kind::String: append_string(out, v); break;
    case Kind::ByteArray:
        out += unsigned_decimal(v.bytes.size());
        out += " bytes";
        break;
    case Kind::FloatArray:
        out += unsigned_decimal(v.bytes.size() / sizeof(double));
        out += " values";
        break;
    case Kind::Option:
        if (v.children.empty()) {
            out += "none";
        } else {
            append_value(out, *v.children[0], depth + 1);
        }
        break;
    default: append_items(out, v, depth); break;  // List, Array, Prod
    }
    out += ')';
}

}  // namespace

Text print_value(const quarn_value &v) {
    Text out;
    append_value(out, v, 0);
    return out;
}

}  // namespace quarn::capi

// Wire bytes to host values. The tree is built top-down: each record is linked into its
// parent as soon as it exists, so that a failure anywhere frees everything read so far by
// freeing the root.
#include <cstdio>

#include "capi/value_record.h"
#include "core/utf8.h"
#include "wire/type_scope.h"
#include "wire/value_codec.h"

namespace quarn::wire {
namespace {

constexpr Scope kNoArguments{};

struct Item {
    quarn_value **slot;
    ScopedType type;
};

quarn_value *place(quarn_value **slot, Kind kind) noexcept {
    *slot = capi::new_value(kind);
    return *slot;
}

// A magnitude: a u32 byte count, then the bytes with no trailing zero byte.
bool read_magnitude(Reader &in, quarn_value &v) {
    std::uint32_t n = 0;
    const std::uint8_t *bytes = nullptr;
    if (!in.count(n) || !in.take(n, bytes)) return false;
    if (n != 0 && bytes[n - 1] == 0) return in.fail({"a number's magnitude has a leading zero byte"});
    v.bytes.assign(bytes, bytes + n);
    return true;
}

bool read_bytes(Reader &in, quarn_value &v, std::size_t element_size) {
    std::uint32_t n = 0;
    const std::uint8_t *bytes = nullptr;
    if (!in.count(n, element_size) || !in.take(n * element_size, bytes)) return false;
    v.bytes.assign(bytes, bytes + n * element_size);
    return true;
}

// A fixed-width number of `width` bytes, sign-extended when `is_signed`.
bool read_fixed(Reader &in, quarn_value &v, int width, bool is_signed) {
    const std::uint8_t *bytes = nullptr;
    if (!in.take(static_cast<std::size_t>(width), bytes)) return false;
    std::uint64_t bits = 0;
    std::memcpy(&bits, bytes, static_cast<std::size_t>(width));
    if (is_signed && width < 8) {
        int shift = 64 - 8 * width;
        bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(bits << shift) >> shift);
    }
    v.bits = bits;
    return true;
}

bool read_tag(Reader &in, std::uint8_t &tag, std::string_view what) {
    if (!in.u8(tag)) return false;
    if (tag <= 1) return true;
    return in.fail({what, " ", decimal(tag)});
}

bool is_scalar_value(std::uint32_t c) noexcept { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

}  // namespace

quarn_value *read_value(Reader &in, const TypeExpr &root_type, const quarn_types *table) {
    quarn_value *root = nullptr;
    ScopeArena scopes;
    EmptyParts empty;
    Vector<Item> pending;
    pending.push_back({&root, {&root_type, nullptr}});
    Text error;
    auto fail = [&]() -> quarn_value * {
        capi::free_tree(root, capi::Handles::Keep, {});
        return nullptr;
    };
    while (!pending.empty()) {
        Item item = pending.back();
        pending.pop_back();
        ScopedType t = item.type;
        if (!empty.add_part(in.consumed(), error) || !scopes.resolve(t, error)) {
            in.fail({error});
            return fail();
        }
        const TypeExpr &type = *t.type;
        bool ok = true;
        switch (type.kind) {
        case Kind::Nat: ok = read_magnitude(in, *place(item.slot, Kind::Nat)); break;
        case Kind::Int: {
            quarn_value &v = *place(item.slot, Kind::Int);
            ok = read_tag(in, v.flag, "invalid Int sign") && read_magnitude(in, v);
            if (ok && v.flag != 0 && v.bytes.empty())
                ok = in.fail({"negative zero is not a canonical Int"});
            break;
        }
        case Kind::Bool: {
            std::uint8_t b = 0;
            ok = read_tag(in, b, "invalid Bool");
            place(item.slot, Kind::Bool)->bits = b;
            break;
        }
        case Kind::UInt8: ok = read_fixed(in, *place(item.slot, type.kind), 1, false); break;
        case Kind::UInt16: ok = read_fixed(in, *place(item.slot, type.kind), 2, false); break;
        case Kind::UInt32:
        case Kind::Float32: ok = read_fixed(in, *place(item.slot, type.kind), 4, false); break;
        case Kind::UInt64:
        case Kind::USize:
        case Kind::Int64:
        case Kind::ISize:
        case Kind::Float: ok = read_fixed(in, *place(item.slot, type.kind), 8, false); break;
        case Kind::Int8: ok = read_fixed(in, *place(item.slot, type.kind), 1, true); break;
        case Kind::Int16: ok = read_fixed(in, *place(item.slot, type.kind), 2, true); break;
        case Kind::Int32: ok = read_fixed(in, *place(item.slot, type.kind), 4, true); break;
        case Kind::Char: {
            std::uint32_t c = 0;
            ok = in.u32(c);
            if (ok && !is_scalar_value(c)) {
                char hex[16];
                int n = std::snprintf(hex, sizeof hex, "0x%x", c);
                ok = in.fail({std::string_view(hex, static_cast<std::size_t>(n)),
                              " is not a Unicode scalar value"});
            }
            if (ok) place(item.slot, Kind::Char)->bits = c;
            break;
        }
        case Kind::String: {
            quarn_value &v = *place(item.slot, Kind::String);
            ok = read_bytes(in, v, 1);
            if (ok && !utf8::is_valid_utf8(reinterpret_cast<const char *>(v.bytes.data()), v.bytes.size()))
                ok = in.fail({"a String is not valid UTF-8"});
            break;
        }
        case Kind::Unit: place(item.slot, Kind::Unit); break;
        case Kind::ByteArray: ok = read_bytes(in, *place(item.slot, Kind::ByteArray), 1); break;
        case Kind::FloatArray:
            ok = read_bytes(in, *place(item.slot, Kind::FloatArray), sizeof(double));
            break;
        case Kind::Option: {
            std::uint8_t tag = 0;
            if (!(ok = read_tag(in, tag, "invalid Option tag"))) break;
            quarn_value &v = *place(item.slot, Kind::Option);
            v.flag = tag;
            if (tag == 1) {
                v.children.push_back(nullptr);
                pending.push_back({&v.children[0], {&type.children[0], t.scope}});
            }
            break;
        }
        case Kind::List:
        case Kind::Array: {
            std::uint32_t count = 0;
            ScopedType element{&type.children[0], t.scope};
            if (!(ok = in.u32(count))) break;
            if (takes_no_bytes(element, table, scopes)) {
                if (!empty.add_elements(count, error)) ok = in.fail({error});
            } else if (count > in.remaining()) {
                ok = in.fail({"a length of ", decimal(count), " exceeds the remaining wire data"});
            }
            if (!ok) break;
            quarn_value &v = *place(item.slot, type.kind);
            v.children.resize(count, nullptr);
            for (std::size_t i = count; i-- > 0;) pending.push_back({&v.children[i], element});
            break;
        }
        case Kind::Prod: {
            quarn_value &v = *place(item.slot, Kind::Prod);
            v.children.resize(2, nullptr);
            pending.push_back({&v.children[1], {&type.children[1], t.scope}});
            pending.push_back({&v.children[0], {&type.children[0], t.scope}});
            break;
        }
        case Kind::Except: {
            std::uint8_t side = 0;
            if (!(ok = read_tag(in, side, "invalid Except tag"))) break;
            quarn_value &v = *place(item.slot, Kind::Except);
            v.flag = side;
            v.children.push_back(nullptr);
            pending.push_back({&v.children[0], {&type.children[side], t.scope}});
            break;
        }
        case Kind::Function: {
            std::uint8_t kind = 0;
            std::uint64_t id = 0;
            if (!(ok = read_tag(in, kind, "invalid function kind") && in.u64(id))) break;
            quarn_value &v = *place(item.slot, Kind::Function);
            v.flag = kind;
            v.bits = id;
            break;
        }
        case Kind::Opaque: {
            std::uint64_t handle = 0;
            if ((ok = in.u64(handle))) place(item.slot, Kind::Opaque)->bits = handle;
            break;
        }
        case Kind::Inductive: {
            const capi::Definition *d = definition_of(type, table, error);
            if (d == nullptr) {
                ok = in.fail({error});
                break;
            }
            if (d->opaque) {
                std::uint64_t handle = 0;
                if ((ok = in.u64(handle))) place(item.slot, Kind::Opaque)->bits = handle;
                break;
            }
            const Scope *scope = type.children.empty() ? &kNoArguments : scopes.open(type, t.scope);
            std::uint32_t index = 0;
            if (d->trivial) {
                const capi::Constructor &c = d->constructors[0];
                if (d->trivial_field != 0 || c.fields.size() != 1) {
                    ok = in.fail({d->name, " is represented by one of several fields"});
                    break;
                }
                if (!check_trivial_chain(*d, scope, table, scopes, error)) {
                    ok = in.fail({error});
                    break;
                }
            } else {
                if (!(ok = in.u32(index))) break;
                if (index >= d->constructors.size()) {
                    ok = in.fail({"constructor index ", decimal(index), " of ", d->name});
                    break;
                }
            }
            const capi::Constructor &c = d->constructors[index];
            quarn_value &v = *place(item.slot, Kind::Inductive);
            v.bits = index;
            v.children.resize(c.fields.size(), nullptr);
            for (std::size_t i = c.fields.size(); i-- > 0;)
                pending.push_back({&v.children[i], {&c.fields[i].type, scope}});
            break;
        }
        default:  // Param is resolved above
            ok = in.fail({"unknown type tag ", decimal(static_cast<int>(type.kind))});
            break;
        }
        if (!ok) return fail();
    }
    return root;
}

quarn_value *decode_value(const std::uint8_t *bytes, std::size_t length, const TypeExpr &t,
                          const quarn_types *table, Text &error) {
    Reader in(bytes, length);
    quarn_value *v = read_value(in, t, table);
    if (v != nullptr && !in.at_end()) {
        capi::free_tree(v, capi::Handles::Keep, {});
        in.fail({decimal(static_cast<long long>(in.remaining())), " unexpected bytes after the wire data"});
        v = nullptr;
    }
    if (v == nullptr) error = in.take_error();
    return v;
}

}  // namespace quarn::wire

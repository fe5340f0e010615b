// Host value to wire bytes.
#include "capi/type_expr.h"
#include "capi/value_print.h"
#include "capi/value_record.h"
#include "wire/type_scope.h"
#include "wire/value_codec.h"

namespace quarn::wire {
namespace {

constexpr Scope kNoArguments{};

struct Item {
    const quarn_value *value;
    ScopedType type;
};

[[noreturn]] void length_limit() noexcept {
    internal_panic("a value exceeds the wire format's 2^32 length limit");
}

std::uint32_t wire_length(std::size_t n) noexcept {
    if (n > UINT32_MAX) length_limit();
    return static_cast<std::uint32_t>(n);
}

bool mismatch(const quarn_value &v, ScopedType t, const ScopeArena &scopes, Text &error) {
    Text value_text = capi::print_value(v);
    Text type_form = capi::type_text(instantiate_for_message(t, scopes));
    error.assign("a value ").append(value_text).append(" is not of type ").append(type_form);
    return false;
}

void write_bytes(ByteSink &out, const quarn_value &v) noexcept {
    out.u32(wire_length(v.bytes.size()));
    out.bytes(v.bytes.data(), v.bytes.size());
}

// The fixed-width numbers, by type kind: how many bytes of the value's bits are written.
int fixed_width(Kind kind) noexcept {
    switch (kind) {
    case Kind::Bool:
    case Kind::UInt8:
    case Kind::Int8: return 1;
    case Kind::UInt16:
    case Kind::Int16: return 2;
    case Kind::UInt32:
    case Kind::Int32:
    case Kind::Float32:
    case Kind::Char: return 4;
    case Kind::UInt64:
    case Kind::USize:
    case Kind::Int64:
    case Kind::ISize:
    case Kind::Float: return 8;
    default: return 0;
    }
}

}  // namespace

bool write_value(const quarn_value &root, const TypeExpr &root_type, const quarn_types *table,
                 ByteSink &out, Text &error) {
    ScopeArena scopes;
    EmptyParts empty;
    Vector<Item> pending;
    pending.push_back({&root, {&root_type, nullptr}});
    while (!pending.empty()) {
        Item item = pending.back();
        pending.pop_back();
        ScopedType t = item.type;
        if (!scopes.resolve(t, error)) return false;
        const TypeExpr &type = *t.type;
        const quarn_value &v = *item.value;

        if (type.kind == Kind::Inductive) {
            const capi::Definition *d = definition_of(type, table, error);
            if (d == nullptr) return false;
            if (d->opaque) {
                if (v.kind == Kind::Opaque) {
                    out.u64(v.bits);
                    continue;
                }
                if (v.kind != Kind::Inductive) return mismatch(v, t, scopes, error);
                error.assign(d->name).append(" is opaque: its values are handles, not constructors");
                return false;
            }
            if (v.kind != Kind::Inductive) return mismatch(v, t, scopes, error);
            if (v.bits >= d->constructors.size()) {
                error.assign("constructor index ")
                    .append(capi::unsigned_decimal(v.bits))
                    .append(" of ")
                    .append(d->name);
                return false;
            }
            const capi::Constructor &c = d->constructors[v.bits];
            if (v.children.size() != c.fields.size()) {
                error.assign(c.name)
                    .append(" takes ")
                    .append(decimal(static_cast<long long>(c.fields.size())))
                    .append(" fields, not ")
                    .append(decimal(static_cast<long long>(v.children.size())));
                return false;
            }
            const Scope *scope = type.children.empty() ? &kNoArguments : scopes.open(type, t.scope);
            if (d->trivial) {
                if (!check_trivial_chain(*d, scope, table, scopes, error)) return false;
                pending.push_back({v.children[d->trivial_field], {&c.fields[d->trivial_field].type, scope}});
                continue;
            }
            out.u32(static_cast<std::uint32_t>(v.bits));
            for (std::size_t i = c.fields.size(); i-- > 0;)
                pending.push_back({v.children[i], {&c.fields[i].type, scope}});
            continue;
        }

        if (v.kind != type.kind) return mismatch(v, t, scopes, error);
        if (int width = fixed_width(type.kind); width != 0) {
            out.low_bytes(v.bits, static_cast<std::size_t>(width));
            continue;
        }
        switch (type.kind) {
        case Kind::Nat: write_bytes(out, v); break;
        case Kind::Int:
            out.u8(v.flag);
            write_bytes(out, v);
            break;
        case Kind::String:
        case Kind::ByteArray: write_bytes(out, v); break;
        case Kind::FloatArray:
            out.u32(wire_length(v.bytes.size() / sizeof(double)));
            out.bytes(v.bytes.data(), v.bytes.size());
            break;
        case Kind::Unit: break;
        case Kind::Option:
            out.u8(v.children.empty() ? 0 : 1);
            if (!v.children.empty()) pending.push_back({v.children[0], {&type.children[0], t.scope}});
            break;
        case Kind::List:
        case Kind::Array: {
            std::uint32_t count = wire_length(v.children.size());
            ScopedType element{&type.children[0], t.scope};
            if (takes_no_bytes(element, table, scopes) && !empty.add_elements(count, error)) return false;
            out.u32(count);
            for (std::size_t i = count; i-- > 0;) pending.push_back({v.children[i], element});
            break;
        }
        case Kind::Prod:
            pending.push_back({v.children[1], {&type.children[1], t.scope}});
            pending.push_back({v.children[0], {&type.children[0], t.scope}});
            break;
        case Kind::Except:
            out.u8(v.flag);
            pending.push_back({v.children[0], {&type.children[v.flag != 0 ? 1 : 0], t.scope}});
            break;
        case Kind::Function:
            out.u8(v.flag);
            out.u64(v.bits);
            break;
        case Kind::Opaque: out.u64(v.bits); break;
        default: return mismatch(v, t, scopes, error);
        }
    }
    return true;
}

bool write_value_to_buffer(const quarn_value &v, const quarn_type &type, quarn_buffer *buffer,
                           std::string_view function, Text &error) {
    capi::require_empty(buffer, function);
    ByteSink out;
    if (!write_value(v, type.expr, type.table, out, error)) return false;
    out.hand_over(buffer, function);
    return true;
}

}  // namespace quarn::wire

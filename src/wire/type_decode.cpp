#include "wire/type_decode.h"

#include "capi/type_expr.h"

namespace quarn::wire {

namespace {

using capi::Kind;
using capi::TypeExpr;

bool decode_children(Reader &reader, TypeExpr &out, std::size_t count, std::size_t depth);

bool decode_at(Reader &reader, TypeExpr &out, std::size_t depth) {
    if (depth > capi::kMaxTypeDepth) {
        Text message = capi::too_deep_message();
        return reader.fail({message});
    }
    std::uint8_t kind;
    if (!reader.u8(kind)) return false;
    if (kind > capi::kLastKind) return reader.fail({"unknown type tag ", decimal(kind)});
    out.kind = static_cast<Kind>(kind);
    switch (out.kind) {
        case Kind::Option:
        case Kind::List:
        case Kind::Array:
            return decode_children(reader, out, 1, depth);
        case Kind::Prod:
        case Kind::Except:
            return decode_children(reader, out, 2, depth);
        case Kind::Function: {
            std::uint32_t params;
            if (!reader.count(params)) return false;
            // The parameters, then the result.
            return decode_children(reader, out, std::size_t{params} + 1, depth);
        }
        case Kind::Param:
            return reader.u32(out.index);
        case Kind::Inductive: {
            std::uint32_t args;
            if (!reader.u32(out.index) || !reader.count(args)) return false;
            return decode_children(reader, out, args, depth);
        }
        default:
            return true;
    }
}

bool decode_children(Reader &reader, TypeExpr &out, std::size_t count, std::size_t depth) {
    out.children.resize(count);
    for (TypeExpr &child : out.children)
        if (!decode_at(reader, child, depth + 1)) return false;
    return true;
}

}  // namespace

bool decode_type_expr(Reader &reader, capi::TypeExpr &out) { return decode_at(reader, out, 1); }

}  // namespace quarn::wire

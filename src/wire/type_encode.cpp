#include "wire/type_encode.h"

namespace quarn::wire {

using capi::Kind;
using capi::TypeExpr;

void encode_type_expr(const TypeExpr &type, ByteSink &out) noexcept {
    out.u8(static_cast<std::uint8_t>(type.kind));
    switch (type.kind) {
        case Kind::Function:
            // The children are the parameters, then the result.
            out.u32(static_cast<std::uint32_t>(type.children.size() - 1));
            break;
        case Kind::Param:
            out.u32(type.index);
            return;
        case Kind::Inductive:
            out.u32(type.index);
            out.u32(static_cast<std::uint32_t>(type.children.size()));
            break;
        default:
            break;
    }
    for (const TypeExpr &child : type.children) encode_type_expr(child, out);
}

}  // namespace quarn::wire

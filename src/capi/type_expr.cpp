#include "capi/type_expr.h"

#include <algorithm>

namespace quarn::capi {

namespace {

constexpr std::string_view kKindNames[] = {
    "Nat",     "Int",       "Bool",       "UInt8",  "UInt16",   "UInt32", "UInt64", "USize",
    "Int8",    "Int16",     "Int32",      "Int64",  "ISize",    "Float",  "Float32", "Char",
    "String",  "Unit",      "ByteArray",  "FloatArray", "Option", "List", "Array",  "Prod",
    "Except",  "Function",  "Param",      "Inductive", "Opaque",
};
static_assert(std::size(kKindNames) == kLastKind + 1);

bool instantiate_at(const TypeExpr &type, std::span<const TypeExpr> args, TypeExpr &out,
                    std::size_t depth, Text &error) {
    if (type.kind == Kind::Param) {
        if (type.index >= args.size()) {
            error.clear();
            append_pieces(error, {"type parameter ", decimal(type.index), " of ",
                                  decimal(static_cast<long long>(args.size())),
                                  " is not instantiated"});
            return false;
        }
        const TypeExpr &arg = args[type.index];
        if (depth + type_depth(arg) - 1 > kMaxTypeDepth) {
            error = too_deep_message();
            return false;
        }
        out = arg;
        return true;
    }
    if (depth > kMaxTypeDepth) {
        error = too_deep_message();
        return false;
    }
    out.kind = type.kind;
    out.index = type.index;
    out.children.clear();
    out.children.resize(type.children.size());
    for (std::size_t i = 0; i < type.children.size(); ++i)
        if (!instantiate_at(type.children[i], args, out.children[i], depth + 1, error))
            return false;
    return true;
}

void append_list(Text &out, const TypeExpr *first, const TypeExpr *last) {
    out.push_back('[');
    for (const TypeExpr *t = first; t != last; ++t) {
        if (t != first) out.append(", ");
        append_type_text(out, *t);
    }
    out.push_back(']');
}

}  // namespace

std::string_view kind_name(Kind kind) noexcept {
    auto k = static_cast<std::uint8_t>(kind);
    return k <= kLastKind ? kKindNames[k] : std::string_view("an unknown kind");
}

Text too_deep_message() {
    Text message("a type expression nested more than ");
    message.append(decimal(static_cast<long long>(kMaxTypeDepth)));
    message.append(" deep");
    return message;
}

std::size_t type_depth(const TypeExpr &type) noexcept {
    std::size_t deepest = 0;
    for (const TypeExpr &child : type.children) deepest = std::max(deepest, type_depth(child));
    return deepest + 1;
}

bool check_type(const quarn_types &table, std::uint32_t parameters, const TypeExpr &type,
                Text &error) {
    switch (type.kind) {
        case Kind::Function: {
            std::size_t count = type.children.size() - 1;
            if (count < 1 || count > 15) {
                error.clear();
                append_pieces(error, {"a function type with ",
                                      decimal(static_cast<long long>(count)), " parameters"});
                return false;
            }
            break;
        }
        case Kind::Param:
            if (type.index >= parameters) {
                error.clear();
                append_pieces(error, {"type parameter ", decimal(type.index), " of ",
                                      decimal(parameters)});
                return false;
            }
            return true;
        case Kind::Inductive: {
            if (type.index >= table.definitions.size()) {
                error.clear();
                append_pieces(error, {"type index ", decimal(type.index),
                                      " outside the type table"});
                return false;
            }
            const Definition &definition = table.definitions[type.index];
            if (type.children.size() != definition.parameters) {
                error.clear();
                append_pieces(error, {definition.name, " applied to ",
                                      decimal(static_cast<long long>(type.children.size())),
                                      " arguments"});
                return false;
            }
            break;
        }
        default:
            break;
    }
    for (const TypeExpr &child : type.children)
        if (!check_type(table, parameters, child, error)) return false;
    return true;
}

bool instantiate(const TypeExpr &type, std::span<const TypeExpr> args, TypeExpr &out,
                 Text &error) {
    return instantiate_at(type, args, out, 1, error);
}

bool has_param(const TypeExpr &type) noexcept {
    if (type.kind == Kind::Param) return true;
    for (const TypeExpr &child : type.children)
        if (has_param(child)) return true;
    return false;
}

void append_type_text(Text &out, const TypeExpr &type) {
    out.append(kind_name(type.kind));
    const TypeExpr *children = type.children.data();
    std::size_t count = type.children.size();
    switch (type.kind) {
        case Kind::Option:
        case Kind::List:
        case Kind::Array:
            out.push_back('(');
            append_type_text(out, children[0]);
            out.push_back(')');
            break;
        case Kind::Prod:
            out.push_back('(');
            append_type_text(out, children[0]);
            out.append(", ");
            append_type_text(out, children[1]);
            out.push_back(')');
            break;
        case Kind::Param:
            append_pieces(out, {"(", decimal(type.index), ")"});
            break;
        case Kind::Except:
            out.append("{error: ");
            append_type_text(out, children[0]);
            out.append(", value: ");
            append_type_text(out, children[1]);
            out.push_back('}');
            break;
        case Kind::Function:
            out.append("{params: ");
            append_list(out, children, children + count - 1);
            out.append(", result: ");
            append_type_text(out, children[count - 1]);
            out.push_back('}');
            break;
        case Kind::Inductive:
            append_pieces(out, {"{index: ", decimal(type.index), ", args: "});
            append_list(out, children, children + count);
            out.push_back('}');
            break;
        default:
            break;
    }
}

Text type_text(const TypeExpr &type) {
    Text out;
    append_type_text(out, type);
    return out;
}

}  // namespace quarn::capi

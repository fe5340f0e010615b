#include "wire/type_plan.h"

#include "capi/type_expr.h"

namespace quarn::wire {

using capi::Kind;
using capi::TypeExpr;

bool TypePlan::add(const TypeExpr &type, std::uint32_t &node, Text &error) {
    if (capi::type_depth(type) > capi::kMaxTypeDepth) {
        error = capi::too_deep_message();
        return false;
    }
    return intern(type, node, error);
}

bool TypePlan::intern(const TypeExpr &type, std::uint32_t &node, Text &error) {
    // The print form names an expression exactly, so it serves as the key.
    Text key = capi::type_text(type);
    if (auto found = ids_.find(key); found != ids_.end()) {
        node = found->second;
        return true;
    }
    PlanNode fresh;
    fresh.kind = type.kind;
    fresh.index = type.index;
    switch (type.kind) {
        case Kind::Option:
        case Kind::List:
        case Kind::Array:
            if (!intern(type.children[0], fresh.children[0], error)) return false;
            break;
        case Kind::Prod:
        case Kind::Except:
            if (!intern(type.children[0], fresh.children[0], error) ||
                !intern(type.children[1], fresh.children[1], error))
                return false;
            break;
        case Kind::Inductive:
            fresh.args = type.children;
            break;
        default:
            break;
    }
    node = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back(std::move(fresh));
    ids_.emplace(std::move(key), node);
    return true;
}

bool TypePlan::resolve(std::uint32_t node, Text &error) {
    if (nodes_[node].resolved) return true;
    std::uint32_t index = nodes_[node].index;
    std::size_t definitions = table_ == nullptr ? 0 : table_->definitions.size();
    if (index >= definitions) {
        error.clear();
        capi::append_pieces(error, {"type index ", decimal(index), " outside the type table"});
        return false;
    }
    const capi::Definition &definition = table_->definitions[index];
    if (nodes_[node].args.size() != definition.parameters) {
        error.clear();
        capi::append_pieces(error, {definition.name, " applied to ",
                                    decimal(static_cast<long long>(nodes_[node].args.size())),
                                    " arguments"});
        return false;
    }
    // The arguments are copied: interning below may move the nodes.
    Vector<TypeExpr> args = nodes_[node].args;
    Vector<PlanConstructor> constructors;
    constructors.reserve(definition.constructors.size());
    TypeExpr field_type;
    for (const capi::Constructor &c : definition.constructors) {
        PlanConstructor plan{&c, {}};
        plan.fields.reserve(c.fields.size());
        for (const capi::Field &f : c.fields) {
            std::uint32_t field_node;
            if (!capi::instantiate(f.type, args, field_type, error) ||
                !intern(field_type, field_node, error))
                return false;
            plan.fields.push_back(PlanField{f.kind, f.repr, f.position, field_node});
        }
        constructors.push_back(std::move(plan));
    }
    PlanNode &n = nodes_[node];
    n.definition = &definition;
    n.opaque = definition.opaque;
    n.trivial = definition.trivial;
    if (n.trivial) n.alias = constructors[0].fields[definition.trivial_field].node;
    n.constructors = std::move(constructors);
    n.resolved = true;
    return true;
}

bool TypePlan::representation(std::uint32_t node, std::uint32_t &out, Text &error) {
    std::uint32_t start = node;
    // A chain longer than the number of nodes has come back to a node it passed.
    for (std::size_t steps = 0;; ++steps) {
        if (nodes_[node].kind != Kind::Inductive) break;
        if (!resolve(node, error)) return false;
        if (!nodes_[node].trivial) break;
        if (steps > nodes_.size()) {
            error.clear();
            capi::append_pieces(error, {nodes_[start].definition->name, " is represented by itself"});
            return false;
        }
        node = nodes_[node].alias;
    }
    out = node;
    return true;
}

bool TypePlan::zero_size(std::uint32_t node, bool &out, Text &error) {
    return zero_size_at(node, 1, out, error);
}

bool TypePlan::zero_size_at(std::uint32_t node, std::size_t depth, bool &out, Text &error) {
    // Pairs nest no deeper than their type unless a trivial structure contains its own
    // pair; such a type has no finite values, and the decoder's budget stops it.
    if (depth > capi::kMaxTypeDepth) {
        out = false;
        return true;
    }
    if (!representation(node, node, error)) return false;
    const PlanNode &n = nodes_[node];
    if (n.kind == Kind::Unit) {
        out = true;
        return true;
    }
    if (n.kind == Kind::Prod) {
        std::uint32_t first = n.children[0], second = n.children[1];
        bool a, b;
        if (!zero_size_at(first, depth + 1, a, error) || !zero_size_at(second, depth + 1, b, error))
            return false;
        out = a && b;
        return true;
    }
    out = false;
    return true;
}

}  // namespace quarn::wire

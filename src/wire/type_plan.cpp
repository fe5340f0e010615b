#include "wire/type_plan.h"

#include "capi/type_expr.h"

#include <new>

namespace quarn::wire {

using capi::Kind;
using capi::TypeExpr;

namespace {

// Whether values of a representing node are read and written without visiting other values.
bool is_leaf(const PlanNode &n) noexcept {
    switch (n.kind) {
        case Kind::Option:
        case Kind::List:
        case Kind::Array:
        case Kind::Prod:
        case Kind::Except:
            return false;
        case Kind::Inductive:
            if (n.opaque) return true;
            for (const PlanConstructor &c : n.constructors)
                if (!c.fields.empty() || c.constructor->object_fields != 0 ||
                    c.constructor->usize_fields != 0 || c.constructor->scalar_size != 0)
                    return false;
            return true;
        default:
            return true;
    }
}

}  // namespace

TypePlan::~TypePlan() {
    for (PlanNode *n : nodes_) delete n;
}

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
        case Kind::Function:
            fresh.args = type.children;
            break;
        default:
            break;
    }
    node = static_cast<std::uint32_t>(nodes_.size());
    auto *stored = new (std::nothrow) PlanNode(std::move(fresh));
    if (stored == nullptr) internal_panic(kOutOfMemory);
    nodes_.push_back(stored);
    ids_.emplace(std::move(key), node);
    return true;
}

bool TypePlan::resolve(std::uint32_t node, Text &error) {
    if (nodes_[node]->resolved) return true;
    std::uint32_t index = nodes_[node]->index;
    std::size_t definitions = table_ == nullptr ? 0 : table_->definitions.size();
    if (index >= definitions) {
        error.clear();
        capi::append_pieces(error, {"type index ", decimal(index), " outside the type table"});
        return false;
    }
    const capi::Definition &definition = table_->definitions[index];
    if (nodes_[node]->args.size() != definition.parameters) {
        error.clear();
        capi::append_pieces(error, {definition.name, " applied to ",
                                    decimal(static_cast<long long>(nodes_[node]->args.size())),
                                    " arguments"});
        return false;
    }
    // The arguments are copied: interning below may move the nodes.
    Vector<TypeExpr> args = nodes_[node]->args;
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
    PlanNode &n = *nodes_[node];
    n.definition = &definition;
    n.opaque = definition.opaque;
    n.trivial = definition.trivial;
    if (n.trivial) n.alias = constructors[0].fields[definition.trivial_field].node;
    n.constructors = std::move(constructors);
    n.resolved = true;
    return true;
}

bool TypePlan::find_representation(std::uint32_t node, std::uint32_t &out, Text &error) {
    std::uint32_t start = node;
    // A chain longer than the number of nodes has come back to a node it passed.
    for (std::size_t steps = 0;; ++steps) {
        if (nodes_[node]->kind != Kind::Inductive) break;
        if (!resolve(node, error)) return false;
        if (!nodes_[node]->trivial) break;
        if (steps > nodes_.size()) {
            error.clear();
            capi::append_pieces(error, {nodes_[start]->definition->name, " is represented by itself"});
            return false;
        }
        node = nodes_[node]->alias;
    }
    PlanNode &first = *nodes_[start];
    first.representation = node;
    first.leaf = is_leaf(*nodes_[node]);
    first.representation_known = true;
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
    const PlanNode &n = *nodes_[node];
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

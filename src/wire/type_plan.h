// A type expression prepared for the codecs: every distinct (instantiated) type that a value
// reaches becomes one node, numbered, with its children's numbers. Inductive nodes are
// resolved when a value first reaches them: the definition is looked up and checked, and
// each constructor's field types are instantiated with the node's arguments once, instead
// of at every value. Values that recurse through their own type (lists, trees) thus walk a
// small, finite graph of nodes.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "capi/types.h"
#include "core/allocator.h"

namespace quarn::wire {

struct PlanField {
    capi::FieldKind kind;
    capi::Repr repr;
    std::uint32_t position;
    std::uint32_t node;
};

struct PlanConstructor {
    const capi::Constructor *constructor;
    Vector<PlanField> fields;
};

struct PlanNode {
    capi::Kind kind;
    bool resolved = false;   // Inductive: definition checked, fields instantiated
    bool trivial = false;    // Inductive: a trivial structure, represented by `alias`
    bool opaque = false;     // Inductive: an opaque definition (values are handles)
    std::uint32_t index = 0;         // Param index, Inductive definition index
    std::uint32_t children[2] = {};  // element; first and second; error and value
    std::uint32_t alias = 0;         // trivial structure: its designated field's node
    const capi::Definition *definition = nullptr;
    Vector<capi::TypeExpr> args;     // Inductive arguments; Function parameters, then result
    Vector<PlanConstructor> constructors;
    // Filled in by the first successful representation(): the node that represents this
    // one, and whether values of that node are read and written without visiting other
    // values (numbers, strings, handles, enumerations).
    bool representation_known = false;
    bool leaf = false;
    std::uint32_t representation = 0;
};

class TypePlan {
public:
    // `table` may be null: a type without inductive nodes needs none.
    explicit TypePlan(const quarn_types *table) : table_(table) {}
    TypePlan(const TypePlan &) = delete;
    TypePlan &operator=(const TypePlan &) = delete;
    ~TypePlan();

    // The node of `type`, interned. Fails only when the expression is too deep.
    bool add(const capi::TypeExpr &type, std::uint32_t &node, Text &error);

    // The node that represents values of `node`: itself, or for trivial structures the node of
    // the designated field, followed until a node that is not a trivial structure. Inductive
    // nodes on the way are resolved. Fails with the resolution's message ("type index {}
    // outside the type table", "{} applied to {} arguments", instantiation errors), or "{} is
    // represented by itself" for trivial structures that contain themselves.
    bool representation(std::uint32_t node, std::uint32_t &out, Text &error) {
        const PlanNode &n = *nodes_[node];
        if (!n.representation_known) return find_representation(node, out, error);
        out = n.representation;
        return true;
    }

    // Whether values of `node` take no bytes at all (Unit, pairs of such, trivial structures
    // over such). Fails as representation().
    bool zero_size(std::uint32_t node, bool &out, Text &error);

    // References stay valid while the plan lives, even as nodes are added.
    // `leaf` and `representation` of a node are known once representation() succeeded on it.
    const PlanNode &operator[](std::uint32_t node) const noexcept { return *nodes_[node]; }
    const quarn_types *table() const noexcept { return table_; }

private:
    bool intern(const capi::TypeExpr &type, std::uint32_t &node, Text &error);
    bool resolve(std::uint32_t node, Text &error);
    bool find_representation(std::uint32_t node, std::uint32_t &out, Text &error);
    bool zero_size_at(std::uint32_t node, std::size_t depth, bool &out, Text &error);

    const quarn_types *table_;
    // Each node in a block of its own: resolving a node adds nodes, and references to
    // earlier ones must stay valid.
    Vector<PlanNode *> nodes_;
    struct TextHash {
        std::size_t operator()(const Text &text) const noexcept {
            return std::hash<std::string_view>{}(std::string_view(text));
        }
    };
    std::unordered_map<Text, std::uint32_t, TextHash, std::equal_to<Text>,
                       PanicAllocator<std::pair<const Text, std::uint32_t>>>
        ids_;
};

}  // namespace quarn::wire

#include "wire/type_scope.h"

#include "capi/type_expr.h"
#include "wire/object_codec.h"

namespace quarn::wire {

const Scope *ScopeArena::open(const TypeExpr &inductive, const Scope *outer) {
    if (!storage_) storage_.emplace();
    auto &arguments = storage_->arguments;
    Scope scope{arguments.size(), static_cast<std::uint32_t>(inductive.children.size())};
    Text ignored;
    for (const TypeExpr &argument : inductive.children) {
        ScopedType resolved{&argument, outer};
        if (!resolve(resolved, ignored)) resolved = {&argument, outer};  // fails again when used
        arguments.push_back(resolved);
    }
    storage_->scopes.push_back(scope);
    return &storage_->scopes.back();
}

bool ScopeArena::resolve(ScopedType &t, Text &error) const {
    while (t.type->kind == Kind::Param) {
        std::uint32_t index = t.type->index;
        if (t.scope == nullptr) {
            error.assign("an uninstantiated type parameter ").append(decimal(index));
            return false;
        }
        if (index >= t.scope->count) {
            error.assign("type parameter ")
                .append(decimal(index))
                .append(" of ")
                .append(decimal(t.scope->count))
                .append(" is not instantiated");
            return false;
        }
        // A scope exists, so the storage does.
        t = storage_->arguments[t.scope->first + index];
    }
    return true;
}

const capi::Definition *definition_of(const TypeExpr &t, const quarn_types *table, Text &error) {
    if (table == nullptr || t.index >= table->definitions.size()) {
        error.assign("type index ").append(decimal(t.index)).append(" outside the type table");
        return nullptr;
    }
    const capi::Definition &d = table->definitions[t.index];
    if (t.children.size() != d.parameters) {
        error.assign(d.name)
            .append(" applied to ")
            .append(decimal(static_cast<long long>(t.children.size())))
            .append(" arguments");
        return nullptr;
    }
    return &d;
}

bool takes_no_bytes(ScopedType t, const quarn_types *table, ScopeArena &scopes) {
    // Trivial structures may wrap each other and pairs nest: a short walk with its own stack
    // and a step budget (a type that needs more steps is treated as taking bytes). Nothing is
    // allocated for the common answer, a type that takes bytes at its root.
    constexpr int kStepBudget = static_cast<int>(capi::kMaxTypeDepth);
    ScopedType pending[kStepBudget + 1];
    int pending_count = 0;
    pending[pending_count++] = t;
    Text ignored;
    for (int steps = 0; pending_count != 0; ++steps) {
        if (steps == kStepBudget) return false;
        ScopedType next = pending[--pending_count];
        if (!scopes.resolve(next, ignored)) return false;
        switch (next.type->kind) {
        case Kind::Unit: break;
        case Kind::Prod:
            pending[pending_count++] = {&next.type->children[0], next.scope};
            pending[pending_count++] = {&next.type->children[1], next.scope};
            break;
        case Kind::Inductive: {
            const capi::Definition *d = definition_of(*next.type, table, ignored);
            if (d == nullptr || d->opaque || !d->trivial || d->constructors.size() != 1) return false;
            const capi::Constructor &c = d->constructors[0];
            if (d->trivial_field >= c.fields.size()) return false;
            pending[pending_count++] = {&c.fields[d->trivial_field].type, scopes.open(*next.type, next.scope)};
            break;
        }
        default: return false;
        }
    }
    return true;
}

bool EmptyParts::add_elements(std::uint64_t count, Text &error) {
    elements_ += count;
    if (elements_ <= kMaxZeroSizeElements) return true;
    error.assign("a value holds more than ")
        .append(decimal(kMaxZeroSizeElements))
        .append(" list or array elements that take no bytes");
    return false;
}

bool EmptyParts::add_part(std::size_t bytes_so_far, Text &error) {
    if (bytes_so_far != bytes_at_last_part_) {
        bytes_at_last_part_ = bytes_so_far;
        in_a_row_ = 0;
    }
    if (++in_a_row_ <= kMaxPartsWithoutBytes) return true;
    error.assign("a value holds more than ")
        .append(decimal(static_cast<long long>(kMaxPartsWithoutBytes)))
        .append(" parts in a row without bytes");
    return false;
}

bool check_trivial_chain(const capi::Definition &d, const Scope *field_scope,
                         const quarn_types *table, ScopeArena &scopes, Text &error) {
    ScopedType next{&d.constructors[0].fields[d.trivial_field].type, field_scope};
    Text ignored;
    for (std::size_t steps = 0; steps <= capi::kMaxTypeDepth; ++steps) {
        if (!scopes.resolve(next, ignored) || next.type->kind != Kind::Inductive) return true;
        const capi::Definition *inner = definition_of(*next.type, table, ignored);
        if (inner == nullptr || inner->opaque || !inner->trivial) return true;
        const capi::Constructor &c = inner->constructors[0];
        const Scope *scope = next.type->children.empty() ? nullptr : scopes.open(*next.type, next.scope);
        next = {&c.fields[inner->trivial_field].type, scope};
    }
    error.assign(d.name).append(" is represented by itself");
    return false;
}

namespace {

constexpr int kSubstitutionDepth = 16;

TypeExpr copy_for_message(ScopedType t, const ScopeArena &scopes, int depth) {
    Text ignored;
    ScopedType resolved = t;
    if (depth < kSubstitutionDepth && !scopes.resolve(resolved, ignored)) resolved = t;
    TypeExpr copy;
    if (depth >= kSubstitutionDepth) {
        copy = *t.type;
        return copy;
    }
    copy.kind = resolved.type->kind;
    copy.index = resolved.type->index;
    copy.children.reserve(resolved.type->children.size());
    for (const TypeExpr &child : resolved.type->children)
        copy.children.push_back(copy_for_message({&child, resolved.scope}, scopes, depth + 1));
    return copy;
}

}  // namespace

TypeExpr instantiate_for_message(ScopedType t, const ScopeArena &scopes) {
    return copy_for_message(t, scopes, 0);
}

}  // namespace quarn::wire

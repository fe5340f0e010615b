// Walking type expressions inside inductive types without copying them. Processing an
// Inductive node opens a scope holding its arguments; the Param nodes of its fields' types
// are looked up there. Each argument is resolved when the scope opens, so a lookup is one
// step however deep the walk has gone (a generic list a million cells long resolves its
// element type in constant time at every cell).
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "capi/types.h"
#include "core/allocator.h"

namespace quarn::wire {

using capi::Kind;
using capi::TypeExpr;

struct Scope;

// A type with the scope its Param nodes are read in (null: outside any inductive type).
struct ScopedType {
    const TypeExpr *type = nullptr;
    const Scope *scope = nullptr;
};

struct Scope {
    std::size_t first = 0;  // the arguments, in the arena
    std::uint32_t count = 0;
};

// The scopes of one walk. Addresses stay stable while more are opened.
class ScopeArena {
public:
    // A scope for the arguments of `inductive`, read in `outer`.
    const Scope *open(const TypeExpr &inductive, const Scope *outer);

    // Follows Param nodes until t is another kind. False with the message in `error` when a
    // parameter has no argument: "an uninstantiated type parameter {}" outside any inductive
    // type, "type parameter {} of {} is not instantiated" when the index is too large.
    bool resolve(ScopedType &t, Text &error) const;

private:
    // Made by the first open(): a deque allocates as it is constructed, and most walks (a
    // number, a string) open no scope at all.
    struct Storage {
        std::deque<ScopedType, PanicAllocator<ScopedType>> arguments;
        std::deque<Scope, PanicAllocator<Scope>> scopes;
    };
    std::optional<Storage> storage_;
};

// The definition an Inductive node names, after checking the index against the table and the
// argument count against the definition: "type index {} outside the type table", "{} applied
// to {} arguments". Null with the message in `error` otherwise.
const capi::Definition *definition_of(const TypeExpr &t, const quarn_types *table, Text &error);

// Whether values of the type take no bytes on the wire (Unit, pairs of such types, trivial
// structures over such a field). Types that cannot be resolved, or that nest deeper than
// the depth limit of type expressions, count as taking bytes.
bool takes_no_bytes(ScopedType t, const quarn_types *table, ScopeArena &scopes);

// What a value holds that takes no bytes, bounded as in the object codec: at most
// kMaxZeroSizeElements list or array elements that take no bytes in one value ("a value
// holds more than 65536 list or array elements that take no bytes"), and at most
// kMaxPartsWithoutBytes parts processed in a row without a byte in between ("a value holds
// more than 4194304 parts in a row without bytes"), which stops types without finite values.
class EmptyParts {
public:
    bool add_elements(std::uint64_t count, Text &error);
    bool add_part(std::size_t bytes_so_far, Text &error);

private:
    std::uint64_t elements_ = 0;
    std::uint64_t in_a_row_ = 0;
    std::size_t bytes_at_last_part_ = 0;
};

// Checks the designated field of a trivial structure (`inductive`, definition d, read in
// `scope`): following trivial structures from there must reach another kind of type within
// the depth limit of type expressions, else "{} is represented by itself" (d's name).
bool check_trivial_chain(const capi::Definition &d, const Scope *field_scope,
                         const quarn_types *table, ScopeArena &scopes, Text &error);

// A copy of the type with its Param nodes replaced through the scopes, for messages that
// print the type as it is meant. Substitution stops a few levels down (deeper parts are
// copied as written), so the copy stays small.
TypeExpr instantiate_for_message(ScopedType t, const ScopeArena &scopes);

}  // namespace quarn::wire

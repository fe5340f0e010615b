// The tables of the quick pass: a content set of result objects, keyed by shallow equality
// and hash, and a map from source objects to their results, keyed by identity.
#pragma once

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <cstdint>
#include <functional>
#include <utility>

#include "core/allocator.h"
#include "quarn/object.h"
#include "share/shallow.h"

namespace quarn::share {

// An object of the content set with its shallow hash, computed once: the table never hashes
// an object's content again when it grows.
struct Interned {
    quarn_object *object;
    uint64_t hash;
};

struct InternedHash {
    size_t operator()(const Interned &entry) const noexcept { return entry.hash; }
};

struct InternedEqual {
    bool operator()(const Interned &a, const Interned &b) const noexcept {
        return a.hash == b.hash && shallow_equal(a.object, b.object);
    }
};

using ContentSet = absl::flat_hash_set<Interned, InternedHash, InternedEqual, PanicAllocator<Interned>>;

using IdentityMap =
    absl::flat_hash_map<quarn_object *, quarn_object *, absl::Hash<quarn_object *>, std::equal_to<>,
                        PanicAllocator<std::pair<quarn_object *const, quarn_object *>>>;

}  // namespace quarn::share

// Shallow equality and hashing: what identifies an object for sharing, with its children
// taken as pointers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn/object.h"

namespace quarn::share {

// How the sharing passes treat each kind of object.
enum class Kind : uint8_t {
    Structure,    // constructors and arrays: children first, then the object itself
    Content,      // scalar arrays, strings, big numbers: by their bytes or value
    NeverShared,  // closures, promises, thunks, tasks, reference cells, external objects
    Invalid       // tags 247 and 255, which no object has
};

inline Kind kind_of(const quarn_object *o) noexcept {
    uint8_t tag = o->tag;
    if (tag <= QUARN_MAX_CTOR_TAG || tag == QUARN_TAG_ARRAY) return Kind::Structure;
    switch (tag) {
        case QUARN_TAG_SCALAR_ARRAY:
        case QUARN_TAG_STRING:
        case QUARN_TAG_BIGNUM:
            return Kind::Content;
        case QUARN_TAG_STRUCT_ARRAY:
        case QUARN_TAG_UNUSED:
            return Kind::Invalid;
        default:
            return Kind::NeverShared;
    }
}

// Shallow equality of two objects (not scalars).
bool shallow_equal(const quarn_object *a, const quarn_object *b) noexcept;

// Shallow hash of an object (not a scalar).
uint64_t shallow_hash(const quarn_object *o) noexcept;

// The children of a constructor or an array: its object fields or its elements.
struct Children {
    quarn_object *const *values;
    size_t count;
};

inline Children children_of(const quarn_object *o) noexcept {
    if (o->tag == QUARN_TAG_ARRAY) {
        auto *array = reinterpret_cast<const quarn_array_object *>(o);
        return {array->data, array->size};
    }
    return {reinterpret_cast<const quarn_ctor_object *>(o)->fields, o->other};
}

}  // namespace quarn::share

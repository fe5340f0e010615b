#include "share/copy.h"

#include <cstring>

#include "array/array_alloc.h"
#include "array/sarray_alloc.h"
#include "number/bignum.h"
#include "object/header.h"
#include "string/string_alloc.h"

namespace quarn::share {

quarn_object *copy_with_children(const quarn_object *o, quarn_object *const *children) noexcept {
    if (o->tag == QUARN_TAG_ARRAY) {
        auto *source = reinterpret_cast<const quarn_array_object *>(o);
        quarn_array_object *copy = array::allocate_array(source->size, source->capacity);
        if (source->size != 0)  // children may be null then
            std::memcpy(copy->data, children, source->size * sizeof(quarn_object *));
        return &copy->header;
    }
    size_t size = object::object_size(o);
    unsigned fields = o->other;
    quarn_object *copy = object::allocate_object(size, o->tag, o->other);
    auto *to = reinterpret_cast<quarn_ctor_object *>(copy);
    if (fields != 0) std::memcpy(to->fields, children, fields * sizeof(quarn_object *));
    size_t scalars_at = sizeof(quarn_object) + fields * sizeof(quarn_object *);
    std::memcpy(reinterpret_cast<uint8_t *>(copy) + scalars_at,
                reinterpret_cast<const uint8_t *>(o) + scalars_at, size - scalars_at);
    return copy;
}

quarn_object *copy_content(const quarn_object *o) noexcept {
    switch (o->tag) {
        case QUARN_TAG_SCALAR_ARRAY: {
            auto *source = reinterpret_cast<const quarn_sarray_object *>(o);
            quarn_sarray_object *copy =
                array::allocate_sarray(o->other, source->size, source->capacity);
            std::memcpy(copy->data, source->data, source->size * o->other);
            return &copy->header;
        }
        case QUARN_TAG_STRING: {
            auto *source = string::as_string(o);
            quarn_string_object *copy = string::allocate_string(source->capacity);
            copy->size = source->size;
            copy->length = source->length;
            std::memcpy(copy->data, source->data, source->size);
            return &copy->header;
        }
        default: {  // a big number
            auto *source = reinterpret_cast<const quarn_bignum_object *>(o);
            return number::make_bignum(number::Integer::copy_of(number::view_of(source)));
        }
    }
}

}  // namespace quarn::share

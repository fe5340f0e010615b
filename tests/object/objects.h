// Objects of every kind for the tests of counting and walks, built as compiled code would.
#pragma once

#include <initializer_list>

#include "object/header.h"
#include "quarn/object.h"

namespace test_objects {

inline quarn_object *leaf() { return quarn_alloc_ctor(0, 0, 0); }

// A constructor holding the given values. Consumes them.
inline quarn_object *ctor(std::initializer_list<quarn_object *> fields, uint32_t tag = 0) {
    quarn_object *o = quarn_alloc_ctor(tag, static_cast<uint32_t>(fields.size()), 0);
    unsigned i = 0;
    for (quarn_object *f : fields) quarn_ctor_set(o, i++, f);
    return o;
}

inline quarn_object *closure(std::initializer_list<quarn_object *> fixed) {
    auto n = static_cast<uint16_t>(fixed.size());
    auto *c = reinterpret_cast<quarn_closure_object *>(quarn::object::allocate_object(
        sizeof(quarn_closure_object) + 8 * n, QUARN_TAG_CLOSURE));
    c->code = reinterpret_cast<void *>(&leaf);
    c->arity = static_cast<uint16_t>(n + 1);
    c->fixed = n;
    unsigned i = 0;
    for (quarn_object *f : fixed) c->args[i++] = f;
    return &c->header;
}

inline quarn_object *array(std::initializer_list<quarn_object *> elements) {
    size_t n = elements.size();
    auto *a = reinterpret_cast<quarn_array_object *>(
        quarn::object::allocate_object(sizeof(quarn_array_object) + 8 * (n + 2), QUARN_TAG_ARRAY));
    a->size = n;
    a->capacity = n + 2;
    size_t i = 0;
    for (quarn_object *e : elements) a->data[i++] = e;
    return &a->header;
}

inline quarn_object *thunk(quarn_object *value, quarn_object *closure) {
    auto *t = reinterpret_cast<quarn_thunk_object *>(
        quarn::object::allocate_object(sizeof(quarn_thunk_object), QUARN_TAG_THUNK));
    t->value = value;
    t->closure = closure;
    return &t->header;
}

inline quarn_object *ref(quarn_object *value) {
    auto *r = reinterpret_cast<quarn_ref_object *>(
        quarn::object::allocate_object(sizeof(quarn_ref_object), QUARN_TAG_REF));
    r->value = value;
    return &r->header;
}

inline quarn_object *with_tag(uint8_t tag) {
    return quarn::object::allocate_object(sizeof(quarn_object), tag);
}

inline int32_t rc_of(const quarn_object *o) { return o->rc; }
inline uint32_t urc_of(const quarn_object *o) { return static_cast<uint32_t>(o->rc); }
inline void set_urc(quarn_object *o, uint32_t rc) { o->rc = static_cast<int32_t>(rc); }

}  // namespace test_objects

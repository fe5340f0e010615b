/* Building values the way compiled code does. */
#include <string.h>

#include "kit.h"

quarn_object *kit_string(const char *text) {
    size_t n = strlen(text), length = 0;
    for (size_t i = 0; i < n; ++i)
        if (((unsigned char)text[i] & 0xC0) != 0x80) ++length;
    return quarn_mk_string_unchecked(text, n, length);
}

const char *kit_cstr(const quarn_object *s) { return ((const quarn_string_object *)s)->data; }

quarn_object *kit_cons(quarn_object *head, quarn_object *tail) {
    quarn_object *cell = quarn_alloc_ctor(1, 2, 0);
    quarn_ctor_set(cell, 0, head);
    quarn_ctor_set(cell, 1, tail);
    return cell;
}

quarn_object *kit_list(size_t n, quarn_object *const *items) {
    quarn_object *list = quarn_box(0);
    while (n > 0) {
        --n;
        list = kit_cons(items[n], list);
    }
    return list;
}

size_t kit_list_length(const quarn_object *list) {
    size_t n = 0;
    for (; !quarn_is_scalar(list); list = quarn_ctor_get(list, 1)) ++n;
    return n;
}

quarn_object *kit_some(quarn_object *v) {
    quarn_object *o = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(o, 0, v);
    return o;
}

/* The kit's own name hash: any deterministic mixing serves. */
static uint64_t mix(uint64_t h, uint64_t k) {
    k *= 0xC6A4A7935BD1E995ull;
    k ^= k >> 47;
    return (h ^ k) * 0xC6A4A7935BD1E995ull;
}

static uint64_t name_hash(const quarn_object *name) {
    return quarn_is_scalar(name) ? 1723 : quarn_name_hash(name);
}

static quarn_object *name_component(unsigned tag, quarn_object *prefix, quarn_object *component,
                                    uint64_t component_hash) {
    quarn_object *name = quarn_alloc_ctor(tag, 2, 8);
    uint64_t hash = mix(name_hash(prefix), component_hash);
    quarn_ctor_set(name, 0, prefix);
    quarn_ctor_set(name, 1, component);
    memcpy(quarn_ctor_scalar_area(name), &hash, sizeof hash);
    return name;
}

quarn_object *kit_name_str(quarn_object *prefix, const char *component) {
    uint64_t h = 14695981039346656037ull;
    for (const char *p = component; *p; ++p) h = (h ^ (unsigned char)*p) * 1099511628211ull;
    return name_component(1, prefix, kit_string(component), h);
}

quarn_object *kit_name_num(quarn_object *prefix, size_t component) {
    return name_component(2, prefix, quarn_box(component), component);
}

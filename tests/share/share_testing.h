// Values for the tests of sharing: built as compiled code builds them, with a few objects
// of exact layouts made by hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "../object/objects.h"
#include "object/heap.h"
#include "quarn/array.h"
#include "quarn/closure.h"
#include "quarn/nat.h"
#include "quarn/share.h"
#include "quarn/task.h"
#include "testing.h"

namespace share_testing {

using namespace test_objects;

// A constructor of the given tag with object fields and a scalar area of `scalars`.
// Consumes the fields.
inline quarn_object *ctor_with_scalars(uint32_t tag, std::initializer_list<quarn_object *> fields,
                                       std::vector<uint8_t> scalars) {
    quarn_object *o = quarn_alloc_ctor(tag, static_cast<uint32_t>(fields.size()), scalars.size());
    unsigned i = 0;
    for (quarn_object *f : fields) quarn_ctor_set(o, i++, f);
    if (!scalars.empty()) std::memcpy(quarn_ctor_scalar_area(o), scalars.data(), scalars.size());
    return o;
}

// A closure as quarn_alloc_closure makes it, holding the given arguments (consumed) and
// waiting for one more.
inline quarn_object *closure_over(std::initializer_list<quarn_object *> fixed) {
    auto n = static_cast<uint32_t>(fixed.size());
    quarn_object *c = quarn_alloc_closure(reinterpret_cast<void *>(&leaf), n + 1, n);
    unsigned i = 0;
    for (quarn_object *f : fixed) quarn_closure_set(c, i++, f);
    return c;
}

// 2^k as a Nat: a big number for k >= 63 (one digit inline, up to four in its own block,
// more in a digit array).
inline quarn_object *power_of_two(unsigned k) {
    return quarn_lean_nat_shiftl(quarn_box(1), quarn_box(k));
}

// An array of the given capacity holding the values. Consumes them.
inline quarn_object *array_with_capacity(std::initializer_list<quarn_object *> elements,
                                         size_t capacity) {
    quarn_object *a = quarn_lean_mk_empty_array_with_capacity(quarn_box(capacity));
    for (quarn_object *e : elements) a = quarn_lean_array_push(a, e);
    return a;
}

inline quarn_object *byte_array(std::initializer_list<uint8_t> bytes) {
    quarn_object *a = quarn_lean_mk_empty_byte_array(quarn_box(bytes.size()));
    for (uint8_t b : bytes) a = quarn_lean_byte_array_push(a, b);
    return a;
}

inline quarn_object *field(const quarn_object *o, unsigned i) { return quarn_ctor_get(o, i); }

inline quarn_object *element(const quarn_object *a, size_t i) {
    return reinterpret_cast<const quarn_array_object *>(a)->data[i];
}

}  // namespace share_testing

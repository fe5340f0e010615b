// Equality of hierarchical names.
#include <cstring>

#include "object/bignum_layout.h"
#include "quarn/object.h"

namespace {

enum : uint8_t { kStringComponent = 1, kNumericComponent = 2 };

bool equal_strings(const quarn_object *a, const quarn_object *b) noexcept {
    if (a == b) return true;
    auto *x = reinterpret_cast<const quarn_string_object *>(a);
    auto *y = reinterpret_cast<const quarn_string_object *>(b);
    return x->size == y->size && std::memcmp(x->data, y->data, x->size - 1) == 0;
}

bool equal_numbers(const quarn_object *a, const quarn_object *b) noexcept {
    if (quarn_is_scalar(a) || quarn_is_scalar(b)) return a == b;
    return quarn::object::equal_values(reinterpret_cast<const quarn_bignum_object *>(a),
                                       reinterpret_cast<const quarn_bignum_object *>(b));
}

// The components of two non-anonymous names, compared without their prefixes.
bool equal_components(const quarn_object *a, const quarn_object *b) noexcept {
    if (a->tag != b->tag) return false;
    const quarn_object *x = quarn_ctor_get(a, 1), *y = quarn_ctor_get(b, 1);
    return a->tag == kStringComponent ? equal_strings(x, y) : equal_numbers(x, y);
}

}  // namespace

extern "C" uint8_t quarn_lean_name_eq(quarn_object *a, quarn_object *b) noexcept {
    if (a == b) return 1;
    if (quarn_is_scalar(a) || quarn_is_scalar(b)) return 0;
    // Only the outermost hashes are compared: they cover the whole name.
    if (quarn_name_hash(a) != quarn_name_hash(b)) return 0;
    for (;;) {
        if (!equal_components(a, b)) return 0;
        a = quarn_ctor_get(a, 0);
        b = quarn_ctor_get(b, 0);
        if (a == b) return 1;
        if (quarn_is_scalar(a) || quarn_is_scalar(b)) return 0;
    }
}

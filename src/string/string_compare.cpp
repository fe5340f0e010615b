// Comparing and hashing strings and string slices, byte by byte.
#include <algorithm>
#include <cstring>

#include "core/panic.h"
#include "quarn/string.h"
#include "string/murmur_hash.h"
#include "string/string_alloc.h"

using namespace quarn::string;

namespace {

// A range of text bytes.
struct Bytes {
    const char *data;
    size_t size;
};

inline Bytes text_of(const quarn_object *s) noexcept {
    return {as_string(s)->data, as_string(s)->size - 1};
}

// Unsigned bytes over the common prefix, then the shorter first: < 0, 0 or > 0.
int compare_bytes(Bytes a, Bytes b) noexcept {
    int c = std::memcmp(a.data, b.data, std::min(a.size, b.size));
    if (c != 0) return c;
    return a.size < b.size ? -1 : a.size > b.size ? 1 : 0;
}

// The bytes of a String.Slice (string, start, end), after checking its bounds.
Bytes slice_bytes(quarn_object *slice) noexcept {
    quarn_object *s = quarn_ctor_get(slice, 0);
    quarn_object *start = quarn_ctor_get(slice, 1);
    quarn_object *end = quarn_ctor_get(slice, 2);
    if (!quarn_is_scalar(start) || !quarn_is_scalar(end)) [[unlikely]]
        quarn::internal_panic("String.Slice bounds are not valid positions");
    Bytes text = text_of(s);
    size_t b = quarn_unbox(start), e = quarn_unbox(end);
    if (e < b || e > text.size) [[unlikely]]
        quarn::internal_panic("String.Slice bounds exceed the string");
    return {text.data + b, e - b};
}

}  // namespace

extern "C" uint8_t quarn_lean_string_dec_eq(quarn_object *a, quarn_object *b) noexcept {
    if (a == b) return 1;
    const quarn_string_object *x = as_string(a), *y = as_string(b);
    return x->size == y->size && std::memcmp(x->data, y->data, x->size - 1) == 0;
}

extern "C" uint8_t quarn_lean_string_dec_lt(quarn_object *a, quarn_object *b) noexcept {
    return compare_bytes(text_of(a), text_of(b)) < 0;
}

extern "C" uint8_t quarn_lean_string_compare(quarn_object *a, quarn_object *b) noexcept {
    int c = compare_bytes(text_of(a), text_of(b));
    return c < 0 ? 0 : c == 0 ? 1 : 2;
}

extern "C" uint8_t quarn_lean_string_memcmp(quarn_object *a, quarn_object *b, quarn_object *start_a,
                                            quarn_object *start_b, quarn_object *count) noexcept {
    if (!quarn_is_scalar(start_a) || !quarn_is_scalar(start_b) || !quarn_is_scalar(count))
        [[unlikely]]
        quarn::internal_panic("String memcmp: bounds are not valid positions");
    Bytes x = text_of(a), y = text_of(b);
    size_t i = quarn_unbox(start_a), j = quarn_unbox(start_b), n = quarn_unbox(count);
    // Each is below 2^63, so the sums cannot wrap.
    if (i + n > x.size || j + n > y.size) [[unlikely]]
        quarn::internal_panic("String memcmp: range exceeds the string");
    return std::memcmp(x.data + i, y.data + j, n) == 0;
}

extern "C" uint64_t quarn_lean_string_hash(quarn_object *s) noexcept {
    Bytes text = text_of(s);
    return murmur_hash64a(text.data, text.size);
}

extern "C" uint64_t quarn_lean_slice_hash(quarn_object *slice) noexcept {
    Bytes bytes = slice_bytes(slice);
    return murmur_hash64a(bytes.data, bytes.size);
}

extern "C" uint8_t quarn_lean_slice_dec_lt(quarn_object *a, quarn_object *b) noexcept {
    Bytes x = slice_bytes(a);
    Bytes y = slice_bytes(b);
    return compare_bytes(x, y) < 0;
}

#include "string/string_alloc.h"

#include <cstring>

#include "core/checked_math.h"
#include "object/header.h"
#include "core/panic.h"
#include "core/utf8.h"

namespace quarn::string {

namespace {
// Strings longer than this cannot be allocated with a signed size.
constexpr size_t kLargestLength = 0x7FFFFFFFFFFFFFCFu;

// A new string of the given capacity holding a copy of s's size bytes and its length.
quarn_string_object *copy_with_capacity(const quarn_string_object *s, size_t capacity) noexcept {
    quarn_string_object *copy = allocate_string(capacity);
    std::memcpy(copy->data, s->data, s->size);
    copy->size = s->size;
    copy->length = s->length;
    return copy;
}
}  // namespace

quarn_string_object *allocate_string(size_t capacity) noexcept {
    if (capacity > kLargestLength + 1) internal_panic(kOutOfMemory);
    quarn_object *o =
        object::allocate_object(sizeof(quarn_string_object) + capacity, QUARN_TAG_STRING);
    auto *s = as_string(o);
    s->capacity = capacity;
    return s;
}

quarn_object *make_string(const char *bytes, size_t n, size_t length) noexcept {
    if (n > kLargestLength) internal_panic(kOutOfMemory);
    quarn_string_object *s = allocate_string(n + 1);
    if (n != 0) std::memcpy(s->data, bytes, n);  // bytes may be null when n is 0
    s->data[n] = '\0';
    s->size = n + 1;
    s->length = length;
    return &s->header;
}

quarn_object *make_string_from_utf8(const char *bytes, size_t n) noexcept {
    return make_string(bytes, n, utf8::count_code_points(bytes, n));
}

quarn_string_object *string_grow(quarn_string_object *s, size_t extra) noexcept {
    size_t needed = checked_add(s->size, extra);
    if (quarn_is_exclusive(&s->header)) {
        if (s->capacity >= needed) return s;
        size_t capacity = checked_add(needed, s->capacity);
        if (capacity > kLargestLength + 1) internal_panic(kOutOfMemory);
        quarn_object *o = object::reallocate_object(
            &s->header, sizeof(quarn_string_object) + capacity,
            sizeof(quarn_string_object) + s->size);
        quarn_string_object *grown = as_string(o);
        grown->capacity = capacity;
        return grown;
    }
    quarn_string_object *copy = copy_with_capacity(s, checked_mul(needed, 2));
    quarn_dec_ref(&s->header);
    return copy;
}

}  // namespace quarn::string

extern "C" quarn_object *quarn_mk_string_unchecked(const char *bytes, size_t n,
                                                   size_t length) noexcept {
    return quarn::string::make_string(bytes, n, length);
}

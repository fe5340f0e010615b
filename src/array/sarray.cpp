// Byte arrays and float arrays: creation, conversion from and to boxed arrays, checked and
// unchecked access, copy-on-write updates, push with doubling growth, slice copies, equality
// and hashing. One template per rule serves both element types.
#include <algorithm>
#include <cstring>

#include "array/array_alloc.h"
#include "array/nat_argument.h"
#include "array/sarray_alloc.h"
#include "core/checked_math.h"
#include "object/export.h"
#include "object/heap.h"
#include "quarn/array.h"
#include "string/murmur_hash.h"

using namespace quarn::array;
using quarn::array::detail::index_below;

namespace {

// Elements are read and written through memcpy: the data area is declared as bytes.
template <typename T>
inline T load(const quarn_sarray_object *a, size_t i) noexcept {
    T value;
    std::memcpy(&value, a->data + i * sizeof(T), sizeof(T));
    return value;
}

template <typename T>
inline void store(quarn_sarray_object *a, size_t i, T value) noexcept {
    std::memcpy(a->data + i * sizeof(T), &value, sizeof(T));
}

inline size_t byte_count(const quarn_sarray_object *a) noexcept {
    return a->size * a->header.other;
}

// A new scalar array of the given capacity holding a's elements; the caller's reference to
// a is released.
quarn_sarray_object *copy_with_capacity(quarn_sarray_object *a, size_t capacity) noexcept {
    quarn_sarray_object *copy = allocate_sarray(a->header.other, a->size, capacity);
    std::memcpy(copy->data, a->data, byte_count(a));
    quarn_dec_ref(&a->header);
    return copy;
}

// An exclusive array given a larger capacity, in place where its block allows.
[[gnu::noinline]] quarn_sarray_object *grow_exclusive(quarn_sarray_object *a,
                                                      size_t capacity) noexcept {
    size_t bytes = quarn::checked_add(quarn::checked_mul(capacity, a->header.other),
                                      sizeof(quarn_sarray_object));
    quarn_object *o = quarn::object::reallocate_object(&a->header, bytes,
                                                       sizeof(quarn_sarray_object) + byte_count(a));
    quarn_sarray_object *grown = as_sarray(o);
    grown->capacity = capacity;
    return grown;
}

// Room for `needed` elements: exactly that many when growing with `exact`, twice as many
// otherwise.
inline quarn_sarray_object *ensure_capacity(quarn_sarray_object *a, size_t needed,
                                            bool exact) noexcept {
    if (a->capacity >= needed) [[likely]]
        return a;
    size_t capacity = exact ? needed : quarn::checked_mul(needed, 2);
    if (quarn_is_exclusive(&a->header)) return grow_exclusive(a, capacity);
    return copy_with_capacity(a, capacity);
}

inline quarn_sarray_object *ensure_exclusive(quarn_sarray_object *a) noexcept {
    if (quarn_is_exclusive(&a->header)) [[likely]]
        return a;
    return copy_with_capacity(a, a->capacity);
}

template <typename T>
quarn_object *make_empty(quarn_object *capacity) noexcept {
    return &allocate_sarray(sizeof(T), 0, detail::boxed_capacity(capacity))->header;
}

template <typename T>
T checked_get(quarn_object *a, quarn_object *i) noexcept {
    quarn_sarray_object *array = as_sarray(a);
    auto index = index_below(i, array->size);
    return index ? load<T>(array, *index) : T{0};
}

template <typename T>
quarn_object *unchecked_set(quarn_object *a, size_t i, T v) noexcept {
    quarn_sarray_object *array = ensure_exclusive(as_sarray(a));
    store<T>(array, i, v);
    return &array->header;
}

template <typename T>
quarn_object *checked_set(quarn_object *a, quarn_object *i, T v) noexcept {
    auto index = index_below(i, as_sarray(a)->size);
    if (!index) return a;
    return unchecked_set<T>(a, *index, v);
}

// Push asks for room for one more element (doubling when full), then for exclusivity.
template <typename T>
[[gnu::noinline]] quarn_object *push_with_copy(quarn_sarray_object *array, T v) noexcept {
    array = ensure_capacity(array, quarn::checked_add(array->size, 1), false);
    array = ensure_exclusive(array);
    store<T>(array, array->size, v);
    array->size += 1;
    return &array->header;
}

// The common case, an exclusive array with room, stays free of the copying paths.
template <typename T>
inline quarn_object *push(quarn_object *a, T v) noexcept {
    quarn_sarray_object *array = as_sarray(a);
    if (quarn_is_exclusive(a) && array->size < array->capacity) [[likely]] {
        store<T>(array, array->size, v);
        array->size += 1;
        return a;
    }
    return push_with_copy<T>(array, v);
}

// The bytes a byte slice covers. Its bounds are cut to the array so that a malformed slice
// can never read outside it.
struct ByteRange {
    const uint8_t *bytes;
    size_t count;
};

ByteRange slice_bytes(const quarn_object *slice) noexcept {
    auto *array = as_sarray(quarn_ctor_get(slice, 0));
    const quarn_object *start = quarn_ctor_get(slice, 1), *end = quarn_ctor_get(slice, 2);
    size_t stop = quarn_is_scalar(end) ? std::min(quarn_unbox(end), array->size) : array->size;
    size_t first = quarn_is_scalar(start) ? std::min(quarn_unbox(start), stop) : stop;
    return {array->data + first, stop - first};
}

}  // namespace

// ---- creation and conversion -------------------------------------------------------------

extern "C" quarn_object *quarn_lean_mk_empty_byte_array(quarn_object *capacity) noexcept {
    return make_empty<uint8_t>(capacity);
}

extern "C" quarn_object *quarn_lean_mk_empty_float_array(quarn_object *capacity) noexcept {
    return make_empty<double>(capacity);
}

extern "C" quarn_object *quarn_lean_byte_array_mk(quarn_object *a) noexcept {
    quarn_array_object *boxed = as_array(a);
    size_t n = boxed->size;
    quarn_sarray_object *bytes = allocate_sarray(1, n, n);
    for (size_t i = 0; i < n; ++i) bytes->data[i] = static_cast<uint8_t>(quarn_unbox(boxed->data[i]));
    quarn_dec_ref(a);
    return &bytes->header;
}

extern "C" quarn_object *quarn_lean_float_array_mk(quarn_object *a) noexcept {
    quarn_array_object *boxed = as_array(a);
    size_t n = boxed->size;
    quarn_sarray_object *floats = allocate_sarray(sizeof(double), n, n);
    for (size_t i = 0; i < n; ++i) store<double>(floats, i, quarn_unbox_float(boxed->data[i]));
    quarn_dec_ref(a);
    return &floats->header;
}

extern "C" quarn_object *quarn_lean_byte_array_data(quarn_object *a) noexcept {
    quarn_sarray_object *bytes = as_sarray(a);
    size_t n = bytes->size;
    quarn_array_object *boxed = allocate_array(n, n);
    for (size_t i = 0; i < n; ++i) boxed->data[i] = quarn_box(bytes->data[i]);
    quarn_dec_ref(a);
    return &boxed->header;
}

extern "C" quarn_object *quarn_lean_float_array_data(quarn_object *a) noexcept {
    quarn_sarray_object *floats = as_sarray(a);
    size_t n = floats->size;
    quarn_array_object *boxed = allocate_array(n, n);
    for (size_t i = 0; i < n; ++i) boxed->data[i] = quarn_box_float(load<double>(floats, i));
    quarn_dec_ref(a);
    return &boxed->header;
}

// ---- sizes and access --------------------------------------------------------------------

extern "C" quarn_object *quarn_lean_byte_array_size(quarn_object *a) noexcept {
    return quarn_box(as_sarray(a)->size);
}

extern "C" quarn_object *quarn_lean_float_array_size(quarn_object *a) noexcept
    QUARN_EXPORT_ALIAS(quarn_lean_byte_array_size);

extern "C" uint8_t quarn_lean_byte_array_get(quarn_object *a, quarn_object *i) noexcept {
    return checked_get<uint8_t>(a, i);
}

extern "C" double quarn_lean_float_array_get(quarn_object *a, quarn_object *i) noexcept {
    return checked_get<double>(a, i);
}

extern "C" uint8_t quarn_lean_byte_array_uget(quarn_object *a, size_t i) noexcept {
    return as_sarray(a)->data[i];
}

extern "C" uint8_t quarn_lean_byte_array_fget(quarn_object *a, quarn_object *i) noexcept {
    return as_sarray(a)->data[quarn_unbox(i)];
}

extern "C" double quarn_lean_float_array_uget(quarn_object *a, size_t i) noexcept {
    return load<double>(as_sarray(a), i);
}

extern "C" double quarn_lean_float_array_fget(quarn_object *a, quarn_object *i) noexcept {
    return load<double>(as_sarray(a), quarn_unbox(i));
}

// ---- updates -----------------------------------------------------------------------------

extern "C" quarn_object *quarn_lean_byte_array_set(quarn_object *a, quarn_object *i,
                                                   uint8_t v) noexcept {
    return checked_set<uint8_t>(a, i, v);
}

extern "C" quarn_object *quarn_lean_float_array_set(quarn_object *a, quarn_object *i,
                                                    double v) noexcept {
    return checked_set<double>(a, i, v);
}

extern "C" quarn_object *quarn_lean_byte_array_uset(quarn_object *a, size_t i, uint8_t v) noexcept {
    return unchecked_set<uint8_t>(a, i, v);
}

extern "C" quarn_object *quarn_lean_byte_array_fset(quarn_object *a, quarn_object *i,
                                                    uint8_t v) noexcept {
    return unchecked_set<uint8_t>(a, quarn_unbox(i), v);
}

extern "C" quarn_object *quarn_lean_float_array_uset(quarn_object *a, size_t i, double v) noexcept {
    return unchecked_set<double>(a, i, v);
}

extern "C" quarn_object *quarn_lean_float_array_fset(quarn_object *a, quarn_object *i,
                                                     double v) noexcept {
    return unchecked_set<double>(a, quarn_unbox(i), v);
}

extern "C" quarn_object *quarn_lean_byte_array_push(quarn_object *a, uint8_t v) noexcept {
    return push<uint8_t>(a, v);
}

extern "C" quarn_object *quarn_lean_float_array_push(quarn_object *a, double v) noexcept {
    return push<double>(a, v);
}

extern "C" quarn_object *quarn_lean_byte_array_copy_slice(quarn_object *src, quarn_object *src_off,
                                                          quarn_object *dest,
                                                          quarn_object *dest_off,
                                                          quarn_object *len,
                                                          uint8_t exact) noexcept {
    size_t from = detail::machine_word(src_off);
    size_t at = detail::machine_word(dest_off);
    size_t count = detail::machine_word(len);
    quarn_dec(src_off);
    quarn_dec(dest_off);
    quarn_dec(len);

    quarn_sarray_object *source = as_sarray(src);
    quarn_sarray_object *target = as_sarray(dest);
    if (from > source->size) return dest;
    count = std::min(count, source->size - from);
    at = std::min(at, target->size);
    size_t new_size = std::max(target->size, at + count);
    target = ensure_capacity(target, new_size, exact != 0);
    target = ensure_exclusive(target);
    // Copying within one array: its bytes below the old size are also in the replacement, so
    // the copy reads from there and never from a block that was just let go.
    const uint8_t *source_bytes = src == dest ? target->data : source->data;
    target->size = new_size;
    std::memmove(target->data + at, source_bytes + from, count);
    return &target->header;
}

// ---- comparison and hashing --------------------------------------------------------------

extern "C" uint64_t quarn_lean_byte_array_hash(quarn_object *a) noexcept {
    quarn_sarray_object *bytes = as_sarray(a);
    return quarn::string::murmur_hash64a(bytes->data, bytes->size);
}

extern "C" uint8_t quarn_lean_sarray_dec_eq(quarn_object *a, quarn_object *b) noexcept {
    if (a == b) return 1;
    quarn_sarray_object *x = as_sarray(a), *y = as_sarray(b);
    if (x->size != y->size) return 0;
    size_t n = byte_count(x);
    return n == byte_count(y) && std::memcmp(x->data, y->data, n) == 0;
}

extern "C" uint8_t quarn_lean_byteslice_beq(quarn_object *a, quarn_object *b) noexcept {
    if (a == b) return 1;
    ByteRange x = slice_bytes(a), y = slice_bytes(b);
    return x.count == y.count && std::memcmp(x.bytes, y.bytes, x.count) == 0;
}

// Arrays of values: creation, conversion from and to lists, checked and unchecked access,
// copy-on-write updates, push and pop with geometric growth, swapping.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "array/array_alloc.h"
#include "array/nat_argument.h"
#include "core/checked_math.h"
#include "object/header.h"
#include "object/list.h"
#include "quarn/array.h"
#include "core/lean_panic.h"

namespace quarn::array {

quarn_array_object *allocate_array(size_t size, size_t capacity) noexcept {
    size_t bytes = checked_add(checked_mul(capacity, sizeof(quarn_object *)),
                               sizeof(quarn_array_object));
    auto *a = reinterpret_cast<quarn_array_object *>(
        object::allocate_object(bytes, QUARN_TAG_ARRAY));
    a->size = size;
    a->capacity = capacity;
    return a;
}

}  // namespace quarn::array

using namespace quarn::array;
using quarn::array::detail::index_below;

namespace {

constexpr std::string_view kIndexOutOfBounds = "Error: index out of bounds";

// The capacity an array grows to when it is full.
size_t grown_capacity(size_t capacity) noexcept {
    return quarn::checked_add(quarn::checked_mul(capacity, 2), 2);
}

// A copy of the array with the given capacity, owned exclusively by the caller, who gives up
// its reference to the original. An exclusive original hands its element pointers over and
// is freed without touching their counts; a shared one keeps its elements, and each gains a
// reference for the copy.
[[gnu::noinline]] quarn_array_object *copy_exclusive(quarn_array_object *a,
                                                     size_t capacity) noexcept {
    size_t size = a->size;
    quarn_array_object *copy = allocate_array(size, capacity);
    std::memcpy(copy->data, a->data, size * sizeof(quarn_object *));
    if (quarn_is_exclusive(&a->header)) {
        quarn::object::deallocate(&a->header);
    } else {
        for (size_t i = 0; i < size; ++i) quarn_inc(copy->data[i]);
        quarn_dec_ref(&a->header);
    }
    return copy;
}

// The array itself when the caller holds its only reference, otherwise a copy at the same
// capacity.
inline quarn_array_object *ensure_exclusive(quarn_object *a) noexcept {
    quarn_array_object *array = as_array(a);
    if (quarn_is_exclusive(a)) [[likely]]
        return array;
    return copy_exclusive(array, array->capacity);
}

// The failure path of the checked reads: report, then go on with the default.
[[gnu::cold, gnu::noinline]] quarn_object *index_out_of_bounds(quarn_object *default_value) noexcept {
    quarn::report_lean_panic(kIndexOutOfBounds);
    quarn_inc(default_value);
    return default_value;
}

// Stores v at index i of an exclusive array and releases the element it replaces.
inline void replace_element(quarn_array_object *array, size_t i, quarn_object *v) noexcept {
    quarn_object *old = std::exchange(array->data[i], v);
    quarn_dec(old);
}

}  // namespace

extern "C" quarn_object *quarn_lean_mk_empty_array_with_capacity(quarn_object *capacity) noexcept {
    return &allocate_array(0, detail::boxed_capacity(capacity))->header;
}

extern "C" quarn_object *quarn_lean_mk_array(quarn_object *n, quarn_object *v) noexcept {
    // A big count could never be allocated, whatever its digits.
    size_t count = detail::boxed_capacity(n);
    quarn_array_object *array = allocate_array(count, count);
    if (count == 0)
        quarn_dec(v);
    else
        quarn_inc_n(v, count - 1);
    std::fill_n(array->data, count, v);
    return &array->header;
}

extern "C" quarn_object *quarn_lean_array_mk(quarn_object *list) noexcept {
    size_t length = 0;
    for (quarn_object *cell = list; !quarn_is_scalar(cell); cell = quarn_ctor_get(cell, 1))
        ++length;
    quarn_array_object *array = allocate_array(length, length);
    size_t i = 0;
    for (quarn_object *cell = list; !quarn_is_scalar(cell); cell = quarn_ctor_get(cell, 1)) {
        quarn_object *head = quarn_ctor_get(cell, 0);
        quarn_inc(head);
        array->data[i++] = head;
    }
    quarn_dec(list);
    return &array->header;
}

extern "C" quarn_object *quarn_lean_array_to_list(quarn_object *a) noexcept {
    quarn_array_object *array = as_array(a);
    // The list takes a reference to each element. An exclusive array hands over its own
    // (it would drop them when released); a shared one keeps them.
    bool hand_over = quarn_is_exclusive(a);
    quarn_object *list = quarn_box(0);
    for (size_t i = array->size; i-- > 0;) {
        quarn_object *head = array->data[i];
        if (!hand_over) quarn_inc(head);
        list = quarn::object::make_cons(head, list);
    }
    if (hand_over)
        quarn::object::deallocate(a);
    else
        quarn_dec_ref(a);
    return list;
}

extern "C" quarn_object *quarn_lean_array_get_size(quarn_object *a) noexcept {
    return quarn_box(as_array(a)->size);
}

extern "C" size_t quarn_lean_array_size(quarn_object *a) noexcept { return as_array(a)->size; }

extern "C" size_t quarn_lean_sarray_size(quarn_object *a) noexcept { return as_sarray(a)->size; }

extern "C" quarn_object *quarn_lean_array_get(quarn_object *default_value, quarn_object *a,
                                              quarn_object *i) noexcept {
    quarn_array_object *array = as_array(a);
    auto index = index_below(i, array->size);
    if (!index) [[unlikely]]
        return index_out_of_bounds(default_value);
    quarn_object *element = array->data[*index];
    quarn_inc(element);
    return element;
}

extern "C" quarn_object *quarn_lean_array_get_borrowed(quarn_object *default_value,
                                                       quarn_object *a, quarn_object *i) noexcept {
    quarn_array_object *array = as_array(a);
    auto index = index_below(i, array->size);
    if (!index) [[unlikely]]
        return index_out_of_bounds(default_value);
    return array->data[*index];
}

extern "C" quarn_object *quarn_lean_array_uget_borrowed(quarn_object *a, size_t i) noexcept {
    return as_array(a)->data[i];
}

extern "C" quarn_object *quarn_lean_array_fget_borrowed(quarn_object *a, quarn_object *i) noexcept {
    return as_array(a)->data[quarn_unbox(i)];
}

extern "C" quarn_object *quarn_lean_array_uget(quarn_object *a, size_t i) noexcept {
    quarn_object *element = as_array(a)->data[i];
    quarn_inc(element);
    return element;
}

extern "C" quarn_object *quarn_lean_array_fget(quarn_object *a, quarn_object *i) noexcept {
    return quarn_lean_array_uget(a, quarn_unbox(i));
}

extern "C" quarn_object *quarn_lean_array_uset(quarn_object *a, size_t i, quarn_object *v) noexcept {
    quarn_array_object *array = ensure_exclusive(a);
    replace_element(array, i, v);
    return &array->header;
}

extern "C" quarn_object *quarn_lean_array_fset(quarn_object *a, quarn_object *i,
                                               quarn_object *v) noexcept {
    return quarn_lean_array_uset(a, quarn_unbox(i), v);
}

extern "C" quarn_object *quarn_lean_array_set(quarn_object *a, quarn_object *i,
                                              quarn_object *v) noexcept {
    auto index = index_below(i, as_array(a)->size);
    if (!index) [[unlikely]] {
        quarn_dec(v);
        quarn::report_lean_panic(kIndexOutOfBounds);
        return a;
    }
    return quarn_lean_array_uset(a, *index, v);
}

namespace {

// Push onto a full exclusive array, which grows, or onto a shared one, which is copied and
// grows too when at least half full.
[[gnu::noinline]] quarn_object *push_with_copy(quarn_array_object *array, quarn_object *v) noexcept {
    size_t capacity = array->capacity;
    bool grow = quarn_is_exclusive(&array->header) || array->size >= capacity - array->size;
    array = copy_exclusive(array, grow ? grown_capacity(capacity) : capacity);
    array->data[array->size++] = v;
    return &array->header;
}

}  // namespace

extern "C" quarn_object *quarn_lean_array_push(quarn_object *a, quarn_object *v) noexcept {
    quarn_array_object *array = as_array(a);
    if (quarn_is_exclusive(a) && array->size < array->capacity) [[likely]] {
        array->data[array->size++] = v;
        return a;
    }
    return push_with_copy(array, v);
}

extern "C" quarn_object *quarn_lean_array_pop(quarn_object *a) noexcept {
    quarn_array_object *array = ensure_exclusive(a);
    if (array->size != 0) {
        array->size -= 1;
        quarn_dec(array->data[array->size]);
    }
    return &array->header;
}

extern "C" quarn_object *quarn_lean_array_fswap(quarn_object *a, quarn_object *i,
                                                quarn_object *j) noexcept {
    quarn_array_object *array = ensure_exclusive(a);
    std::swap(array->data[quarn_unbox(i)], array->data[quarn_unbox(j)]);
    return &array->header;
}

extern "C" quarn_object *quarn_lean_array_swap(quarn_object *a, quarn_object *i,
                                               quarn_object *j) noexcept {
    size_t size = as_array(a)->size;
    if (!index_below(i, size) || !index_below(j, size)) return a;
    return quarn_lean_array_fswap(a, i, j);
}

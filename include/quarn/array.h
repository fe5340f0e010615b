/*
 * quarn/array.h: arrays of values, byte arrays, float arrays and byte slices.
 *
 * An Array (tag 246) holds `size` value words out of `capacity` slots; a ByteArray or a
 * FloatArray is a scalar array (tag 248) whose header `other` is the element size, 1 or 8.
 * quarn/object.h gives both layouts.
 *
 * Updates are copy-on-write: an update applied to an exclusive array (rc exactly 1) changes
 * it in place and returns the same object; applied to a shared one, it copies first and
 * returns the copy, releasing the caller's reference to the original.
 *
 * Indices. A checked index is a Nat value: only a boxed index below the size is in range;
 * a big Nat is always out of range. The f-variants take a boxed index and the u-variants a
 * raw machine word; both are unchecked: the caller has already proven the index in range.
 * Every index argument is borrowed.
 *
 * Growth. Object arrays grow to 2 * capacity + 2 and move their element pointers when they
 * are exclusive; scalar arrays grow to twice the needed count. A capacity whose byte count
 * does not fit in 64 bits ends the process with the internal panic "integer overflow in
 * runtime computation"; one that cannot be allocated with "out of memory".
 *
 * Thread safety: any thread, on values the calling thread owns or that are marked
 * multi-threaded; in-place updates only ever touch exclusive objects, which no other
 * thread can see.
 *
 * Compiles as C11 and as C++.
 */
#ifndef QUARN_ARRAY_H
#define QUARN_ARRAY_H

#include "object.h"

QUARN_BEGIN_DECLS

/* ------------------------------------------------------------------------------------------ */
/* Arrays of values                                                                          */
/* ------------------------------------------------------------------------------------------ */

/* A new empty array with room for `capacity` elements. A big Nat capacity ends the process
 * with "out of memory". Borrows `capacity`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_mk_empty_array_with_capacity(quarn_object *capacity)
    QUARN_NOEXCEPT;

/* An array of n copies of v, size = capacity = n; v's count rises by n - 1 in one step, and
 * n = 0 releases v. A big Nat n ends the process with "out of memory".
 * Consumes `n` and `v`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_mk_array(quarn_object *n, quarn_object *v) QUARN_NOEXCEPT;

/* The elements of a List, in order, size = capacity = its length; each element gains a
 * reference before the list is released. Consumes `list`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_mk(quarn_object *list) QUARN_NOEXCEPT;

/* A new List of the elements, in order (each cell counts a heartbeat); the empty array gives
 * the scalar 0. The elements keep one reference each through the list.
 * Consumes `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_to_list(quarn_object *a) QUARN_NOEXCEPT;

/* The size as a boxed Nat. Borrows `a`. */
QUARN_API quarn_object *quarn_lean_array_get_size(quarn_object *a) QUARN_NOEXCEPT;

/* The size as a machine word. Borrows `a`. */
QUARN_API size_t quarn_lean_array_size(quarn_object *a) QUARN_NOEXCEPT;

/* The size of a byte array or float array as a machine word. Borrows `a`. */
QUARN_API size_t quarn_lean_sarray_size(quarn_object *a) QUARN_NOEXCEPT;

/* Element i. Out of range, reports the Lean-level panic "Error: index out of bounds" and
 * returns `default_value` instead. Borrows `default_value`, `a` and `i`.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_get(quarn_object *default_value, quarn_object *a,
                                             quarn_object *i) QUARN_NOEXCEPT;

/* Element i as stored, without a new reference. Borrows `default_value`, `a` and `i`.
 * Returns a reference borrowed from `a`. Out of range it fails as quarn_lean_array_get does
 * and returns an owned reference to `default_value`, which a caller treating the result
 * as borrowed never releases: the default outlives the program's use of it. */
QUARN_API quarn_object *quarn_lean_array_get_borrowed(quarn_object *default_value,
                                                      quarn_object *a,
                                                      quarn_object *i) QUARN_NOEXCEPT;

/* Element i, for a boxed index (fget) or a raw index (uget) below the size; unchecked.
 * Borrows `a` and `i`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_fget(quarn_object *a, quarn_object *i) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_array_uget(quarn_object *a, size_t i) QUARN_NOEXCEPT;

/* Element i as stored; unchecked. Borrows `a` and `i`. Returns a reference borrowed from `a`. */
QUARN_API quarn_object *quarn_lean_array_fget_borrowed(quarn_object *a, quarn_object *i)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_array_uget_borrowed(quarn_object *a, size_t i) QUARN_NOEXCEPT;

/* The array with element i replaced by v (copy-on-write; the old element is released). Out
 * of range, releases v, reports the Lean-level panic "Error: index out of bounds" and returns
 * the array unchanged. Consumes `a` and `v`; borrows `i`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_set(quarn_object *a, quarn_object *i, quarn_object *v)
    QUARN_NOEXCEPT;

/* As quarn_lean_array_set for a boxed (fset) or raw (uset) index below the size; unchecked.
 * Consumes `a` and `v`; borrows `i`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_fset(quarn_object *a, quarn_object *i, quarn_object *v)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_array_uset(quarn_object *a, size_t i, quarn_object *v)
    QUARN_NOEXCEPT;

/* The array with v appended: in place when exclusive with room to spare; an exclusive full
 * array moves to capacity 2 * capacity + 2; a shared one is copied, at that grown capacity
 * when 2 * size >= capacity. Consumes `a` and `v`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_push(quarn_object *a, quarn_object *v) QUARN_NOEXCEPT;

/* The array without its last element, which is released; an empty array stays empty.
 * Consumes `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_pop(quarn_object *a) QUARN_NOEXCEPT;

/* The array with elements i and j exchanged when both are boxed and below the size;
 * otherwise the array unchanged, without a report. Consumes `a`; borrows `i` and `j`.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_swap(quarn_object *a, quarn_object *i, quarn_object *j)
    QUARN_NOEXCEPT;

/* As quarn_lean_array_swap for boxed indices below the size; unchecked.
 * Consumes `a`; borrows `i` and `j`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_array_fswap(quarn_object *a, quarn_object *i, quarn_object *j)
    QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Byte arrays and float arrays                                                              */
/* ------------------------------------------------------------------------------------------ */

/* A new empty byte array or float array with room for `capacity` elements. A big Nat
 * capacity ends the process with "out of memory". Borrows `capacity`.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_mk_empty_byte_array(quarn_object *capacity) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_mk_empty_float_array(quarn_object *capacity) QUARN_NOEXCEPT;

/* A byte array of the boxed bytes of an Array (size = capacity = its size).
 * Consumes `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_byte_array_mk(quarn_object *a) QUARN_NOEXCEPT;

/* A float array of the values of an Array of boxed floats (size = capacity = its size).
 * Consumes `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_float_array_mk(quarn_object *a) QUARN_NOEXCEPT;

/* An Array of the bytes, each a scalar (size = capacity). Consumes `a`.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_byte_array_data(quarn_object *a) QUARN_NOEXCEPT;

/* An Array of the values, each in a new boxed float counting a heartbeat (size = capacity).
 * Consumes `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_float_array_data(quarn_object *a) QUARN_NOEXCEPT;

/* The size as a boxed Nat. Borrows `a`. */
QUARN_API quarn_object *quarn_lean_byte_array_size(quarn_object *a) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_float_array_size(quarn_object *a) QUARN_NOEXCEPT;

/* Element i for a boxed index below the size; otherwise 0 (0.0), without a report.
 * Borrows `a` and `i`. */
QUARN_API uint8_t quarn_lean_byte_array_get(quarn_object *a, quarn_object *i) QUARN_NOEXCEPT;
QUARN_API double quarn_lean_float_array_get(quarn_object *a, quarn_object *i) QUARN_NOEXCEPT;

/* Element i, for a boxed (fget) or raw (uget) index below the size; unchecked.
 * Borrows `a` and `i`. */
QUARN_API uint8_t quarn_lean_byte_array_fget(quarn_object *a, quarn_object *i) QUARN_NOEXCEPT;
QUARN_API uint8_t quarn_lean_byte_array_uget(quarn_object *a, size_t i) QUARN_NOEXCEPT;
QUARN_API double quarn_lean_float_array_fget(quarn_object *a, quarn_object *i) QUARN_NOEXCEPT;
QUARN_API double quarn_lean_float_array_uget(quarn_object *a, size_t i) QUARN_NOEXCEPT;

/* The array with element i replaced (copy-on-write) for a boxed index below the size;
 * otherwise the array unchanged, without a report. Consumes `a`; borrows `i`.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_byte_array_set(quarn_object *a, quarn_object *i, uint8_t v)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_float_array_set(quarn_object *a, quarn_object *i, double v)
    QUARN_NOEXCEPT;

/* As the set above for a boxed (fset) or raw (uset) index below the size; unchecked.
 * Consumes `a`; borrows `i`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_byte_array_fset(quarn_object *a, quarn_object *i, uint8_t v)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_byte_array_uset(quarn_object *a, size_t i, uint8_t v)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_float_array_fset(quarn_object *a, quarn_object *i, double v)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_float_array_uset(quarn_object *a, size_t i, double v)
    QUARN_NOEXCEPT;

/* The array with v appended; a full array grows to twice size + 1.
 * Consumes `a`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_byte_array_push(quarn_object *a, uint8_t v) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_float_array_push(quarn_object *a, double v) QUARN_NOEXCEPT;

/*
 * Copies len bytes of src from src_off into dest at dest_off and returns dest:
 *   - src_off beyond the size of src: dest unchanged;
 *   - len is cut to what src holds from src_off, dest_off to the size of dest (so an offset
 *     past the end appends);
 *   - dest grows to cover the copy: to exactly the needed size when `exact` is non-zero,
 *     to twice it otherwise; it is copied first unless exclusive.
 * src and dest may be the same array; overlapping ranges copy as if through a buffer.
 * A big Nat offset or length is read as its value when it has one digit; two or more
 * digits end the process with "out of memory".
 * Borrows `src`; consumes `src_off`, `dest`, `dest_off` and `len`. Returns an owned reference.
 */
QUARN_API quarn_object *quarn_lean_byte_array_copy_slice(quarn_object *src, quarn_object *src_off,
                                                         quarn_object *dest,
                                                         quarn_object *dest_off, quarn_object *len,
                                                         uint8_t exact) QUARN_NOEXCEPT;

/* MurmurHash64A of the bytes with seed 11, the same function as the string hash.
 * Borrows `a`. */
QUARN_API uint64_t quarn_lean_byte_array_hash(quarn_object *a) QUARN_NOEXCEPT;

/* 1 if the two scalar arrays are the same object, or hold the same number of equal bytes,
 * else 0. Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_sarray_dec_eq(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* 1 if the two byte slices (constructors of a ByteArray, a start and an end Nat) are the
 * same object or cover the same bytes, else 0. Bounds outside the array are cut to it.
 * Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_byteslice_beq(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Inline fast paths for compiled code                                                       */
/* ------------------------------------------------------------------------------------------ */

/* Each gives the same result as the exported primitive it is named after, which it calls
 * for every case but the common one. */

static inline size_t quarn_array_size(const quarn_object *a) {
    return ((const quarn_array_object *)a)->size;
}

/* Element i < size, unchecked. Returns a reference borrowed from `a`. */
static inline quarn_object *quarn_array_uget_borrowed(const quarn_object *a, size_t i) {
    return ((const quarn_array_object *)a)->data[i];
}

/* Element i < size, unchecked. Borrows `a`. Returns an owned reference. */
static inline quarn_object *quarn_array_uget(const quarn_object *a, size_t i) {
    quarn_object *v = quarn_array_uget_borrowed(a, i);
    quarn_inc(v);
    return v;
}

/* quarn_lean_array_push: in place when `a` is exclusive with room to spare.
 * Consumes `a` and `v`. Returns an owned reference. */
static inline quarn_object *quarn_array_push(quarn_object *a, quarn_object *v) {
    quarn_array_object *array = (quarn_array_object *)a;
    if (quarn_is_exclusive(a) && array->size < array->capacity) {
        array->data[array->size++] = v;
        return a;
    }
    return quarn_lean_array_push(a, v);
}

static inline size_t quarn_sarray_size(const quarn_object *a) {
    return ((const quarn_sarray_object *)a)->size;
}

/* Byte i < size, unchecked. Borrows `a`. */
static inline uint8_t quarn_byte_array_uget(const quarn_object *a, size_t i) {
    return ((const quarn_sarray_object *)a)->data[i];
}

/* quarn_lean_byte_array_push: in place when `a` is exclusive with room to spare.
 * Consumes `a`. Returns an owned reference. */
static inline quarn_object *quarn_byte_array_push(quarn_object *a, uint8_t b) {
    quarn_sarray_object *array = (quarn_sarray_object *)a;
    if (quarn_is_exclusive(a) && array->size < array->capacity) {
        array->data[array->size++] = b;
        return a;
    }
    return quarn_lean_byte_array_push(a, b);
}

QUARN_END_DECLS

#endif /* QUARN_ARRAY_H */

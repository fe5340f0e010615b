/*
 * quarn/closure.h: closures and their application, thunks, and reference cells.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++. The layouts (quarn_closure_object, quarn_thunk_object,
 * quarn_ref_object) are in quarn/object.h.
 *
 * Closures. A closure holds a code pointer, the code's arity and the first `fixed` of its
 * arguments (0 <= fixed < arity), so it always waits for at least one more. The code takes
 * and returns value words and consumes every argument. For arity 1 to 16 it is an ordinary
 * C function of that many `quarn_object *` arguments; above 16 it takes one argument, a
 * pointer to an array of `arity` values which the caller allocates and frees (the callee
 * owns the values, not the array).
 *
 * Application (quarn_apply_*) consumes the closure and every argument:
 *   fewer arguments than the closure waits for   a new closure holding them as well;
 *   exactly as many                               one call of the code;
 *   more                                          a call with the first ones, then the
 *                                                 result applied to the rest.
 * Applying a scalar releases the arguments and returns the scalar.
 *
 * Thunks and reference cells may be shared between threads once they are multi-threaded;
 * the operations below then take no lock. Any thread may call every entry point here.
 */
#ifndef QUARN_CLOSURE_H
#define QUARN_CLOSURE_H

#include "object.h"

QUARN_BEGIN_DECLS

/* ------------------------------------------------------------------------------------------ */
/* Closures                                                                                  */
/* ------------------------------------------------------------------------------------------ */

/* A new closure of `code` with rc 1 and room for `fixed` arguments, not yet stored: the
 * caller stores each with quarn_closure_set before the closure is used. A null code pointer,
 * fixed >= arity or an arity above 65535 is an internal panic. Does not count a heartbeat.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_alloc_closure(void *code, uint32_t arity, uint32_t fixed)
    QUARN_NOEXCEPT;

static inline void *quarn_closure_code(const quarn_object *c) {
    return ((const quarn_closure_object *)c)->code;
}
static inline unsigned quarn_closure_arity(const quarn_object *c) {
    return ((const quarn_closure_object *)c)->arity;
}
static inline unsigned quarn_closure_num_fixed(const quarn_object *c) {
    return ((const quarn_closure_object *)c)->fixed;
}

/* Fixed argument i. Returns a reference borrowed from c. */
static inline quarn_object *quarn_closure_get(const quarn_object *c, unsigned i) {
    return ((const quarn_closure_object *)c)->args[i];
}

/* Stores fixed argument i of a fresh closure. Consumes v. */
static inline void quarn_closure_set(quarn_object *c, unsigned i, quarn_object *v) {
    ((quarn_closure_object *)c)->args[i] = v;
}

/* Applies f, a closure or a scalar, to the arguments in order. Consumes `f` and every
 * argument. Returns an owned reference. */
QUARN_API quarn_object *quarn_apply_1(quarn_object *f, quarn_object *a1) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_2(quarn_object *f, quarn_object *a1, quarn_object *a2)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_3(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                      quarn_object *a3) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_4(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                      quarn_object *a3, quarn_object *a4) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_5(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                      quarn_object *a3, quarn_object *a4, quarn_object *a5)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_6(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                      quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                      quarn_object *a6) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_7(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                      quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                      quarn_object *a6, quarn_object *a7) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_8(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                      quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                      quarn_object *a6, quarn_object *a7, quarn_object *a8)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_9(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                      quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                      quarn_object *a6, quarn_object *a7, quarn_object *a8,
                                      quarn_object *a9) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_10(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                       quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                       quarn_object *a6, quarn_object *a7, quarn_object *a8,
                                       quarn_object *a9, quarn_object *a10) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_11(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                       quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                       quarn_object *a6, quarn_object *a7, quarn_object *a8,
                                       quarn_object *a9, quarn_object *a10, quarn_object *a11)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_12(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                       quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                       quarn_object *a6, quarn_object *a7, quarn_object *a8,
                                       quarn_object *a9, quarn_object *a10, quarn_object *a11,
                                       quarn_object *a12) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_13(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                       quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                       quarn_object *a6, quarn_object *a7, quarn_object *a8,
                                       quarn_object *a9, quarn_object *a10, quarn_object *a11,
                                       quarn_object *a12, quarn_object *a13) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_14(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                       quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                       quarn_object *a6, quarn_object *a7, quarn_object *a8,
                                       quarn_object *a9, quarn_object *a10, quarn_object *a11,
                                       quarn_object *a12, quarn_object *a13, quarn_object *a14)
    QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_15(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                       quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                       quarn_object *a6, quarn_object *a7, quarn_object *a8,
                                       quarn_object *a9, quarn_object *a10, quarn_object *a11,
                                       quarn_object *a12, quarn_object *a13, quarn_object *a14,
                                       quarn_object *a15) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_apply_16(quarn_object *f, quarn_object *a1, quarn_object *a2,
                                       quarn_object *a3, quarn_object *a4, quarn_object *a5,
                                       quarn_object *a6, quarn_object *a7, quarn_object *a8,
                                       quarn_object *a9, quarn_object *a10, quarn_object *a11,
                                       quarn_object *a12, quarn_object *a13, quarn_object *a14,
                                       quarn_object *a15, quarn_object *a16) QUARN_NOEXCEPT;

/* Applies f to the n values of args, in order. Consumes `f` and the n values; borrows the
 * array `args` itself. Returns an owned reference. */
QUARN_API quarn_object *quarn_apply_m(quarn_object *f, uint64_t n, quarn_object **args)
    QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Thunks                                                                                    */
/* ------------------------------------------------------------------------------------------ */

/* A thunk that computes its value by applying `closure` to the scalar 0, at most once.
 * Counts a heartbeat. Consumes `closure`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_mk_thunk(quarn_object *closure) QUARN_NOEXCEPT;

/* A thunk already holding `value`. Counts a heartbeat. Consumes `value`. Returns an owned
 * reference. */
QUARN_API quarn_object *quarn_lean_thunk_pure(quarn_object *value) QUARN_NOEXCEPT;

/* The thunk's value, computing it on first use. When several threads force one thunk, one
 * of them runs the closure and the others wait for its value; a computed value is
 * multi-threaded. A closure returning null, or forcing its own thunk, is an internal
 * panic. Borrows `thunk`. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_thunk_get_own(quarn_object *thunk) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Reference cells (ST.Ref, IO.Ref)                                                          */
/* ------------------------------------------------------------------------------------------ */

/*
 * A single-threaded cell (rc > 0) is read and written with plain loads and stores. A
 * multi-threaded or persistent cell is only accessed with atomic exchanges on its value
 * word; while an operation holds the value the word is null and other operations wait.
 * Values stored into such a cell are marked multi-threaded first. A cell emptied by
 * quarn_lean_st_ref_take makes get, swap and take wait (multi-threaded) or stop with the
 * internal panic "null reference read" (single-threaded) until a set fills it.
 */

/* A new cell holding `value`. Counts a heartbeat. Consumes `value`. Returns an owned
 * reference. */
QUARN_API quarn_object *quarn_lean_st_mk_ref(quarn_object *value) QUARN_NOEXCEPT;

/* The cell's value. Borrows `cell`. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_st_ref_get(quarn_object *cell) QUARN_NOEXCEPT;

/* Stores `value` in the cell and releases the value it held; returns the scalar 0.
 * Borrows `cell`. Consumes `value`. Any thread. */
QUARN_API quarn_object *quarn_lean_st_ref_set(quarn_object *cell, quarn_object *value)
    QUARN_NOEXCEPT;

/* Stores `value` in the cell and returns the value it held. Borrows `cell`. Consumes
 * `value`. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_st_ref_swap(quarn_object *cell, quarn_object *value)
    QUARN_NOEXCEPT;

/* Takes the value out of the cell, leaving it empty. Borrows `cell`. Returns an owned
 * reference. Any thread. */
QUARN_API quarn_object *quarn_lean_st_ref_take(quarn_object *cell) QUARN_NOEXCEPT;

/* 1 when `a` and `b` are the same cell, else 0. Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_st_ref_ptr_eq(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* Inline fast paths of get and set for single-threaded cells holding a value; every other
 * case goes to the exported primitive, with the same result. Plain loads and stores only. */

/* quarn_lean_st_ref_get. Borrows `cell`. Returns an owned reference. */
static inline quarn_object *quarn_st_ref_get(quarn_object *cell) {
    if (quarn_is_st(cell)) {
        quarn_object *v = ((quarn_ref_object *)cell)->value;
        if (v != NULL) {
            quarn_inc(v);
            return v;
        }
    }
    return quarn_lean_st_ref_get(cell);
}

/* quarn_lean_st_ref_set. Borrows `cell`; consumes `value`. Returns the scalar 0. */
static inline quarn_object *quarn_st_ref_set(quarn_object *cell, quarn_object *value) {
    if (quarn_is_st(cell)) {
        quarn_object *old = ((quarn_ref_object *)cell)->value;
        ((quarn_ref_object *)cell)->value = value;
        if (old != NULL) quarn_dec(old);
        return quarn_box(0);
    }
    return quarn_lean_st_ref_set(cell, value);
}

QUARN_END_DECLS

#endif /* QUARN_CLOSURE_H */

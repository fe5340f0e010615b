/*
 * quarn/share.h: sharing common subterms (Lean's ShareCommon).
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * Two objects are shallowly equal when they have the same kind, the same `other` byte and the
 * same shallow content: the words and bytes after the header that describe the object itself,
 * with object fields, array elements and closure arguments taken as pointers. So two
 * constructors are shallowly equal only when their children are the very same objects, and
 * sharing works bottom-up, children first. Big numbers are compared by value.
 *
 * Constructors and arrays are shared by structure, scalar arrays, strings and big numbers by
 * content. Closures, promises, thunks, tasks, reference cells and external objects are never
 * shared: a pass returns them as they are, and so it does with scalars.
 *
 * Both passes work with an explicit stack: values of any depth are fine. They run on the
 * calling thread; the values they are given must be the caller's to read (multi-threaded and
 * persistent objects are counted as their state requires, and a count that would overflow
 * makes the object immortal, as everywhere else).
 */
#ifndef QUARN_SHARE_H
#define QUARN_SHARE_H

#include "object.h"

QUARN_BEGIN_DECLS

/* 1 if a and b are shallowly equal, else 0. A scalar argument is an internal panic
 * ("ShareCommon.Object.eq applied to a scalar"). Borrows a and b. Any thread. */
QUARN_API uint8_t quarn_lean_sharecommon_eq(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* The shallow hash of o: equal for shallowly equal objects. A scalar argument is an
 * internal panic ("ShareCommon.Object.hash applied to a scalar"). Borrows o. Any thread. */
QUARN_API uint64_t quarn_lean_sharecommon_hash(quarn_object *o) QUARN_NOEXCEPT;

/* The value v with its equal subterms made one object each, using tables private to the
 * call. Objects that need no change come back as they are, so a value that is already
 * maximally shared is returned itself. Borrows v. Returns an owned reference. Any thread. */
QUARN_API quarn_object *quarn_lean_sharecommon_quick(quarn_object *v) QUARN_NOEXCEPT;

/*
 * The sharing pass with its tables kept in a Lean state value, so that sharing carries over
 * from one call to the next.
 *
 * factory: a constructor whose object fields 1 to 4 are closures (field 0 is not read):
 *   map-find   (map, key) -> Option value       keyed by object identity
 *   map-insert (map, key, value) -> map
 *   set-find   (set, object) -> Option object   keyed by shallow equality and hash
 *   set-insert (set, object) -> set
 * Each closure consumes its arguments, as Lean functions do. Option: none is the scalar 0,
 * some a tag-1 constructor with one field.
 * state: a tag-0 constructor of two object fields, the map and the set.
 *
 * Returns a tag-0 pair of the shared value and the new state. A scalar or never-shared v is
 * returned as it is, with the state unchanged. Borrows factory; consumes state and v; returns
 * an owned reference. Any thread.
 */
QUARN_API quarn_object *quarn_lean_state_sharecommon(quarn_object *factory, quarn_object *state,
                                                     quarn_object *v) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_SHARE_H */

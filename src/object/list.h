// Lean lists built by the runtime: the empty list is the scalar 0, a cell a constructor of
// tag 1 with the head and the tail.
#pragma once

#include "object/header.h"
#include "object/heartbeat.h"

namespace quarn::object {

// A new cell; counts a heartbeat. Consumes head and tail. Returns an owned reference.
inline quarn_object *make_cons(quarn_object *head, quarn_object *tail) noexcept {
    count_heartbeat();
    quarn_object *cell = allocate_object(sizeof(quarn_object) + 2 * sizeof(quarn_object *), 1, 2);
    quarn_ctor_set(cell, 0, head);
    quarn_ctor_set(cell, 1, tail);
    return cell;
}

}  // namespace quarn::object

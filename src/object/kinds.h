// What each object kind owns, for the walks that release objects and mark them shared.
#pragma once

#include "quarn/object.h"

namespace quarn::object {

// Calls visit(child) on every value owned by an object of the kinds whose children are
// plain fields, in field order: constructor fields, closure fixed arguments, array
// elements, a thunk's closure then its value, a reference cell's value. Thunk and cell
// slots may hold null. Promises, tasks and external objects have their own steps in each
// walk; scalar arrays, strings and big numbers own no values.
template <typename Visit>
[[gnu::always_inline]] inline void for_each_owned_child(quarn_object *o, Visit &&visit) noexcept {
    if (o->tag <= QUARN_MAX_CTOR_TAG) {
        auto *ctor = reinterpret_cast<quarn_ctor_object *>(o);
        for (unsigned i = 0, n = o->other; i < n; ++i) visit(ctor->fields[i]);
        return;
    }
    switch (o->tag) {
        case QUARN_TAG_CLOSURE: {
            auto *closure = reinterpret_cast<quarn_closure_object *>(o);
            for (unsigned i = 0, n = closure->fixed; i < n; ++i) visit(closure->args[i]);
            break;
        }
        case QUARN_TAG_ARRAY: {
            auto *array = reinterpret_cast<quarn_array_object *>(o);
            for (size_t i = 0, n = array->size; i < n; ++i) visit(array->data[i]);
            break;
        }
        case QUARN_TAG_THUNK: {
            auto *thunk = reinterpret_cast<quarn_thunk_object *>(o);
            visit(thunk->closure);
            visit(thunk->value);
            break;
        }
        case QUARN_TAG_REF:
            visit(reinterpret_cast<quarn_ref_object *>(o)->value);
            break;
        default:
            break;
    }
}

// Frees the digit array of a big number in the heap form.
void free_bignum_digits(quarn_bignum_object *big) noexcept;

// The task manager's part in the walks. It installs these when it is built in; until then
// no task object can exist, and meeting one is an unreachable-code panic.
struct TaskOperations {
    // Takes over a task whose last reference is gone; the task manager frees its block.
    void (*release)(quarn_task_object *task) noexcept;
    // The value the marking walks descend into for a task (its closure or value), or null.
    quarn_object *(*marked_child)(quarn_task_object *task) noexcept;
    // Resolves the task of a dropped promise with the scalar 0 if it has no value yet.
    void (*resolve_dropped_promise)(quarn_task_object *task) noexcept;
};

void install_task_operations(const TaskOperations *operations) noexcept;
const TaskOperations &task_operations() noexcept;

}  // namespace quarn::object

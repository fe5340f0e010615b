// The marking walks: making a whole object graph multi-threaded before it is handed to
// another thread, or persistent when it is stored for the life of the process.
#include "object/kinds.h"
#include "object/object_stack.h"
#include "core/panic.h"

namespace quarn::object {

namespace {

// Pushes every value that o holds onto the walk's stack.
void push_children(quarn_object *o, ObjectStack &stack) noexcept {
    auto push = [&](quarn_object *child) __attribute__((always_inline)) {
        if (child != nullptr && !quarn_is_scalar(child)) stack.push(child);
    };
    for_each_owned_child(o, push);
    switch (o->tag) {
        case QUARN_TAG_PROMISE:
            push(&reinterpret_cast<quarn_promise_object *>(o)->result->header);
            break;
        case QUARN_TAG_TASK:
            push(task_operations().marked_child(reinterpret_cast<quarn_task_object *>(o)));
            break;
        case QUARN_TAG_EXTERNAL: {
            auto *external = reinterpret_cast<quarn_external_object *>(o);
            external->klass->foreach(
                external->data,
                [](quarn_object *value, void *context) {
                    if (value != nullptr && !quarn_is_scalar(value))
                        static_cast<ObjectStack *>(context)->push(value);
                },
                &stack);
            break;
        }
        case QUARN_TAG_STRUCT_ARRAY:
        case QUARN_TAG_UNUSED:
            internal_panic(kUnreachable);
        default:
            break;
    }
}

// Walks the graph below v, calling mark(o) on each object; mark returns false for an
// object that already satisfies the walk, which is then not descended into.
template <typename Mark>
void mark_walk(quarn_object *v, Mark &&mark) noexcept {
    if (quarn_is_scalar(v)) return;
    ObjectStack stack;
    stack.push(v);
    while (!stack.empty()) {
        quarn_object *o = stack.pop();
        if (mark(o)) push_children(o, stack);
    }
}

}  // namespace

}  // namespace quarn::object

using namespace quarn::object;

extern "C" void quarn_mark_mt(quarn_object *v) noexcept {
    mark_walk(v, [](quarn_object *o) {
        auto rc = static_cast<uint32_t>(quarn_rc_load(o));
        // Persistent (0) and multi-threaded objects, saturated ones included, stay as they are.
        if (rc - 1u > 0x8000FFFFu) return false;
        quarn_rc_store(o, rc < 0x60000000u ? -static_cast<int32_t>(rc)
                                           : static_cast<int32_t>(0x90000000u));
        return true;
    });
}

extern "C" void quarn_mark_persistent(quarn_object *v) noexcept {
    mark_walk(v, [](quarn_object *o) {
        if (quarn_rc_load(o) == 0) return false;
        quarn_rc_store(o, 0);
        return true;
    });
}

extern "C" quarn_object *quarn_lean_runtime_mark_multi_threaded(quarn_object *v) noexcept {
    quarn_mark_mt(v);
    return v;
}

extern "C" quarn_object *quarn_lean_runtime_mark_persistent(quarn_object *v) noexcept {
    quarn_mark_persistent(v);
    return v;
}

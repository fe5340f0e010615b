// The marking walks: making a whole object graph multi-threaded before it is handed to
// another thread, or persistent when it is stored for the life of the process.
#include "object/kinds.h"
#include "object/object_stack.h"
#include "core/panic.h"

namespace quarn::object {

namespace {

// Pushes every value that o holds onto the walk's stack.
void push_children(quarn_object *o, ObjectStack &stack) noexcept {
    // Only non-null, 8-byte aligned words are objects: a shared reference cell in use holds
    // a busy marker that is neither.
    auto push = [&](quarn_object *child) __attribute__((always_inline)) {
        if (child != nullptr && (reinterpret_cast<uintptr_t>(child) & 7) == 0) stack.push(child);
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

// Multi-threaded objects may be in use by other threads while the walk reaches them: an
// increment or decrement that read the count before the walk can land after it. A plain
// store of 0 would be revived by such an update, and a later release would free an object
// the persistent graph still points to. So they are exchanged, atomically, to the middle of
// the saturated band, which no in-flight update can leave: increments and decrements are
// ignored there and the object is never freed.
constexpr int32_t kSharedPersistent = static_cast<int32_t>(0x88000000u);

extern "C" void quarn_mark_persistent(quarn_object *v) noexcept {
    mark_walk(v, [](quarn_object *o) {
        auto rc = static_cast<uint32_t>(quarn_rc_load(o));
        if (rc == 0) return false;
        if (rc - 1u <= 0x8000FFFFu) {  // single-threaded: private to this thread
            quarn_rc_store(o, 0);
            return true;
        }
        // Multi-threaded: saturated objects are never freed and neither is what they hold.
        if (rc <= 0xA0000000u) return false;
        __atomic_exchange_n(&o->rc, kSharedPersistent, __ATOMIC_RELAXED);
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

// Thunks: a suspended computation run at most once, by whichever thread forces it first,
// and its cached value.
#include "cell/wait.h"
#include "closure/closure.h"
#include "core/in_progress.h"
#include "object/header.h"
#include "object/heartbeat.h"
#include "core/panic.h"
#include "quarn/closure.h"

namespace quarn::cell {

namespace {

using Value = quarn_object *;

quarn_thunk_object *as_thunk(quarn_object *o) noexcept {
    return reinterpret_cast<quarn_thunk_object *>(o);
}

quarn_object *make_thunk(Value value, Value closure) noexcept {
    object::count_heartbeat();
    auto *t = as_thunk(object::allocate_object(sizeof(quarn_thunk_object), QUARN_TAG_THUNK));
    t->value = value;
    t->closure = closure;
    return &t->header;
}

Value load_value(quarn_thunk_object *t) noexcept {
    return __atomic_load_n(&t->value, __ATOMIC_ACQUIRE);
}

// The thunks whose closures this thread is running.
using Evaluation = InProgressOnThisThread<quarn_thunk_object>;

// This thread took the closure, so only it can produce the value.
Value evaluate(quarn_thunk_object *t, Value closure) noexcept {
    Value value;
    {
        Evaluation evaluation(t);
        Value unit = quarn_box(0);
        value = closure::apply(closure, 1, &unit);
    }
    if (value == nullptr) [[unlikely]]
        internal_panic("thunk closure returned no value");
    // Other threads may be waiting for the value: it must be multi-threaded before they
    // can see it.
    quarn_mark_mt(value);
    __atomic_store_n(&t->value, value, __ATOMIC_RELEASE);
    wake_waiters(&t->value);
    quarn_inc(value);
    return value;
}

// Another thread took the closure and is computing the value; waits for it.
//
// If the closure belongs to a thunk that this very thread is evaluating, the computation
// forced its own thunk: the value can never come, since only this thread would produce it.
// Rather than wait forever, that is an internal panic; nothing has been written by then.
// A cycle through thunks evaluated on different threads is not detected: those threads
// wait for each other for ever (asleep), without touching the thunks.
Value wait_for_value(quarn_thunk_object *t) noexcept {
    if (Evaluation::contains(t)) [[unlikely]]
        internal_panic("thunk forced during its own evaluation");
    Value value;
    while ((value = load_value(t)) == nullptr) wait_for_change(&t->value, value);
    quarn_inc(value);
    return value;
}

}  // namespace

}  // namespace quarn::cell

using namespace quarn::cell;

extern "C" quarn_object *quarn_lean_mk_thunk(quarn_object *closure) noexcept {
    return make_thunk(nullptr, closure);
}

extern "C" quarn_object *quarn_lean_thunk_pure(quarn_object *value) noexcept {
    return make_thunk(value, nullptr);
}

extern "C" quarn_object *quarn_lean_thunk_get_own(quarn_object *thunk) noexcept {
    quarn_thunk_object *t = as_thunk(thunk);
    if (Value value = load_value(t)) [[likely]] {
        quarn_inc(value);
        return value;
    }
    // The exchange elects the one thread that runs the closure.
    Value closure = __atomic_exchange_n(&t->closure, nullptr, __ATOMIC_ACQ_REL);
    if (closure != nullptr) return evaluate(t, closure);
    return wait_for_value(t);
}

// The Lean primitives of tasks and promises.
#include "core/lean_panic.h"
#include "core/panic.h"
#include "core/shutdown.h"
#include "object/export.h"
#include "object/header.h"
#include "quarn/closure.h"
#include "quarn/task.h"
#include "task/task.h"

using namespace quarn;
using namespace quarn::task;

namespace {

using Value = quarn_object *;

// Task and promise arguments are checked before use: another kind is a broken program.
quarn_task_object *as_task(Value v) noexcept {
    if (quarn_is_scalar(v) || v->tag != QUARN_TAG_TASK) internal_panic(kUnreachable);
    return reinterpret_cast<quarn_task_object *>(v);
}

quarn_promise_object *as_promise(Value v) noexcept {
    if (quarn_is_scalar(v) || v->tag != QUARN_TAG_PROMISE) internal_panic(kUnreachable);
    return reinterpret_cast<quarn_promise_object *>(v);
}

// A priority as the manager stores it: 0-8 queued, above that dedicated. Numbers too large
// for 32 bits (or for a scalar) stay dedicated rather than reading as the synchronous marker.
uint32_t priority_of(Value priority) noexcept {
    if (!quarn_is_scalar(priority)) {
        quarn_dec(priority);
        return kHighestDedicatedPriority;
    }
    size_t n = quarn_unbox(priority);
    return n > kHighestDedicatedPriority ? kHighestDedicatedPriority : static_cast<uint32_t>(n);
}

// The value of a finished task with a new reference; releases the task.
Value take_value(Value task) noexcept {
    Value value = task::wait(reinterpret_cast<quarn_task_object *>(task));
    quarn_inc(value);
    quarn_dec(task);
    return value;
}

Value closure_of(void *code, unsigned arity, Value first, Value second = nullptr) noexcept {
    Value closure = quarn_alloc_closure(code, arity, second == nullptr ? 1 : 2);
    quarn_closure_set(closure, 0, first);
    if (second != nullptr) quarn_closure_set(closure, 1, second);
    return closure;
}

// An IO action run as a task: the action applied to the world token.
Value run_io_action(Value action, Value) noexcept { return quarn_apply_1(action, quarn_box(0)); }

// An IO function f mapped over a value: f applied to the value and the world token.
Value run_io_function(Value f, Value argument) noexcept {
    return quarn_apply_2(f, argument, quarn_box(0));
}

Value wrap_io_function(Value f) noexcept {
    return closure_of(reinterpret_cast<void *>(&run_io_function), 2, f);
}

// The continuation of a map: f applied to t's value.
Value run_map(Value f, Value t, Value) noexcept { return quarn_apply_1(f, take_value(t)); }

// The second stage of a bind: the inner task's value.
Value run_bind_second_stage(Value inner, Value) noexcept { return take_value(inner); }

// The continuation of a bind: f applied to x's value gives the inner task. Its value is the
// result when it is already there; otherwise the running task waits for the inner task
// and null tells the manager so.
Value run_bind(Value x, Value f, Value) noexcept {
    Value inner = quarn_apply_1(f, take_value(x));
    if (quarn_is_scalar(inner) || inner->tag != QUARN_TAG_TASK)
        internal_panic("Task.bind continuation did not return a task");
    if (value_of(reinterpret_cast<quarn_task_object *>(inner)) != nullptr) return take_value(inner);
    if (current_task() == nullptr) internal_panic("Task.bind continuation ran outside a task");
    set_current_continuation(closure_of(reinterpret_cast<void *>(&run_bind_second_stage), 2, inner));
    return nullptr;
}

Value as_value(quarn_task_object *task) noexcept { return &task->header; }

Value map(Value f, Value t, Value priority, uint8_t sync, bool keep_alive) noexcept {
    quarn_task_object *source = as_task(t);
    uint32_t p = priority_of(priority);
    if (!manager_running() || (sync && value_of(source) != nullptr))
        return as_value(finished_task(quarn_apply_1(f, take_value(t))));
    Value closure = closure_of(reinterpret_cast<void *>(&run_map), 3, f, t);
    quarn_task_object *task = new_pending_task(closure, sync ? kSyncPriority : p, keep_alive);
    add_dependent(source, task);
    return as_value(task);
}

Value bind(Value x, Value f, Value priority, uint8_t sync, bool keep_alive) noexcept {
    quarn_task_object *source = as_task(x);
    uint32_t p = priority_of(priority);
    if (!manager_running() || (sync && value_of(source) != nullptr))
        return quarn_apply_1(f, take_value(x));
    Value closure = closure_of(reinterpret_cast<void *>(&run_bind), 3, x, f);
    quarn_task_object *task = new_pending_task(closure, sync ? kSyncPriority : p, keep_alive);
    add_dependent(source, task);
    return as_value(task);
}

}  // namespace

extern "C" Value quarn_lean_task_pure(Value value) noexcept { return as_value(finished_task(value)); }

extern "C" Value quarn_lean_task_spawn(Value closure, Value priority) noexcept {
    return as_value(spawn(closure, priority_of(priority), false));
}

extern "C" Value quarn_lean_io_as_task(Value action, Value priority) noexcept {
    Value closure = closure_of(reinterpret_cast<void *>(&run_io_action), 2, action);
    return as_value(spawn(closure, priority_of(priority), true));
}

extern "C" Value quarn_lean_task_map(Value f, Value t, Value priority, uint8_t sync) noexcept {
    return map(f, t, priority, sync, false);
}

extern "C" Value quarn_lean_io_map_task(Value f, Value t, Value priority, uint8_t sync) noexcept {
    return map(wrap_io_function(f), t, priority, sync, true);
}

extern "C" Value quarn_lean_task_bind(Value x, Value f, Value priority, uint8_t sync) noexcept {
    return bind(x, f, priority, sync, false);
}

extern "C" Value quarn_lean_io_bind_task(Value x, Value f, Value priority, uint8_t sync) noexcept {
    return bind(x, wrap_io_function(f), priority, sync, true);
}

extern "C" Value quarn_lean_io_wait(Value t) noexcept {
    as_task(t);
    return take_value(t);
}

extern "C" Value quarn_lean_task_get_own(Value t) noexcept QUARN_EXPORT_ALIAS(quarn_lean_io_wait);

extern "C" Value quarn_lean_io_wait_any(Value tasks) noexcept {
    for (Value cell = tasks; !quarn_is_scalar(cell); cell = quarn_ctor_get(cell, 1))
        as_task(quarn_ctor_get(cell, 0));
    return detail::wait_any(tasks);
}

extern "C" Value quarn_lean_io_cancel(Value t) noexcept {
    quarn_task_object *task = as_task(t);
    if (value_of(task) == nullptr) detail::cancel(task);
    return quarn_box(0);
}

extern "C" uint8_t quarn_lean_io_check_canceled() noexcept {
    quarn_task_object *task = current_task();
    if (task == nullptr) return 0;
    Execution *execution = execution_of(task);
    if (execution == nullptr) internal_panic("the current task has no execution data");
    if (execution->canceled.load(std::memory_order_relaxed)) return 1;
    return detail::shutting_down();
}

extern "C" uint8_t quarn_lean_io_get_task_state(Value t) noexcept { return detail::state(as_task(t)); }

extern "C" Value quarn_lean_io_promise_new() noexcept {
    if (!manager_running())
        internal_panic(
            "`IO.Promise.new` called before the task manager is running; this typically happens "
            "when called (directly or transitively, e.g. via `IO.CancelToken.new`) from an "
            "`initialize` block. Construct lazily on first use instead.");
    auto *promise = reinterpret_cast<quarn_promise_object *>(
        object::allocate_object(sizeof(quarn_promise_object), QUARN_TAG_PROMISE));
    promise->result = new_promise_task();
    return &promise->header;
}

extern "C" Value quarn_lean_io_promise_resolve(Value value, Value p) noexcept {
    quarn_promise_object *promise = as_promise(p);
    Value some = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(some, 0, value);
    // The first resolution wins.
    if (!resolve(promise->result, some)) quarn_dec(some);
    return quarn_box(0);
}

extern "C" Value quarn_lean_io_promise_result_opt(Value p) noexcept {
    quarn_task_object *task = as_promise(p)->result;
    quarn_inc_ref(&task->header);
    return &task->header;
}

extern "C" Value quarn_lean_option_get_or_block(Value option) noexcept {
    if (quarn_is_scalar(option)) {
        report_lean_panic("PANIC: Promise.result!: promise has been dropped without ever being resolved");
        shutdown::park_forever();
    }
    Value value = quarn_ctor_get(option, 0);
    quarn_inc(value);
    quarn_dec(option);
    return value;
}

extern "C" uint32_t quarn_lean_internal_get_hardware_concurrency() noexcept {
    return hardware_concurrency();
}

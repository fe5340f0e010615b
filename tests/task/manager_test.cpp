// The task manager: spawning, chains of continuations, cancellation, the extra worker of a
// blocked wait, the drain at the end of main, and the release of tasks nobody holds.
#include <pthread.h>

#include <cstring>
#include <string>
#include <vector>

#include "task_testing.h"

namespace {

using namespace task_testing;

using TwoWorkers = WithManager<2>;
using OneWorker = WithManager<1>;

// ---- closures the tests run ---------------------------------------------------------------

// Arity 2, n fixed: a fresh constructor (tag 0) holding 2n.
Value doubled(Value n, Value) {
    Value box = quarn_alloc_ctor(0, 1, 0);
    quarn_ctor_set(box, 0, quarn_box(2 * quarn_unbox(n)));
    return box;
}

Value doubled_closure(size_t n) {
    Value c = quarn_alloc_closure(reinterpret_cast<void *>(&doubled), 2, 1);
    quarn_closure_set(c, 0, quarn_box(n));
    return c;
}

// Arity 1: the scalar one above the argument.
Value successor(Value n) { return quarn_box(quarn_unbox(n) + 1); }

// Arity 1: a finished task holding the successor (the function of a bind).
Value successor_task(Value n) { return quarn_lean_task_pure(quarn_box(quarn_unbox(n) + 1)); }

std::atomic<int> runs{0};
Gate *gate = nullptr;

Value wait_at_gate(Value) {
    gate->pass();
    ++runs;
    return quarn_box(7);
}

Value count_run(Value v) {
    ++runs;
    return v;
}

Value report_canceled(Value argument) {
    quarn_dec(argument);
    return quarn_box(quarn_lean_io_check_canceled());
}

std::string thread_name() {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

std::string seen_name;
Value record_thread_name(Value) {
    seen_name = thread_name();
    return quarn_box(0);
}

// ---- without a manager ---------------------------------------------------------------------

using WithoutManager = kit::LiveObjectsTest;

TEST_F(WithoutManager, TasksAreBornFinishedOnTheCallingThread) {
    ASSERT_FALSE(quarn::task::manager_running());
    Value t = quarn_lean_task_spawn(closure_of(successor), priority(0));
    auto *task = reinterpret_cast<quarn_task_object *>(t);
    EXPECT_EQ(task->exec, nullptr);
    EXPECT_EQ(t->rc, 1) << "a finished task is single-threaded";
    EXPECT_EQ(quarn_lean_io_get_task_state(t), 2);
    Value m = quarn_lean_task_map(closure_of(successor), t, priority(3), 0);
    EXPECT_EQ(quarn_lean_io_get_task_state(m), 2);
    Value b = quarn_lean_task_bind(m, closure_of(successor_task), priority(0), 0);
    Value v = quarn_lean_io_wait(b);
    EXPECT_EQ(v, quarn_box(3)) << "1 from the unit, then two successors";
    EXPECT_EQ(quarn_lean_io_check_canceled(), 0);
}

TEST_F(WithoutManager, OperationsThatNeedTheManagerStop) {
    Value pure = quarn_lean_task_pure(quarn_box(1));
    EXPECT_INTERNAL_PANIC(quarn_lean_io_wait_any(quarn_box(0)), "the Lean task manager is not running");
    EXPECT_EQ(quarn_lean_io_cancel(pure), quarn_box(0)) << "a finished task needs no manager";
    EXPECT_EXIT(quarn_lean_io_promise_new(), ::testing::ExitedWithCode(1),
                kit::regex_escape("INTERNAL PANIC: `IO.Promise.new` called before the task manager is "
                                  "running; this typically happens when called (directly or "
                                  "transitively, e.g. via `IO.CancelToken.new`) from an `initialize` "
                                  "block. Construct lazily on first use instead.\n"));
    quarn_dec(pure);
}

TEST_F(WithoutManager, ALimitOfZeroStartsNoManager) {
    quarn::task::start_manager(quarn::task::thread_limit_from("0"));
    EXPECT_FALSE(quarn::task::manager_running());
}

// ---- many tasks ----------------------------------------------------------------------------

TEST_F(TwoWorkers, TenThousandTinyTasksAllGiveTheirValue) {
    constexpr size_t kCount = 10000;
    std::vector<Value> tasks;
    for (size_t i = 0; i < kCount; ++i) tasks.push_back(quarn_lean_task_spawn(doubled_closure(i), priority(i % 9)));
    for (size_t i = 0; i < kCount; ++i) {
        Value box = wait_owned(tasks[i]);
        ASSERT_EQ(quarn_ctor_get(box, 0), quarn_box(2 * i));
        EXPECT_LT(box->rc, 0) << "a task's value is multi-threaded";
        quarn_dec(box);
    }
}

TEST_F(TwoWorkers, WorkersAndDedicatedThreadsCarryTheirNames) {
    quarn_dec(wait_owned(quarn_lean_task_spawn(closure_of(record_thread_name), priority(8))));
    EXPECT_EQ(seen_name, "lean-task-worke") << "the first 15 bytes of \"lean-task-worker\"";
    quarn_dec(wait_owned(quarn_lean_task_spawn(closure_of(record_thread_name), priority(9))));
    EXPECT_EQ(seen_name, "lean-dedicated-") << "the first 15 bytes of \"lean-dedicated-task\"";
    // A priority beyond 32 bits is dedicated too, never the synchronous marker.
    quarn_dec(wait_owned(quarn_lean_task_spawn(closure_of(record_thread_name), priority(size_t{1} << 40))));
    EXPECT_EQ(seen_name, "lean-dedicated-");
}

// ---- chains --------------------------------------------------------------------------------

TEST_F(TwoWorkers, AMapChainOfOneHundredThousandLinks) {
    constexpr size_t kLinks = 100000;
    Gate opened;
    gate = &opened;
    Value t = quarn_lean_task_spawn(closure_of(wait_at_gate), priority(0));
    for (size_t i = 0; i < kLinks; ++i) t = quarn_lean_task_map(closure_of(successor), t, priority(0), i % 2);
    opened.open();
    EXPECT_EQ(wait_owned(t), quarn_box(7 + kLinks));
}

TEST_F(TwoWorkers, ABindChainOfOneHundredThousandLinks) {
    constexpr size_t kLinks = 100000;
    Value t = quarn_lean_task_spawn(doubled_closure(0), priority(0));
    t = quarn_lean_task_map(
        closure_of([](Value box) {
            Value v = quarn_ctor_get(box, 0);
            quarn_dec(box);
            return v;
        }),
        t, priority(0), 0);
    for (size_t i = 0; i < kLinks; ++i) t = quarn_lean_task_bind(t, closure_of(successor_task), priority(0), 0);
    EXPECT_EQ(wait_owned(t), quarn_box(kLinks));
}

TEST_F(TwoWorkers, DroppingLongUnfinishedChainsNeverRecurses) {
    Value promise = quarn_lean_io_promise_new();
    // A chain of maps and binds waiting on one promise, then dropped whole.
    Value t = quarn_lean_io_promise_result_opt(promise);
    for (size_t i = 0; i < 100000; ++i)
        t = i % 2 ? quarn_lean_task_map(closure_of(count_run), t, priority(0), 0)
                  : quarn_lean_task_bind(t, closure_of(successor_task), priority(0), 0);
    quarn_dec(t);
    // One task with a list of 100,000 dependents, all dropped.
    Value source = quarn_lean_io_promise_result_opt(promise);
    for (size_t i = 0; i < 100000; ++i) {
        quarn_inc(source);
        quarn_dec(quarn_lean_task_map(closure_of(count_run), source, priority(0), 0));
    }
    runs = 0;
    quarn_dec(source);
    quarn_lean_io_promise_resolve(quarn_box(1), promise);
    quarn_dec(promise);
    EXPECT_EQ(runs, 0) << "dropped continuations never run";
}

TEST_F(TwoWorkers, TaskValuesNestedOneHundredThousandDeepAreReleasedFlat) {
    Value t = quarn_lean_task_pure(quarn_box(0));
    for (int i = 0; i < 100000; ++i) t = quarn_lean_task_pure(t);
    quarn_dec(t);
}

TEST_F(TwoWorkers, ABindWhoseInnerTaskIsUnfinishedWaitsForIt) {
    Value promise = quarn_lean_io_promise_new();
    Value inner = quarn_lean_io_promise_result_opt(promise);
    // The function ignores its argument and returns the promise's result task.
    Value f = quarn_alloc_closure(reinterpret_cast<void *>(+[](Value task, Value) { return task; }), 2, 1);
    quarn_closure_set(f, 0, inner);
    Value b = quarn_lean_task_bind(quarn_lean_task_pure(quarn_box(0)), f, priority(0), 0);
    wait_until([b] { return quarn_lean_io_get_task_state(b) == 0; }, "the bind to wait for its inner task");
    quarn_lean_io_promise_resolve(quarn_box(5), promise);
    Value some = wait_owned(b);
    EXPECT_EQ(quarn_ctor_get(some, 0), quarn_box(5));
    quarn_dec(some);
    quarn_dec(promise);
}

// ---- synchronous continuations ------------------------------------------------------------

std::thread::id ran_on;
Value record_thread(Value v) {
    ran_on = std::this_thread::get_id();
    return v;
}

TEST_F(TwoWorkers, ASynchronousContinuationRunsOnTheResolvingThread) {
    Value promise = quarn_lean_io_promise_new();
    Value m = quarn_lean_task_map(closure_of(record_thread), quarn_lean_io_promise_result_opt(promise), priority(0), 1);
    std::thread resolver([promise] { quarn_lean_io_promise_resolve(quarn_box(3), promise); });
    std::thread::id resolver_id = resolver.get_id();
    resolver.join();
    EXPECT_EQ(ran_on, resolver_id);
    EXPECT_EQ(quarn::task::value_of(reinterpret_cast<quarn_task_object *>(m)) != nullptr, true)
        << "finished before the resolution returned";
    quarn_dec(m);
    quarn_dec(promise);
}

// ---- cancellation --------------------------------------------------------------------------

TEST_F(TwoWorkers, CancellationReachesWaitingDependents) {
    Value promise = quarn_lean_io_promise_new();
    Value source = quarn_lean_io_promise_result_opt(promise);
    quarn_inc(source);
    Value dependent = quarn_lean_task_map(closure_of(report_canceled), source, priority(0), 0);
    quarn_lean_io_cancel(source);
    quarn_lean_io_promise_resolve(quarn_box(1), promise);
    EXPECT_EQ(wait_owned(dependent), quarn_box(1)) << "the dependent sees its source's cancellation";
    // Cancelling a finished task changes nothing.
    Value fresh = quarn_lean_task_map(closure_of(report_canceled), source, priority(0), 0);
    finished_value(fresh);
    quarn_lean_io_cancel(fresh);
    EXPECT_EQ(quarn_lean_io_wait(fresh), quarn_box(0));
    quarn_dec(promise);
}

TEST(EndOfMain, QueuedTasksRunAndSeeCancellation) {
    int64_t live_before = quarn::object::live_objects();
    quarn::task::start_manager(1);
    Gate opened;
    gate = &opened;
    Value blocker = quarn_lean_task_spawn(closure_of(wait_at_gate), priority(0));
    wait_until([blocker] { return quarn_lean_io_get_task_state(blocker) == 1; }, "the blocker to run");
    std::vector<Value> queued;
    for (int i = 0; i < 3; ++i) queued.push_back(quarn_lean_task_spawn(closure_of(report_canceled), priority(0)));
    EXPECT_EQ(quarn_lean_io_get_task_state(queued[0]), 0);
    std::thread main_returns([] { quarn::task::finalize_manager(); });
    wait_until([] { return quarn::task::detail::shutting_down() || !quarn::task::manager_running(); },
               "the end of main to begin");
    opened.open();
    main_returns.join();
    EXPECT_FALSE(quarn::task::manager_running());
    for (Value t : queued) EXPECT_EQ(quarn_lean_io_wait(t), quarn_box(1)) << "ran during the drain, canceled";
    EXPECT_EQ(quarn_lean_io_wait(blocker), quarn_box(7));
    EXPECT_EQ(quarn::object::live_objects(), live_before);
}

// ---- waiting -------------------------------------------------------------------------------

TEST_F(TwoWorkers, WaitAnyReturnsALaterFinishedElementWithoutBlocking) {
    Value promise = quarn_lean_io_promise_new();
    Value items[] = {quarn_lean_io_promise_result_opt(promise), quarn_lean_task_pure(quarn_box(9))};
    Value list = kit_list(2, items);
    EXPECT_EQ(quarn_lean_io_wait_any(list), quarn_box(9));
    quarn_dec(list);
    quarn_dec(promise);
}

TEST_F(TwoWorkers, WaitAnyWakesWhenAnElementFinishes) {
    Value promise = quarn_lean_io_promise_new();
    Value items[] = {quarn_lean_io_promise_result_opt(promise)};
    Value list = kit_list(1, items);
    std::thread resolver([promise] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        quarn_lean_io_promise_resolve(quarn_box(4), promise);
    });
    Value some = quarn_lean_io_wait_any(list);
    resolver.join();
    EXPECT_EQ(quarn_ctor_get(some, 0), quarn_box(4));
    quarn_dec(some);
    quarn_dec(list);
    quarn_dec(promise);
}

// Runs in a worker: spawns a second task and waits for it. With one worker, only the
// extra worker of a blocked wait can run the second task.
Value spawn_and_wait(Value) {
    Value inner = quarn_lean_task_spawn(doubled_closure(5), priority(0));
    Value box = quarn_lean_io_wait(inner);
    Value v = quarn_ctor_get(box, 0);
    quarn_dec(box);
    return v;
}

TEST_F(OneWorker, AWorkerBlockedInWaitIsReplaced) {
    EXPECT_EQ(wait_owned(quarn_lean_task_spawn(closure_of(spawn_and_wait), priority(0))), quarn_box(10));
}

TEST_F(TwoWorkers, TaskStatesGoFromWaitingToRunningToFinished) {
    Gate opened;
    gate = &opened;
    Value running = quarn_lean_task_spawn(closure_of(wait_at_gate), priority(9));
    wait_until([running] { return quarn_lean_io_get_task_state(running) == 1; }, "the task to run");
    quarn_inc(running);
    Value waiting = quarn_lean_task_map(closure_of(count_run), running, priority(0), 0);
    EXPECT_EQ(quarn_lean_io_get_task_state(waiting), 0);
    opened.open();
    finished_value(waiting);
    EXPECT_EQ(quarn_lean_io_get_task_state(running), 2);
    EXPECT_EQ(quarn_lean_io_get_task_state(waiting), 2);
    quarn_dec(running);
    quarn_dec(waiting);
}

// ---- keep-alive and deactivation -----------------------------------------------------------

Value io_count_run(Value) {
    ++runs;
    Value ok = quarn_alloc_ctor(0, 2, 0);
    quarn_ctor_set(ok, 0, quarn_box(1));
    quarn_ctor_set(ok, 1, quarn_box(0));
    return ok;
}

TEST_F(TwoWorkers, AnIoTaskRunsEvenWhenDroppedAPureOneDoesNot) {
    Gate opened;
    gate = &opened;
    runs = 0;
    Value blocker = quarn_lean_task_spawn(closure_of(wait_at_gate), priority(0));
    quarn_inc(blocker);
    quarn_dec(quarn_lean_io_map_task(quarn_alloc_closure(reinterpret_cast<void *>(+[](Value, Value w) {
                                                               return io_count_run(w);
                                                           }),
                                                           2, 0),
                                     blocker, priority(0), 0));
    quarn_inc(blocker);
    quarn_dec(quarn_lean_task_map(closure_of(count_run), blocker, priority(0), 0));
    opened.open();
    quarn_dec(wait_owned(blocker));
    quarn::task::finalize_manager();
    EXPECT_EQ(runs, 2) << "the blocker and the kept-alive IO map; the dropped pure map never ran";
}

TEST_F(TwoWorkers, AnIoActionsErrorIsItsTasksValue) {
    Value action = closure_of([](Value) {
        Value error = quarn_alloc_ctor(1, 2, 0);
        quarn_ctor_set(error, 0, kit_string("boom"));
        quarn_ctor_set(error, 1, quarn_box(0));
        return error;
    });
    Value result = wait_owned(quarn_lean_io_as_task(action, priority(0)));
    EXPECT_EQ(quarn_ptr_tag(result), 1);
    EXPECT_STREQ(kit_cstr(quarn_ctor_get(result, 0)), "boom");
    quarn_dec(result);
}

// ---- bad input -----------------------------------------------------------------------------

TEST_F(TwoWorkers, ABindFunctionThatReturnsNoTaskStops) {
    EXPECT_INTERNAL_PANIC(quarn_lean_io_wait(quarn_lean_task_bind(quarn_lean_task_pure(quarn_box(0)),
                                                                  closure_of(successor), priority(0), 0)),
                          "Task.bind continuation did not return a task");
}

TEST_F(TwoWorkers, AValueOfAnotherKindIsNoTask) {
    EXPECT_INTERNAL_PANIC(quarn_lean_io_wait(quarn_box(3)), "unreachable code has been reached");
    EXPECT_INTERNAL_PANIC(quarn_lean_io_promise_resolve(quarn_box(1), quarn_box(3)),
                          "unreachable code has been reached");
}

TEST_F(TwoWorkers, ASecondManagerStops) {
    EXPECT_INTERNAL_PANIC(quarn::task::start_manager(1), "the Lean task manager is already running");
}

}  // namespace

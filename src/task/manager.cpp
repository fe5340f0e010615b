// The task manager: one lock over all task state, nine priority queues, standard workers
// started on demand up to a limit, a thread of its own for each dedicated-priority task,
// and the release of task objects whose last reference is gone.
#include <pthread.h>
#include <sched.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "core/lean_panic.h"
#include "core/panic.h"
#include "core/shutdown.h"
#include "object/header.h"
#include "object/heap.h"
#include "object/kinds.h"
#include "quarn/closure.h"
#include "startup/thread_stack.h"
#include "core/allocator.h"
#include "task/task.h"

namespace quarn::task {

namespace {

using Lock = std::unique_lock<std::mutex>;

struct Manager {
    // Made adaptive before first use: a thread that finds the lock taken spins a little
    // before it sleeps, since every section under this lock is a few field updates.
    Manager() noexcept {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ADAPTIVE_NP);
        pthread_mutex_init(lock.native_handle(), &attributes);
        pthread_mutexattr_destroy(&attributes);
    }
    std::mutex lock;
    std::vector<pthread_t, PanicAllocator<pthread_t>> workers;  // standard workers, in start order
    std::deque<quarn_task_object *, PanicAllocator<quarn_task_object *>> queues[kQueueCount];
    uint32_t idle_workers = 0;
    uint32_t max_workers = 0;  // busy workers allowed; raised by one per worker blocked in wait
    uint32_t dedicated_workers = 0;
    // Written under the lock; also read without it by workers spinning for work.
    std::atomic<uint32_t> queued_tasks{0};
    uint32_t spinning_workers = 0;  // idle workers watching queued_tasks before they sleep
    uint32_t highest_priority = 0;
    bool shutting_down = false;
    std::condition_variable work_available;
    std::condition_variable task_finished;
    std::condition_variable dedicated_finished;
    size_t stack_size = 0;
};

// The one record, immortal: threads that outlive the end of main only ever see it alive.
Manager &manager_record = *new Manager;
// Points at manager_record while a manager runs.
constinit std::atomic<Manager *> running_manager{nullptr};

thread_local constinit quarn_task_object *current = nullptr;

Manager *the_manager() noexcept { return running_manager.load(std::memory_order_acquire); }

[[noreturn]] void not_running() noexcept { internal_panic("the Lean task manager is not running"); }

// ---- task records --------------------------------------------------------------------

Execution *new_execution(quarn_object *closure, uint32_t priority, bool keep_alive) noexcept {
    void *bytes = object::allocate_bytes(sizeof(Execution));
    return new (bytes) Execution{closure, nullptr, nullptr, priority, {false}, keep_alive, false};
}

void free_execution(Execution *execution) noexcept {
    execution->~Execution();
    object::free_bytes(execution);
}

Execution *take_execution(quarn_task_object *task) noexcept {
    return static_cast<Execution *>(__atomic_exchange_n(&task->exec, nullptr, __ATOMIC_ACQ_REL));
}

// Frees a deactivated task that never finished: its record and its block.
void free_deactivated(quarn_task_object *task) noexcept {
    if (Execution *execution = take_execution(task)) free_execution(execution);
    object::deallocate(&task->header);
}

// Frees the dependents taken from a task that is being discarded; each must be discarded
// too, since it held a reference to that task through its closure.
void free_dependents_of_discarded(quarn_task_object *dependent) noexcept {
    while (dependent != nullptr) {
        Execution *execution = execution_of(dependent);
        quarn_task_object *next = execution->next_dependent;
        if (!execution->deactivated) internal_panic("a dependent of a deactivated task is still alive");
        free_deactivated(dependent);
        dependent = next;
    }
}

// ---- releases that could nest --------------------------------------------------------
//
// Dropping a task releases its closure or value, which may hold the next task of a chain,
// whose release drops the next closure, and so on. To keep the C stack flat, a task met
// while this thread is already releasing one waits in a list (linked through its size
// word, which nobody reads once the block is ours) and the outermost release takes it up.

thread_local constinit bool releasing_tasks = false;
thread_local constinit quarn_task_object *tasks_to_release = nullptr;

quarn_task_object *&release_link(quarn_task_object *task) noexcept {
    return reinterpret_cast<quarn_task_object **>(task)[-1];
}

void release_value(quarn_object *value) noexcept {
    if (value != nullptr) quarn_dec(value);
}

void release_one_task(quarn_task_object *task) noexcept;

void release_task(quarn_task_object *task) noexcept {
    if (releasing_tasks) {
        release_link(task) = tasks_to_release;
        tasks_to_release = task;
        return;
    }
    releasing_tasks = true;
    release_one_task(task);
    while (quarn_task_object *next = tasks_to_release) {
        tasks_to_release = release_link(next);
        release_one_task(next);
    }
    releasing_tasks = false;
}

// ---- queues and threads --------------------------------------------------------------

void enqueue(Manager &m, Lock &lock, quarn_task_object *task) noexcept;
void run_task(Manager &m, Lock &lock, quarn_task_object *task) noexcept;

// Starts a thread of `stack_size` bytes running body(argument); the error number on failure.
int start_thread(pthread_t *thread, size_t stack_size, void *(*body)(void *), void *argument) noexcept {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stack_size);
    int failure = pthread_create(thread, &attributes, body, argument);
    pthread_attr_destroy(&attributes);
    return failure;
}

// An idle worker watches the queues this many rounds before it sleeps: a burst of small
// tasks then costs no wake-up per task. A round is one pause instruction, so the watch
// lasts some tens of microseconds.
constexpr int kSpinRounds = 100;

// Called with the lock held and no task queued; returns with the lock held, after a
// task was queued, the end of main began, or the watch ran out.
void watch_for_work(Manager &m, Lock &lock) noexcept {
    ++m.spinning_workers;
    lock.unlock();
    for (int i = 0; i < kSpinRounds && m.queued_tasks.load(std::memory_order_relaxed) == 0; ++i)
        __builtin_ia32_pause();
    lock.lock();
    --m.spinning_workers;
}

void *worker_main(void *argument) noexcept {
    // Linux keeps 15 bytes of a thread's name: "lean-task-worker" is cut to "lean-task-worke".
    pthread_setname_np(pthread_self(), "lean-task-worke");
    Manager &m = *static_cast<Manager *>(argument);
    Lock lock(m.lock);
    ++m.idle_workers;
    for (;;) {
        if (m.queued_tasks.load(std::memory_order_relaxed) == 0) {
            if (m.shutting_down) break;
            watch_for_work(m, lock);
            if (m.queued_tasks.load(std::memory_order_relaxed) == 0 && !m.shutting_down)
                m.work_available.wait(lock);
            continue;
        }
        // Keeps the busy workers at the limit; while draining at shutdown, all take part.
        if (!m.shutting_down && m.workers.size() - m.idle_workers >= m.max_workers) {
            m.work_available.wait(lock);
            continue;
        }
        auto &queue = m.queues[m.highest_priority];
        if (queue.empty()) internal_panic("task queue is empty");
        quarn_task_object *task = queue.front();
        queue.pop_front();
        m.queued_tasks.fetch_sub(1, std::memory_order_relaxed);
        if (queue.empty()) {
            uint32_t p = m.highest_priority;
            while (p > 0 && m.queues[p].empty()) --p;
            m.highest_priority = p;
        }
        --m.idle_workers;
        run_task(m, lock, task);
        ++m.idle_workers;
    }
    --m.idle_workers;
    return nullptr;
}

void start_worker(Manager &m) noexcept {
    if (m.shutting_down) return;
    pthread_t thread;
    int failure = start_thread(&thread, m.stack_size, worker_main, &m);
    if (failure != 0)
        internal_panic({"cannot start a task worker thread: ", std::strerror(failure)});
    m.workers.push_back(thread);
}

struct DedicatedRun {
    Manager *manager;
    quarn_task_object *task;
};

void *dedicated_main(void *argument) noexcept {
    // Linux keeps 15 bytes of a thread's name: "lean-dedicated-task" is cut to "lean-dedicated-".
    pthread_setname_np(pthread_self(), "lean-dedicated-");
    DedicatedRun run = *static_cast<DedicatedRun *>(argument);
    object::free_bytes(argument);
    Manager &m = *run.manager;
    Lock lock(m.lock);
    run_task(m, lock, run.task);
    --m.dedicated_workers;
    m.dedicated_finished.notify_all();
    return nullptr;
}

void start_dedicated(Manager &m, quarn_task_object *task) noexcept {
    ++m.dedicated_workers;
    auto *run = new (object::allocate_bytes(sizeof(DedicatedRun))) DedicatedRun{&m, task};
    pthread_t thread;
    int failure = start_thread(&thread, m.stack_size, dedicated_main, run);
    if (failure != 0)
        internal_panic({"cannot start a dedicated task thread: ", std::strerror(failure)});
    pthread_detach(thread);
}

// Synchronous continuations run on the thread that enqueues them. One that becomes ready
// while this thread already runs such a continuation waits in a list (linked through its
// next_dependent, unused once a task is enqueued) until that one returns, so that a chain
// of them runs one after another instead of nesting on the C stack.
thread_local constinit bool running_sync = false;
thread_local constinit quarn_task_object *sync_first = nullptr;
thread_local constinit quarn_task_object *sync_last = nullptr;

void run_synchronously(Manager &m, Lock &lock, quarn_task_object *task) noexcept {
    if (running_sync) {
        execution_of(task)->next_dependent = nullptr;
        if (sync_last != nullptr)
            execution_of(sync_last)->next_dependent = task;
        else
            sync_first = task;
        sync_last = task;
        return;
    }
    running_sync = true;
    run_task(m, lock, task);
    while (quarn_task_object *next = sync_first) {
        sync_first = execution_of(next)->next_dependent;
        if (sync_first == nullptr) sync_last = nullptr;
        execution_of(next)->next_dependent = nullptr;
        run_task(m, lock, next);
    }
    running_sync = false;
}

void enqueue(Manager &m, Lock &lock, quarn_task_object *task) noexcept {
    Execution *execution = execution_of(task);
    if (execution == nullptr) internal_panic("enqueued task has no execution data");
    uint32_t priority = execution->priority;
    if (priority == kSyncPriority) {
        run_synchronously(m, lock, task);
    } else if (priority > kMaxQueuedPriority) {
        start_dedicated(m, task);
    } else {
        if (m.highest_priority < priority) m.highest_priority = priority;
        m.queues[priority].push_back(task);
        m.queued_tasks.fetch_add(1, std::memory_order_relaxed);
        if (m.idle_workers == 0 && m.workers.size() < m.max_workers)
            start_worker(m);
        else if (m.spinning_workers == 0)  // a spinning worker sees the task by itself
            m.work_available.notify_one();
    }
}

// Stores the value (already multi-threaded) and enqueues the dependents. Lock held.
void resolve_locked(Manager &m, Lock &lock, quarn_task_object *task, quarn_object *value) noexcept {
    __atomic_store_n(&task->value, value, __ATOMIC_RELEASE);
    m.task_finished.notify_all();
    Execution *execution = take_execution(task);
    quarn_task_object *dependent = execution->first_dependent;
    bool canceled = execution->canceled.load(std::memory_order_relaxed);
    free_execution(execution);
    while (dependent != nullptr) {
        Execution *waiting = execution_of(dependent);
        quarn_task_object *next = waiting->next_dependent;
        waiting->next_dependent = nullptr;
        if (canceled) waiting->canceled.store(true, std::memory_order_relaxed);
        if (waiting->deactivated)
            free_deactivated(dependent);
        else
            enqueue(m, lock, dependent);
        dependent = next;
    }
}

// Runs a task taken from a queue, a dependent list or a dedicated thread. Called and
// returns with the lock held; the closure runs without it.
void run_task(Manager &m, Lock &lock, quarn_task_object *task) noexcept {
    Execution *execution = execution_of(task);
    if (execution == nullptr) internal_panic("running a task without execution data");
    if (execution->deactivated) {
        free_deactivated(task);
        return;
    }
    quarn_object *closure = execution->closure;
    execution->closure = nullptr;
    lock.unlock();
    quarn_task_object *previous = current;
    current = task;
    quarn_object *value = quarn_apply_1(closure, quarn_box(0));
    if (value != nullptr) {
        quarn_mark_mt(value);
        if (execution->keep_alive) quarn_dec_ref(&task->header);
    }
    lock.lock();
    current = previous;
    if (execution->deactivated) {
        quarn_object *second_stage = execution->closure;
        execution->closure = nullptr;
        lock.unlock();
        release_value(value);
        release_value(second_stage);
        free_deactivated(task);
        lock.lock();
    } else if (value != nullptr) {
        resolve_locked(m, lock, task, value);
    } else {
        // A bind whose inner task was unfinished: its second stage waits for that task.
        if (execution->closure == nullptr) internal_panic(kUnreachable);
        auto *inner = reinterpret_cast<quarn_task_object *>(quarn_closure_get(execution->closure, 0));
        if (value_of(inner) == nullptr) {
            execution->next_dependent = execution_of(inner)->first_dependent;
            execution_of(inner)->first_dependent = task;
        } else {
            enqueue(m, lock, task);
        }
    }
}

// ---- release of task objects ---------------------------------------------------------

// Takes the closure and dependents of an unfinished task out of its record and marks it
// deactivated; returns the closure.
quarn_object *deactivate(Execution *execution, quarn_task_object **dependents) noexcept {
    quarn_object *closure = execution->closure;
    execution->closure = nullptr;
    *dependents = execution->first_dependent;
    execution->first_dependent = nullptr;
    execution->deactivated = true;
    execution->canceled.store(true, std::memory_order_relaxed);
    return closure;
}

void release_one_task(quarn_task_object *task) noexcept {
    Manager *m = the_manager();
    if (m != nullptr && execution_of(task) != nullptr) {
        Lock lock(m->lock);
        // The value and the record change together under the lock.
        if (Execution *execution = execution_of(task)) {
            quarn_task_object *dependents;
            quarn_object *closure = deactivate(execution, &dependents);
            lock.unlock();
            release_value(closure);
            free_dependents_of_discarded(dependents);
            // Whoever meets the task next (a queue, its worker, a resolution) frees it.
            return;
        }
    }
    if (Execution *execution = take_execution(task)) {
        // No manager and never finished.
        quarn_task_object *dependents;
        quarn_object *closure = deactivate(execution, &dependents);
        free_execution(execution);
        release_value(closure);
        free_dependents_of_discarded(dependents);
    } else {
        release_value(value_of(task));
    }
    object::deallocate(&task->header);
}

quarn_object *marked_child(quarn_task_object *task) noexcept { return value_of(task); }

// Without a manager (after the end of main) a dropped promise's task is finished directly.
void resolve_without_manager(quarn_task_object *task, quarn_object *value) noexcept {
    __atomic_store_n(&task->value, value, __ATOMIC_RELEASE);
    Execution *execution = take_execution(task);
    quarn_task_object *dependents = execution->first_dependent;
    free_execution(execution);
    free_dependents_of_discarded(dependents);
}

void resolve_dropped_promise(quarn_task_object *task) noexcept { resolve(task, quarn_box(0)); }

constexpr object::TaskOperations kTaskOperations = {release_task, marked_child, resolve_dropped_promise};

// ---- start and end -------------------------------------------------------------------

void start_at_end_of_initialization() noexcept {
    if (manager_running()) return;
    start_manager(thread_limit_from(std::getenv("LEAN_NUM_THREADS")));
}

void finish_tasks(shutdown::Reason reason) noexcept {
    // After exit or a panic other threads may hold the lock forever: nothing is waited for.
    if (reason == shutdown::Reason::MainReturned) finalize_manager();
}

const bool registered = [] {
    object::install_task_operations(&kTaskOperations);
    shutdown::at_end_of_initialization(start_at_end_of_initialization);
    shutdown::at_shutdown(shutdown::Stage::FinishTasks, finish_tasks);
    return true;
}();

}  // namespace

quarn_task_object *current_task() noexcept { return current; }

bool manager_running() noexcept { return the_manager() != nullptr; }

void start_manager(uint32_t limit) noexcept {
    if (limit == 0) return;
    Manager &m = manager_record;
    {
        Lock lock(m.lock);
        if (running_manager.load(std::memory_order_relaxed) != nullptr)
            internal_panic("the Lean task manager is already running");
        m.max_workers = limit;
        m.idle_workers = 0;
        m.dedicated_workers = 0;
        m.queued_tasks.store(0, std::memory_order_relaxed);
        m.spinning_workers = 0;
        m.highest_priority = 0;
        m.shutting_down = false;
        m.stack_size = startup::lean_thread_stack_size();
    }
    running_manager.store(&m, std::memory_order_release);
}

void finalize_manager() noexcept {
    Manager *m = the_manager();
    if (m == nullptr) return;
    decltype(m->workers) workers;
    {
        Lock lock(m->lock);
        m->shutting_down = true;
        workers.swap(m->workers);
    }
    m->work_available.notify_all();
    for (pthread_t worker : workers) pthread_join(worker, nullptr);
    {
        Lock lock(m->lock);
        m->dedicated_finished.wait(lock, [m] { return m->dedicated_workers == 0; });
    }
    running_manager.store(nullptr, std::memory_order_release);
}

quarn_task_object *finished_task(quarn_object *value) noexcept {
    auto *task = reinterpret_cast<quarn_task_object *>(
        object::allocate_object(sizeof(quarn_task_object), QUARN_TAG_TASK));
    task->value = value;
    task->exec = nullptr;
    return task;
}

quarn_task_object *new_pending_task(quarn_object *closure, uint32_t priority, bool keep_alive) noexcept {
    if (closure != nullptr) quarn_mark_mt(closure);
    auto *task = reinterpret_cast<quarn_task_object *>(
        object::allocate_object(sizeof(quarn_task_object), QUARN_TAG_TASK));
    // Born multi-threaded; keep-alive adds the manager's own reference.
    quarn_rc_store(&task->header, keep_alive ? -2 : -1);
    task->value = nullptr;
    task->exec = new_execution(closure, priority, keep_alive);
    return task;
}

quarn_task_object *spawn(quarn_object *closure, uint32_t priority, bool keep_alive) noexcept {
    Manager *m = the_manager();
    if (m == nullptr) return finished_task(quarn_apply_1(closure, quarn_box(0)));
    quarn_task_object *task = new_pending_task(closure, priority, keep_alive);
    Lock lock(m->lock);
    enqueue(*m, lock, task);
    return task;
}

quarn_task_object *new_promise_task() noexcept { return new_pending_task(nullptr, 0, false); }

bool resolve(quarn_task_object *task, quarn_object *value) noexcept {
    if (value_of(task) != nullptr) return false;
    quarn_mark_mt(value);
    Manager *m = the_manager();
    if (m == nullptr) {
        resolve_without_manager(task, value);
        return true;
    }
    Lock lock(m->lock);
    if (value_of(task) != nullptr) return false;
    resolve_locked(*m, lock, task, value);
    return true;
}

quarn_object *wait(quarn_task_object *task) noexcept {
    if (quarn_object *value = value_of(task)) return value;
    Manager *m = the_manager();
    if (m == nullptr) not_running();
    quarn_task_object *waiter = current;
    uint32_t waiter_priority = waiter != nullptr ? execution_of(waiter)->priority : 0;
    if (waiter != nullptr && waiter_priority == kSyncPriority)
        report_lean_panic("`Task.get` called from a `(sync := true)` task");
    // Small tasks often finish within a few microseconds: watch before going to sleep.
    for (int i = 0; i < kSpinRounds; ++i) {
        if (quarn_object *value = value_of(task)) return value;
        __builtin_ia32_pause();
    }
    Lock lock(m->lock);
    if (quarn_object *value = value_of(task)) return value;
    // A standard worker about to block is replaced, so that queued work still progresses.
    bool raised = waiter != nullptr && waiter_priority <= kMaxQueuedPriority && m->max_workers != UINT32_MAX;
    if (raised) {
        ++m->max_workers;
        if (m->idle_workers == 0)
            start_worker(*m);
        else
            m->work_available.notify_one();
    }
    m->task_finished.wait(lock, [task] { return value_of(task) != nullptr; });
    if (raised) --m->max_workers;
    return value_of(task);
}

void add_dependent(quarn_task_object *task, quarn_task_object *dependent) noexcept {
    Manager *m = the_manager();
    if (m == nullptr) not_running();
    Lock lock(m->lock);
    if (value_of(task) == nullptr) {
        Execution *execution = execution_of(task);
        execution_of(dependent)->next_dependent = execution->first_dependent;
        execution->first_dependent = dependent;
    } else {
        enqueue(*m, lock, dependent);
    }
}

void set_current_continuation(quarn_object *closure) noexcept {
    quarn_mark_mt(closure);
    Manager *m = the_manager();
    if (m == nullptr) not_running();
    Lock lock(m->lock);
    execution_of(current)->closure = closure;
}

uint32_t hardware_concurrency() noexcept {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
    int count = CPU_COUNT(&cpus);
    return count > 0 ? static_cast<uint32_t>(count) : 1;
}

// Public for the few callers inside the task folder.
namespace detail {

bool shutting_down() noexcept {
    Manager *m = the_manager();
    if (m == nullptr) return false;
    Lock lock(m->lock);
    return m->shutting_down;
}

void cancel(quarn_task_object *task) noexcept {
    Manager *m = the_manager();
    if (m == nullptr) not_running();
    Lock lock(m->lock);
    if (Execution *execution = execution_of(task)) execution->canceled.store(true, std::memory_order_relaxed);
}

uint8_t state(quarn_task_object *task) noexcept {
    if (execution_of(task) == nullptr) return 2;
    Manager *m = the_manager();
    if (m == nullptr) not_running();
    Lock lock(m->lock);
    Execution *execution = execution_of(task);
    if (execution == nullptr) return 2;
    return execution->closure == nullptr ? 1 : 0;
}

quarn_object *wait_any(quarn_object *list) noexcept {
    Manager *m = the_manager();
    if (m == nullptr) not_running();
    auto first_finished = [list]() -> quarn_object * {
        for (quarn_object *cell = list; !quarn_is_scalar(cell); cell = quarn_ctor_get(cell, 1)) {
            auto *task = reinterpret_cast<quarn_task_object *>(quarn_ctor_get(cell, 0));
            if (quarn_object *value = value_of(task)) return value;
        }
        return nullptr;
    };
    quarn_object *value = first_finished();
    if (value == nullptr) {
        Lock lock(m->lock);
        m->task_finished.wait(lock, [&] { return (value = first_finished()) != nullptr; });
    }
    quarn_inc(value);
    return value;
}

}  // namespace detail

}  // namespace quarn::task

// Tasks against their peers in the same run: one million trivial tasks against TBB's
// task_group; the cost of one link of a bind chain; a promise's wake-up against a
// condition-variable ping.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>
#include <tbb/task_group.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include <quarn/quarn.h>

namespace {

using Value = quarn_object *;

constexpr size_t kTasks = 1000000;
constexpr size_t kWorkers = 2;

// The task manager starts as a program's would, limited to two busy workers.
const bool manager_started = [] {
    setenv("LEAN_NUM_THREADS", "2", 1);
    quarn_end_initialization();
    return true;
}();

// The trivial task: a closure that returns a boxed value.
Value boxed_value(Value n, Value) { return quarn_box_uint64(quarn_unbox(n)); }

void QuarnSpawnAndWait(benchmark::State &state) {
    std::vector<Value> tasks(kTasks);
    for (auto _ : state) {
        for (size_t i = 0; i < kTasks; ++i) {
            Value c = quarn_alloc_closure(reinterpret_cast<void *>(&boxed_value), 2, 1);
            quarn_closure_set(c, 0, quarn_box(i));
            tasks[i] = quarn_lean_task_spawn(c, quarn_box(0));
        }
        uint64_t sum = 0;
        for (size_t i = 0; i < kTasks; ++i) {
            Value v = quarn_lean_io_wait(tasks[i]);
            sum += quarn_unbox_uint64(v);
            quarn_dec(v);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(QuarnSpawnAndWait)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same work through tbb::task_group on two threads: each task boxes its value into a
// slot, the waiting thread reads and releases them all.
void TbbTaskGroupRunAndWait(benchmark::State &state) {
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism, kWorkers);
    std::vector<Value> slots(kTasks);
    for (auto _ : state) {
        tbb::task_group group;
        for (size_t i = 0; i < kTasks; ++i) group.run([&slots, i] { slots[i] = quarn_box_uint64(i); });
        group.wait();
        uint64_t sum = 0;
        for (size_t i = 0; i < kTasks; ++i) {
            sum += quarn_unbox_uint64(slots[i]);
            quarn_dec(slots[i]);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(TbbTaskGroupRunAndWait)->Unit(benchmark::kMillisecond)->UseRealTime();

Value successor_task(Value n) { return quarn_lean_task_pure(quarn_box(quarn_unbox(n) + 1)); }

// A chain of 100,000 binds, built and waited for; items are links.
void QuarnBindChain(benchmark::State &state) {
    constexpr size_t kLinks = 100000;
    for (auto _ : state) {
        Value t = quarn_lean_task_pure(quarn_box(0));
        for (size_t i = 0; i < kLinks; ++i)
            t = quarn_lean_task_bind(t, quarn_alloc_closure(reinterpret_cast<void *>(&successor_task), 1, 0),
                                     quarn_box(0), 0);
        benchmark::DoNotOptimize(quarn_lean_io_wait(t));
    }
    state.SetItemsProcessed(state.iterations() * kLinks);
}
BENCHMARK(QuarnBindChain)->Unit(benchmark::kMillisecond)->UseRealTime();

// Ping-pong between two threads through promises: each round trip is two resolutions and
// two wake-ups.
void QuarnPromisePing(benchmark::State &state) {
    constexpr int kRounds = 2000;
    for (auto _ : state) {
        std::vector<Value> ping(kRounds), pong(kRounds);
        for (int i = 0; i < kRounds; ++i) {
            ping[i] = quarn_lean_io_promise_new();
            pong[i] = quarn_lean_io_promise_new();
        }
        std::thread partner([&] {
            for (int i = 0; i < kRounds; ++i) {
                quarn_dec(quarn_lean_io_wait(quarn_lean_io_promise_result_opt(ping[i])));
                quarn_lean_io_promise_resolve(quarn_box(0), pong[i]);
            }
        });
        for (int i = 0; i < kRounds; ++i) {
            quarn_lean_io_promise_resolve(quarn_box(0), ping[i]);
            quarn_dec(quarn_lean_io_wait(quarn_lean_io_promise_result_opt(pong[i])));
        }
        partner.join();
        for (int i = 0; i < kRounds; ++i) {
            quarn_dec(ping[i]);
            quarn_dec(pong[i]);
        }
    }
    state.SetItemsProcessed(state.iterations() * kRounds * 2);
}
BENCHMARK(QuarnPromisePing)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same ping-pong with a mutex, a condition variable and two counters.
void CondvarPing(benchmark::State &state) {
    constexpr int kRounds = 2000;
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable changed;
        int pings = 0, pongs = 0;
        std::thread partner([&] {
            for (int i = 1; i <= kRounds; ++i) {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return pings >= i; });
                pongs = i;
                changed.notify_all();
            }
        });
        for (int i = 1; i <= kRounds; ++i) {
            std::unique_lock lock(mutex);
            pings = i;
            changed.notify_all();
            changed.wait(lock, [&] { return pongs >= i; });
        }
        partner.join();
    }
    state.SetItemsProcessed(state.iterations() * kRounds * 2);
}
BENCHMARK(CondvarPing)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

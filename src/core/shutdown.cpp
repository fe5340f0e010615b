#include "core/shutdown.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "core/panic.h"

namespace quarn::shutdown {

namespace {

// Fixed capacity, no allocation, trivially destructible: nothing here is ever torn down.
constexpr int kMaxSteps = 16;

struct Registered {
    Stage stage;
    Step step;
};

// Slots are claimed by `count` and published by their `step` becoming non-null.
struct Registry {
    std::atomic<int> count{0};
    Registered entries[kMaxSteps];
    std::atomic<Step> published[kMaxSteps];
};
constinit Registry registry{};

constexpr int kMaxActions = 4;
constinit std::atomic<int> action_count{0};
constinit std::atomic<void (*)() noexcept> actions[kMaxActions]{};

constinit std::atomic<bool> process_ending{false};

constexpr Stage kStagesInOrder[] = {Stage::StopHostCalls, Stage::FinishTasks, Stage::FlushHandles};

}  // namespace

void at_shutdown(Stage stage, Step step) noexcept {
    int slot = registry.count.fetch_add(1, std::memory_order_relaxed);
    if (slot >= kMaxSteps) internal_panic("too many shutdown steps registered");
    registry.entries[slot] = {stage, step};
    registry.published[slot].store(step, std::memory_order_release);
}

void run_stage(Stage stage, Reason reason) noexcept {
    int count = std::min(registry.count.load(std::memory_order_acquire), kMaxSteps);
    for (int i = 0; i < count; ++i) {
        Step step = registry.published[i].load(std::memory_order_acquire);
        if (step != nullptr && registry.entries[i].stage == stage) step(reason);
    }
}

void run(Reason reason) noexcept {
    for (Stage stage : kStagesInOrder) run_stage(stage, reason);
}

void at_end_of_initialization(void (*action)() noexcept) noexcept {
    int slot = action_count.fetch_add(1, std::memory_order_relaxed);
    if (slot >= kMaxActions) internal_panic("too many end-of-initialization actions registered");
    actions[slot].store(action, std::memory_order_release);
}

void run_end_of_initialization_actions() noexcept {
    int count = std::min(action_count.load(std::memory_order_acquire), kMaxActions);
    for (int i = 0; i < count; ++i)
        if (auto action = actions[i].load(std::memory_order_acquire)) action();
}

bool claim_process_end() noexcept { return !process_ending.exchange(true, std::memory_order_acq_rel); }

void park_forever() noexcept {
    for (;;) ::pause();
}

}  // namespace quarn::shutdown

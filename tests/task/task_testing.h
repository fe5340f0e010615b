// Helpers for the task tests: a fixture with a running manager, closures made from C++
// functions, a gate that tasks wait at, and waits that are bounded.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "quarn/closure.h"
#include "quarn/task.h"
#include "task/task.h"
#include "testing.h"

namespace task_testing {

using Value = quarn_object *;

inline constexpr auto kPatience = std::chrono::seconds(30);

using kit::gave_up;
using kit::wait_until;

// The task's value once it has one (borrowed), waiting at most kPatience.
inline Value finished_value(Value task) {
    auto *t = reinterpret_cast<quarn_task_object *>(task);
    wait_until([t] { return quarn::task::value_of(t) != nullptr; }, "a task to finish");
    return quarn::task::value_of(t);
}

// quarn_lean_io_wait, once the task has finished (bounded).
inline Value wait_owned(Value task) {
    finished_value(task);
    return quarn_lean_io_wait(task);
}

// A one-shot gate that tasks block at until the test opens it.
class Gate {
public:
    void open() {
        {
            std::scoped_lock lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    void pass() {
        std::unique_lock lock(mutex_);
        if (!opened_.wait_for(lock, kPatience, [this] { return open_; })) gave_up("a gate to open");
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

inline Value closure_of(Value (*code)(Value)) { return quarn_alloc_closure(reinterpret_cast<void *>(code), 1, 0); }

inline Value priority(size_t p) { return quarn_box(p); }

// Starts a manager for each test and finishes it (draining and joining) before the
// live-object check.
template <uint32_t kLimit>
class WithManager : public kit::LiveObjectsTest {
protected:
    void SetUp() override {
        kit::LiveObjectsTest::SetUp();
        quarn::task::start_manager(kLimit);
    }
    void TearDown() override {
        quarn::task::finalize_manager();
        kit::LiveObjectsTest::TearDown();
    }
};

}  // namespace task_testing

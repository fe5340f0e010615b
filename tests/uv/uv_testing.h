// Helpers for the event-loop tests: a fixture with a running task manager, bounded waits
// for promises, readers of IO results and Except values, and socket addresses.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "quarn/array.h"
#include "quarn/task.h"
#include "quarn/uv.h"
#include "task/task.h"
#include "testing.h"
#include "uv/reactor.h"

namespace uv_testing {

using Value = quarn_object *;

using kit::gave_up;
using kit::wait_until;

// Waits until the reactor has finished the pass it is in: a posted callback runs only in
// a later pass, after everything the earlier one resolved or released.
inline void settle_reactor() {
    std::atomic<bool> ran{false};
    quarn::uv::post({[](void *flag) noexcept { static_cast<std::atomic<bool> *>(flag)->store(true); }, &ran});
    wait_until([&] { return ran.load(); }, "the reactor to finish its pass");
}

// The value of an ok IO result (owned); the result is released. Fails on an error.
inline Value ok(Value io_result) {
    EXPECT_EQ(quarn_obj_tag(io_result), 0u) << "expected an ok IO result";
    if (quarn_obj_tag(io_result) != 0) {
        Value error = quarn_ctor_get(io_result, 0);
        ADD_FAILURE() << "error " << kit_error_number(error) << ": " << kit_error_details(error);
    }
    Value value = quarn_ctor_get(io_result, 0);
    quarn_inc(value);
    quarn_dec(io_result);
    return value;
}

// The error number and details of an error IO result (released).
struct ErrorSeen {
    uint32_t number = 0;
    unsigned kind = 0;
    std::string details;
};

inline ErrorSeen error_of(Value io_result) {
    ErrorSeen seen;
    EXPECT_EQ(quarn_obj_tag(io_result), 1u) << "expected an error IO result";
    if (quarn_obj_tag(io_result) == 1) {
        Value error = quarn_ctor_get(io_result, 0);
        seen = {kit_error_number(error), kit_error_kind(error), kit_error_details(error)};
    }
    quarn_dec(io_result);
    return seen;
}

// What a promise's result task finishes with (owned): `some r` or none (the scalar 0).
// Borrows promise.
inline Value outcome(Value promise) {
    Value task = quarn_lean_io_promise_result_opt(promise);
    auto *t = reinterpret_cast<quarn_task_object *>(task);
    wait_until([t] { return quarn::task::value_of(t) != nullptr; }, "a promise to be resolved");
    return quarn_lean_io_wait(task);
}

// The ok value inside a resolved promise's `some (ok v)` (owned). Consumes promise.
inline Value await_ok(Value promise) {
    Value some = outcome(promise);
    quarn_dec(promise);
    EXPECT_EQ(quarn_obj_tag(some), 1u) << "the promise was dropped";
    Value except = quarn_ctor_get(some, 0);
    EXPECT_EQ(quarn_obj_tag(except), 1u) << "the operation failed";
    if (quarn_obj_tag(except) == 0) {
        Value error = quarn_ctor_get(except, 0);
        ADD_FAILURE() << "error " << kit_error_number(error) << ": " << kit_error_details(error);
    }
    Value value = quarn_ctor_get(except, 0);
    quarn_inc(value);
    quarn_dec(some);
    return value;
}

// The error of a resolved promise's `some (error e)`. Consumes promise.
inline ErrorSeen await_error(Value promise) {
    Value some = outcome(promise);
    quarn_dec(promise);
    ErrorSeen seen;
    EXPECT_EQ(quarn_obj_tag(some), 1u) << "the promise was dropped";
    if (quarn_obj_tag(some) == 1) {
        Value except = quarn_ctor_get(some, 0);
        EXPECT_EQ(quarn_obj_tag(except), 0u) << "the operation succeeded";
        if (quarn_obj_tag(except) == 0) {
            Value error = quarn_ctor_get(except, 0);
            seen = {kit_error_number(error), kit_error_kind(error), kit_error_details(error)};
        }
    }
    quarn_dec(some);
    return seen;
}

// Drops the promise and reports whether its result then reads as none.
inline bool reads_none_once_dropped(Value promise) {
    Value task = quarn_lean_io_promise_result_opt(promise);
    quarn_dec(promise);
    auto *t = reinterpret_cast<quarn_task_object *>(task);
    wait_until([t] { return quarn::task::value_of(t) != nullptr; }, "a dropped promise's result");
    Value value = quarn_lean_io_wait(task);
    bool none = value == quarn_box(0);
    quarn_dec(value);
    return none;
}

// Whether the promise is resolved already. Borrows promise.
inline bool promise_resolved_now(Value promise) {
    auto *t = reinterpret_cast<quarn_promise_object *>(promise)->result;
    return quarn::task::value_of(t) != nullptr;
}

// Socket addresses in the Lean form.
inline Value address_of(bool v6, const uint16_t *elements, uint16_t port) {
    size_t n = v6 ? 8 : 4;
    Value ip = quarn_lean_mk_empty_array_with_capacity(quarn_box(n));
    for (size_t i = 0; i < n; ++i) ip = quarn_lean_array_push(ip, quarn_box(elements[i]));
    Value inner = quarn_alloc_ctor(0, 1, 2);
    quarn_ctor_set(inner, 0, ip);
    std::memcpy(quarn_ctor_scalar_area(inner), &port, 2);
    Value outer = quarn_alloc_ctor(v6 ? 1 : 0, 1, 0);
    quarn_ctor_set(outer, 0, inner);
    return outer;
}

inline Value loopback_v4(uint16_t port = 0) {
    const uint16_t octets[4] = {127, 0, 0, 1};
    return address_of(false, octets, port);
}

inline Value loopback_v6(uint16_t port = 0) {
    const uint16_t groups[8] = {0, 0, 0, 0, 0, 0, 0, 1};
    return address_of(true, groups, port);
}

inline uint16_t port_of(Value address) {
    uint16_t port;
    std::memcpy(&port, quarn_ctor_scalar_area(quarn_ctor_get(address, 0)), 2);
    return port;
}

// The elements of an address's IP array.
inline std::vector<size_t> ip_of(Value address) {
    Value ip = quarn_ctor_get(quarn_ctor_get(address, 0), 0);
    std::vector<size_t> elements;
    for (size_t i = 0; i < quarn_array_size(ip); ++i) elements.push_back(quarn_unbox(quarn_array_uget_borrowed(ip, i)));
    return elements;
}

// A fixture with a task manager: the reactor resolves promises, whose tasks need one.
// Before the live-object check the reactor finishes what it is doing.
class UvTest : public kit::LiveObjectsTest {
protected:
    void SetUp() override {
        kit::LiveObjectsTest::SetUp();
        quarn::task::start_manager(2);
    }
    void TearDown() override {
        settle_reactor();
        quarn::task::finalize_manager();
        kit::LiveObjectsTest::TearDown();
    }
};

}  // namespace uv_testing

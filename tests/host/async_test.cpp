// Async programs driven by a host: step by step with host values and with wire bytes,
// resumptions answered twice, cancelled, answered with the wrong type, answers that hold
// handles, and several threads answering at once.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capi/value.h"
#include "host_kit.h"
#include "table_bytes.h"

namespace {

using host::HostTest;
using host::Step;

// The operation of a step: its constructor index in Op (0 ask, 1 add, 2 call).
uint32_t operation_of(const Step &s) { return quarn_value_ctor_index(s.step.value); }

TEST_F(HostTest, AConversationRunsToTheEndWithHostValues) {
    host::Value n = host::nat(32);
    Step s;
    host::invoke_async(s, "conversation", {n.get()});
    ASSERT_EQ(s.status, QUARN_OK) << s.message();
    ASSERT_EQ(s.step.kind, QUARN_STEP_OPERATION);
    EXPECT_NE(s.step.resumption, 0u);
    ASSERT_EQ(operation_of(s), 0u);
    EXPECT_EQ(host::text_of(quarn_value_ctor_field(s.step.value, 0, 0)), "What is your name?");
    EXPECT_EQ(quarn_async_outstanding(), 1u);

    host::Value name = host::string("Ada");
    uint64_t first = s.step.resumption;
    host::resume(s, first, name.get());
    ASSERT_EQ(s.status, QUARN_OK) << s.message();
    ASSERT_EQ(s.step.kind, QUARN_STEP_OPERATION);
    EXPECT_NE(s.step.resumption, first);
    ASSERT_EQ(operation_of(s), 1u);
    uint64_t a = host::nat_of(quarn_value_ctor_field(s.step.value, 1, 0));
    uint64_t b = host::nat_of(quarn_value_ctor_field(s.step.value, 1, 1));
    EXPECT_EQ(a, 32u);
    EXPECT_EQ(b, 10u);

    host::Value sum = host::nat(a + b);
    host::resume(s, s.step.resumption, sum.get());
    ASSERT_EQ(s.status, QUARN_OK) << s.message();
    EXPECT_EQ(s.step.kind, QUARN_STEP_DONE);
    EXPECT_EQ(s.step.resumption, 0u);
    EXPECT_EQ(host::text_of(s.step.value), "Ada has 42");
    EXPECT_EQ(quarn_async_outstanding(), 0u);
}

// Wire helpers for answers and steps.
kit::Bytes string_bytes(std::string_view s) { return kit::Bytes().text(s); }

uint64_t u64_at(const quarn_buffer &b, size_t at) {
    uint64_t v = 0;
    std::memcpy(&v, b.data + at, 8);
    return v;
}

TEST_F(HostTest, AConversationRunsToTheEndWithWireBytes) {
    host::Value n = host::nat(1);
    Step s;
    host::invoke_async(s, "conversation", {n.get()});
    ASSERT_EQ(s.status, QUARN_OK) << s.message();
    uint64_t id = s.step.resumption;

    kit::Bytes name = string_bytes("Bo");
    quarn_buffer step = QUARN_BUFFER_EMPTY;
    ASSERT_EQ(quarn_async_resume(id, name.data.data(), name.data.size(), &step), QUARN_OK);
    // u8 1, Op.add (constructor 1) with Nat 1 and Nat 10, the resumption.
    std::vector<uint8_t> expected{1, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 10};
    ASSERT_EQ(step.length, expected.size() + 8);
    EXPECT_EQ(std::vector<uint8_t>(step.data, step.data + expected.size()), expected);
    uint64_t next = u64_at(step, expected.size());
    EXPECT_GT(next, id);
    quarn_buffer_free(&step);

    kit::Bytes eleven = kit::Bytes().u32(1).u8(11);
    ASSERT_EQ(quarn_async_resume(next, eleven.data.data(), eleven.data.size(), &step), QUARN_OK);
    kit::Bytes done = kit::Bytes().u8(0).text("Bo has 11");
    EXPECT_EQ(std::vector<uint8_t>(step.data, step.data + step.length), done.data);
    quarn_buffer_free(&step);
    EXPECT_EQ(quarn_async_outstanding(), 0u);
}

TEST_F(HostTest, AResumptionIsAnsweredOnce) {
    host::Value n = host::nat(1), name = host::string("Cy");
    Step s;
    host::invoke_async(s, "conversation", {n.get()});
    uint64_t id = s.step.resumption;
    Step next;
    host::resume(next, id, name.get());
    ASSERT_EQ(next.status, QUARN_OK) << next.message();

    Step again;
    host::resume(again, id, name.get());
    EXPECT_EQ(again.status, QUARN_NOT_LIVE);
    EXPECT_EQ(quarn_error_kind(again.error), QUARN_ERROR_FAILURE);
    EXPECT_EQ(again.message(), std::to_string(id) + " is not a live resumption: it was resumed or cancelled already");
    // The step record is cleared on entry and stays cleared on every outcome but OK.
    quarn_step stale = {QUARN_STEP_OPERATION, nullptr, 77};
    quarn_error *error = nullptr;
    EXPECT_EQ(quarn_resume(id, name.get(), &stale, &error), QUARN_NOT_LIVE);
    EXPECT_EQ(stale.kind, QUARN_STEP_DONE);
    EXPECT_EQ(stale.value, nullptr);
    EXPECT_EQ(stale.resumption, 0u);
    quarn_error_free(error);

    kit::Bytes answer = string_bytes("Cy");
    quarn_buffer message = QUARN_BUFFER_EMPTY;
    EXPECT_EQ(quarn_async_resume(id, answer.data.data(), answer.data.size(), &message), QUARN_NOT_LIVE);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(message.data), message.length),
              std::to_string(id) + " is not a live resumption: it was resumed or cancelled already");
    quarn_buffer_free(&message);

    EXPECT_EQ(quarn_async_cancel(next.step.resumption), QUARN_OK);
}

TEST_F(HostTest, CancellingDropsAWaitingProgramOnce) {
    host::Value n = host::nat(7);
    size_t before = quarn_async_outstanding();
    Step s;
    host::invoke_async(s, "conversation", {n.get()});
    EXPECT_EQ(quarn_async_outstanding(), before + 1);
    uint64_t id = s.step.resumption;
    EXPECT_EQ(quarn_async_cancel(id), QUARN_OK);
    EXPECT_EQ(quarn_async_outstanding(), before);
    EXPECT_EQ(quarn_async_cancel(id), QUARN_NOT_LIVE);
    EXPECT_EQ(quarn_async_outstanding(), before);

    host::Value name = host::string("Di");
    Step late;
    host::resume(late, id, name.get());
    EXPECT_EQ(late.status, QUARN_NOT_LIVE);
    EXPECT_EQ(quarn_async_cancel(0), QUARN_NOT_LIVE);
}

TEST_F(HostTest, AnAnswerOfTheWrongTypeEndsTheResumption) {
    host::Value n = host::nat(1), wrong = host::nat(5);
    Step s;
    host::invoke_async(s, "conversation", {n.get()});
    uint64_t id = s.step.resumption;
    Step bad;
    host::resume(bad, id, wrong.get());
    EXPECT_EQ(bad.status, QUARN_MALFORMED);
    EXPECT_EQ(bad.message(), "a value Nat(5) is not of type String");
    EXPECT_EQ(quarn_async_cancel(id), QUARN_NOT_LIVE);

    // In wire form the bytes are read and refused: a string longer than the bytes.
    Step t;
    host::invoke_async(t, "conversation", {n.get()});
    const uint8_t truncated[] = {5, 0, 0, 0, 'a'};
    quarn_buffer message = QUARN_BUFFER_EMPTY;
    EXPECT_EQ(quarn_async_resume(t.step.resumption, truncated, sizeof truncated, &message), QUARN_MALFORMED);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(message.data), message.length),
              "the answer is malformed: a length of 5 exceeds the remaining wire data");
    quarn_buffer_free(&message);
    EXPECT_EQ(quarn_async_cancel(t.step.resumption), QUARN_NOT_LIVE);

    Step u;
    host::invoke_async(u, "conversation", {n.get()});
    const uint8_t extra[] = {1, 0, 0, 0, 'a', 'b'};
    EXPECT_EQ(quarn_async_resume(u.step.resumption, extra, sizeof extra, &message), QUARN_MALFORMED);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(message.data), message.length),
              "the answer is malformed: 1 unexpected bytes after the wire data");
    quarn_buffer_free(&message);
}

TEST_F(HostTest, AnAnswerLendsItsHandlesUnderResume) {
    host::Value five = host::nat(5), three = host::nat(3);
    host::Outcome adder;
    host::invoke(adder, "make_adder", {five.get()});
    ASSERT_EQ(adder.status, QUARN_OK) << adder.message();
    size_t handles = quarn::capi::live_handle_count();

    // The same function value answers two programs: it stays the host's.
    for (int round = 0; round < 2; ++round) {
        Step s;
        host::invoke_async(s, "apply_answer", {three.get()});
        ASSERT_EQ(s.status, QUARN_OK) << s.message();
        ASSERT_EQ(operation_of(s), 2u);
        host::resume(s, s.step.resumption, adder.value);
        ASSERT_EQ(s.status, QUARN_OK) << s.message();
        ASSERT_EQ(s.step.kind, QUARN_STEP_DONE);
        EXPECT_EQ(host::nat_of(s.step.value), 8u);
        EXPECT_EQ(quarn::capi::live_handle_count(), handles);
    }
    quarn_value_free(adder.value);  // the handle is still live: freeing it is fine
    adder.value = nullptr;
    EXPECT_EQ(quarn::capi::live_handle_count(), handles - 1);
}

TEST_F(HostTest, WireAnswersHandTheirHandlesOver) {
    host::Value five = host::nat(5), three = host::nat(3);
    host::Outcome adder;
    host::invoke(adder, "make_adder", {five.get()});
    ASSERT_EQ(adder.status, QUARN_OK) << adder.message();
    size_t handles = quarn::capi::live_handle_count();

    // A new handle for the closure, written into the answer's bytes: kind 0 and the number.
    uint64_t given = quarn_handle_clone(adder.value->bits);
    Step s;
    host::invoke_async(s, "apply_answer", {three.get()});
    ASSERT_EQ(s.status, QUARN_OK) << s.message();
    kit::Bytes answer = kit::Bytes().u8(0).u64(given);
    quarn_buffer step = QUARN_BUFFER_EMPTY;
    ASSERT_EQ(quarn_async_resume(s.step.resumption, answer.data.data(), answer.data.size(), &step), QUARN_OK);
    // Done, with the Nat 8.
    EXPECT_EQ(std::vector<uint8_t>(step.data, step.data + step.length), (std::vector<uint8_t>{0, 1, 0, 0, 0, 8}));
    quarn_buffer_free(&step);
    // The program took the handle over and released it with the closure; the host's own
    // handle is untouched.
    EXPECT_FALSE(quarn::capi::borrow_handle(given).has_value());
    EXPECT_EQ(quarn::capi::live_handle_count(), handles);
    s.step.resumption = 0;
}

TEST_F(HostTest, ThreadsResumeProgramsStartedElsewhere) {
    constexpr int kPrograms = 200, kThreads = 4;
    std::vector<uint64_t> waiting(kPrograms);
    host::Value n = host::nat(2);
    for (int i = 0; i < kPrograms; ++i) {
        Step s;
        host::invoke_async(s, "conversation", {n.get()});
        ASSERT_EQ(s.status, QUARN_OK);
        waiting[i] = s.step.resumption;
        s.step.resumption = 0;
    }
    std::atomic<int> done{0}, wrong{0}, next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            host::Value name = host::string("Ed"), twelve = host::nat(12);
            for (int i; (i = next.fetch_add(1)) < kPrograms;) {
                Step s;
                host::resume(s, waiting[i], name.get());
                if (s.status != QUARN_OK || s.step.kind != QUARN_STEP_OPERATION) {
                    ++wrong;
                    continue;
                }
                uint64_t id = s.step.resumption;
                // Half of them are cancelled from this thread, half answered.
                if (i % 2 == 0) {
                    if (quarn_async_cancel(id) != QUARN_OK) ++wrong;
                    ++done;
                    continue;
                }
                host::resume(s, id, twelve.get());
                if (s.status == QUARN_OK && s.step.kind == QUARN_STEP_DONE && host::text_of(s.step.value) == "Ed has 12")
                    ++done;
                else
                    ++wrong;
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(done.load(), kPrograms);
}

// ---- misuse --------------------------------------------------------------------------

using AsyncDeathTest = HostTest;

TEST_F(AsyncDeathTest, NullRecordsAndFilledBuffersAreFatal) {
    host::Value name = host::string("x");
    quarn_error *error = nullptr;
    EXPECT_INTERNAL_PANIC(quarn_resume(1, name.get(), nullptr, &error), "quarn_resume: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_step_clear(nullptr), "quarn_step_clear: a null pointer");
    uint8_t byte = 0;
    quarn_buffer filled = {&byte, 1, 1};
    EXPECT_INTERNAL_PANIC(quarn_async_resume(1, nullptr, 0, &filled),
                          "quarn_async_resume: a quarn buffer was filled twice");
}

}  // namespace

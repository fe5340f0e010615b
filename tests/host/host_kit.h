// Helpers for the host boundary's tests: owned host values, errors and steps, calls of the
// stand-in program's functions by name, and a fixture that checks objects, handles and
// resumptions come back to where they started.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "capi/handle_table.h"
#include "program.h"
#include "quarn/host.h"
#include "testing.h"

namespace host {

// Frees the value when the test leaves its scope.
class Value {
public:
    explicit Value(quarn_value *v = nullptr) : v_(v) {}
    ~Value() { quarn_value_free(v_); }
    Value(Value &&other) noexcept : v_(other.v_) { other.v_ = nullptr; }
    Value(const Value &) = delete;
    Value &operator=(const Value &) = delete;
    quarn_value *get() const { return v_; }
    quarn_value *release() {
        quarn_value *v = v_;
        v_ = nullptr;
        return v;
    }

private:
    quarn_value *v_;
};

inline Value nat(uint64_t n) { return Value(quarn_value_nat(n)); }
inline Value string(const char *s) { return Value(quarn_value_cstring(s)); }

inline std::string text_of(const quarn_value *v) {
    size_t length = 0;
    const char *bytes = quarn_value_get_string(v, &length);
    return std::string(bytes, length);
}

inline uint64_t nat_of(const quarn_value *v) {
    uint64_t n = 0;
    EXPECT_EQ(quarn_value_get_nat(v, &n), 1);
    return n;
}

inline const kit_program_function &function(const char *name) {
    const kit_program_function *f = kit_program_function_named(name);
    if (f == nullptr) ADD_FAILURE() << "the program has no function " << name;
    return *f;
}

// The outcome of one quarn_invoke; frees what it holds.
struct Outcome {
    int status = -1;
    quarn_value *value = nullptr;
    quarn_error *error = nullptr;

    Outcome() = default;
    Outcome(const Outcome &) = delete;
    Outcome &operator=(const Outcome &) = delete;
    ~Outcome() {
        quarn_value_free(value);
        quarn_error_free(error);
    }
    std::string message() const { return error ? quarn_error_message(error) : "(no error)"; }
};

inline void invoke(Outcome &out, const char *name, std::initializer_list<const quarn_value *> args,
                   std::initializer_list<const quarn_type *> type_args = {}) {
    const kit_program_function &f = function(name);
    std::vector<const quarn_value *> a(args);
    std::vector<const quarn_type *> t(type_args);
    out.status = quarn_invoke(kit_program_types(), f.entry, f.signature, f.signature_length, t.data(),
                              t.size(), a.data(), a.size(), &out.value, &out.error);
}

// A step that frees its value, and an error that frees itself.
struct Step {
    quarn_step step = QUARN_STEP_EMPTY;
    quarn_error *error = nullptr;
    int status = -1;

    Step() = default;
    Step(const Step &) = delete;
    Step &operator=(const Step &) = delete;
    ~Step() {
        quarn_step_clear(&step);
        quarn_error_free(error);
    }
    std::string message() const { return error ? quarn_error_message(error) : "(no error)"; }
    void reset() {
        quarn_step_clear(&step);
        quarn_error_free(error);
        error = nullptr;
    }
};

inline void invoke_async(Step &out, const char *name, std::initializer_list<const quarn_value *> args) {
    const kit_program_function &f = function(name);
    std::vector<const quarn_value *> a(args);
    out.reset();
    out.status = quarn_invoke_async(kit_program_types(), f.entry, f.signature, f.signature_length, nullptr, 0,
                                    a.data(), a.size(), &out.step, &out.error);
}

inline void resume(Step &out, uint64_t resumption, const quarn_value *answer) {
    out.reset();
    out.status = quarn_resume(resumption, answer, &out.step, &out.error);
}

// Objects, handles and resumptions must be back where they started after each test.
class HostTest : public kit::LiveObjectsTest {
protected:
    void SetUp() override {
        kit_program_types();
        LiveObjectsTest::SetUp();
        handles_before_ = quarn::capi::live_handle_count();
        resumptions_before_ = quarn_async_outstanding();
    }
    void TearDown() override {
        EXPECT_EQ(quarn::capi::live_handle_count(), handles_before_) << "handles leaked";
        EXPECT_EQ(quarn_async_outstanding(), resumptions_before_) << "resumptions left waiting";
        LiveObjectsTest::TearDown();
    }

private:
    size_t handles_before_ = 0;
    size_t resumptions_before_ = 0;
};

}  // namespace host

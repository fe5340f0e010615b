// The stand-in program calling its host: a host function passed as an argument, and Lean
// externs bound to C host functions, invoked end to end. Handles and objects come back to
// where they started after each story.
#include <atomic>
#include <string>

#include "host_kit.h"

namespace {

using host::HostTest;
using host::Outcome;
using ProgramCallsHost = HostTest;

int double_nat(void *, const quarn_value *const *args, size_t, quarn_value **result, quarn_error **) {
    *result = quarn_value_nat(host::nat_of(args[0]) * 2);
    return QUARN_OK;
}

void count_finalization(void *counter) { static_cast<std::atomic<int> *>(counter)->fetch_add(1); }

// Registers `function` for the program's extern and binds it.
void implement(const char *name, quarn_host_function function, void *user_data = nullptr) {
    const kit_program_extern *e = kit_program_extern_named(name);
    ASSERT_NE(e, nullptr);
    uint64_t number = quarn_host_function_new(kit_program_types(), e->signature, e->signature_length, function,
                                              user_data, nullptr);
    kit_program_bind_extern(name, number);
}

TEST_F(ProgramCallsHost, LeanAppliesAHostFunctionPassedAsArgument) {
    std::atomic<int> finalized{0};
    quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT);
    quarn_type *type = quarn_type_function(&nat, 1, nat);
    quarn_value *f = quarn_value_function(type, double_nat, &finalized, count_finalization);
    host::Value n = host::nat(5);
    {
        Outcome out;
        host::invoke(out, "apply_twice", {f, n.get()});
        ASSERT_EQ(out.status, QUARN_OK) << out.message();
        EXPECT_EQ(host::nat_of(out.value), 20u);
    }
    // Lean's closure is gone with the call; the value still holds the registration.
    EXPECT_EQ(finalized.load(), 0);
    quarn_value_free(f);
    EXPECT_EQ(finalized.load(), 1);
    quarn_type_free(type);
    quarn_type_free(nat);
}

TEST_F(ProgramCallsHost, LeanAppliesALeanClosureTheHostHolds) {
    host::Value ten = host::nat(10);
    Outcome adder;
    host::invoke(adder, "make_adder", {ten.get()});
    ASSERT_EQ(adder.status, QUARN_OK) << adder.message();
    host::Value one = host::nat(1);
    Outcome out;
    host::invoke(out, "apply_twice", {adder.value, one.get()});
    ASSERT_EQ(out.status, QUARN_OK) << out.message();
    EXPECT_EQ(host::nat_of(out.value), 21u);
}

TEST_F(ProgramCallsHost, PureExtern) {
    implement("host_double", double_nat);
    host::Value n = host::nat(20);
    Outcome out;
    host::invoke(out, "double_plus_one", {n.get()});
    ASSERT_EQ(out.status, QUARN_OK) << out.message();
    EXPECT_EQ(host::nat_of(out.value), 41u);
}

int log_to(void *lines, const quarn_value *const *args, size_t, quarn_value **result, quarn_error **error) {
    std::string line = host::text_of(args[0]);
    if (line.empty()) {
        *error = quarn_error_io("an empty line cannot be logged");
        return QUARN_FAILED;
    }
    *static_cast<std::string *>(lines) += line + "\n";
    *result = quarn_value_unit();
    return QUARN_OK;
}

TEST_F(ProgramCallsHost, IoExternFailureBecomesTheCallersIoError) {
    std::string lines;
    implement("host_log", log_to, &lines);
    host::Value hello = host::string("hello");
    host::Value empty = host::string("");
    Outcome ok, failed;
    host::invoke(ok, "log_line", {hello.get()});
    host::invoke(failed, "log_line", {empty.get()});
    EXPECT_EQ(ok.status, QUARN_OK) << ok.message();
    EXPECT_EQ(lines, "hello\n");
    ASSERT_EQ(failed.status, QUARN_FAILED);
    EXPECT_EQ(quarn_error_kind(failed.error), QUARN_ERROR_IO);
    EXPECT_EQ(failed.message(), "an empty line cannot be logged");
}

// An IO error the host received from one call, raised again by its extern: the program gets
// the same Lean error object, and the host's own error keeps its handle.
TEST_F(ProgramCallsHost, IoErrorWithAHandleTravelsBackIntoLean) {
    host::Value empty = host::string("");
    Outcome greeted;
    host::invoke(greeted, "greet", {empty.get()});
    ASSERT_EQ(greeted.status, QUARN_FAILED);
    auto raise = [](void *error, const quarn_value *const *, size_t, quarn_value **, quarn_error **out) -> int {
        *out = quarn_error_clone(static_cast<const quarn_error *>(error));
        return QUARN_FAILED;
    };
    implement("host_log", raise, greeted.error);
    host::Value line = host::string("anything");
    Outcome out;
    host::invoke(out, "log_line", {line.get()});
    ASSERT_EQ(out.status, QUARN_FAILED);
    EXPECT_EQ(out.message(), greeted.message());
}

TEST_F(ProgramCallsHost, EioExternErrorValueReachesTheCaller) {
    auto check = [](void *, const quarn_value *const *args, size_t, quarn_value **result, quarn_error **error) -> int {
        uint64_t n = host::nat_of(args[0]);
        if (n % 2 == 1) {
            *error = quarn_error_from_value(quarn_value_cstring((std::to_string(n) + " is odd").c_str()));
            return QUARN_FAILED;
        }
        *result = quarn_value_nat(n / 2);
        return QUARN_OK;
    };
    implement("host_check", check);
    host::Value even = host::nat(8), odd = host::nat(7);
    Outcome half, refused;
    host::invoke(half, "check", {even.get()});
    host::invoke(refused, "check", {odd.get()});
    ASSERT_EQ(half.status, QUARN_OK) << half.message();
    EXPECT_EQ(host::nat_of(half.value), 4u);
    ASSERT_EQ(refused.status, QUARN_FAILED);
    EXPECT_EQ(quarn_error_kind(refused.error), QUARN_ERROR_VALUE);
    EXPECT_EQ(host::text_of(quarn_error_value(refused.error)), "7 is odd");
}

}  // namespace

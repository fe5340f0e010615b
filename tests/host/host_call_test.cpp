// Lean externs implemented by C host functions, called the way compiled code calls them:
// quarn_hostcall_begin, one write per argument, and the finish of the extern's result.
// Results and errors reach Lean with their handles moved exactly once; every broken outcome
// of a C function ends the process with its own message.
#include <string>

#include "capi/error.h"
#include "host_testing.h"
#include "io/export_table.h"

namespace {

using namespace host_test;
using HostCall = kit::LiveObjectsTest;

const uint8_t kNat[] = {QUARN_KIND_NAT};
const uint8_t kString[] = {QUARN_KIND_STRING};
const uint8_t kOpaque[] = {QUARN_KIND_OPAQUE};
const uint8_t kUnit[] = {QUARN_KIND_UNIT};

uint64_t register_extern(std::initializer_list<uint8_t> params, const kit::Bytes &result,
                         quarn_host_function function, void *user_data = nullptr) {
    std::vector<uint8_t> sig = signature(params, result);
    return quarn_host_function_new(empty_table(), sig.data(), sig.size(), function, user_data, nullptr);
}

quarn_hostcall *begin(uint64_t id, const char *name = "host_double") {
    return quarn_hostcall_begin(empty_table(), id, name);
}

// Calls a Nat -> Nat extern with n (a boxed Nat, borrowed as compiled code lends it).
quarn_object *call_nat_extern(uint64_t id, uint64_t n) {
    quarn_hostcall *call = begin(id);
    quarn_object *argument = quarn_box(n);
    quarn_hostcall_write(call, argument, kNat, sizeof kNat);
    return quarn_hostcall_finish(call, kNat, sizeof kNat);
}

// The IO.Error of an IO result, or null for an ok result.
const quarn_object *io_error_of(const quarn_object *result) {
    return quarn_obj_tag(result) == 1 ? quarn_ctor_get(result, 0) : nullptr;
}

TEST_F(HostCall, PureExternReturnsTheHostsValue) {
    uint64_t id = register_extern({QUARN_KIND_NAT}, pure(QUARN_KIND_NAT), double_nat);
    quarn_object *r = call_nat_extern(id, 21);
    EXPECT_EQ(quarn_unbox(r), 42u);
    // Large numbers cross as big numbers both ways.
    quarn_object *big = call_nat_extern(id, uint64_t{1} << 62);
    quarn_object *expected = quarn_lean_nat_shiftl(quarn_box(1), quarn_box(63));
    EXPECT_FALSE(quarn_is_scalar(big));
    EXPECT_TRUE(quarn_lean_nat_dec_eq(big, expected));
    quarn_dec(big);
    quarn_dec(expected);
}

TEST_F(HostCall, IoExternFailingWithAMessageRaisesAUserError) {
    auto fail = [](void *message, const quarn_value *const *, size_t, quarn_value **, quarn_error **error) -> int {
        *error = quarn_error_io(static_cast<const char *>(message));
        return QUARN_FAILED;
    };
    char message[] = "the log is full";
    uint64_t id = register_extern({QUARN_KIND_STRING}, io(QUARN_KIND_UNIT), fail, message);
    quarn_hostcall *call = begin(id, "host_log");
    quarn_object *line = kit_string("hello");
    quarn_hostcall_write(call, line, kString, sizeof kString);
    quarn_dec(line);
    quarn_object *result = quarn_hostcall_finish_io(call, kUnit, sizeof kUnit);
    const quarn_object *error = io_error_of(result);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(kit_error_kind(error), static_cast<unsigned>(KIT_USER_ERROR));
    EXPECT_STREQ(kit_error_details(error), "the log is full");
    quarn_dec(result);
}

TEST_F(HostCall, IoExternReturnsItsValue) {
    auto greet = [](void *, const quarn_value *const *args, size_t, quarn_value **result, quarn_error **) -> int {
        *result = quarn_value_cstring(("hello, " + string_of(args[0])).c_str());
        return QUARN_OK;
    };
    uint64_t id = register_extern({QUARN_KIND_STRING}, io(QUARN_KIND_STRING), greet);
    quarn_hostcall *call = begin(id, "host_greet");
    quarn_object *name = kit_string("Ada");
    quarn_hostcall_write(call, name, kString, sizeof kString);
    quarn_dec(name);
    quarn_object *result = quarn_hostcall_finish_io(call, kString, sizeof kString);
    ASSERT_EQ(quarn_obj_tag(result), 0u);
    EXPECT_STREQ(kit_cstr(quarn_ctor_get(result, 0)), "hello, Ada");
    quarn_dec(result);
}

// The host raises the IO error object it holds by handle: Lean receives that very object and
// the handle is gone, released by no one else.
TEST_F(HostCall, IoErrorWithAHandleMovesIntoLeanOnce) {
    auto raise = [](void *object, const quarn_value *const *, size_t, quarn_value **, quarn_error **error) -> int {
        auto *lean_error = static_cast<quarn_object *>(object);
        quarn_inc(lean_error);
        *error = quarn::capi::new_io_error(quarn::capi::register_object(lean_error), "held error");
        return QUARN_FAILED;
    };
    quarn_object *lean_error =
        quarn::io::call_export(quarn::io::Export::mk_io_user_error, kit_string("raised by the host"));
    uint64_t id = register_extern({QUARN_KIND_UNIT}, io(QUARN_KIND_NAT), raise, lean_error);
    quarn_hostcall *call = begin(id, "host_raise");
    quarn_hostcall_write(call, quarn_box(0), kUnit, sizeof kUnit);
    quarn_object *result = quarn_hostcall_finish_io(call, kNat, sizeof kNat);
    EXPECT_EQ(io_error_of(result), lean_error);
    quarn_dec(result);
    quarn_dec(lean_error);
}

TEST_F(HostCall, EioExternCarriesErrorValues) {
    auto check = [](void *, const quarn_value *const *args, size_t, quarn_value **result, quarn_error **error) -> int {
        uint64_t n = nat_of(args[0]);
        if (n >= 100) {
            *error = quarn_error_from_value(quarn_value_cstring((std::to_string(n) + " is too big").c_str()));
            return QUARN_FAILED;
        }
        *result = quarn_value_nat(n + 1);
        return QUARN_OK;
    };
    uint64_t id = register_extern({QUARN_KIND_NAT}, eio(QUARN_KIND_STRING, QUARN_KIND_NAT), check);
    for (uint64_t n : {99, 100}) {
        quarn_hostcall *call = begin(id, "host_check");
        quarn_hostcall_write(call, quarn_box(n), kNat, sizeof kNat);
        quarn_object *result = quarn_hostcall_finish_eio(call, kString, sizeof kString, kNat, sizeof kNat);
        if (n == 99) {
            ASSERT_EQ(quarn_obj_tag(result), 0u);
            EXPECT_EQ(quarn_unbox(quarn_ctor_get(result, 0)), 100u);
        } else {
            ASSERT_EQ(quarn_obj_tag(result), 1u);
            EXPECT_STREQ(kit_cstr(quarn_ctor_get(result, 0)), "100 is too big");
        }
        quarn_dec(result);
    }
}

// Handles inside results and EIO error values belong to Lean once written: freeing the host's
// value afterwards must not release them a second time.
TEST_F(HostCall, HandlesInResultsAndErrorValuesMoveOnce) {
    auto give = [](void *fail, const quarn_value *const *, size_t, quarn_value **result, quarn_error **error) -> int {
        quarn::capi::Handle h = quarn::capi::register_object(kit_string(fail ? "error" : "value"));
        quarn::Text message;
        quarn_value *v = quarn::wire::decode_value(reinterpret_cast<const uint8_t *>(&h), sizeof h,
                                                   decode_type(kit::Bytes().u8(QUARN_KIND_OPAQUE)), nullptr,
                                                   message);
        if (fail == nullptr) {
            *result = v;
            return QUARN_OK;
        }
        *error = quarn_error_from_value(v);
        return QUARN_FAILED;
    };
    int fail = 1;
    uint64_t pure_id = register_extern({QUARN_KIND_UNIT}, pure(QUARN_KIND_OPAQUE), give);
    uint64_t eio_id = register_extern({QUARN_KIND_UNIT}, eio(QUARN_KIND_OPAQUE, QUARN_KIND_OPAQUE), give, &fail);

    quarn_hostcall *call = begin(pure_id, "host_give");
    quarn_hostcall_write(call, quarn_box(0), kUnit, sizeof kUnit);
    quarn_object *value = quarn_hostcall_finish(call, kOpaque, sizeof kOpaque);
    EXPECT_STREQ(kit_cstr(value), "value");
    quarn_dec(value);

    call = begin(eio_id, "host_give");
    quarn_hostcall_write(call, quarn_box(0), kUnit, sizeof kUnit);
    quarn_object *result = quarn_hostcall_finish_eio(call, kOpaque, sizeof kOpaque, kOpaque, sizeof kOpaque);
    ASSERT_EQ(quarn_obj_tag(result), 1u);
    EXPECT_STREQ(kit_cstr(quarn_ctor_get(result, 0)), "error");
    quarn_dec(result);
}

// Arguments Lean lends to a C function arrive as values owning handles of their own, which
// go when the call ends; Lean keeps its object.
TEST_F(HostCall, ArgumentHandlesLastForTheCall) {
    static uint64_t seen_handle;
    auto keep = [](void *, const quarn_value *const *args, size_t, quarn_value **result, quarn_error **) -> int {
        quarn::wire::ByteSink bytes;
        quarn::Text error;
        quarn::wire::write_value(*args[0], decode_type(kit::Bytes().u8(QUARN_KIND_OPAQUE)), nullptr, bytes, error);
        std::memcpy(&seen_handle, bytes.data(), 8);
        *result = quarn_value_bool(is_live(seen_handle));
        return QUARN_OK;
    };
    const uint8_t kBool[] = {QUARN_KIND_BOOL};
    uint64_t id = register_extern({QUARN_KIND_OPAQUE}, pure(QUARN_KIND_BOOL), keep);
    quarn_object *held = kit_string("lent");
    quarn_hostcall *call = begin(id, "host_keep");
    quarn_hostcall_write(call, held, kOpaque, sizeof kOpaque);
    quarn_object *was_live = quarn_hostcall_finish(call, kBool, sizeof kBool);
    EXPECT_EQ(quarn_unbox(was_live), 1u);
    EXPECT_FALSE(is_live(seen_handle));
    EXPECT_STREQ(kit_cstr(held), "lent");
    quarn_dec(held);
}

// ---- broken outcomes ---------------------------------------------------------------------

int ok_and_error(void *, const quarn_value *const *, size_t, quarn_value **result, quarn_error **error) {
    *result = quarn_value_nat(1);
    *error = quarn_error_io("also");
    return QUARN_OK;
}
int ok_without_result(void *, const quarn_value *const *, size_t, quarn_value **, quarn_error **) {
    return QUARN_OK;
}
int failed_without_error(void *, const quarn_value *const *, size_t, quarn_value **, quarn_error **) {
    return QUARN_FAILED;
}
int failed_with_result(void *, const quarn_value *const *, size_t, quarn_value **result, quarn_error **error) {
    *result = quarn_value_nat(1);
    *error = quarn_error_io("failed");
    return QUARN_FAILED;
}
int malformed_status(void *, const quarn_value *const *, size_t, quarn_value **, quarn_error **) {
    return QUARN_MALFORMED;
}
int io_failure(void *, const quarn_value *const *, size_t, quarn_value **, quarn_error **error) {
    *error = quarn_error_io("plain failure");
    return QUARN_FAILED;
}
int value_failure(void *, const quarn_value *const *, size_t, quarn_value **, quarn_error **error) {
    *error = quarn_error_from_value(quarn_value_nat(7));
    return QUARN_FAILED;
}
int wrong_value(void *, const quarn_value *const *, size_t, quarn_value **result, quarn_error **) {
    *result = quarn_value_cstring("not a number");
    return QUARN_OK;
}

// Calls a Nat -> Nat extern of the given result description whose C function is `function`.
void call_broken(quarn_host_function function, const kit::Bytes &result = pure(QUARN_KIND_NAT)) {
    uint64_t id = register_extern({QUARN_KIND_NAT}, result, function);
    quarn_hostcall *call = begin(id, "host_broken");
    quarn_hostcall_write(call, quarn_box(1), kNat, sizeof kNat);
    switch (result.data[0]) {
        case 0:
            quarn_hostcall_finish(call, kNat, sizeof kNat);
            break;
        case 1:
            quarn_hostcall_finish_io(call, kNat, sizeof kNat);
            break;
        default:
            quarn_hostcall_finish_eio(call, kNat, sizeof kNat, kNat, sizeof kNat);
    }
}

TEST(HostCallDeath, EveryBrokenOutcomeOfACFunctionHasItsMessage) {
    EXPECT_INTERNAL_PANIC(call_broken(ok_and_error), "a C host function returned QUARN_OK without exactly a result");
    EXPECT_INTERNAL_PANIC(call_broken(ok_without_result),
                          "a C host function returned QUARN_OK without exactly a result");
    EXPECT_INTERNAL_PANIC(call_broken(failed_without_error),
                          "a C host function returned QUARN_FAILED without exactly an error");
    EXPECT_INTERNAL_PANIC(call_broken(failed_with_result),
                          "a C host function returned QUARN_FAILED without exactly an error");
    EXPECT_INTERNAL_PANIC(call_broken(malformed_status),
                          "a C host function returned status 1 (QUARN_OK or QUARN_FAILED expected)");
    EXPECT_INTERNAL_PANIC(call_broken(value_failure, io(QUARN_KIND_NAT)),
                          "a C host function of an IO extern raised an error that is not an IO error");
    EXPECT_INTERNAL_PANIC(call_broken(io_failure, eio(QUARN_KIND_NAT, QUARN_KIND_NAT)),
                          "a C host function of an EIO extern raised an error that is not an error value");
}

TEST(HostCallDeath, FailuresOfAPureExternEndTheProgram) {
    EXPECT_INTERNAL_PANIC(call_broken(io_failure),
                          "quarn_hostcall_finish: the host implementation of Lean extern 'host_broken' failed: "
                          "plain failure");
    EXPECT_INTERNAL_PANIC(call_broken(wrong_value),
                          "quarn_hostcall_finish: the host implementation of Lean extern 'host_broken' failed: "
                          "returned a malformed value: a value String(\"not a number\") is not of type Nat");
    auto wrong_error = [](void *, const quarn_value *const *, size_t, quarn_value **, quarn_error **error) -> int {
        *error = quarn_error_from_value(quarn_value_cstring("text"));
        return QUARN_FAILED;
    };
    EXPECT_INTERNAL_PANIC(call_broken(wrong_error, eio(QUARN_KIND_NAT, QUARN_KIND_NAT)),
                          "quarn_hostcall_finish_eio: the host implementation of Lean extern 'host_broken' "
                          "failed: returned a malformed error: a value String(\"text\") is not of type Nat");
}

TEST(HostCallDeath, MisuseOfTheRegistryAndTheCallIsFatal) {
    std::vector<uint8_t> sig = signature({QUARN_KIND_NAT}, pure(QUARN_KIND_NAT));
    EXPECT_INTERNAL_PANIC(quarn_host_function_new(nullptr, sig.data(), sig.size(), double_nat, nullptr, nullptr),
                          "quarn_host_function_new: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_host_function_new(empty_table(), sig.data(), sig.size(), nullptr, nullptr, nullptr),
                          "quarn_host_function_new: the function is a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_host_function_new(empty_table(), sig.data(), sig.size() - 1, double_nat, nullptr,
                                                  nullptr),
                          "quarn_host_function_new: a generated signature is invalid: wire data ends after 10 "
                          "bytes; 1 more expected");
    kit::Bytes generic;
    generic.u32(1).u32(1).param(0).u8(0).param(0);
    EXPECT_INTERNAL_PANIC(quarn_host_function_new(empty_table(), generic.data.data(), generic.data.size(),
                                                  double_nat, nullptr, nullptr),
                          "quarn_host_function_new: a host extern's generated signature has type parameters");
    std::vector<uint8_t> outside = signature({QUARN_KIND_NAT}, kit::Bytes().u8(0).inductive(3, 0));
    EXPECT_INTERNAL_PANIC(quarn_host_function_new(empty_table(), outside.data(), outside.size(), double_nat,
                                                  nullptr, nullptr),
                          "quarn_host_function_new: a generated signature is invalid: type index 3 outside "
                          "the type table");
    EXPECT_INTERNAL_PANIC(quarn_hostcall_begin(nullptr, 1, "x"),
                          "quarn_hostcall_begin: a quarn type table is a null pointer");
    const uint8_t bad_type[] = {29};
    EXPECT_INTERNAL_PANIC(quarn_hostcall_write(begin(1), quarn_box(0), bad_type, 1),
                          "quarn_hostcall_write: a generated type expression is invalid: unknown type tag 29");
    EXPECT_INTERNAL_PANIC(
        {
            register_extern({QUARN_KIND_NAT}, pure(QUARN_KIND_NAT), double_nat);
            quarn_dec(call_nat_extern(12345, 1));
        },
        "host function 12345 is not registered (was its value freed?)");
}

TEST(HostCallDeath, AHostFunctionDoesNotReturnAnAsyncProgram) {
    // A program whose operations type Op has one constructor, answered by a Nat.
    kit::Bytes table_bytes;
    table_bytes.header(1).definition("Op", 0, 1).constructor("ask", 0, 0, 0, 0, 0);
    const quarn_types *table = quarn_types_load(table_bytes.data.data(), table_bytes.data.size());
    std::vector<uint8_t> sig =
        signature({QUARN_KIND_NAT}, kit::Bytes().u8(3).u32(0).u32(1).u8(QUARN_KIND_NAT).u8(QUARN_KIND_NAT));
    EXPECT_INTERNAL_PANIC(
        {
            uint64_t id = quarn_host_function_new(table, sig.data(), sig.size(), double_nat, nullptr, nullptr);
            quarn_hostcall *call = quarn_hostcall_begin(table, id, "host_async");
            quarn_hostcall_write(call, quarn_box(1), kNat, sizeof kNat);
            quarn_hostcall_finish(call, kNat, sizeof kNat);
        },
        "a host function does not return an async program");
}

TEST(HostCallDeath, SetHostAfterACFunctionIsFatal) {
    auto call = [](uint64_t, const uint8_t *, size_t, quarn_buffer *) { return 0; };
    auto count = [](uint64_t) {};
    EXPECT_INTERNAL_PANIC(
        {
            register_extern({QUARN_KIND_NAT}, pure(QUARN_KIND_NAT), double_nat);
            quarn_set_host(call, count, count);
        },
        "quarn_set_host: the quarn host entry points are already installed");
    EXPECT_INTERNAL_PANIC(
        {
            quarn_set_host(call, count, count);
            register_extern({QUARN_KIND_NAT}, pure(QUARN_KIND_NAT), double_nat);
        },
        "quarn_host_function_new: the quarn host entry points are already installed");
    EXPECT_INTERNAL_PANIC(
        {
            quarn_set_host(call, count, count);
            quarn_set_host(call, count, count);
        },
        "quarn_set_host: the quarn host entry points are already installed");
    EXPECT_INTERNAL_PANIC(quarn_dec(call_nat_extern(1, 1)),
                          "quarn_hostcall_finish: no quarn host is installed to call host functions");
}

}  // namespace

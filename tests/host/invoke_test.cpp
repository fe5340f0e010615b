// Calling the stand-in program's functions: results, the three kinds of errors with their
// statuses and texts, generic functions, closures and opaque values that come back as
// handles, and the fatal misuse of the interface.
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capi/error.h"
#include "host_kit.h"
#include "quarn/entry.h"

namespace {

using host::HostTest;
using host::Outcome;

TEST_F(HostTest, PureFunctionsReturnTheirValue) {
    host::Value a = host::nat(40), b = host::nat(2);
    Outcome out;
    host::invoke(out, "add", {a.get(), b.get()});
    ASSERT_EQ(out.status, QUARN_OK) << out.message();
    EXPECT_EQ(out.error, nullptr);
    EXPECT_EQ(host::nat_of(out.value), 42u);

    // Beyond 64 bits: big numbers both ways.
    host::Value big(quarn_value_nat_parse("18446744073709551616"));
    Outcome sum;
    host::invoke(sum, "add", {big.get(), big.get()});
    ASSERT_EQ(sum.status, QUARN_OK) << sum.message();
    char *text = quarn_value_number_string(sum.value);
    EXPECT_STREQ(text, "36893488147419103232");
    quarn_string_free(text);

    Outcome zero;
    host::invoke(zero, "zero", {});
    ASSERT_EQ(zero.status, QUARN_OK) << zero.message();
    EXPECT_EQ(host::nat_of(zero.value), 0u);
}

// An entry point that keeps the block it was given and answers with `reply_length` zero
// bytes (the Nat 0 is four, Option.none one).
std::vector<uint8_t> seen_block;
size_t reply_length = 4;
int recording_entry(const uint8_t *block, size_t length, quarn_buffer *output) {
    seen_block.assign(block, block + length);
    std::memset(quarn_buffer_alloc(output, reply_length), 0, reply_length);
    return 0;
}

TEST_F(HostTest, ArgumentBlocksCarryTypeArgumentsThenValues) {
    const kit_program_function &zero = host::function("zero");
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    ASSERT_EQ(quarn_invoke(kit_program_types(), recording_entry, zero.signature, zero.signature_length,
                           nullptr, 0, nullptr, 0, &result, &error),
              QUARN_OK);
    EXPECT_EQ(seen_block, (std::vector<uint8_t>{0, 0, 0, 0}));
    quarn_value_free(result);

    // first {a} at a = String, with ["x"]: one type argument (String), then the list.
    const kit_program_function &first = host::function("first");
    quarn_type *string = quarn_type_simple(QUARN_KIND_STRING);
    quarn_value *items[] = {quarn_value_cstring("x")};
    host::Value list(quarn_value_list(items, 1));
    const quarn_type *type_args[] = {string};
    const quarn_value *args[] = {list.get()};
    reply_length = 1;
    ASSERT_EQ(quarn_invoke(kit_program_types(), recording_entry, first.signature, first.signature_length,
                           type_args, 1, args, 1, &result, &error),
              QUARN_OK);
    EXPECT_EQ(seen_block, (std::vector<uint8_t>{1, 0, 0, 0, QUARN_KIND_STRING, 1, 0, 0, 0, 1, 0, 0, 0, 'x'}));
    quarn_value_free(result);
    quarn_type_free(string);
}

// Signatures are remembered by their bytes, not their address: a host that reuses one
// buffer for the signatures of different functions gets each function's own.
TEST_F(HostTest, ASignatureBufferReusedForAnotherFunctionIsReadAgain) {
    const kit_program_function &add = host::function("add");
    const kit_program_function &parse = host::function("parse_nat");
    std::vector<uint8_t> signature(add.signature, add.signature + add.signature_length);
    host::Value a = host::nat(1), b = host::nat(2);
    const quarn_value *two[] = {a.get(), b.get()};
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    ASSERT_EQ(quarn_invoke(kit_program_types(), add.entry, signature.data(), signature.size(), nullptr, 0,
                           two, 2, &result, &error),
              QUARN_OK);
    EXPECT_EQ(host::nat_of(result), 3u);
    quarn_value_free(result);

    // The same storage, now parse_nat's signature: as long as add's, other bytes (one String
    // parameter, an EIO result).
    ASSERT_EQ(parse.signature_length, signature.size());
    std::memcpy(signature.data(), parse.signature, parse.signature_length);
    host::Value text(quarn_value_cstring("12"));
    const quarn_value *one[] = {text.get()};
    ASSERT_EQ(quarn_invoke(kit_program_types(), parse.entry, signature.data(), signature.size(), nullptr, 0,
                           one, 1, &result, &error),
              QUARN_OK);
    EXPECT_EQ(host::nat_of(result), 12u);
    quarn_value_free(result);
}

TEST_F(HostTest, GenericFunctionsTakeTheirTypeArguments) {
    quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT);
    quarn_type *pair = quarn_type_prod(nat, nat);
    quarn_value *items[] = {quarn_value_prod(quarn_value_nat(1), quarn_value_nat(2)),
                            quarn_value_prod(quarn_value_nat(3), quarn_value_nat(4))};
    host::Value list(quarn_value_list(items, 2));
    Outcome out;
    host::invoke(out, "first", {list.get()}, {pair});
    ASSERT_EQ(out.status, QUARN_OK) << out.message();
    const quarn_value *head = quarn_value_get_option(out.value);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(host::nat_of(quarn_value_first(head)), 1u);
    EXPECT_EQ(host::nat_of(quarn_value_second(head)), 2u);

    host::Value empty(quarn_value_list(nullptr, 0));
    Outcome none;
    host::invoke(none, "first", {empty.get()}, {nat});
    ASSERT_EQ(none.status, QUARN_OK) << none.message();
    EXPECT_EQ(quarn_value_get_option(none.value), nullptr);

    // The list's elements must be of the type argument.
    Outcome wrong;
    host::invoke(wrong, "first", {list.get()}, {nat});
    EXPECT_EQ(wrong.status, QUARN_MALFORMED);
    EXPECT_EQ(wrong.message().rfind("argument 1: a value Prod(", 0), 0u) << wrong.message();
    quarn_type_free(pair);
    quarn_type_free(nat);
}

TEST_F(HostTest, StructuresOfTheTableCrossAsConstructors) {
    quarn_value *fields[] = {quarn_value_nat(3), quarn_value_nat(4)};
    host::Value point(quarn_value_ctor(0, fields, 2));
    Outcome out;
    host::invoke(out, "point_sum", {point.get()});
    ASSERT_EQ(out.status, QUARN_OK) << out.message();
    EXPECT_EQ(host::nat_of(out.value), 7u);

    quarn_value *one[] = {quarn_value_nat(3)};
    host::Value short_point(quarn_value_ctor(0, one, 1));
    Outcome bad;
    host::invoke(bad, "point_sum", {short_point.get()});
    EXPECT_EQ(bad.status, QUARN_MALFORMED);
    EXPECT_EQ(bad.message(), "argument 1: mk takes 2 fields, not 1");
}

TEST_F(HostTest, ArgumentsThatDoNotFitAreMalformedBeforeTheCall) {
    host::Value a = host::nat(1), s = host::string("x");
    Outcome few;
    host::invoke(few, "add", {a.get()});
    EXPECT_EQ(few.status, QUARN_MALFORMED);
    EXPECT_EQ(few.value, nullptr);
    ASSERT_NE(few.error, nullptr);
    EXPECT_EQ(quarn_error_kind(few.error), QUARN_ERROR_FAILURE);
    EXPECT_EQ(few.message(), "1 arguments for 2 parameters");

    Outcome many;
    host::invoke(many, "add", {a.get(), a.get(), a.get()});
    EXPECT_EQ(many.message(), "3 arguments for 2 parameters");

    Outcome typed;
    host::invoke(typed, "add", {a.get(), s.get()});
    EXPECT_EQ(typed.status, QUARN_MALFORMED);
    EXPECT_EQ(typed.message(), "argument 2: a value String(\"x\") is not of type Nat");
}

// An entry point that refuses its block the way generated code does on a bad argument.
int refusing_entry(const uint8_t *, size_t, quarn_buffer *output) {
    const char message[] = "bad\0block";
    std::memcpy(quarn_buffer_alloc(output, sizeof message - 1), message, sizeof message - 1);
    return 1;
}

TEST_F(HostTest, AnEntryPointsRefusalIsMalformedWithItsMessage) {
    const kit_program_function &zero = host::function("zero");
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    EXPECT_EQ(quarn_invoke(kit_program_types(), refusing_entry, zero.signature, zero.signature_length, nullptr,
                           0, nullptr, 0, &result, &error),
              QUARN_MALFORMED);
    EXPECT_EQ(result, nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(quarn_error_kind(error), QUARN_ERROR_FAILURE);
    EXPECT_STREQ(quarn_error_message(error), "bad\xEF\xBF\xBD" "block");
    quarn_error_free(error);
}

TEST_F(HostTest, IoErrorsKeepTheirLeanErrorObjectAsAHandle) {
    host::Value ada = host::string("Ada"), empty = host::string("");
    Outcome hello;
    host::invoke(hello, "greet", {ada.get()});
    ASSERT_EQ(hello.status, QUARN_OK) << hello.message();
    EXPECT_EQ(host::text_of(hello.value), "Hello, Ada!");

    size_t handles = quarn::capi::live_handle_count();
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    const kit_program_function &greet = host::function("greet");
    const quarn_value *args[] = {empty.get()};
    ASSERT_EQ(quarn_invoke(kit_program_types(), greet.entry, greet.signature, greet.signature_length, nullptr,
                           0, args, 1, &result, &error),
              QUARN_FAILED);
    EXPECT_EQ(result, nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(quarn_error_kind(error), QUARN_ERROR_IO);
    EXPECT_STREQ(quarn_error_message(error), "greet: the name is empty");
    EXPECT_EQ(quarn_error_value(error), nullptr);
    EXPECT_EQ(quarn::capi::live_handle_count(), handles + 1);

    // The handle names the program's own IO.Error.
    std::optional<quarn_object *> object = quarn::capi::borrow_handle(error->handle);
    ASSERT_TRUE(object.has_value());
    EXPECT_EQ(kit_error_kind(*object), unsigned{KIT_USER_ERROR});
    EXPECT_STREQ(kit_error_details(*object), "greet: the name is empty");
    quarn_dec(*object);

    // A clone holds a handle of its own to the same object.
    quarn_error *copy = quarn_error_clone(error);
    ASSERT_NE(copy->handle, 0u);
    EXPECT_NE(copy->handle, error->handle);
    EXPECT_STREQ(quarn_error_message(copy), "greet: the name is empty");
    EXPECT_EQ(quarn::capi::live_handle_count(), handles + 2);
    uint64_t original = error->handle;
    quarn_error_free(error);
    EXPECT_FALSE(quarn::capi::borrow_handle(original).has_value());
    std::optional<quarn_object *> still = quarn::capi::borrow_handle(copy->handle);
    ASSERT_TRUE(still.has_value());
    EXPECT_EQ(kit_error_kind(*still), unsigned{KIT_USER_ERROR});
    quarn_dec(*still);
    quarn_error_free(copy);
    EXPECT_EQ(quarn::capi::live_handle_count(), handles);
}

TEST_F(HostTest, EioErrorsAreLeanValues) {
    host::Value digits = host::string("1234"), word = host::string("12a");
    Outcome parsed;
    host::invoke(parsed, "parse_nat", {digits.get()});
    ASSERT_EQ(parsed.status, QUARN_OK) << parsed.message();
    EXPECT_EQ(host::nat_of(parsed.value), 1234u);

    // A String error: the message is the string itself.
    Outcome failed;
    host::invoke(failed, "parse_nat", {word.get()});
    ASSERT_EQ(failed.status, QUARN_FAILED);
    EXPECT_EQ(quarn_error_kind(failed.error), QUARN_ERROR_VALUE);
    EXPECT_EQ(failed.message(), "not a natural number: '12a'");
    EXPECT_EQ(host::text_of(quarn_error_value(failed.error)), "not a natural number: '12a'");

    // An inductive error: constructors by position, the fixed message.
    host::Value seven = host::nat(7), two = host::nat(2), zero = host::nat(0);
    Outcome inexact;
    host::invoke(inexact, "divide", {seven.get(), two.get()});
    ASSERT_EQ(inexact.status, QUARN_FAILED);
    EXPECT_EQ(inexact.message(), "a Lean error value (see quarn_error_value)");
    const quarn_value *e = quarn_error_value(inexact.error);
    EXPECT_EQ(quarn_value_ctor_index(e), 1u);
    EXPECT_EQ(host::nat_of(quarn_value_ctor_field(e, 1, 0)), 1u);

    Outcome by_zero;
    host::invoke(by_zero, "divide", {seven.get(), zero.get()});
    ASSERT_EQ(by_zero.status, QUARN_FAILED);
    EXPECT_EQ(quarn_value_ctor_index(quarn_error_value(by_zero.error)), 0u);
    EXPECT_EQ(quarn_value_field_count(quarn_error_value(by_zero.error)), 0u);

    quarn_error *copy = quarn_error_clone(inexact.error);
    EXPECT_TRUE(quarn_value_equal(quarn_error_value(copy), e));
    EXPECT_NE(quarn_error_value(copy), e);
    quarn_error_free(copy);

    host::Value eight = host::nat(8);
    Outcome exact;
    host::invoke(exact, "divide", {eight.get(), two.get()});
    ASSERT_EQ(exact.status, QUARN_OK) << exact.message();
    EXPECT_EQ(host::nat_of(exact.value), 4u);
}

TEST_F(HostTest, ClosuresAndOpaqueValuesComeBackAsHandles) {
    size_t handles = quarn::capi::live_handle_count();
    host::Value five = host::nat(5);
    Outcome adder;
    host::invoke(adder, "make_adder", {five.get()});
    ASSERT_EQ(adder.status, QUARN_OK) << adder.message();
    EXPECT_EQ(quarn_value_kind(adder.value), QUARN_KIND_FUNCTION);
    EXPECT_EQ(quarn::capi::live_handle_count(), handles + 1);

    Outcome sealed;
    host::invoke(sealed, "seal", {five.get()});
    ASSERT_EQ(sealed.status, QUARN_OK) << sealed.message();
    EXPECT_EQ(quarn_value_kind(sealed.value), QUARN_KIND_OPAQUE);
    EXPECT_EQ(quarn::capi::live_handle_count(), handles + 2);

    // Passing the opaque value in borrows its handle: it stays the host's, usable again.
    for (int round = 0; round < 2; ++round) {
        Outcome opened;
        host::invoke(opened, "unseal", {sealed.value});
        ASSERT_EQ(opened.status, QUARN_OK) << opened.message();
        EXPECT_EQ(host::nat_of(opened.value), 5u);
    }
    EXPECT_EQ(quarn::capi::live_handle_count(), handles + 2);
}

TEST_F(HostTest, ThreadsInvokeAtOnce) {
    constexpr int kThreads = 4, kCalls = 300;
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < kCalls; ++i) {
                host::Value a = host::nat(static_cast<uint64_t>(t)), b = host::nat(static_cast<uint64_t>(i));
                Outcome sum;
                host::invoke(sum, "add", {a.get(), b.get()});
                uint64_t n = 0;
                if (sum.status != QUARN_OK || !quarn_value_get_nat(sum.value, &n) || n != uint64_t(t + i)) ++wrong;
                host::Value empty = host::string("");
                Outcome failed;
                host::invoke(failed, "greet", {empty.get()});
                if (failed.status != QUARN_FAILED) ++wrong;
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

// ---- misuse --------------------------------------------------------------------------

using HostDeathTest = HostTest;

TEST_F(HostDeathTest, TheFunctionKindMustMatchTheCall) {
    host::Value n = host::nat(1);
    EXPECT_INTERNAL_PANIC(
        {
            Outcome out;
            host::invoke(out, "conversation", {n.get()});
        },
        "quarn_invoke: the function returns an async program; call it with quarn_invoke_async");
    EXPECT_INTERNAL_PANIC(
        {
            host::Step step;
            host::invoke_async(step, "add", {n.get(), n.get()});
        },
        "quarn_invoke_async: the function does not return an async program; call it with quarn_invoke");
}

int status_seven_entry(const uint8_t *, size_t, quarn_buffer *) { return 7; }

TEST_F(HostDeathTest, EntryPointsAnswerZeroOrOne) {
    const kit_program_function &zero = host::function("zero");
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    EXPECT_INTERNAL_PANIC(quarn_invoke(kit_program_types(), status_seven_entry, zero.signature,
                                       zero.signature_length, nullptr, 0, nullptr, 0, &result, &error),
                          "quarn_invoke: a generated entry point returned status 7");
}

TEST_F(HostDeathTest, TypeArgumentsMustBeOfTheProgramAndCountRight) {
    const kit_program_function &first = host::function("first");
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    host::Value empty(quarn_value_list(nullptr, 0));
    const quarn_value *args[] = {empty.get()};
    EXPECT_INTERNAL_PANIC(quarn_invoke(kit_program_types(), first.entry, first.signature, first.signature_length,
                                       nullptr, 0, args, 1, &result, &error),
                          "quarn_invoke: 0 type arguments for 1 type parameters");
    size_t length = 0;
    const uint8_t *bytes = kit_program_table_bytes(&length);
    const quarn_types *other = quarn_types_load(bytes, length);
    quarn_type *foreign = quarn_type_inductive(other, 1, nullptr, 0);
    const quarn_type *type_args[] = {foreign};
    EXPECT_INTERNAL_PANIC(quarn_invoke(kit_program_types(), first.entry, first.signature, first.signature_length,
                                       type_args, 1, args, 1, &result, &error),
                          "quarn_invoke: types of different programs");
    quarn_type_free(foreign);
}

TEST_F(HostDeathTest, SignaturesAndPointersAreChecked) {
    const kit_program_function &add = host::function("add");
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    const uint8_t bad_kind[] = {0, 0, 0, 0, 0, 0, 0, 0, 9, 0};
    EXPECT_INTERNAL_PANIC(quarn_invoke(kit_program_types(), add.entry, bad_kind, sizeof bad_kind, nullptr, 0,
                                       nullptr, 0, &result, &error),
                          "quarn_invoke: a generated signature is invalid: invalid result kind 9");
    EXPECT_INTERNAL_PANIC(quarn_invoke(kit_program_types(), add.entry, add.signature, add.signature_length,
                                       nullptr, 0, nullptr, 2, &result, &error),
                          "quarn_invoke: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_invoke(nullptr, add.entry, add.signature, add.signature_length, nullptr, 0,
                                       nullptr, 0, &result, &error),
                          "quarn_invoke: a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_invoke_async(kit_program_types(), add.entry, add.signature,
                                             add.signature_length, nullptr, 0, nullptr, 0, nullptr, &error),
                          "quarn_invoke_async: a null pointer");
}

// An entry point whose result block has a byte too many.
int long_result_entry(const uint8_t *, size_t, quarn_buffer *output) {
    std::memset(quarn_buffer_alloc(output, 5), 0, 5);
    return 0;
}

TEST_F(HostDeathTest, MalformedResultBlocksAreTheRuntimesFault) {
    const kit_program_function &zero = host::function("zero");
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    EXPECT_INTERNAL_PANIC(quarn_invoke(kit_program_types(), long_result_entry, zero.signature,
                                       zero.signature_length, nullptr, 0, nullptr, 0, &result, &error),
                          "quarn_invoke: the runtime produced a malformed result: 1 unexpected bytes after the "
                          "wire data");
}

}  // namespace

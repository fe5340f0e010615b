// Host functions as values: C functions registered as function values, applied by Lean code
// as closures, called by the host directly, calling back into Lean; their references and
// finalizers; the host's own entry points; Lean closures called by the host.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "host_testing.h"

namespace {

using namespace host_test;
using quarn::wire::HandleMode;
using HostFunction = kit::LiveObjectsTest;

const kit::Bytes kNatToNat = function_type({QUARN_KIND_NAT}, QUARN_KIND_NAT);

quarn_type *nat_to_nat_type() {
    quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT);
    quarn_type *params[] = {nat};
    quarn_type *f = quarn_type_function(params, 1, nat);
    quarn_type_free(nat);
    return f;
}

uint64_t host_function_id(const quarn_value *f) {
    quarn::wire::ByteSink bytes;
    quarn::Text error;
    EXPECT_TRUE(quarn::wire::write_value(*f, decode_type(kNatToNat), nullptr, bytes, error)) << error;
    EXPECT_EQ(bytes.data()[0], 1);  // function kind 1: a host function
    uint64_t id = 0;
    std::memcpy(&id, bytes.data() + 1, 8);
    return id;
}

void count_finalization(void *counter) { static_cast<std::atomic<int> *>(counter)->fetch_add(1); }

// A one-parameter host function becomes a closure of arity 2 holding one argument, which
// compiled code applies to one value.
TEST_F(HostFunction, OneParameterFunctionIsAppliedFromLean) {
    quarn_type *type = nat_to_nat_type();
    quarn_value *value = quarn_value_function(type, double_nat, nullptr, nullptr);
    quarn_object *f = lean_host_function(host_function_id(value), kNatToNat);
    auto *closure = reinterpret_cast<quarn_closure_object *>(f);
    EXPECT_EQ(closure->arity, 2);
    EXPECT_EQ(closure->fixed, 1);
    quarn_inc(f);
    EXPECT_EQ(quarn_unbox(quarn_apply_1(f, quarn_box(20))), 40u);
    // Over-application through a partial one of a two-parameter function works the same.
    quarn_object *r = quarn_apply_1(f, quarn_box(1));
    EXPECT_EQ(quarn_unbox(r), 2u);
    quarn_value_free(value);
    quarn_type_free(type);
}

TEST_F(HostFunction, FifteenParametersAreTheMost) {
    auto sum = [](void *, const quarn_value *const *args, size_t count, quarn_value **result, quarn_error **) -> int {
        uint64_t total = 0;
        for (size_t i = 0; i < count; ++i) total += nat_of(args[i]);
        *result = quarn_value_nat(total);
        return QUARN_OK;
    };
    quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT);
    std::vector<quarn_type *> params(15, nat);
    quarn_type *type = quarn_type_function(params.data(), 15, nat);
    quarn_value *value = quarn_value_function(type, sum, nullptr, nullptr);
    std::initializer_list<uint8_t> fifteen = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    quarn_object *f = lean_host_function(host_function_id(value), function_type(fifteen, QUARN_KIND_NAT));
    EXPECT_EQ(reinterpret_cast<quarn_closure_object *>(f)->arity, 16);
    std::vector<quarn_object *> args;
    for (uint64_t i = 1; i <= 15; ++i) args.push_back(quarn_box(i));
    EXPECT_EQ(quarn_unbox(quarn_apply_m(f, args.size(), args.data())), 120u);
    quarn_value_free(value);
    quarn_type_free(type);
    quarn_type_free(nat);
}

// The registration lives while the value, its copies or any Lean closure made from it lives;
// the finalizer runs once, after the last of them.
TEST_F(HostFunction, FinalizerRunsOnceWhenValueAndClosuresAreGone) {
    std::atomic<int> finalized{0};
    quarn_type *type = nat_to_nat_type();
    quarn_value *value = quarn_value_function(type, double_nat, &finalized, count_finalization);
    quarn_value *copy = quarn_value_clone(value);
    uint64_t id = host_function_id(value);
    quarn_object *first = lean_host_function(id, kNatToNat);
    quarn_object *second = lean_host_function(id, kNatToNat);
    quarn_value_free(value);
    quarn_value_free(copy);
    quarn_dec(first);
    EXPECT_EQ(finalized.load(), 0);
    EXPECT_EQ(quarn_unbox(quarn_apply_1(second, quarn_box(4))), 8u);  // consumes the last closure
    EXPECT_EQ(finalized.load(), 1);
    quarn_type_free(type);
}

TEST_F(HostFunction, AdoptedReferenceIsTheClosures) {
    std::atomic<int> finalized{0};
    quarn_type *type = nat_to_nat_type();
    quarn_value *value = quarn_value_function(type, double_nat, &finalized, count_finalization);
    // The bytes hand over the value's reference: the tree goes without releasing it.
    uint64_t id = host_function_id(value);
    quarn::capi::free_tree(value, quarn::capi::Handles::Keep, {});
    quarn_object *f = lean_host_function(id, kNatToNat, HandleMode::Adopt);
    EXPECT_EQ(finalized.load(), 0);
    quarn_dec(f);
    EXPECT_EQ(finalized.load(), 1);
    quarn_type_free(type);
}

TEST_F(HostFunction, HostCallsItsOwnFunctionValueDirectly) {
    quarn_type *type = nat_to_nat_type();
    quarn_value *f = quarn_value_function(type, double_nat, nullptr, nullptr);
    quarn_value *n = quarn_value_nat(5);
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    EXPECT_EQ(quarn_value_call(f, type, &n, 1, &result, &error), QUARN_OK);
    EXPECT_EQ(nat_of(result), 10u);
    quarn_value_free(result);

    EXPECT_EQ(quarn_value_call(f, type, nullptr, 0, &result, &error), QUARN_MALFORMED);
    EXPECT_EQ(result, nullptr);
    EXPECT_STREQ(quarn_error_message(error), "0 arguments for 1 parameters");
    quarn_error_free(error);

    quarn_value *text = quarn_value_cstring("five");
    EXPECT_EQ(quarn_value_call(f, type, &text, 1, &result, &error), QUARN_MALFORMED);
    EXPECT_EQ(quarn_error_kind(error), QUARN_ERROR_FAILURE);
    EXPECT_STREQ(quarn_error_message(error), "argument 1: a value String(\"five\") is not of type Nat");
    quarn_error_free(error);

    auto refuse = [](void *, const quarn_value *const *, size_t, quarn_value **, quarn_error **error) -> int {
        *error = quarn_error_from_value(quarn_value_cstring("refused"));
        return QUARN_FAILED;
    };
    quarn_value *g = quarn_value_function(type, refuse, nullptr, nullptr);
    EXPECT_EQ(quarn_value_call(g, type, &n, 1, &result, &error), QUARN_FAILED);
    EXPECT_EQ(quarn_error_kind(error), QUARN_ERROR_VALUE);
    EXPECT_STREQ(quarn_error_message(error), "refused");
    quarn_error_free(error);

    for (quarn_value *v : {f, g, n, text}) quarn_value_free(v);
    quarn_type_free(type);
}

// ---- Lean closures held by the host ---------------------------------------------------------

// The code of a Lean closure adding its fixed argument to its argument.
quarn_object *add_fixed(quarn_object *fixed, quarn_object *n) {
    return quarn_lean_nat_add(fixed, n);
}

// A handle of the Lean closure `n + _`, as a function value of function kind 0.
quarn_value *lean_adder(uint64_t n) {
    quarn_object *c = quarn_alloc_closure(reinterpret_cast<void *>(add_fixed), 2, 1);
    quarn_closure_set(c, 0, quarn_box(n));
    kit::Bytes bytes;
    bytes.u8(0).u64(quarn::capi::register_object(c));
    quarn::Text error;
    quarn_value *v = quarn::wire::decode_value(bytes.data.data(), bytes.data.size(), decode_type(kNatToNat),
                                               nullptr, error);
    EXPECT_NE(v, nullptr) << error;
    return v;
}

TEST_F(HostFunction, HostCallsALeanClosure) {
    quarn_type *type = nat_to_nat_type();
    quarn_value *adder = lean_adder(100);
    quarn_value *n = quarn_value_nat(23);
    quarn_value *result = nullptr;
    quarn_error *error = nullptr;
    ASSERT_EQ(quarn_value_call(adder, type, &n, 1, &result, &error), QUARN_OK);
    EXPECT_EQ(nat_of(result), 123u);
    quarn_value_free(result);

    // The same through the wire form: a malformed argument comes back as status 1.
    uint64_t handle = 0;
    {
        quarn::wire::ByteSink bytes;
        quarn::Text message;
        quarn::wire::write_value(*adder, decode_type(kNatToNat), nullptr, bytes, message);
        std::memcpy(&handle, bytes.data() + 1, 8);
    }
    const uint8_t leading_zero[] = {1, 0, 0, 0, 0};
    quarn_buffer output = QUARN_BUFFER_EMPTY;
    EXPECT_EQ(quarn_closure_call(empty_table(), handle, kNatToNat.data.data(), kNatToNat.data.size(),
                                 leading_zero, sizeof leading_zero, &output),
              1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(output.data), output.length),
              "a number's magnitude has a leading zero byte");
    quarn_buffer_free(&output);
    const uint8_t seven_and_more[] = {1, 0, 0, 0, 7, 9};
    EXPECT_EQ(quarn_closure_call(empty_table(), handle, kNatToNat.data.data(), kNatToNat.data.size(),
                                 seven_and_more, sizeof seven_and_more, &output),
              1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(output.data), output.length),
              "1 unexpected bytes after the wire data");
    quarn_buffer_free(&output);
    const uint8_t seven[] = {1, 0, 0, 0, 7};
    ASSERT_EQ(quarn_closure_call(empty_table(), handle, kNatToNat.data.data(), kNatToNat.data.size(), seven,
                                 sizeof seven, &output),
              0);
    EXPECT_EQ(std::vector<uint8_t>(output.data, output.data + output.length), (std::vector<uint8_t>{1, 0, 0, 0, 107}));
    quarn_buffer_free(&output);
    EXPECT_TRUE(is_live(handle));

    quarn_value_free(adder);
    quarn_value_free(n);
    quarn_type_free(type);
}

// apply_twice: a host function that receives a Lean closure and calls it twice, from inside
// a call that Lean made.
int apply_twice(void *, const quarn_value *const *args, size_t, quarn_value **result, quarn_error **error) {
    quarn_type *type = nat_to_nat_type();
    quarn_value *once = nullptr;
    int status = quarn_value_call(args[0], type, &args[1], 1, &once, error);
    if (status == QUARN_OK) {
        status = quarn_value_call(args[0], type, &once, 1, result, error);
        quarn_value_free(once);
    }
    quarn_type_free(type);
    return status;
}

TEST_F(HostFunction, HostFunctionCallsBackIntoLean) {
    kit::Bytes apply_type;  // (Nat -> Nat) -> Nat -> Nat
    apply_type.u8(QUARN_KIND_FUNCTION).u32(2).append(kNatToNat).u8(QUARN_KIND_NAT).u8(QUARN_KIND_NAT);
    std::vector<uint8_t> sig;
    {
        kit::Bytes b;
        b.u32(0).u32(2).append(kNatToNat).u8(QUARN_KIND_NAT).u8(0).u8(QUARN_KIND_NAT);
        sig = b.data;
    }
    uint64_t id = quarn_host_function_new(empty_table(), sig.data(), sig.size(), apply_twice, nullptr, nullptr);
    quarn_object *twice = lean_host_function(id, apply_type);
    quarn_object *adder = quarn_alloc_closure(reinterpret_cast<void *>(add_fixed), 2, 1);
    quarn_closure_set(adder, 0, quarn_box(10));
    quarn_object *r = quarn_apply_2(twice, adder, quarn_box(1));
    EXPECT_EQ(quarn_unbox(r), 21u);
}

// Many threads apply one host function closure and call one function value at once.
TEST_F(HostFunction, CalledFromManyThreadsAtOnce) {
    std::atomic<int> finalized{0};
    quarn_type *type = nat_to_nat_type();
    quarn_value *value = quarn_value_function(type, double_nat, &finalized, count_finalization);
    quarn_object *f = lean_host_function(host_function_id(value), kNatToNat);
    quarn_mark_mt(f);
    constexpr int kThreads = 4, kCalls = 300;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (uint64_t i = 0; i < kCalls; ++i) {
                quarn_inc(f);
                if (quarn_unbox(quarn_apply_1(f, quarn_box(i))) != 2 * i) ++wrong;
                quarn_value *mine = quarn_value_clone(value);
                quarn_value *n = quarn_value_nat(i + t);
                quarn_value *result = nullptr;
                quarn_error *error = nullptr;
                if (quarn_value_call(mine, type, &n, 1, &result, &error) != QUARN_OK || nat_of(result) != 2 * (i + t))
                    ++wrong;
                quarn_value_free(result);
                quarn_value_free(n);
                quarn_value_free(mine);
            }
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    quarn_dec(f);
    EXPECT_EQ(finalized.load(), 0);
    quarn_value_free(value);
    EXPECT_EQ(finalized.load(), 1);
    quarn_type_free(type);
}

TEST(HostFunctionDeath, MisuseIsFatal) {
    quarn_type *nat = quarn_type_simple(QUARN_KIND_NAT);
    quarn_type *type = nat_to_nat_type();
    EXPECT_INTERNAL_PANIC(quarn_value_function(nat, double_nat, nullptr, nullptr),
                          "quarn_value_function: the type is not a function type");
    EXPECT_INTERNAL_PANIC(quarn_value_function(type, nullptr, nullptr, nullptr),
                          "quarn_value_function: the function is a null pointer");
    EXPECT_INTERNAL_PANIC(lean_host_function(1, kNatToNat), "no quarn host is installed to call host functions");
    const uint8_t nat_bytes[] = {QUARN_KIND_NAT};
    quarn_buffer output = QUARN_BUFFER_EMPTY;
    EXPECT_INTERNAL_PANIC(quarn_closure_call(empty_table(), 1, nat_bytes, 1, nullptr, 0, &output),
                          "quarn_closure_call: a closure is called at a type that is not a function type");
    EXPECT_INTERNAL_PANIC(quarn_closure_call(nullptr, 1, nat_bytes, 1, nullptr, 0, &output),
                          "quarn_closure_call: a quarn type table is a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_closure_call(empty_table(), 999999, kNatToNat.data.data(), kNatToNat.data.size(),
                                             nullptr, 0, &output),
                          "quarn_closure_call: 999999 is not a live handle");
    EXPECT_INTERNAL_PANIC(
        {
            quarn_value *f = quarn_value_function(type, double_nat, nullptr, nullptr);
            uint64_t id = host_function_id(f);
            quarn_value_free(f);
            quarn_object *g = lean_host_function(id, kNatToNat, HandleMode::Adopt);
            quarn_apply_1(g, quarn_box(1));
        },
        "host function 1 is not registered (was its value freed?)");
    quarn_type_free(type);
    quarn_type_free(nat);
}

// ---- the host's own entry points ------------------------------------------------------------

// A host that implements function 7 as n + 1 over Nat wire bytes of at most 8 bytes, and
// counts the references the runtime takes and drops.
std::atomic<int> retained{0}, released{0};

int custom_call(uint64_t function, const uint8_t *args, size_t length, quarn_buffer *output) {
    if (function != 7) {
        const char message[] = "no such function";
        std::memcpy(quarn_buffer_alloc(output, sizeof message - 1), message, sizeof message - 1);
        return 1;
    }
    uint32_t n_bytes = 0;
    uint64_t n = 0;
    std::memcpy(&n_bytes, args, 4);
    std::memcpy(&n, args + 4, n_bytes);
    if (length != 4 + n_bytes) std::abort();
    n += 1;
    uint8_t *out = quarn_buffer_alloc(output, 12);
    uint32_t eight = 8;
    std::memcpy(out, &eight, 4);
    std::memcpy(out + 4, &n, 8);
    // Canonical magnitudes have no leading zero byte: trim them.
    uint32_t used = 8;
    while (used > 0 && out[3 + used] == 0) --used;
    std::memcpy(out, &used, 4);
    output->length = 4 + used;
    return 0;
}
void custom_retain(uint64_t) { retained.fetch_add(1); }
void custom_release(uint64_t) { released.fetch_add(1); }

void custom_host_story() {
    quarn_set_host(custom_call, custom_retain, custom_release);
    quarn_object *f = lean_host_function(7, kNatToNat);
    bool ok = retained.load() == 1 && released.load() == 0;
    quarn_inc(f);
    ok = ok && quarn_unbox(quarn_apply_1(f, quarn_box(41))) == 42;
    ok = ok && quarn_unbox(quarn_apply_1(f, quarn_box(255))) == 256;
    ok = ok && retained.load() == 1 && released.load() == 1;
    quarn_object *adopted = lean_host_function(7, kNatToNat, HandleMode::Adopt);
    quarn_dec(adopted);
    ok = ok && retained.load() == 1 && released.load() == 2;
    std::fprintf(stderr, ok ? "custom host counted\n" : "custom host miscounted\n");
    std::exit(ok ? 0 : 2);
}

TEST(CustomHost, CarriesBytesAndCountsReferences) {
    EXPECT_EXIT(custom_host_story(), ::testing::ExitedWithCode(0), "custom host counted");
}

TEST(CustomHost, FailuresAndMalformedResultsAreFatal) {
    EXPECT_INTERNAL_PANIC(
        {
            quarn_set_host(custom_call, custom_retain, custom_release);
            quarn_apply_1(lean_host_function(8, kNatToNat), quarn_box(1));
        },
        "a host function passed to Lean failed: no such function");
    EXPECT_INTERNAL_PANIC(
        {
            quarn_set_host(custom_call, custom_retain, custom_release);
            // 0x101 comes back as the bytes 02 00 00 00 01 01, which are no Bool.
            kit::Bytes to_bool = function_type({QUARN_KIND_NAT}, QUARN_KIND_BOOL);
            quarn_apply_1(lean_host_function(7, to_bool), quarn_box(0x100));
        },
        "a host function passed to Lean returned malformed data: invalid Bool 2");
}

}  // namespace

// The call object that generated entry points use: reading argument blocks (type arguments,
// borrowed handles, leftovers and read errors), writing pure, IO, EIO and async results,
// and the fatal misuse by generated code.
#include <cstring>
#include <string>
#include <vector>

#include "host_kit.h"
#include "kit.h"
#include "quarn/entry.h"
#include "quarn/string.h"
#include "table_bytes.h"

namespace {

using host::HostTest;

const uint8_t kNat[] = {QUARN_KIND_NAT};
const uint8_t kString[] = {QUARN_KIND_STRING};
const uint8_t kOpaque[] = {QUARN_KIND_OPAQUE};
const uint8_t kParam0[] = {QUARN_KIND_PARAM, 0, 0, 0, 0};
// An async program over the stand-in program's Op (definition 2) with a String result.
const kit::Bytes kConversation = kit::Bytes()
                                     .u8(3)
                                     .u32(2)
                                     .u32(3)
                                     .kind(QUARN_KIND_STRING)
                                     .kind(QUARN_KIND_NAT)
                                     .kind(QUARN_KIND_FUNCTION)
                                     .u32(1)
                                     .kind(QUARN_KIND_NAT)
                                     .kind(QUARN_KIND_NAT)
                                     .kind(QUARN_KIND_STRING);

// Ends a call and returns its status and output as text.
std::pair<int, std::string> end(quarn_call *call) {
    quarn_buffer output = QUARN_BUFFER_EMPTY;
    int status = quarn_call_end(call, &output);
    std::string text(reinterpret_cast<char *>(output.data), output.length);
    quarn_buffer_free(&output);
    return {status, text};
}

quarn_call *begin(const kit::Bytes &block) {
    return quarn_call_begin(kit_program_types(), block.data.data(), block.data.size());
}

TEST_F(HostTest, CallsReadTheirArgumentsAndNothingMore) {
    kit::Bytes block = kit::Bytes().u32(0).u32(1).u8(5).text("hi");
    quarn_call *call = begin(block);
    quarn_object *n = quarn_call_read(call, kNat, sizeof kNat);
    quarn_object *s = quarn_call_read(call, kString, sizeof kString);
    EXPECT_EQ(quarn_unbox(n), 5u);
    EXPECT_STREQ(quarn_string_cstr(s), "hi");
    EXPECT_EQ(quarn_call_complete(call), 1);
    quarn_call_write(call, s, kString, sizeof kString);
    auto [status, output] = end(call);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, std::string("\x02\0\0\0hi", 6));

    // One byte too many: the arguments are read, but the call is not complete.
    block.u8(0xFF);
    call = begin(block);
    quarn_dec(quarn_call_read(call, kNat, sizeof kNat));
    quarn_dec(quarn_call_read(call, kString, sizeof kString));
    EXPECT_EQ(quarn_call_complete(call), 0);
    auto [extra_status, extra] = end(call);
    EXPECT_EQ(extra_status, 1);
    EXPECT_EQ(extra, "1 unexpected bytes after the arguments");
}

TEST_F(HostTest, TheFirstReadErrorIsKeptAndLaterReadsGiveZero) {
    // The Nat's magnitude has a leading zero byte; the String after it is never read.
    kit::Bytes block = kit::Bytes().u32(0).u32(1).u8(0).text("hi");
    quarn_call *call = begin(block);
    EXPECT_EQ(quarn_call_read(call, kNat, sizeof kNat), quarn_box(0));
    EXPECT_EQ(quarn_call_read(call, kString, sizeof kString), quarn_box(0));
    EXPECT_EQ(quarn_call_complete(call), 0);
    // Writing after an error releases the result and keeps the error.
    quarn_call_write(call, kit_string("ignored"), kString, sizeof kString);
    EXPECT_EQ(end(call), std::make_pair(1, std::string("a number's magnitude has a leading zero byte")));

    // A head that ends early.
    kit::Bytes head = kit::Bytes().u8(1).u8(0);
    call = begin(head);
    EXPECT_EQ(quarn_call_read(call, kNat, sizeof kNat), quarn_box(0));
    EXPECT_EQ(end(call), std::make_pair(1, std::string("wire data ends after 2 bytes; 4 more expected")));

    // A type argument outside the table.
    kit::Bytes foreign = kit::Bytes().u32(1).inductive(9, 0);
    call = begin(foreign);
    EXPECT_EQ(quarn_call_complete(call), 0);
    EXPECT_EQ(end(call), std::make_pair(1, std::string("type index 9 outside the type table")));
}

TEST_F(HostTest, TypeArgumentsInstantiateTheGeneratedTypes) {
    kit::Bytes block = kit::Bytes().u32(1).kind(QUARN_KIND_STRING).text("abc");
    quarn_call *call = begin(block);
    quarn_object *s = quarn_call_read(call, kParam0, sizeof kParam0);
    ASSERT_EQ(quarn_call_complete(call), 1);
    EXPECT_STREQ(quarn_string_cstr(s), "abc");
    quarn_call_write(call, s, kParam0, sizeof kParam0);
    EXPECT_EQ(end(call), std::make_pair(0, std::string("\x03\0\0\0abc", 7)));
}

TEST_F(HostTest, ArgumentsBorrowTheHostsHandles) {
    quarn_object *secret = kit_string("secret");
    uint64_t handle = quarn::capi::register_object(secret);
    kit::Bytes block = kit::Bytes().u32(0).u64(handle);
    quarn_call *call = begin(block);
    quarn_object *o = quarn_call_read(call, kOpaque, sizeof kOpaque);
    EXPECT_EQ(o, secret);
    EXPECT_EQ(quarn_call_complete(call), 1);
    quarn_dec(o);
    end(call);
    // Still the host's.
    std::optional<quarn_object *> again = quarn::capi::borrow_handle(handle);
    ASSERT_TRUE(again.has_value());
    quarn_dec(*again);
    quarn_handle_release(handle);
}

quarn_object *io_result(unsigned tag, quarn_object *field) {
    quarn_object *r = quarn_alloc_ctor(tag, 1, 0);
    quarn_ctor_set(r, 0, field);
    return r;
}

TEST_F(HostTest, IoAndEioResultsWriteTheirTagFirst) {
    kit::Bytes empty_block = kit::Bytes().u32(0);
    quarn_call *call = begin(empty_block);
    quarn_call_write_io(call, io_result(0, kit_string("ok")), kString, sizeof kString);
    EXPECT_EQ(end(call), std::make_pair(0, std::string("\0\x02\0\0\0ok", 7)));

    // An IO error: its handle and its text.
    size_t handles = quarn::capi::live_handle_count();
    call = begin(empty_block);
    quarn_object *user_error =
        reinterpret_cast<quarn_object *(*)(quarn_object *)>(kit_exports[3].function)(kit_string("no way"));
    quarn_call_write_io(call, io_result(1, user_error), kString, sizeof kString);
    auto [status, output] = end(call);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(output.size(), 1u + 8 + 4 + 6);
    EXPECT_EQ(output[0], 1);
    uint64_t handle = 0;
    std::memcpy(&handle, output.data() + 1, 8);
    EXPECT_EQ(output.substr(9), std::string("\x06\0\0\0no way", 10));
    EXPECT_EQ(quarn::capi::live_handle_count(), handles + 1);
    quarn_handle_release(handle);

    call = begin(empty_block);
    quarn_call_write_eio(call, io_result(1, kit_string("bad")), kString, sizeof kString, kNat, sizeof kNat);
    EXPECT_EQ(end(call), std::make_pair(0, std::string("\x01\x03\0\0\0bad", 8)));
    call = begin(empty_block);
    quarn_call_write_eio(call, io_result(0, quarn_box(3)), kString, sizeof kString, kNat, sizeof kNat);
    EXPECT_EQ(end(call), std::make_pair(0, std::string("\0\x01\0\0\0\x03", 6)));
}

TEST_F(HostTest, AsyncStepsOfOneConstructorNeedNoMatchingTag) {
    // A done program writes its result; nothing waits.
    kit::Bytes empty_block = kit::Bytes().u32(0);
    quarn_call *call = begin(empty_block);
    quarn_object *done = io_result(0, kit_string("fin"));
    quarn_call_write_async(call, done, kConversation.data.data(), kConversation.data.size());
    EXPECT_EQ(end(call), std::make_pair(0, std::string("\0\x03\0\0\0fin", 8)));
}

// ---- misuse by generated code --------------------------------------------------------

using CallDeathTest = HostTest;

TEST_F(CallDeathTest, GeneratedTypesAndTablesAreChecked) {
    kit::Bytes empty_block = kit::Bytes().u32(0);
    EXPECT_INTERNAL_PANIC(quarn_call_begin(nullptr, nullptr, 0),
                          "quarn_call_begin: a quarn type table is a null pointer");
    const uint8_t unknown[] = {99};
    EXPECT_INTERNAL_PANIC(
        {
            quarn_call *call = begin(empty_block);
            quarn_call_read(call, unknown, sizeof unknown);
        },
        "quarn_call_read: a generated type expression is invalid: unknown type tag 99");
    EXPECT_INTERNAL_PANIC(
        {
            quarn_call *call = begin(empty_block);
            quarn_call_read(call, kParam0, sizeof kParam0);
        },
        "quarn_call_read: a generated signature does not match its call: type parameter 0 of 0 is not "
        "instantiated");
    const uint8_t pure[] = {0, QUARN_KIND_NAT};
    EXPECT_INTERNAL_PANIC(
        {
            quarn_call *call = begin(empty_block);
            quarn_call_write_async(call, quarn_box(0), pure, sizeof pure);
        },
        "quarn_call_write_async: an async step of a function that does not return an async program");
}

TEST_F(CallDeathTest, AsyncProgramsMustHaveTheirLayout) {
    kit::Bytes empty_block = kit::Bytes().u32(0);
    const uint8_t *description = kConversation.data.data();
    size_t length = kConversation.data.size();
    EXPECT_INTERNAL_PANIC(
        {
            quarn_call *call = begin(empty_block);
            quarn_call_write_async(call, quarn_box(1), description, length);
        },
        "quarn_call_write_async: an async program is a scalar: its layout is not the one quarn reads");
    EXPECT_INTERNAL_PANIC(
        {
            quarn_call *call = begin(empty_block);
            quarn_call_write_async(call, io_result(5, quarn_box(0)), description, length);
        },
        "quarn_call_write_async: an async program has constructor tag 5: its layout is not the one quarn "
        "reads");
    EXPECT_INTERNAL_PANIC(
        {
            quarn_call *call = begin(empty_block);
            quarn_object *program = quarn_alloc_ctor(1, 2, 0);
            quarn_ctor_set(program, 0, io_result(7, quarn_box(0)));
            quarn_ctor_set(program, 1, quarn_box(0));
            quarn_call_write_async(call, program, description, length);
        },
        "quarn_call_write_async: invalid constructor tag 7 for the operations Op");
}

}  // namespace

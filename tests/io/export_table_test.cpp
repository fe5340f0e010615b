// Registering the program's exports and calling them back.
#include <cstring>

#include "io/export_table.h"
#include "io/io_result.h"
#include "io/lean_print.h"
#include "quarn/io.h"
#include "testing.h"

namespace {

using quarn::io::Export;

quarn_object *mark_eof(quarn_object *unit) { return unit; }

TEST(ExportTable, RegistrationFillsTheSlotOfTheName) {
    void **slots = quarn_register_export("lean_mk_io_error_eof", reinterpret_cast<void *>(&mark_eof));
    EXPECT_EQ(slots[4], reinterpret_cast<void *>(&mark_eof));
    EXPECT_EQ(quarn::io::call_export(Export::mk_io_error_eof, quarn_box(7)), quarn_box(7));
    kit_register_exports();  // the kit's own again
    EXPECT_EQ(slots[4], kit_exports[4].function);
}

TEST(ExportTable, CallsReachTheProgramWithEveryShape) {
    quarn_object *e = quarn::io::call_export(Export::permission_denied_file, kit_string("a.txt"), 13,
                                             kit_string("permission denied"));
    EXPECT_EQ(kit_error_kind(e), unsigned{KIT_PERMISSION_DENIED_FILE});
    EXPECT_STREQ(kit_error_file(e), "a.txt");
    EXPECT_EQ(kit_error_number(e), 13u);
    quarn_object *text = quarn::io::call_export(Export::io_error_to_string, e);
    EXPECT_STREQ(kit_cstr(text), "permission denied (error code: 13, file: a.txt)");
    quarn_dec(text);
    quarn_object *busy = quarn::io::call_export(Export::resource_busy, 16, kit_string("busy"));
    EXPECT_EQ(kit_error_file(busy), nullptr);
    quarn_dec(busy);
}

TEST(ExportTableDeathTest, UnknownNullAndMalformedNames) {
    EXPECT_INTERNAL_PANIC(quarn_register_export("lean_io_println", nullptr),
                          "`lean_io_println` is not an export the quarn runtime calls");
    EXPECT_INTERNAL_PANIC(quarn_register_export(nullptr, nullptr),
                          "an export symbol is a null pointer");
    EXPECT_INTERNAL_PANIC(quarn_register_export("lean_\xC0\x80", nullptr),
                          "an export symbol is not UTF-8");
}

TEST(ExportTableDeathTest, AMissingExportNamesItself) {
    EXPECT_INTERNAL_PANIC(
        {
            quarn_register_export("lean_io_eprintln", nullptr);
            quarn::io::lean_eprintln("hello");
        },
        "the Lean definition exported as `lean_io_eprintln` is not part of the compiled program");
}

TEST(IoResult, OkAndErrorHeaders) {
    quarn_object *ok = quarn::io::io_ok(quarn_box(5));
    quarn_object *error = quarn::io::io_error(kit_string("e"));
    uint64_t ok_word, error_word;
    std::memcpy(&ok_word, ok, 8);
    std::memcpy(&error_word, error, 8);
    EXPECT_EQ(ok_word, 0x0001000000000001u);
    EXPECT_EQ(error_word, 0x0101000000000001u);
    EXPECT_EQ(quarn::object::object_size(ok), 16u);
    EXPECT_TRUE(quarn_io_result_is_ok(ok));
    EXPECT_EQ(quarn_io_result_get(ok), quarn_box(5));
    quarn_dec(ok);
    quarn_dec(error);
}

TEST(LeanPrint, GoesThroughTheProgramsExport) {
    size_t calls = kit_eprintln_calls();
    testing::internal::CaptureStderr();
    quarn::io::lean_eprintln("h\xC3\xA9llo");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "h\xC3\xA9llo\n");
    EXPECT_EQ(kit_eprintln_calls(), calls + 1);
}

}  // namespace

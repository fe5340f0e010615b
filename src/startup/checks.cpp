// Consistency checks compiled code asks for at start-up, and its fatal errors.
#include <cstring>
#include <string>

#include "core/panic.h"
#include "quarn/startup.h"
#include "string/c_text.h"

using quarn::internal_panic;
using quarn::string::checked_c_text;

extern "C" int32_t quarn_check_layout(const char *what, const char *name, const char *expected,
                                      const char *actual) noexcept {
    constexpr std::string_view kLabel = "quarn_check_layout";
    std::string_view what_text = checked_c_text(what, kLabel);
    std::string_view name_text = checked_c_text(name, kLabel);
    std::string_view expected_text = checked_c_text(expected, kLabel);
    std::string_view actual_text = checked_c_text(actual, kLabel);
    if (expected_text == actual_text) return 0;
    internal_panic({what_text, " of ", name_text,
                    " has another layout than the one this program was generated for (fingerprint ",
                    actual_text, ", expected ", expected_text,
                    "): regenerate both from the same Lean definition"});
}

extern "C" void quarn_panic_uninitialized(const char *name) noexcept {
    if (name == nullptr) internal_panic("an initialization cell has no declaration name");
    internal_panic({"'", name, "' was used before its module was initialized"});
}

extern "C" void quarn_panic_facility_missing(const char *facility, const char *operation,
                                             const char *extern_name) noexcept {
    constexpr std::string_view kLabel = "quarn_panic_facility_missing";
    std::string_view facility_text = checked_c_text(facility, kLabel);
    std::string_view operation_text = checked_c_text(operation, kLabel);
    std::string_view extern_text = checked_c_text(extern_name, kLabel);
    internal_panic({"the host does not provide the facility ", facility_text, ": its operation ",
                    operation_text, " (Lean extern '", extern_text,
                    "') is not implemented; provide every facility before using the program"});
}

extern "C" void quarn_panic_unreachable() noexcept { internal_panic(quarn::kUnreachable); }

extern "C" quarn_object *quarn_lean_sorry(uint8_t) noexcept { internal_panic("executed 'sorry'"); }

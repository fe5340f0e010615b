// Constant answers about the platform and the Lean version this runtime serves.
#include <string_view>

#include "quarn/startup.h"
#include "string/string_alloc.h"

namespace {

constexpr size_t kVersionMajor = 4, kVersionMinor = 34, kVersionPatch = 1;
constexpr std::string_view kTarget = "x86_64-unknown-linux-gnu";
// The revision this runtime reports for the Lean toolchain.
constexpr std::string_view kGitHash = "7a3c1e0f9b2d4856a1e3c5f7092b4d6e8f1a3c5e";
static_assert(kGitHash.size() == 40);

quarn_object *ascii_string(std::string_view text) {
    return quarn::string::make_string(text.data(), text.size(), text.size());
}

}  // namespace

extern "C" uint32_t quarn_abi_v2() noexcept { return 2; }

extern "C" uint8_t quarn_lean_system_platform_linux() noexcept { return 1; }
extern "C" uint8_t quarn_lean_system_platform_windows() noexcept { return 0; }
extern "C" uint8_t quarn_lean_system_platform_osx() noexcept { return 0; }
extern "C" uint8_t quarn_lean_system_platform_emscripten() noexcept { return 0; }
extern "C" uint8_t quarn_lean_internal_has_llvm_backend() noexcept { return 0; }
extern "C" uint8_t quarn_lean_internal_is_stage0() noexcept { return 0; }
extern "C" uint8_t quarn_lean_version_get_is_release() noexcept { return 1; }

extern "C" quarn_object *quarn_lean_system_platform_nbits() noexcept { return quarn_box(64); }
extern "C" quarn_object *quarn_lean_version_get_major() noexcept { return quarn_box(kVersionMajor); }
extern "C" quarn_object *quarn_lean_version_get_minor() noexcept { return quarn_box(kVersionMinor); }
extern "C" quarn_object *quarn_lean_version_get_patch() noexcept { return quarn_box(kVersionPatch); }

extern "C" quarn_object *quarn_lean_system_platform_target() noexcept { return ascii_string(kTarget); }
extern "C" quarn_object *quarn_lean_version_get_special_desc() noexcept { return ascii_string(""); }
extern "C" quarn_object *quarn_lean_get_githash() noexcept { return ascii_string(kGitHash); }

// Misuse of the host interface ends the process through the internal panic with the text
// "<function>: <detail>", the function's name written once and the detail given as pieces
// (nothing is built on the heap).
#pragma once

#include <string_view>

#include "core/panic.h"

namespace quarn::capi {

template <typename... Detail>
[[noreturn]] void fatal(std::string_view function, Detail... detail) noexcept {
    internal_panic({function, ": ", std::string_view(detail)...});
}

// The detail of every null record where one is required.
inline constexpr std::string_view kNullPointer = "a null pointer";

// Returns p, or ends the process with "<function>: a null pointer" when p is null.
template <typename T>
T *not_null(T *p, std::string_view function) noexcept {
    if (p == nullptr) fatal(function, kNullPointer);
    return p;
}

}  // namespace quarn::capi

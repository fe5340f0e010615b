// C strings handed to entry points that must hold UTF-8 text (names, labels, messages).
#pragma once

#include <string_view>

namespace quarn::string {

// The text of a NUL-terminated C string. A null pointer ends the process with the label
// followed by " is a null pointer", bytes that are not UTF-8 with the label followed by
// " is not UTF-8".
std::string_view checked_c_text(const char *text, std::string_view label) noexcept;

}  // namespace quarn::string

#include "string/c_text.h"

#include <cstring>
#include <string>

#include "core/panic.h"
#include "core/utf8.h"

namespace quarn::string {

std::string_view checked_c_text(const char *text, std::string_view label) noexcept {
    if (text == nullptr) internal_panic({label, " is a null pointer"});
    std::string_view view(text, std::strlen(text));
    if (!utf8::is_valid_utf8(view.data(), view.size()))
        internal_panic({label, " is not UTF-8"});
    return view;
}

}  // namespace quarn::string

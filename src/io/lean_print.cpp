#include "io/lean_print.h"

#include "io/export_table.h"
#include "string/string_alloc.h"

namespace quarn::io {

void lean_eprintln(std::string_view text) noexcept {
    quarn_object *line = string::make_string_from_utf8(text.data(), text.size());
    quarn_dec(call_export(Export::io_eprintln, line));
}

}  // namespace quarn::io

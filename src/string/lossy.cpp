#include "string/lossy.h"

#include <cstring>

#include "core/checked_math.h"
#include "string/string_alloc.h"
#include "core/utf8.h"

namespace quarn::string {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr size_t kReplacementBytes = sizeof kReplacement - 1;

// Appends n bytes to a string under construction (exclusive; terminator not yet written).
quarn_string_object *append_bytes(quarn_string_object *s, const char *bytes, size_t n) noexcept {
    s = string_grow(s, n);
    std::memcpy(s->data + s->size, bytes, n);
    s->size += n;
    return s;
}

}  // namespace

quarn_object *decode_lossy(const char *bytes, size_t n) noexcept {
    utf8::Utf8Prefix valid = utf8::well_formed_prefix(bytes, n);
    if (valid.bytes == n) return make_string(bytes, n, valid.characters);

    // While it is built, `size` counts the text bytes only; the terminator comes last.
    quarn_string_object *s = allocate_string(checked_add(n, kReplacementBytes));
    s->size = 0;
    size_t characters = 0, i = 0;
    while (true) {
        s = append_bytes(s, bytes + i, valid.bytes);
        characters += valid.characters;
        i += valid.bytes;
        if (i == n) break;
        s = append_bytes(s, kReplacement, kReplacementBytes);
        ++characters;
        ++i;
        while (i < n && (static_cast<uint8_t>(bytes[i]) & 0xC0) == 0x80) ++i;
        valid = utf8::well_formed_prefix(bytes + i, n - i);
    }
    s = string_grow(s, 1);
    s->data[s->size] = '\0';
    s->size += 1;
    s->length = characters;
    return &s->header;
}

}  // namespace quarn::string

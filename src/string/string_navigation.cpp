// Byte positions in strings: queries, moving between characters, reading and replacing a
// character, and substrings. A position is a Nat; a big one lies beyond every string.
#include <cstdint>
#include <cstring>

#include "number/bignum.h"
#include "core/panic.h"
#include "quarn/nat.h"
#include "quarn/string.h"
#include "core/lean_panic.h"
#include "string/string_alloc.h"
#include "core/utf8.h"

using namespace quarn::string;

namespace {

constexpr uint32_t kDefaultChar = 'A';
constexpr size_t kLargestSmallNat = (size_t{1} << 63) - 1;

// The number of text bytes, the terminator excluded.
inline size_t text_bytes(const quarn_string_object *s) noexcept { return s->size - 1; }

inline const uint8_t *bytes_of(const quarn_string_object *s) noexcept {
    return reinterpret_cast<const uint8_t *>(s->data);
}

// The character at a position that is a scalar below the end, if it decodes.
inline bool char_at(const quarn_string_object *s, quarn_object *p, uint32_t *c) noexcept {
    if (!quarn_is_scalar(p)) return false;
    size_t i = quarn_unbox(p);
    return i < text_bytes(s) && quarn::utf8::decode_char_at(s->data, text_bytes(s), i, c);
}

// The Nat n + 1 for a small n.
quarn_object *small_successor(size_t n) noexcept {
    if (n == kLargestSmallNat) return quarn::number::make_one_digit(n + 1, QUARN_SIGN_POSITIVE);
    return quarn_box(n + 1);
}

// A new string of the bytes [begin, end) of s, its code points counted.
quarn_object *substring(const quarn_string_object *s, size_t begin, size_t end) noexcept {
    return make_string_from_utf8(s->data + begin, end - begin);
}

quarn_object *empty_string() noexcept { return make_string("", 0, 0); }

}  // namespace

extern "C" quarn_object *quarn_lean_string_length(quarn_object *s) noexcept {
    return quarn_box(as_string(s)->length);
}

extern "C" quarn_object *quarn_lean_string_utf8_byte_size(quarn_object *s) noexcept {
    return quarn_box(text_bytes(as_string(s)));
}

extern "C" uint8_t quarn_lean_string_utf8_at_end(quarn_object *s, quarn_object *p) noexcept {
    return !quarn_is_scalar(p) || quarn_unbox(p) >= text_bytes(as_string(s));
}

extern "C" uint8_t quarn_lean_string_is_valid_pos(quarn_object *o, quarn_object *p) noexcept {
    if (!quarn_is_scalar(p)) return 0;
    const quarn_string_object *s = as_string(o);
    size_t i = quarn_unbox(p);
    if (i == text_bytes(s)) return 1;
    return i < text_bytes(s) && quarn::utf8::is_lead_byte(bytes_of(s)[i]);
}

extern "C" quarn_object *quarn_lean_string_utf8_next(quarn_object *o, quarn_object *p) noexcept {
    if (!quarn_is_scalar(p)) return quarn_lean_nat_add(p, quarn_box(1));
    const quarn_string_object *s = as_string(o);
    size_t i = quarn_unbox(p);
    if (i >= text_bytes(s)) return small_successor(i);
    return quarn_box(i + quarn::utf8::char_length_of_lead(bytes_of(s)[i]));
}

extern "C" quarn_object *quarn_lean_string_utf8_next_fast(quarn_object *o,
                                                         quarn_object *p) noexcept {
    const quarn_string_object *s = as_string(o);
    if (!quarn_is_scalar(p) || quarn_unbox(p) >= text_bytes(s)) [[unlikely]]
        quarn::internal_panic("String.Pos.Raw.next': position is not in range");
    size_t i = quarn_unbox(p);
    return quarn_box(i + quarn::utf8::char_length_of_lead(bytes_of(s)[i]));
}

extern "C" quarn_object *quarn_lean_string_utf8_prev(quarn_object *o, quarn_object *p) noexcept {
    if (!quarn_is_scalar(p)) return quarn_lean_nat_sub(p, quarn_box(1));
    const quarn_string_object *s = as_string(o);
    size_t i = quarn_unbox(p);
    if (i == 0) return quarn_box(0);
    if (i > text_bytes(s)) return quarn_box(i - 1);
    const uint8_t *bytes = bytes_of(s);
    while (i > 0) {
        --i;
        if (quarn::utf8::is_lead_byte(bytes[i])) return quarn_box(i);
    }
    quarn::internal_panic("String.Pos.Raw.prev: string does not start with a lead byte");
}

extern "C" uint32_t quarn_lean_string_utf8_get(quarn_object *s, quarn_object *p) noexcept {
    uint32_t c;
    return char_at(as_string(s), p, &c) ? c : kDefaultChar;
}

extern "C" uint32_t quarn_lean_string_utf8_get_fast(quarn_object *o, quarn_object *p) noexcept {
    const quarn_string_object *s = as_string(o);
    if (!quarn_is_scalar(p) || quarn_unbox(p) >= text_bytes(s)) [[unlikely]]
        quarn::internal_panic("String.Pos.Raw.get': position is not in range");
    uint32_t c;
    return char_at(s, p, &c) ? c : kDefaultChar;
}

extern "C" uint32_t quarn_lean_string_utf8_get_bang(quarn_object *s, quarn_object *p) noexcept {
    uint32_t c;
    if (char_at(as_string(s), p, &c)) return c;
    quarn::report_lean_panic("Error: invalid `String.Pos` at `String.get!`");
    return kDefaultChar;
}

extern "C" quarn_object *quarn_lean_string_utf8_get_opt(quarn_object *s, quarn_object *p) noexcept {
    uint32_t c;
    if (!char_at(as_string(s), p, &c)) return quarn_box(0);
    quarn_object *some = quarn_alloc_ctor(1, 1, 0);
    quarn_ctor_set(some, 0, quarn_box(c));
    return some;
}

extern "C" uint8_t quarn_lean_string_get_byte_fast(quarn_object *o, quarn_object *i) noexcept {
    const quarn_string_object *s = as_string(o);
    if (!quarn_is_scalar(i) || quarn_unbox(i) >= s->size) [[unlikely]]
        quarn::internal_panic("String.getUTF8Byte: index out of range");
    return bytes_of(s)[quarn_unbox(i)];
}

extern "C" uint8_t quarn_lean_string_uget_byte_fast(quarn_object *o, size_t i) noexcept {
    const quarn_string_object *s = as_string(o);
    if (i >= s->size) [[unlikely]]
        quarn::internal_panic("String.ugetUTF8Byte: index out of range");
    return bytes_of(s)[i];
}

extern "C" quarn_object *quarn_lean_string_utf8_set(quarn_object *o, quarn_object *p,
                                                    uint32_t c) noexcept {
    quarn_string_object *s = as_string(o);
    size_t n = text_bytes(s);
    if (!quarn_is_scalar(p) || quarn_unbox(p) >= n) return o;
    size_t i = quarn_unbox(p);
    uint8_t old = bytes_of(s)[i];
    if (quarn_is_exclusive(o) && c < 0x80 && old < 0x80) {
        s->data[i] = static_cast<char>(c);
        return o;
    }
    if (!quarn::utf8::is_lead_byte(old)) return o;
    // The old character's length comes from its lead byte; text from unchecked bytes may
    // end before that many bytes, so the replaced range stops at the end of the text.
    size_t old_length = quarn::utf8::char_length_of_lead(old);
    if (old_length > n - i) old_length = n - i;
    char encoded[4];
    size_t new_length = quarn::utf8::encode_char(c, encoded);
    size_t bytes = n - old_length + new_length;
    quarn_string_object *r = allocate_string(bytes + 1);
    std::memcpy(r->data, s->data, i);
    std::memcpy(r->data + i, encoded, new_length);
    std::memcpy(r->data + i + new_length, s->data + i + old_length, n - i - old_length + 1);
    r->size = bytes + 1;
    r->length = s->length;
    quarn_dec_ref(o);
    return &r->header;
}

extern "C" quarn_object *quarn_lean_string_utf8_extract(quarn_object *o, quarn_object *b,
                                                        quarn_object *e) noexcept {
    const quarn_string_object *s = as_string(o);
    size_t n = text_bytes(s);
    // A big position is beyond the end: treat it as the largest word.
    size_t begin = quarn_is_scalar(b) ? quarn_unbox(b) : SIZE_MAX;
    size_t end = quarn_is_scalar(e) ? quarn_unbox(e) : SIZE_MAX;
    if (begin >= end || begin >= n || !quarn::utf8::is_lead_byte(bytes_of(s)[begin])) return empty_string();
    if (end >= n || !quarn::utf8::is_lead_byte(bytes_of(s)[end])) end = n;
    return substring(s, begin, end);
}

extern "C" quarn_object *quarn_lean_string_utf8_extract_fast(quarn_object *o, quarn_object *b,
                                                             quarn_object *e) noexcept {
    const quarn_string_object *s = as_string(o);
    size_t n = text_bytes(s);
    if (!quarn_is_scalar(b) || !quarn_is_scalar(e) || quarn_unbox(b) > n || quarn_unbox(e) > n)
        [[unlikely]]
        quarn::internal_panic("String.extract: positions are not in range");
    size_t begin = quarn_unbox(b), end = quarn_unbox(e);
    if (begin >= end) return empty_string();
    return substring(s, begin, end);
}

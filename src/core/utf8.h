// UTF-8: the lead-byte rules of positions, encoding and decoding one character,
// well-formedness, and counting code points.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn::utf8 {

// The first byte of a character: ASCII or 0xC0 to 0xF7.
inline bool is_lead_byte(uint8_t b) noexcept { return b < 0x80 || (b >= 0xC0 && b < 0xF8); }

// The byte length of the character that starts with b, by its lead byte: 1 to 4, and 1 for
// a continuation byte or a byte that starts nothing.
inline size_t char_length_of_lead(uint8_t b) noexcept {
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) return 2;
    if ((b & 0xF0) == 0xE0) return 3;
    if ((b & 0xF8) == 0xF0) return 4;
    return 1;
}

// The number of bytes that encode c.
inline size_t encoded_length(uint32_t c) noexcept {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// Writes the 1 to 4 bytes that encode c at out; returns how many.
inline size_t encode_char(uint32_t c, char *out) noexcept {
    auto *o = reinterpret_cast<uint8_t *>(out);
    if (c < 0x80) {
        o[0] = static_cast<uint8_t>(c);
        return 1;
    }
    if (c < 0x800) {
        o[0] = static_cast<uint8_t>(0xC0 | c >> 6);
        o[1] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        o[0] = static_cast<uint8_t>(0xE0 | c >> 12);
        o[1] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
        o[2] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        return 3;
    }
    o[0] = static_cast<uint8_t>(0xF0 | (c >> 18 & 7));
    o[1] = static_cast<uint8_t>(0x80 | (c >> 12 & 0x3F));
    o[2] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
    o[3] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    return 4;
}

// The character at byte p < n of a string's text, into *c; false when it does not decode
// (a continuation byte, a lead byte whose character would run past the text, an overlong
// two-byte form, a surrogate or a value beyond U+10FFFF). The continuation bytes are not
// checked: string text is well-formed unless built from unchecked bytes.
inline bool decode_char_at(const char *text, size_t n, size_t p, uint32_t *c) noexcept {
    auto *t = reinterpret_cast<const uint8_t *>(text);
    uint32_t b = t[p];
    if (b < 0x80) {
        *c = b;
        return true;
    }
    if (b >= 0xC0 && b < 0xE0) {
        if (p + 1 >= n || (b & 0x1F) <= 1) return false;
        *c = (b & 0x1F) << 6 | (t[p + 1] & 0x3Fu);
        return true;
    }
    if (b >= 0xE0 && b < 0xF0) {
        if (p + 2 >= n) return false;
        uint32_t v = (b & 0x0F) << 12 | (t[p + 1] & 0x3Fu) << 6 | (t[p + 2] & 0x3Fu);
        if (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF)) return false;
        *c = v;
        return true;
    }
    if (b >= 0xF0 && b < 0xF8) {
        if (p + 3 >= n) return false;
        uint32_t v = (b & 0x07) << 18 | (t[p + 1] & 0x3Fu) << 12 | (t[p + 2] & 0x3Fu) << 6 |
                     (t[p + 3] & 0x3Fu);
        if (v < 0x10000 || v >= 0x110000) return false;
        *c = v;
        return true;
    }
    return false;
}

// The byte length of the well-formed character at p < n, or 0 when none starts there:
// ASCII; 0xC2-0xDF and one continuation byte; three bytes of a value from 0x800 whose lead
// is 0xEE or 0xEF when the value is 0xD800 or more (no surrogates); four bytes of a value
// from 0x10000 below 0x110000. This is the byte-by-byte definition that the faster scans
// below must agree with.
size_t well_formed_char_length(const char *bytes, size_t n, size_t p) noexcept;

// Whether the n bytes are well-formed UTF-8: every character passes
// well_formed_char_length. Words of ASCII are checked eight bytes at a time.
bool is_valid_utf8(const char *bytes, size_t n) noexcept;

// The longest well-formed prefix of n bytes: where the first character that is not
// well-formed starts (n when there is none), and how many characters come before it.
struct Utf8Prefix {
    size_t bytes;
    size_t characters;
};
Utf8Prefix well_formed_prefix(const char *bytes, size_t n) noexcept;

// The number of characters in n trusted bytes, counted by stepping from lead byte to lead
// byte: 1 for ASCII, 2 for 110xxxxx, 3 for 1110xxxx, 4 for 11110xxx, 5 for 111110xx,
// 6 for 1111110x and 1 for any other byte. On well-formed text this is the number of code
// points.
size_t count_code_points(const char *bytes, size_t n) noexcept;

}  // namespace quarn::utf8

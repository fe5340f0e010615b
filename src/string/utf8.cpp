#include "string/utf8.h"

#include <cstdint>

namespace quarn::string {

namespace {
inline bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }
}  // namespace

bool is_valid_utf8(const char *text, size_t n) noexcept {
    auto *bytes = reinterpret_cast<const uint8_t *>(text);
    size_t i = 0;
    while (i < n) {
        uint8_t b = bytes[i];
        if (b < 0x80) {
            ++i;
        } else if ((b & 0xE0) == 0xC0) {
            if (i + 1 >= n || !is_continuation(bytes[i + 1]) || b < 0xC2) return false;
            i += 2;
        } else if ((b & 0xF0) == 0xE0) {
            if (i + 2 >= n || !is_continuation(bytes[i + 1]) || !is_continuation(bytes[i + 2]))
                return false;
            uint32_t c = (b & 0x0Fu) << 12 | (bytes[i + 1] & 0x3Fu) << 6 | (bytes[i + 2] & 0x3Fu);
            if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) return false;
            i += 3;
        } else if ((b & 0xF8) == 0xF0) {
            if (i + 3 >= n || !is_continuation(bytes[i + 1]) || !is_continuation(bytes[i + 2]) ||
                !is_continuation(bytes[i + 3]))
                return false;
            uint32_t c = (b & 0x07u) << 18 | (bytes[i + 1] & 0x3Fu) << 12 |
                         (bytes[i + 2] & 0x3Fu) << 6 | (bytes[i + 3] & 0x3Fu);
            if (c < 0x10000 || c >= 0x110000) return false;
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

size_t count_code_points(const char *text, size_t n) noexcept {
    auto *bytes = reinterpret_cast<const uint8_t *>(text);
    size_t count = 0;
    for (size_t i = 0; i < n; ++count) {
        uint8_t b = bytes[i];
        if (b < 0x80) i += 1;
        else if ((b & 0xE0) == 0xC0) i += 2;
        else if ((b & 0xF0) == 0xE0) i += 3;
        else if ((b & 0xF8) == 0xF0) i += 4;
        else if ((b & 0xFC) == 0xF8) i += 5;
        else if ((b & 0xFE) == 0xFC) i += 6;
        else i += 1;
    }
    return count;
}

}  // namespace quarn::string

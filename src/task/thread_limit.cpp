// The task manager's thread limit from LEAN_NUM_THREADS.
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/utf8.h"
#include "task/task.h"

namespace quarn::task {

namespace {

// The characters with the Unicode White_Space property.
bool is_unicode_white_space(uint32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace

uint32_t thread_limit_from(const char *setting) noexcept {
    if (setting == nullptr) return hardware_concurrency();
    size_t n = std::strlen(setting);
    if (!utf8::is_valid_utf8(setting, n)) return hardware_concurrency();
    size_t p = 0;
    uint32_t c;
    while (p < n && utf8::decode_char_at(setting, n, p, &c) && is_unicode_white_space(c))
        p += utf8::encoded_length(c);
    bool negative = false;
    if (p < n && (setting[p] == '+' || setting[p] == '-')) negative = setting[p++] == '-';
    // Accumulated towards the sign so that both limits are reached exactly, then held there.
    int64_t value = 0;
    for (; p < n && setting[p] >= '0' && setting[p] <= '9'; ++p) {
        int digit = setting[p] - '0';
        if (negative)
            value = __builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, digit, &value)
                        ? std::numeric_limits<int64_t>::min()
                        : value;
        else
            value = __builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, digit, &value)
                        ? std::numeric_limits<int64_t>::max()
                        : value;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(value));
}

}  // namespace quarn::task

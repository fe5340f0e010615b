#include "startup/thread_stack.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/utf8.h"

namespace quarn::startup {

size_t lean_thread_stack_size() noexcept {
    constexpr size_t kDefault = size_t{1} << 30;
    constexpr size_t kRoom = 128 * 1024;
    const char *setting = std::getenv("LEAN_STACK_SIZE_KB");
    if (setting == nullptr || !utf8::is_valid_utf8(setting, std::strlen(setting))) return kDefault;
    long kib = std::strtol(setting, nullptr, 10);  // what atol does, saturating
    if (kib <= 0) return kDefault;
    // Sizes beyond the address space saturate; creating such a thread then fails.
    size_t bytes = static_cast<size_t>(kib) > SIZE_MAX / 1024 ? SIZE_MAX : static_cast<size_t>(kib) * 1024;
    bytes &= ~size_t{4095};
    if (bytes == 0) return kDefault;
    return bytes > SIZE_MAX - kRoom ? bytes : bytes + kRoom;
}

}  // namespace quarn::startup

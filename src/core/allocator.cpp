#include "core/allocator.h"

#include <charconv>

namespace quarn {

Decimal decimal(long long n) noexcept {
    Decimal d;
    d.size = static_cast<std::size_t>(std::to_chars(d.digits, d.digits + sizeof d.digits, n).ptr - d.digits);
    return d;
}

}  // namespace quarn

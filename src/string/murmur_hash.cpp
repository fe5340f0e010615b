#include "string/murmur_hash.h"

#include <cstring>

namespace quarn::string {

uint64_t murmur_hash64a(const void *data, size_t n, uint64_t seed) noexcept {
    constexpr uint64_t m = 0xC6A4A7935BD1E995u;
    constexpr int r = 47;
    auto *bytes = static_cast<const uint8_t *>(data);
    uint64_t h = seed ^ (n * m);
    size_t blocks = n / 8;
    for (size_t i = 0; i < blocks; ++i) {
        uint64_t k;
        std::memcpy(&k, bytes + 8 * i, 8);  // little-endian blocks
        k *= m;
        k ^= k >> r;
        k *= m;
        h ^= k;
        h *= m;
    }
    const uint8_t *tail = bytes + 8 * blocks;
    switch (n & 7) {
        case 7: h ^= uint64_t{tail[6]} << 48; [[fallthrough]];
        case 6: h ^= uint64_t{tail[5]} << 40; [[fallthrough]];
        case 5: h ^= uint64_t{tail[4]} << 32; [[fallthrough]];
        case 4: h ^= uint64_t{tail[3]} << 24; [[fallthrough]];
        case 3: h ^= uint64_t{tail[2]} << 16; [[fallthrough]];
        case 2: h ^= uint64_t{tail[1]} << 8; [[fallthrough]];
        case 1:
            h ^= uint64_t{tail[0]};
            h *= m;
    }
    h ^= h >> r;
    h *= m;
    h ^= h >> r;
    return h;
}

}  // namespace quarn::string

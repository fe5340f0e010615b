// MurmurHash64A, the hash of strings, string slices and byte arrays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn::string {

// The seed every Lean text and byte hash uses.
inline constexpr uint64_t kHashSeed = 11;

uint64_t murmur_hash64a(const void *data, size_t n, uint64_t seed = kHashSeed) noexcept;

}  // namespace quarn::string

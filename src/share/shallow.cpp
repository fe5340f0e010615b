#include "share/shallow.h"

#include <cstring>

#include "core/allocator.h"
#include "object/bignum_layout.h"
#include "object/heap.h"
#include "string/murmur_hash.h"

namespace quarn::share {

namespace {

constexpr uint64_t kMultiplier = 0xC6A4A7935BD1E995u;
constexpr uint32_t kSeedMultiplier = 0x5BD1E995u;

// The shallow content of an object: `size` bytes after the header, of which the first
// `present` are the object's own and the rest count as zero bytes. The content of a
// constructor is its block rounded up to whole words, but the block ends where the scalar
// area does (a boxed Float32 is 12 bytes), so the missing tail is never read.
struct Content {
    const uint8_t *bytes;
    size_t size;
    size_t present;
};

Content content_of(const quarn_object *o) noexcept {
    const auto *body = reinterpret_cast<const uint8_t *>(o) + sizeof(quarn_object);
    size_t n;
    switch (o->tag) {
        case QUARN_TAG_CLOSURE:
            n = 16 + 8 * size_t{reinterpret_cast<const quarn_closure_object *>(o)->fixed};
            return {body, n, n};
        case QUARN_TAG_ARRAY:  // size, capacity and the elements in use
            n = 16 + 8 * reinterpret_cast<const quarn_array_object *>(o)->size;
            return {body, n, n};
        case QUARN_TAG_SCALAR_ARRAY:  // size, capacity and the data in use
            n = 16 + size_t{o->other} * reinterpret_cast<const quarn_sarray_object *>(o)->size;
            return {body, n, n};
        case QUARN_TAG_STRING:  // size, capacity, length, the text and its terminator
            n = 24 + reinterpret_cast<const quarn_string_object *>(o)->size;
            return {body, n, n};
        default: {
            size_t own = object::object_size(o);
            size_t whole_words = (own + 7) & ~size_t{7};
            return {body, whole_words - sizeof(quarn_object), own - sizeof(quarn_object)};
        }
    }
}

uint64_t bignum_hash(const quarn_bignum_object *big) noexcept {
    object::DigitView magnitude = object::magnitude_of(big);
    uint64_t lowest = magnitude.count == 0 ? 0 : magnitude.digits[0];
    if (big->sign == QUARN_SIGN_NEGATIVE) lowest = 0 - lowest;
    uint64_t e = uint64_t{static_cast<uint32_t>(lowest)} * kMultiplier;
    return (e ^ (e >> 47) ^ 0xC6A4A7935BD1E96Fu) * kMultiplier;
}

// MurmurHash64A of content whose last bytes are missing from the block: hashed from a copy
// with the zero bytes in place. Only constructors have such a tail, and their content is
// at most 3064 bytes.
uint64_t hash_with_zero_tail(const Content &content, uint64_t seed) noexcept {
    constexpr size_t kLargestConstructorContent = 8 * 255 + 1024;
    if (content.size <= kLargestConstructorContent) {
        alignas(8) uint8_t copy[kLargestConstructorContent];
        std::memcpy(copy, content.bytes, content.present);
        std::memset(copy + content.present, 0, content.size - content.present);
        return string::murmur_hash64a(copy, content.size, seed);
    }
    Vector<uint8_t> copy(content.size, 0);
    std::memcpy(copy.data(), content.bytes, content.present);
    return string::murmur_hash64a(copy.data(), content.size, seed);
}

}  // namespace

bool shallow_equal(const quarn_object *a, const quarn_object *b) noexcept {
    if (a == b) return true;
    if (a->tag != b->tag || a->other != b->other) return false;
    if (a->tag == QUARN_TAG_BIGNUM)
        return object::equal_values(reinterpret_cast<const quarn_bignum_object *>(a),
                                    reinterpret_cast<const quarn_bignum_object *>(b));
    Content x = content_of(a), y = content_of(b);
    // Equal content sizes are not enough: a 12-byte boxed Float32 and a 16-byte boxed UInt64
    // may read alike once padded, but one cannot stand for the other, since compiled code
    // reads 8 bytes from the second.
    return x.size == y.size && x.present == y.present &&
           std::memcmp(x.bytes, y.bytes, x.present) == 0;
}

uint64_t shallow_hash(const quarn_object *o) noexcept {
    if (o->tag == QUARN_TAG_BIGNUM)
        return bignum_hash(reinterpret_cast<const quarn_bignum_object *>(o));
    uint64_t k = uint64_t{o->other} * kMultiplier;
    uint32_t mixed = static_cast<uint32_t>(k ^ o->tag ^ (k >> 47)) ^ kSeedMultiplier;
    uint64_t seed = static_cast<uint32_t>(mixed * kSeedMultiplier);
    Content content = content_of(o);
    if (content.present == content.size)
        return string::murmur_hash64a(content.bytes, content.size, seed);
    return hash_with_zero_tail(content, seed);
}

}  // namespace quarn::share

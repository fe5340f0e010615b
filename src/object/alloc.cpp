// Constructor allocation, boxing of numbers, freeing, and the object predicates.
#include <cstring>
#include <string>

#include "object/export.h"
#include "object/header.h"
#include "object/heartbeat.h"
#include "object/kinds.h"
#include "core/allocator.h"
#include "object/heap.h"
#include "object/small_blocks.h"
#include "core/panic.h"

using namespace quarn::object;

namespace {

[[noreturn, gnu::cold, gnu::noinline]] void invalid_ctor(uint32_t tag, uint32_t fields, uint64_t scalar_bytes) noexcept {
    using quarn::decimal;
    quarn::internal_panic({"invalid constructor allocation (tag ", decimal(tag), ", ", decimal(fields),
                           " object fields, ", decimal(static_cast<long long>(scalar_bytes)),
                           " scalar bytes)"});
}

// A tag-0 constructor with no object fields holding `bytes` of scalar data.
template <typename T>
quarn_object *box_scalar(T value) noexcept {
    count_heartbeat();
    quarn_object *o = allocate_object(sizeof(quarn_object) + sizeof(T), 0);
    std::memcpy(reinterpret_cast<quarn_ctor_object *>(o)->fields, &value, sizeof(T));
    return o;
}

}  // namespace

namespace {

// The header word of a new constructor: rc 1, cs_sz 0, `other` = fields, tag.
constexpr uint64_t ctor_header(uint32_t tag, uint32_t fields) noexcept {
    return uint64_t{tag} << 56 | uint64_t{fields} << 48 | 1u;
}

// Everything but a cache hit: the bounds, then the general allocation (the cache was just
// found empty, or the object is too large for it, so it is not asked again).
[[gnu::noinline]] quarn_object *alloc_ctor_slow(uint32_t tag, uint32_t fields,
                                                uint64_t scalar_bytes) noexcept {
    bool out_of_bounds = (tag > QUARN_MAX_CTOR_TAG) | (fields > QUARN_MAX_CTOR_FIELDS) |
                         (scalar_bytes > QUARN_MAX_CTOR_SCALAR_BYTES);
    if (out_of_bounds) [[unlikely]]
        invalid_ctor(tag, fields, scalar_bytes);
    count_heartbeat();
    size_t size = sizeof(quarn_object) + sizeof(quarn_object *) * fields + scalar_bytes;
    return allocate_slow(size, ctor_header(tag, fields));
}

}  // namespace

extern "C" quarn_object *quarn_alloc_ctor(uint32_t tag, uint32_t fields,
                                          uint64_t scalar_bytes) noexcept {
    // One test for the common case: a valid tag and an object small enough for the block
    // caches, which keeps the field count and scalar size within their bounds too. Each of
    // the three numbers is below kSmall exactly when their bitwise or is; the scalar size is
    // among them so that a huge one cannot wrap the object size around.
    constexpr uint64_t kSmall = small_blocks::kLargestCachedObject;
    static_assert(kSmall > QUARN_MAX_CTOR_TAG && kSmall - 1 <= QUARN_MAX_CTOR_SCALAR_BYTES);
    constexpr uint64_t kTagSlack = kSmall - (QUARN_MAX_CTOR_TAG + 1);
    uint64_t last_byte = sizeof(quarn_object) - 1 + sizeof(quarn_object *) * uint64_t{fields} +
                         scalar_bytes;
    // Computed before the cache is read: the hit then needs no register saved.
    uint64_t header = ctor_header(tag, fields);
    bool small = ((uint64_t{tag} + kTagSlack) | scalar_bytes | last_byte) < kSmall;
    if (QUARN_SMALL_BLOCK_CACHE && small) [[likely]] {
        if (void *block = small_blocks::try_take(last_byte / small_blocks::kClassGranularity))
            [[likely]] {
            count_heartbeat();
            detail::count_live_objects(1);
            auto *words = static_cast<uint64_t *>(block);
            words[0] = last_byte + 1;
            words[1] = header;
            return reinterpret_cast<quarn_object *>(words + 1);
        }
    }
    return alloc_ctor_slow(tag, fields, scalar_bytes);
}

extern "C" quarn_object *quarn_box_float(double x) noexcept { return box_scalar(x); }
extern "C" quarn_object *quarn_box_float32(float x) noexcept { return box_scalar(x); }
extern "C" quarn_object *quarn_box_uint64(uint64_t n) noexcept { return box_scalar(n); }
extern "C" quarn_object *quarn_box_usize(size_t n) noexcept QUARN_EXPORT_ALIAS(quarn_box_uint64);

extern "C" quarn_object *quarn_box_uint32(uint32_t n) noexcept { return quarn_box(n); }

extern "C" void quarn_free_object(quarn_object *o) noexcept {
    if (o->tag == QUARN_TAG_BIGNUM) free_bignum_digits(reinterpret_cast<quarn_bignum_object *>(o));
    deallocate(o);
}

extern "C" uint8_t quarn_lean_is_scalar(quarn_object *v) noexcept { return quarn_is_scalar(v); }

extern "C" uint8_t quarn_lean_is_exclusive_obj(quarn_object *o) noexcept {
    return quarn_is_exclusive(o);
}

extern "C" size_t quarn_lean_ptr_addr(quarn_object *v) noexcept {
    return reinterpret_cast<size_t>(v);
}

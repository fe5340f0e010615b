// Building strings: from characters, numbers and bytes, into characters and bytes, and
// growing them by a character or a string.
#include <bit>
#include <charconv>
#include <cstring>

#include "array/sarray_alloc.h"
#include "core/checked_math.h"
#include "object/heap.h"
#include "object/list.h"
#include "core/panic.h"
#include "quarn/string.h"
#include "string/string_alloc.h"
#include "core/utf8.h"

using namespace quarn::string;

namespace {

// push asks for this much room whatever the character: enough for any encoding.
constexpr size_t kPushReserve = 5;

inline quarn_object *list_head(quarn_object *cell) noexcept { return quarn_ctor_get(cell, 0); }
inline quarn_object *list_tail(quarn_object *cell) noexcept { return quarn_ctor_get(cell, 1); }

inline uint32_t unbox_char(quarn_object *c) noexcept {
    return static_cast<uint32_t>(quarn_unbox(c));
}

}  // namespace

extern "C" quarn_object *quarn_lean_string_mk(quarn_object *chars) noexcept {
    size_t bytes = 0, length = 0;
    for (quarn_object *l = chars; !quarn_is_scalar(l); l = list_tail(l)) {
        bytes += quarn::utf8::encoded_length(unbox_char(list_head(l)));
        ++length;
    }
    quarn_object *o = [&] {
        quarn_string_object *s = allocate_string(quarn::checked_add(bytes, 1));
        char *out = s->data;
        for (quarn_object *l = chars; !quarn_is_scalar(l); l = list_tail(l))
            out += quarn::utf8::encode_char(unbox_char(list_head(l)), out);
        *out = '\0';
        s->size = bytes + 1;
        s->length = length;
        return &s->header;
    }();
    quarn_dec(chars);
    return o;
}

extern "C" quarn_object *quarn_lean_string_data(quarn_object *o) noexcept {
    const quarn_string_object *s = as_string(o);
    size_t n = s->size - 1;
    // The cells are linked front to back: each new cell fills the tail of the one before.
    quarn_object *list = quarn_box(0);
    quarn_object **hole = &list;
    for (size_t i = 0; i < n;) {
        uint32_t c;
        if (quarn::utf8::decode_char_at(s->data, n, i, &c)) {
            i += quarn::utf8::encoded_length(c);
        } else {
            c = static_cast<uint8_t>(s->data[i]);
            i += 1;
        }
        quarn_object *cell = quarn::object::make_cons(quarn_box(c), quarn_box(0));
        *hole = cell;
        hole = &reinterpret_cast<quarn_ctor_object *>(cell)->fields[1];
    }
    quarn_dec(o);
    return list;
}

extern "C" quarn_object *quarn_lean_string_of_usize(size_t n) noexcept {
    char digits[20];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, n);
    (void)error;  // twenty digits hold every 64-bit value
    size_t count = static_cast<size_t>(end - digits);
    return make_string(digits, count, count);
}

extern "C" quarn_object *quarn_lean_string_to_utf8(quarn_object *o) noexcept {
    const quarn_string_object *s = as_string(o);
    return quarn::array::make_byte_array(s->data, s->size - 1);
}

extern "C" quarn_object *quarn_lean_string_from_utf8_unchecked(quarn_object *bytes) noexcept {
    auto *a = reinterpret_cast<quarn_sarray_object *>(bytes);
    quarn_object *s = make_string_from_utf8(reinterpret_cast<const char *>(a->data), a->size);
    quarn_dec(bytes);
    return s;
}

extern "C" uint8_t quarn_lean_string_validate_utf8(quarn_object *bytes) noexcept {
    auto *a = reinterpret_cast<quarn_sarray_object *>(bytes);
    return quarn::utf8::is_valid_utf8(reinterpret_cast<const char *>(a->data), a->size);
}

namespace {

// The room to ask string_grow for when an exclusive string runs out of it: enough that the
// new block (size word, header and capacity) is a power of two at least twice the bytes in
// use. Blocks of such sizes are the ones the allocator keeps and hands out again whole; the
// odd sizes of plain doubling left large strings in fresh pages on every growth, and the
// page faults cost more than the pushes themselves.
size_t room_to_grow(const quarn_string_object *s) noexcept {
    constexpr size_t kOverhead = sizeof(size_t) + sizeof(quarn_string_object);
    size_t wanted = quarn::checked_add(quarn::checked_mul(s->size + kPushReserve, 2), kOverhead);
    if (wanted > size_t{1} << 62) quarn::internal_panic(quarn::kOutOfMemory);
    // The new capacity is size + room + old capacity (string_grow).
    return std::bit_ceil(wanted) - kOverhead - s->capacity - s->size;
}

// Every push that is not an ASCII character onto an exclusive string with room to spare.
[[gnu::noinline]] quarn_object *push_slow(quarn_string_object *s, uint32_t c) noexcept {
    if (!quarn_is_exclusive(&s->header))
        s = string_grow(s, kPushReserve);
    else if (s->capacity - s->size < kPushReserve)
        s = string_grow(s, room_to_grow(s));
    char *end = s->data + s->size - 1;
    size_t k = quarn::utf8::encode_char(c, end);
    end[k] = '\0';
    s->size += k;
    s->length += 1;
    return &s->header;
}

}  // namespace

// The common case costs a handful of instructions: an ASCII character and the terminator
// go in as one two-byte store, and anything else is a tail call.
extern "C" quarn_object *quarn_lean_string_push(quarn_object *o, uint32_t c) noexcept {
    quarn_string_object *s = as_string(o);
    size_t size = s->size;
    if (quarn_is_exclusive(o) && s->capacity - size >= kPushReserve && c < 0x80) [[likely]] {
        auto char_and_terminator = static_cast<uint16_t>(c);  // little-endian: c, then 0
        std::memcpy(s->data + size - 1, &char_and_terminator, 2);
        s->size = size + 1;
        s->length += 1;
        return o;
    }
    return push_slow(s, c);
}

extern "C" quarn_object *quarn_lean_string_append(quarn_object *o, quarn_object *t) noexcept {
    if (o == t && quarn_is_exclusive(o)) [[unlikely]]
        quarn::internal_panic("lean_string_append: an exclusive string appended to itself");
    const quarn_string_object *tail = as_string(t);
    size_t extra = tail->size - 1;
    quarn_string_object *s = string_grow(as_string(o), extra);
    // The copy includes t's terminator, which becomes the new one.
    std::memcpy(s->data + s->size - 1, tail->data, tail->size);
    s->size += extra;
    s->length += tail->length;
    return &s->header;
}

/*
 * quarn/string.h: strings, byte positions and string slices.
 *
 * A String (tag 249, quarn_string_object in quarn/object.h) holds UTF-8 text followed by
 * one zero byte. `size` counts the bytes in use including that terminator, so the text has
 * size - 1 bytes; `capacity` is the room allocated for text and terminator; `length` is the
 * number of code points. Strings built by checked paths hold well-formed UTF-8; the
 * unchecked constructors trust their caller.
 *
 * A position (String.Pos) is a byte offset carried as a Nat: normally a scalar. A position
 * that is a big number is beyond the end of every string. A String.Slice is a constructor
 * with three object fields: the string, the start position and the end position.
 *
 * Characters are raw 32-bit Unicode scalar values. Option Char is the scalar 0 for none and
 * a tag-1 constructor with the boxed character for some. List Char is the scalar 0 for the
 * empty list and tag-1 cells holding a boxed character and the tail. An Ordering is 0
 * (less), 1 (equal) or 2 (greater). A bool byte is 0 or 1.
 *
 * Growth in place. An exclusive string (rc 1) is updated in place by push, append and an
 * ASCII set, and grows geometrically; a shared string is copied into a new object with room
 * to spare, so the next push or append on the copy is in place.
 *
 * Failures. Primitives with a default ('A' or none) return it without a report; get_bang
 * reports a Lean-level panic first. The "fast" variants, prev without a lead byte, memcmp
 * and the slice primitives end the process through the internal panic when their
 * arguments are out of range, as each declaration says.
 *
 * Threads: any thread, on strings that thread may touch (quarn/object.h). Compiles as C11
 * and as C++.
 */
#ifndef QUARN_STRING_H
#define QUARN_STRING_H

#include "object.h"

QUARN_BEGIN_DECLS

/* ---- reading the object (inline, no call) ---------------------------------------------- */

/* The text, zero-terminated. Returns a pointer borrowed from s. */
static inline const char *quarn_string_cstr(const quarn_object *s) {
    return ((const quarn_string_object *)s)->data;
}

/* Bytes in use, the terminator included. Borrows `s`. */
static inline size_t quarn_string_size(const quarn_object *s) {
    return ((const quarn_string_object *)s)->size;
}

/* Number of code points. Borrows `s`. */
static inline size_t quarn_string_len(const quarn_object *s) {
    return ((const quarn_string_object *)s)->length;
}

/* ---- construction and conversion -------------------------------------------------------- */

/* quarn_mk_string_unchecked is declared in quarn/object.h. */

/* The string of the characters of a List Char; size = capacity = bytes + 1.
 * Consumes `chars`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_mk(quarn_object *chars) QUARN_NOEXCEPT;

/* The characters of s as a List Char; a byte that does not decode becomes a character of
 * its own value. Each cell counts a heartbeat. Consumes `s`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_data(quarn_object *s) QUARN_NOEXCEPT;

/* The decimal digits of n. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_of_usize(size_t n) QUARN_NOEXCEPT;

/* A new ByteArray of the size - 1 text bytes. Borrows `s`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_to_utf8(quarn_object *s) QUARN_NOEXCEPT;

/* A string of the bytes, not validated; code points counted by lead bytes.
 * Consumes `bytes` (a ByteArray). Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_from_utf8_unchecked(quarn_object *bytes) QUARN_NOEXCEPT;

/* 1 if the bytes of the ByteArray are well-formed UTF-8, else 0. Borrows `bytes`. */
QUARN_API uint8_t quarn_lean_string_validate_utf8(quarn_object *bytes) QUARN_NOEXCEPT;

/* ---- growth ---------------------------------------------------------------------------- */

/* Appends the UTF-8 encoding of c; length + 1. In place when s is exclusive and has 5
 * bytes to spare. Consumes `s`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_push(quarn_object *s, uint32_t c) QUARN_NOEXCEPT;

/* quarn_lean_string_push with its common case inline: an ASCII character onto an
 * exclusive string with room is written with the terminator as one two-byte store; every
 * other case calls quarn_lean_string_push. Text loops built on it avoid a call per
 * character (and the wait for the size that the previous call stored). Consumes `s`.
 * Returns an owned reference. */
static inline quarn_object *quarn_string_push(quarn_object *s, uint32_t c) {
    quarn_string_object *o = (quarn_string_object *)s;
    size_t size = o->size;
    if (__builtin_expect(quarn_is_exclusive(s) && o->capacity - size >= 5 && c < 0x80, 1)) {
        uint16_t char_and_terminator = (uint16_t)c; /* little-endian: c, then 0 */
        memcpy(o->data + size - 1, &char_and_terminator, 2);
        o->size = size + 1;
        o->length += 1;
        return s;
    }
    return quarn_lean_string_push(s, c);
}

/* Appends the text of t. Appending an exclusive string to itself ends the process with
 * "lean_string_append: an exclusive string appended to itself"; a shared one may be.
 * Consumes `s`. Borrows `t`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_append(quarn_object *s, quarn_object *t) QUARN_NOEXCEPT;

/* ---- queries and navigation (no allocation for scalar positions) ------------------------ */

/* The number of code points, as a Nat. Borrows `s`. */
QUARN_API quarn_object *quarn_lean_string_length(quarn_object *s) QUARN_NOEXCEPT;

/* The number of text bytes (size - 1), as a Nat. Borrows `s`. */
QUARN_API quarn_object *quarn_lean_string_utf8_byte_size(quarn_object *s) QUARN_NOEXCEPT;

/* 1 if p is a big number or p >= size - 1, else 0. Borrows `s` and `p`. */
QUARN_API uint8_t quarn_lean_string_utf8_at_end(quarn_object *s, quarn_object *p) QUARN_NOEXCEPT;

/* 1 if p is size - 1 or below it on a lead byte, else 0. Borrows `s` and `p`. */
QUARN_API uint8_t quarn_lean_string_is_valid_pos(quarn_object *s, quarn_object *p) QUARN_NOEXCEPT;

/* The position after the character at p (a continuation byte counts one); p + 1 at or past
 * the end, computed on big numbers when p is big or p + 1 is 2^63.
 * Borrows `s` and `p`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_utf8_next(quarn_object *s, quarn_object *p)
    QUARN_NOEXCEPT;

/* As quarn_lean_string_utf8_next for p < size - 1; any other p ends the process with
 * "String.Pos.Raw.next': position is not in range". Borrows `s` and `p`. Returns an owned
 * reference. */
QUARN_API quarn_object *quarn_lean_string_utf8_next_fast(quarn_object *s, quarn_object *p)
    QUARN_NOEXCEPT;

/* The start of the character before p: 0 for 0, p - 1 past the end (computed on big numbers
 * for a big p), else the nearest lead byte below p. No lead byte down to 0 ends the process
 * with "String.Pos.Raw.prev: string does not start with a lead byte".
 * Borrows `s` and `p`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_utf8_prev(quarn_object *s, quarn_object *p)
    QUARN_NOEXCEPT;

/* The character at p; 'A' when p is big, at or past the end, or does not decode.
 * Borrows `s` and `p`. */
QUARN_API uint32_t quarn_lean_string_utf8_get(quarn_object *s, quarn_object *p) QUARN_NOEXCEPT;

/* As quarn_lean_string_utf8_get, but p at or past the end (or big) ends the process with
 * "String.Pos.Raw.get': position is not in range". Borrows `s` and `p`. */
QUARN_API uint32_t quarn_lean_string_utf8_get_fast(quarn_object *s, quarn_object *p) QUARN_NOEXCEPT;

/* As quarn_lean_string_utf8_get, but every case that gives 'A' first reports the Lean-level
 * panic "Error: invalid `String.Pos` at `String.get!`". Borrows `s` and `p`. */
QUARN_API uint32_t quarn_lean_string_utf8_get_bang(quarn_object *s, quarn_object *p) QUARN_NOEXCEPT;

/* The character at p as an Option Char: none where quarn_lean_string_utf8_get gives its
 * default. Borrows `s` and `p`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_utf8_get_opt(quarn_object *s, quarn_object *p)
    QUARN_NOEXCEPT;

/* The byte at the scalar position i < size (the terminator included); any other i ends the
 * process with "String.getUTF8Byte: index out of range". Borrows `s` and `i`. */
QUARN_API uint8_t quarn_lean_string_get_byte_fast(quarn_object *s, quarn_object *i) QUARN_NOEXCEPT;

/* The byte at the raw index i < size; any other i ends the process with
 * "String.ugetUTF8Byte: index out of range". Borrows `s`. */
QUARN_API uint8_t quarn_lean_string_uget_byte_fast(quarn_object *s, size_t i) QUARN_NOEXCEPT;

/* Replaces the character at p by c. s unchanged when p is big, at or past the end, or not
 * on a lead byte; overwritten in place when s is exclusive and both characters are ASCII;
 * otherwise a new string. Consumes `s`. Borrows `p`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_utf8_set(quarn_object *s, quarn_object *p, uint32_t c)
    QUARN_NOEXCEPT;

/* A new string of the bytes [b, e): empty unless b < e, b is before the end and on a lead
 * byte; an e at or past the end or not on a lead byte runs to the end of the text.
 * Borrows `s`, `b` and `e`. Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_utf8_extract(quarn_object *s, quarn_object *b,
                                                       quarn_object *e) QUARN_NOEXCEPT;

/* A new string of the bytes [b, e), empty when b >= e. b or e big or past size - 1 ends the
 * process with "String.extract: positions are not in range". Borrows `s`, `b` and `e`.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_lean_string_utf8_extract_fast(quarn_object *s, quarn_object *b,
                                                            quarn_object *e) QUARN_NOEXCEPT;

/* ---- comparison and hashing ------------------------------------------------------------ */

/* 1 if a and b hold the same bytes, else 0. Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_string_dec_eq(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* 1 if a sorts before b (unsigned bytes, then the shorter first), else 0. Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_string_dec_lt(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* The Ordering of a and b in the order of quarn_lean_string_dec_lt. Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_string_compare(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

/* 1 if the count bytes at start_a of a equal the count bytes at start_b of b, else 0.
 * A start or count that is a big number ends the process with "String memcmp: bounds are
 * not valid positions"; a range beyond either text with "String memcmp: range exceeds the
 * string". Borrows `a`, `b`, `start_a`, `start_b` and `count`. */
QUARN_API uint8_t quarn_lean_string_memcmp(quarn_object *a, quarn_object *b, quarn_object *start_a,
                                           quarn_object *start_b, quarn_object *count)
    QUARN_NOEXCEPT;

/* MurmurHash64A of the size - 1 text bytes with seed 11. Borrows `s`. */
QUARN_API uint64_t quarn_lean_string_hash(quarn_object *s) QUARN_NOEXCEPT;

/* The hash of the slice's bytes, equal to the hash of a string of those bytes. A start or
 * end that is a big number ends the process with "String.Slice bounds are not valid
 * positions"; end < start or end past the text with "String.Slice bounds exceed the
 * string". Borrows `slice`. */
QUARN_API uint64_t quarn_lean_slice_hash(quarn_object *slice) QUARN_NOEXCEPT;

/* 1 if the bytes of slice a sort before those of slice b, else 0; bounds checked as for
 * quarn_lean_slice_hash. Borrows `a` and `b`. */
QUARN_API uint8_t quarn_lean_slice_dec_lt(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_STRING_H */

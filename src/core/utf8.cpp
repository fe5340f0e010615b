// Well-formedness of UTF-8 is decided by a finite automaton run one byte at a time, with
// runs of ASCII skipped a word at a time. The automaton is the "shift" kind: each byte
// selects a 64-bit row that packs, for every state, the next state as a 6-bit field at the
// state's own bit offset, so a step is one table load (which does not depend on the state)
// and one shift (which does). That keeps the dependency chain at about one cycle a byte
// whatever the mix of character lengths, with no branch per character to mispredict.
#include "core/utf8.h"

#include <array>
#include <cstring>

namespace quarn::utf8 {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080u;

inline uint64_t load_word(const uint8_t *p) noexcept {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// The number of continuation bytes (10xxxxxx) among the eight bytes of w.
inline size_t continuation_bytes(uint64_t w) noexcept {
    uint64_t marks = w & ~(w << 1) & kHighBits;  // bit 7 set and bit 6 clear
    return static_cast<size_t>((marks >> 7) * 0x0101010101010101u >> 56);
}

// States, as bit offsets into a row. The error state is 0 and every row holds 0 there, so
// an error stays an error.
enum State : unsigned {
    kError = 0,
    kAccept = 6,    // between characters
    kNeed1 = 12,    // one more continuation byte
    kNeed2 = 18,    // two more
    kNeed3 = 24,    // three more
    kAfterE0 = 30,  // E0: next A0-BF (no overlong three-byte forms)
    kAfterED = 36,  // ED: next 80-9F (no surrogates)
    kAfterF0 = 42,  // F0: next 90-BF (no overlong four-byte forms)
    kAfterF4 = 48,  // F4: next 80-8F (nothing above U+10FFFF)
};

using Rows = std::array<uint64_t, 256>;

constexpr Rows make_rows() {
    Rows rows{};
    auto on = [&rows](State from, unsigned first, unsigned last, State to) {
        for (unsigned b = first; b <= last; ++b) rows[b] |= uint64_t{to} << from;
    };
    on(kAccept, 0x00, 0x7F, kAccept);
    on(kAccept, 0xC2, 0xDF, kNeed1);
    on(kAccept, 0xE0, 0xE0, kAfterE0);
    on(kAccept, 0xE1, 0xEC, kNeed2);
    on(kAccept, 0xED, 0xED, kAfterED);
    on(kAccept, 0xEE, 0xEF, kNeed2);
    on(kAccept, 0xF0, 0xF0, kAfterF0);
    on(kAccept, 0xF1, 0xF3, kNeed3);
    on(kAccept, 0xF4, 0xF4, kAfterF4);
    on(kNeed1, 0x80, 0xBF, kAccept);
    on(kNeed2, 0x80, 0xBF, kNeed1);
    on(kNeed3, 0x80, 0xBF, kNeed2);
    on(kAfterE0, 0xA0, 0xBF, kNeed1);
    on(kAfterED, 0x80, 0x9F, kNeed1);
    on(kAfterF0, 0x90, 0xBF, kNeed2);
    on(kAfterF4, 0x80, 0x8F, kNeed2);
    return rows;
}

constexpr Rows kRows = make_rows();

// Only the low six bits of `state` matter; the shift instruction ignores the rest, so the
// mask costs nothing.
inline uint64_t step(uint64_t state, uint8_t b) noexcept { return kRows[b] >> (state & 63); }

inline bool in_state(uint64_t state, State s) noexcept { return (state & 63) == s; }

// The byte-by-byte finish of a scan: from `start`, a character boundary, step over
// well-formed characters and stop at the first one that is not.
Utf8Prefix finish_bytewise(const char *bytes, size_t n, size_t start, size_t characters) noexcept {
    size_t i = start;
    while (i < n) {
        size_t k = well_formed_char_length(bytes, n, i);
        if (k == 0) break;
        i += k;
        ++characters;
    }
    return {i, characters};
}

// Scans n bytes with the automaton. Words are taken whole while the text is ASCII; other
// words are stepped through byte by byte, eight at a time, and only tested for an error at
// their end. On an error, or for the last few bytes, the scan goes back to the last
// character boundary and finishes byte by byte, which also tells exactly where the bad
// character starts. With kCount the characters are counted on the way: every byte that is
// not a continuation byte starts one.
template <bool kCount>
[[gnu::always_inline]] inline Utf8Prefix scan(const char *text, size_t n) noexcept {
    auto *p = reinterpret_cast<const uint8_t *>(text);
    size_t i = 0, characters = 0;
    uint64_t state = kAccept;
    while (n - i >= 8) {
        uint64_t w = load_word(p + i);
        if ((w & kHighBits) == 0 && in_state(state, kAccept)) {
            // A run of ASCII: whole words, four at a time while they last. Text that mixes
            // in other characters seldom has a whole word of ASCII, so this test is
            // predictable both ways.
            size_t run_start = i;
            i += 8;
            while (n - i >= 32) {
                uint64_t any = load_word(p + i) | load_word(p + i + 8) | load_word(p + i + 16) |
                               load_word(p + i + 24);
                if ((any & kHighBits) != 0) break;
                i += 32;
            }
            while (n - i >= 8 && (load_word(p + i) & kHighBits) == 0) i += 8;
            if (kCount) characters += i - run_start;
            continue;
        }
        uint64_t before = state;
#pragma GCC unroll 8
        for (unsigned k = 0; k < 64; k += 8) state = step(state, static_cast<uint8_t>(w >> k));
        if (in_state(state, kError)) {
            state = before;
            break;
        }
        if (kCount) characters += 8 - continuation_bytes(w);
        i += 8;
    }
    // i ends a word that left the automaton in `state`: at a boundary, or inside a character
    // whose lead byte is among the three bytes before i (and was counted).
    size_t boundary = i;
    if (!in_state(state, kAccept)) {
        do --boundary;
        while ((p[boundary] & 0xC0) == 0x80);
        if (kCount) --characters;
    }
    return finish_bytewise(text, n, boundary, characters);
}

constexpr std::array<uint8_t, 256> make_lead_steps() {
    std::array<uint8_t, 256> steps{};
    for (unsigned b = 0; b < 256; ++b) {
        steps[b] = (b & 0x80) == 0x00 ? 1
                 : (b & 0xE0) == 0xC0 ? 2
                 : (b & 0xF0) == 0xE0 ? 3
                 : (b & 0xF8) == 0xF0 ? 4
                 : (b & 0xFC) == 0xF8 ? 5
                 : (b & 0xFE) == 0xFC ? 6
                                      : 1;
    }
    return steps;
}

constexpr std::array<uint8_t, 256> kLeadSteps = make_lead_steps();

}  // namespace

size_t well_formed_char_length(const char *bytes, size_t n, size_t p) noexcept {
    auto *t = reinterpret_cast<const uint8_t *>(bytes);
    auto continuation = [&](size_t j) { return j < n && (t[j] & 0xC0) == 0x80; };
    uint32_t b = t[p];
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) return b >= 0xC2 && continuation(p + 1) ? 2 : 0;
    if ((b & 0xF0) == 0xE0) {
        if (!continuation(p + 1) || !continuation(p + 2)) return 0;
        uint32_t v = (b & 0x0F) << 12 | (t[p + 1] & 0x3Fu) << 6 | (t[p + 2] & 0x3Fu);
        if (v < 0x800 || (v >= 0xD800 && b != 0xEE && b != 0xEF)) return 0;
        return 3;
    }
    if ((b & 0xF8) == 0xF0) {
        if (!continuation(p + 1) || !continuation(p + 2) || !continuation(p + 3)) return 0;
        uint32_t v = (b & 0x07) << 18 | (t[p + 1] & 0x3Fu) << 12 | (t[p + 2] & 0x3Fu) << 6 |
                     (t[p + 3] & 0x3Fu);
        return v >= 0x10000 && v < 0x110000 ? 4 : 0;
    }
    return 0;
}

bool is_valid_utf8(const char *bytes, size_t n) noexcept {
    return scan<false>(bytes, n).bytes == n;
}

Utf8Prefix well_formed_prefix(const char *bytes, size_t n) noexcept { return scan<true>(bytes, n); }

size_t count_code_points(const char *text, size_t n) noexcept {
    auto *p = reinterpret_cast<const uint8_t *>(text);
    size_t i = 0, count = 0;
    while (i < n) {
        if (n - i >= 8 && (load_word(p + i) & kHighBits) == 0) {
            i += 8;
            count += 8;
            continue;
        }
        i += kLeadSteps[p[i]];
        ++count;
    }
    return count;
}

}  // namespace quarn::utf8

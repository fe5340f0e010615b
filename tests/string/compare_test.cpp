// Equality, order, ranges of bytes and hashes of strings and string slices.
#include <cstring>
#include <random>

#include "number/bignum.h"
#include "string/murmur_hash.h"
#include "strings.h"

namespace {

using namespace test_strings;

using CompareTest = kit::LiveObjectsTest;

TEST_F(CompareTest, EqualityLooksAtEveryByte) {
    quarn_object *a = str("h\xC3\xA9llo, world");
    quarn_object *b = str("h\xC3\xA9llo, world");
    quarn_object *c = str("h\xC3\xA9llo, worle");
    quarn_object *d = str("h\xC3\xA9llo, worl");
    EXPECT_EQ(quarn_lean_string_dec_eq(a, a), 1);
    EXPECT_EQ(quarn_lean_string_dec_eq(a, b), 1);
    EXPECT_EQ(quarn_lean_string_dec_eq(a, c), 0);
    EXPECT_EQ(quarn_lean_string_dec_eq(a, d), 0);
    EXPECT_EQ(quarn_lean_string_dec_eq(d, a), 0);
    // Bytes after a zero byte count too.
    quarn_object *z1 = str(std::string_view("a\0b", 3));
    quarn_object *z2 = str(std::string_view("a\0c", 3));
    EXPECT_EQ(quarn_lean_string_dec_eq(z1, z2), 0);
    EXPECT_EQ(quarn_lean_string_dec_lt(z1, z2), 1);
    for (quarn_object *s : {a, b, c, d, z1, z2}) {
        EXPECT_EQ(s->rc, 1);
        quarn_dec(s);
    }
}

TEST_F(CompareTest, OrderIsByUnsignedBytesThenLength) {
    struct Case {
        const char *a, *b;
        uint8_t ordering;  // 0 less, 1 equal, 2 greater
    } cases[] = {
        {"ab", "abc", 0},     {"abc", "ab", 2},  {"abc", "abc", 1}, {"", "", 1},
        {"", "a", 0},         {"b", "abc", 2},   {"z", "\xC3\xA9", 0} /* 0x7A < 0xC3 */,
        {"\xC3\xA9", "\xC3\xA8z", 2},
    };
    for (const Case &c : cases) {
        quarn_object *a = str(c.a), *b = str(c.b);
        EXPECT_EQ(quarn_lean_string_compare(a, b), c.ordering) << c.a << " " << c.b;
        EXPECT_EQ(quarn_lean_string_dec_lt(a, b), c.ordering == 0) << c.a << " " << c.b;
        quarn_object *sa = slice(a, quarn_box(0), quarn_box(std::strlen(c.a)));
        quarn_object *sb = slice(b, quarn_box(0), quarn_box(std::strlen(c.b)));
        EXPECT_EQ(quarn_lean_slice_dec_lt(sa, sb), c.ordering == 0) << c.a << " " << c.b;
        quarn_dec(sa);
        quarn_dec(sb);
    }
}

TEST_F(CompareTest, SlicesCompareTheirOwnBytes) {
    quarn_object *s = str("xxabcxx");
    quarn_inc(s);
    quarn_inc(s);
    quarn_object *abc = slice(s, quarn_box(2), quarn_box(5));
    quarn_object *ab = slice(s, quarn_box(2), quarn_box(4));
    quarn_object *empty = slice(s, quarn_box(7), quarn_box(7));
    EXPECT_EQ(quarn_lean_slice_dec_lt(ab, abc), 1);
    EXPECT_EQ(quarn_lean_slice_dec_lt(abc, ab), 0);
    EXPECT_EQ(quarn_lean_slice_dec_lt(abc, abc), 0);
    EXPECT_EQ(quarn_lean_slice_dec_lt(empty, ab), 1);
    EXPECT_EQ(s->rc, 3);
    quarn_dec(abc);
    quarn_dec(ab);
    quarn_dec(empty);
}

TEST_F(CompareTest, MemcmpComparesRanges) {
    quarn_object *a = str("hello world");
    quarn_object *b = str("say hello");
    EXPECT_EQ(quarn_lean_string_memcmp(a, b, quarn_box(0), quarn_box(4), quarn_box(5)), 1);
    EXPECT_EQ(quarn_lean_string_memcmp(a, b, quarn_box(0), quarn_box(4), quarn_box(0)), 1);
    EXPECT_EQ(quarn_lean_string_memcmp(a, b, quarn_box(1), quarn_box(4), quarn_box(4)), 0);
    EXPECT_EQ(quarn_lean_string_memcmp(a, b, quarn_box(11), quarn_box(9), quarn_box(0)), 1)
        << "an empty range at the end";
    quarn_dec(a);
    quarn_dec(b);
}

TEST(CompareDeathTest, MemcmpStopsOnBadRanges) {
    quarn_object *a = str("hello");
    quarn_object *b = str("hello world");
    quarn_object *big = quarn::number::make_one_digit(uint64_t{1} << 63, QUARN_SIGN_POSITIVE);
    EXPECT_INTERNAL_PANIC(quarn_lean_string_memcmp(a, b, big, quarn_box(0), quarn_box(1)),
                          "String memcmp: bounds are not valid positions");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_memcmp(a, b, quarn_box(0), big, quarn_box(1)),
                          "String memcmp: bounds are not valid positions");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_memcmp(a, b, quarn_box(0), quarn_box(0), big),
                          "String memcmp: bounds are not valid positions");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_memcmp(a, b, quarn_box(1), quarn_box(0), quarn_box(5)),
                          "String memcmp: range exceeds the string");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_memcmp(b, a, quarn_box(0), quarn_box(1), quarn_box(5)),
                          "String memcmp: range exceeds the string");
    quarn_dec(big);
    quarn_dec(a);
    quarn_dec(b);
}

// The hash function itself is checked against Python in utf8_test; here, what it is applied
// to: the text bytes without the terminator, or exactly the bytes of a slice.
TEST_F(CompareTest, HashesCoverTheTextBytesOnly) {
    std::mt19937 rng(11);
    for (size_t n = 0; n < 40; ++n) {
        std::string bytes;
        for (size_t i = 0; i < n; ++i) bytes += static_cast<char>(rng());
        quarn_object *s = str(bytes);
        uint64_t expected = quarn::string::murmur_hash64a(bytes.data(), bytes.size(), 11);
        EXPECT_EQ(quarn_lean_string_hash(s), expected) << n;
        quarn_object *longer = str("<<" + bytes + ">>>");
        quarn_object *sl = slice(longer, quarn_box(2), quarn_box(2 + n));
        EXPECT_EQ(quarn_lean_slice_hash(sl), expected) << n;
        quarn_dec(sl);
        quarn_dec(s);
    }
}

TEST(CompareDeathTest, SliceBoundsAreChecked) {
    quarn_object *s = str("hello");
    quarn_object *big = quarn::number::make_one_digit(uint64_t{1} << 63, QUARN_SIGN_POSITIVE);
    quarn_inc_n(s, 4);  // one reference for each of the five slices
    quarn_inc(big);     // two slices hold it
    quarn_object *good = slice(s, quarn_box(0), quarn_box(5));
    quarn_object *big_start = slice(s, big, quarn_box(1));
    quarn_object *big_end = slice(s, quarn_box(0), big);
    quarn_object *reversed = slice(s, quarn_box(3), quarn_box(2));
    quarn_object *too_long = slice(s, quarn_box(0), quarn_box(6));
    const char *not_valid = "String.Slice bounds are not valid positions";
    const char *exceed = "String.Slice bounds exceed the string";
    EXPECT_INTERNAL_PANIC(quarn_lean_slice_hash(big_start), not_valid);
    EXPECT_INTERNAL_PANIC(quarn_lean_slice_hash(big_end), not_valid);
    EXPECT_INTERNAL_PANIC(quarn_lean_slice_hash(reversed), exceed);
    EXPECT_INTERNAL_PANIC(quarn_lean_slice_hash(too_long), exceed);
    // Both arguments of the comparison are checked.
    EXPECT_INTERNAL_PANIC(quarn_lean_slice_dec_lt(good, too_long), exceed);
    EXPECT_INTERNAL_PANIC(quarn_lean_slice_dec_lt(big_end, good), not_valid);
    for (quarn_object *o : {good, big_start, big_end, reversed, too_long}) quarn_dec(o);
}

}  // namespace

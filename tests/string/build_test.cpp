// Building strings: growth in place and by copy, ownership of every argument, conversions
// to and from characters and bytes, and the limits of size arithmetic.
#include <cstdint>
#include <cstring>
#include <vector>

#include "object/heartbeat.h"
#include "strings.h"

namespace {

using namespace test_strings;

using BuildTest = kit::LiveObjectsTest;

quarn_object *char_list(std::initializer_list<uint32_t> chars) {
    std::vector<quarn_object *> items;
    for (uint32_t c : chars) items.push_back(quarn_box(c));
    return kit_list(items.size(), items.data());
}

std::vector<uint32_t> list_chars(const quarn_object *list) {
    std::vector<uint32_t> out;
    for (; !quarn_is_scalar(list); list = quarn_ctor_get(list, 1)) {
        EXPECT_EQ(quarn_ptr_tag(list), 1);
        out.push_back(static_cast<uint32_t>(quarn_unbox(quarn_ctor_get(list, 0))));
    }
    return out;
}

TEST_F(BuildTest, PushOntoAFullExclusiveStringMovesItToALargerObject) {
    quarn_object *s = str("abc");
    ASSERT_EQ(fields(s)->capacity, 4u);
    quarn_object *r = quarn_lean_string_push(s, 0xE9);
    EXPECT_NE(r, s);
    // The new block (size word, 32 bytes of string header, capacity) is the smallest power
    // of two holding twice the bytes in use plus the push reserve: 2 * (4 + 5) + 40 -> 64.
    EXPECT_EQ(fields(r)->capacity, 64u - 40u);
    EXPECT_EQ(fields(r)->size, 6u);
    EXPECT_EQ(fields(r)->length, 4u);
    EXPECT_EQ(text(r), "abc\xC3\xA9");
    EXPECT_EQ(fields(r)->data[5], '\0');
    // Room for five more bytes now: the next pushes stay in the same object.
    quarn_object *again = quarn_lean_string_push(r, 'x');
    EXPECT_EQ(again, r);
    EXPECT_EQ(text(again), "abc\xC3\xA9x");
    quarn_dec(again);
}

TEST_F(BuildTest, PushEncodesEveryLength) {
    struct Case {
        uint32_t c;
        const char *bytes;
    } cases[] = {{0x7F, "\x7F"},         {0x80, "\xC2\x80"},         {0x7FF, "\xDF\xBF"},
                 {0x800, "\xE0\xA0\x80"}, {0xFFFF, "\xEF\xBF\xBF"},   {0x10000, "\xF0\x90\x80\x80"},
                 {0x10FFFF, "\xF4\x8F\xBF\xBF"}};
    quarn_object *s = str("");
    std::string expected;
    for (const Case &c : cases) {
        s = quarn_lean_string_push(s, c.c);
        expected += c.bytes;
        EXPECT_EQ(text(s), expected);
        EXPECT_EQ(fields(s)->data[fields(s)->size - 1], '\0');
    }
    EXPECT_EQ(fields(s)->length, 7u);
    // The inline fast path writes the same bytes, and falls back for everything else.
    s = quarn_string_push(s, 'q');
    s = quarn_string_push(s, 0x20AC);
    EXPECT_EQ(text(s), expected + "q\xE2\x82\xAC");
    EXPECT_EQ(fields(s)->length, 9u);
    quarn_dec(s);
}

// A string that is not exclusive (shared, multi-threaded or persistent) is never written:
// push and append copy it into a new object with twice the room and drop one reference.
TEST_F(BuildTest, SharedStringsAreCopiedWithRoomToSpare) {
    quarn_object *s = str("hello");
    quarn_inc(s);
    quarn_object *pushed = quarn_lean_string_push(s, '!');
    EXPECT_NE(pushed, s);
    EXPECT_EQ(s->rc, 1);
    EXPECT_EQ(text(s), "hello");
    EXPECT_EQ(text(pushed), "hello!");
    EXPECT_EQ(fields(pushed)->capacity, 2u * (6u + 5u));
    quarn_dec(pushed);

    quarn_object *t = str("++");
    quarn_inc(s);
    quarn_object *appended = quarn_lean_string_append(s, t);
    EXPECT_EQ(s->rc, 1);
    EXPECT_EQ(text(appended), "hello++");
    EXPECT_EQ(fields(appended)->capacity, 2u * (6u + 3u - 1u));
    EXPECT_EQ(fields(appended)->length, 7u);
    quarn_dec(appended);

    quarn_mark_mt(s);
    quarn_object *from_mt = quarn_lean_string_push(s, '?');
    EXPECT_NE(from_mt, s);
    EXPECT_EQ(text(from_mt), "hello?");
    quarn_dec(from_mt);  // s's last reference went with the push

    quarn_object *persistent = str("const");
    quarn_mark_persistent(persistent);
    quarn_object *copy = quarn_lean_string_push(persistent, 's');
    EXPECT_NE(copy, persistent);
    EXPECT_EQ(text(persistent), "const");
    quarn_dec(copy);
    persistent->rc = 1;  // hand it back to the counter so it can be freed
    quarn_dec(persistent);
    quarn_dec(t);
}

TEST_F(BuildTest, AppendGrowsExclusiveStringsByTheirOwnCapacity) {
    quarn_object *s = str("abc");       // size 4, capacity 4
    quarn_object *t = str("\xE2\x82\xAC!");  // 4 bytes, 2 characters
    quarn_object *r = quarn_lean_string_append(s, t);
    EXPECT_EQ(fields(r)->capacity, 4u + 4u + 4u);
    EXPECT_EQ(fields(r)->size, 8u);
    EXPECT_EQ(fields(r)->length, 5u);
    EXPECT_EQ(text(r), "abc\xE2\x82\xAC!");
    quarn_object *same = quarn_lean_string_append(r, t);  // 8 + 4 <= 12: in place
    EXPECT_EQ(same, r);
    EXPECT_EQ(text(same), "abc\xE2\x82\xAC!\xE2\x82\xAC!");
    EXPECT_EQ(fields(same)->length, 7u);
    EXPECT_EQ(t->rc, 1) << "the second string is borrowed";
    quarn_object *empty = str("");
    EXPECT_EQ(quarn_lean_string_append(same, empty), same);
    EXPECT_EQ(fields(same)->size, 12u);
    quarn_dec(empty);
    quarn_dec(same);
    quarn_dec(t);
}

TEST_F(BuildTest, ASharedStringCanBeAppendedToItself) {
    quarn_object *s = str("ab\xC3\xA9");
    quarn_inc(s);
    quarn_object *r = quarn_lean_string_append(s, s);
    EXPECT_EQ(text(r), "ab\xC3\xA9" "ab\xC3\xA9");
    EXPECT_EQ(fields(r)->length, 6u);
    EXPECT_EQ(s->rc, 1);
    quarn_dec(r);
    quarn_dec(s);
}

TEST(BuildDeathTest, AnExclusiveStringAppendedToItselfStops) {
    EXPECT_INTERNAL_PANIC(
        {
            quarn_object *s = str("ab");
            quarn_lean_string_append(s, s);
        },
        "lean_string_append: an exclusive string appended to itself");
}

// A string object whose size fields come close to the end of the address space, never
// read past its header: growth must refuse it before touching memory.
struct HugeString {
    quarn_string_object object;
    static quarn_object *make(int32_t rc, size_t size, size_t capacity) {
        static HugeString h;
        h.object.header = quarn_object{rc, 0, 0, QUARN_TAG_STRING};
        h.object.size = size;
        h.object.capacity = capacity;
        h.object.length = 0;
        return &h.object.header;
    }
};

TEST(BuildDeathTest, CapacityArithmeticThatOverflowsStops) {
    // Exclusive: size + 5 + capacity wraps.
    size_t half = SIZE_MAX / 2 + 2;
    EXPECT_INTERNAL_PANIC(quarn_lean_string_push(HugeString::make(1, half, half), 'a'),
                          "integer overflow in runtime computation");
    // Shared: 2 * (size + 5) wraps.
    EXPECT_INTERNAL_PANIC(quarn_lean_string_push(HugeString::make(2, half - 2, half - 2), 'a'),
                          "integer overflow in runtime computation");
    // Exclusive: size + extra wraps before the capacity is even looked at.
    quarn_object *t = str("tail");
    quarn_object *huge = HugeString::make(1, SIZE_MAX - 1, SIZE_MAX - 1);
    EXPECT_INTERNAL_PANIC(quarn_lean_string_append(huge, t),
                          "integer overflow in runtime computation");
    quarn_dec(t);
    // Representable, but beyond the largest signed allocation size.
    size_t big = (size_t{1} << 62) + (size_t{1} << 60);
    EXPECT_INTERNAL_PANIC(quarn_lean_string_push(HugeString::make(1, big, big), 'a'),
                          "out of memory");
}

TEST_F(BuildTest, CharactersToStringAndBack) {
    quarn_object *chars = char_list({'h', 0xE9, 0x20AC, 0x1F600, 0});
    quarn_object *s = quarn_lean_string_mk(chars);
    EXPECT_EQ(text(s), std::string_view("h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\0", 11));
    EXPECT_EQ(fields(s)->size, 12u);
    EXPECT_EQ(fields(s)->capacity, 12u);
    EXPECT_EQ(fields(s)->length, 5u);
    uint64_t before = quarn::object::heartbeats;
    quarn_object *back = quarn_lean_string_data(s);  // consumes s
    EXPECT_EQ(quarn::object::heartbeats, before + 5) << "one heartbeat a cell";
    EXPECT_EQ(list_chars(back), (std::vector<uint32_t>{'h', 0xE9, 0x20AC, 0x1F600, 0}));
    quarn_dec(back);

    EXPECT_EQ(quarn_lean_string_data(str("")), quarn_box(0));
    quarn_object *empty = quarn_lean_string_mk(quarn_box(0));
    EXPECT_EQ(fields(empty)->size, 1u);
    EXPECT_EQ(fields(empty)->length, 0u);
    quarn_dec(empty);
}

// Bytes that do not decode become characters of their own value, one byte each; a lead
// byte whose character would run past the end does too.
TEST_F(BuildTest, DataOfUncheckedBytes) {
    quarn_object *bytes = byte_array("a\x80\xC0\x80\xED\xA0\x80\xE2\x82");
    quarn_object *s = quarn_lean_string_from_utf8_unchecked(bytes);
    quarn_object *list = quarn_lean_string_data(s);
    // C0 80 decodes to nothing (overlong); ED A0 80 is a surrogate.
    EXPECT_EQ(list_chars(list),
              (std::vector<uint32_t>{'a', 0x80, 0xC0, 0x80, 0xED, 0xA0, 0x80, 0xE2, 0x82}));
    quarn_dec(list);
}

TEST_F(BuildTest, DecimalDigitsOfAWord) {
    struct Case {
        size_t n;
        const char *digits;
    } cases[] = {{0, "0"}, {7, "7"}, {10, "10"}, {4294967296u, "4294967296"},
                 {UINT64_MAX, "18446744073709551615"}};
    for (const Case &c : cases) {
        quarn_object *s = quarn_lean_string_of_usize(c.n);
        EXPECT_EQ(text(s), c.digits);
        EXPECT_EQ(fields(s)->length, std::strlen(c.digits));
        EXPECT_EQ(fields(s)->capacity, std::strlen(c.digits) + 1);
        quarn_dec(s);
    }
}

TEST_F(BuildTest, BytesInAndOut) {
    quarn_object *s = str("h\xC3\xA9llo");
    quarn_object *bytes = quarn_lean_string_to_utf8(s);
    auto *a = reinterpret_cast<quarn_sarray_object *>(bytes);
    EXPECT_EQ(quarn_ptr_tag(bytes), QUARN_TAG_SCALAR_ARRAY);
    EXPECT_EQ(quarn_ptr_other(bytes), 1);
    EXPECT_EQ(a->size, 6u);
    EXPECT_EQ(a->capacity, 6u);
    EXPECT_EQ(std::string_view(reinterpret_cast<char *>(a->data), a->size), "h\xC3\xA9llo");
    EXPECT_EQ(s->rc, 1) << "to_utf8 borrows its string";
    EXPECT_EQ(quarn_lean_string_validate_utf8(bytes), 1);
    EXPECT_EQ(bytes->rc, 1) << "validate_utf8 borrows its bytes";
    quarn_object *back = quarn_lean_string_from_utf8_unchecked(bytes);  // consumes bytes
    EXPECT_EQ(text(back), text(s));
    EXPECT_EQ(fields(back)->length, 5u);
    EXPECT_EQ(fields(back)->capacity, 7u);
    quarn_dec(back);
    quarn_dec(s);

    // No validation: F8 steps five bytes when counted.
    quarn_object *odd = quarn_lean_string_from_utf8_unchecked(byte_array("\xF8" "AAAAA"));
    EXPECT_EQ(fields(odd)->length, 2u);
    quarn_dec(odd);
}

TEST_F(BuildTest, ValidationOfByteArrays) {
    for (const char *bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        quarn_object *bytes = byte_array(bad);
        EXPECT_EQ(quarn_lean_string_validate_utf8(bytes), 0) << hex(bad);
        quarn_dec(bytes);
    }
    for (std::string_view good : {std::string_view("\xEF\xBF\xBD"), std::string_view(""),
                                  std::string_view("\0\0\0\0\0\0\0\0\0", 9)}) {
        quarn_object *bytes = byte_array(good);
        EXPECT_EQ(quarn_lean_string_validate_utf8(bytes), 1) << hex(good);
        quarn_dec(bytes);
    }
}

}  // namespace

// Byte positions over text that mixes one- to four-byte characters: moving, reading,
// replacing and cutting, with the default, unchanged, Lean-level panic and fatal outcome
// of each primitive's bad positions.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "number/bignum.h"
#include "quarn/nat.h"
#include "core/utf8.h"
#include "strings.h"

namespace {

using namespace test_strings;

// "a", U+00E9, U+20AC, U+1F600, "b": characters start at 0, 1, 3, 6 and 10; 11 bytes.
constexpr std::string_view kMixed = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "b";
const std::vector<size_t> kStarts = {0, 1, 3, 6, 10};
const std::vector<uint32_t> kChars = {'a', 0xE9, 0x20AC, 0x1F600, 'b'};

constexpr size_t kLargestSmallNat = (size_t{1} << 63) - 1;

class NavigationTest : public kit::LiveObjectsTest {
protected:
    void SetUp() override {
        kit::LiveObjectsTest::SetUp();
        s_ = str(kMixed);
        big_ = quarn::number::make_one_digit(uint64_t{1} << 63, QUARN_SIGN_POSITIVE);
    }
    void TearDown() override {
        EXPECT_EQ(s_->rc, 1) << "navigation borrows the string";
        quarn_dec(s_);
        quarn_dec(big_);
        kit::LiveObjectsTest::TearDown();
    }
    quarn_object *s_ = nullptr;
    quarn_object *big_ = nullptr;  // the position 2^63, beyond every string
};

size_t pos(quarn_object *p) {
    EXPECT_TRUE(quarn_is_scalar(p));
    return quarn_unbox(p);
}

bool is_start(size_t i) { return std::find(kStarts.begin(), kStarts.end(), i) != kStarts.end(); }

TEST_F(NavigationTest, ForwardAndBackOverEveryCharacter) {
    std::vector<uint32_t> forward;
    for (size_t i = 0; i < kMixed.size(); i = pos(quarn_lean_string_utf8_next(s_, quarn_box(i))))
        forward.push_back(quarn_lean_string_utf8_get(s_, quarn_box(i)));
    EXPECT_EQ(forward, kChars);

    std::vector<size_t> backward;
    for (size_t i = kMixed.size(); i > 0;) {
        i = pos(quarn_lean_string_utf8_prev(s_, quarn_box(i)));
        backward.push_back(i);
    }
    EXPECT_EQ(backward, (std::vector<size_t>{10, 6, 3, 1, 0}));

    // From inside a character: next moves one byte, prev goes to its start.
    for (size_t i = 0; i < kMixed.size(); ++i) {
        if (is_start(i)) continue;
        EXPECT_EQ(pos(quarn_lean_string_utf8_next(s_, quarn_box(i))), i + 1) << i;
        EXPECT_EQ(pos(quarn_lean_string_utf8_next_fast(s_, quarn_box(i))), i + 1) << i;
        size_t start = *std::prev(std::upper_bound(kStarts.begin(), kStarts.end(), i));
        EXPECT_EQ(pos(quarn_lean_string_utf8_prev(s_, quarn_box(i + 1))), start) << i;
    }
    for (size_t k = 0; k < kStarts.size(); ++k) {
        size_t next = k + 1 < kStarts.size() ? kStarts[k + 1] : kMixed.size();
        EXPECT_EQ(pos(quarn_lean_string_utf8_next_fast(s_, quarn_box(kStarts[k]))), next);
    }
}

TEST_F(NavigationTest, PositionsAtAndBeyondTheEnd) {
    size_t end = kMixed.size();
    EXPECT_EQ(pos(quarn_lean_string_utf8_next(s_, quarn_box(end))), end + 1);
    EXPECT_EQ(pos(quarn_lean_string_utf8_next(s_, quarn_box(end + 40))), end + 41);
    EXPECT_EQ(pos(quarn_lean_string_utf8_prev(s_, quarn_box(0))), 0u);
    // Beyond the end, prev does not look at bytes.
    EXPECT_EQ(pos(quarn_lean_string_utf8_prev(s_, quarn_box(end + 1))), end);
    EXPECT_EQ(pos(quarn_lean_string_utf8_prev(s_, quarn_box(kLargestSmallNat))),
              kLargestSmallNat - 1);

    // The next position of the largest scalar is the first big Nat.
    quarn_object *next = quarn_lean_string_utf8_next(s_, quarn_box(kLargestSmallNat));
    ASSERT_FALSE(quarn_is_scalar(next));
    EXPECT_EQ(quarn_ptr_tag(next), QUARN_TAG_BIGNUM);
    EXPECT_TRUE(quarn::number::equal_values(reinterpret_cast<quarn_bignum_object *>(next),
                                            reinterpret_cast<quarn_bignum_object *>(big_)));
    quarn_dec(next);

    // Big positions move on big numbers: 2^63 + 1 forward, 2^63 - 1 (a scalar again) back.
    quarn_object *after_big = quarn_lean_string_utf8_next(s_, big_);
    quarn_object *expected = quarn_lean_nat_add(big_, quarn_box(1));
    ASSERT_FALSE(quarn_is_scalar(after_big));
    EXPECT_EQ(quarn_lean_nat_dec_eq(after_big, expected), 1);
    EXPECT_EQ(pos(quarn_lean_string_utf8_prev(s_, big_)), kLargestSmallNat);
    quarn_object *back = quarn_lean_string_utf8_prev(s_, after_big);
    EXPECT_EQ(quarn_lean_nat_dec_eq(back, big_), 1);
    for (quarn_object *o : {after_big, expected, back}) quarn_dec(o);

    for (size_t i = 0; i <= end + 1; ++i) {
        EXPECT_EQ(quarn_lean_string_utf8_at_end(s_, quarn_box(i)), i >= end) << i;
        EXPECT_EQ(quarn_lean_string_is_valid_pos(s_, quarn_box(i)), is_start(i) || i == end) << i;
    }
    EXPECT_EQ(quarn_lean_string_utf8_at_end(s_, big_), 1);
    EXPECT_EQ(quarn_lean_string_is_valid_pos(s_, big_), 0);
    EXPECT_EQ(big_->rc, 1) << "positions are borrowed";
}

TEST_F(NavigationTest, CharacterReadsAndTheirDefaults) {
    for (size_t k = 0; k < kStarts.size(); ++k) {
        quarn_object *p = quarn_box(kStarts[k]);
        EXPECT_EQ(quarn_lean_string_utf8_get(s_, p), kChars[k]);
        EXPECT_EQ(quarn_lean_string_utf8_get_fast(s_, p), kChars[k]);
        EXPECT_EQ(quarn_lean_string_utf8_get_bang(s_, p), kChars[k]);
        quarn_object *some = quarn_lean_string_utf8_get_opt(s_, p);
        ASSERT_FALSE(quarn_is_scalar(some));
        EXPECT_EQ(quarn_ptr_tag(some), 1);
        EXPECT_EQ(quarn_ctor_get(some, 0), quarn_box(kChars[k]));
        quarn_dec(some);
    }
    // A continuation byte does not decode; neither does anything at or past the end.
    for (quarn_object *p : {quarn_box(2), quarn_box(9), quarn_box(kMixed.size()),
                            quarn_box(kMixed.size() + 5), big_}) {
        EXPECT_EQ(quarn_lean_string_utf8_get(s_, p), uint32_t{'A'});
        EXPECT_EQ(quarn_lean_string_utf8_get_opt(s_, p), quarn_box(0));
    }
    EXPECT_EQ(quarn_lean_string_utf8_get_fast(s_, quarn_box(2)), uint32_t{'A'});
}

// Unchecked bytes can hold lead bytes whose character runs past the end, overlong forms
// and surrogates: reads give 'A' there rather than reading beyond the text.
TEST_F(NavigationTest, ReadsOfUncheckedBytes) {
    quarn_object *odd =
        quarn_lean_string_from_utf8_unchecked(byte_array("\xC1\x81\xED\xA0\x80\xF0\x9F"));
    for (size_t i : {0, 2, 5})
        EXPECT_EQ(quarn_lean_string_utf8_get(odd, quarn_box(i)), uint32_t{'A'}) << i;
    quarn_dec(odd);
}

TEST_F(NavigationTest, GetBangReportsEachFailure) {
    setenv("LEAN_BACKTRACE", "0", 1);
    for (quarn_object *p : {quarn_box(2), quarn_box(kMixed.size()), big_}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(quarn_lean_string_utf8_get_bang(s_, p), uint32_t{'A'});
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Error: invalid `String.Pos` at `String.get!`\n");
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(quarn_lean_string_utf8_get_bang(s_, quarn_box(1)), 0xE9u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "no report on success";
    unsetenv("LEAN_BACKTRACE");
}

TEST_F(NavigationTest, BytesUpToAndIncludingTheTerminator) {
    for (size_t i = 0; i < kMixed.size(); ++i) {
        auto byte = static_cast<uint8_t>(kMixed[i]);
        EXPECT_EQ(quarn_lean_string_get_byte_fast(s_, quarn_box(i)), byte);
        EXPECT_EQ(quarn_lean_string_uget_byte_fast(s_, i), byte);
    }
    EXPECT_EQ(quarn_lean_string_get_byte_fast(s_, quarn_box(kMixed.size())), 0);
    EXPECT_EQ(quarn_lean_string_uget_byte_fast(s_, kMixed.size()), 0);
}

TEST_F(NavigationTest, QueriesOfSize) {
    EXPECT_EQ(quarn_lean_string_length(s_), quarn_box(5));
    EXPECT_EQ(quarn_lean_string_utf8_byte_size(s_), quarn_box(11));
}

TEST(NavigationDeathTest, FastVariantsStopOutOfRange) {
    quarn_object *s = str("h\xC3\xA9");  // 3 bytes
    EXPECT_INTERNAL_PANIC(quarn_lean_string_utf8_next_fast(s, quarn_box(3)),
                          "String.Pos.Raw.next': position is not in range");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_utf8_get_fast(s, quarn_box(3)),
                          "String.Pos.Raw.get': position is not in range");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_get_byte_fast(s, quarn_box(4)),
                          "String.getUTF8Byte: index out of range");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_uget_byte_fast(s, 4),
                          "String.ugetUTF8Byte: index out of range");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_utf8_extract_fast(s, quarn_box(0), quarn_box(4)),
                          "String.extract: positions are not in range");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_utf8_extract_fast(s, quarn_box(4), quarn_box(1)),
                          "String.extract: positions are not in range");
    quarn_object *big = quarn::number::make_one_digit(uint64_t{1} << 63, QUARN_SIGN_POSITIVE);
    EXPECT_INTERNAL_PANIC(quarn_lean_string_utf8_next_fast(s, big),
                          "String.Pos.Raw.next': position is not in range");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_utf8_get_fast(s, big),
                          "String.Pos.Raw.get': position is not in range");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_get_byte_fast(s, big),
                          "String.getUTF8Byte: index out of range");
    EXPECT_INTERNAL_PANIC(quarn_lean_string_utf8_extract_fast(s, quarn_box(0), big),
                          "String.extract: positions are not in range");
    quarn_dec(big);
    quarn_dec(s);
}

TEST(NavigationDeathTest, PrevWithoutALeadByteStops) {
    quarn_object *s = quarn_lean_string_from_utf8_unchecked(byte_array("\x80\x80"));
    EXPECT_INTERNAL_PANIC(quarn_lean_string_utf8_prev(s, quarn_box(2)),
                          "String.Pos.Raw.prev: string does not start with a lead byte");
    quarn_dec(s);
}

TEST_F(NavigationTest, SetInPlaceOnlyForAnExclusiveAsciiPair) {
    quarn_object *s = str("abc");
    quarn_object *r = quarn_lean_string_utf8_set(s, quarn_box(1), 'X');
    EXPECT_EQ(r, s);
    EXPECT_EQ(text(r), "aXc");

    r = quarn_lean_string_utf8_set(r, quarn_box(1), 0x20AC);  // the old object is released
    EXPECT_EQ(text(r), "a\xE2\x82\xAC" "c");
    EXPECT_EQ(fields(r)->size, 6u);
    EXPECT_EQ(fields(r)->capacity, 6u);
    EXPECT_EQ(fields(r)->length, 3u);

    // Three bytes replaced by one.
    quarn_object *shrunk = quarn_lean_string_utf8_set(r, quarn_box(1), 'b');
    EXPECT_EQ(text(shrunk), "abc");
    EXPECT_EQ(fields(shrunk)->length, 3u);

    // Shared: a copy, even for ASCII over ASCII.
    quarn_inc(shrunk);
    quarn_object *copy = quarn_lean_string_utf8_set(shrunk, quarn_box(0), 'z');
    EXPECT_NE(copy, shrunk);
    EXPECT_EQ(text(copy), "zbc");
    EXPECT_EQ(text(shrunk), "abc");
    EXPECT_EQ(shrunk->rc, 1);
    quarn_dec(copy);
    quarn_dec(shrunk);
}

TEST_F(NavigationTest, SetLeavesBadPositionsAlone) {
    quarn_inc(s_);
    for (quarn_object *p : {quarn_box(2), quarn_box(9), quarn_box(kMixed.size()), big_}) {
        EXPECT_EQ(quarn_lean_string_utf8_set(s_, p, 'Z'), s_);
        EXPECT_EQ(text(s_), kMixed);
    }
    EXPECT_EQ(s_->rc, 2);
    quarn_dec(s_);
    // Each character of the mixed text replaced by each length.
    for (size_t k = 0; k < kStarts.size(); ++k)
        for (uint32_t c : {uint32_t{'q'}, 0xFFu, 0x4E2Du, 0x10348u}) {
            quarn_inc(s_);
            quarn_object *r = quarn_lean_string_utf8_set(s_, quarn_box(kStarts[k]), c);
            std::vector<uint32_t> expected = kChars;
            expected[k] = c;
            std::vector<uint32_t> got;
            for (size_t i = 0; i < text(r).size();
                 i = pos(quarn_lean_string_utf8_next(r, quarn_box(i))))
                got.push_back(quarn_lean_string_utf8_get(r, quarn_box(i)));
            EXPECT_EQ(got, expected);
            EXPECT_EQ(fields(r)->length, 5u);
            quarn_dec(r);
        }
}

// A lead byte at the very end of unchecked bytes announces more bytes than there are: the
// replacement covers what is left and reads nothing beyond the text.
TEST_F(NavigationTest, SetOverATruncatedCharacterStaysInsideTheText) {
    quarn_object *s = quarn_lean_string_from_utf8_unchecked(byte_array("ab\xF0"));
    quarn_object *r = quarn_lean_string_utf8_set(s, quarn_box(2), 'c');
    EXPECT_EQ(text(r), "abc");
    EXPECT_EQ(fields(r)->size, 4u);
    quarn_dec(r);
}

TEST_F(NavigationTest, ExtractRunsBadEndsToTheEnd) {
    quarn_object *hello = str("h\xC3\xA9llo");
    auto extract = [&](quarn_object *b, quarn_object *e) {
        quarn_object *r = quarn_lean_string_utf8_extract(hello, b, e);
        std::string out(text(r));
        EXPECT_EQ(fields(r)->length, quarn::utf8::count_code_points(out.data(), out.size()));
        EXPECT_EQ(fields(r)->capacity, out.size() + 1);
        quarn_dec(r);
        return out;
    };
    EXPECT_EQ(extract(quarn_box(0), quarn_box(2)), "h\xC3\xA9llo") << "an end inside a character";
    EXPECT_EQ(extract(quarn_box(1), quarn_box(3)), "\xC3\xA9");
    EXPECT_EQ(extract(quarn_box(3), quarn_box(6)), "llo");
    EXPECT_EQ(extract(quarn_box(3), quarn_box(60)), "llo");
    EXPECT_EQ(extract(quarn_box(3), big_), "llo");
    EXPECT_EQ(extract(quarn_box(2), quarn_box(5)), "") << "a start inside a character";
    EXPECT_EQ(extract(quarn_box(3), quarn_box(3)), "");
    EXPECT_EQ(extract(quarn_box(4), quarn_box(3)), "");
    EXPECT_EQ(extract(quarn_box(6), quarn_box(9)), "") << "a start at the end";
    EXPECT_EQ(extract(big_, big_), "");
    EXPECT_EQ(hello->rc, 1);
    quarn_dec(hello);
}

TEST_F(NavigationTest, ExtractFastTakesBytesAsGiven) {
    auto extract = [&](size_t b, size_t e) {
        quarn_object *r = quarn_lean_string_utf8_extract_fast(s_, quarn_box(b), quarn_box(e));
        std::string out(text(r));
        quarn_dec(r);
        return out;
    };
    EXPECT_EQ(extract(1, 6), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(extract(0, kMixed.size()), kMixed);
    EXPECT_EQ(extract(6, 3), "");
    EXPECT_EQ(extract(kMixed.size(), kMixed.size()), "");
}

}  // namespace

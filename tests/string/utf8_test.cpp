// Well-formedness, lossy decoding and counting of UTF-8, against Python's codec (the corpus
// of make_utf8_corpus.py) and against the byte-by-byte definition.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "string/lossy.h"
#include "string/murmur_hash.h"
#include "core/utf8.h"
#include "strings.h"

namespace {

using namespace test_strings;
using quarn::string::decode_lossy;
using quarn::utf8::is_valid_utf8;
using quarn::utf8::well_formed_char_length;
using quarn::utf8::well_formed_prefix;

struct CorpusCase {
    std::string input;
    bool valid;
    std::string lossy;
    size_t lossy_length;
    uint64_t hash;
};

std::vector<CorpusCase> read_corpus() {
    const char *folder = std::getenv("QUARN_TEST_DATA");
    std::string path = std::string(folder ? folder : "tests/string") + "/utf8_corpus.txt";
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::vector<CorpusCase> cases;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string input, lossy, hash;
        int valid;
        size_t length;
        fields >> input >> valid >> lossy >> length >> hash;
        cases.push_back({from_hex(input), valid == 1, from_hex(lossy), length,
                         std::stoull(hash, nullptr, 16)});
    }
    return cases;
}

const std::vector<CorpusCase> &corpus() {
    static const std::vector<CorpusCase> cases = read_corpus();
    return cases;
}

// The byte-by-byte definition of the longest well-formed prefix.
quarn::utf8::Utf8Prefix bytewise_prefix(std::string_view bytes) {
    size_t i = 0, characters = 0;
    while (i < bytes.size()) {
        size_t k = well_formed_char_length(bytes.data(), bytes.size(), i);
        if (k == 0) break;
        i += k;
        ++characters;
    }
    return {i, characters};
}

// Decodes through the entry point other subsystems use, and checks the result's fields.
std::string lossy_text(std::string_view bytes, size_t *length) {
    quarn_object *s = decode_lossy(bytes.data(), bytes.size());
    std::string out(text(s));
    *length = fields(s)->length;
    EXPECT_LE(fields(s)->size, fields(s)->capacity);
    EXPECT_EQ(fields(s)->data[fields(s)->size - 1], '\0');
    quarn_dec(s);
    return out;
}

using Utf8Test = kit::LiveObjectsTest;

TEST_F(Utf8Test, CorpusAgreesWithPython) {
    ASSERT_GT(corpus().size(), 1000u);
    for (const CorpusCase &c : corpus()) {
        SCOPED_TRACE(hex(c.input));
        EXPECT_EQ(is_valid_utf8(c.input.data(), c.input.size()), c.valid);
        quarn_object *bytes = byte_array(c.input);
        EXPECT_EQ(quarn_lean_string_validate_utf8(bytes), c.valid);
        quarn_dec(bytes);
        size_t length;
        EXPECT_EQ(hex(lossy_text(c.input, &length)), hex(c.lossy));
        EXPECT_EQ(length, c.lossy_length);
        EXPECT_EQ(quarn::string::murmur_hash64a(c.input.data(), c.input.size()), c.hash);
    }
}

// The word-at-a-time paths see each case at every alignment and after text that leaves the
// scan inside a character at word boundaries. ASCII or well-formed text around a case
// changes neither its verdict nor its decoding.
TEST_F(Utf8Test, CorpusAgreesAtEveryAlignment) {
    const std::string fillers[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    for (const CorpusCase &c : corpus()) {
        for (const std::string &filler : fillers) {
            std::string before;
            for (size_t k = 0; k < 40; k += filler.size() == 1 ? 3 : 1) {
                std::string input = before + c.input + std::string(k % 11, 'z');
                SCOPED_TRACE(hex(input));
                ASSERT_EQ(is_valid_utf8(input.data(), input.size()), c.valid);
                size_t length;
                std::string expected = before + c.lossy + std::string(k % 11, 'z');
                ASSERT_EQ(hex(lossy_text(input, &length)), hex(expected));
                before += filler;
            }
        }
    }
}

// The automaton agrees with the byte-by-byte definition on every sequence of three bytes
// and on every four-byte sequence from a lead byte over bytes at the edges of each range,
// placed inside words and across word boundaries.
TEST_F(Utf8Test, ScanAgreesWithTheDefinitionExhaustively) {
    auto check = [](const char *buffer, size_t n) {
        std::string_view bytes(buffer, n);
        quarn::utf8::Utf8Prefix fast = well_formed_prefix(buffer, n);
        quarn::utf8::Utf8Prefix slow = bytewise_prefix(bytes);
        if (fast.bytes != slow.bytes || fast.characters != slow.characters ||
            is_valid_utf8(buffer, n) != (slow.bytes == n)) {
            ADD_FAILURE() << hex(bytes) << ": scan " << fast.bytes << "/" << fast.characters
                          << ", definition " << slow.bytes << "/" << slow.characters;
            return false;
        }
        return true;
    };
    char buffer[24];
    for (size_t offset : {6}) {
        std::memset(buffer, 'a', sizeof buffer);
        for (uint32_t v = 0; v < (1u << 24); ++v) {
            buffer[offset] = static_cast<char>(v >> 16);
            buffer[offset + 1] = static_cast<char>(v >> 8);
            buffer[offset + 2] = static_cast<char>(v);
            if (!check(buffer, 16)) return;
        }
    }
    const uint8_t edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                             0xBF, 0xC0, 0xC2, 0xE0, 0xED, 0xF0, 0xF4, 0xFF};
    for (size_t offset : {5, 7, 12}) {
        std::memset(buffer, 'a', sizeof buffer);
        for (unsigned lead = 0xC0; lead < 0x100; ++lead)
            for (unsigned second = 0; second < 0x100; ++second)
                for (uint8_t third : edges)
                    for (uint8_t fourth : edges) {
                        buffer[offset] = static_cast<char>(lead);
                        buffer[offset + 1] = static_cast<char>(second);
                        buffer[offset + 2] = static_cast<char>(third);
                        buffer[offset + 3] = static_cast<char>(fourth);
                        if (!check(buffer, 17) || !check(buffer, offset + 4)) return;
                    }
    }
}

// Random mixes of good characters and bad bytes, long enough for the fast paths, at every
// length: the automaton stops where the definition does.
TEST_F(Utf8Test, ScanAgreesWithTheDefinitionOnRandomText) {
    std::mt19937 rng(7);
    const std::string pieces[] = {"a", "b", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                  "\x80", "\xED\xA0\x80", "\xC0\x80", "\xF4\x90\x80\x80",
                                  "\xE2\x82", "\xFF"};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        size_t pieces_count = rng() % 80;
        bool bad_allowed = rng() % 3 == 0;
        for (size_t i = 0; i < pieces_count; ++i)
            bytes += pieces[rng() % (bad_allowed ? 11 : 5)];
        quarn::utf8::Utf8Prefix fast = well_formed_prefix(bytes.data(), bytes.size());
        quarn::utf8::Utf8Prefix slow = bytewise_prefix(bytes);
        ASSERT_EQ(fast.bytes, slow.bytes) << hex(bytes);
        ASSERT_EQ(fast.characters, slow.characters) << hex(bytes);
    }
}

TEST_F(Utf8Test, LossyDecodingReplacesEachRunOnce) {
    size_t length;
    EXPECT_EQ(lossy_text("\x61\xFF\x80\x80\x62", &length), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(length, 3u);
    // A run ends at the first byte that is not a continuation byte, even a bad one.
    EXPECT_EQ(lossy_text("\xFF\xFF\xC0\x80", &length), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(lossy_text("", &length), "");
    EXPECT_EQ(length, 0u);
}

// Every byte bad: three output bytes for each input byte, far past the buffer it starts with.
TEST_F(Utf8Test, LossyDecodingGrowsPastItsFirstBuffer) {
    std::string input(5000, '\xFF');
    size_t length;
    std::string out = lossy_text(input, &length);
    EXPECT_EQ(length, 5000u);
    ASSERT_EQ(out.size(), 15000u);
    for (size_t i = 0; i < out.size(); i += 3) ASSERT_EQ(out.substr(i, 3), "\xEF\xBF\xBD");
}

// Counting trusted bytes steps from lead byte to lead byte, by the lead byte's own length
// (up to six for 111111xx), whatever follows.
TEST_F(Utf8Test, CountingStepsByLeadBytes) {
    auto reference = [](std::string_view bytes) {
        size_t count = 0;
        for (size_t i = 0; i < bytes.size(); ++count) {
            auto b = static_cast<uint8_t>(bytes[i]);
            i += b < 0x80 ? 1 : b >= 0xFE ? 1 : b >= 0xFC ? 6 : b >= 0xF8 ? 5 : b >= 0xF0 ? 4
                 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        }
        return count;
    };
    EXPECT_EQ(quarn::utf8::count_code_points("\xF8" "AAAAA", 6), 2u);
    EXPECT_EQ(quarn::utf8::count_code_points("\xFC" "AAAAAA", 7), 2u);
    EXPECT_EQ(quarn::utf8::count_code_points("\x80\x80", 2), 2u);
    EXPECT_EQ(quarn::utf8::count_code_points("ab\xF0", 3), 3u) << "a step past the end counts";
    std::mt19937 rng(3);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        size_t n = rng() % 70;
        for (size_t i = 0; i < n; ++i)
            bytes += static_cast<char>(rng() % 4 == 0 ? rng() % 256 : 'a' + rng() % 26);
        ASSERT_EQ(quarn::utf8::count_code_points(bytes.data(), bytes.size()), reference(bytes))
            << hex(bytes);
    }
}

}  // namespace

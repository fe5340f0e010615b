// Float text against the C library: quarn_lean_float_to_string must give exactly the text of
// snprintf("%.6f") for every finite value, and "NaN", "inf", "-inf" otherwise.
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "quarn/fixed.h"
#include "testing.h"

namespace {

using FloatToStringTest = kit::LiveObjectsTest;

// The text of the String the runtime makes, checked to be a well-formed ASCII String.
std::string runtime_text(double x) {
    quarn_object *s = quarn_lean_float_to_string(x);
    auto *string = reinterpret_cast<quarn_string_object *>(s);
    std::string text(string->data, string->size - 1);
    EXPECT_EQ(string->length, text.size()) << "one code point per byte";
    EXPECT_EQ(string->data[text.size()], '\0');
    quarn_dec(s);
    return text;
}

std::string printf_text(double x) {
    char text[400];
    std::snprintf(text, sizeof text, "%.6f", x);
    return text;
}

double from_bits(uint64_t bits) { return std::bit_cast<double>(bits); }

TEST_F(FloatToStringTest, ExactTexts) {
    EXPECT_EQ(runtime_text(1.5), "1.500000");
    EXPECT_EQ(runtime_text(0.1), "0.100000");
    EXPECT_EQ(runtime_text(-0.0), "-0.000000");
    EXPECT_EQ(runtime_text(0.0), "0.000000");
    EXPECT_EQ(runtime_text(1e20), "100000000000000000000.000000");
    EXPECT_EQ(runtime_text(-1e-300), "-0.000000") << "the sign stays on a value rounded to zero";
    EXPECT_EQ(runtime_text(0.0078125), "0.007812") << "a tie goes to the even digit";
    EXPECT_EQ(runtime_text(0.0234375), "0.023438") << "a tie goes to the even digit";
    // The doubles nearest 0.9999995 and 5e-7 lie just above and just below the tie.
    EXPECT_EQ(runtime_text(0.9999995), "1.000000") << "the rounding carries into the integer";
    EXPECT_EQ(runtime_text(5e-7), "0.000000");
    EXPECT_EQ(runtime_text(-5.0000000000000004e-7), "-0.000001");
    EXPECT_EQ(runtime_text(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(runtime_text(-std::numeric_limits<double>::infinity()), "-inf");
    for (uint64_t nan : {0x7FF8000000000000u, 0xFFF8000000000000u, 0x7FF0000000000001u,
                         0xFFFFFFFFFFFFFFFFu})
        EXPECT_EQ(runtime_text(from_bits(nan)), "NaN") << std::hex << nan;
    std::string largest = runtime_text(std::numeric_limits<double>::max());
    EXPECT_EQ(largest.size(), 309u + 7u);
    EXPECT_EQ(largest.substr(0, 12), "179769313486");
}

TEST_F(FloatToStringTest, Float32IsWidenedFirst) {
    for (float x : {0.1f, -3.75f, 16777217.0f, 1e-7f, 3.4028235e38f, -0.0f}) {
        quarn_object *s = quarn_lean_float32_to_string(x);
        EXPECT_EQ(reinterpret_cast<quarn_string_object *>(s)->data, printf_text(double(x)));
        quarn_dec(s);
    }
    quarn_object *s = quarn_lean_float32_to_string(std::bit_cast<float>(0xFFC00001u));
    EXPECT_STREQ(reinterpret_cast<quarn_string_object *>(s)->data, "NaN");
    quarn_dec(s);
}

// Compares the two texts for every value, reporting the first few differences.
void expect_printf_texts(const std::vector<double> &values) {
    int failures = 0;
    for (double x : values) {
        if (!std::isfinite(x)) continue;
        std::string ours = runtime_text(x), theirs = printf_text(x);
        if (ours != theirs && ++failures <= 5)
            ADD_FAILURE() << std::hexfloat << x << ": " << ours << " instead of " << theirs;
    }
    EXPECT_EQ(failures, 0);
}

// x and the two doubles next to it.
void add_with_neighbours(std::vector<double> &values, double x) {
    values.push_back(x);
    values.push_back(std::nextafter(x, 0.0));
    values.push_back(std::nextafter(x, std::numeric_limits<double>::infinity()));
}

TEST_F(FloatToStringTest, RandomBitPatternsOfAllMagnitudes) {
    std::mt19937_64 random(1);
    std::vector<double> values(200000);
    for (double &x : values) x = from_bits(random());
    expect_printf_texts(values);
}

TEST_F(FloatToStringTest, OrdinaryMagnitudes) {
    std::mt19937_64 random(2);
    std::uniform_real_distribution<double> exponent(-8, 17);
    std::vector<double> values(300000);
    for (double &x : values) x = (random() & 1 ? -1 : 1) * std::pow(10.0, exponent(random));
    expect_printf_texts(values);
}

// Values next to the rounding points n + (d + 1/2) 10^-6, exact ties m / 2^k, and every
// power of two and of ten with its neighbours: where an inexact algorithm goes wrong.
TEST_F(FloatToStringTest, RoundingPointsTiesAndPowers) {
    std::mt19937_64 random(3);
    std::vector<double> values;
    for (int i = 0; i < 100000; ++i) {
        double integer = double(random() % (uint64_t{1} << (random() % 50)));
        add_with_neighbours(values, integer + (double(random() % 1000000) + 0.5) / 1e6);
        int k = 7 + int(random() % 40);
        values.push_back(std::ldexp(double(random() % (uint64_t{1} << 30) | 1), -k));
    }
    for (int e = -1074; e <= 1023; ++e) add_with_neighbours(values, std::ldexp(1.0, e));
    for (double ten = 1e-12; std::isfinite(ten); ten *= 10) add_with_neighbours(values, ten);
    expect_printf_texts(values);
}

}  // namespace

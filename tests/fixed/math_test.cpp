// The mathematics wrappers return the C library's results bit for bit, in both precisions,
// on special values (zeros, infinities, NaNs, poles, domain edges) and values of every
// magnitude.
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "quarn/fixed.h"
#include "testing.h"

namespace {

// The C library's functions are called through these pointers, so that the compiler cannot
// fold a call into a result of its own.
struct Unary {
    const char *name;
    double (*wrapper)(double) noexcept;
    double (*volatile library)(double);
    float (*wrapper_f)(float) noexcept;
    float (*volatile library_f)(float);
};
struct Binary {
    const char *name;
    double (*wrapper)(double, double) noexcept;
    double (*volatile library)(double, double);
    float (*wrapper_f)(float, float) noexcept;
    float (*volatile library_f)(float, float);
};

#define UNARY(name) Unary{#name, quarn_##name, ::name, quarn_##name##f, ::name##f},
#define BINARY(name) Binary{#name, quarn_##name, ::name, quarn_##name##f, ::name##f},
const Unary kUnary[] = {QUARN_MATH_UNARY(UNARY)};
const Binary kBinary[] = {QUARN_MATH_BINARY(BINARY)};

std::vector<double> inputs() {
    constexpr double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1.5, 2.5, -2.5, 3.0,
                                  M_PI, -M_PI / 2, 1e-310, -4.9e-324, 1e300, -1e300,
                                  709.8, 710.0, -745.2, 89.0, 1e22, inf, -inf,
                                  std::numeric_limits<double>::quiet_NaN(),
                                  std::bit_cast<double>(0xFFF8000000000001u)};
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> exponent(-40, 40);
    for (int i = 0; i < 400; ++i)
        values.push_back((random() & 1 ? -1 : 1) * std::exp2(exponent(random)));
    return values;
}

template <typename F>
auto bits(F x) {
    if constexpr (sizeof(F) == 8) return std::bit_cast<uint64_t>(x);
    else return std::bit_cast<uint32_t>(x);
}

TEST(MathTest, UnaryWrappersAreTheLibraryBitForBit) {
    for (const Unary &f : kUnary) {
        int failures = 0;
        for (double x : inputs()) {
            auto fx = static_cast<float>(x);
            if (bits(f.wrapper(x)) != bits(f.library(x)) && ++failures <= 3)
                ADD_FAILURE() << "quarn_" << f.name << "(" << x << ")";
            if (bits(f.wrapper_f(fx)) != bits(f.library_f(fx)) && ++failures <= 3)
                ADD_FAILURE() << "quarn_" << f.name << "f(" << fx << ")";
        }
    }
}

TEST(MathTest, BinaryWrappersAreTheLibraryBitForBit) {
    std::vector<double> values = inputs();
    for (const Binary &f : kBinary) {
        int failures = 0;
        for (size_t i = 0; i < values.size(); i += 3) {
            for (size_t j = 0; j < values.size(); j += 7) {
                double x = values[i], y = values[j];
                auto fx = static_cast<float>(x), fy = static_cast<float>(y);
                if (bits(f.wrapper(x, y)) != bits(f.library(x, y)) && ++failures <= 3)
                    ADD_FAILURE() << "quarn_" << f.name << "(" << x << ", " << y << ")";
                if (bits(f.wrapper_f(fx, fy)) != bits(f.library_f(fx, fy)) && ++failures <= 3)
                    ADD_FAILURE() << "quarn_" << f.name << "f(" << fx << ", " << fy << ")";
            }
        }
    }
}

TEST(MathTest, RoundFabsAndSqrtEdges) {
    EXPECT_EQ(quarn_round(2.5), 3.0);
    EXPECT_EQ(quarn_round(-2.5), -3.0);
    EXPECT_EQ(quarn_roundf(0.5f), 1.0f);
    EXPECT_EQ(bits(quarn_fabs(std::bit_cast<double>(0xFFF8000000000001u))), 0x7FF8000000000001u)
        << "fabs clears the sign bit of a NaN too";
    EXPECT_EQ(bits(quarn_sqrt(-0.0)), bits(-0.0));
    EXPECT_TRUE(std::isnan(quarn_sqrt(-1.0)));
    EXPECT_TRUE(std::isnan(quarn_sqrtf(-1.0f)));
}

}  // namespace

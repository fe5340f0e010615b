// Float text against the C library's snprintf("%.6f") on the same values, in the same run:
// about a million random doubles of all magnitudes (random bit patterns), and ordinary
// magnitudes (10^-3 to 10^9). The runtime's figure includes making the String object.
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include <quarn/fixed.h>

namespace {

constexpr size_t kValues = size_t{1} << 20;

std::vector<double> all_magnitudes() {
    std::mt19937_64 random(11);
    std::vector<double> values;
    while (values.size() < kValues) {
        double x = std::bit_cast<double>(random());
        if (std::isfinite(x)) values.push_back(x);
    }
    return values;
}

std::vector<double> ordinary_magnitudes() {
    std::mt19937_64 random(12);
    std::uniform_real_distribution<double> exponent(-3, 9);
    std::vector<double> values(kValues);
    for (double &x : values) x = std::pow(10.0, exponent(random));
    return values;
}

const std::vector<double> &values_of(const benchmark::State &state) {
    static const std::vector<double> all = all_magnitudes(), ordinary = ordinary_magnitudes();
    return state.range(0) == 0 ? all : ordinary;
}

void BM_FloatToString(benchmark::State &state) {
    const std::vector<double> &values = values_of(state);
    size_t i = 0;
    for (auto _ : state) {
        quarn_object *s = quarn_lean_float_to_string(values[i++ & (kValues - 1)]);
        benchmark::DoNotOptimize(s);
        quarn_dec(s);
    }
    state.SetLabel(state.range(0) == 0 ? "all magnitudes" : "1e-3 to 1e9");
}
BENCHMARK(BM_FloatToString)->Arg(0)->Arg(1);

// The peer: the C library's text of the same values, into a stack buffer.
void BM_SnprintfFixed6(benchmark::State &state) {
    const std::vector<double> &values = values_of(state);
    char text[400];
    size_t i = 0;
    for (auto _ : state) {
        int n = std::snprintf(text, sizeof text, "%.6f", values[i++ & (kValues - 1)]);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(text);
    }
    state.SetLabel(state.range(0) == 0 ? "all magnitudes" : "1e-3 to 1e9");
}
BENCHMARK(BM_SnprintfFixed6)->Arg(0)->Arg(1);

}  // namespace

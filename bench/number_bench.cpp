// Nat and Int primitives against GMP's mpz functions on the same operands, in the same run.
// The library's results are allocated and released each time (as compiled code does); the
// mpz peers write into an mpz_t initialised once, which keeps its allocation.
#include <benchmark/benchmark.h>
#include <gmp.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>

#include <quarn/nat.h>
#include <quarn/quarn.h>

namespace {

// ---- scalar fast paths --------------------------------------------------------------------

void BM_NatAddBoxed(benchmark::State &state) {
    quarn_object *a = quarn_box(123456789), *b = quarn_box(987654321);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(quarn_lean_nat_add(a, b));
    }
}
BENCHMARK(BM_NatAddBoxed);

void BM_IntMulBoxed(benchmark::State &state) {
    quarn_object *a = quarn_box_int(-12345), *b = quarn_box_int(6789);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(quarn_lean_int_mul(a, b));
    }
}
BENCHMARK(BM_IntMulBoxed);

// The peer for the two above: the same arithmetic inline, no call.
void BM_MachineAdd(benchmark::State &state) {
    uint64_t a = 123456789, b = 987654321;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        benchmark::DoNotOptimize(a + b);
    }
}
BENCHMARK(BM_MachineAdd);

// ---- operands -----------------------------------------------------------------------------

// A random number of exactly `digits` 64-bit digits, as an mpz and as a Nat made from its
// decimal text. Fixed seeds: every run measures the same operands.
struct Operand {
    mpz_t mpz;
    quarn_object *nat;

    Operand(size_t digits, unsigned long seed) {
        gmp_randstate_t random;
        gmp_randinit_default(random);
        gmp_randseed_ui(random, seed);
        mpz_init(mpz);
        mpz_urandomb(mpz, random, 64 * digits);
        mpz_setbit(mpz, 64 * digits - 1);
        gmp_randclear(random);
        char *text = mpz_get_str(nullptr, 10, mpz);
        nat = quarn_cstr_to_nat(text);
        void (*release)(void *, size_t);
        mp_get_memory_functions(nullptr, nullptr, &release);
        release(text, std::strlen(text) + 1);
    }
};

const Operand &operand(size_t digits, int which) {
    static std::map<std::pair<size_t, int>, Operand *> made;
    Operand *&slot = made[{digits, which}];
    if (slot == nullptr) slot = new Operand(digits, 1000 * digits + which);
    return *slot;
}

// ---- multiplication -----------------------------------------------------------------------

void BM_NatMul(benchmark::State &state) {
    auto digits = static_cast<size_t>(state.range(0));
    quarn_object *a = operand(digits, 0).nat, *b = operand(digits, 1).nat;
    for (auto _ : state) {
        quarn_object *product = quarn_lean_nat_mul(a, b);
        benchmark::DoNotOptimize(product);
        quarn_dec(product);
    }
}
BENCHMARK(BM_NatMul)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_MpzMul(benchmark::State &state) {
    auto digits = static_cast<size_t>(state.range(0));
    const Operand &a = operand(digits, 0), &b = operand(digits, 1);
    mpz_t product;
    mpz_init(product);
    for (auto _ : state) {
        mpz_mul(product, a.mpz, b.mpz);
        benchmark::DoNotOptimize(product->_mp_d);
    }
    mpz_clear(product);
}
BENCHMARK(BM_MpzMul)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// ---- addition of two-digit numbers ----------------------------------------------------------

void BM_NatAddTwoDigits(benchmark::State &state) {
    quarn_object *a = operand(2, 0).nat, *b = operand(2, 1).nat;
    for (auto _ : state) {
        quarn_object *sum = quarn_lean_nat_add(a, b);
        benchmark::DoNotOptimize(sum);
        quarn_dec(sum);
    }
}
BENCHMARK(BM_NatAddTwoDigits);

void BM_MpzAddTwoDigits(benchmark::State &state) {
    const Operand &a = operand(2, 0), &b = operand(2, 1);
    mpz_t sum;
    mpz_init(sum);
    for (auto _ : state) {
        mpz_add(sum, a.mpz, b.mpz);
        benchmark::DoNotOptimize(sum->_mp_d);
    }
    mpz_clear(sum);
}
BENCHMARK(BM_MpzAddTwoDigits);

// A second peer that allocates its result too: a fresh mpz_t for every sum.
void BM_MpzAddTwoDigitsFresh(benchmark::State &state) {
    const Operand &a = operand(2, 0), &b = operand(2, 1);
    for (auto _ : state) {
        mpz_t sum;
        mpz_init(sum);
        mpz_add(sum, a.mpz, b.mpz);
        benchmark::DoNotOptimize(sum->_mp_d);
        mpz_clear(sum);
    }
}
BENCHMARK(BM_MpzAddTwoDigitsFresh);

// ---- decimal literals -----------------------------------------------------------------------

const std::string &decimal_literal() {
    static const std::string text = [] {
        std::string t = "9";
        unsigned long x = 12345;
        while (t.size() < 100000) {
            x = x * 6364136223846793005u + 1442695040888963407u;
            t += static_cast<char>('0' + (x >> 33) % 10);
        }
        return t;
    }();
    return text;
}

void BM_CstrToNat(benchmark::State &state) {
    const char *text = decimal_literal().c_str();
    for (auto _ : state) {
        quarn_object *n = quarn_cstr_to_nat(text);
        benchmark::DoNotOptimize(n);
        quarn_dec(n);
    }
}
BENCHMARK(BM_CstrToNat)->Unit(benchmark::kMicrosecond);

void BM_MpzSetStr(benchmark::State &state) {
    const char *text = decimal_literal().c_str();
    mpz_t n;
    mpz_init(n);
    for (auto _ : state) {
        mpz_set_str(n, text, 10);
        benchmark::DoNotOptimize(n->_mp_d);
    }
    mpz_clear(n);
}
BENCHMARK(BM_MpzSetStr)->Unit(benchmark::kMicrosecond);

}  // namespace

/*
 * Natural numbers and integers of any size, as compiled code uses them: 1000! and the
 * 10000th Fibonacci number built one primitive at a time, printed in decimal by repeated
 * division, and checked against their known digits and a few identities (Cassini's on
 * integers, gcd(F(m), F(n)) = F(gcd(m, n)), powers against shifts).
 *
 * Every primitive borrows its arguments and returns an owned result, so a loop that
 * replaces an accumulator releases the old value after each step.
 */
#include <stdio.h>
#include <string.h>

#include <quarn/nat.h>
#include <quarn/quarn.h>

static int failures = 0;

static void check(int ok, const char *what) {
    printf("  %-58s %s\n", what, ok ? "ok" : "FAILED");
    if (!ok) failures++;
}

/* Replaces *acc with f(*acc, x), releasing the old accumulator. */
static void update(quarn_object **acc, quarn_object *(*f)(quarn_object *, quarn_object *),
                   quarn_object *x) {
    quarn_object *next = f(*acc, x);
    quarn_dec(*acc);
    *acc = next;
}

static quarn_object *factorial(size_t n) {
    quarn_object *acc = quarn_box(1);
    for (size_t i = 2; i <= n; i++) update(&acc, quarn_lean_nat_mul, quarn_box(i));
    return acc;
}

static quarn_object *fibonacci(size_t n) {
    quarn_object *a = quarn_box(0), *b = quarn_box(1);
    for (size_t i = 0; i < n; i++) {
        quarn_object *next = quarn_nat_add(a, b);
        quarn_dec(a);
        a = b;
        b = next;
    }
    quarn_dec(b);
    return a;
}

/* The decimal digits of a Nat into buf, as Nat.repr computes them: remainders of division
 * by 10^18, least significant first, then printed most significant first. Borrows n;
 * returns the digit count. Up to 256 * 18 digits. */
static size_t decimal(quarn_object *n, char *buf, size_t size) {
    quarn_object *base = quarn_box(1000000000000000000u);
    size_t chunks[256], count = 0;
    quarn_inc(n);
    do {
        quarn_object *rem = quarn_lean_nat_mod(n, base); /* boxed: below 10^18 */
        chunks[count++] = quarn_unbox(rem);
        update(&n, quarn_lean_nat_div, base);
    } while (!quarn_nat_dec_eq(n, quarn_box(0)) && count < 256);
    quarn_dec(n);
    int len = snprintf(buf, size, "%zu", chunks[--count]);
    while (count > 0) len += snprintf(buf + len, size - (size_t)len, "%018zu", chunks[--count]);
    return (size_t)len;
}

static size_t trailing_zeros(const char *digits, size_t n) {
    size_t z = 0;
    while (z < n && digits[n - 1 - z] == '0') z++;
    return z;
}

int main(void) {
    static char text[4096];

    puts("1000!");
    quarn_object *f = factorial(1000);
    size_t n = decimal(f, text, sizeof text);
    printf("  %zu digits: %.30s...\n", n, text);
    check(n == 2568, "2568 decimal digits");
    check(strncmp(text, "4023872600770937735437024339230039857193", 40) == 0,
          "leading digits 4023872600770937735437024339230039857193");
    check(trailing_zeros(text, n) == 249, "249 trailing zeros");
    check(strncmp(text + n - 249 - 20, "77939410970027753472", 20) == 0,
          "last non-zero digits 77939410970027753472");
    quarn_object *again = factorial(999);
    update(&again, quarn_lean_nat_mul, quarn_box(1000));
    check(quarn_lean_nat_dec_eq(again, f), "999! * 1000 = 1000!");
    update(&again, quarn_lean_nat_div, quarn_box(1000));
    quarn_object *q = quarn_lean_nat_div(f, again);
    check(q == quarn_box(1000), "1000! / 999! = 1000");
    quarn_dec(again);

    puts("F(10000)");
    quarn_object *fib = fibonacci(10000);
    n = decimal(fib, text, sizeof text);
    printf("  %zu digits: %.30s...\n", n, text);
    check(n == 2090, "2090 decimal digits");
    check(strncmp(text, "3364476487643178326662161200510754331030", 40) == 0,
          "leading digits 3364476487643178326662161200510754331030");
    check(strcmp(text + n - 20, "66073310059947366875") == 0, "last digits 66073310059947366875");

    /* gcd(F(9000), F(6000)) = F(3000) */
    quarn_object *f9000 = fibonacci(9000), *f6000 = fibonacci(6000), *f3000 = fibonacci(3000);
    quarn_object *g = quarn_lean_nat_gcd(f9000, f6000);
    check(quarn_lean_nat_dec_eq(g, f3000), "gcd(F(9000), F(6000)) = F(3000)");

    /* Cassini, on integers: F(n-1) F(n+1) - F(n)^2 = (-1)^n, for n = 10000 */
    quarn_object *before = fibonacci(9999), *after = fibonacci(10001);
    quarn_inc(fib);
    quarn_object *i_before = quarn_lean_nat_to_int(before); /* consumes */
    quarn_object *i_after = quarn_lean_nat_to_int(after);
    quarn_object *i_fib = quarn_lean_nat_to_int(fib);
    quarn_object *left = quarn_lean_int_mul(i_before, i_after);
    quarn_object *square = quarn_lean_int_mul(i_fib, i_fib);
    quarn_object *cassini = quarn_int_sub(left, square);
    check(cassini == quarn_box_int(1), "F(9999) F(10001) - F(10000)^2 = 1");
    quarn_object *reversed = quarn_int_sub(square, left);
    check(reversed == quarn_box_int(-1), "F(10000)^2 - F(9999) F(10001) = -1");
    quarn_object *neg = quarn_lean_int_neg(left);
    quarn_object *modulus = quarn_lean_int_emod(neg, i_fib);
    check(quarn_lean_int_dec_nonneg(modulus) && quarn_int_dec_lt(modulus, i_fib),
          "emod(-F(9999) F(10001), F(10000)) is in [0, F(10000))");

    puts("2^10000");
    quarn_object *p = quarn_lean_nat_pow(quarn_box(2), quarn_box(10000));
    quarn_object *s = quarn_lean_nat_shiftl(quarn_box(1), quarn_box(10000));
    check(quarn_lean_nat_dec_eq(p, s), "2^10000 = 1 <<< 10000");
    check(quarn_lean_nat_log2(p) == quarn_box(10000), "log2(2^10000) = 10000");
    quarn_object *r = quarn_lean_nat_mod(p, quarn_box(1000000007));
    check(r == quarn_box(905611805), "2^10000 mod (10^9 + 7) = 905611805");
    quarn_object *literal = quarn_cstr_to_nat("340282366920938463463374607431768211456");
    quarn_object *p128 = quarn_lean_nat_pow(quarn_box(2), quarn_box(128));
    check(quarn_lean_nat_dec_eq(literal, p128), "the literal 2^128 = 2^128");

    quarn_object *all[] = {f,      q,      fib,     f9000, f6000,    f3000,   g,      i_before,
                           i_after, i_fib, left,   square, cassini, reversed, neg,   modulus,
                           p,      s,      r,      literal, p128};
    for (size_t i = 0; i < sizeof all / sizeof all[0]; i++) quarn_dec(all[i]);

    printf("%s\n", failures == 0 ? "all checks passed" : "SOME CHECKS FAILED");
    return failures == 0 ? 0 : 1;
}

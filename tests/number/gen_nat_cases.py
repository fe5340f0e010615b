#!/usr/bin/env python3
"""Writes nat_int_cases.txt: Nat and Int primitives with their results, computed with
Python's integers as the independent oracle.

Run from this folder (python3 gen_nat_cases.py); the seed is fixed, so the file only changes
when this generator does. Operands cover the boundaries of the boxed ranges (2^31, 2^32,
2^63, 2^64, 2^128, both signs for Int) and random sizes up to a few thousand bits.

Line formats (numbers in hexadecimal, '-' for negative; booleans 0/1):
  N a b : add sub mul div mod gcd land lor lxor le lt eq      Nat, Nat
  I a b : add sub mul div mod ediv emod le lt eq              Int, Int
  n a : pred log2 neg_succ_of_nat to_int                      Nat
  i a : neg abs nonneg                                        Int
  S a s : shiftl shiftr                                       Nat, Nat shift count
  P a e : pow                                                 Nat, Nat exponent
  D decimal : value                                           cstr_to_nat
"""
import math
import random

SEED = 20240604
OUT = "nat_int_cases.txt"


def h(v):
    return ("-" if v < 0 else "") + format(abs(v), "x")


def flag(condition):
    return "1" if condition else "0"


def tdiv(a, b):
    if b == 0:
        return 0
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


def tmod(a, b):
    return a if b == 0 else a - b * tdiv(a, b)


def ediv(a, b):
    if b == 0:
        return 0
    r = a % abs(b)
    return (a - r) // b


def emod(a, b):
    return a if b == 0 else a % abs(b)


NAT_EDGES = [0, 1, 2, 3, 7, 2**31 - 1, 2**31, 2**31 + 1, 2**32 - 1, 2**32, 2**32 + 1,
             2**62, 2**63 - 2, 2**63 - 1, 2**63, 2**63 + 1, 2**64 - 1, 2**64, 2**64 + 1,
             2**127, 2**128 - 1, 2**128, 2**128 + 1, 2**192 - 1, 10**30]

INT_MAGNITUDES = [1, 2, 2**31 - 1, 2**31, 2**31 + 1, 2**32, 2**40, 2**63 - 1, 2**63,
                  2**64 - 1, 2**64, 2**64 + 1, 2**128, 2**128 + 1, 3**90]
INT_EDGES = [0] + [s * m for m in INT_MAGNITUDES for s in (1, -1)]


def random_nat(rng, max_bits=4096):
    """A value whose bit length is spread evenly on a logarithmic scale, with runs of all
    ones and all zeros now and then (carries and borrows across whole digits)."""
    bits = int(2 ** rng.uniform(0, max_bits.bit_length() - 1))
    bits = min(max(bits, 1), max_bits)
    kind = rng.random()
    if kind < 0.1:
        return 2**bits - 1
    if kind < 0.2:
        return 2**bits + rng.getrandbits(min(bits, 64))
    return rng.getrandbits(bits) | (1 << (bits - 1))


def related_pair(rng):
    """Operands that agree in their upper digits or divide evenly: long equal prefixes for
    subtraction and comparison, exact and near-exact quotients for division."""
    b = random_nat(rng)
    kind = rng.randrange(4)
    if kind == 0:
        return b + rng.getrandbits(64), b
    if kind == 1:
        return b, b
    if kind == 2:
        return b * random_nat(rng, 1024), b
    return b * random_nat(rng, 1024) + rng.getrandbits(32), b + 1


def nat_line(a, b):
    results = [a + b, max(a - b, 0), a * b, a // b if b else 0, a % b if b else a,
               math.gcd(a, b), a & b, a | b, a ^ b]
    return "N %s %s : %s %s %s %s" % (h(a), h(b), " ".join(h(r) for r in results),
                                      flag(a <= b), flag(a < b), flag(a == b))


def int_line(a, b):
    results = [a + b, a - b, a * b, tdiv(a, b), tmod(a, b), ediv(a, b), emod(a, b)]
    return "I %s %s : %s %s %s %s" % (h(a), h(b), " ".join(h(r) for r in results),
                                      flag(a <= b), flag(a < b), flag(a == b))


def main():
    rng = random.Random(SEED)
    lines = []

    nat_pairs = [(x, y) for x in NAT_EDGES for y in NAT_EDGES]
    nat_pairs += [(random_nat(rng), random_nat(rng)) for _ in range(150)]
    nat_pairs += [related_pair(rng) for _ in range(100)]
    nat_pairs += [(y, x) for x, y in nat_pairs[-100:]]
    lines += [nat_line(x, y) for x, y in nat_pairs]

    int_pairs = [(x, y) for x in INT_EDGES for y in INT_EDGES]
    signed = lambda v: v if rng.random() < 0.5 else -v
    int_pairs += [(signed(random_nat(rng)), signed(random_nat(rng))) for _ in range(150)]
    for _ in range(100):
        x, y = related_pair(rng)
        int_pairs.append((signed(x), signed(y)))
    lines += [int_line(x, y) for x, y in int_pairs]

    unary = NAT_EDGES + [random_nat(rng) for _ in range(100)]
    for a in unary:
        log2 = a.bit_length() - 1 if a else 0
        lines.append("n %s : %s %s %s %s" % (h(a), h(max(a - 1, 0)), h(log2), h(-(a + 1)), h(a)))
    for a in INT_EDGES + [signed(random_nat(rng)) for _ in range(100)]:
        lines.append("i %s : %s %s %s" % (h(a), h(-a), h(abs(a)), flag(a >= 0)))

    shifts = [0, 1, 31, 32, 62, 63, 64, 65, 127, 128, 129, 1000]
    for a in NAT_EDGES + [random_nat(rng) for _ in range(20)]:
        for s in shifts + [rng.randrange(5000)]:
            lines.append("S %s %s : %s %s" % (h(a), h(s), h(a << s), h(a >> s)))

    bases = [0, 1, 2, 3, 10, 2**32 - 1, 2**32, 2**63 - 1, 2**63, 2**64 + 1, 6 * 2**70, 3**40]
    bases += [random_nat(rng, 300) for _ in range(12)]
    for a in bases:
        exponents = {0, 1, 2, 3, 10, 62, 63, 64, 65}
        if a > 1:
            exponents.add(rng.randrange(1, 20000 // a.bit_length() + 2))
        for e in sorted(exponents):
            if a.bit_length() * e <= 40000:
                lines.append("P %s %s : %s" % (h(a), h(e), h(a**e)))

    decimals = ["0", "42", "000123", "9223372036854775807", "9223372036854775808",
                "18446744073709551616", "0000000000000000000000018446744073709551615",
                "1" + "0" * 19, "1" + "0" * 40, " 77", "\t\n-0", "12 345 678 901 234 567 890 12"]
    decimals += [str(random_nat(rng)) for _ in range(20)]
    for text in decimals:
        value = int(text.replace(" ", "").replace("\t", "").replace("\n", ""))
        lines.append("D %s : %s" % (text.encode().hex(), h(value)))

    with open(OUT, "w", encoding="ascii") as f:
        f.write("# Generated by gen_nat_cases.py (seed %d); do not edit.\n" % SEED)
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()

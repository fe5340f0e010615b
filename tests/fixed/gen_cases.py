#!/usr/bin/env python3
"""Writes cases.txt: expected results of the fixed-width integer and float primitives.

The rules are computed here from scratch with Python's unbounded integers and exact
fractions, one correct rounding at the end, so that they share nothing with the C++ code
they check. differential_test.cpp reads the file.

Lines (tokens separated by spaces):
  <symbol> <argument>... = <expected>
  @rows <name> <family>...                 starts a block of rows for the families named
  <type> <argument>... = <expected>...     a row: one case per family of the block, the
                                           symbol being quarn_lean_<type>_<family>
Values: integers in decimal; floats as their bit pattern, 0x and 16 (binary64) or 8
(binary32) hex digits, or "nan" for "any NaN"; Nat and Int arguments as signed hex
("-0x1f"); Nat and Int results as boxed:<decimal> or big:<decimal>; pairs as
pair:<mantissa>:<exponent as an Int>.

usage: gen_cases.py > cases.txt
"""
import math
import random
import struct
from fractions import Fraction

random.seed(20240607)

# ---- integer types ------------------------------------------------------------------------

UNSIGNED = [("uint8", 8), ("uint16", 16), ("uint32", 32), ("uint64", 64), ("usize", 64)]
SIGNED = [("int8", 8), ("int16", 16), ("int32", 32), ("int64", 64), ("isize", 64)]


def wrap(v, bits, signed):
    """v modulo 2^bits, read back as signed when the type is."""
    v %= 1 << bits
    if signed and v >> (bits - 1):
        v -= 1 << bits
    return v


def bounds(bits, signed):
    return (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)


def trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


def binary_rules(bits, signed):
    """Each binary family's rule, from the definitions of the operations."""
    w = lambda v: wrap(v, bits, signed)
    count = lambda b: (b % (1 << bits)) % bits  # the count read unsigned, modulo the width
    if signed:
        div = lambda a, b: 0 if b == 0 else w(trunc_div(a, b))
        mod = lambda a, b: a if b == 0 else a - b * trunc_div(a, b)
    else:
        div = lambda a, b: 0 if b == 0 else a // b
        mod = lambda a, b: a if b == 0 else a % b
    return {
        "add": lambda a, b: w(a + b),
        "sub": lambda a, b: w(a - b),
        "mul": lambda a, b: w(a * b),
        "land": lambda a, b: w(a & b),
        "lor": lambda a, b: w(a | b),
        "xor": lambda a, b: w(a ^ b),
        "div": div,
        "mod": mod,
        "shift_left": lambda a, b: w(a << count(b)),
        "shift_right": lambda a, b: w(a >> count(b)),  # Python's >> is arithmetic
        "dec_eq": lambda a, b: int(a == b),
        "dec_le": lambda a, b: int(a <= b),
        "dec_lt": lambda a, b: int(a < b),
    }


def operands(bits, signed):
    """Boundary operands of a type (shift counts at and beyond the width included), and a
    few random ones."""
    lo, hi = bounds(bits, signed)
    values = {0, 1, 2, 3, bits - 1, bits, bits + 1, hi, hi - 1, lo, lo + 1}
    if signed:
        values |= {-1, -2, -bits, -(bits - 1)}
    else:
        values |= {hi // 2, hi // 2 + 1}
    if bits == 64:  # the 32-bit divide path and its edge
        values |= {(1 << 32) - 1, 1 << 32}
    values |= {random.randint(lo, hi) for _ in range(3)}
    return sorted(values)


# ---- floating point -----------------------------------------------------------------------

class Format:
    def __init__(self, name, precision, exponent_bits):
        self.name, self.precision = name, precision
        self.width = 1 + exponent_bits + precision - 1
        self.bias = (1 << (exponent_bits - 1)) - 1
        self.emin, self.emax = 1 - self.bias, self.bias
        self.hex_digits = self.width // 4
        self.canonical_nan = (((1 << exponent_bits) - 1) << (precision - 1)) | (1 << (precision - 2))

    def fields(self, bits):
        fraction_bits = self.precision - 1
        sign = bits >> (self.width - 1)
        exponent = (bits >> fraction_bits) & ((1 << (self.width - 1 - fraction_bits)) - 1)
        return sign, exponent, bits & ((1 << fraction_bits) - 1)

    def is_nan(self, bits):
        _, e, f = self.fields(bits)
        return e == 2 * self.bias + 1 and f != 0

    def is_inf(self, bits):
        _, e, f = self.fields(bits)
        return e == 2 * self.bias + 1 and f == 0

    def value_is_zero(self, bits):
        return bits & ~(1 << (self.width - 1)) == 0

    def inf(self, negative):
        return ((2 * self.bias + 1) << (self.precision - 1)) | (int(negative) << (self.width - 1))

    def zero(self, negative):
        return int(negative) << (self.width - 1)

    def value(self, bits):
        """The exact value of a finite pattern, as a Fraction (and its sign, for zeros)."""
        sign, e, f = self.fields(bits)
        if e == 0:
            v = Fraction(f) * Fraction(2) ** (self.emin - self.precision + 1)
        else:
            v = Fraction(f | (1 << (self.precision - 1))) * Fraction(2) ** (e - self.bias - self.precision + 1)
        return -v if sign else v

    def round(self, q, negative_zero=False):
        """The pattern of the exact value q rounded to nearest, ties to even; subnormals
        and overflow to infinity included. A zero q takes the sign negative_zero."""
        if q == 0:
            return self.zero(negative_zero)
        negative = q < 0
        q = abs(q)
        e = q.numerator.bit_length() - q.denominator.bit_length()
        while Fraction(2) ** e > q:
            e -= 1
        while Fraction(2) ** (e + 1) <= q:
            e += 1
        e = max(e, self.emin)
        scaled = q / Fraction(2) ** (e - self.precision + 1)
        n = scaled.numerator // scaled.denominator
        rest = scaled - n
        if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and n % 2 == 1):
            n += 1
        if n == 1 << self.precision:
            n >>= 1
            e += 1
        if e > self.emax:
            return self.inf(negative)
        sign = int(negative) << (self.width - 1)
        if n < 1 << (self.precision - 1):  # subnormal
            return sign | n
        return sign | ((e + self.bias) << (self.precision - 1)) | (n - (1 << (self.precision - 1)))

    def text(self, bits):
        return "0x%0*x" % (self.hex_digits, bits)


BINARY64 = Format("float", 53, 11)
BINARY32 = Format("float32", 24, 8)


def add(fmt, a, b):
    if fmt.is_nan(a) or fmt.is_nan(b):
        return None
    if fmt.is_inf(a) or fmt.is_inf(b):
        if fmt.is_inf(a) and fmt.is_inf(b) and fmt.fields(a)[0] != fmt.fields(b)[0]:
            return None
        return a if fmt.is_inf(a) else b
    both_negative_zeros = a == fmt.zero(True) and b == fmt.zero(True)
    return fmt.round(fmt.value(a) + fmt.value(b), negative_zero=both_negative_zeros)


def negate(fmt, a):
    return a ^ (1 << (fmt.width - 1))


def mul(fmt, a, b):
    if fmt.is_nan(a) or fmt.is_nan(b):
        return None
    negative = fmt.fields(a)[0] != fmt.fields(b)[0]
    if fmt.is_inf(a) or fmt.is_inf(b):
        if fmt.value_is_zero(a) or fmt.value_is_zero(b):
            return None
        return fmt.inf(negative)
    return fmt.round(fmt.value(a) * fmt.value(b), negative_zero=negative)


def div(fmt, a, b):
    if fmt.is_nan(a) or fmt.is_nan(b):
        return None
    negative = fmt.fields(a)[0] != fmt.fields(b)[0]
    if fmt.is_inf(a):
        return None if fmt.is_inf(b) else fmt.inf(negative)
    if fmt.is_inf(b):
        return fmt.zero(negative)
    if fmt.value_is_zero(b):
        return None if fmt.value_is_zero(a) else fmt.inf(negative)
    return fmt.round(fmt.value(a) / fmt.value(b), negative_zero=negative)



def order(fmt, a):
    """A number that orders like the float (infinities included); None for NaN."""
    if fmt.is_nan(a):
        return None
    if fmt.is_inf(a):
        return -math.inf if fmt.fields(a)[0] else math.inf
    return fmt.value(a)


def compare(fmt, a, b, relation):
    x, y = order(fmt, a), order(fmt, b)
    return 0 if x is None or y is None else int(relation(x, y))


def saturate(fmt, a, bits, signed):
    """Saturating truncation of a float to an integer type."""
    if fmt.is_nan(a):
        return 0
    lo, hi = bounds(bits, signed)
    x = order(fmt, a)
    if signed:
        if x <= lo - 1:
            return lo
        if x >= hi + 1:
            return hi
    else:
        if not x >= 0:
            return 0
        if x >= hi + 1:
            return hi
    return math.trunc(x)


def frexp(fmt, a):
    if fmt.is_nan(a):
        return "pair:nan:boxed:0"
    if fmt.is_inf(a) or fmt.value_is_zero(a):
        return "pair:%s:boxed:0" % fmt.text(a)
    x = fmt.value(a)
    e = 0
    while abs(x) / Fraction(2) ** e >= 1:
        e += 1
    while abs(x) / Fraction(2) ** e < Fraction(1, 2):
        e -= 1
    return "pair:%s:boxed:%d" % (fmt.text(fmt.round(x / Fraction(2) ** e)), e)


def scaleb(fmt, a, e):
    """x * 2^e. A boxed `Int` e is exact scaling; a big one follows the rules for exponents
    beyond every format."""
    small = -(1 << 31) <= e < (1 << 31)
    if not small:
        if fmt.value_is_zero(a) or e < 0:
            return fmt.zero(False)
        return None if fmt.is_nan(a) else fmt.inf(fmt.fields(a)[0])
    if fmt.is_nan(a):
        return None
    if fmt.is_inf(a) or fmt.value_is_zero(a):
        return a
    negative = fmt.fields(a)[0] == 1
    if e > 4000:
        return fmt.inf(negative)
    if e < -4000:
        return fmt.zero(negative)
    return fmt.round(fmt.value(a) * Fraction(2) ** e, negative_zero=negative)


def text(fmt, bits):
    return "nan" if bits is None else fmt.text(bits)


def special_values(fmt):
    """Zeros, ones, halves, extremes, infinities, NaNs (quiet, signalling, negative) and a
    few ordinary and random values."""
    f = lambda x: fmt.round(Fraction(x))
    top = (1 << fmt.precision) - 1
    largest = fmt.round(Fraction(top) * Fraction(2) ** (fmt.emax - fmt.precision + 1))
    values = [fmt.zero(False), fmt.zero(True), f(1), f(-1), f(Fraction(1, 2)), f(Fraction(-3, 2)),
              f(Fraction(1, 3)), f(10), f(Fraction(-7, 100)), largest, negate(fmt, largest),
              1, negate(fmt, 1), fmt.round(Fraction(2) ** fmt.emin),
              fmt.inf(False), fmt.inf(True), fmt.canonical_nan, fmt.canonical_nan | 1,
              negate(fmt, fmt.canonical_nan), fmt.inf(False) | 1]
    values += [random.getrandbits(fmt.width) for _ in range(4)]
    return values


def integer_boundaries(fmt, bits, signed):
    """The saturation boundaries of one target: its ends, the values next to them, and the
    halves that truncate back into range."""
    lo, hi = bounds(bits, signed)
    points = [Fraction(v) for v in (lo, lo - 1, hi, hi + 1, 0)]
    points += [Fraction(lo) - Fraction(1, 2), Fraction(hi) + Fraction(1, 2), Fraction(-1, 2),
               Fraction(1, 2), Fraction(-1)]
    values = set()
    for p in points:
        r = fmt.round(p)
        values |= {r, next_toward_zero(fmt, r), next_away(fmt, r)}
    return sorted(values)


def next_away(fmt, bits):
    return bits + 1 if not fmt.is_inf(bits) else bits


def next_toward_zero(fmt, bits):
    return bits - 1 if not fmt.value_is_zero(bits) else bits


# ---- the cases ----------------------------------------------------------------------------

def nat_int_arguments():
    """Nat and Int values around every boxed and digit boundary, with multi-digit ones."""
    naturals = [0, 1, 255, 256, 65535, 65536, (1 << 31) - 1, 1 << 31, (1 << 32) - 1, 1 << 32,
                (1 << 63) - 1, 1 << 63, (1 << 64) - 1, 1 << 64, (1 << 64) + 5,
                (1 << 128) + (1 << 64) + 7, (1 << 200) - 1, random.getrandbits(150)]
    return naturals, sorted(set(naturals + [-v for v in naturals]))


def signed_hex(v):
    return ("-" if v < 0 else "") + hex(abs(v))


def nat_text(v):
    return ("boxed:%d" if v < 1 << 63 else "big:%d") % v


def int_text(v):
    return ("boxed:%d" if -(1 << 31) <= v < 1 << 31 else "big:%d") % v


def emit_integer_cases(out):
    families = list(binary_rules(8, False))
    out.append("@rows binary " + " ".join(families))
    for name, bits in UNSIGNED + SIGNED:
        signed = name.startswith("int") or name == "isize"
        rules = binary_rules(bits, signed)
        for a in operands(bits, signed):
            for b in operands(bits, signed):
                results = " ".join(str(rules[f](a, b)) for f in families)
                out.append("%s %d %d = %s" % (name, a, b, results))

    naturals, integers = nat_int_arguments()
    for name, bits in UNSIGNED + SIGNED:
        signed = name.startswith("int") or name == "isize"
        lo, hi = bounds(bits, signed)
        sym = "quarn_lean_" + name
        values = sorted(set(operands(bits, signed)) | {random.randint(lo, hi) for _ in range(10)})
        for a in values:
            out.append("%s_neg %d = %d" % (sym, a, wrap(-a, bits, signed)))
            out.append("%s_complement %d = %d" % (sym, a, wrap(~a, bits, signed)))
            out.append("%s_to_float %d = %s" % (sym, a, BINARY64.text(BINARY64.round(Fraction(a)))))
            out.append("%s_to_float32 %d = %s" % (sym, a, BINARY32.text(BINARY32.round(Fraction(a)))))
            if signed:
                out.append("%s_abs %d = %d" % (sym, a, wrap(abs(a), bits, True)))
            else:
                out.append("%s_log2 %d = %d" % (sym, a, max(a.bit_length() - 1, 0)))
                out.append("%s_to_nat %d = %s" % (sym, a, nat_text(a)))
            if signed and bits < 64:
                out.append("%s_to_int %d = %s" % (sym, a, int_text(a)))
            if signed and bits == 64:
                to_int = "int64_to_int_sint" if name == "int64" else "isize_to_int"
                out.append("quarn_lean_%s %d = %s" % (to_int, a, int_text(a)))
            for target, target_bits in (SIGNED if signed else UNSIGNED):
                if target != name:
                    out.append("%s_to_%s %d = %d" % (sym, target, a, wrap(a, target_bits, signed)))
        for b in (0, 1):
            out.append("quarn_lean_bool_to_%s %d = %d" % (name, b, b))
        for n in naturals:
            out.append("%s_of_nat %s = %d" % (sym, signed_hex(n), wrap(n, bits, signed)))
            if not signed:
                out.append("%s_of_nat_mk %s = %d" % (sym, signed_hex(n), wrap(n, bits, False)))
        if signed:
            for i in integers:
                out.append("%s_of_int %s = %d" % (sym, signed_hex(i), wrap(i, bits, True)))

    m = 0xC6A4A7935BD1E995
    for _ in range(20):
        h, k = random.getrandbits(64), random.getrandbits(64)
        a = (k * m) % (1 << 64)
        a ^= a >> 47
        a ^= m
        out.append("quarn_lean_uint64_mix_hash %d %d = %d" % (h, k, ((h ^ a) * m) % (1 << 64)))
    for a in (0, 1):
        for b in (0, 1):
            out.append("quarn_lean_strict_and %d %d = %d" % (a, b, a & b))
            out.append("quarn_lean_strict_or %d %d = %d" % (a, b, a | b))


def emit_float_cases(out):
    out.append("@rows float_binary add sub mul div beq decLe decLt")
    for fmt in (BINARY64, BINARY32):
        values = special_values(fmt)
        for a in values:
            for b in values:
                results = [add(fmt, a, b), add(fmt, a, negate(fmt, b)), mul(fmt, a, b), div(fmt, a, b)]
                flags = [compare(fmt, a, b, lambda x, y: x == y), compare(fmt, a, b, lambda x, y: x <= y),
                         compare(fmt, a, b, lambda x, y: x < y)]
                out.append("%s %s %s = %s %s" % (fmt.name, fmt.text(a), fmt.text(b),
                                                 " ".join(text(fmt, r) for r in results),
                                                 " ".join(map(str, flags))))
        other = BINARY32 if fmt is BINARY64 else BINARY64
        sym = "quarn_lean_" + fmt.name
        for a in values:
            t = fmt.text(a)
            out.append("%s_negate %s = %s" % (sym, t, fmt.text(negate(fmt, a))))
            out.append("%s_isnan %s = %d" % (sym, t, fmt.is_nan(a)))
            out.append("%s_isinf %s = %d" % (sym, t, fmt.is_inf(a)))
            out.append("%s_isfinite %s = %d" % (sym, t, not (fmt.is_nan(a) or fmt.is_inf(a))))
            out.append("%s_to_bits %s = %d" % (sym, t, fmt.canonical_nan if fmt.is_nan(a) else a))
            out.append("%s_of_bits %d = %s" % (sym, a, fmt.text(fmt.canonical_nan if fmt.is_nan(a) else a)))
            out.append("%s_frexp %s = %s" % (sym, t, frexp(fmt, a)))
            if fmt.is_nan(a):
                converted = None
            elif fmt.is_inf(a):
                converted = other.inf(fmt.fields(a)[0])
            else:
                converted = other.round(fmt.value(a), negative_zero=fmt.fields(a)[0] == 1)
            out.append("%s_to_%s %s = %s" % (sym, other.name, t, text(other, converted)))
            for e in (0, 1, -1, 3, 1023, 1024, -1022, -1074, -1075, -150, 127, 128,
                      (1 << 31) - 1, -(1 << 31), 1 << 31, -(1 << 31) - 1, 1 << 40, -(1 << 40),
                      (1 << 64) + 1, -(1 << 70)):
                out.append("%s_scaleb %s %s = %s" % (sym, t, signed_hex(e), text(fmt, scaleb(fmt, a, e))))
        for target, bits in UNSIGNED + SIGNED:
            signed = target.startswith("int") or target == "isize"
            for a in values + integer_boundaries(fmt, bits, signed):
                out.append("%s_to_%s %s = %d" % (sym, target, fmt.text(a), saturate(fmt, a, bits, signed)))


def main():
    out = ["# Generated by gen_cases.py; do not edit."]
    emit_integer_cases(out)
    emit_float_cases(out)
    print("\n".join(out))


if __name__ == "__main__":
    main()

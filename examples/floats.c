/*
 * Fixed-width integers and floats, called the way compiled code calls them: unboxed values
 * in registers, a boxed Float where a value must be an object, and the runtime's text.
 */
#include <stdio.h>

#include <quarn/fixed.h>
#include <quarn/quarn.h>

/* Prints a String the runtime made, and releases it. */
static void print_string(const char *label, quarn_object *s) {
    printf("%-34s %s\n", label, ((quarn_string_object *)s)->data);
    quarn_dec(s);
}

int main(void) {
    /* Division never traps: by zero, and the one overflowing quotient. */
    printf("%-34s %d\n", "Int8: -128 / -1", quarn_lean_int8_div(-128, -1));
    printf("%-34s %u\n", "UInt8: 7 % 0", quarn_lean_uint8_mod(7, 0));
    printf("%-34s %d\n", "Int32: MIN >>> -1 (count 31)", quarn_lean_int32_shift_right(INT32_MIN, -1));

    /* Float to integer saturates. */
    printf("%-34s %u\n", "Float.toUInt8 300.0", quarn_lean_float_to_uint8(300.0));
    printf("%-34s %lld\n", "Float.toInt64 -1e300", (long long)quarn_lean_float_to_int64(-1e300));

    /* A UInt64 past 2^63 becomes a big Nat; smaller ones stay boxed. */
    quarn_object *n = quarn_lean_uint64_to_nat(UINT64_MAX);
    printf("%-34s %s, back to UInt64: %llu\n", "UInt64.toNat (2^64 - 1)",
           quarn_is_scalar(n) ? "boxed" : "big number", (unsigned long long)quarn_lean_uint64_of_nat(n));
    quarn_dec(n);

    /* Text, exactly as printf's %.6f, and frexp's pair (mantissa boxed, exponent an Int). */
    print_string("Float.toString 0.1", quarn_lean_float_to_string(0.1));
    print_string("Float.toString 1e20", quarn_lean_float_to_string(1e20));
    print_string("Float32.toString 16777217", quarn_lean_float32_to_string(16777217.0f));
    quarn_object *pair = quarn_lean_float_frexp(8.0);
    printf("%-34s (%g, %u)\n", "Float.frexp 8.0", quarn_unbox_float(quarn_ctor_get(pair, 0)),
           (unsigned)quarn_unbox(quarn_ctor_get(pair, 1)));
    quarn_dec(pair);
    printf("%-34s %.17g\n", "Float.sin 1.0", quarn_sin(1.0));
    return 0;
}

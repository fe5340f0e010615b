/*
 * Arrays as compiled code uses them: a sieve of Eratosthenes over a ByteArray of flags, the
 * primes gathered into an Array of Nat, a reversal by swaps that copies only because a
 * snapshot still shares the array, a list round trip, and slice copies between byte arrays.
 */
#include <stdio.h>

#include <quarn/array.h>

/* The flags of 0 .. n - 1: 1 for a prime. Returns an owned ByteArray. */
static quarn_object *sieve(size_t n) {
    quarn_object *flags = quarn_lean_mk_empty_byte_array(quarn_box(n));
    for (size_t i = 0; i < n; ++i) flags = quarn_lean_byte_array_push(flags, i >= 2);
    for (size_t p = 2; p * p < n; ++p) {
        if (!quarn_lean_byte_array_uget(flags, p)) continue;
        for (size_t m = p * p; m < n; m += p) flags = quarn_lean_byte_array_uset(flags, m, 0);
    }
    return flags;
}

/* The primes the flags mark, in order. Borrows flags; returns an owned Array. */
static quarn_object *primes_of(quarn_object *flags) {
    quarn_object *primes = quarn_lean_mk_empty_array_with_capacity(quarn_box(0));
    for (size_t i = 0, n = quarn_lean_sarray_size(flags); i < n; ++i)
        if (quarn_lean_byte_array_uget(flags, i)) primes = quarn_lean_array_push(primes, quarn_box(i));
    return primes;
}

/* Array.reverse by swaps. Consumes a; returns an owned Array. */
static quarn_object *reverse(quarn_object *a) {
    size_t n = quarn_lean_array_size(a);
    for (size_t i = 0; i < n / 2; ++i)
        a = quarn_lean_array_fswap(a, quarn_box(i), quarn_box(n - 1 - i));
    return a;
}

int main(void) {
    quarn_object *flags = sieve(1000000);
    quarn_object *primes = primes_of(flags);
    size_t count = quarn_lean_array_size(primes);
    printf("%zu primes below 1000000, the array holding them has capacity %zu\n", count,
           ((quarn_array_object *)primes)->capacity);

    /* Keep a snapshot: the reversal then works on a copy and the snapshot is untouched. */
    quarn_inc(primes);
    quarn_object *snapshot = primes;
    quarn_object *reversed = reverse(primes);
    printf("largest %zu, smallest in the snapshot %zu, copied: %s\n",
           quarn_unbox(quarn_lean_array_uget_borrowed(reversed, 0)),
           quarn_unbox(quarn_lean_array_uget_borrowed(snapshot, 0)),
           reversed != snapshot ? "yes" : "no");

    /* The ten largest, through a list. */
    quarn_object *top = quarn_lean_mk_empty_array_with_capacity(quarn_box(10));
    for (size_t i = 0; i < 10; ++i) top = quarn_lean_array_push(top, quarn_lean_array_uget(reversed, i));
    quarn_object *list = quarn_lean_array_to_list(top);
    printf("ten largest:");
    for (quarn_object *cell = list; !quarn_is_scalar(cell); cell = quarn_ctor_get(cell, 1))
        printf(" %zu", quarn_unbox(quarn_ctor_get(cell, 0)));
    printf("\n");
    quarn_dec(list);

    /* The flags of 0 .. 99 rebuilt from two slices equal the sieve of 100. */
    quarn_object *small = sieve(100);
    quarn_object *rebuilt = quarn_lean_mk_empty_byte_array(quarn_box(0));
    rebuilt = quarn_lean_byte_array_copy_slice(flags, quarn_box(50), rebuilt, quarn_box(0),
                                               quarn_box(50), 0);
    rebuilt = quarn_lean_byte_array_copy_slice(flags, quarn_box(0), rebuilt, quarn_box(0),
                                               quarn_box(50), 0);
    rebuilt = quarn_lean_byte_array_copy_slice(flags, quarn_box(50), rebuilt, quarn_box(50),
                                               quarn_box(50), 1);
    printf("flags of 0..99 rebuilt from slices match: %s (hash %016llx)\n",
           quarn_lean_sarray_dec_eq(small, rebuilt) ? "yes" : "no",
           (unsigned long long)quarn_lean_byte_array_hash(rebuilt));

    quarn_dec(small);
    quarn_dec(rebuilt);
    quarn_dec(snapshot);
    quarn_dec(reversed);
    quarn_dec(flags);
    return 0;
}

/*
 * A parallel computation as compiled code writes it: the sum of squares of an array, split
 * into chunks. Each chunk is a task spawned at a priority; task_map turns each partial sum
 * into its share modulo a prime; task_bind chains a running total through the shares; a
 * task of dedicated priority waits for the total and resolves a promise with it, and main
 * reads the promise's result. The answer is checked against a sequential run.
 */
#include <stdio.h>

#include <quarn/quarn.h>

#define ELEMENTS 2000000u
#define CHUNKS 16u
#define PRIME 1000000007u

/* Boxed Nat below 2^63. */
static quarn_object *nat(size_t n) { return quarn_box(n); }
static size_t nat_of(quarn_object *v) { return quarn_unbox(v); }

/* IO results: `ok v` is tag 0 with the value and the world. */
static quarn_object *io_ok(quarn_object *v) {
    quarn_object *r = quarn_alloc_ctor(0, 2, 0);
    quarn_ctor_set(r, 0, v);
    quarn_ctor_set(r, 1, quarn_box(0));
    return r;
}

/* fun () => (xs.extract lo hi).foldl (· + ·^2) 0, with xs, lo and hi captured. */
static quarn_object *chunk_sum_of_squares(quarn_object *xs, quarn_object *lo, quarn_object *hi,
                                          quarn_object *unit) {
    (void)unit;
    size_t total = 0;
    for (size_t i = nat_of(lo); i < nat_of(hi); ++i) {
        size_t x = nat_of(quarn_lean_array_uget_borrowed(xs, i));
        total += x * x;
    }
    quarn_dec(xs);
    return nat(total);
}

/* fun s => s % PRIME */
static quarn_object *share(quarn_object *s) { return nat(nat_of(s) % PRIME); }

/* fun total share => (total + share) % PRIME */
static quarn_object *add_share(quarn_object *total, quarn_object *s) {
    return nat((nat_of(total) + nat_of(s)) % PRIME);
}

/* fun total => shareTask.map (add_share total): the step chained by bind. */
static quarn_object *then_add(quarn_object *share_task, quarn_object *total) {
    quarn_object *f = quarn_alloc_closure((void *)add_share, 2, 1);
    quarn_closure_set(f, 0, total);
    return quarn_lean_task_map(f, share_task, nat(0), 0);
}

/* fun () => do let v ← IO.wait total; promise.resolve v: the dedicated task. */
static quarn_object *publish(quarn_object *total_task, quarn_object *promise, quarn_object *world) {
    (void)world;
    quarn_object *v = quarn_lean_io_wait(total_task);
    quarn_lean_io_promise_resolve(v, promise);
    quarn_dec(promise);
    return io_ok(quarn_box(0));
}

static quarn_object *lean_main(void) {
    quarn_object *xs = quarn_lean_mk_empty_array_with_capacity(nat(ELEMENTS));
    for (size_t i = 0; i < ELEMENTS; ++i) xs = quarn_lean_array_push(xs, nat(i % 100000));

    /* Sequential reference. */
    size_t expected = 0;
    for (size_t i = 0; i < ELEMENTS; ++i) {
        size_t x = i % 100000;
        expected = (expected + x * x % PRIME) % PRIME;
    }

    quarn_object *total = quarn_lean_task_pure(nat(0));
    size_t per_chunk = ELEMENTS / CHUNKS;
    for (size_t c = 0; c < CHUNKS; ++c) {
        quarn_object *work = quarn_alloc_closure((void *)chunk_sum_of_squares, 4, 3);
        quarn_inc(xs);
        quarn_closure_set(work, 0, xs);
        quarn_closure_set(work, 1, nat(c * per_chunk));
        quarn_closure_set(work, 2, nat(c + 1 == CHUNKS ? ELEMENTS : (c + 1) * per_chunk));
        quarn_object *partial = quarn_lean_task_spawn(work, nat(c % 9)); /* priorities 0-8 */
        quarn_object *shared = quarn_lean_task_map(quarn_alloc_closure((void *)share, 1, 0), partial, nat(0), 0);
        quarn_object *step = quarn_alloc_closure((void *)then_add, 2, 1);
        quarn_closure_set(step, 0, shared);
        total = quarn_lean_task_bind(total, step, nat(0), 0);
    }
    quarn_dec(xs);

    quarn_object *promise = quarn_lean_io_promise_new();
    quarn_object *result = quarn_lean_io_promise_result_opt(promise);
    quarn_object *action = quarn_alloc_closure((void *)publish, 3, 2);
    quarn_closure_set(action, 0, total);
    quarn_closure_set(action, 1, promise);
    quarn_dec(quarn_lean_io_as_task(action, nat(9))); /* dedicated; kept alive by the manager */

    quarn_object *answer = quarn_lean_option_get_or_block(quarn_lean_io_wait(result));
    size_t parallel = nat_of(answer);
    printf("sum of squares of %u numbers mod %u: %zu in %u tasks, %zu sequentially: %s\n", ELEMENTS,
           PRIME, parallel, CHUNKS, expected, parallel == expected ? "same" : "DIFFERENT");
    return io_ok(quarn_box(parallel == expected ? 0 : 1));
}

int main(int argc, char **argv) {
    return (int)quarn_run_main(NULL, (void *)lean_main, 0, 1, argc, argv);
}

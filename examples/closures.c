/*
 * Closures as compiled code uses them: partial application, over-application, a function
 * of more than 16 arguments, mapping a closure over a list, a reference cell as a mutable
 * counter, and a thunk forced by several threads at once that is computed only once.
 */
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>

#include <quarn/closure.h>
#include <quarn/quarn.h>

/* ---- compiled Lean functions: value words in, value word out, arguments consumed ------ */

/* def add3 (a b c : Nat) := a + b + c  (small naturals are scalars) */
static quarn_object *add3(quarn_object *a, quarn_object *b, quarn_object *c) {
    return quarn_box(quarn_unbox(a) + quarn_unbox(b) + quarn_unbox(c));
}

static quarn_object *add2(quarn_object *a, quarn_object *b) {
    return quarn_box(quarn_unbox(a) + quarn_unbox(b));
}

/* def adder (n : Nat) : Nat -> Nat := fun m => n + m */
static quarn_object *adder(quarn_object *n) {
    quarn_object *f = quarn_alloc_closure((void *)add2, 2, 1);
    quarn_closure_set(f, 0, n);
    return f;
}

/* A function of 17 arguments takes them as one array. */
static quarn_object *sum17(quarn_object **args) {
    size_t total = 0;
    for (int i = 0; i < 17; ++i) total += quarn_unbox(args[i]);
    return quarn_box(total);
}

/* List.cons: tag 1, head then tail. */
static quarn_object *cons(quarn_object *head, quarn_object *tail) {
    quarn_object *cell = quarn_alloc_ctor(1, 2, 0);
    quarn_ctor_set(cell, 0, head);
    quarn_ctor_set(cell, 1, tail);
    return cell;
}

/* List.map f xs, consuming f and xs; each element gets its own reference to f. */
static quarn_object *list_map(quarn_object *f, quarn_object *xs) {
    if (quarn_is_scalar(xs)) {
        quarn_dec(f);
        return xs;
    }
    quarn_object *head = quarn_ctor_get(xs, 0), *tail = quarn_ctor_get(xs, 1);
    quarn_inc(head);
    quarn_inc(tail);
    quarn_dec(xs);
    quarn_inc(f);
    quarn_object *mapped = quarn_apply_1(f, head);
    return cons(mapped, list_map(f, tail));
}

static void print_list(const char *label, quarn_object *xs) {
    printf("%s [", label);
    for (const char *sep = ""; !quarn_is_scalar(xs); xs = quarn_ctor_get(xs, 1), sep = ", ")
        printf("%s%zu", sep, quarn_unbox(quarn_ctor_get(xs, 0)));
    printf("]\n");
}

/* ---- a thunk shared between threads ------------------------------------------------- */

static atomic_int evaluations;

/* fun () => the sum of 0 .. 9999999, boxed as a UInt64 (run once, however many force it) */
static quarn_object *expensive_sum(quarn_object *unit) {
    (void)unit;
    atomic_fetch_add(&evaluations, 1);
    uint64_t total = 0;
    for (uint64_t i = 0; i < 10000000; ++i) total += i;
    return quarn_box_uint64(total);
}

static void *force(void *thunk) { return quarn_lean_thunk_get_own((quarn_object *)thunk); }

int main(void) {
    /* Under-application, twice, then exact application. */
    quarn_object *f = quarn_alloc_closure((void *)add3, 3, 1);
    quarn_closure_set(f, 0, quarn_box(100));
    quarn_object *g = quarn_apply_1(f, quarn_box(20)); /* waits for one more */
    printf("add3 100 20 waits for %u more argument\n",
           quarn_closure_arity(g) - quarn_closure_num_fixed(g));
    printf("add3 100 20 3 = %zu\n", quarn_unbox(quarn_apply_1(g, quarn_box(3))));

    /* Over-application: adder takes one argument and returns a function. */
    quarn_object *make_adder = quarn_alloc_closure((void *)adder, 1, 0);
    printf("adder 5 7 = %zu\n", quarn_unbox(quarn_apply_2(make_adder, quarn_box(5), quarn_box(7))));

    /* More than 16 arguments: one fixed, sixteen applied through an array. */
    quarn_object *wide = quarn_alloc_closure((void *)sum17, 17, 1);
    quarn_closure_set(wide, 0, quarn_box(1000));
    quarn_object *args[16];
    for (int i = 0; i < 16; ++i) args[i] = quarn_box((size_t)i + 1);
    printf("sum17 1000 1 .. 16 = %zu\n", quarn_unbox(quarn_apply_m(wide, 16, args)));

    /* Mapping a partially applied closure over a list. */
    quarn_object *xs = quarn_box(0);
    for (size_t i = 5; i > 0; --i) xs = cons(quarn_box(i), xs);
    quarn_object *plus_ten = quarn_apply_1(quarn_alloc_closure((void *)add2, 2, 0), quarn_box(10));
    quarn_object *ys = list_map(plus_ten, xs);
    print_list("map (10 + .) [1, 2, 3, 4, 5] =", ys);
    quarn_dec(ys);

    /* A reference cell as a mutable counter (ST.Ref). */
    quarn_object *counter = quarn_lean_st_mk_ref(quarn_box(0));
    for (int i = 0; i < 10; ++i) {
        quarn_object *n = quarn_lean_st_ref_get(counter);
        quarn_lean_st_ref_set(counter, quarn_box(quarn_unbox(n) + 1));
    }
    quarn_object *old = quarn_lean_st_ref_swap(counter, quarn_box(0));
    printf("counter after ten increments: %zu (reset to 0 by swap)\n", quarn_unbox(old));
    quarn_dec(counter);

    /* One thunk, forced by four threads at the same time. */
    quarn_object *closure = quarn_alloc_closure((void *)expensive_sum, 1, 0);
    quarn_object *thunk = quarn_lean_mk_thunk(closure);
    quarn_mark_mt(thunk); /* about to be seen by other threads */
    pthread_t threads[4];
    for (int i = 0; i < 4; ++i) pthread_create(&threads[i], NULL, force, thunk);
    for (int i = 0; i < 4; ++i) {
        void *value;
        pthread_join(threads[i], &value);
        printf("thread %d got %llu\n", i,
               (unsigned long long)quarn_unbox_uint64((quarn_object *)value));
        quarn_dec((quarn_object *)value);
    }
    printf("the thunk's closure ran %d time(s)\n", atomic_load(&evaluations));
    quarn_dec(thunk);
    return 0;
}

/*
 * Lists of constructor objects, as compiled code builds them: a million cons cells, shared
 * with a second owner, mapped, marked multi-threaded and released without deep recursion.
 */
#include <stdio.h>

#include <quarn/quarn.h>

/* List.cons: tag 1, head then tail. */
static quarn_object *cons(quarn_object *head, quarn_object *tail) {
    quarn_object *cell = quarn_alloc_ctor(1, 2, 0);
    quarn_ctor_set(cell, 0, head);
    quarn_ctor_set(cell, 1, tail);
    return cell;
}

/* List.range n = [0, 1, ..., n - 1] */
static quarn_object *range(size_t n) {
    quarn_object *list = quarn_box(0);
    while (n > 0) list = cons(quarn_box(--n), list);
    return list;
}

/* Sums a list it borrows. */
static size_t sum(quarn_object *list) {
    size_t total = 0;
    for (; !quarn_is_scalar(list); list = quarn_ctor_get(list, 1))
        total += quarn_unbox(quarn_ctor_get(list, 0));
    return total;
}

/* List.map (· * 2), consuming its list: an exclusive cell is reused in place, a shared one
 * is copied, the way compiled code does after checking quarn_is_exclusive. */
static quarn_object *double_all(quarn_object *list) {
    if (quarn_is_scalar(list)) return list;
    quarn_object *head = quarn_ctor_get(list, 0);
    quarn_object *tail = quarn_ctor_get(list, 1);
    quarn_object *result = quarn_box(0);
    quarn_object **hole = &result;
    while (!quarn_is_scalar(list)) {
        head = quarn_ctor_get(list, 0);
        tail = quarn_ctor_get(list, 1);
        quarn_object *cell;
        if (quarn_is_exclusive(list)) {
            cell = list; /* reuse the cell */
        } else {
            quarn_inc(tail);
            quarn_dec(list);
            cell = quarn_alloc_ctor(1, 2, 0);
        }
        quarn_ctor_set(cell, 0, quarn_box(quarn_unbox(head) * 2));
        *hole = cell;
        hole = &((quarn_ctor_object *)cell)->fields[1];
        list = tail;
    }
    *hole = list;
    return result;
}

int main(void) {
    const size_t n = 1000000;
    quarn_object *numbers = range(n);
    printf("built a list of %zu cells; sum %zu\n", n, sum(numbers));

    quarn_inc(numbers); /* a second owner */
    quarn_object *doubled = double_all(numbers);
    printf("mapped the shared list: sum of doubles %zu, original still sums to %zu (rc %d)\n",
           sum(doubled), sum(numbers), numbers->rc);

    quarn_object *again = double_all(doubled); /* exclusive: cells reused in place */
    printf("mapped the exclusive list in place: sum %zu, same first cell: %s\n", sum(again),
           again == doubled ? "yes" : "no");

    quarn_mark_mt(numbers);
    printf("marked multi-threaded: rc of the first cell is %d\n", numbers->rc);

    quarn_dec(numbers);
    quarn_dec(again);
    printf("released both lists (two million cells) without recursion\n");
    return 0;
}

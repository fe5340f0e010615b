/*
 * Sharing common subterms: a balanced tree whose leaves repeat a few strings and numbers,
 * built without any sharing, then shared. Prints the distinct objects and their bytes
 * before and after.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <quarn/quarn.h>

static const char *const words[] = {"alpha", "beta", "gamma"};

/* A leaf: tag 2, a string and a number. */
static quarn_object *leaf(size_t i) {
    const char *w = words[i % 3];
    quarn_object *o = quarn_alloc_ctor(2, 2, 0);
    quarn_ctor_set(o, 0, quarn_mk_string_unchecked(w, strlen(w), strlen(w)));
    quarn_ctor_set(o, 1, quarn_box(i % 5));
    return o;
}

/* A node: tag 1, left and right. Leaf numbers run from `first`. */
static quarn_object *tree(unsigned depth, size_t first) {
    if (depth == 0) return leaf(first);
    quarn_object *o = quarn_alloc_ctor(1, 2, 0);
    quarn_ctor_set(o, 0, tree(depth - 1, first));
    quarn_ctor_set(o, 1, tree(depth - 1, first + ((size_t)1 << (depth - 1))));
    return o;
}

/* The bytes of one object of this tree: a constructor's header and fields, or a string's
 * header, counts and text. */
static size_t bytes_of(const quarn_object *o) {
    if (quarn_ptr_tag(o) == QUARN_TAG_STRING)
        return sizeof(quarn_string_object) + ((const quarn_string_object *)o)->capacity;
    return sizeof(quarn_object) + 8 * quarn_ctor_num_objs(o);
}

/* Counts the distinct objects reachable from v and their bytes, with an explicit stack and
 * an open-addressing set of the objects seen. Borrows v. */
static void count(quarn_object *v, size_t *objects, size_t *bytes) {
    size_t capacity = 1 << 16, seen_count = 0, depth = 0;
    const quarn_object **seen = calloc(capacity, sizeof *seen);
    quarn_object **stack = malloc(capacity * sizeof *stack);
    if (seen == NULL || stack == NULL) abort();
    *objects = *bytes = 0;
    stack[depth++] = v;
    while (depth > 0) {
        quarn_object *o = stack[--depth];
        if (quarn_is_scalar(o)) continue;
        size_t slot = ((uintptr_t)o >> 3) * 0x9E3779B97F4A7C15u >> 48;
        while (seen[slot] != NULL && seen[slot] != o) slot = (slot + 1) & (capacity - 1);
        if (seen[slot] == o) continue;
        seen[slot] = o;
        if (++seen_count > capacity / 2) abort(); /* the tree here stays well below */
        *objects += 1;
        *bytes += bytes_of(o);
        if (quarn_ptr_tag(o) <= QUARN_MAX_CTOR_TAG)
            for (unsigned i = 0; i < quarn_ctor_num_objs(o); ++i) stack[depth++] = quarn_ctor_get(o, i);
    }
    free(seen);
    free(stack);
}

int main(void) {
    quarn_object *value = tree(10, 0);
    size_t objects, bytes;
    count(value, &objects, &bytes);
    printf("before: %zu objects, %zu bytes\n", objects, bytes);
    quarn_object *shared = quarn_lean_sharecommon_quick(value);
    quarn_dec(value);
    count(shared, &objects, &bytes);
    printf("after:  %zu objects, %zu bytes\n", objects, bytes);
    quarn_dec(shared);
    return 0;
}

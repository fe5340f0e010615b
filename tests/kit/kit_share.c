/*
 * The program's side of the sharing pass kept in a state: a state factory whose map and set
 * are Lean values, hash tables as Lean's own are built. A table is a tag-0 constructor of one
 * field, the bucket array, with the entry count in its scalar area; a bucket is a chain of
 * entries, each a tag-0 constructor (key, value, next) with the key's hash in its scalar area.
 * Updates are in place when the table and its buckets are exclusive, copies otherwise.
 */
#include <stdint.h>
#include <string.h>

#include "kit.h"
#include "quarn/array.h"
#include "quarn/closure.h"
#include "quarn/share.h"

static kit_share_calls calls;

kit_share_calls kit_share_call_counts(void) { return calls; }

enum { INITIAL_BUCKETS = 8 };

static quarn_object **buckets_of(quarn_object *table) {
    return ((quarn_array_object *)quarn_ctor_get(table, 0))->data;
}
static size_t bucket_count(quarn_object *table) {
    return ((quarn_array_object *)quarn_ctor_get(table, 0))->size;
}
static uint64_t entry_hash(const quarn_object *entry) { return quarn_ctor_get_uint64(entry, 24); }

static quarn_object *new_table(size_t buckets) {
    quarn_object *table = quarn_alloc_ctor(0, 1, 8);
    quarn_ctor_set(table, 0, quarn_lean_mk_array(quarn_box(buckets), quarn_box(0)));
    quarn_ctor_set_uint64(table, 8, 0);
    return table;
}

size_t kit_share_table_size(const quarn_object *table) { return quarn_ctor_get_uint64(table, 8); }

static quarn_object *new_entry(quarn_object *key, quarn_object *value, quarn_object *next,
                               uint64_t hash) {
    quarn_object *entry = quarn_alloc_ctor(0, 3, 8);
    quarn_ctor_set(entry, 0, key);
    quarn_ctor_set(entry, 1, value);
    quarn_ctor_set(entry, 2, next);
    quarn_ctor_set_uint64(entry, 24, hash);
    return entry;
}

/* Identity for the map, shallow equality for the set. */
static uint64_t identity_hash(quarn_object *o) {
    uint64_t k = (uint64_t)quarn_lean_ptr_addr(o) * 0xC6A4A7935BD1E995ull;
    return k ^ (k >> 29);
}
static uint64_t key_hash(quarn_object *key, int by_content) {
    return by_content ? quarn_lean_sharecommon_hash(key) : identity_hash(key);
}
static int same_key(quarn_object *a, quarn_object *b, int by_content) {
    return by_content ? quarn_lean_sharecommon_eq(a, b) : a == b;
}

/* The entry for key, or null. Borrows both. */
static quarn_object *lookup(quarn_object *table, quarn_object *key, int by_content) {
    uint64_t hash = key_hash(key, by_content);
    quarn_object *entry = buckets_of(table)[hash & (bucket_count(table) - 1)];
    for (; !quarn_is_scalar(entry); entry = quarn_ctor_get(entry, 2))
        if (entry_hash(entry) == hash && same_key(quarn_ctor_get(entry, 0), key, by_content))
            return entry;
    return NULL;
}

/* A table the caller may update: the table itself when it and its buckets are exclusive, a
 * copy otherwise, with room for one more entry. Consumes table. */
static quarn_object *writable(quarn_object *table) {
    size_t count = kit_share_table_size(table), n = bucket_count(table);
    size_t wanted = count + 1 > 2 * n ? 2 * n : n;
    if (wanted == n && quarn_is_exclusive(table) && quarn_is_exclusive(quarn_ctor_get(table, 0)))
        return table;
    quarn_object *copy = new_table(wanted);
    quarn_object **to = buckets_of(copy);
    quarn_object **from = buckets_of(table);
    if (wanted == n) {
        for (size_t i = 0; i < n; ++i) {
            quarn_inc(from[i]);
            to[i] = from[i];
        }
    } else {
        for (size_t i = 0; i < n; ++i)
            for (quarn_object *e = from[i]; !quarn_is_scalar(e); e = quarn_ctor_get(e, 2)) {
                quarn_object *key = quarn_ctor_get(e, 0), *value = quarn_ctor_get(e, 1);
                size_t slot = entry_hash(e) & (wanted - 1);
                quarn_inc(key);
                quarn_inc(value);
                to[slot] = new_entry(key, value, to[slot], entry_hash(e));
            }
    }
    quarn_ctor_set_uint64(copy, 8, count);
    quarn_dec(table);
    return copy;
}

/* Consumes table, key and value. */
static quarn_object *insert(quarn_object *table, quarn_object *key, quarn_object *value,
                            int by_content) {
    uint64_t hash = key_hash(key, by_content);
    table = writable(table);
    quarn_object **slot = &buckets_of(table)[hash & (bucket_count(table) - 1)];
    *slot = new_entry(key, value, *slot, hash);
    quarn_ctor_set_uint64(table, 8, kit_share_table_size(table) + 1);
    return table;
}

/* Consumes table and key. */
static quarn_object *find(quarn_object *table, quarn_object *key, int by_content) {
    quarn_object *entry = lookup(table, key, by_content);
    quarn_object *result = quarn_box(0);
    if (entry != NULL) {
        quarn_object *found = quarn_ctor_get(entry, by_content ? 0 : 1);
        quarn_inc(found);
        result = kit_some(found);
    }
    quarn_dec(table);
    quarn_dec(key);
    return result;
}

static quarn_object *map_find(quarn_object *map, quarn_object *key) {
    ++calls.map_find;
    return find(map, key, 0);
}
static quarn_object *map_insert(quarn_object *map, quarn_object *key, quarn_object *value) {
    ++calls.map_insert;
    return insert(map, key, value, 0);
}
static quarn_object *set_find(quarn_object *set, quarn_object *o) {
    ++calls.set_find;
    return find(set, o, 1);
}
static quarn_object *set_insert(quarn_object *set, quarn_object *o) {
    ++calls.set_insert;
    return insert(set, o, quarn_box(0), 1);
}
/* A map that forgets what it is told. */
static quarn_object *map_forget(quarn_object *map, quarn_object *key, quarn_object *value) {
    ++calls.map_insert;
    quarn_dec(key);
    quarn_dec(value);
    return map;
}

static quarn_object *closure_of(void *code, unsigned arity) {
    return quarn_alloc_closure(code, arity, 0);
}

static quarn_object *factory_with(void *insert_code) {
    quarn_object *factory = quarn_alloc_ctor(0, 5, 0);
    quarn_ctor_set(factory, 0, quarn_box(0)); /* the state maker, which the runtime never calls */
    quarn_ctor_set(factory, 1, closure_of((void *)map_find, 2));
    quarn_ctor_set(factory, 2, closure_of(insert_code, 3));
    quarn_ctor_set(factory, 3, closure_of((void *)set_find, 2));
    quarn_ctor_set(factory, 4, closure_of((void *)set_insert, 2));
    return factory;
}

quarn_object *kit_share_factory(void) { return factory_with((void *)map_insert); }

quarn_object *kit_share_forgetful_factory(void) { return factory_with((void *)map_forget); }

quarn_object *kit_share_state(void) {
    quarn_object *state = quarn_alloc_ctor(0, 2, 0);
    quarn_ctor_set(state, 0, new_table(INITIAL_BUCKETS));
    quarn_ctor_set(state, 1, new_table(INITIAL_BUCKETS));
    return state;
}

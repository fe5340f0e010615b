/*
 * Text work as compiled code does it: bytes checked as UTF-8 and made a String, the text
 * walked character by character with byte positions, each word lowercased into a string
 * grown in place, the words counted in an open-addressing table of two Arrays keyed by the
 * string hash, and the most frequent words printed.
 */
#include <stdio.h>
#include <string.h>

#include <quarn/array.h>
#include <quarn/string.h>

static const char kText[] =
    "The cat sat on the mat. Le chat \xC3\xA9tait sur le tapis, et le chat dormait. "
    "Die Katze sa\xC3\x9F auf der Matte \xE2\x80\x94 \xC3\x9C" "BER der Matte, sagt der "
    "Hund. The dog and the cat: \xC3\x89T\xC3\x89, \xC3\xA9t\xC3\xA9, summer! "
    "\xCE\xB3\xCE\xAC\xCF\x84\xCE\xB1 means cat, \xE7\x8C\xAB too; the cat \xF0\x9F\x90\x88 "
    "is everywhere, and the mat is where the cat is.";

/* A letter for this example: ASCII letters and every character from U+00C0 on, except
 * the general punctuation block (dashes, quotes) and U+00D7 / U+00F7. */
static int is_letter(uint32_t c) {
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return 1;
    if (c < 0xC0 || c == 0xD7 || c == 0xF7) return 0;
    return !(c >= 0x2000 && c <= 0x206F);
}

/* Lowercase for ASCII and for the Latin-1 capitals U+00C0 to U+00DE. */
static uint32_t to_lower(uint32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}

/* The word table: `keys` holds a word or the scalar 0 in each slot, `counts` a boxed Nat. */
typedef struct {
    quarn_object *keys;
    quarn_object *counts;
    size_t used;
} word_table;

static word_table table_new(size_t slots) {
    word_table t = {quarn_lean_mk_array(quarn_box(slots), quarn_box(0)),
                    quarn_lean_mk_array(quarn_box(slots), quarn_box(0)), 0};
    return t;
}

/* The slot that holds `word` or the empty slot where it belongs. Borrows word. */
static size_t table_find(const word_table *t, quarn_object *word) {
    size_t mask = quarn_lean_array_size(t->keys) - 1;
    size_t i = (size_t)quarn_lean_string_hash(word) & mask;
    for (;; i = (i + 1) & mask) {
        quarn_object *key = quarn_lean_array_uget_borrowed(t->keys, i);
        if (quarn_is_scalar(key) || quarn_lean_string_dec_eq(key, word)) return i;
    }
}

static void table_add(word_table *t, quarn_object *word, size_t count);

/* Doubles the table once it is half full, moving every word to its new slot. */
static void table_grow(word_table *t) {
    size_t slots = quarn_lean_array_size(t->keys);
    word_table bigger = table_new(2 * slots);
    for (size_t i = 0; i < slots; ++i) {
        quarn_object *key = quarn_lean_array_uget(t->keys, i);
        if (!quarn_is_scalar(key))
            table_add(&bigger, key, quarn_unbox(quarn_lean_array_uget_borrowed(t->counts, i)));
    }
    quarn_dec(t->keys);
    quarn_dec(t->counts);
    *t = bigger;
}

/* Adds `count` occurrences of word. Consumes word. */
static void table_add(word_table *t, quarn_object *word, size_t count) {
    if (2 * (t->used + 1) > quarn_lean_array_size(t->keys)) table_grow(t);
    size_t i = table_find(t, word);
    quarn_object *old = quarn_lean_array_uget_borrowed(t->counts, i);
    if (quarn_is_scalar(quarn_lean_array_uget_borrowed(t->keys, i))) {
        t->keys = quarn_lean_array_uset(t->keys, i, word);
        t->used += 1;
    } else {
        quarn_dec(word);
    }
    t->counts = quarn_lean_array_uset(t->counts, i, quarn_box(quarn_unbox(old) + count));
}

/* Splits the text into lowercased words and counts them. Borrows text. */
static size_t count_words(quarn_object *text, word_table *table) {
    size_t words = 0;
    quarn_object *word = NULL;
    quarn_object *p = quarn_box(0);
    for (;;) {
        int at_end = quarn_lean_string_utf8_at_end(text, p);
        uint32_t c = at_end ? 0 : quarn_lean_string_utf8_get(text, p);
        if (!at_end && is_letter(c)) {
            if (word == NULL) word = quarn_mk_string_unchecked("", 0, 0);
            word = quarn_string_push(word, to_lower(c));
        } else if (word != NULL) {
            table_add(table, word, 1);
            word = NULL;
            words += 1;
        }
        if (at_end) break;
        p = quarn_lean_string_utf8_next(text, p); /* a scalar: no reference to drop */
    }
    return words;
}

int main(void) {
    /* Bytes from outside are checked before they become a String. */
    quarn_object *bytes = quarn_lean_mk_empty_byte_array(quarn_box(sizeof kText - 1));
    for (size_t i = 0; i + 1 < sizeof kText; ++i)
        bytes = quarn_lean_byte_array_push(bytes, (uint8_t)kText[i]);
    if (!quarn_lean_string_validate_utf8(bytes)) {
        printf("the text is not UTF-8\n");
        return 1;
    }
    quarn_object *text = quarn_lean_string_from_utf8_unchecked(bytes);
    printf("text: %zu bytes, %zu characters\n",
           quarn_unbox(quarn_lean_string_utf8_byte_size(text)),
           quarn_unbox(quarn_lean_string_length(text)));

    word_table table = table_new(8);
    size_t words = count_words(text, &table);
    printf("%zu words, %zu different, in a table of %zu slots\n", words, table.used,
           quarn_lean_array_size(table.keys));

    /* Lowercasing turned "ÉTÉ" into "été": both count as one word. */
    quarn_object *ete = quarn_mk_string_unchecked("\xC3\xA9t\xC3\xA9", 5, 3);
    size_t slot = table_find(&table, ete);
    printf("\"%s\" (from \"\xC3\x89T\xC3\x89\" and \"%s\") counted %zu times\n",
           quarn_string_cstr(ete), quarn_string_cstr(ete),
           quarn_unbox(quarn_lean_array_uget_borrowed(table.counts, slot)));
    quarn_dec(ete);

    /* The five most frequent, ties in byte order: a selection over the table. */
    printf("most frequent:\n");
    for (int rank = 0; rank < 5; ++rank) {
        size_t best = (size_t)-1, best_count = 0;
        for (size_t i = 0; i < quarn_lean_array_size(table.keys); ++i) {
            quarn_object *key = quarn_lean_array_uget_borrowed(table.keys, i);
            size_t count = quarn_unbox(quarn_lean_array_uget_borrowed(table.counts, i));
            if (quarn_is_scalar(key) || count == 0) continue;
            if (count < best_count) continue;
            if (count == best_count &&
                !quarn_lean_string_dec_lt(key, quarn_lean_array_uget_borrowed(table.keys, best)))
                continue;
            best = i;
            best_count = count;
        }
        quarn_object *word = quarn_lean_array_uget_borrowed(table.keys, best);
        printf("  %-6s %zu  (%zu characters, %zu bytes)\n", quarn_string_cstr(word), best_count,
               quarn_string_len(word), quarn_string_size(word) - 1);
        table.counts = quarn_lean_array_uset(table.counts, best, quarn_box(0)); /* taken */
    }

    /* Ill-formed bytes are refused: a surrogate encoded in three bytes. */
    quarn_object *bad = quarn_lean_mk_empty_byte_array(quarn_box(3));
    bad = quarn_lean_byte_array_push(bad, 0xED);
    bad = quarn_lean_byte_array_push(bad, 0xA0);
    bad = quarn_lean_byte_array_push(bad, 0x80);
    printf("ED A0 80 is %s\n", quarn_lean_string_validate_utf8(bad) ? "UTF-8" : "not UTF-8");

    quarn_dec(bad);
    quarn_dec(table.keys);
    quarn_dec(table.counts);
    quarn_dec(text);
    return 0;
}

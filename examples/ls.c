/*
 * ls: lists the folder given as argument, sorted by name, with each entry's kind and, for
 * files, its size, read from the metadata records.
 *
 * Lean source, in spirit:
 *   def main (args : List String) : IO UInt32 := do
 *     let dir := args.head!
 *     let entries := (← System.FilePath.readDir dir).qsort (·.fileName < ·.fileName)
 *     for e in entries do
 *       let m ← e.path.metadata
 *       match m.type with
 *       | .dir => IO.println s!"dir  {e.fileName}/"
 *       | .file => IO.println s!"file {e.fileName} {m.byteSize}"
 *       | .symlink => IO.println s!"link {e.fileName}"
 *       | .other => IO.println s!"other {e.fileName}"
 *     return 0
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <quarn/quarn.h>

#include "io_error_prelude.h"

static const char *name_of(quarn_object *entry) {
    return ((quarn_string_object *)quarn_ctor_get(entry, 1))->data;
}

static int by_name(const void *a, const void *b) {
    return strcmp(name_of(*(quarn_object *const *)a), name_of(*(quarn_object *const *)b));
}

/* Prints one entry's line. Borrows entry. Returns the IO result. */
static quarn_object *describe(quarn_object *entry) {
    quarn_object *dir = quarn_ctor_get(entry, 0), *name = quarn_ctor_get(entry, 1);
    quarn_inc(dir);
    quarn_inc(name);
    quarn_object *path = quarn_lean_string_append(quarn_lean_string_push(dir, '/'), name);
    quarn_dec(name);
    quarn_object *error = NULL;
    quarn_object *metadata = prelude_take(quarn_lean_io_metadata(path), &error);
    quarn_dec(path);
    if (metadata == NULL) return error;
    uint64_t size = quarn_ctor_get_uint64(metadata, 16);
    uint8_t kind = quarn_ctor_scalar_area(metadata)[16];
    quarn_dec(metadata);
    char line[4200];
    switch (kind) {
    case QUARN_FILE_DIRECTORY: snprintf(line, sizeof line, "dir  %s/\n", name_of(entry)); break;
    case QUARN_FILE_REGULAR:
        snprintf(line, sizeof line, "file %s %llu\n", name_of(entry), (unsigned long long)size);
        break;
    case QUARN_FILE_SYMLINK: snprintf(line, sizeof line, "link %s\n", name_of(entry)); break;
    default: snprintf(line, sizeof line, "other %s\n", name_of(entry)); break;
    }
    return prelude_print_text(line);
}

static quarn_object *lean_main(quarn_object *args) {
    quarn_object *dir = quarn_is_scalar(args) ? quarn_mk_string_unchecked(".", 1, 1) : quarn_ctor_get(args, 0);
    if (!quarn_is_scalar(args)) quarn_inc(dir);
    quarn_dec(args);
    quarn_object *error = NULL;
    quarn_object *entries = prelude_take(quarn_lean_io_read_dir(dir), &error);
    quarn_dec(dir);
    if (entries == NULL) return error;
    quarn_array_object *array = (quarn_array_object *)entries;
    qsort(array->data, array->size, sizeof(quarn_object *), by_name);
    for (size_t i = 0; i < array->size; ++i) {
        quarn_object *printed = describe(array->data[i]);
        if (!quarn_io_result_is_ok(printed)) {
            quarn_dec(entries);
            return printed;
        }
        quarn_dec(printed);
    }
    quarn_dec(entries);
    return prelude_io_ok(quarn_box(0));
}

int main(int argc, char **argv) {
    prelude_register_io_errors();
    return (int)quarn_run_main(NULL, (void *)lean_main, 1, 1, argc - 1, argv + 1);
}

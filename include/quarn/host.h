/*
 * quarn/host.h: the interface of a host program that embeds a compiled Lean program.
 *
 * A host never sees Lean objects. It loads the program's type table, describes types with
 * type handles, builds the arguments of calls as host values (a tree of typed records),
 * and reads results the same way. Lean closures and opaque Lean objects reach the host only
 * as numbers of the process-wide handle table. Compiles alone as C11 and as C++; it does
 * not include <quarn/quarn.h>.
 *
 * Fatal misuse. Every function here reports a misuse (a null pointer where a record is
 * required, a value of the wrong kind, a handle that is not live, types of two different
 * programs) through the runtime's internal panic and does not return. The text written is
 * "INTERNAL PANIC: " followed by the function's own name, a colon, a blank and the detail,
 * the function's name appearing once, e.g.
 *     INTERNAL PANIC: quarn_handle_release: 7 is not a live handle
 * An invalid type table is reported as "a generated type table is invalid: " and the
 * reason, without a function name. Running out of memory is the internal panic
 * "out of memory".
 *
 * Ownership. "Takes over x" means the function owns x afterwards and the caller must
 * neither use nor free it; "borrows x" means the caller keeps x. Records returned as
 * "new" belong to the caller, who frees them with the matching _free function.
 */
#ifndef QUARN_HOST_H
#define QUARN_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define QUARN_HOST_NOEXCEPT noexcept
extern "C" {
#else
#define QUARN_HOST_NOEXCEPT
#endif

#ifndef QUARN_API
#define QUARN_API __attribute__((visibility("default")))
#endif

/* A loaded type table: the identity of one compiled program. Made by quarn_types_load and
 * kept for the rest of the process (it is never freed). Immutable: any thread may use it. */
typedef struct quarn_types quarn_types;

/* A type handle: one type expression, and the type table its inductive types refer to (or
 * none). Immutable; owned by the host and freed with quarn_type_free. */
typedef struct quarn_type quarn_type;

/* A host value: a tree of typed records, owned by the host and freed with quarn_value_free. */
typedef struct quarn_value quarn_value;

/* Bytes changing hands: data, length and capacity, in the caller's storage. A record whose
 * data is null is empty. Whoever fills a record requires it to be empty; the receiver frees
 * the bytes with quarn_buffer_free. Start a record as QUARN_BUFFER_EMPTY. */
typedef struct quarn_buffer {
    uint8_t *data;
    size_t length;
    size_t capacity;
} quarn_buffer;
#define QUARN_BUFFER_EMPTY {NULL, 0, 0}

/* Type kinds: the form of a type expression, in the numbering of the type table's byte
 * format. Host values use the same numbers (quarn_value_kind): kinds 0 to 25 for values of
 * those types, QUARN_KIND_INDUCTIVE (27) for a constructor value and QUARN_KIND_OPAQUE (28)
 * for an opaque value (a handle). */
enum {
    QUARN_KIND_NAT = 0,
    QUARN_KIND_INT = 1,
    QUARN_KIND_BOOL = 2,
    QUARN_KIND_UINT8 = 3,
    QUARN_KIND_UINT16 = 4,
    QUARN_KIND_UINT32 = 5,
    QUARN_KIND_UINT64 = 6,
    QUARN_KIND_USIZE = 7,
    QUARN_KIND_INT8 = 8,
    QUARN_KIND_INT16 = 9,
    QUARN_KIND_INT32 = 10,
    QUARN_KIND_INT64 = 11,
    QUARN_KIND_ISIZE = 12,
    QUARN_KIND_FLOAT = 13,
    QUARN_KIND_FLOAT32 = 14,
    QUARN_KIND_CHAR = 15,
    QUARN_KIND_STRING = 16,
    QUARN_KIND_UNIT = 17,
    QUARN_KIND_BYTE_ARRAY = 18,
    QUARN_KIND_FLOAT_ARRAY = 19,
    QUARN_KIND_OPTION = 20,
    QUARN_KIND_LIST = 21,
    QUARN_KIND_ARRAY = 22,
    QUARN_KIND_PROD = 23,
    QUARN_KIND_EXCEPT = 24,
    QUARN_KIND_FUNCTION = 25,
    QUARN_KIND_PARAM = 26,
    QUARN_KIND_INDUCTIVE = 27,
    QUARN_KIND_OPAQUE = 28
};

/* ---- Type tables and type handles --------------------------------------------------- */

/*
 * A type table is the block of bytes the compiler generated for the program ("QRNT",
 * version 2). A type handle is one type expression: a kind (QUARN_KIND_*) and its parts,
 * plus the table that its inductive types index into, or none.
 *
 * Every constructor copies the expressions of its arguments: the arguments stay the
 * caller's. Handles of two different tables never mix: a constructor given handles of
 * different tables (loading the same bytes twice gives two different tables) reports
 * "types of different programs". Type expressions are at most 256 nodes deep; a deeper one
 * is refused ("a type expression nested more than 256 deep"), in a table as in a handle.
 *
 * In messages a type prints as its kind's name ("Nat"), its element or components in
 * parentheses ("Option(Nat)", "Prod(Nat, String)", "Param(0)"), or its named parts in
 * braces: "Except{error: String, value: Nat}", "Function{params: [Nat], result: Bool}",
 * "Inductive{index: 2, args: [Nat]}".
 */

/* Reads and validates a type table of `length` bytes. Borrows `bytes` (copied: the caller
 * may free them afterwards). Returns the table, which is never freed and which any thread
 * may use. An invalid table is fatal: "a generated type table is invalid: " and the reason.
 * A constructor whose usize and scalar fields need more than 1023 bytes cannot be allocated
 * and makes the table invalid. Any thread. */
QUARN_API const quarn_types *quarn_types_load(const uint8_t *bytes, size_t length)
    QUARN_HOST_NOEXCEPT;

/* A new handle of a kind without parts: 0 to 19 (Nat .. FloatArray) or 28 (Opaque), with
 * no table. Any other kind is fatal. Returns a new handle. Any thread. */
QUARN_API quarn_type *quarn_type_simple(uint8_t kind) QUARN_HOST_NOEXCEPT;

/* Option, List and Array of a copy of `element`, with the element's table. Borrows
 * `element`; returns a new handle. Any thread. */
QUARN_API quarn_type *quarn_type_option(const quarn_type *element) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_type *quarn_type_list(const quarn_type *element) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_type *quarn_type_array(const quarn_type *element) QUARN_HOST_NOEXCEPT;

/* The pair type (first, second) and Except with the error type first. Borrows both; returns
 * a new handle with their common table. Any thread. */
QUARN_API quarn_type *quarn_type_prod(const quarn_type *first, const quarn_type *second)
    QUARN_HOST_NOEXCEPT;
QUARN_API quarn_type *quarn_type_except(const quarn_type *error, const quarn_type *value)
    QUARN_HOST_NOEXCEPT;

/* The function type from `count` parameter types (1 to 15; checked before any pointer) to
 * `result`. Borrows `params` and every handle; returns a new handle. Any thread. */
QUARN_API quarn_type *quarn_type_function(const quarn_type *const *params, size_t count,
                                          const quarn_type *result) QUARN_HOST_NOEXCEPT;

/* Definition `index` of `table` applied to `count` argument types (`args` may be null when
 * count is 0). Each argument has no table or `table`; the index must be inside the table and
 * the count equal to the definition's parameter count, else fatal with the reason. Borrows
 * `args` and every handle; returns a new handle with `table`. Any thread. */
QUARN_API quarn_type *quarn_type_inductive(const quarn_types *table, uint32_t index,
                                           const quarn_type *const *args, size_t count)
    QUARN_HOST_NOEXCEPT;

/* A deep copy of `type`, with the same table. Borrows `type`; returns a new handle. */
QUARN_API quarn_type *quarn_type_clone(const quarn_type *type) QUARN_HOST_NOEXCEPT;

/* Frees a handle; null is ignored. Takes over `type`. Any thread. */
QUARN_API void quarn_type_free(quarn_type *type) QUARN_HOST_NOEXCEPT;

/* ---- Host values -------------------------------------------------------------------- */

/* ---- Buffers and handles ------------------------------------------------------------ */

/*
 * Buffer storage and the C strings the runtime hands over (quarn_value_string_dup) come from
 * the C heap; free them only with quarn_buffer_free and quarn_string_free.
 *
 * A handle is a number of the process-wide handle table that keeps one Lean object (a
 * closure or an opaque value) alive while the host holds it. Numbers are never reused and 0
 * is never a handle. A number that is not live is fatal, e.g.
 * "quarn_handle_release: 7 is not a live handle".
 */

/* Fills an empty record with `length` bytes of new, unwritten storage (length and capacity
 * set to `length`; 0 bytes still give a non-null data pointer). Returns the data pointer.
 * A record that is not empty is fatal: "a quarn buffer was filled twice". The caller frees
 * the storage with quarn_buffer_free. Any thread. */
QUARN_API uint8_t *quarn_buffer_alloc(quarn_buffer *buffer, size_t length) QUARN_HOST_NOEXCEPT;

/* Frees the storage of a filled record and resets it to empty; an empty record is left
 * alone. Takes over the record's storage. Any thread. */
QUARN_API void quarn_buffer_free(quarn_buffer *buffer) QUARN_HOST_NOEXCEPT;

/* Frees a C string that the runtime returned; null is ignored. Takes over `string`. */
QUARN_API void quarn_string_free(char *string) QUARN_HOST_NOEXCEPT;

/* A new handle number for the object of `handle`, which stays live. Returns a number the
 * caller releases with quarn_handle_release. Any thread. */
QUARN_API uint64_t quarn_handle_clone(uint64_t handle) QUARN_HOST_NOEXCEPT;

/* Releases `handle`: the number is no longer live, and the object goes when nothing else
 * holds it. Any thread. */
QUARN_API void quarn_handle_release(uint64_t handle) QUARN_HOST_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUARN_HOST_H */

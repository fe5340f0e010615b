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

/* ---- Host values -------------------------------------------------------------------- */

/* ---- Buffers and handles ------------------------------------------------------------ */

#ifdef __cplusplus
}
#endif

#endif /* QUARN_HOST_H */

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

/*
 * A host value is a tree of typed records that mirrors the wire format of values. Its kind
 * is one of the type kinds above: QUARN_KIND_NAT to QUARN_KIND_FUNCTION for values of those
 * types, QUARN_KIND_INDUCTIVE (27) for a constructor value (a constructor of an inductive
 * type of the program, by its position in the type's constructor list) and
 * QUARN_KIND_OPAQUE (28) for an opaque value (a handle of the handle table). No value has
 * kind QUARN_KIND_PARAM.
 *
 * Ownership. Every function that returns a quarn_value * as "a new value" gives it to the
 * caller, who frees it with quarn_value_free. Functions that build a value from other
 * values take those over: the caller must neither use nor free them afterwards. Readers
 * that return a const quarn_value * return a part of their argument, valid while the
 * argument lives; never free it. An opaque value and a function value holding a Lean closure
 * (function kind 0) own their handle: freeing the value releases the handle, cloning it
 * registers a new handle for the same object.
 *
 * Misuse. A null value, or a value of another kind than the function reads, is fatal:
 * "<function>: a null pointer" or "<function>: the value is <kind>", the kind being named
 * "a Nat", "an Int", "a Bool", "a UInt8", "a UInt16", "a UInt32", "a UInt64", "a USize",
 * "an Int8", "an Int16", "an Int32", "an Int64", "an ISize", "a Float", "a Float32",
 * "a Char", "a String", "Unit", "a ByteArray", "a FloatArray", "an Option", "a List",
 * "an Array", "a pair", "an Except", "a function", "a constructor" or "an opaque value".
 * A message that names a handle carries the function's name once, e.g.
 *     quarn_value_free: 7 is not a live handle (was the value freed twice?)
 *
 * Threads. Any thread. A value is a plain record: one thread at a time may use a value
 * (reading it from several threads at once is fine while none frees it).
 *
 * In messages (for example "a value {} is not of type {}" when a value does not fit a type)
 * a value prints as its kind name and payload: Nat(5), Int(-3), Bool(true), Char(0x41),
 * String("hi"), ByteArray(3 bytes), Option(none), List(Nat(1), Nat(2)), Prod(Nat(1), Unit),
 * Except{error: String("no")}, Function{kind: 1, id: 4}, Opaque(7),
 * Ctor{index: 0, fields: [Nat(1)]}; long and deep values are shortened with "...".
 */

/* Constructors. */

/* A Nat or an Int from a machine number. Returns a new value. Any thread. */
QUARN_API quarn_value *quarn_value_nat(uint64_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_int(int64_t n) QUARN_HOST_NOEXCEPT;
/* A Nat from one or more ASCII decimal digits and nothing else (leading zeros allowed); null
 * otherwise. Borrows `text`; a null text is fatal. Returns a new value. Any thread. */
QUARN_API quarn_value *quarn_value_nat_parse(const char *text) QUARN_HOST_NOEXCEPT;
/* An Int from an optional "-" and one or more decimal digits ("-0" is zero); null otherwise.
 * Borrows `text`; a null text is fatal. Returns a new value. Any thread. */
QUARN_API quarn_value *quarn_value_int_parse(const char *text) QUARN_HOST_NOEXCEPT;

/* Values of the fixed-width kinds (a Bool is true for any non-zero b). Returns a new value.
 * Any thread. */
QUARN_API quarn_value *quarn_value_bool(int b) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_uint8(uint8_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_uint16(uint16_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_uint32(uint32_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_uint64(uint64_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_usize(size_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_int8(int8_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_int16(int16_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_int32(int32_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_int64(int64_t n) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_isize(ptrdiff_t n) QUARN_HOST_NOEXCEPT;
/* Floats keep their bit pattern (NaN payloads and the sign of zero included). Returns a new
 * value. Any thread. */
QUARN_API quarn_value *quarn_value_float(double x) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_float32(float x) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_unit(void) QUARN_HOST_NOEXCEPT;
/* A Char; null when code_point is not a Unicode scalar value (a surrogate U+D800 to U+DFFF,
 * or above U+10FFFF). Returns a new value. Any thread. */
QUARN_API quarn_value *quarn_value_char(uint32_t code_point) QUARN_HOST_NOEXCEPT;

/* A String holding a copy of `length` bytes; null when they are not UTF-8. Borrows `bytes`,
 * which may be null only when length is 0 (otherwise fatal). Returns a new value. Any
 * thread. */
QUARN_API quarn_value *quarn_value_string(const char *bytes, size_t length) QUARN_HOST_NOEXCEPT;
/* A String holding a copy of a NUL-terminated text; null when it is not UTF-8. Borrows
 * `text`; a null text is fatal. Returns a new value. Any thread. */
QUARN_API quarn_value *quarn_value_cstring(const char *text) QUARN_HOST_NOEXCEPT;
/* A ByteArray / FloatArray holding a copy. Borrows the storage, which may be null only when
 * the length or count is 0 (otherwise fatal). Returns a new value. Any thread. */
QUARN_API quarn_value *quarn_value_byte_array(const uint8_t *bytes, size_t length) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_float_array(const double *values, size_t count) QUARN_HOST_NOEXCEPT;

/* Option: none, or some holding `value`. quarn_value_some consumes `value`. Returns a new
 * value. Any thread. */
QUARN_API quarn_value *quarn_value_none(void) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_some(quarn_value *value) QUARN_HOST_NOEXCEPT;
/* Except: the ok side (Except's `value`) or the error side. Consumes `value`. Returns a new
 * value. Any thread. */
QUARN_API quarn_value *quarn_value_ok(quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_error(quarn_value *value) QUARN_HOST_NOEXCEPT;
/* A pair. Consumes `first` and `second`. Returns a new value. Any thread. */
QUARN_API quarn_value *quarn_value_prod(quarn_value *first, quarn_value *second) QUARN_HOST_NOEXCEPT;
/* An Array / List of `count` elements in order. Consumes every element; borrows the array
 * of pointers itself, which may be null when count is 0. A null element is fatal (checked
 * before anything is taken over). Returns a new value. Any thread. */
QUARN_API quarn_value *quarn_value_array(quarn_value *const *values, size_t count) QUARN_HOST_NOEXCEPT;
QUARN_API quarn_value *quarn_value_list(quarn_value *const *values, size_t count) QUARN_HOST_NOEXCEPT;
/* A constructor value: constructor `index` of its type, by position in the type's
 * constructor list (not the Lean tag), with `count` fields in the constructor's field order.
 * Consumes every field and borrows `fields` as quarn_value_array does. Whether the index
 * and the fields fit a type is checked when the value is converted. Returns a new value.
 * Any thread. */
QUARN_API quarn_value *quarn_value_ctor(uint32_t index, quarn_value *const *fields, size_t count) QUARN_HOST_NOEXCEPT;

/* Readers. Each borrows `value`; any thread may read a value that no thread frees. */

/* The kind: 0 to 25, QUARN_KIND_INDUCTIVE (27) for a constructor, QUARN_KIND_OPAQUE (28) for
 * an opaque value. Borrows `value`. Any thread. */
QUARN_API int quarn_value_kind(const quarn_value *value) QUARN_HOST_NOEXCEPT;

/* The number a value of that kind holds (Bool: 0 or 1). Borrows `value`. Any thread. */
QUARN_API int quarn_value_get_bool(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API uint8_t quarn_value_get_uint8(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API uint16_t quarn_value_get_uint16(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API uint32_t quarn_value_get_uint32(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API uint64_t quarn_value_get_uint64(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API size_t quarn_value_get_usize(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API int8_t quarn_value_get_int8(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API int16_t quarn_value_get_int16(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API int32_t quarn_value_get_int32(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API int64_t quarn_value_get_int64(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API ptrdiff_t quarn_value_get_isize(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API double quarn_value_get_float(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API float quarn_value_get_float32(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API uint32_t quarn_value_get_char(const quarn_value *value) QUARN_HOST_NOEXCEPT;

/* A Nat (Int): 1 and the number through *out when it fits in 64 unsigned (signed) bits,
 * else 0 and *out untouched. A null out is fatal. Borrows `value`. Any thread. */
QUARN_API int quarn_value_get_nat(const quarn_value *value, uint64_t *out) QUARN_HOST_NOEXCEPT;
QUARN_API int quarn_value_get_int(const quarn_value *value, int64_t *out) QUARN_HOST_NOEXCEPT;
/* The decimal text of a Nat or an Int ("-" first when negative). Borrows `value`; returns a
 * new C string that the caller frees with quarn_string_free. Any thread. */
QUARN_API char *quarn_value_number_string(const quarn_value *value) QUARN_HOST_NOEXCEPT;

/* The storage of a String (UTF-8, not NUL-terminated), a ByteArray or a FloatArray, never
 * null, and its length in bytes (count of doubles) through *length unless length is null.
 * Borrows `value`; returns storage borrowed from `value`. Any thread. */
QUARN_API const char *quarn_value_get_string(const quarn_value *value, size_t *length) QUARN_HOST_NOEXCEPT;
QUARN_API const uint8_t *quarn_value_get_bytes(const quarn_value *value, size_t *length) QUARN_HOST_NOEXCEPT;
QUARN_API const double *quarn_value_get_floats(const quarn_value *value, size_t *count) QUARN_HOST_NOEXCEPT;
/* A NUL-terminated copy of a String; null when the string contains a NUL byte. Borrows
 * `value`; returns a new C string freed with quarn_string_free. Any thread. */
QUARN_API char *quarn_value_string_dup(const quarn_value *value) QUARN_HOST_NOEXCEPT;

/* An Option's content, or null for none. Borrows `value`; returns a value borrowed from
 * `value`. Any thread. */
QUARN_API const quarn_value *quarn_value_get_option(const quarn_value *value) QUARN_HOST_NOEXCEPT;
/* An Except: 1 for the ok side, 0 for the error side; and the content of either side.
 * Borrows `value`; returns a value borrowed from `value`. Any thread. */
QUARN_API int quarn_value_is_ok(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API const quarn_value *quarn_value_get_except(const quarn_value *value) QUARN_HOST_NOEXCEPT;
/* The components of a pair. Borrows `value`; returns a value borrowed from `value`. Any
 * thread. */
QUARN_API const quarn_value *quarn_value_first(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API const quarn_value *quarn_value_second(const quarn_value *value) QUARN_HOST_NOEXCEPT;
/* A List or an Array: the number of elements, and element `index` (at or above the count is
 * fatal: "index {} of {} items"). Borrows `value`; returns a value borrowed from `value`.
 * Any thread. */
QUARN_API size_t quarn_value_count(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API const quarn_value *quarn_value_item(const quarn_value *value, size_t index) QUARN_HOST_NOEXCEPT;
/* A constructor value: its constructor index, its number of fields, and field `index` (at
 * or above the count is fatal: "field {} of {}"). Borrows `value`; returns a value borrowed
 * from `value`. Any thread. */
QUARN_API uint32_t quarn_value_ctor_index(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API size_t quarn_value_field_count(const quarn_value *value) QUARN_HOST_NOEXCEPT;
QUARN_API const quarn_value *quarn_value_field(const quarn_value *value, size_t index) QUARN_HOST_NOEXCEPT;
/* Field `index` of a value that must be constructor `ctor`; another constructor is fatal:
 * "the value is constructor {}, not constructor {}" (the value's, then ctor). Borrows
 * `value`; returns a value borrowed from `value`. Any thread. */
QUARN_API const quarn_value *quarn_value_ctor_field(const quarn_value *value, uint32_t ctor,
                                                    size_t index) QUARN_HOST_NOEXCEPT;

/* Whole trees, of any depth: none of these recurse on the C stack. */

/* 1 when the two trees are equal kind by kind and payload by payload (floats by bit
 * pattern, handles and function numbers as numbers), else 0. Borrows `a` and `b`. Any
 * thread. */
QUARN_API int quarn_value_equal(const quarn_value *a, const quarn_value *b) QUARN_HOST_NOEXCEPT;
/* A new deep copy; each handle in the tree is cloned into a new handle for the same object.
 * A handle that is not live is fatal:
 * "quarn_value_clone: {} is not a live handle (was the value freed?)". Borrows `value`;
 * returns a new value. Any thread. */
QUARN_API quarn_value *quarn_value_clone(const quarn_value *value) QUARN_HOST_NOEXCEPT;
/* Frees the tree and releases its handles; null is ignored. A handle that is not live is
 * fatal: "quarn_value_free: {} is not a live handle (was the value freed twice?)". Consumes
 * `value`. Any thread. */
QUARN_API void quarn_value_free(quarn_value *value) QUARN_HOST_NOEXCEPT;

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

/* ---- Errors ------------------------------------------------------------------------ */

/*
 * Status codes: the int result of every call into the program and of every host function.
 */
enum {
    QUARN_OK = 0,        /* the call produced its result */
    QUARN_MALFORMED = 1, /* rejected or broken down at the boundary; a failure error says why */
    QUARN_FAILED = 2,    /* the Lean function itself failed: an IO error or a Lean error value */
    QUARN_NOT_LIVE = 3   /* the resumption was resumed or cancelled already */
};

/* An error: a kind, a payload and a message. Owned by whoever received it; freed with
 * quarn_error_free. One thread at a time. */
typedef struct quarn_error quarn_error;

/* Error kinds (quarn_error_kind). */
enum {
    QUARN_ERROR_IO = 0,    /* an IO error, with the handle of the Lean IO error object or none */
    QUARN_ERROR_VALUE = 1, /* a Lean error value (an EIO function's error), a host value */
    QUARN_ERROR_FAILURE = 2 /* a failure at the boundary; only the message */
};

/* The kind: QUARN_ERROR_IO, QUARN_ERROR_VALUE or QUARN_ERROR_FAILURE. Borrows `error`. Any
 * thread. */
QUARN_API int quarn_error_kind(const quarn_error *error) QUARN_HOST_NOEXCEPT;

/* The message: NUL-terminated UTF-8 (a NUL inside the text became U+FFFD). A Lean error
 * value's message is the value's text when it is a String, else "a Lean error value (see
 * quarn_error_value)". Borrows `error`; returns text borrowed from it, valid until it is
 * freed. Any thread. */
QUARN_API const char *quarn_error_message(const quarn_error *error) QUARN_HOST_NOEXCEPT;

/* The Lean error value of a QUARN_ERROR_VALUE error; null for the other kinds. Borrows
 * `error`; returns a value borrowed from it. Any thread. */
QUARN_API const quarn_value *quarn_error_value(const quarn_error *error) QUARN_HOST_NOEXCEPT;

/* A new QUARN_ERROR_VALUE error holding `value` (a host function's EIO error). Takes over
 * `value`. Returns a new error. Any thread. */
QUARN_API quarn_error *quarn_error_from_value(quarn_value *value) QUARN_HOST_NOEXCEPT;

/* A new QUARN_ERROR_IO error without a handle and with a copy of `message`, which must be
 * UTF-8 ("the message is not UTF-8" otherwise). An IO extern's host function failing with it
 * raises a Lean user error with that message. Borrows `message`. Returns a new error. */
QUARN_API quarn_error *quarn_error_io(const char *message) QUARN_HOST_NOEXCEPT;

/* A new copy: the message copied, an IO error's handle cloned into a new handle (a handle that
 * is not live is fatal: "quarn_error_clone: {} is not a live handle (was the error
 * freed?)"), a Lean error value deep-copied. Borrows `error`. Any thread. */
QUARN_API quarn_error *quarn_error_clone(const quarn_error *error) QUARN_HOST_NOEXCEPT;

/* Frees the error: releases its handle or value and its message; null is ignored. A handle
 * that is not live is fatal: "quarn_error_free: {} is not a live handle (was the error freed
 * twice?)". Takes over `error`. Any thread. */
QUARN_API void quarn_error_free(quarn_error *error) QUARN_HOST_NOEXCEPT;

/* ---- Calling the program ------------------------------------------------------------ */

/*
 * The compiled program exports, for each function a host may call, a generated entry point
 * and a generated signature: bytes that give the type parameter count, the parameter types
 * and the result description (a pure value, an IO result, an EIO result with its error type,
 * or an async program with its operations type and answer types). The host passes both, with
 * the program's type table, to quarn_invoke (functions that return a value) or
 * quarn_invoke_async (functions that return an async program).
 *
 * Outcomes. QUARN_OK with a result; QUARN_MALFORMED with a QUARN_ERROR_FAILURE error when an
 * argument does not fit its parameter type ("argument 2: a value String(\"x\") is not of
 * type Nat"), when their number is wrong ("1 arguments for 2 parameters"), or when the entry
 * point refused its argument block; QUARN_FAILED when the function raised an IO error
 * (QUARN_ERROR_IO, with the handle of the Lean IO error object) or an EIO error value
 * (QUARN_ERROR_VALUE). Both output pointers are set to null first; exactly one of them is set
 * afterwards. Misuse is fatal: a null table or output pointer, a null array with a non-zero
 * count, type arguments of another program, their number differing from the signature's
 * type parameter count, a signature that cannot be read ("a generated signature is invalid:
 * ..."), a function of the other kind ("the function returns an async program; call it with
 * quarn_invoke_async", "the function does not return an async program; call it with
 * quarn_invoke"), and results the compiled program produced malformed.
 *
 * Threads. Any thread may invoke, at the same time as others; the function runs on the
 * calling thread.
 */

/* A generated entry point: reads the argument block (`length` bytes), runs the function and
 * fills the empty buffer `output` with the result block, returning 0, or with a UTF-8
 * message, returning 1. */
typedef int (*quarn_entry_point)(const uint8_t *block, size_t length, quarn_buffer *output);

/* Calls `entry` with the values `args` (one per parameter) and, for a generic function, the
 * types `type_args` (one per type parameter). Borrows `table`, `signature`, `type_args`,
 * `args` and everything in them. On QUARN_OK stores a new value through `result_out`,
 * otherwise a new error through `error_out`. A null `result_out` or `error_out` is fatal:
 * "quarn_invoke: a null pointer". Any thread. */
QUARN_API int quarn_invoke(const quarn_types *table, quarn_entry_point entry,
                           const uint8_t *signature, size_t signature_length,
                           const quarn_type *const *type_args, size_t type_arg_count,
                           const quarn_value *const *args, size_t arg_count,
                           quarn_value **result_out, quarn_error **error_out) QUARN_HOST_NOEXCEPT;

/*
 * Async programs. A function whose result is an async program runs until it is done or asks
 * the host to perform one operation (a constructor value of the program's operations type).
 * Each such step names a resumption: a number, never reused, that the host answers exactly
 * once with quarn_resume (a host value of the operation's answer type) or quarn_async_resume
 * (the answer's wire bytes), or drops with quarn_async_cancel. A resumption may be answered
 * from any thread, at any later time; resuming runs the program on the resuming thread until
 * its next step. Answering a resumption that was answered or cancelled already gives
 * QUARN_NOT_LIVE and the failure "{} is not a live resumption: it was resumed or cancelled
 * already". An answer that does not fit its type gives QUARN_MALFORMED, and the resumption
 * is gone afterwards (the program is dropped).
 */

/* One step of an async program, in the caller's storage. Start it as QUARN_STEP_EMPTY. */
typedef struct quarn_step {
    uint8_t kind;        /* QUARN_STEP_DONE or QUARN_STEP_OPERATION */
    quarn_value *value;  /* owned by the step: the program's result, or the operation */
    uint64_t resumption; /* the resumption that answers the operation; 0 for a done step */
} quarn_step;
#define QUARN_STEP_EMPTY {0, NULL, 0}
enum { QUARN_STEP_DONE = 0, QUARN_STEP_OPERATION = 1 };

/* Calls `entry` as quarn_invoke does, for a function that returns an async program. The
 * record `step_out` is cleared first (kind QUARN_STEP_DONE, no value, resumption 0) without
 * looking at what it held: a value still in it is not freed (clear it with quarn_step_clear
 * before reusing the record). On QUARN_OK the first step is stored in it; on every other
 * status it stays cleared and a new error is stored through `error_out`. A null `step_out`
 * or `error_out` is fatal: "quarn_invoke_async: a null pointer". Borrows every input. Any
 * thread. */
QUARN_API int quarn_invoke_async(const quarn_types *table, quarn_entry_point entry,
                                 const uint8_t *signature, size_t signature_length,
                                 const quarn_type *const *type_args, size_t type_arg_count,
                                 const quarn_value *const *args, size_t arg_count,
                                 quarn_step *step_out, quarn_error **error_out) QUARN_HOST_NOEXCEPT;

/* Answers the operation of `resumption` with `answer` and stores the next step in
 * `step_out` (cleared first and left cleared on every status but QUARN_OK, as above).
 * Borrows `answer`: handles and host functions inside it stay the host's, and the program
 * takes its own references, so the host may use and free `answer` afterwards. On failure
 * stores a new error through `error_out`. A null `answer`, `step_out` or `error_out` is
 * fatal: "quarn_resume: a null pointer". Any thread. */
QUARN_API int quarn_resume(uint64_t resumption, const quarn_value *answer, quarn_step *step_out,
                           quarn_error **error_out) QUARN_HOST_NOEXCEPT;

/* Frees the step's value and resets the record to kind QUARN_STEP_DONE, no value, resumption
 * 0. A resumption the step named stays live: answer or cancel it. Any thread. */
QUARN_API void quarn_step_clear(quarn_step *step) QUARN_HOST_NOEXCEPT;

/* quarn_resume on wire bytes: `answer` holds exactly one value of the answer type. Handles
 * and host function numbers in the bytes are handed to the program (each one is taken over;
 * the host must not release them again). On QUARN_OK fills the empty buffer `output` with
 * the next step's wire bytes (u8 0 and the result, or u8 1, the operation and the u64
 * resumption), otherwise with the message. A buffer that is not empty is fatal before the
 * resumption is looked at: "quarn_async_resume: a quarn buffer was filled twice". Borrows
 * `answer`. Any thread. */
QUARN_API int quarn_async_resume(uint64_t resumption, const uint8_t *answer, size_t length,
                                 quarn_buffer *output) QUARN_HOST_NOEXCEPT;

/* Drops a waiting program: QUARN_OK when `resumption` was live, QUARN_NOT_LIVE otherwise.
 * Any thread. */
QUARN_API int quarn_async_cancel(uint64_t resumption) QUARN_HOST_NOEXCEPT;

/* The number of live resumptions in the process. Any thread. */
QUARN_API size_t quarn_async_outstanding(void) QUARN_HOST_NOEXCEPT;

/* ---- Host functions ----------------------------------------------------------------- */

/*
 * Lean code calls the host in two ways: through a Lean extern that the host implements, and
 * through a host function passed to Lean as a value of a function type. Both reach one
 * process-wide entry point, `call`, with the function's number and its arguments as wire
 * bytes. A host either installs its own entry points once (quarn_set_host), or registers C
 * functions (quarn_host_function_new, quarn_value_function), which installs the runtime's
 * own C host. Host functions may be called from any thread that runs Lean code, at the same
 * time; the runtime does not serialise them.
 *
 * References. The runtime calls `retain` when Lean code receives a host function as an
 * argument of a call, and `release` when the Lean closure wrapping it is freed. A function
 * value (QUARN_KIND_FUNCTION) of function kind 1 owns one reference of its host function:
 * freeing the value releases it and cloning the value retains it, like the handle of a Lean
 * closure value.
 *
 * Externs. Compiled code names the host function behind each extern by its number; the
 * compiled program offers the host a way to bind an extern's name to the number it
 * registered (the test kit's stand-in program: kit_program_bind_extern).
 */

/* The host's entry points. `call` runs host function `function` on `length` bytes of
 * arguments (each argument's wire bytes in parameter order) and fills the empty buffer
 * `output`: 0 with the result block of the function's result description, any other number
 * with a UTF-8 failure message. A failure ends the process: Lean code cannot handle it. */
typedef int (*quarn_host_call_entry)(uint64_t function, const uint8_t *args, size_t length,
                                     quarn_buffer *output);
typedef void (*quarn_host_retain_entry)(uint64_t function);
typedef void (*quarn_host_release_entry)(uint64_t function);

/* Installs the host's three entry points for the rest of the process. A second
 * installation, or one after quarn_host_function_new, is fatal: "the quarn host entry
 * points are already installed". Any thread. */
QUARN_API void quarn_set_host(quarn_host_call_entry call, quarn_host_retain_entry retain,
                              quarn_host_release_entry release) QUARN_HOST_NOEXCEPT;

/* A C host function: runs with the registration's `user_data` and `count` argument values
 * (borrowed for the duration of the call); returns QUARN_OK having stored exactly one new
 * result value through `result_out`, or QUARN_FAILED having stored exactly one new error
 * through `error_out` (an IO extern's error must be QUARN_ERROR_IO, an EIO extern's
 * QUARN_ERROR_VALUE). Anything else ends the process. */
typedef int (*quarn_host_function)(void *user_data, const quarn_value *const *args,
                                   size_t count, quarn_value **result_out,
                                   quarn_error **error_out);

/* Called with the user data when a registration goes away. */
typedef void (*quarn_host_finalizer)(void *user_data);

/* Registers `function` as the C host function of an extern whose generated signature is
 * `signature` (no type parameters; its result description decides how the outcome is
 * returned to Lean) and returns its number. Installs the C host on the first call. The
 * registration lives for the rest of the process: its initial reference is never released,
 * so `finalizer` (null for none) runs only for registrations whose references all go, which
 * for externs is never. Borrows `table` and `signature`. Any thread. */
QUARN_API uint64_t quarn_host_function_new(const quarn_types *table, const uint8_t *signature,
                                           size_t signature_length, quarn_host_function function,
                                           void *user_data, quarn_host_finalizer finalizer)
    QUARN_HOST_NOEXCEPT;

/* A new function value (function kind 1) for `function`, registered as a C host function
 * with the function type `type` and a pure result. The value owns the registration's
 * initial reference: when it and every Lean closure made from it are freed, `finalizer`
 * (null for none) runs with `user_data`. `type` must be a function type ("the type is not a
 * function type"). Borrows `type`. Any thread. */
QUARN_API quarn_value *quarn_value_function(const quarn_type *type, quarn_host_function function,
                                            void *user_data, quarn_host_finalizer finalizer)
    QUARN_HOST_NOEXCEPT;

/* Calls the function value `function` at the function type `type` with `count` argument
 * values, as quarn_invoke does: a C host function of this process is called directly, a Lean
 * closure through the program. A count other than the type's parameter count is
 * QUARN_MALFORMED with "{} arguments for {} parameters"; so is an argument that does not fit
 * its parameter type. Borrows every input; on QUARN_OK stores a new value through
 * `result_out`, otherwise a new error through `error_out`. Any thread. */
QUARN_API int quarn_value_call(const quarn_value *function, const quarn_type *type,
                               const quarn_value *const *args, size_t count,
                               quarn_value **result_out, quarn_error **error_out)
    QUARN_HOST_NOEXCEPT;

/* Applies the Lean closure of handle `closure` (which stays live) to the arguments in
 * `args` (each argument's wire bytes, in order; handles in them stay live) at the function
 * type given by `type_bytes` (a type expression's encoding) and fills the empty buffer
 * `output` with the result's wire bytes: 0. Arguments that cannot be read: 1, with the
 * message in `output`. Borrows every input. Any thread. */
QUARN_API int quarn_closure_call(const quarn_types *table, uint64_t closure,
                                 const uint8_t *type_bytes, size_t type_length,
                                 const uint8_t *args, size_t args_length, quarn_buffer *output)
    QUARN_HOST_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUARN_HOST_H */

/*
 * quarn/object.h: the value word, object headers and layouts, reference counting, allocation.
 *
 * Part of the interface that compiled code includes through <quarn/quarn.h>; it also stands
 * alone. Compiles as C11 and as C++.
 *
 * Ownership words used at every declaration:
 *   "Consumes x."                  the callee takes over one reference to x.
 *   "Borrows x."                   the caller keeps its reference; the callee takes none.
 *   "Returns an owned reference."  the caller receives one reference it must release.
 * Thread safety: every entry point may be called from any thread unless it says otherwise;
 * single-threaded objects may only be touched by the thread that owns them.
 */
#ifndef QUARN_OBJECT_H
#define QUARN_OBJECT_H

#include <assert.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
#define QUARN_NOEXCEPT noexcept
#define QUARN_BEGIN_DECLS extern "C" {
#define QUARN_END_DECLS }
#else
#define QUARN_NOEXCEPT
#define QUARN_BEGIN_DECLS
#define QUARN_END_DECLS
#endif

/* Marks an exported entry point. */
#define QUARN_API __attribute__((visibility("default")))

QUARN_BEGIN_DECLS

/* ------------------------------------------------------------------------------------------ */
/* The object header and the value word                                                      */
/* ------------------------------------------------------------------------------------------ */

/*
 * Every heap object starts with this 8-byte header. A value is a `quarn_object *` word:
 * bit 0 set means a scalar n stored as 2n + 1 (no object behind it); bit 0 clear means a
 * pointer to a header. The 8 bytes in front of the header hold the object's size in bytes,
 * counted from the header; they belong to the allocator.
 */
typedef struct quarn_object {
    int32_t rc;     /* > 0 single-threaded count, < 0 multi-threaded count, 0 persistent */
    uint16_t cs_sz; /* always 0 in objects this runtime allocates */
    uint8_t other;  /* constructor: object fields; scalar array: element size; else 0 */
    uint8_t tag;    /* the object kind, below */
} quarn_object;

/* Object kinds (the header's `tag`). Constructors use their constructor index, 0 to 243. */
enum {
    QUARN_MAX_CTOR_TAG = 243,
    QUARN_TAG_PROMISE = 244,
    QUARN_TAG_CLOSURE = 245,
    QUARN_TAG_ARRAY = 246,
    QUARN_TAG_STRUCT_ARRAY = 247, /* reserved: never created */
    QUARN_TAG_SCALAR_ARRAY = 248,
    QUARN_TAG_STRING = 249,
    QUARN_TAG_BIGNUM = 250,
    QUARN_TAG_THUNK = 251,
    QUARN_TAG_TASK = 252,
    QUARN_TAG_REF = 253,
    QUARN_TAG_EXTERNAL = 254,
    QUARN_TAG_UNUSED = 255 /* never created */
};

/* Constructor bounds accepted by quarn_alloc_ctor. */
enum {
    QUARN_MAX_CTOR_FIELDS = 255,
    QUARN_MAX_CTOR_SCALAR_BYTES = 1023
};

static inline int quarn_is_scalar(const quarn_object *o) { return ((uintptr_t)o & 1) != 0; }

/* The scalar n (for n < 2^63), as the word 2n + 1. */
static inline quarn_object *quarn_box(size_t n) { return (quarn_object *)(((uintptr_t)n << 1) | 1); }

/* The n of a scalar word 2n + 1. */
static inline size_t quarn_unbox(const quarn_object *o) { return (size_t)((uintptr_t)o >> 1); }

static inline uint8_t quarn_ptr_tag(const quarn_object *o) { return o->tag; }
static inline uint8_t quarn_ptr_other(const quarn_object *o) { return o->other; }

/* The tag of any value: scalars report their own unboxed value, as constructors do. */
static inline unsigned quarn_obj_tag(const quarn_object *o) {
    return quarn_is_scalar(o) ? (unsigned)quarn_unbox(o) : quarn_ptr_tag(o);
}

/* ------------------------------------------------------------------------------------------ */
/* Layouts of the object kinds                                                               */
/* ------------------------------------------------------------------------------------------ */

/* Constructor (tags 0-243): `other` object fields, then the scalar area. */
typedef struct {
    quarn_object header;
    quarn_object *fields[];
} quarn_ctor_object;

/* Closure (tag 245). Invariant: 0 <= fixed < arity. Size word 24 + 8 * fixed. */
typedef struct {
    quarn_object header;
    void *code;      /* a C function of `arity` values, or of one `quarn_object **` above 16 */
    uint16_t arity;  /* arguments the code takes */
    uint16_t fixed;  /* arguments already held, owned by the closure */
    uint32_t unused; /* no field */
    quarn_object *args[];
} quarn_closure_object;

/* Array of values (tag 246). Size word 24 + 8 * capacity. */
typedef struct {
    quarn_object header;
    size_t size;
    size_t capacity;
    quarn_object *data[];
} quarn_array_object;

/* Scalar array (tag 248): `other` is the element size (1 byte array, 8 float array).
 * Size word 24 + element size * capacity. */
typedef struct {
    quarn_object header;
    size_t size;
    size_t capacity;
    uint8_t data[];
} quarn_sarray_object;

/* String (tag 249): UTF-8 text and a terminating zero. `size` counts the terminator;
 * `length` counts code points. Size word 32 + capacity. */
typedef struct {
    quarn_object header;
    size_t size;
    size_t capacity;
    size_t length;
    char data[];
} quarn_string_object;

/* Big number (tag 250), a natural number or integer outside the boxed range. Size word 40,
 * or 40 + 8 * (room for digits) when the digits are in the object's own block.
 * Heap form: `capacity` digits at `digits`, `count` of them in use. When `capacity` is 0,
 * `digits` points just past this structure, into the object's own block, which holds up to
 * four digits; the object owns no separate array then (only a positive capacity is freed).
 * Inline form: `capacity` is -1, `inline_present` is 1 and `inline_digit` holds the single
 * digit (inline_present 0 means zero). Digits are 64-bit, least significant first. */
typedef struct {
    quarn_object header;
    int64_t capacity;
    union {
        uint64_t *digits;
        uint64_t inline_present;
    } magnitude;
    union {
        uint64_t count;
        uint64_t inline_digit;
    } used;
    uint8_t sign; /* 0 negative, 1 zero, 2 positive */
} quarn_bignum_object;

enum { QUARN_SIGN_NEGATIVE = 0, QUARN_SIGN_ZERO = 1, QUARN_SIGN_POSITIVE = 2 };

/* Thunk (tag 251): `value` is null until computed; `closure` is null once taken.
 * Both are owned. Size word 24. */
typedef struct {
    quarn_object header;
    quarn_object *value;
    quarn_object *closure;
} quarn_thunk_object;

/* Reference cell (tag 253): the owned value; null while a multi-threaded operation holds
 * it or after take. Size word 16. */
typedef struct {
    quarn_object header;
    quarn_object *value;
} quarn_ref_object;

/* Task (tag 252): `value` is null until the task has finished and never changes after;
 * `exec` is the task manager's record for a pending task. Size word 24. */
typedef struct {
    quarn_object header;
    quarn_object *value;
    void *exec;
} quarn_task_object;

/* Promise (tag 244): the task that receives the promised value. Size word 16. */
typedef struct {
    quarn_object header;
    quarn_task_object *result;
} quarn_promise_object;

/* The operations of a kind of external object. Classes are defined inside the runtime. */
typedef struct quarn_external_class {
    /* Called with the data pointer when the object is released. */
    void (*finalize)(void *data);
    /* Calls visit(value, context) for each value the data holds. */
    void (*foreach)(void *data, void (*visit)(quarn_object *value, void *context), void *context);
} quarn_external_class;

/* External object (tag 254): a native resource owned by the runtime. Size word 24. */
typedef struct {
    quarn_object header;
    const quarn_external_class *klass;
    void *data;
} quarn_external_object;

static_assert(sizeof(quarn_object) == 8, "header is one word");
static_assert(offsetof(quarn_object, rc) == 0 && offsetof(quarn_object, cs_sz) == 4, "header");
static_assert(offsetof(quarn_object, other) == 6 && offsetof(quarn_object, tag) == 7, "header");
static_assert(offsetof(quarn_ctor_object, fields) == 8, "constructor layout");
static_assert(offsetof(quarn_closure_object, code) == 8, "closure layout");
static_assert(offsetof(quarn_closure_object, arity) == 16, "closure layout");
static_assert(offsetof(quarn_closure_object, fixed) == 18, "closure layout");
static_assert(offsetof(quarn_closure_object, args) == 24, "closure layout");
static_assert(offsetof(quarn_array_object, size) == 8, "array layout");
static_assert(offsetof(quarn_array_object, capacity) == 16, "array layout");
static_assert(offsetof(quarn_array_object, data) == 24, "array layout");
static_assert(offsetof(quarn_sarray_object, data) == 24, "scalar array layout");
static_assert(offsetof(quarn_string_object, length) == 24, "string layout");
static_assert(offsetof(quarn_string_object, data) == 32, "string layout");
static_assert(offsetof(quarn_bignum_object, capacity) == 8, "big number layout");
static_assert(offsetof(quarn_bignum_object, magnitude) == 16, "big number layout");
static_assert(offsetof(quarn_bignum_object, used) == 24, "big number layout");
static_assert(offsetof(quarn_bignum_object, sign) == 32, "big number layout");
static_assert(sizeof(quarn_bignum_object) == 40, "big number layout");
static_assert(sizeof(quarn_thunk_object) == 24 && offsetof(quarn_thunk_object, closure) == 16,
              "thunk layout");
static_assert(sizeof(quarn_ref_object) == 16, "reference cell layout");
static_assert(sizeof(quarn_task_object) == 24 && offsetof(quarn_task_object, exec) == 16,
              "task layout");
static_assert(sizeof(quarn_promise_object) == 16, "promise layout");
static_assert(sizeof(quarn_external_object) == 24 && offsetof(quarn_external_object, data) == 16,
              "external layout");

/* ------------------------------------------------------------------------------------------ */
/* Reference counting                                                                        */
/* ------------------------------------------------------------------------------------------ */

/*
 * The `rc` field, read as unsigned 32 bits:
 *   0                          persistent: never counted, never freed
 *   0x00000001 - 0x7FFFFFFF    single-threaded count, plain loads and stores
 *   0x80000000 - 0x80010000    single-threaded and overflowed: immortal
 *   0x80010001 - 0xA0000000    multi-threaded and saturated: decrements are ignored,
 *                              increments go on only above 0x90000000; never freed
 *                              (marking a multi-threaded object persistent puts it here,
 *                              atomically, since other threads may be counting it)
 *   0xA0000001 - 0xFFFFFFFF    multi-threaded count -rc, atomic read-modify-write only
 * An object is exclusive (may be updated in place) exactly when rc is 1.
 *
 * The loads and stores below are relaxed atomics: plain moves on x86-64, visible as such to
 * the thread sanitizer. Only multi-threaded counts use locked instructions.
 */
static inline int32_t quarn_rc_load(const quarn_object *o) {
    return __atomic_load_n(&o->rc, __ATOMIC_RELAXED);
}
static inline void quarn_rc_store(quarn_object *o, int32_t rc) {
    __atomic_store_n(&o->rc, rc, __ATOMIC_RELAXED);
}

static inline int quarn_is_exclusive(const quarn_object *o) { return quarn_rc_load(o) == 1; }
/* Single-threaded: 0x00000001 - 0x80010000 (the overflowed band included). */
static inline int quarn_is_st(const quarn_object *o) {
    return (uint32_t)quarn_rc_load(o) - 1u <= 0x8000FFFFu;
}
/* Multi-threaded: 0x80010001 - 0xFFFFFFFF (the saturated band included). */
static inline int quarn_is_mt(const quarn_object *o) {
    return (uint32_t)quarn_rc_load(o) > 0x80010000u;
}
static inline int quarn_is_persistent(const quarn_object *o) { return quarn_rc_load(o) == 0; }

/* Cold half of a decrement, for an object whose rc is 1 or negative: releases the object and
 * what it owns when this was the last reference. Any other rc: does nothing. Consumes o. */
QUARN_API void quarn_dec_ref_cold(quarn_object *o) QUARN_NOEXCEPT;

/* Adds n references to the object o, whatever its state (never wraps). */
QUARN_API void quarn_inc_ref_n_cold(quarn_object *o, uint64_t n) QUARN_NOEXCEPT;

/* Adds one reference to the object o. */
static inline void quarn_inc_ref(quarn_object *o) {
    int32_t rc = quarn_rc_load(o);
    if (rc > 0)
        quarn_rc_store(o, (int32_t)((uint32_t)rc + 1));
    else if ((uint32_t)rc > 0x90000000u)
        __atomic_fetch_sub(&o->rc, 1, __ATOMIC_RELAXED);
}

/* Adds one reference to the value v; scalars are skipped. */
static inline void quarn_inc(quarn_object *v) {
    if (!quarn_is_scalar(v))
        quarn_inc_ref(v);
}

/* Adds n references to the object o. */
static inline void quarn_inc_ref_n(quarn_object *o, uint64_t n) {
    int32_t rc = quarn_rc_load(o);
    if (rc > 0 && n <= 0x10000u)
        quarn_rc_store(o, (int32_t)((uint32_t)rc + (uint32_t)n));
    else if (n != 0)
        quarn_inc_ref_n_cold(o, n);
}

static inline void quarn_inc_n(quarn_object *v, uint64_t n) {
    if (!quarn_is_scalar(v))
        quarn_inc_ref_n(v, n);
}

/* Drops one reference to the object o, releasing it when it was the last. Consumes o. */
static inline void quarn_dec_ref(quarn_object *o) {
    int32_t rc = quarn_rc_load(o);
    if (rc > 1)
        quarn_rc_store(o, rc - 1);
    else if (rc != 0)
        quarn_dec_ref_cold(o);
}

/* Drops one reference to the value v; scalars are skipped. Consumes v. */
static inline void quarn_dec(quarn_object *v) {
    if (!quarn_is_scalar(v))
        quarn_dec_ref(v);
}

/* Marks the graph reachable from v multi-threaded, before it is handed to another thread.
 * Must run while the graph is still private to the calling thread. Borrows v. */
QUARN_API void quarn_mark_mt(quarn_object *v) QUARN_NOEXCEPT;

/* Marks the graph reachable from v persistent: never counted or freed again. Borrows v. */
QUARN_API void quarn_mark_persistent(quarn_object *v) QUARN_NOEXCEPT;

/* quarn_mark_mt, then returns v. Consumes v; returns it as an owned reference. */
QUARN_API quarn_object *quarn_lean_runtime_mark_multi_threaded(quarn_object *v) QUARN_NOEXCEPT;

/* quarn_mark_persistent, then returns v. Consumes v; returns it as an owned reference. */
QUARN_API quarn_object *quarn_lean_runtime_mark_persistent(quarn_object *v) QUARN_NOEXCEPT;

/* No effect on v; returns the scalar 0. Borrows v. */
QUARN_API quarn_object *quarn_lean_runtime_hold(quarn_object *v) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_lean_runtime_forget(quarn_object *v) QUARN_NOEXCEPT;

/* Releases v and returns the scalar 0. Consumes v. */
QUARN_API quarn_object *quarn_lean_void_mk(quarn_object *v) QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Allocation, constructors and boxing                                                       */
/* ------------------------------------------------------------------------------------------ */

/* A new constructor object with rc 1 and its object fields not yet written; the caller
 * stores every field before the object is used. Bounds: tag <= 243, fields <= 255,
 * scalar_bytes <= 1023; anything else is an internal panic. Counts a heartbeat.
 * Returns an owned reference. */
QUARN_API quarn_object *quarn_alloc_ctor(uint32_t tag, uint32_t fields, uint64_t scalar_bytes)
    QUARN_NOEXCEPT;

/* Frees the object's memory without looking at its children (a big number's digits are
 * freed too). For an object whose children the caller has already taken over. Consumes o. */
QUARN_API void quarn_free_object(quarn_object *o) QUARN_NOEXCEPT;

static inline unsigned quarn_ctor_num_objs(const quarn_object *o) { return quarn_ptr_other(o); }

/* Field i of a constructor. Returns a reference borrowed from o. */
static inline quarn_object *quarn_ctor_get(const quarn_object *o, unsigned i) {
    return ((const quarn_ctor_object *)o)->fields[i];
}

/* Stores v into field i of a fresh or exclusive constructor. Consumes v. */
static inline void quarn_ctor_set(quarn_object *o, unsigned i, quarn_object *v) {
    ((quarn_ctor_object *)o)->fields[i] = v;
}

/* The scalar area of a constructor, after its object fields. */
static inline uint8_t *quarn_ctor_scalar_area(quarn_object *o) {
    return (uint8_t *)(((quarn_ctor_object *)o)->fields + quarn_ctor_num_objs(o));
}

/* Boxed numbers: tag-0 constructors holding the value at offset 8. Each counts a heartbeat
 * and returns an owned reference; quarn_box_uint32 returns the scalar word 2n + 1. */
QUARN_API quarn_object *quarn_box_float(double x) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_box_float32(float x) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_box_uint64(uint64_t n) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_box_usize(size_t n) QUARN_NOEXCEPT;
QUARN_API quarn_object *quarn_box_uint32(uint32_t n) QUARN_NOEXCEPT;

/* Scalars stored in a constructor, at a byte offset counted from the first object field
 * (object offset 8), so the scalar area starts at 8 * quarn_ctor_num_objs(o). */
static inline uint64_t quarn_ctor_get_uint64(const quarn_object *o, size_t offset) {
    uint64_t v;
    memcpy(&v, (const uint8_t *)((const quarn_ctor_object *)o)->fields + offset, sizeof v);
    return v;
}
static inline double quarn_ctor_get_float(const quarn_object *o, size_t offset) {
    double v;
    memcpy(&v, (const uint8_t *)((const quarn_ctor_object *)o)->fields + offset, sizeof v);
    return v;
}
static inline float quarn_ctor_get_float32(const quarn_object *o, size_t offset) {
    float v;
    memcpy(&v, (const uint8_t *)((const quarn_ctor_object *)o)->fields + offset, sizeof v);
    return v;
}
static inline void quarn_ctor_set_uint64(quarn_object *o, size_t offset, uint64_t v) {
    memcpy((uint8_t *)((quarn_ctor_object *)o)->fields + offset, &v, sizeof v);
}

/* Unboxing reads the value at offset 8 of the box. Borrows o. */
static inline double quarn_unbox_float(const quarn_object *o) { return quarn_ctor_get_float(o, 0); }
static inline float quarn_unbox_float32(const quarn_object *o) { return quarn_ctor_get_float32(o, 0); }
static inline uint64_t quarn_unbox_uint64(const quarn_object *o) { return quarn_ctor_get_uint64(o, 0); }
static inline size_t quarn_unbox_usize(const quarn_object *o) { return quarn_ctor_get_uint64(o, 0); }

/* A new string of n bytes (not validated) and the given code-point count; size and
 * capacity are n + 1. Does not count a heartbeat. Borrows bytes; returns an owned reference. */
QUARN_API quarn_object *quarn_mk_string_unchecked(const char *bytes, size_t n, size_t length)
    QUARN_NOEXCEPT;

/* ------------------------------------------------------------------------------------------ */
/* Predicates and names                                                                      */
/* ------------------------------------------------------------------------------------------ */

/* 1 if v is a scalar, else 0. Borrows v. */
QUARN_API uint8_t quarn_lean_is_scalar(quarn_object *v) QUARN_NOEXCEPT;

/* 1 if the object's rc is exactly 1, else 0. Borrows o. */
QUARN_API uint8_t quarn_lean_is_exclusive_obj(quarn_object *o) QUARN_NOEXCEPT;

/* The value word itself as an unsigned integer. Borrows v. */
QUARN_API size_t quarn_lean_ptr_addr(quarn_object *v) QUARN_NOEXCEPT;

/*
 * Hierarchical names: the anonymous name is the scalar 0; a string component is a
 * constructor of tag 1 and a numeric component one of tag 2, each with the prefix and the
 * string or number as object fields and a 64-bit hash in the scalar area.
 */
static inline uint64_t quarn_name_hash(const quarn_object *name) {
    return quarn_ctor_get_uint64(name, 16);
}

/* 1 if the two names are equal, else 0. Borrows a and b. */
QUARN_API uint8_t quarn_lean_name_eq(quarn_object *a, quarn_object *b) QUARN_NOEXCEPT;

QUARN_END_DECLS

#endif /* QUARN_OBJECT_H */

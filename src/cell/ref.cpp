// Reference cells (ST.Ref, IO.Ref). A single-threaded cell is used with plain loads and
// stores. A multi-threaded or persistent cell is used only through atomic exchanges on its
// value word: an operation takes the value out (leaving null, which tells the others to
// wait) and puts a value back.
#include "cell/spin.h"
#include "object/header.h"
#include "object/heartbeat.h"
#include "core/panic.h"
#include "quarn/closure.h"

namespace quarn::cell {

namespace {

using Value = quarn_object *;

quarn_ref_object *as_cell(quarn_object *o) noexcept {
    return reinterpret_cast<quarn_ref_object *>(o);
}

// Shared cells (multi-threaded, rc < 0, or persistent, rc 0) take the atomic protocol.
bool is_shared(const quarn_object *cell) noexcept { return quarn_rc_load(cell) <= 0; }

[[noreturn, gnu::cold]] void null_reference_read() noexcept {
    internal_panic("null reference read");
}

// A value read from a single-threaded cell; empty means it was taken.
Value checked(Value v) noexcept {
    if (v == nullptr) [[unlikely]]
        null_reference_read();
    return v;
}

// Drops a value that came out of a cell, if there was one.
[[gnu::always_inline]] inline void release(Value v) noexcept {
    if (v != nullptr) quarn_dec(v);
}

Value exchange(quarn_ref_object *cell, Value v) noexcept {
    return __atomic_exchange_n(&cell->value, v, __ATOMIC_ACQ_REL);
}

// Takes the value out of a shared cell, waiting while another operation holds it or while
// the cell is empty. Leaves the cell null: the caller owns the value.
[[gnu::noinline]] Value take_shared(quarn_ref_object *cell) noexcept {
    SpinWait wait;
    for (;;) {
        if (Value v = exchange(cell, nullptr)) return v;
        wait.pause();
    }
}

// Puts a value back into a shared cell that this thread emptied. A value found there was
// stored meanwhile by a concurrent set, which saw the cell empty and released nothing; it
// is released here, so that every value leaves the cell exactly once.
void put_back_shared(quarn_ref_object *cell, Value v) noexcept { release(exchange(cell, v)); }

[[gnu::noinline]] Value get_shared(quarn_ref_object *cell) noexcept {
    Value v = take_shared(cell);
    quarn_inc(v);
    put_back_shared(cell, v);
    return v;
}

[[gnu::noinline]] void set_shared(quarn_ref_object *cell, Value v) noexcept {
    quarn_mark_mt(v);
    release(exchange(cell, v));
}

// Takes the old value out before the new one goes in. Exchanging the new value in until a
// non-null value comes out would be wrong: while a get holds the old value the cell is
// null, the first exchange stores the new value, and the second takes that same value
// back out as the "old" one, so the caller and the cell would share one reference that
// the getter's put-back then releases.
[[gnu::noinline]] Value swap_shared(quarn_ref_object *cell, Value v) noexcept {
    quarn_mark_mt(v);
    Value old = take_shared(cell);
    put_back_shared(cell, v);
    return old;
}

}  // namespace

}  // namespace quarn::cell

using namespace quarn::cell;

extern "C" quarn_object *quarn_lean_st_mk_ref(quarn_object *value) noexcept {
    quarn::object::count_heartbeat();
    auto *cell = as_cell(quarn::object::allocate_object(sizeof(quarn_ref_object), QUARN_TAG_REF));
    cell->value = value;
    return &cell->header;
}

// The single-threaded paths below are plain loads and stores: the only locked instruction
// they can reach is the increment or decrement of a value that is itself multi-threaded.

extern "C" quarn_object *quarn_lean_st_ref_get(quarn_object *cell) noexcept {
    quarn_ref_object *r = as_cell(cell);
    if (is_shared(cell)) [[unlikely]]
        return get_shared(r);
    Value v = checked(r->value);
    quarn_inc(v);
    return v;
}

extern "C" quarn_object *quarn_lean_st_ref_set(quarn_object *cell, quarn_object *value) noexcept {
    quarn_ref_object *r = as_cell(cell);
    if (is_shared(cell)) [[unlikely]] {
        set_shared(r, value);
    } else {
        Value old = r->value;
        r->value = value;
        release(old);
    }
    return quarn_box(0);
}

extern "C" quarn_object *quarn_lean_st_ref_swap(quarn_object *cell, quarn_object *value) noexcept {
    quarn_ref_object *r = as_cell(cell);
    if (is_shared(cell)) [[unlikely]]
        return swap_shared(r, value);
    Value old = checked(r->value);
    r->value = value;
    return old;
}

extern "C" quarn_object *quarn_lean_st_ref_take(quarn_object *cell) noexcept {
    quarn_ref_object *r = as_cell(cell);
    if (is_shared(cell)) [[unlikely]]
        return take_shared(r);
    Value old = checked(r->value);
    r->value = nullptr;
    return old;
}

extern "C" uint8_t quarn_lean_st_ref_ptr_eq(quarn_object *a, quarn_object *b) noexcept {
    return a == b;
}

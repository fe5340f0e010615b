// Reference cells (ST.Ref, IO.Ref). A single-threaded cell is used with plain loads and
// stores. A multi-threaded or persistent cell is used only through atomic operations on its
// value word: an operation holds the value out (leaving a busy marker, which tells the
// others to wait) and puts a value back.
#include "cell/wait.h"
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
bool is_shared(const quarn_object *cell) noexcept { return !quarn_is_st(cell); }

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

// The word of a shared cell holds a value, null once the value was taken, or kBusy while an
// operation holds the value out. kBusy is not a value (not 8-byte aligned) and is distinct
// from null, so a set never mistakes a held value for an empty cell.
Value const kBusy = reinterpret_cast<Value>(uintptr_t{2});

Value load(quarn_ref_object *cell) noexcept { return __atomic_load_n(&cell->value, __ATOMIC_ACQUIRE); }

bool replace(quarn_ref_object *cell, Value expected, Value v) noexcept {
    return __atomic_compare_exchange_n(&cell->value, &expected, v, false, __ATOMIC_ACQ_REL,
                                       __ATOMIC_RELAXED);
}

// Takes the value out of a shared cell for one operation, leaving kBusy in its place;
// waits while another operation holds it or while the cell is empty. The caller owns the
// value and must put a value (or null) back.
[[gnu::noinline]] Value hold(quarn_ref_object *cell) noexcept {
    for (;;) {
        Value v = load(cell);
        if (v != kBusy && v != nullptr) {
            if (replace(cell, v, kBusy)) return v;
        } else {
            wait_for_change(&cell->value, v);
        }
    }
}

// Ends an operation: stores what the cell holds from now on and wakes the waiters.
void put_back(quarn_ref_object *cell, Value v) noexcept {
    __atomic_store_n(&cell->value, v, __ATOMIC_RELEASE);
    wake_waiters(&cell->value);
}

[[gnu::noinline]] Value get_shared(quarn_ref_object *cell) noexcept {
    Value v = hold(cell);
    quarn_inc(v);
    put_back(cell, v);
    return v;
}

// A set waits for an operation holding the value to put it back, then replaces what is
// there: a completed set is never undone by a get that held the old value.
[[gnu::noinline]] void set_shared(quarn_ref_object *cell, Value v) noexcept {
    quarn_mark_mt(v);
    for (;;) {
        Value old = load(cell);
        if (old == kBusy) {
            wait_for_change(&cell->value, old);
        } else if (replace(cell, old, v)) {
            wake_waiters(&cell->value);  // a take may wait for the cell to fill
            release(old);
            return;
        }
    }
}

[[gnu::noinline]] Value swap_shared(quarn_ref_object *cell, Value v) noexcept {
    quarn_mark_mt(v);
    Value old = hold(cell);
    put_back(cell, v);
    return old;
}

[[gnu::noinline]] Value take_shared(quarn_ref_object *cell) noexcept {
    Value old = hold(cell);
    put_back(cell, nullptr);
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

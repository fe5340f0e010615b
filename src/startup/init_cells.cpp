// Initialization cells (set once by module initializers) and lazy cells (computed once on
// first use, whichever thread gets there first).
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "io/io_error.h"
#include "core/panic.h"
#include "quarn/startup.h"
#include "string/c_text.h"

namespace {

enum : uint32_t { kNotSet = 0, kBeingSet = 1, kSet = 2 };

std::string_view cell_name(const quarn_init_cell *cell) {
    if (cell->name == nullptr) quarn::internal_panic("an initialization cell has no declaration name");
    return cell->name;
}

// Claims a cell for its one store; a cell claimed before means its initializer ran twice.
void claim(quarn_init_cell *cell) noexcept {
    uint32_t expected = kNotSet;
    if (!__atomic_compare_exchange_n(&cell->state, &expected, kBeingSet, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED)) {
        quarn::internal_panic("initializer of '" + std::string(cell_name(cell)) + "' ran twice");
    }
}

void publish(quarn_init_cell *cell) noexcept { __atomic_store_n(&cell->state, kSet, __ATOMIC_RELEASE); }

// One computation of a lazy cell, shared by the threads that force the cell at once.
struct LazyRecord {
    std::once_flag once;
    uint64_t result = 0;
};

// Lazy cells whose computation has not been published yet, by address. The mutex guards
// only the map: computations run outside it, so different cells compute in parallel.
std::mutex lazy_registry_lock;
std::unordered_map<quarn_lazy_cell *, std::shared_ptr<LazyRecord>> lazy_registry;

template <typename Compute>
uint64_t force(quarn_lazy_cell *cell, Compute &&compute) noexcept {
    if (__atomic_load_n(&cell->state, __ATOMIC_ACQUIRE) != 0) return cell->value.bits;
    std::shared_ptr<LazyRecord> record;
    {
        std::scoped_lock guard(lazy_registry_lock);
        // Published while this thread waited for the lock: its record may be gone already.
        if (__atomic_load_n(&cell->state, __ATOMIC_ACQUIRE) != 0) return cell->value.bits;
        std::shared_ptr<LazyRecord> &slot = lazy_registry[cell];
        if (!slot) slot = std::make_shared<LazyRecord>();
        record = slot;
    }
    std::call_once(record->once, [&] {
        record->result = compute();
        cell->value.bits = record->result;
        __atomic_store_n(&cell->state, 1u, __ATOMIC_RELEASE);
        std::scoped_lock guard(lazy_registry_lock);
        lazy_registry.erase(cell);
    });
    return record->result;
}

}  // namespace

extern "C" void quarn_init_bits_set(quarn_init_cell *cell, uint64_t value) noexcept {
    claim(cell);
    cell->value.bits = value;
    publish(cell);
}

extern "C" void quarn_init_obj_set(quarn_init_cell *cell, quarn_object *value) noexcept {
    quarn_mark_persistent(value);
    claim(cell);
    cell->value.object = value;
    publish(cell);
}

extern "C" quarn_object *quarn_check_initializer(const char *name, quarn_object *result) noexcept {
    std::string_view declaration =
        quarn::string::checked_c_text(name, "an initializer's declaration name");
    if (quarn_ptr_tag(result) != 0) {
        quarn::internal_panic("initialization of Lean declaration '" + std::string(declaration) +
                              "' failed: uncaught exception: " +
                              quarn::io::error_to_text(quarn_ctor_get(result, 0)));
    }
    quarn_object *value = quarn_ctor_get(result, 0);
    quarn_inc(value);
    quarn_dec(result);
    return value;
}

extern "C" uint64_t quarn_lazy_bits_force(quarn_lazy_cell *cell, uint64_t (*compute)()) noexcept {
    return force(cell, compute);
}

extern "C" quarn_object *quarn_lazy_obj_force(quarn_lazy_cell *cell, quarn_object *(*compute)()) noexcept {
    uint64_t bits = force(cell, [compute] {
        quarn_object *value = compute();
        quarn_mark_persistent(value);
        return reinterpret_cast<uint64_t>(value);
    });
    return reinterpret_cast<quarn_object *>(bits);
}

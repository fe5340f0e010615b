// Initialization cells (set once by module initializers) and lazy cells (computed once on
// first use, whichever thread gets there first).
#include <atomic>
#include <mutex>
#include <new>
#include <unordered_map>

#include "core/allocator.h"
#include "core/in_progress.h"
#include "core/panic.h"
#include "io/io_error.h"
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
        quarn::internal_panic({"initializer of '", cell_name(cell), "' ran twice"});
    }
}

void publish(quarn_init_cell *cell) noexcept { __atomic_store_n(&cell->state, kSet, __ATOMIC_RELEASE); }

// One computation of a lazy cell, shared by the threads that force the cell at once. The
// first thread to claim it computes; the others sleep on `state` until it is done.
struct LazyRecord {
    enum : uint32_t { kIdle, kComputing, kDone };
    std::atomic<uint32_t> state{kIdle};
    uint64_t result = 0;
    unsigned users = 0;  // threads holding the record; guarded by the registry's lock
};

// Lazy cells whose computation has not been published yet, by address. The lock guards the
// map and the records' user counts only: computations run outside it, so different cells
// compute in parallel. Never destroyed: threads may force cells while the process exits.
struct LazyRegistry {
    std::mutex lock;
    std::unordered_map<quarn_lazy_cell *, LazyRecord *, std::hash<quarn_lazy_cell *>,
                       std::equal_to<quarn_lazy_cell *>,
                       quarn::PanicAllocator<std::pair<quarn_lazy_cell *const, LazyRecord *>>>
        records;
};

LazyRegistry &lazy_registry() noexcept {
    static LazyRegistry &registry = *new LazyRegistry;
    return registry;
}

// The lazy cells this thread is computing, to catch a computation that forces its own cell.
using Computation = quarn::InProgressOnThisThread<quarn_lazy_cell>;

LazyRecord *acquire_record(quarn_lazy_cell *cell) noexcept {
    LazyRegistry &registry = lazy_registry();
    std::scoped_lock guard(registry.lock);
    // Published while this thread waited for the lock: its record may be gone already.
    if (__atomic_load_n(&cell->state, __ATOMIC_ACQUIRE) != 0) return nullptr;
    LazyRecord *&record = registry.records[cell];
    if (record == nullptr) {
        record = new (std::nothrow) LazyRecord;
        if (record == nullptr) quarn::internal_panic(quarn::kOutOfMemory);
    }
    ++record->users;
    return record;
}

// The last user of a record frees it; the cell is published by then, so no new user comes.
void release_record(quarn_lazy_cell *cell, LazyRecord *record) noexcept {
    LazyRegistry &registry = lazy_registry();
    bool last;
    {
        std::scoped_lock guard(registry.lock);
        last = --record->users == 0;
        if (last) registry.records.erase(cell);
    }
    if (last) delete record;
}

template <typename Compute>
uint64_t force(quarn_lazy_cell *cell, Compute &&compute) noexcept {
    if (__atomic_load_n(&cell->state, __ATOMIC_ACQUIRE) != 0) return cell->value.bits;
    if (Computation::contains(cell)) [[unlikely]]
        quarn::internal_panic("a lazy declaration was forced during its own computation");
    LazyRecord *record = acquire_record(cell);
    if (record == nullptr) return cell->value.bits;
    uint32_t idle = LazyRecord::kIdle;
    if (record->state.compare_exchange_strong(idle, LazyRecord::kComputing, std::memory_order_acquire)) {
        {
            Computation computation(cell);
            record->result = compute();
        }
        cell->value.bits = record->result;
        __atomic_store_n(&cell->state, 1u, __ATOMIC_RELEASE);
        record->state.store(LazyRecord::kDone, std::memory_order_release);
        record->state.notify_all();
    } else {
        uint32_t seen;
        while ((seen = record->state.load(std::memory_order_acquire)) != LazyRecord::kDone)
            record->state.wait(seen, std::memory_order_acquire);
    }
    uint64_t result = record->result;
    release_record(cell, record);
    return result;
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
        quarn::Text error = quarn::io::error_to_text(quarn_ctor_get(result, 0));
        quarn::internal_panic({"initialization of Lean declaration '", declaration,
                               "' failed: uncaught exception: ", error});
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

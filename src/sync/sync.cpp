// Mutexes and condition variables for Lean code: external objects whose records keep their
// state (locked flag, owner, readers, generation) under one internal lock, and block on an
// internal condition variable, never while holding that lock.
//
// A thread that stopped while holding an internal lock would leave it poisoned; here no
// thread stops that way without ending the process (nothing unwinds, a failure is the
// internal panic), so the records need no poisoned flag.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>

#include "core/panic.h"
#include "object/external_class.h"
#include "object/header.h"
#include "object/heap.h"
#include "quarn/task.h"

namespace {

using Value = quarn_object *;
using Lock = std::unique_lock<std::mutex>;

struct BaseMutex {
    std::mutex lock;
    bool locked = false;
    std::condition_variable released;
};

struct RecursiveMutex {
    std::mutex lock;
    uint64_t owner = 0;  // the owning thread's identity, 0 when free
    uint64_t depth = 0;
    std::condition_variable released;
};

struct SharedMutex {
    std::mutex lock;
    bool writer = false;
    uint64_t readers = 0;
    std::condition_variable released;
};

struct ConditionVariable {
    std::mutex lock;
    uint64_t generation = 0;  // one more for each notification
    std::condition_variable signal;
};

// The runtime's identity of the calling thread: never 0, never reused.
uint64_t thread_identity() noexcept {
    static constinit std::atomic<uint64_t> next_identity{1};
    thread_local constinit uint64_t identity = 0;
    if (identity == 0) identity = next_identity.fetch_add(1, std::memory_order_relaxed);
    return identity;
}

template <typename Record>
void finalize_record(void *data) {
    auto *record = static_cast<Record *>(data);
    record->~Record();
    quarn::object::free_bytes(record);
}

template <typename Record>
constexpr quarn_external_class kClass = {finalize_record<Record>, quarn::object::visit_nothing};

template <typename Record>
Value make_primitive() noexcept {
    auto *record = new (quarn::object::allocate_bytes(sizeof(Record))) Record;
    auto *external = reinterpret_cast<quarn_external_object *>(
        quarn::object::allocate_object(sizeof(quarn_external_object), QUARN_TAG_EXTERNAL));
    external->klass = &kClass<Record>;
    external->data = record;
    return &external->header;
}

template <typename Record>
Record &record_of(Value v) noexcept {
    if (quarn_is_scalar(v) || v->tag != QUARN_TAG_EXTERNAL ||
        reinterpret_cast<quarn_external_object *>(v)->klass != &kClass<Record>)
        quarn::internal_panic("synchronization primitive of the wrong kind");
    return *static_cast<Record *>(reinterpret_cast<quarn_external_object *>(v)->data);
}

void unlock_base(BaseMutex &m) noexcept {
    {
        std::scoped_lock lock(m.lock);
        if (!m.locked) quarn::internal_panic("unlocking a mutex that is not locked");
        m.locked = false;
    }
    m.released.notify_one();
}

void lock_base(BaseMutex &m) noexcept {
    Lock lock(m.lock);
    m.released.wait(lock, [&] { return !m.locked; });
    m.locked = true;
}

}  // namespace

// ---- base mutex ------------------------------------------------------------------------

extern "C" Value quarn_lean_io_basemutex_new() noexcept { return make_primitive<BaseMutex>(); }

extern "C" Value quarn_lean_io_basemutex_lock(Value m) noexcept {
    lock_base(record_of<BaseMutex>(m));
    return quarn_box(0);
}

extern "C" uint8_t quarn_lean_io_basemutex_try_lock(Value m) noexcept {
    BaseMutex &mutex = record_of<BaseMutex>(m);
    std::scoped_lock lock(mutex.lock);
    if (mutex.locked) return 0;
    mutex.locked = true;
    return 1;
}

extern "C" Value quarn_lean_io_basemutex_unlock(Value m) noexcept {
    unlock_base(record_of<BaseMutex>(m));
    return quarn_box(0);
}

// ---- recursive mutex -------------------------------------------------------------------

extern "C" Value quarn_lean_io_baserecmutex_new() noexcept { return make_primitive<RecursiveMutex>(); }

extern "C" Value quarn_lean_io_baserecmutex_lock(Value m) noexcept {
    RecursiveMutex &mutex = record_of<RecursiveMutex>(m);
    uint64_t self = thread_identity();
    Lock lock(mutex.lock);
    if (mutex.owner == self) {
        ++mutex.depth;
    } else {
        mutex.released.wait(lock, [&] { return mutex.owner == 0; });
        mutex.owner = self;
        mutex.depth = 1;
    }
    return quarn_box(0);
}

extern "C" uint8_t quarn_lean_io_baserecmutex_try_lock(Value m) noexcept {
    RecursiveMutex &mutex = record_of<RecursiveMutex>(m);
    uint64_t self = thread_identity();
    std::scoped_lock lock(mutex.lock);
    if (mutex.owner == 0) {
        mutex.owner = self;
        mutex.depth = 1;
        return 1;
    }
    if (mutex.owner != self) return 0;
    ++mutex.depth;
    return 1;
}

extern "C" Value quarn_lean_io_baserecmutex_unlock(Value m) noexcept {
    RecursiveMutex &mutex = record_of<RecursiveMutex>(m);
    uint64_t self = thread_identity();
    {
        std::scoped_lock lock(mutex.lock);
        if (mutex.owner != self)
            quarn::internal_panic("unlocking a recursive mutex not held by the current thread");
        if (--mutex.depth > 0) return quarn_box(0);
        mutex.owner = 0;
    }
    mutex.released.notify_one();
    return quarn_box(0);
}

// ---- shared mutex ----------------------------------------------------------------------

extern "C" Value quarn_lean_io_basesharedmutex_new() noexcept { return make_primitive<SharedMutex>(); }

extern "C" Value quarn_lean_io_basesharedmutex_read(Value m) noexcept {
    SharedMutex &mutex = record_of<SharedMutex>(m);
    Lock lock(mutex.lock);
    mutex.released.wait(lock, [&] { return !mutex.writer; });
    ++mutex.readers;
    return quarn_box(0);
}

extern "C" Value quarn_lean_io_basesharedmutex_write(Value m) noexcept {
    SharedMutex &mutex = record_of<SharedMutex>(m);
    Lock lock(mutex.lock);
    mutex.released.wait(lock, [&] { return !mutex.writer && mutex.readers == 0; });
    mutex.writer = true;
    return quarn_box(0);
}

extern "C" uint8_t quarn_lean_io_basesharedmutex_try_read(Value m) noexcept {
    SharedMutex &mutex = record_of<SharedMutex>(m);
    std::scoped_lock lock(mutex.lock);
    if (mutex.writer) return 0;
    ++mutex.readers;
    return 1;
}

extern "C" uint8_t quarn_lean_io_basesharedmutex_try_write(Value m) noexcept {
    SharedMutex &mutex = record_of<SharedMutex>(m);
    std::scoped_lock lock(mutex.lock);
    if (mutex.writer || mutex.readers > 0) return 0;
    mutex.writer = true;
    return 1;
}

extern "C" Value quarn_lean_io_basesharedmutex_unlock_read(Value m) noexcept {
    SharedMutex &mutex = record_of<SharedMutex>(m);
    {
        std::scoped_lock lock(mutex.lock);
        if (mutex.readers == 0) quarn::internal_panic("releasing a read lock that is not held");
        if (--mutex.readers > 0) return quarn_box(0);
    }
    mutex.released.notify_all();
    return quarn_box(0);
}

extern "C" Value quarn_lean_io_basesharedmutex_unlock_write(Value m) noexcept {
    SharedMutex &mutex = record_of<SharedMutex>(m);
    {
        std::scoped_lock lock(mutex.lock);
        if (!mutex.writer) quarn::internal_panic("releasing a write lock that is not held");
        mutex.writer = false;
    }
    mutex.released.notify_all();
    return quarn_box(0);
}

// ---- condition variable ----------------------------------------------------------------

extern "C" Value quarn_lean_io_condvar_new() noexcept { return make_primitive<ConditionVariable>(); }

extern "C" Value quarn_lean_io_condvar_wait(Value cv, Value m) noexcept {
    ConditionVariable &condition = record_of<ConditionVariable>(cv);
    BaseMutex &mutex = record_of<BaseMutex>(m);
    {
        // Holding the condition's lock while the mutex is released: a notification issued
        // after that finds this waiter already counted on the old generation.
        Lock lock(condition.lock);
        uint64_t generation = condition.generation;
        unlock_base(mutex);
        condition.signal.wait(lock, [&] { return condition.generation != generation; });
    }
    lock_base(mutex);
    return quarn_box(0);
}

namespace {

// A notification: a new generation, then one waiter or all of them woken.
Value notify(Value cv, bool all) noexcept {
    ConditionVariable &condition = record_of<ConditionVariable>(cv);
    {
        std::scoped_lock lock(condition.lock);
        ++condition.generation;
    }
    if (all)
        condition.signal.notify_all();
    else
        condition.signal.notify_one();
    return quarn_box(0);
}

}  // namespace

extern "C" Value quarn_lean_io_condvar_notify_one(Value cv) noexcept { return notify(cv, false); }

extern "C" Value quarn_lean_io_condvar_notify_all(Value cv) noexcept { return notify(cv, true); }

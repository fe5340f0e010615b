#include "io/handle_registry.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "core/allocator.h"

namespace quarn::io {

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<WeakHandleRef, PanicAllocator<WeakHandleRef>> entries;
};

// Immortal: threads still running while the process ends may open or flush handles.
Registry &registry() noexcept {
    static Registry &instance = *new Registry;
    return instance;
}

// Set while this thread holds the registry's mutex, so that a panic raised meanwhile does
// not try to take it again.
thread_local constinit bool holding_registry = false;

class RegistryLock {
public:
    RegistryLock() noexcept {
        registry().mutex.lock();
        holding_registry = true;
    }
    ~RegistryLock() {
        holding_registry = false;
        registry().mutex.unlock();
    }
};

using Snapshot = std::vector<HandleRef, PanicAllocator<HandleRef>>;

void take_live_entries(Snapshot &snapshot) noexcept {
    for (const WeakHandleRef &entry : registry().entries)
        if (HandleRef record = entry.lock()) snapshot.push_back(std::move(record));
}

// How long the exit path waits for a handle that another thread is using.
constexpr auto kExitWaitForBusyHandle = std::chrono::milliseconds(200);

bool lock_for_flush(HandleRecord &record, shutdown::Reason reason) noexcept {
    if (record.mutex().held_by_this_thread()) return false;
    switch (reason) {
        case shutdown::Reason::MainReturned:
            record.mutex().lock();
            return true;
        case shutdown::Reason::Panic:
            return record.mutex().try_lock();
        case shutdown::Reason::Exit: {
            auto deadline = std::chrono::steady_clock::now() + kExitWaitForBusyHandle;
            while (!record.mutex().try_lock()) {
                if (std::chrono::steady_clock::now() >= deadline) return false;
                sched_yield();
            }
            return true;
        }
    }
    return false;
}

void flush_at_shutdown(shutdown::Reason reason) noexcept { flush_all_handles(reason); }

[[maybe_unused]] const bool registered =
    shutdown::registered(shutdown::Stage::FlushHandles, &flush_at_shutdown);

}  // namespace

void register_handle(const HandleRef &record) noexcept {
    RegistryLock lock;
    auto &entries = registry().entries;
    std::erase_if(entries, [](const WeakHandleRef &entry) { return entry.expired(); });
    entries.emplace_back(record);
}

void flush_all_handles(shutdown::Reason reason) noexcept {
    Snapshot snapshot;
    if (reason == shutdown::Reason::Panic) {
        if (holding_registry || !registry().mutex.try_lock()) return;
        holding_registry = true;
        take_live_entries(snapshot);
        holding_registry = false;
        registry().mutex.unlock();
    } else {
        RegistryLock lock;
        take_live_entries(snapshot);
    }
    for (const HandleRef &record : snapshot) {
        if (!lock_for_flush(*record, reason)) continue;
        record->flush();
        record->mutex().unlock();
    }
}

size_t registered_handle_count() noexcept {
    RegistryLock lock;
    return registry().entries.size();
}

}  // namespace quarn::io

// The process-wide handle table and the host's clone and release of handle numbers.
#include "capi/handle_table.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "capi/fatal.h"

namespace quarn::capi {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<Handle, quarn_object *, std::hash<Handle>, std::equal_to<Handle>,
                       PanicAllocator<std::pair<const Handle, quarn_object *>>>
        objects;
    // The next number to issue. Numbers start at 1 and are never issued twice.
    std::atomic<Handle> next{1};
};

// Immortal: objects still registered when the process ends are simply kept.
HandleTable &handle_table() {
    static HandleTable &table = *new HandleTable;
    return table;
}

}  // namespace

Handle register_object(quarn_object *o) noexcept {
    quarn_mark_mt(o);
    HandleTable &table = handle_table();
    Handle h = table.next.fetch_add(1, std::memory_order_relaxed);
    std::scoped_lock lock(table.mutex);
    table.objects.emplace(h, o);
    return h;
}

std::optional<quarn_object *> borrow_handle(Handle h) noexcept {
    HandleTable &table = handle_table();
    quarn_object *o;
    {
        std::scoped_lock lock(table.mutex);
        auto found = table.objects.find(h);
        if (found == table.objects.end()) return std::nullopt;
        o = found->second;
        // Taken under the lock: a release on another thread cannot free it in between.
        quarn_inc(o);
    }
    return o;
}

std::optional<quarn_object *> adopt_handle(Handle h) noexcept {
    HandleTable &table = handle_table();
    std::scoped_lock lock(table.mutex);
    auto found = table.objects.find(h);
    if (found == table.objects.end()) return std::nullopt;
    quarn_object *o = found->second;
    table.objects.erase(found);
    return o;
}

std::size_t live_handle_count() noexcept {
    HandleTable &table = handle_table();
    std::scoped_lock lock(table.mutex);
    return table.objects.size();
}

Text not_live_message(Handle h) {
    Text message;
    char digits[24];
    int n = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(h));
    message.append(digits, static_cast<std::size_t>(n));
    message.append(" is not a live handle");
    return message;
}

}  // namespace quarn::capi

using namespace quarn::capi;

extern "C" {

QUARN_API uint64_t quarn_handle_clone(uint64_t handle) noexcept {
    std::optional<quarn_object *> o = borrow_handle(handle);
    if (!o) fatal("quarn_handle_clone", not_live_message(handle));
    return register_object(*o);
}

QUARN_API void quarn_handle_release(uint64_t handle) noexcept {
    std::optional<quarn_object *> o = adopt_handle(handle);
    if (!o) fatal("quarn_handle_release", not_live_message(handle));
    quarn_dec(*o);
}

}  // extern "C"

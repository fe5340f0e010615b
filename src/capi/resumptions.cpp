#include "capi/resumptions.h"

#include <absl/container/flat_hash_map.h>

#include <atomic>
#include <mutex>

#include "quarn/object.h"

namespace quarn::capi {

namespace {

struct ResumptionTable {
    std::mutex mutex;
    absl::flat_hash_map<std::uint64_t, Pending, absl::Hash<std::uint64_t>,
                        std::equal_to<std::uint64_t>,
                        PanicAllocator<std::pair<const std::uint64_t, Pending>>>
        pending;
    std::atomic<std::uint64_t> next{1};
};

// Immortal: records still waiting when the process ends are simply kept.
ResumptionTable &resumptions() {
    static ResumptionTable &table = *new ResumptionTable;
    return table;
}

}  // namespace

SharedAsyncTypes make_async_types(const quarn_types *table, std::uint32_t operations,
                                  Vector<TypeExpr> answers, TypeExpr result) noexcept {
    auto types = std::allocate_shared<AsyncTypes>(PanicAllocator<AsyncTypes>());
    types->table = table;
    types->operations = operations;
    types->operation = TypeExpr{Kind::Inductive, operations, {}};
    types->answers = std::move(answers);
    types->result = std::move(result);
    return types;
}

std::uint64_t add_resumption(Pending pending) noexcept {
    ResumptionTable &table = resumptions();
    std::uint64_t id = table.next.fetch_add(1, std::memory_order_relaxed);
    std::scoped_lock lock(table.mutex);
    table.pending.emplace(id, std::move(pending));
    return id;
}

std::optional<Pending> peek_resumption(std::uint64_t id) noexcept {
    ResumptionTable &table = resumptions();
    std::scoped_lock lock(table.mutex);
    auto found = table.pending.find(id);
    if (found == table.pending.end()) return std::nullopt;
    return Pending{found->second.types, found->second.constructor, nullptr};
}

std::optional<Pending> take_resumption(std::uint64_t id) noexcept {
    ResumptionTable &table = resumptions();
    std::scoped_lock lock(table.mutex);
    auto found = table.pending.find(id);
    if (found == table.pending.end()) return std::nullopt;
    Pending pending = std::move(found->second);
    table.pending.erase(found);
    return pending;
}

bool cancel_resumption(std::uint64_t id) noexcept {
    std::optional<Pending> pending = take_resumption(id);
    if (!pending) return false;
    // Outside the lock: releasing the continuation may run finalizers.
    quarn_dec(pending->continuation);
    return true;
}

std::size_t resumption_count() noexcept {
    ResumptionTable &table = resumptions();
    std::scoped_lock lock(table.mutex);
    return table.pending.size();
}

}  // namespace quarn::capi

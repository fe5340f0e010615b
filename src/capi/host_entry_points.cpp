// Installing the host's entry points once per process, and the C host's registry of C
// functions with their reference counts.
#include "capi/host_entry_points.h"

#include <atomic>
#include <mutex>
#include <new>
#include <utility>

#include <absl/container/flat_hash_map.h>

#include "capi/error.h"
#include "capi/fatal.h"
#include "capi/value_record.h"
#include "core/panic.h"

namespace quarn::capi {

namespace {

constexpr std::string_view kAlreadyInstalled = "the quarn host entry points are already installed";

// The installed entry points. `installed` is published once, after `entry_points` is set,
// under `mutex`; readers need only the atomic load.
struct Installation {
    std::mutex mutex;
    HostEntryPoints entry_points{};
    std::atomic<const HostEntryPoints *> installed{nullptr};
};

Installation &installation() {
    static Installation &state = *new Installation;
    return state;
}

struct Registry {
    std::mutex mutex;
    absl::flat_hash_map<std::uint64_t, CHostFunction *> functions;
    // The next number to issue: numbers start at 1 and are never issued twice.
    std::atomic<std::uint64_t> next{1};
};

// Immortal, like the handle table: entry points may run while the process ends.
Registry &registry() {
    static Registry &state = *new Registry;
    return state;
}

void c_host_retain(std::uint64_t id) noexcept {
    Registry &r = registry();
    std::scoped_lock lock(r.mutex);
    auto found = r.functions.find(id);
    if (found == r.functions.end())
        internal_panic({"host function ", unsigned_decimal(id), " is not registered (was its value freed?)"});
    ++found->second->references;
}

void c_host_release(std::uint64_t id) noexcept {
    Registry &r = registry();
    CHostFunction *gone = nullptr;
    {
        std::scoped_lock lock(r.mutex);
        auto found = r.functions.find(id);
        if (found == r.functions.end())
            internal_panic({"host function ", unsigned_decimal(id),
                            " is released more often than it is referenced"});
        if (--found->second->references == 0) {
            gone = found->second;
            r.functions.erase(found);
        }
    }
    // The finalizer is the host's code: it runs outside the lock.
    if (gone == nullptr) return;
    if (gone->finalizer != nullptr) gone->finalizer(gone->user_data);
    delete gone;
}

constexpr HostEntryPoints kCHost = {c_host_call, c_host_retain, c_host_release};

// Installs `entry_points` unless some are installed already; true when it did.
bool install(const HostEntryPoints &entry_points) noexcept {
    Installation &state = installation();
    std::scoped_lock lock(state.mutex);
    if (state.installed.load(std::memory_order_relaxed) != nullptr) return false;
    state.entry_points = entry_points;
    state.installed.store(&state.entry_points, std::memory_order_release);
    return true;
}

bool c_host_installed() noexcept {
    const HostEntryPoints *host = installed_host();
    return host != nullptr && host->call == c_host_call;
}

}  // namespace

const HostEntryPoints *installed_host() noexcept {
    return installation().installed.load(std::memory_order_acquire);
}

void retain_host_function(std::uint64_t id) noexcept {
    const HostEntryPoints *host = installed_host();
    if (host == nullptr) internal_panic(kNoHost);
    host->retain(id);
}

void release_host_function(std::uint64_t id) noexcept {
    if (const HostEntryPoints *host = installed_host()) host->release(id);
}

Text take_host_message(quarn_buffer &output) {
    Text message;
    if (output.data != nullptr)
        message = lossy_message({reinterpret_cast<const char *>(output.data), output.length});
    quarn_buffer_free(&output);
    return message;
}

std::uint64_t register_c_host_function(std::string_view function, const quarn_types *table,
                                       wire::Signature signature, quarn_host_function code,
                                       void *user_data, quarn_host_finalizer finalizer) noexcept {
    if (!install(kCHost) && !c_host_installed()) fatal(function, kAlreadyInstalled);
    auto *record = new (std::nothrow) CHostFunction;
    if (record == nullptr) internal_panic(kOutOfMemory);
    record->function = code;
    record->user_data = user_data;
    record->finalizer = finalizer;
    record->table = table;
    record->signature = std::move(signature);
    Registry &r = registry();
    std::uint64_t id = r.next.fetch_add(1, std::memory_order_relaxed);
    std::scoped_lock lock(r.mutex);
    r.functions.emplace(id, record);
    return id;
}

const CHostFunction *find_c_host_function(std::uint64_t id) noexcept {
    if (!c_host_installed()) return nullptr;
    Registry &r = registry();
    std::scoped_lock lock(r.mutex);
    auto found = r.functions.find(id);
    return found == r.functions.end() ? nullptr : found->second;
}

}  // namespace quarn::capi

using namespace quarn::capi;

extern "C" {

QUARN_API void quarn_set_host(quarn_host_call_entry call, quarn_host_retain_entry retain,
                              quarn_host_release_entry release) noexcept {
    constexpr std::string_view kFunction = "quarn_set_host";
    not_null(call, kFunction);
    not_null(retain, kFunction);
    not_null(release, kFunction);
    if (!install(HostEntryPoints{call, retain, release})) fatal(kFunction, kAlreadyInstalled);
}

QUARN_API uint64_t quarn_host_function_new(const quarn_types *table, const uint8_t *signature,
                                           size_t signature_length, quarn_host_function function,
                                           void *user_data, quarn_host_finalizer finalizer) noexcept {
    constexpr std::string_view kFunction = "quarn_host_function_new";
    not_null(table, kFunction);
    if (function == nullptr) fatal(kFunction, "the function is a null pointer");
    if (signature == nullptr && signature_length != 0) fatal(kFunction, kNullPointer);
    quarn::wire::Signature read;
    quarn::Text error;
    if (!quarn::wire::read_signature(signature, signature_length, read, error))
        fatal(kFunction, "a generated signature is invalid: ", error);
    if (read.type_parameters != 0) fatal(kFunction, "a host extern's generated signature has type parameters");
    if (!quarn::wire::check_signature(*table, read, error))
        fatal(kFunction, "a generated signature is invalid: ", error);
    return register_c_host_function(kFunction, table, std::move(read), function, user_data, finalizer);
}

}  // extern "C"

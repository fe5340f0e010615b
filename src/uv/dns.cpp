// Name resolution: each request runs getaddrinfo or getnameinfo on a "lean-dns" thread of
// its own, which posts the outcome to the reactor; the reactor thread builds the Lean
// values and resolves the promise. The resolver threads touch no Lean object.
#include <netdb.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cstring>
#include <string_view>

#include "array/array_alloc.h"
#include "core/allocator.h"
#include "core/detached_thread.h"
#include "core/panic.h"
#include "fs/system_call.h"
#include "io/io_error.h"
#include "io/io_result.h"
#include "quarn/udp_dns_signal.h"
#include "quarn/uv.h"
#include "string/string_alloc.h"
#include "uv/address.h"
#include "uv/promises.h"
#include "uv/reactor.h"
#include "uv/record.h"

namespace quarn::uv {

namespace {

// The event loop's negative code of a getaddrinfo or getnameinfo failure.
int resolver_code(int eai, int saved_errno) noexcept {
    switch (eai) {
        case EAI_ADDRFAMILY: return -3000;
        case EAI_AGAIN: return -3001;
        case EAI_BADFLAGS: return -3002;
        case EAI_CANCELED: return -3003;
        case EAI_FAIL: return -3004;
        case EAI_FAMILY: return -3005;
        case EAI_MEMORY: return -3006;
        case EAI_NODATA: return -3007;
        case EAI_NONAME: return -3008;
        case EAI_OVERFLOW: return -3009;
        case EAI_SERVICE: return -3010;
        case EAI_SOCKTYPE: return -3011;
        case EAI_SYSTEM: return -(saved_errno != 0 ? saved_errno : EIO);
        default: internal_panic({"unknown EAI_* error code ", decimal(eai)});
    }
}

bool is_ascii(std::string_view text) noexcept {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// Text for the C library: none for an empty text; false when a NUL byte is inside.
bool c_text(const Text &text, const char *&out) noexcept {
    if (text.find('\0') != Text::npos) return false;
    out = text.empty() ? nullptr : text.c_str();
    return true;
}

// One forward or reverse look-up, owned by its thread until it is posted, then by the
// reactor's callback.
struct Lookup {
    quarn_object *promise;  // one reference, resolved by the callback
    // Forward: host, service and family in; addresses out.
    Text host, service;
    int family = AF_UNSPEC;
    Vector<sockaddr_storage> addresses;
    // Reverse: the address in; host and service names out.
    SystemAddress address;
    Text found_host, found_service;
    bool reverse = false;
    int error = 0;  // negative code, or 0
};

void resolve_on_reactor(void *data) noexcept {
    auto *lookup = static_cast<Lookup *>(data);
    quarn_object *result;
    if (lookup->error != 0) {
        result = except_error(lookup->error);
    } else if (lookup->reverse) {
        quarn_object *pair = quarn_alloc_ctor(0, 2, 0);
        quarn_ctor_set(pair, 0, string::make_string_from_utf8(lookup->found_host.data(), lookup->found_host.size()));
        quarn_ctor_set(pair, 1,
                       string::make_string_from_utf8(lookup->found_service.data(), lookup->found_service.size()));
        result = except_ok(pair);
    } else {
        size_t n = lookup->addresses.size();
        quarn_array_object *array = array::allocate_array(n, n);
        for (size_t i = 0; i < n; ++i) array->data[i] = lean_from_system(lookup->addresses[i]);
        result = except_ok(&array->header);
    }
    resolve_promise(lookup->promise, result);
    quarn_dec(lookup->promise);
    delete_record(lookup);
}

void look_up_forward(Lookup &lookup) noexcept {
    const char *host, *service;
    if (!c_text(lookup.host, host) || !c_text(lookup.service, service)) {
        lookup.error = -EINVAL;
        return;
    }
    addrinfo hints{};
    hints.ai_family = lookup.family;
    addrinfo *found = nullptr;
    errno = 0;
    int r = ::getaddrinfo(host, service, &hints, &found);
    if (r != 0) {
        lookup.error = resolver_code(r, errno);
        return;
    }
    for (addrinfo *entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
        lookup.addresses.push_back(address);
    }
    ::freeaddrinfo(found);
}

void look_up_reverse(Lookup &lookup) noexcept {
    char host[1025] = {};
    char service[32] = {};
    errno = 0;
    int r = ::getnameinfo(lookup.address.get(), lookup.address.length, host, sizeof host, service,
                          sizeof service, 0);
    if (r != 0) {
        lookup.error = resolver_code(r, errno);
        return;
    }
    lookup.found_host.assign(host);
    lookup.found_service.assign(service);
}

void run_lookup(Lookup &lookup) noexcept {
    if (lookup.reverse)
        look_up_reverse(lookup);
    else
        look_up_forward(lookup);
    post({resolve_on_reactor, &lookup});
}

// Resolver threads. Every look-up has a thread of its own while it is outstanding; a thread
// whose look-up is done waits a little for the next one before it ends, so that a program
// resolving names one after the other does not pay for a new thread each time. Immortal:
// idle threads may still wait on it when the process ends.
struct Resolvers {
    std::mutex lock;
    std::condition_variable work;
    std::deque<Lookup *, PanicAllocator<Lookup *>> queued;
    size_t idle = 0;
};

Resolvers &resolvers() noexcept {
    static Resolvers &r = *new (PanicAllocator<Resolvers>().allocate(1)) Resolvers;
    return r;
}

// How long a resolver thread without work waits for the next look-up before it ends.
constexpr auto kIdleWait = std::chrono::seconds(2);

void resolver_thread(void *first) noexcept {
    Resolvers &r = resolvers();
    auto *lookup = static_cast<Lookup *>(first);
    for (;;) {
        run_lookup(*lookup);
        std::unique_lock hold(r.lock);
        ++r.idle;
        bool got = r.work.wait_for(hold, kIdleWait, [&] { return !r.queued.empty(); });
        --r.idle;
        if (!got) return;
        lookup = r.queued.front();
        r.queued.pop_front();
    }
}

// Starts the look-up on an idle resolver thread, or on a new one; returns ok(its promise).
quarn_object *start(Lookup *lookup) noexcept {
    ensure_started();
    quarn_object *promise = new_promise();
    quarn_inc(promise);
    lookup->promise = promise;
    Resolvers &r = resolvers();
    {
        std::lock_guard hold(r.lock);
        // Each queued look-up has an idle thread on its way to it; one more idle thread
        // takes this one.
        if (r.idle > r.queued.size()) {
            r.queued.push_back(lookup);
            r.work.notify_one();
            return io::io_ok(promise);
        }
    }
    if (int failure = start_detached_thread("lean-dns", resolver_thread, lookup))
        internal_panic({"cannot start a DNS lookup thread: ", std::strerror(failure)});
    return io::io_ok(promise);
}

}  // namespace

}  // namespace quarn::uv

using namespace quarn;
using namespace quarn::uv;

extern "C" quarn_object *quarn_lean_uv_dns_get_info(quarn_object *host, quarn_object *service,
                                                    uint8_t family) noexcept {
    std::string_view host_text = fs::bytes_of(host), service_text = fs::bytes_of(service);
    if (!is_ascii(host_text)) return io::io_error(io::invalid_argument_error("name is not ASCII"));
    if (!is_ascii(service_text)) return io::io_error(io::invalid_argument_error("service is not ASCII"));
    if (family > 2) return io_error_of_code(-EINVAL);
    auto *lookup = new_record<Lookup>();
    lookup->host.assign(host_text);
    lookup->service.assign(service_text);
    lookup->family = family == 1 ? AF_INET : family == 2 ? AF_INET6 : AF_UNSPEC;
    return start(lookup);
}

extern "C" quarn_object *quarn_lean_uv_dns_get_name(quarn_object *address) noexcept {
    NativeAddress native;
    if (!native_from_lean(address, native)) return io_error_of_code(-EINVAL);
    auto *lookup = new_record<Lookup>();
    lookup->reverse = true;
    lookup->address = system_from_native(native);
    return start(lookup);
}
